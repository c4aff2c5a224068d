// What the search window must never do to its user: overwrite a file without asking or a table
// the program has open, move the application's tables when the search is cancelled, lose the
// order the user chose when the next filter comes, or show a counter that no longer tells what
// is picked.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;
namespace fs = std::filesystem;

namespace {

int Int(TDataSet& DS, const char* Field) {
  return DS.FieldByName(Field)->AsInteger();
}

void Click(QAbstractButton* B) {
  QTest::mouseClick(B, Qt::LeftButton);
}

// Answers the next question box with its button Which, and keeps the box's text in Asked.
void Answer(QMessageBox::StandardButton Which, std::string* Asked) {
  WhenModalIs(
      []() -> QWidget* { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
      [Which, Asked](QWidget* W) {
        auto* Box = static_cast<QMessageBox*>(W);
        if (Asked) *Asked = Box->text().toStdString();
        if (QAbstractButton* B = Box->button(Which)) return Click(B);
        ADD_FAILURE() << "the box has no such button";
        Box->reject();
      });
}

// ---------------------------------------------------------------- export onto existing files

class ExportSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
    Out = TestFilePath(std::string("safety-") + Info->name());
    fs::remove_all(Out);
    fs::create_directories(Out);
    OpenTable(Clientes, "CLIENTES.DB");
    Dialog.SetDataSet(&Clientes);
  }
  void TearDown() override { fs::remove_all(Out); }
  // Clicks "&Exportar" and, each time the options form shows, types the next of Names and
  // accepts; once they are used up, cancels the form if it comes back. Showings counts them.
  void Export(TSearchDialogBox& F, const std::vector<std::string>& Names) {
    TFExportBox* B = F.ExportBox();
    size_t Typed = 0;
    Showings = 0;
    QTimer Poll;
    QObject::connect(&Poll, &QTimer::timeout, [&] {
      if (QApplication::activeModalWidget() != B || !B->isVisible()) return;
      ++Showings;
      if (Typed == Names.size()) return Click(B->BitBtn2);
      B->Edit1->SetText(Names[Typed++]);
      Click(B->BitBtn1);
    });
    Poll.start(0);
    Click(F.BTExportar);
  }
  int Records(const std::string& Path) {
    TTable T;
    T.SetTableName(Path);
    T.Open();
    return T.RecordCount();
  }
  std::string Out;
  int Showings = 0;
  TTable Clientes;
  TSearchDialog Dialog;
};

TEST_F(ExportSafetyTest, AnExistingFileIsReplacedOnlyWhenTheUserSaysSo) {
  std::string Asked;
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        AddToFilter(F, "City", "igual a", "Madrid");
        Export(F, {Out + "/lista"});
        ASSERT_EQ(Records(Out + "/lista.db"), 2);
        Click(F.BTBorrarFiltro);
        // No: back to the options form, nothing written.
        Answer(QMessageBox::No, &Asked);
        const int Before = Messages->Count();
        Export(F, {Out + "/lista"});
        EXPECT_EQ(Showings, 2) << "No goes back to the options form";
        EXPECT_EQ(Asked, "El archivo '" + Out + "/lista.db' ya existe. ¿Desea reemplazarlo?");
        EXPECT_EQ(Records(Out + "/lista.db"), 2) << "the old file is whole";
        EXPECT_EQ(MessagesSince(Before), std::vector<std::string>{});
        // Sí: replaced.
        Answer(QMessageBox::Yes, nullptr);
        Export(F, {Out + "/lista"});
        EXPECT_EQ(Showings, 1);
        EXPECT_EQ(Records(Out + "/lista.db"), 6);
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
}

