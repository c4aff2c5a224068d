// Long work from the search form: an export of many records shows the progress window with the
// records written and "Cancelar"; cancelling writes nothing and leaves an existing target whole;
// a search stopped half-way leaves the result it replaced; the form shows a busy cursor.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "BusyWork.h"
#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;
namespace fs = std::filesystem;

namespace {

constexpr int kRows = 30000;

std::string Bytes(const fs::path& P) {
  std::ifstream In(P, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

class LongWork : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder per test: each runs in a process of its own, alongside the others.
    Dir = TestFilePath(std::string("longwork-") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    // A table of its own, big enough for a batch move to report several times.
    TMemDataSet Rows;
    Rows.FieldDefs().Add("N", ftInteger);
    Rows.FieldDefs().Add("Name", ftString, 20);
    Rows.CreateDataSet();
    for (int I = 0; I < kRows; ++I) Rows.AppendRecord({I, "fila " + std::to_string(I % 97)});
    TTable Out;
    Out.SetDatabaseName(Dir);
    Out.SetTableName("GRANDE.DB");
    ASSERT_EQ(Out.BatchMove(&Rows, batCopy), kRows);
    Big.SetDatabaseName(Dir);
    Big.SetTableName("GRANDE.DB");
    Big.Open();
    Dialog.SetDataSet(&Big);
    TBusyWork::SetDelayMs(0);
  }
  void TearDown() override {
    TBusyWork::SetDelayMs(300);
    TBusyWork::SetOnWindowShown({});
    fs::remove_all(Dir);
  }
  // Exports the current result to Target through the options form; an existing target is
  // replaced (Sí).
  void Export(TSearchDialogBox& F, const fs::path& Target) {
    TFExportBox* B = F.ExportBox();
    WhenShown(B, [B, Target] {
      B->Edit1->SetText(Target.string());
      if (fs::exists(Target))
        WhenModalIs([] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); },
                    [](QWidget* W) {
                      auto* Box = static_cast<QMessageBox*>(W);
                      Box->button(QMessageBox::Yes)->click();
                    });
      QTest::mouseClick(B->BitBtn1, Qt::LeftButton);
    });
    QTest::mouseClick(F.BTExportar, Qt::LeftButton);
  }
  std::string Dir;
  TTable Big;
  TSearchDialog Dialog;
};

TEST_F(LongWork, ACancelledExportWritesNothingAndKeepsTheOldTarget) {
  const fs::path Target = fs::path(Dir) / "salida.db";
  // An earlier export of ten records is the target the cancelled one would replace.
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    AddToFilter(F, "N", "menor que", "10");
    Export(F, Target);
  });
  Dialog.Execute();
  ASSERT_TRUE(fs::exists(Target));
  const std::string Before = Bytes(Target);
  int Shown = 0;
  std::string Text;
  bool Busy = false;
  TBusyWork::SetOnWindowShown([&](TProgressWindow& W) {
    ++Shown;
    Text = W.Text()->text().toStdString();
    Busy = QApplication::overrideCursor() != nullptr;
    EXPECT_TRUE(W.isVisible());
    EXPECT_EQ(W.CancelButton()->text().toStdString(), "Cancelar");
    EXPECT_GE(W.Bar()->maximum(), W.Bar()->value());
    Shot(&W, "progress-export");
    QTest::mouseClick(W.CancelButton(), Qt::LeftButton);
  });
  const int Since = static_cast<int>(Messages->Messages().size());
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    Export(F, Target);
    // The form is usable again, with the whole table, and nothing was said.
    EXPECT_EQ(F.STRegistros->Caption(), "Registros encontrados:" + std::to_string(kRows));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the busy cursor goes with the work";
  });
  Dialog.Execute();
  EXPECT_EQ(Shown, 1);
  EXPECT_EQ(Text, "Exportando: 4.096 de 30.000 registros");
  EXPECT_TRUE(Busy);
  EXPECT_TRUE(MessagesSince(Since).empty());
  EXPECT_EQ(Bytes(Target), Before) << "the old target is whole";
  for (const auto& E : fs::directory_iterator(Dir))
    EXPECT_EQ(E.path().filename().string().find(".tmp"), std::string::npos)
        << "a temporary left: " << E.path();
  // Not cancelled, the same export writes every record.
  TBusyWork::SetOnWindowShown({});
  OnForm(Dialog, [&](TSearchDialogBox& F) { Export(F, Target); });
  Dialog.Execute();
  TTable Written;
  Written.SetDatabaseName(Dir);
  Written.SetTableName("salida.db");
  Written.Open();
  EXPECT_EQ(Written.RecordCount(), kRows);
}

TEST_F(LongWork, ANewTargetOfACancelledExportIsNotCreated) {
  TBusyWork::SetOnWindowShown(
      [](TProgressWindow& W) { QTest::keyClick(&W, Qt::Key_Escape); });  // Escape cancels too
  const fs::path Target = fs::path(Dir) / "nueva.db";
  OnForm(Dialog, [&](TSearchDialogBox& F) { Export(F, Target); });
  Dialog.Execute();
  EXPECT_FALSE(fs::exists(Target));
}

// The text of the window for the reports long work makes.
TEST(ProgressText, SaysWhatAndHowFar) {
  EXPECT_EQ(ProgressText({"Exportando", 1234567, 2000000}),
            "Exportando: 1.234.567 de 2.000.000 registros");
  EXPECT_EQ(ProgressText({"Leyendo registros", 512, -1}), "Leyendo registros: 512 registros");
  EXPECT_EQ(ProgressText({"Consultando la base de datos", 0, -1}),
            "Consultando la base de datos...");
  EXPECT_EQ(ProgressText({"", 0, 0}), "Trabajando: 0 de 0 registros");
}

// Work that reports after the window was cancelled stops there, and the handler before the work
// comes back when it ends.
TEST(BusyWork, CancelStopsTheWorkAtItsNextReport) {
  TBusyWork::SetDelayMs(0);
  bool OuterCalled = false;
  const TProgressHandler Old = SetProgressHandler([&](const TProgress&) {
    OuterCalled = true;
    return true;
  });
  TBusyWork::SetOnWindowShown([](TProgressWindow& W) { W.CancelButton()->click(); });
  int Reached = 0;
  try {
    TBusyWork Work(nullptr);
    for (Reached = 0; Reached < 3; ++Reached) ReportProgress("Buscando", Reached);
  } catch (const EAborted& E) {
    EXPECT_STREQ(E.what(), "Operación cancelada por el usuario");
  }
  EXPECT_EQ(Reached, 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(TBusyWork::Current(), nullptr);
  ReportProgress("Buscando", 1);
  EXPECT_TRUE(OuterCalled) << "the previous handler is back";
  SetProgressHandler(Old);
  TBusyWork::SetOnWindowShown({});
  TBusyWork::SetDelayMs(300);
}

}  // namespace
