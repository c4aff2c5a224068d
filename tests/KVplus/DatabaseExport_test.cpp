// Export from a search over a database: the records of the result reach the table file, read a
// window at a time (the client never holds the whole result while it copies).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "../../platform/db/DbCursor.h"
#include "DBTables.h"
#include "KVFind.h"
#include "Progress.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

constexpr int kRows = 12000;

TEST(DatabaseExport, AResultOfASqliteSearchIsCopiedWindowByWindow) {
  const fs::path Dir = fs::temp_directory_path() / ("kv-dbexport-" + std::to_string(getpid()));
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
  TKVFind Engine;
  Engine.SetPDataSet(&Filas);
  // Every report of the search and of the copy (reading windows, exporting) looks at how many
  // rows the result's cursor holds.
  size_t MostHeld = 0;
  int Reports = 0;
  const TProgressHandler Old = SetProgressHandler([&](const TProgress&) {
    ++Reports;
    if (Engine.Results())
      if (const auto* C = dynamic_cast<const TDbCursor*>(Engine.Results()->Cursor()))
        MostHeld = std::max(MostHeld, C->RowsHeld());
    return true;
  });
  const std::string Target = (Dir / "salida.db").string();
  Engine.SetFilter("Name<>'fila 3'");
  const bool Written = Engine.ExportResults(Target, "", false);
  SetProgressHandler(Old);
  ASSERT_TRUE(Written);
  EXPECT_GE(Reports, 1);
  EXPECT_LE(MostHeld, TDbCursor::CachedWindows * TDbCursor::WindowRows + 256);
  TTable Out;
  Out.SetDatabaseName(Dir.string());
  Out.SetTableName("salida.db");
  Out.Open();
  // Every row but each seventh, in N's order.
  ASSERT_EQ(Out.RecordCount(), kRows - (kRows + 3) / 7);
  int Expected = 0;
  bool InOrder = true;
  for (Out.First(); !Out.Eof(); Out.Next(), ++Expected) {
    if (Expected % 7 == 3) ++Expected;
    InOrder = InOrder && Out.FieldByName("N")->AsInteger() == Expected &&
              Out.FieldByName("Name")->AsString() == "fila " + std::to_string(Expected % 7);
  }
  EXPECT_TRUE(InOrder);
  Out.Close();
  Filas.Close();
  fs::remove_all(Dir);
}

}  // namespace
