// The demonstration program's main form over the sample database, end to end: each search button
// accepted and cancelled, with the navigator's order, the customer edits and the items grid read
// back from the controls and checked against the tables read on their own; F1 from the controls;
// the form as laid out on the screen.
#include <gmock/gmock.h>

#include <QHeaderView>
#include <QTest>
#include <QTextBrowser>
#include <algorithm>
#include <memory>
#include <ostream>

#include "DialogTestSupport.h"
#include "SampleTable.h"
#include "Unit1.h"
#include "Unit2.h"

using namespace kv;

using namespace dialogtest;
using ::testing::IsEmpty;

namespace {

constexpr int ItemNoColumn = 4;  // PartNo, Qty, Description, Discount, ItemNo, ONHand

// What the main form shows.
struct TShown {
  int Order = 0;                   // the navigator's order
  std::string OrderText;           // the "Order:" edit
  std::string Company, Country;    // the customer edits
  std::vector<std::string> Items;  // ItemNo of the grid's rows, in order
  std::string CurrentItem;         // ItemNo of the grid's current row
  bool operator==(const TShown&) const = default;
};

void PrintTo(const TShown& S, std::ostream* Os) {
  *Os << "order " << S.Order << " (edit '" << S.OrderText << "'), " << S.Company << " ("
      << S.Country << "), items [" << ::testing::PrintToString(S.Items) << "] at " << S.CurrentItem;
}

std::string Text(TDataSet* DS, const char* Field) {
  return DS->FieldByName(Field)->AsString();
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FormatSettings() = TFormatSettings::Spanish();
    Form = std::make_unique<TForm1>();
    Module = std::make_unique<TDataModule2>();
    DataModule2 = Module.get();
    Form->LinkDataModule(Module.get());
    Form->Show();
    QApplication::setActiveWindow(Form.get());
    Orders = SampleTable("ORDERS");
    Customers = SampleTable("CUSTOMER");
    Items = SampleTable("ITEMS");
    Since = Messages->Count();
  }
  void TearDown() override {
    EXPECT_THAT(MessagesSince(Since), IsEmpty());
    Application->HelpCommand(HELP_QUIT, 0);
    Form.reset();
    Module.reset();
  }

  // Reads the main form's controls.
  TShown Shown() const {
    TShown S;
    TDataSet* Nav = Form->DBNavigator1->DataSource()->DataSet();
    S.Order = Nav->FieldByName("OrderNo")->AsInteger();
    // The navigator's buttons agree with the position.
    EXPECT_EQ(Form->DBNavigator1->Button(nbPrior)->isEnabled(), Nav->RecNo() > 1);
    EXPECT_EQ(Form->DBNavigator1->Button(nbNext)->isEnabled(), Nav->RecNo() < Nav->RecordCount());
    S.OrderText = Form->DBEdit1->Text();
    S.Company = Form->DBEdit3->Text();
    S.Country = Form->DBEdit4->Text();
    const QAbstractItemModel* M = Form->DBGrid1->model();
    for (int R = 0; R < M->rowCount(); ++R)
      S.Items.push_back(M->index(R, ItemNoColumn).data().toString().toStdString());
    const int Current = Form->DBGrid1->currentIndex().row();
    if (Current >= 0)
      S.CurrentItem = M->index(Current, ItemNoColumn).data().toString().toStdString();
    return S;
  }

  // What the form must show on Order with item Item current, from the tables read on their own.
  TShown Expected(int Order, const std::string& Item) const {
    TShown S;
    S.Order = Order;
    S.OrderText = std::to_string(Order);
    EXPECT_TRUE(Orders->Locate("OrderNo", Order, 0)) << Order;
    EXPECT_TRUE(Customers->Locate("CustNo", Orders->FieldByName("CustNo")->Value(), 0));
    S.Company = Text(Customers.get(), "Company");
    S.Country = Text(Customers.get(), "Country");
    std::vector<int> Numbers;
    for (Items->First(); !Items->Eof(); Items->Next())
      if (Items->FieldByName("OrderNo")->AsInteger() == Order)
        Numbers.push_back(Items->FieldByName("ItemNo")->AsInteger());
    std::sort(Numbers.begin(), Numbers.end());
    for (int N : Numbers) S.Items.push_back(std::to_string(N));
    S.CurrentItem = Item;
    return S;
  }

