// Faults that come while the search form is open: the searched table file replaced or removed,
// the export folder gone or unwritable between choosing it and accepting, the disk full part way
// through an export, a number the locale cannot read. Each ends in a message, the old export
// intact, no partial file under the target's name, and a form that goes on searching.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;
namespace fs = std::filesystem;

namespace {

std::string Bytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::ostringstream S;
  S << F.rdbuf();
  return S.str();
}

class FaultsWhileOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
    Dir = TestFilePath(std::string("faults-") + Info->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    // The searched table is a copy of its own, to be replaced and removed.
    for (const auto& E : fs::directory_iterator(DatabaseDir()))
      if (E.path().stem() == "CLIENTES")
        fs::copy(E.path(), Dir + "/" + E.path().filename().string());
    Clientes.SetDatabaseName(Dir);
    Clientes.SetTableName("CLIENTES.DB");
    Clientes.Open();
    Clientes.SetRecNo(3);
    Dialog.SetDataSet(&Clientes);
    First = Messages->Count();
  }
  void TearDown() override { fs::remove_all(Dir); }

  // Exports the form's result, with Name typed in the options form; Between runs after the
  // name is chosen and before the form is accepted.
  static void ExportTo(TSearchDialogBox& F, const std::string& Name,
                       const std::function<void()>& Between = {}) {
    TFExportBox* B = F.ExportBox();
    WhenShown(B, [B, Name, Between] {
      B->Edit1->SetText(Name);
      if (Between) Between();
      QTest::mouseClick(B->BitBtn1, Qt::LeftButton);
    });
    // The user means to replace the export of before.
    QTimer Yes;
    QObject::connect(&Yes, &QTimer::timeout, [] {
      if (auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        QTest::mouseClick(Box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    Yes.start(0);
    QTest::mouseClick(F.BTExportar, Qt::LeftButton);
  }
  // The error messages shown since the test began (or since Since), each with its details.
  std::vector<std::string> Errors(int Since = -1) const {
    std::vector<std::string> Out;
    for (int I = Since < 0 ? First : Since; I < Messages->Count(); ++I) {
      const TRecordedMessage& M = Messages->Messages()[static_cast<size_t>(I)];
      if (M.Kind == mtError) Out.push_back(M.Msg + " / " + M.Detail);
    }
    return Out;
  }
  // Nothing in the folder but the files named (no partial target, no temporary left).
  void ExpectOnly(const std::string& Folder, std::set<std::string> Names) const {
    std::set<std::string> Found;
    for (const auto& E : fs::directory_iterator(Folder)) Found.insert(E.path().filename().string());
    EXPECT_EQ(Found, Names) << "in " << Folder;
  }
  // The form still searches: the customers of Madrid are found and counted.
  static void StillSearches(TSearchDialogBox& F) {
    QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
    AddToFilter(F, "City", "igual a", "Madrid");
    EXPECT_EQ(F.Engine()->Results()->RecordCount(), 2);
    EXPECT_EQ(F.STRegistros->Caption(), F.RecordCountText());
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:2");
  }

  std::string Dir;
  TTable Clientes;
  TSearchDialog Dialog;
  int First = 0;
};

// The table file goes, then comes back as another table: searches that read it answer with a
// message naming what failed; a cancel leaves the application's dataset as it was.
TEST_F(FaultsWhileOpen, TheSearchedTableFileRemovedOrReplaced) {
  const std::string File = Dir + "/CLIENTES.DB";
  const std::string Saved = Bytes(File);
  OnForm(
      Dialog,
      [&](TSearchDialogBox& F) {
        fs::remove(File);
        QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
        AddToFilter(F, "Company", "contiene", "Ana");
        EXPECT_TRUE(F.isVisible());
        // Replaced by bytes that are no table.
        std::ofstream(File, std::ios::binary) << std::string(3000, '\x7F');
        AddToFilter(F, "Company", "contiene", "a", true);
        QTest::mouseClick(F.BTOrdenar, Qt::LeftButton);
        EXPECT_TRUE(F.isVisible());
        EXPECT_EQ(F.STFiltro->Caption().rfind("Filtro:", 0), 0u);
        // Back as it was: the form goes on.
        std::ofstream(File, std::ios::binary | std::ios::trunc) << Saved;
        StillSearches(F);
      },
      TEnd::Cancel);
  EXPECT_FALSE(Dialog.Execute());
  // The order over a missing file and the search over a damaged one each name the table.
  const std::vector<std::string> Shown = Errors();
  EXPECT_EQ(Shown.size(), 2u);
  for (const std::string& E : Shown) EXPECT_NE(E.find("CLIENTES.DB"), std::string::npos) << E;
  EXPECT_EQ(Clientes.RecNo(), 3);
  EXPECT_FALSE(Clientes.Filtered());
  EXPECT_EQ(Clientes.Filter(), "");
}

// The export folder is removed, or becomes a path through a regular file (what root cannot be
// kept from writing), after the name was chosen: a message, no file, the form goes on.
TEST_F(FaultsWhileOpen, TheExportFolderGoesAwayBeforeTheExport) {
  const std::string Out = Dir + "/salida";
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    AddToFilter(F, "City", "igual a", "Madrid");
    fs::create_directories(Out);
    int Before = Messages->Count();
    ExportTo(F, Out + "/Resultado.db", [&] { fs::remove_all(Out); });
    EXPECT_EQ(Errors(Before).size(), 1u) << "a removed folder is reported";
    EXPECT_FALSE(fs::exists(Out));
    // The folder turns into a file: nothing can be written under it.
    std::ofstream(Out) << "no soy una carpeta";
    Before = Messages->Count();
    ExportTo(F, Out + "/Resultado.db");
    EXPECT_EQ(Errors(Before).size(), 1u) << "a path through a file is reported";
    EXPECT_EQ(Bytes(Out), "no soy una carpeta");
    StillSearches(F);
  });
  EXPECT_TRUE(Dialog.Execute());
  const std::vector<std::string> Shown = Errors();
  ASSERT_EQ(Shown.size(), 2u);
  EXPECT_NE(Shown[0].find("no existe la carpeta"), std::string::npos) << Shown[0];
  EXPECT_NE(Shown[1].find("no es un directorio"), std::string::npos) << Shown[1];
}

// The disk fills part way: the process may write no file beyond a few hundred bytes while the
// export runs. The old export stays as it was, no partial file takes its name, no temporary is
// left, and the next export (with room again) writes the whole result.
TEST_F(FaultsWhileOpen, TheDiskFillsDuringAnExport) {
  const std::string Out = Dir + "/salida";
  fs::create_directories(Out);
  const std::string Old = "el resultado de ayer\n";
  for (const char* Ext : {".db", ".txt", ".dbf"})
    std::ofstream(Out + "/Resultado" + Ext, std::ios::binary) << Old;
  // A write over the limit fails with EFBIG instead of ending the process.
  struct sigaction Ignore = {}, Previous = {};
  Ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &Ignore, &Previous);
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    const std::pair<TRadioButton*, const char*> Formats[] = {{F.ExportBox()->RBParadox, ".db"},
                                                             {F.ExportBox()->RBASCII, ".txt"},
                                                             {F.ExportBox()->RBDBase, ".dbf"}};
    for (auto [Button, Ext] : Formats) {
      QTest::mouseClick(Button, Qt::LeftButton, {}, QPoint(8, Button->height() / 2));
      const int Before = Messages->Count();
      rlimit Was{}, Small{};
      getrlimit(RLIMIT_FSIZE, &Was);
      Small = Was;
      Small.rlim_cur = 300;
      ExportTo(F, Out + "/Resultado", [&] { setrlimit(RLIMIT_FSIZE, &Small); });
      setrlimit(RLIMIT_FSIZE, &Was);
      const std::vector<std::string> Shown = Errors(Before);
      ASSERT_EQ(Shown.size(), 1u) << Ext << ": a full disk is reported";
      EXPECT_NE(Shown[0].find("tamaño máximo"), std::string::npos) << Shown[0];
      EXPECT_EQ(Bytes(Out + "/Resultado" + Ext), Old) << Ext << ": the old export is intact";
      ExpectOnly(Out, {"Resultado.db", "Resultado.txt", "Resultado.dbf"});
    }
    // Room again: the export is whole.
    QTest::mouseClick(F.ExportBox()->RBASCII, Qt::LeftButton, {},
                      QPoint(8, F.ExportBox()->RBASCII->height() / 2));
    ExportTo(F, Out + "/Nuevo.txt");
    TTable T;
    T.SetDatabaseName(Out);
    T.SetTableName("Nuevo.txt");
    T.Open();
    EXPECT_EQ(T.RecordCount(), 6);
    StillSearches(F);
  });
  EXPECT_TRUE(Dialog.Execute());
  sigaction(SIGXFSZ, &Previous, nullptr);
}

// "igual a" on a float column with values a Spanish reader cannot take as a number: each is
// refused with a message, and the next search works.
TEST_F(FaultsWhileOpen, AFloatValueTheLocaleCannotRead) {
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    for (const char* Bad : {"1,2,3", "1.5.5", "3,,5", "1e99999", "--2", "0x1F", "1,5 m", "½"}) {
      const int Before = Messages->Count();
      AddToFilter(F, "Limit", "igual a", Bad);
      EXPECT_EQ(Messages->Count(), Before + 1) << "'" << Bad << "' is refused with a message";
      EXPECT_FALSE(F.Engine()->Filtered()) << Bad;
      QTest::mouseClick(F.BTBorrarFiltro, Qt::LeftButton);
    }
    AddToFilter(F, "Limit", "igual a", "10,5");
    EXPECT_EQ(F.Engine()->Results()->RecordCount(), 1);
    StillSearches(F);
  });
  EXPECT_TRUE(Dialog.Execute());
}

}  // namespace
