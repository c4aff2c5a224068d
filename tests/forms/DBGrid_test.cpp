// The data-aware grid over real datasets: texts and alignment from the fields, a table file,
// the current row following the dataset both ways, picked rows as bookmarks after ctrl- and
// shift-clicks and shift+arrows, colours read back from the rendered grid, columns, events,
// options, the model checked by QAbstractItemModelTester, and the navigator and field edit.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QTest>
#include <filesystem>

#include "DBCtrls.h"
#include "DBGrids.h"
#include "DBTables.h"
#include "FormsTestSupport.h"
#include "MessageBoxes.h"

using namespace kv;

namespace {

class GridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DS = MakeCustomers();
    Source.SetDataSet(DS.get());
    Grid.resize(720, 260);
    Grid.SetDataSource(&Source);
    Grid.show();
  }
  QModelIndex Cell(int Row, int Col) const { return Grid.model()->index(Row, Col); }
  QString Text(int Row, int Col) const { return Cell(Row, Col).data().toString(); }
  void Click(int Row, int Col = 0, Qt::KeyboardModifiers M = {}) {
    QTest::mouseClick(Grid.viewport(), Qt::LeftButton, M, Grid.visualRect(Cell(Row, Col)).center());
  }
  void Key(Qt::Key K, Qt::KeyboardModifiers M = {}) { QTest::keyClick(&Grid, K, M); }
  std::vector<TBookmark> Picks() const {
    std::vector<TBookmark> Out;
    for (int I = 0; I < Grid.SelectedRows().Count(); ++I) Out.push_back(Grid.SelectedRows()[I]);
    return Out;
  }
  // A pixel of the grid as grabbed, at a point of the viewport or of the title header.
  QColor CellPixel(const QImage& Shot, int Row, int Col) const {
    const QRect R = Grid.visualRect(Cell(Row, Col));
    return Shot.pixelColor(Grid.viewport()->mapTo(&Grid, QPoint(R.right() - 4, R.top() + 3)));
  }
  QRect TitleRect(int Col) const {
    const QHeaderView* H = Grid.horizontalHeader();
    const QPoint TopLeft = H->mapTo(&Grid, QPoint(H->sectionViewportPosition(Col), 0));
    return QRect(TopLeft, QSize(H->sectionSize(Col), H->height()));
  }

  std::unique_ptr<TMemDataSet> DS;
  TDataSource Source;
  TDBGrid Grid;
};

TEST_F(GridTest, DefaultColumnsShowEveryVisibleFieldsTextsAndAlignment) {
  ASSERT_EQ(Grid.Columns().Count(), 5);
  EXPECT_EQ(Grid.Columns().State(), csDefault);
  ASSERT_EQ(Grid.model()->rowCount(), 5);
  EXPECT_EQ(Text(0, 1), "Velero Azul");
  EXPECT_EQ(Text(3, 2), "Cádiz");
  EXPECT_EQ(StdStr(Text(0, 3)), DS->FieldByName("Amount")->DisplayTextAt(DS->RowAt(0)));
  EXPECT_EQ(Text(2, 3), "") << "an empty value shows empty";
  EXPECT_EQ(Text(0, 4), "25/12/1998");
  EXPECT_EQ(Cell(0, 3).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
            Qt::AlignRight);
  EXPECT_EQ(Cell(0, 1).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
            Qt::AlignLeft);
  EXPECT_EQ(Grid.model()->headerData(2, Qt::Horizontal).toString(), "City");
  Grid.Columns().Items(2)->Field()->SetDisplayLabel("Ciudad");
  EXPECT_EQ(Grid.Columns().Items(2)->Title().Caption(), "Ciudad");
}