  // Runs the search behind Button: Steps on its form, then "&Aceptar" or "&Cancelar".
  void Search(TSpeedButton* Button, std::function<void(TSearchDialogBox&)> Steps, TEnd End) {
    OnForm(*Form->SearchDialog1, std::move(Steps), End);
    QTest::mouseClick(Button, Qt::LeftButton);
    EXPECT_FALSE(Form->SearchDialog1->SearchForm()->isVisible());
  }

  // Puts the main form, as the user does, on an order with at least MinItems items, Skip or
  // more records after the first (the navigator), and on the item in grid row ItemRow (a click).
  void GoTo(int Skip, int MinItems, int ItemRow) {
    QTest::mouseClick(Form->DBNavigator1->Button(nbFirst), Qt::LeftButton);
    for (int I = 0; I < Skip; ++I)
      QTest::mouseClick(Form->DBNavigator1->Button(nbNext), Qt::LeftButton);
    while (Form->DBGrid1->model()->rowCount() < MinItems) {
      ASSERT_TRUE(Form->DBNavigator1->Button(nbNext)->isEnabled()) << "no such order";
      QTest::mouseClick(Form->DBNavigator1->Button(nbNext), Qt::LeftButton);
    }
    ClickCell(Form->DBGrid1, ItemRow, 0);
    ASSERT_EQ(Form->DBGrid1->currentIndex().row(), ItemRow);
  }

  // The navigator moves on to the next order and everything follows: the master links are
  // whole after a search.
  void ExpectLinksHold() {
    QTest::mouseClick(Form->DBNavigator1->Button(nbNext), Qt::LeftButton);
    const TShown Now = Shown();
    EXPECT_EQ(Now, Expected(Now.Order, Now.Items.empty() ? "" : Now.Items[0]));
  }

  std::unique_ptr<TForm1> Form;
  std::unique_ptr<TDataModule2> Module;
  std::unique_ptr<TTable> Orders, Customers, Items;
  int Since = 0;
};

// The first row of the search form's result whose record satisfies Pred; -1 when none does.
int RowWhere(TSearchDialogBox& F, const std::function<bool(TDataSet*)>& Pred) {
  TDataSet* R = F.Engine()->Results();
  const TBookmark Here = R->GetBookmark();
  int Row = -1;
  for (R->First(); Row < 0 && !R->Eof(); R->Next())
    if (Pred(R)) Row = R->RecNo() - 1;
  R->GotoBookmark(Here);
  return Row;
}

// Clicks Row of the search form's grid and answers the chosen record's Field.
std::string Choose(TSearchDialogBox& F, int Row, const char* Field) {
  EXPECT_GE(Row, 0) << "no row to choose";
  ClickCell(F.DBGrid1, std::max(Row, 0), 0);
  return Text(F.Engine()->Results(), Field);
}

// ---------------------------------------------------------------------- the four searches

TEST_F(MainFormTest, StartsOnTheFirstOrderWithItsCustomerAndItems) {
  const TShown S = Shown();
  EXPECT_EQ(S, Expected(S.Order, S.Items.at(0)));
  Orders->First();
  EXPECT_EQ(S.Order, Orders->FieldByName("OrderNo")->AsInteger());
  ExpectLinksHold();
}

TEST_F(MainFormTest, SearchInAllOrdersAcceptedMakesTheChosenOrderCurrent) {
  GoTo(2, 2, 1);
  int Chosen = 0;
  Search(
      Form->SpeedButton2,
      [&](TSearchDialogBox& F) {
        EXPECT_EQ(F.Engine()->Results()->RecordCount(), Orders->RecordCount());
        // A lookup field: the search runs as SQL over orders joined to customers.
        AddToFilter(F, "Company", "empieza por", "N");
        ASSERT_GT(F.Engine()->Results()->RecordCount(), 1);
        Chosen = std::stoi(Choose(F, 1, "OrderNo"));
      },
      TEnd::Accept);
  const TShown S = Shown();
  EXPECT_EQ(S, Expected(Chosen, S.Items.at(0)));
  EXPECT_EQ(S.Company.substr(0, 1), "N");
  ExpectLinksHold();
}

