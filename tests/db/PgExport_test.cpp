// A copy of a PostgreSQL table's records into table files, streamed block after block: the files
// are those the same rows gathered in a store give, the cursor neither keeps nor names every
// record, and a cancel or records changed meanwhile leave the old file whole.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "DbCursor.h"
#include "Progress.h"
#include "TableFile.h"
#include "db/SqliteTestDb.h"
#include "pg/PgTestServer.h"

using namespace kv;
using namespace pgtest;

namespace fs = std::filesystem;

namespace {

constexpr int kRows = 10000;  // well beyond the windows the cursor keeps

std::string Bytes(const fs::path& P) {
  std::ifstream F(P, std::ios::binary);
  std::ostringstream S;
  S << F.rdbuf();
  return S.str();
}

// The records of DS with all its fields, gathered in a store as exports did before they
// streamed.
TTableStore Gathered(TDataSet& DS) {
  TTableStore S;
  for (int I = 0; I < DS.FieldCount(); ++I) {
    const TField* F = DS.Fields(I);
    S.AddColumn({F->FieldName(), F->DataType(), F->Size(), false});
  }
  S.PrimaryKey = {"n"};
  std::vector<Variant> Row(DS.FieldCount());
  for (int R = 0; R < DS.RecordCount(); ++R) {
    const TBookmark B = DS.RowAt(R);
    for (int I = 0; I < DS.FieldCount(); ++I) Row[I] = DS.Fields(I)->ValueAt(B);
    S.AppendRow(Row);
  }
  return S;
}

TEST(PgExport, RecordsStreamIntoTheSameFilesAndACancelOrAChangeLeavesNothing) {
  TScratchDatabase Db;
  TPgConnection C(Db.Uri());
  C.Exec(
      "CREATE TABLE filas (n integer PRIMARY KEY, name varchar(20), note text, "
      "amount numeric(12,2), ratio double precision, flag boolean, day date, "
      "stamp timestamp(3), small smallint);"
      "INSERT INTO filas SELECT i, CASE WHEN i % 13 = 0 THEN NULL WHEN i % 17 = 0 THEN '' "
      "ELSE 'fila ñ ' || (i % 97) END, CASE WHEN i % 5 = 0 THEN NULL ELSE repeat('x', i % 40) "
      "END, i * 1.25, CASE WHEN i % 7 = 0 THEN NULL ELSE i / 3.0 END, i % 2 = 0, "
      "DATE '2024-01-01' + i % 400, TIMESTAMP '2024-02-29 13:45:30' + i * INTERVAL '1.5 s', "
      "(i % 300)::smallint FROM generate_series(1, 10000) i");
  const fs::path Dir = fs::temp_directory_path() / ("kv-pgexport-" + std::to_string(getpid()));
  fs::remove_all(Dir);
  fs::create_directories(Dir / "gathered");
  fs::create_directories(Dir / "streamed");

  auto T = OpenTable(Db.Uri(), "filas");
  T->SetFilter("small <> 3");
  T->SetFiltered(true);
  auto& Cursor = *static_cast<TDbCursor*>(T->Cursor());
  const TTableStore Reference = Gathered(*T);
  ASSERT_GT(Reference.RowCount(), size_t(kRows * 9 / 10));
  T->First();
  const size_t KnownBefore = Cursor.BookmarksKnown();
  for (const char* Name : {"filas.db", "filas.dbf", "filas.txt"}) {
    SaveTableFile((Dir / "gathered" / Name).string(), Reference);
    TTable Into;
    Into.SetDatabaseName((Dir / "streamed").string());
    Into.SetTableName(Name);
    size_t MostHeld = 0;
    const TProgressHandler Old = SetProgressHandler([&](const TProgress&) {
      MostHeld = std::max(MostHeld, Cursor.RowsHeld());
      return true;
    });
    EXPECT_EQ(static_cast<int>(Reference.RowCount()), Into.BatchMove(T.get(), batCopy));
    SetProgressHandler(Old);
    EXPECT_LE(MostHeld, TDbCursor::CachedWindows * TDbCursor::WindowRows) << Name;
    EXPECT_EQ(KnownBefore, Cursor.BookmarksKnown()) << Name << ": no record named to be copied";
    for (const auto& E : fs::directory_iterator(Dir / "gathered")) {
      const std::string File = E.path().filename().string();
      EXPECT_TRUE(Bytes(E.path()) == Bytes(Dir / "streamed" / File)) << File;
    }
  }

  // A cancel while writing, and records changed between the pass that sizes the fields and the
  // one that writes them: the previous file stays as it was, and nothing else is left.
  const fs::path Target = Dir / "streamed" / "filas.db";
  const std::string Before = Bytes(Target);
  const size_t Entries = std::distance(fs::directory_iterator(Dir / "streamed"), {});
  for (bool Change : {false, true}) {
    bool Changed = false;
    const TProgressHandler Old = SetProgressHandler([&](const TProgress& P) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));  // every report gets here
      if (Change && !Changed && P.Done > 0) {
        TPgConnection(Db.Uri()).Exec("UPDATE filas SET name = 'cambiada' WHERE n = 10");
        Changed = true;
      }
      return Change || std::string(P.What) != "Exportando";
    });
    TTable Into;
    Into.SetDatabaseName((Dir / "streamed").string());
    Into.SetTableName("filas.db");
    if (Change) {
      try {
        Into.BatchMove(T.get(), batCopy);
        ADD_FAILURE() << "records changed during the copy were written";
      } catch (const EDatabaseError& E) {
        EXPECT_NE(std::string(E.what()).find("cambiaron mientras se exportaban"), std::string::npos)
            << E.what();
      }
    } else {
      EXPECT_THROW(Into.BatchMove(T.get(), batCopy), EAborted);
    }
    SetProgressHandler(Old);
    EXPECT_TRUE(Before == Bytes(Target));
    EXPECT_EQ(Entries, size_t(std::distance(fs::directory_iterator(Dir / "streamed"), {})));
  }
  T->Close();
  fs::remove_all(Dir);
}

}  // namespace