TEST_F(GridTest, HiddenFieldsAreLeftOutAndChosenColumnsReplaceTheDefaults) {
  DS->Close();
  DS->Open();  // default fields come anew: hide one and reopen the link
  DS->FieldByName("City")->SetVisible(false);
  Grid.SetDataSource(nullptr);
  Grid.SetDataSource(&Source);
  EXPECT_EQ(Grid.Columns().Count(), 4);
  TGridColumn* C = Grid.Columns().Add();
  EXPECT_EQ(Grid.Columns().State(), csCustomized);
  EXPECT_EQ(Grid.Columns().Count(), 1) << "adding replaces the default columns";
  C->SetFieldName("company");
  EXPECT_EQ(C->Field(), DS->FieldByName("Company")) << "bound by name in any letter case";
  EXPECT_EQ(Text(1, 0), "Corales del Sur");
  Grid.Columns().Add()->SetFieldName("Nope");
  EXPECT_EQ(Grid.Columns().Items(1)->Field(), nullptr);
  EXPECT_EQ(Text(0, 1), "") << "a column without a field shows nothing";
  EXPECT_EQ(Grid.Columns().Items(1)->Title().Caption(), "Nope");
  Grid.Columns().Clear();
  EXPECT_EQ(Grid.Columns().Count(), 0);
  EXPECT_EQ(Grid.SelectedIndex(), -1);
  EXPECT_EQ(Grid.SelectedField(), nullptr);
  EXPECT_THROW(Grid.Columns().Items(0), Exception);
  Grid.Columns().RestoreDefaults();
  EXPECT_EQ(Grid.Columns().Count(), 4);
}

TEST(GridOverTableFile, ShowsTheFilesRecords) {
  namespace fs = std::filesystem;
  const std::string Dir = TestFilePath("grid-table");
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  auto Mem = MakeCustomers(20);
  TTable Out;
  Out.SetDatabaseName(Dir);
  Out.SetTableName("CLIENTES.DB");
  Out.BatchMove(Mem.get(), batCopy);
  TTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName("clientes");
  T.Open();
  TDataSource S;
  S.SetDataSet(&T);
  TDBGrid G;
  G.SetDataSource(&S);
  ASSERT_EQ(G.model()->rowCount(), 25);
  ASSERT_EQ(G.Columns().Count(), 5);
  for (int R : {0, 3, 24})
    for (int C = 0; C < 5; ++C)
      EXPECT_EQ(StdStr(G.model()->index(R, C).data().toString()),
                T.Fields(C)->DisplayTextAt(T.RowAt(R)));
  EXPECT_EQ(StdStr(G.model()->index(3, 1).data().toString()), "Ángel Náutica");
  T.SetFilter("City = 'Vigo'");
  T.SetFiltered(true);
  EXPECT_EQ(G.model()->rowCount(), 20) << "a filter shows at once";
  EXPECT_EQ(StdStr(G.model()->index(0, 1).data().toString()), "Empresa 0");
}

TEST_F(GridTest, CurrentRowFollowsTheDatasetAndMovesIt) {
  EXPECT_EQ(Grid.currentIndex().row(), 0);
  DS->Last();
  EXPECT_EQ(Grid.currentIndex().row(), 4);
  DS->SetRecNo(2);
  EXPECT_EQ(Grid.currentIndex().row(), 1);
  Click(3, 2);
  EXPECT_EQ(DS->RecNo(), 4) << "clicking a row moves the dataset";
  EXPECT_EQ(Grid.SelectedIndex(), 2);
  Key(Qt::Key_Down);
  EXPECT_EQ(DS->RecNo(), 5);
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(DS->RecNo(), 1);
  EXPECT_EQ(Grid.SelectedIndex(), 0);
  Grid.SetSelectedIndex(2);
  DS->SetFilter("City = 'Cádiz'");
  DS->SetFiltered(true);
  EXPECT_EQ(Grid.model()->rowCount(), 2);
  DS->Last();
  EXPECT_EQ(Grid.currentIndex().row(), 1);
  EXPECT_EQ(Grid.currentIndex().column(), 2) << "the current column stays";
}