TEST_F(MainFormTest, SearchCustomerAcceptedMovesOrdersToAnOrderOfTheChosenCustomer) {
  GoTo(0, 3, 0);
  const TShown Before = Shown();
  std::string Company, Country;
  int CustNo = 0;
  Search(
      Form->SpeedButton1,
      [&](TSearchDialogBox& F) {
        // Every customer, not only the current order's.
        EXPECT_EQ(F.Engine()->Results()->RecordCount(), Customers->RecordCount());
        AddToFilter(F, "Country", "igual a", "US");
        // Another customer than the order's, one with orders.
        const int Row = RowWhere(F, [&](TDataSet* R) {
          return Text(R, "Company") != Before.Company &&
                 Orders->Locate("CustNo", R->FieldByName("CustNo")->Value(), 0);
        });
        CustNo = std::stoi(Choose(F, Row, "CustNo"));
        Company = Text(F.Engine()->Results(), "Company");
        Country = Text(F.Engine()->Results(), "Country");
      },
      TEnd::Accept);
  const TShown S = Shown();
  EXPECT_NE(S.Order, Before.Order);
  ASSERT_TRUE(Orders->Locate("OrderNo", S.Order, 0));
  EXPECT_EQ(Orders->FieldByName("CustNo")->AsInteger(), CustNo);
  EXPECT_EQ(S.Company, Company);
  EXPECT_EQ(S.Country, "US");
  EXPECT_EQ(Country, "US");
  EXPECT_EQ(S, Expected(S.Order, S.Items.at(0)));
  ExpectLinksHold();
}

TEST_F(MainFormTest, SearchItemsInOrderSearchesTheOrdersItemsAndNeverChangesTheOrder) {
  GoTo(0, 3, 0);
  const TShown Before = Shown();
  ASSERT_GE(Before.Items.size(), 3u);
  // The last item, then one in the middle after a filter.
  for (const bool Filter : {false, true}) {
    SCOPED_TRACE(Filter ? "after a filter" : "no filter");
    std::string Chosen;
    Search(
        Form->SpeedButton3,
        [&](TSearchDialogBox& F) {
          EXPECT_EQ(F.Engine()->Results()->RecordCount(), static_cast<int>(Before.Items.size()));
          int Row = static_cast<int>(Before.Items.size()) - 1;
          if (Filter) {
            AddToFilter(F, "Qty", "mayor que", "0");
            Row = 1;
          }
          Chosen = Choose(F, Row, "ItemNo");
        },
        TEnd::Accept);
    EXPECT_EQ(Shown(), Expected(Before.Order, Chosen));
  }
  ExpectLinksHold();
}

TEST_F(MainFormTest, SearchInAllItemsAcceptedOnAnotherOrdersItemMovesOrderCustomerAndItems) {
  GoTo(0, 3, 0);
  const TShown Before = Shown();
  int Order = 0;
  std::string Item;
  Search(
      Form->SpeedButton4,
      [&](TSearchDialogBox& F) {
        // Every item of every order.
        EXPECT_EQ(F.Engine()->Results()->RecordCount(), Items->RecordCount());
        AddToFilter(F, "Description", "contiene", "bamb");
        // Not the first item of its order, so that the item is seen to move too.
        const int Row = RowWhere(F, [&](TDataSet* R) {
          return R->FieldByName("OrderNo")->AsInteger() != Before.Order &&
                 R->FieldByName("ItemNo")->AsInteger() > 1;
        });
        Item = Choose(F, Row, "ItemNo");
        Order = F.Engine()->Results()->FieldByName("OrderNo")->AsInteger();
      },
      TEnd::Accept);
  ASSERT_NE(Order, Before.Order);
  const TShown S = Shown();
  EXPECT_EQ(S, Expected(Order, Item));
  EXPECT_NE(S.CurrentItem, S.Items.at(0));
  ExpectLinksHold();
}