TEST_F(ExportSafetyTest, AnOpenTableIsNeverWrittenOverByAnyNameOfItsFile) {
  fs::copy_file(DatabaseDir() + "/PEDIDOS.DB", Out + "/PEDIDOS.DB");
  fs::create_symlink(Out + "/PEDIDOS.DB", Out + "/enlace.db");
  TTable Pedidos;
  Pedidos.SetTableName(Out + "/PEDIDOS.DB");
  Pedidos.Open();
  const auto Size = fs::file_size(Out + "/PEDIDOS.DB");
  // The searched table itself, in another letter case, and another open table by a link.
  for (const std::string& Name : {DatabaseDir() + "/clientes", Out + "/pedidos",
                                  Out + "/../" + fs::path(Out).filename().string() + "/enlace"}) {
    SCOPED_TRACE(Name);
    const int Before = Messages->Count();
    OnForm(
        Dialog, [&](TSearchDialogBox& F) { Export(F, {Name}); }, TEnd::Cancel);
    EXPECT_FALSE(Dialog.Execute());
    EXPECT_EQ(Showings, 2) << "the form comes back after the refusal";
    const std::vector<std::string> Said = MessagesSince(Before);
    ASSERT_EQ(Said.size(), 1u);
    EXPECT_NE(Said[0].find("No se puede exportar sobre el archivo"), std::string::npos) << Said[0];
    EXPECT_NE(Said[0].find(Name == DatabaseDir() + "/clientes" ? "CLIENTES.DB" : "PEDIDOS.DB"),
              std::string::npos)
        << Said[0];
  }
  EXPECT_EQ(fs::file_size(Out + "/PEDIDOS.DB"), Size);
  EXPECT_EQ(Records(DatabaseDir() + "/CLIENTES.DB"), 6);
  EXPECT_EQ(Pedidos.RecordCount(), 6);
}

TEST_F(ExportSafetyTest, TheSaveDialogAsksBeforeOfferingAnExistingFile) {
  std::ofstream(Out + "/existe.db") << "x";
  std::string Asked;
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        TFExportBox* B = F.ExportBox();
        WhenShown(B, [&, B] {
          TSaveDialog* S = B->SaveDialog1;
          WhenModalIs(
              [S]() -> QWidget* { return S->Dialog(); },
              [&](QWidget* W) {
                auto* Dlg = static_cast<QFileDialog*>(W);
                Dlg->findChild<QLineEdit*>()->setText(QString::fromStdString(Out + "/existe.db"));
                Answer(QMessageBox::No, &Asked);
                static_cast<QDialog*>(Dlg)->accept();
                EXPECT_TRUE(Dlg->isVisible()) << "No keeps the dialog open";
                Dlg->reject();
              });
          Click(B->Button1);
          EXPECT_NE(B->Edit1->Text(), Out + "/existe.db");
          Click(B->BitBtn2);
        });
        Click(F.BTExportar);
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_NE(Asked.find("existe.db"), std::string::npos) << Asked;
}

// ------------------------------------------------------------------ a cancel moves nothing

// Orders (PEDIDOS) with two details: their customer (CLIENTES by CustNo) and their items
// (LINEAS by OrderNo), as an order-entry program links them.
class CancelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenOrderItems(Pedidos, Src, Lineas);
    Clientes.SetIndexFieldNames("CustNo");
    Clientes.SetMasterSource(&Src);
    Clientes.SetMasterFields("CustNo");
    OpenTable(Clientes, "CLIENTES.DB");
  }
  // Order OrderNo with item ItemNo current.
  void Stand(int OrderNo, int ItemNo) {
    ASSERT_TRUE(Pedidos.Locate("OrderNo", OrderNo, 0));
    ASSERT_TRUE(Lineas.Locate("ItemNo", ItemNo, 0));
  }
  void ExpectWhere(int OrderNo, int ItemNo, int CustNo) {
    EXPECT_EQ(Int(Pedidos, "OrderNo"), OrderNo);
    EXPECT_EQ(Int(Lineas, "ItemNo"), ItemNo);
    EXPECT_EQ(Int(Lineas, "OrderNo"), OrderNo);
    EXPECT_EQ(Int(Clientes, "CustNo"), CustNo);
    EXPECT_EQ(Lineas.MasterSource(), &Src);
    EXPECT_EQ(Clientes.MasterSource(), &Src);
    EXPECT_EQ(Clientes.RecordCount(), 1);
    EXPECT_FALSE(Pedidos.Filtered());
  }
  TTable Pedidos, Lineas, Clientes;
  TDataSource Src;
  TSearchDialog Dialog;
};