// Picks with the mouse: plain click clears, ctrl toggles, shift takes the range from the anchor.
TEST_F(GridTest, PicksAreBookmarksInTheOrderPicked) {
  Grid.SetOptions(Grid.Options() | dgMultiSelect);
  Click(1);
  EXPECT_EQ(Grid.SelectedRows().Count(), 0) << "a plain click picks nothing";
  Click(3, 0, Qt::ShiftModifier);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{1, 2, 3}));
  Click(0, 0, Qt::ShiftModifier);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{1, 0})) << "the new range replaces the old one";
  Click(4, 0, Qt::ControlModifier);
  Click(2, 0, Qt::ControlModifier);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{1, 0, 4, 2}));
  Click(0, 0, Qt::ControlModifier);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{1, 4, 2})) << "ctrl+click on a picked row drops it";
  EXPECT_TRUE(Grid.SelectedRows().Contains(4));
  EXPECT_FALSE(Grid.SelectedRows().Contains(0));
  EXPECT_EQ(DS->RecNo(), 1) << "the current row is the one clicked last";
  DS->Next();
  EXPECT_EQ(Grid.SelectedRows().Count(), 3) << "moving the record keeps the picks";
  Click(3);
  EXPECT_EQ(Grid.SelectedRows().Count(), 0);
}

TEST_F(GridTest, ShiftArrowsExtendFromTheAnchor) {
  Grid.SetOptions(Grid.Options() | dgMultiSelect);
  Click(1);
  Key(Qt::Key_Down, Qt::ShiftModifier);
  Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{1, 2, 3}));
  Key(Qt::Key_Up, Qt::ShiftModifier);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{1, 2}));
  Key(Qt::Key_Down);
  EXPECT_EQ(Grid.SelectedRows().Count(), 0) << "moving without shift drops the picks";
  Key(Qt::Key_Space, Qt::ControlModifier);
  EXPECT_TRUE(Grid.SelectedRows().CurrentRowSelected());
}

TEST_F(GridTest, PicksOfAFilteredDatasetAreItsStoredRows) {
  Grid.SetOptions(Grid.Options() | dgMultiSelect);
  DS->SetFilter("City = 'Cádiz'");
  DS->SetFiltered(true);
  Click(1, 0, Qt::ControlModifier);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{3}));
  DS->GotoBookmark(Picks()[0]);
  EXPECT_EQ(DS->FieldByName("Company")->AsString(), "Ángel Náutica");
  DS->SetFilter("City = 'Tarifa'");
  EXPECT_EQ(Grid.SelectedRows().Count(), 0) << "new rows drop the picks";
}

TEST_F(GridTest, PicksSurviveAWalkWithControlsDisabledAndPaintSelected) {
  Grid.SetOptions(Grid.Options() | dgMultiSelect);
  Click(0, 0, Qt::ControlModifier);
  Click(2, 0, Qt::ControlModifier);
  Click(4);
  Click(3, 0, Qt::ControlModifier);
  // The column sum's walk: disable, visit each picked row, come back, enable.
  DS->DisableControls();
  const TBookmark Here = DS->GetBookmark();
  double Sum = 0;
  for (int I = 0; I < Grid.SelectedRows().Count(); ++I) {
    DS->GotoBookmark(Grid.SelectedRows()[I]);
    Sum += DS->FieldByName("Amount")->AsFloat();
  }
  DS->GotoBookmark(Here);
  DS->EnableControls();
  EXPECT_DOUBLE_EQ(Sum, 30.25);
  EXPECT_EQ(Picks(), (std::vector<TBookmark>{3}));
  Click(1, 0, Qt::ControlModifier);
  const QImage I = Shot(&Grid, "grid-picked");
  const QColor Highlight = Grid.palette().color(QPalette::Active, QPalette::Highlight);
  EXPECT_EQ(CellPixel(I, 3, 1), Highlight);
  EXPECT_EQ(CellPixel(I, 1, 3), Highlight);
  EXPECT_NE(CellPixel(I, 2, 1), Highlight);
}

