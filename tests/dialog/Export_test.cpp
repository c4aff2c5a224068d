// Export from the search form through the options form: each table format written and read back,
// found or all records, the grid's columns or every field, the extension completed, the options
// kept between exports, the file chosen with the save dialog, and the folder proposed.
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QLineEdit>
#include <filesystem>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;
namespace fs = std::filesystem;

namespace {

class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
    Out = TestFilePath(std::string("export-") + Info->name());
    fs::remove_all(Out);
    fs::create_directories(Out);
    OpenTable(Clientes, "CLIENTES.DB");
    Dialog.SetDataSet(&Clientes);
  }
  void TearDown() override { fs::remove_all(Out); }
  // Clicks "&Exportar"; in the options form Choose runs, then the form is accepted or cancelled.
  static void Export(TSearchDialogBox& F, const std::function<void(TFExportBox&)>& Choose,
                     bool Accept = true) {
    TFExportBox* B = F.ExportBox();
    WhenShown(B, [B, Choose, Accept] {
      Choose(*B);
      QTest::mouseClick(Accept ? B->BitBtn1 : B->BitBtn2, Qt::LeftButton);
    });
    QTest::mouseClick(F.BTExportar, Qt::LeftButton);
  }
  static void Tick(TRadioButton* R) {
    QTest::mouseClick(R, Qt::LeftButton, {}, QPoint(8, R->height() / 2));
  }
  // Filters the customers of Madrid (two of six).
  static void Madrid(TSearchDialogBox& F) { AddToFilter(F, "City", "igual a", "Madrid"); }
  // The field names of a written table and its records' companies.
  struct TRead {
    std::string Names, Companies;
    int Count = 0;
  };
  TRead ReadBack(const std::string& File) {
    TTable T;
    T.SetDatabaseName(Out);
    T.SetTableName(File);
    T.Open();
    TRead R;
    for (int I = 0; I < T.FieldCount(); ++I) R.Names += (I ? "," : "") + T.Fields(I)->FieldName();
    R.Count = T.RecordCount();
    if (T.FindField("Company")) R.Companies = Column(&T, "Company");
    return R;
  }
  std::string Out;
  TTable Clientes;
  TSearchDialog Dialog;
};

TEST_F(ExportTest, EachFormatHoldsTheFoundRecordsAndTheGridsColumns) {
  Clientes.FieldByName("Opens")->SetVisible(false);
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        Madrid(F);
        const std::pair<TRadioButton*, const char*> Formats[] = {
            {F.ExportBox()->RBParadox, "paradox"},
            {F.ExportBox()->RBASCII, "ascii"},
            {F.ExportBox()->RBDBase, "dbase"}};
        for (auto [Button, Name] : Formats)
          Export(F, [&, Button, Name](TFExportBox& B) {
            Tick(Button);
            B.Edit1->SetText(Out + "/" + Name);
          });
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  for (const char* File : {"paradox.db", "ascii.txt", "dbase.dbf"}) {
    SCOPED_TRACE(File);
    ASSERT_TRUE(fs::exists(Out + "/" + File));
    const TRead R = ReadBack(File);
    EXPECT_EQ(R.Count, 2);
    EXPECT_EQ(R.Names, "CustNo,Company,City,Limit,Since,Active,Joined") << "no hidden Opens";
    EXPECT_EQ(R.Companies, "Ana Náutica,Diana Buceo");
  }
  EXPECT_TRUE(fs::exists(Out + "/ascii.sch"));
  Clientes.FieldByName("Opens")->SetVisible(true);
}

TEST_F(ExportTest, AllRecordsAndAllFields) {
  Clientes.FieldByName("Opens")->SetVisible(false);
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        Madrid(F);
        Export(F, [&](TFExportBox& B) {
          Tick(B.RBTodos);
          Tick(B.RBCampos);
          B.Edit1->SetText(Out + "/todos");
        });
        // The hidden "only the selected records" choice never counts: found records are written.
        Export(F, [&](TFExportBox& B) {
          EXPECT_FALSE(B.RBSeleccionados->isVisible());
          EXPECT_EQ(B.RBSeleccionados->Caption(), "Sólo registros seleccionados");
          B.RBSeleccionados->SetChecked(true);
          B.Edit1->SetText(Out + "/seleccion");
        });
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  const TRead All = ReadBack("todos.db");
  EXPECT_EQ(All.Count, 6);
  EXPECT_EQ(All.Names, "CustNo,Company,City,Limit,Since,Active,Joined,Opens");
  EXPECT_EQ(ReadBack("seleccion.db").Count, 2);
  Clientes.FieldByName("Opens")->SetVisible(true);
}