TEST_F(CancelTest, SearchingTheCustomerOfAnOrderLeavesTheOrder) {
  Stand(101, 1);  // customer 1, whose first order is 100
  Dialog.SetDataSet(&Clientes);
  OnForm(
      Dialog, [](TSearchDialogBox& F) { ClickCell(F.DBGrid1, 3, 1); }, TEnd::Cancel);
  EXPECT_FALSE(Dialog.Find());
  ExpectWhere(101, 1, 1);
  OnForm(
      Dialog, [](TSearchDialogBox&) {}, TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  ExpectWhere(101, 1, 1);
}

TEST_F(CancelTest, SearchingTheMasterLeavesItsDetailsOnTheirRecords) {
  Stand(100, 3);
  Dialog.SetDataSet(&Pedidos);
  OnForm(
      Dialog, [](TSearchDialogBox& F) { ClickCell(F.DBGrid1, 4, 0); }, TEnd::Cancel);
  EXPECT_FALSE(Dialog.Find());
  ExpectWhere(100, 3, 1);
  // With a filter first, through the SQL path too.
  for (const char* Condition : {"igual a", "mayor que"}) {
    OnForm(
        Dialog,
        [Condition](TSearchDialogBox& F) {
          AddToFilter(F, "CustNo", Condition, "1");
          ClickCell(F.DBGrid1, 1, 0);
          Click(F.CBOrdenDescendente);
          Click(F.BTOrdenar);
          ClickCell(F.DBGrid1, 0, 0);
        },
        TEnd::Cancel);
    EXPECT_FALSE(Dialog.Find());
    ExpectWhere(100, 3, 1);
  }
}

TEST_F(CancelTest, SearchingEveryItemLeavesTheOrderAndTheItem) {
  Stand(100, 2);
  Dialog.SetDataSet(&Lineas);
  for (bool MasterSlave : {false, true}) {
    Dialog.SetMasterSlave(MasterSlave);
    OnForm(
        Dialog, [](TSearchDialogBox& F) { ClickCell(F.DBGrid1, 0, 0); }, TEnd::Cancel);
    EXPECT_FALSE(Dialog.Find());
    ExpectWhere(100, 2, 1);
  }
}

// ------------------------------------------------------------ the order survives the filters

TEST(KeptOrder, LaterFiltersKeepTheOrderTheUserChose) {
  TTable Clientes;
  OpenTable(Clientes, "CLIENTES.DB");
  TSearchDialog Dialog;
  Dialog.SetDataSet(&Clientes);
  constexpr int Limit = 3;
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        auto Shown = [&] { return Column(F.Engine()->Results(), "CustNo"); };
        ClickCell(F.DBGrid1, 0, Limit);
        Click(F.CBOrdenDescendente);
        Click(F.BTOrdenar);
        ASSERT_EQ(Shown(), "5,1,4,3,2,6");
        AddToFilter(F, "Limit", "mayor que", "1");
        EXPECT_EQ(Shown(), "5,1,4,3") << "a plain comparison, in the chosen order";
        EXPECT_EQ(F.DBGrid1->Columns()[Limit]->Color(), clAqua);
        AddToFilter(F, "Limit", "menor que", "1", true);
        EXPECT_EQ(Shown(), "5,1,4,3,2");
        EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:5");
        // Cleared: table order, no column aqua, and the next filter says so.
        Click(F.BTBorrarFiltro);
        EXPECT_EQ(F.DBGrid1->Columns()[Limit]->Color(), clWhite);
        AddToFilter(F, "Limit", "mayor que", "1");
        EXPECT_EQ(Shown(), "1,3,4,5");
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
}

// --------------------------------------------------- the counter after the picked rows change

TEST(PickedCounter, AnExportThatDropsThePickedRowsShowsTheCountAgain) {
  TTable Articulos, Lineas;
  OpenItemsWithDescription(Articulos, Lineas);
  TSearchDialog Dialog;
  Dialog.SetDataSet(&Lineas);
  const std::string Out = TestFilePath("picked-export");
  fs::create_directories(Out);
  constexpr int Qty = 3;
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        ClickCell(F.DBGrid1, 0, Qty);
        for (int R : {0, 1}) ClickCell(F.DBGrid1, R, Qty, Qt::ControlModifier);
        ASSERT_EQ(F.STRegistros->Caption(), "Suma de Qty: 5");
        TFExportBox* B = F.ExportBox();
        WhenShown(B, [&, B] {
          B->Edit1->SetText(Out + "/picked");
          Click(B->BitBtn1);
        });
        Click(F.BTExportar);
        ASSERT_TRUE(fs::exists(Out + "/picked.db"));
        EXPECT_EQ(F.DBGrid1->SelectedRows().Count(), 0);
        EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:8");
        EXPECT_EQ(BackColor(F.STRegistros), ToQColor(clSilver));
        EXPECT_EQ(F.DBGrid1->Columns()[Qty]->Title().Caption(), "Qty");
        EXPECT_EQ(F.DBGrid1->Columns()[Qty]->Title().Color(), clSilver);
        const QImage Shot = F.DBGrid1->grab().toImage();
        EXPECT_EQ(TitleColor(F.DBGrid1, Shot, Qty), ToQColor(clSilver));
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  fs::remove_all(Out);
}

}  // namespace