// Random clicks, ctrl+clicks and shift+clicks over 300 rows, against the picks kept row by row:
// the same rows in the same order, whether a range is kept whole, split by a ctrl+click inside
// it or drawn over earlier picks; what Contains, the paint and the current row say agrees.
// A multi-select grid over the customers and Extra more, not shown yet.
struct TPickingGrid {
  explicit TPickingGrid(int Extra) : DS(MakeCustomers(Extra)) {
    Source.SetDataSet(DS.get());
    Grid.resize(600, 300);
    Grid.SetDataSource(&Source);
    Grid.SetOptions(Grid.Options() | dgMultiSelect);
  }
  std::unique_ptr<TMemDataSet> DS;
  TDataSource Source;
  TDBGrid Grid;
};

TEST(GridPicks, RangesKeptAsPositionsPickTheRowsAPlainListWould) {
  TPickingGrid Picking(295);
  TMemDataSet* DS = Picking.DS.get();
  TDBGrid& Grid = Picking.Grid;
  Grid.show();
  // The picks as a list of bookmarks, updated as the grid did before ranges were kept whole.
  std::vector<TBookmark> Want;
  size_t Base = 0;
  int Anchor = -1;
  auto Has = [&](TBookmark B) { return std::find(Want.begin(), Want.end(), B) != Want.end(); };
  uint32_t Seed = 7;
  auto Next = [&](uint32_t N) { return (Seed = Seed * 1103515245u + 12345u) / 65536u % N; };
  for (int Step = 0; Step < 150; ++Step) {
    const int Row = static_cast<int>(Next(300));
    const uint32_t Kind = Next(10);
    const Qt::KeyboardModifiers M = Kind < 4   ? Qt::ShiftModifier
                                    : Kind < 8 ? Qt::ControlModifier
                                               : Qt::NoModifier;
    const int Before = Grid.currentIndex().row();
    const QModelIndex I = Grid.model()->index(Row, 0);
    Grid.scrollTo(I);
    QTest::mouseClick(Grid.viewport(), Qt::LeftButton, M, Grid.visualRect(I).center());
    const TBookmark B = DS->RowAt(Row);
    if (M == Qt::ShiftModifier) {
      if (Anchor < 0) Anchor = Before >= 0 ? Before : Row;
      Want.resize(Base);
      for (int R = Anchor;; R += Row >= Anchor ? 1 : -1) {
        if (!Has(DS->RowAt(R))) Want.push_back(DS->RowAt(R));
        if (R == Row) break;
      }
    } else if (M == Qt::ControlModifier) {
      if (Has(B)) {
        const auto It = std::find(Want.begin(), Want.end(), B);
        Want.erase(It);
      } else {
        Want.push_back(B);
      }
      Base = Want.size();
      Anchor = Row;
    } else {
      Want.clear();
      Base = 0;
      Anchor = Row;
    }
    const TBookmarkList& Picks = Grid.SelectedRows();
    ASSERT_EQ(Picks.Count(), static_cast<int>(Want.size())) << "step " << Step;
    for (int K = 0; K < Picks.Count(); ++K)
      ASSERT_EQ(Picks[K], Want[static_cast<size_t>(K)]) << "step " << Step << ", pick " << K;
    for (int R = 0; R < 300; R += 7) {
      ASSERT_EQ(Picks.Contains(DS->RowAt(R)), Has(DS->RowAt(R)))
          << "step " << Step << ", row " << R;
      ASSERT_EQ(Picks.ContainsPosition(R), Has(DS->RowAt(R)));
    }
    EXPECT_EQ(Picks.CurrentRowSelected(), Has(DS->CurrentRow()));
    // Every record is in one run at most, and a range run is read only when asked.
    int64_t InRuns = 0;
    for (const TBookmarkList::TRun& Run : Picks.Runs()) InRuns += Run.Count();
    EXPECT_EQ(InRuns, Picks.Count());
  }
  DS->SetFilter("City = 'Vigo'");
  DS->SetFiltered(true);
  EXPECT_EQ(Grid.SelectedRows().Count(), 0) << "new records drop every pick";
  EXPECT_TRUE(Grid.SelectedRows().Runs().empty());
}