// A search cancelled before any filter leaves order and item as they were, for every button.
// After a filter and a click on another row as well, except that searching the orders table
// itself moves its items with it: the order comes back, its items from the first.
TEST_F(MainFormTest, ACancelledSearchLeavesOrderAndItemWhereTheyWere) {
  const struct {
    TSpeedButton* Button;
    const char* Column;
    const char* Condition;
    const char* Value;
  } Cases[] = {
      {Form->SpeedButton1, "Country", "igual a", "US"},
      {Form->SpeedButton2, "Items total", "mayor que", "20000"},
      {Form->SpeedButton3, "Qty", "mayor que", "0"},
      {Form->SpeedButton4, "Description", "contiene", "bamb"},
  };
  for (const auto& C : Cases) {
    for (const bool Filter : {false, true}) {
      SCOPED_TRACE(C.Button->Caption() + (Filter ? ", after a filter" : ", no filter"));
      GoTo(3, 3, 2);
      const TShown Before = Shown();
      ASSERT_EQ(Before, Expected(Before.Order, Before.Items.at(2)));
      Search(
          C.Button,
          [&](TSearchDialogBox& F) {
            if (!Filter) return;
            AddToFilter(F, C.Column, C.Condition, C.Value);
            ClickCell(F.DBGrid1, 1, 0);
          },
          TEnd::Cancel);
      // The order and its current item both, whatever the search moved meanwhile.
      EXPECT_EQ(Shown(), Before);
    }
  }
  ExpectLinksHold();
}

// ------------------------------------------------------------------------------------ help

TEST_F(MainFormTest, F1WithAnyShiftKeysFromAnyControlOpensTheHelpContents) {
  Application->SetHelpFile(KV_BINARY_DIR "/demo/TSEARCHDIALOG.HLP");
  QWidget* const Controls[] = {Form->DBEdit1,      Form->DBEdit3,      Form->DBGrid1,
                               Form->SpeedButton1, Form->SpeedButton4, Form.get()};
  for (QWidget* W : Controls) {
    for (const Qt::KeyboardModifiers Mods :
         {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier),
          Qt::KeyboardModifiers(Qt::ControlModifier | Qt::AltModifier)}) {
      SCOPED_TRACE(W->objectName().toStdString() + " " + std::to_string(Mods.toInt()));
      Application->HelpCommand(HELP_QUIT, 0);
      W->setFocus();
      QTest::keyClick(W, Qt::Key_F1, Mods);
      QTextBrowser* Help = Application->HelpWindow();
      ASSERT_NE(Help, nullptr);
      EXPECT_TRUE(Help->isVisible());
      EXPECT_TRUE(Help->toPlainText().startsWith("Ayuda de las búsquedas"));
    }
  }
  // Other keys leave the help alone.
  Application->HelpCommand(HELP_QUIT, 0);
  Form->DBGrid1->setFocus();
  for (Qt::Key K : {Qt::Key_F2, Qt::Key_P, Qt::Key_Down}) QTest::keyClick(Form->DBGrid1, K);
  EXPECT_FALSE(Application->HelpWindow()->isVisible());
}

// ------------------------------------------------------------------------------- the form

