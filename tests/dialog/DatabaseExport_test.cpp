// Export from a search over a database: the records of the result reach the table file, read a
// window at a time (the client never holds the whole result while it copies).
#include <filesystem>
#include <fstream>

#include "../../platform/db/DbCursor.h"
#include "DialogTestSupport.h"
#include "Progress.h"

using namespace kv;

using namespace dialogtest;
namespace fs = std::filesystem;

namespace {

constexpr int kRows = 12000;

TEST(DatabaseExport, AResultOfASqliteSearchIsCopiedWindowByWindow) {
  const fs::path Dir = TestFilePath("dbexport");
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  const std::string Db = "sqlite:" + (Dir / "filas.sqlite").string();
  // An empty file is an empty SQLite database.
  std::ofstream(Dir / "filas.sqlite").flush();
  {
    TMemDataSet Rows;
    Rows.FieldDefs().Add("N", ftInteger);
    Rows.FieldDefs().Add("Name", ftString, 20);
    Rows.CreateDataSet();
    for (int I = 0; I < kRows; ++I) Rows.AppendRecord({I, "fila " + std::to_string(I % 7)});
    TTable Into;
    Into.SetDatabaseName(Db);
    Into.SetTableName("filas");
    ASSERT_EQ(Into.BatchMove(&Rows, batCopy), kRows);
  }
  TTable Filas;
  Filas.SetDatabaseName(Db);
  Filas.SetTableName("filas");
  Filas.SetIndexFieldNames("N");
  Filas.Open();
  TSearchDialog Dialog;
  Dialog.SetDataSet(&Filas);
  // Every report of the search and of the copy (reading windows, exporting) looks at how many rows the result's cursor holds.
  size_t MostHeld = 0;
  int Reports = 0;
  TKVFind* Engine = Dialog.SearchForm()->Engine();
  const TProgressHandler Old = SetProgressHandler([&](const TProgress&) {
    ++Reports;
    if (const auto* C = dynamic_cast<const TDbCursor*>(Engine->Results()->Cursor()))
      MostHeld = std::max(MostHeld, C->RowsHeld());
    return true;
  });
  const std::string Target = (Dir / "salida.db").string();
  OnForm(Dialog, [&](TSearchDialogBox& F) {
    AddToFilter(F, "Name", "distinto a", "fila 3");
    ASSERT_TRUE(Engine->ExportResults(Target, "", false));
  });
  const int Since = Messages->Count();
  Dialog.Execute();
  SetProgressHandler(Old);
  EXPECT_TRUE(MessagesSince(Since).empty());
  EXPECT_GE(Reports, 1);
  EXPECT_LE(MostHeld, TDbCursor::CachedWindows * TDbCursor::WindowRows + 256);
  TTable Written;
  Written.SetDatabaseName(Dir.string());
  Written.SetTableName("salida.db");
  Written.Open();
  // Every row but each seventh, in N's order.
  ASSERT_EQ(Written.RecordCount(), kRows - (kRows + 3) / 7);
  int Expected = 0;
  bool InOrder = true;
  for (Written.First(); !Written.Eof(); Written.Next(), ++Expected) {
    if (Expected % 7 == 3) ++Expected;
    InOrder = InOrder && Written.FieldByName("N")->AsInteger() == Expected &&
              Written.FieldByName("Name")->AsString() == "fila " + std::to_string(Expected % 7);
  }
  EXPECT_TRUE(InOrder);
  Filas.Close();
  fs::remove_all(Dir);
}

}  // namespace