// Past BandRows the view holds a band of the records: the bar over every record, keys, clicks
// and picks still reach each record at its position, and the dataset stays where it was.
TEST(GridBand, EveryRecordIsReachedThroughABandOfThem) {
  TPickingGrid Picking(995);  // 1000 records
  TMemDataSet* DS = Picking.DS.get();
  TDBGrid& Grid = Picking.Grid;
  Grid.SetBandRows(64);
  Grid.show();
  QScrollBar* Bar = Grid.RecordsScrollBar();
  ASSERT_NE(Bar, Grid.verticalScrollBar());
  EXPECT_EQ(Grid.model()->rowCount(), 64);
  EXPECT_TRUE(Bar->isVisible());
  EXPECT_GE(Bar->maximum() + Bar->pageStep(), 1000);
  auto Shown = [&](int Position) {  // the first column's text of a record as the grid shows it
    return Grid.model()->index(Position - Grid.BandFirst(), 0).data().toString();
  };
  auto Wanted = [&](int Position) {
    return QStr(Grid.Columns().Items(0)->Field()->DisplayTextAt(DS->RowAt(Position)));
  };
  auto Current = [&] { return Grid.BandFirst() + Grid.currentIndex().row(); };
  auto Top = [&] { return Grid.BandFirst() + Grid.rowAt(0); };

  DS->Last();
  EXPECT_EQ(Current(), 999);
  EXPECT_EQ(Shown(999), Wanted(999));
  EXPECT_EQ(Bar->value(), Bar->maximum());
  Bar->setValue(500);
  EXPECT_EQ(Top(), 500);
  EXPECT_EQ(Shown(500), Wanted(500));
  EXPECT_EQ(DS->RecNo(), 1000) << "the bar shows records without moving the dataset";
  QTest::keyClick(&Grid, Qt::Key_Up);
  EXPECT_EQ(DS->RecNo(), 999) << "a key moves from the dataset's record";
  EXPECT_EQ(Current(), 998);
  QTest::keyClick(&Grid, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(DS->RecNo(), 1);
  EXPECT_EQ(Grid.BandFirst(), 0);
  // Paging down walks every record, the band moving ahead of the rows in view.
  int Last = 0;
  for (int Step = 0; Step < 200 && DS->RecNo() < 1000; ++Step) {
    QTest::keyClick(&Grid, Qt::Key_PageDown);
    QCoreApplication::processEvents();
    ASSERT_GT(DS->RecNo(), Last) << "step " << Step;
    ASSERT_EQ(Current(), DS->RecNo() - 1);
    ASSERT_EQ(Shown(Current()), Wanted(Current()));
    Last = DS->RecNo();
  }
  EXPECT_EQ(DS->RecNo(), 1000);
  EXPECT_EQ(Bar->value(), Bar->maximum());

  // A range picked from a record in one band to a record in another.
  auto Click = [&](int Position, Qt::KeyboardModifiers M) {
    Bar->setValue(Position);
    const QModelIndex I = Grid.model()->index(Position - Grid.BandFirst(), 0);
    QTest::mouseClick(Grid.viewport(), Qt::LeftButton, M, Grid.visualRect(I).center());
  };
  Click(10, {});
  EXPECT_EQ(DS->RecNo(), 11);
  Click(700, Qt::ShiftModifier);
  EXPECT_EQ(DS->RecNo(), 701);
  EXPECT_EQ(Grid.SelectedRows().Count(), 691);
  EXPECT_TRUE(Grid.SelectedRows().Contains(DS->RowAt(700)));
  EXPECT_FALSE(Grid.SelectedRows().Contains(DS->RowAt(701)));
  Click(300, Qt::ControlModifier);
  EXPECT_EQ(Grid.SelectedRows().Count(), 690);
  EXPECT_FALSE(Grid.SelectedRows().ContainsPosition(300));

  // Fewer records than the band: the view's own bar again.
  DS->SetFilter("City <> 'Vigo'");
  DS->SetFiltered(true);
  EXPECT_EQ(Grid.model()->rowCount(), 5);
  EXPECT_EQ(Grid.RecordsScrollBar(), Grid.verticalScrollBar());
  EXPECT_FALSE(Bar->isVisible());
}

TEST_F(GridTest, DroppingMultiSelectDropsThePicks) {
  Click(1, 0, Qt::ControlModifier);
  EXPECT_EQ(Grid.SelectedRows().Count(), 0) << "no picks without dgMultiSelect";
  Grid.SetOptions(Grid.Options() | dgMultiSelect);
  Click(1, 0, Qt::ControlModifier);
  EXPECT_EQ(Grid.SelectedRows().Count(), 1);
  Grid.SetOptions(Grid.Options() & ~dgMultiSelect);
  EXPECT_EQ(Grid.SelectedRows().Count(), 0);
}

// Colours as rendered under Fusion: title background and text, column cells.
TEST_F(GridTest, TitleAndColumnColoursShowInTheRenderedGrid) {
  Grid.SetOptions(Grid.Options() | dgAlwaysShowSelection);
  Grid.Columns().Add()->SetFieldName("CustNo");
  TGridColumn* Company = Grid.Columns().Add();
  Company->SetFieldName("Company");
  TGridColumn* City = Grid.Columns().Add();
  City->SetFieldName("City");
  Company->Title().SetColor(clAqua);
  Company->Title().Font().SetColor(clBlack);
  City->Title().SetColor(clBlack);
  City->Title().Font().SetColor(clYellow);
  City->Title().SetCaption("1234.50");
  Company->SetColor(clAqua);
  City->SetColor(clWhite);
  DS->Last();
  const QImage I = Shot(&Grid, "grid-colours");
  auto Pixel = [&](const QRect& R) { return I.pixelColor(R.right() - 6, R.center().y()); };
  EXPECT_EQ(Pixel(TitleRect(1)), ToQColor(clAqua));
  EXPECT_EQ(Pixel(TitleRect(2)), ToQColor(clBlack));
  EXPECT_EQ(CellPixel(I, 0, 1), ToQColor(clAqua));
  EXPECT_EQ(CellPixel(I, 1, 2), ToQColor(clWhite));
  // The yellow caption is drawn in yellow: some of its pixels are (nearly) pure yellow.
  bool Yellow = false, Dark = false;
  const QRect T = TitleRect(2);
  for (int X = T.left(); X < T.right(); ++X)
    for (int Y = T.top(); Y < T.bottom(); ++Y) {
      const QColor C = I.pixelColor(X, Y);
      Yellow = Yellow || (C.red() > 220 && C.green() > 220 && C.blue() < 40);
    }
  const QRect T1 = TitleRect(1);
  for (int X = T1.left(); X < T1.right(); ++X)
    Dark = Dark || qGray(I.pixel(X, T1.center().y())) < 60;
  EXPECT_TRUE(Yellow);
  EXPECT_TRUE(Dark) << "the black caption on aqua is drawn";
  EXPECT_EQ(Grid.model()->headerData(2, Qt::Horizontal).toString(), "1234.50");
  EXPECT_FALSE(Cell(0, 1).data(Qt::FontRole).isValid());
  Company->Font().SetStyle(fsBold);
  EXPECT_TRUE(Cell(0, 1).data(Qt::FontRole).value<QFont>().bold());
}

TEST_F(GridTest, GridColourIsTheColumnsUntilTheyHaveTheirOwn) {
  Grid.SetColor(clInfoBk);
  Grid.Columns().Items(4)->SetColor(clSilver);
  const QImage I = Shot(&Grid);
  EXPECT_EQ(CellPixel(I, 2, 1), ToQColor(clInfoBk));
  EXPECT_EQ(CellPixel(I, 2, 4), ToQColor(clSilver));
  EXPECT_EQ(Grid.Columns().Items(0)->Color(), clInfoBk);
}

TEST_F(GridTest, SelectedIndexFieldAndColEnter) {
  int Entered = 0;
  Grid.OnColEnter = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &Grid);
    ++Entered;
  };
  Grid.SetSelectedIndex(2);
  EXPECT_EQ(Grid.SelectedField(), DS->FieldByName("City"));
  EXPECT_EQ(Entered, 1);
  Grid.SetSelectedField(DS->FieldByName("Amount"));
  EXPECT_EQ(Grid.SelectedIndex(), 3);
  Key(Qt::Key_Right);
  EXPECT_EQ(Grid.SelectedIndex(), 4);
  EXPECT_EQ(Entered, 3);
  Grid.SetSelectedIndex(4);
  Grid.SetSelectedIndex(9);
  EXPECT_EQ(Entered, 3) << "no change, no event; an index out of range is ignored";
  DS->Next();
  EXPECT_EQ(Entered, 3) << "moving the record is no column change";
}