TEST_F(MainFormTest, LaidOutAsItsUsersSeeIt) {
  EXPECT_EQ(Form->Caption(), "Form1");
  EXPECT_TRUE(Form->windowState() & Qt::WindowMaximized);
  EXPECT_TRUE(Form->KeyPreview());
  EXPECT_EQ(Form->BorderIcons(), unsigned(biSystemMenu | biMinimize | biMaximize | biHelp));
  EXPECT_EQ(Form->DBNavigator1->VisibleButtons(), AllNavButtons);
  EXPECT_EQ(Form->Label1->Caption(), "Order:");
  EXPECT_EQ(Form->Label2->Caption(), "Order date:");
  // Read-only edits on the order and its customer.
  const struct {
    TDBEdit* Edit;
    TDataSource* Source;
    const char* Field;
  } Edits[] = {{Form->DBEdit1, Module->dsorders, "OrderNo"},
               {Form->DBEdit2, Module->dsorders, "SaleDate"},
               {Form->DBEdit3, Module->dsCustomer, "Company"},
               {Form->DBEdit4, Module->dsCustomer, "Country"}};
  for (const auto& E : Edits) {
    EXPECT_TRUE(E.Edit->isReadOnly()) << E.Field;
    EXPECT_EQ(E.Edit->DataSource(), E.Source) << E.Field;
    EXPECT_EQ(E.Edit->Text(), E.Source->DataSet()->FieldByName(E.Field)->DisplayText());
  }
  // The grid: the order's items in six columns on the pale yellow of information panels.
  EXPECT_EQ(Form->DBGrid1->DataSource(), Module->dsItems);
  EXPECT_TRUE(Form->DBGrid1->ReadOnly());
  std::vector<std::string> Columns, Titles;
  for (int I = 0; I < Form->DBGrid1->Columns().Count(); ++I) {
    Columns.push_back(Form->DBGrid1->Columns()[I]->FieldName());
    Titles.push_back(
        Form->DBGrid1->model()->headerData(I, Qt::Horizontal).toString().toStdString());
  }
  const std::vector<std::string> Six = {"PartNo",   "Qty",    "Description",
                                        "Discount", "ItemNo", "ONHand"};
  EXPECT_EQ(Columns, Six);
  EXPECT_EQ(Titles, Six);
  const QImage Grid = Form->DBGrid1->grab().toImage();
  EXPECT_EQ(CellColor(Form->DBGrid1, Grid, 0, 2), ToQColor(clInfoBk));
  // Below the rows the grid shows the same colour.
  EXPECT_EQ(Grid.pixelColor(Grid.width() / 2, Grid.height() - 20), ToQColor(clInfoBk));
  // The four search buttons: bold red captions beside 32 x 32 pictures.
  const std::pair<TSpeedButton*, const char*> Buttons[] = {
      {Form->SpeedButton1, "Search Customer"},
      {Form->SpeedButton2, "Search in all Orders"},
      {Form->SpeedButton3, "Search Items in Order"},
      {Form->SpeedButton4, "Search in all Items"}};
  for (const auto& [B, Caption] : Buttons) {
    SCOPED_TRACE(Caption);
    EXPECT_EQ(B->Caption(), Caption);
    EXPECT_TRUE(B->font().bold());
    EXPECT_EQ(B->palette().color(QPalette::ButtonText), ToQColor(clRed));
    EXPECT_EQ(B->Glyph().size(), QSize(32, 32));
    EXPECT_GE(B->width(), B->sizeHint().width()) << "caption cut";
  }
  // SearchDialog1 as stored.
  EXPECT_EQ(Form->SearchDialog1->Owner(), Form.get());
  EXPECT_FALSE(Form->SearchDialog1->UseSQLAlways());
  EXPECT_EQ(Form->SearchDialog1->Decimals(), 0);
  EXPECT_FALSE(Form->SearchDialog1->MasterSlave());
}

// On the test screen (800 pixels wide, narrower than most) the upper panel's controls keep their
// sizes without overlapping, the picture sits at the right edge and gives way first, and the
// three lower buttons stand side by side.
TEST_F(MainFormTest, ControlsNeitherOverlapNorLoseTheirCaptionsOnANarrowScreen) {
  QCoreApplication::processEvents();
  ASSERT_LE(Form->width(), 1000);
  QWidget* const Upper[] = {Form->DBNavigator1, Form->Label1,  Form->DBEdit1, Form->Label2,
                            Form->DBEdit2,      Form->DBEdit3, Form->DBEdit4, Form->SpeedButton1};
  const auto Rect = [](QWidget* W) { return QRect(W->mapTo(W->window(), QPoint()), W->size()); };
  for (QWidget* A : Upper) {
    EXPECT_GE(A->width(), A->minimumSizeHint().width()) << A->objectName().toStdString();
    for (QWidget* B : Upper) {
      if (A == B) continue;
      EXPECT_FALSE(Rect(A).intersects(Rect(B)))
          << A->objectName().toStdString() << " over " << B->objectName().toStdString();
    }
  }
  const QRect Picture = Rect(Form->Image1);
  EXPECT_FALSE(Picture.intersects(Rect(Form->SpeedButton1)));
  EXPECT_GT(Picture.width(), 0);
  // The picture's right edge at the panel's right edge (its margin aside).
  EXPECT_GE(Picture.right(), Form->Panel1->width() - 12);
  QWidget* const Lower[] = {Form->SpeedButton2, Form->SpeedButton3, Form->SpeedButton4};
  for (int I = 0; I + 1 < 3; ++I) EXPECT_LT(Rect(Lower[I]).right(), Rect(Lower[I + 1]).left());
  Shot(Form.get(), "demo-main-form");
}

}  // namespace