TEST_F(ExportTest, TheExtensionOfTheFormatIsAddedUnlessTheNameHasIt) {
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        for (const char* Name : {"Lista.DB", "Lista.txt", "Lista.db"})
          Export(F, [&, Name](TFExportBox& B) { B.Edit1->SetText(Out + "/" + Name); });
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  std::vector<std::string> Files;
  for (const auto& E : fs::directory_iterator(Out)) Files.push_back(E.path().filename().string());
  std::sort(Files.begin(), Files.end());
  EXPECT_EQ(Files, (std::vector<std::string>{"Lista.DB.db", "Lista.db", "Lista.txt.db"}));
}

TEST_F(ExportTest, TheOptionsFormKeepsTheChoicesAndProposesTheDefaultName) {
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        const std::string Proposed = TSearchDialogBox::DefaultExportFolder() + "Resultado";
        Export(
            F,
            [&](TFExportBox& B) {
              EXPECT_EQ(B.Caption(), "Exportación de datos");
              EXPECT_EQ(B.GroupBox1->Caption(), "Formato:");
              EXPECT_EQ(B.GroupBox2->Caption(), "¿Qué registros desea exportar? ");
              EXPECT_EQ(B.GroupBox3->Caption(), "¿Qué campos desea exportar? ");
              EXPECT_EQ(B.Label1->Caption(), "Nombre del archivo:");
              EXPECT_EQ(B.Button1->Caption(), "&Examinar...");
              EXPECT_TRUE(B.RBParadox->Checked());
              EXPECT_TRUE(B.RBEncontrados->Checked());
              EXPECT_TRUE(B.RBVisibles->Checked());
              EXPECT_EQ(B.Edit1->Text(), Proposed);
              Tick(B.RBASCII);
              Tick(B.RBTodos);
              B.Edit1->SetText(Out + "/nada");
            },
            false);
        Export(
            F,
            [&](TFExportBox& B) {
              EXPECT_TRUE(B.RBASCII->Checked()) << "the choices stay with the form";
              EXPECT_TRUE(B.RBTodos->Checked());
              EXPECT_EQ(B.Edit1->Text(), Proposed) << "the name is proposed anew";
            },
            false);
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_TRUE(fs::is_empty(Out)) << "a cancelled export writes nothing";
}

TEST_F(ExportTest, ANameChosenWithTheSaveDialogKeepsTheTickedFormat) {
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        Export(F, [&](TFExportBox& B) {
          EXPECT_EQ(B.SaveDialog1->Filter(),
                    "Paradox (*.db)|*.db|ASCII (*.txt)|*.txt|DBase / Excel (*.dbf)|*.dbf|"
                    "Todos los archivos (*.*)|*.*");
          TSaveDialog* S = B.SaveDialog1;
          WhenModalIs(
              [S]() -> QWidget* { return S->Dialog(); },
              [this](QWidget* W) {
                auto* Dlg = static_cast<QFileDialog*>(W);
                Dlg->selectNameFilter("ASCII (*.txt)");
                Dlg->findChild<QLineEdit*>()->setText(QString::fromStdString(Out + "/elegido.txt"));
                static_cast<QDialog*>(Dlg)->accept();  // as the Save button does
              });
          QTest::mouseClick(B.Button1, Qt::LeftButton);
          EXPECT_EQ(B.Edit1->Text(), Out + "/elegido.txt");
          EXPECT_TRUE(B.RBParadox->Checked()) << "the file type does not change the format";
        });
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  EXPECT_TRUE(fs::exists(Out + "/elegido.txt.db"));
  EXPECT_EQ(ReadBack("elegido.txt.db").Count, 6);
}

// An installed program's folder cannot be written: the export is then proposed in the home
// folder instead of failing.
TEST(ExportFolder, TheProgramsFolderWhenWritableElseHome) {
  std::string Home = QDir::homePath().toStdString() + "/";
  const std::string Writable = TestFilePath("folder-writable");
  fs::create_directories(Writable);
  EXPECT_EQ(ExportFolderFor(Writable + "/programa"), Writable + "/");
  EXPECT_EQ(ExportFolderFor("/no/existe/programa"), Home);
  if (access("/proc/1", W_OK) != 0) {
    EXPECT_EQ(ExportFolderFor("/proc/1/exe"), Home);
  }
  const std::string Locked = TestFilePath("folder-locked");
  fs::create_directories(Locked);
  chmod(Locked.c_str(), 0555);
  if (access(Locked.c_str(), W_OK) != 0) {
    EXPECT_EQ(ExportFolderFor(Locked + "/programa"), Home);
  }
  chmod(Locked.c_str(), 0755);
  EXPECT_EQ(TSearchDialogBox::DefaultExportFolder(), ExtractFilePath(Application->ExeName()))
      << "the tests' own folder may be written";
}

}  // namespace