TEST_F(GridTest, CellClickDoubleClickAndKeyUp) {
  std::vector<int> Clicked;
  int Double = 0;
  std::vector<std::pair<Word, TShiftState>> Released;
  Grid.OnCellClick = [&](TGridColumn* C) { Clicked.push_back(C->Index()); };
  Grid.OnDblClick = [&](TObject*) { ++Double; };
  Grid.OnKeyUp = [&](TObject*, Word& K, TShiftState S) { Released.push_back({K, S}); };
  Click(2, 1);
  Click(0, 3);
  QTest::mouseDClick(Grid.viewport(), Qt::LeftButton, {}, Grid.visualRect(Cell(1, 1)).center());
  Key(Qt::Key_Down, Qt::ShiftModifier);
  EXPECT_EQ(Clicked, (std::vector<int>{1, 3}));
  EXPECT_EQ(Double, 1);
  ASSERT_EQ(Released.size(), 2u);
  EXPECT_EQ(Released[0].first, VK_DOWN);
  EXPECT_EQ(Released[0].second, ssShift);
  EXPECT_EQ(Released[1].first, VK_SHIFT);
}

TEST_F(GridTest, OptionsShowTitlesIndicatorAndLines) {
  EXPECT_TRUE(Grid.horizontalHeader()->isVisible());
  EXPECT_TRUE(Grid.verticalHeader()->isVisible());
  Grid.SetOptions(dgColLines);
  EXPECT_FALSE(Grid.horizontalHeader()->isVisible());
  EXPECT_FALSE(Grid.verticalHeader()->isVisible());
  EXPECT_EQ(Grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  Grid.SetOptions(DefaultDBGridOptions);
  EXPECT_EQ(Grid.horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
}

TEST_F(GridTest, UserWidthStaysAcrossChanges) {
  Grid.horizontalHeader()->resizeSection(1, 333);
  EXPECT_EQ(Grid.Columns().Items(1)->Width(), 333);
  DS->SetFilter("City = 'Cádiz'");
  DS->SetFiltered(true);
  EXPECT_EQ(Grid.horizontalHeader()->sectionSize(1), 333);
  Grid.Columns().Items(2)->SetWidth(77);
  EXPECT_EQ(Grid.horizontalHeader()->sectionSize(2), 77);
}

TEST_F(GridTest, SourceAndDatasetMayGoFirst) {
  auto Other = MakeCustomers(3);
  Source.SetDataSet(Other.get());
  EXPECT_EQ(Grid.model()->rowCount(), 8);
  Other.reset();
  EXPECT_EQ(Grid.model()->rowCount(), 0);
  EXPECT_EQ(Grid.Columns().Count(), 0);
  {
    TDataSource Short;
    Short.SetDataSet(DS.get());
    Grid.SetDataSource(&Short);
    EXPECT_EQ(Grid.model()->rowCount(), 5);
  }
  EXPECT_EQ(Grid.DataSource(), nullptr);
  EXPECT_EQ(Grid.model()->rowCount(), 0);
  Shot(&Grid);  // paints without a dataset
}

// Every kind of change the grid hears, under Qt's model checker.
TEST_F(GridTest, ModelPassesTheItemModelTester) {
  static int Complaints;
  Complaints = 0;
  const QtMessageHandler Previous =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext& Ctx, const QString& Msg) {
        if (QString(Ctx.category).startsWith("qt.modeltest")) {
          ++Complaints;
          std::fprintf(stderr, "%s\n", qPrintable(Msg));
        }
      });
  {
    QAbstractItemModelTester Tester(Grid.model(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    DS->SetFilter("City = 'Cádiz'");
    DS->SetFiltered(true);
    DS->SetFiltered(false);
    DS->Last();
    Grid.Columns().Add()->SetFieldName("City");
    Grid.Columns().Add()->SetFieldName("Company");
    Grid.Columns().Items(0)->SetFieldName("CustNo");
    Grid.Columns().Items(1)->Title().SetColor(clAqua);
    Grid.Columns().Items(1)->SetColor(clAqua);
    Grid.Columns().Clear();
    Grid.Columns().RestoreDefaults();
    DS->DisableControls();
    DS->SetFilter("Amount > '15'");
    DS->SetFiltered(true);
    DS->First();
    DS->EnableControls();
    DS->Close();
    DS->Open();
    auto Other = MakeCustomers(2);
    Source.SetDataSet(Other.get());
    Source.SetDataSet(DS.get());
  }
  qInstallMessageHandler(Previous);
  EXPECT_EQ(Complaints, 0);
  EXPECT_EQ(Grid.model()->rowCount(), DS->RecordCount());
}

// ---- navigator and field edit

TEST(DataControls, NavigatorMovesAndEditFollows) {
  auto DS = MakeCustomers();
  TDataSource S;
  S.SetDataSet(DS.get());
  TDBNavigator Nav;
  TDBEdit Edit;
  Nav.SetDataSource(&S);
  Edit.SetDataSource(&S);
  Edit.SetDataField("Company");
  EXPECT_TRUE(Edit.isReadOnly());
  EXPECT_EQ(Edit.Text(), "Velero Azul");
  EXPECT_FALSE(Nav.Button(nbFirst)->isEnabled());
  EXPECT_FALSE(Nav.Button(nbPrior)->isEnabled());
  std::vector<TNavigateBtn> Pressed;
  Nav.OnClick = [&](TObject*, TNavigateBtn B) { Pressed.push_back(B); };
  QTest::mouseClick(Nav.Button(nbNext), Qt::LeftButton);
  EXPECT_EQ(DS->RecNo(), 2);
  EXPECT_EQ(Edit.Text(), "Corales del Sur");
  QTest::mouseClick(Nav.Button(nbLast), Qt::LeftButton);
  EXPECT_EQ(Edit.Text(), "Faro Norte");
  EXPECT_FALSE(Nav.Button(nbNext)->isEnabled());
  EXPECT_TRUE(Nav.Button(nbFirst)->isEnabled());
  Nav.BtnClick(nbFirst);
  EXPECT_EQ(DS->RecNo(), 1);
  Nav.BtnClick(nbRefresh);
  EXPECT_EQ(Pressed, (std::vector<TNavigateBtn>{nbNext, nbLast, nbFirst, nbRefresh}));
  Nav.SetVisibleButtons(NavButton(nbFirst) | NavButton(nbLast));
  EXPECT_TRUE(Nav.Button(nbNext)->isHidden());
  Edit.SetDataField("Amount");
  EXPECT_EQ(Edit.Text(), DS->FieldByName("Amount")->DisplayText());
  DS->Close();
  EXPECT_EQ(Edit.Text(), "");
  EXPECT_FALSE(Nav.Button(nbRefresh)->isEnabled());
}

}  // namespace
