// A SQLite database file a test writes with SQLite's own API, and what the database tests share.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "DBTables.h"
#include "Variant.h"

using namespace kv;

class TSqliteFile {
 public:
  TSqliteFile() {
    const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string Name = std::string(Info->test_suite_name()) + "-" + Info->name();
    for (char& C : Name)
      if (C == '/') C = '_';
    FPath = (std::filesystem::temp_directory_path() /
             ("kvdb-" + std::to_string(getpid()) + "-" + Name + ".sqlite"))
                .string();
    std::filesystem::remove(FPath);
    EXPECT_EQ(SQLITE_OK, sqlite3_open(FPath.c_str(), &FDb));
  }
  ~TSqliteFile() {
    sqlite3_close(FDb);
    std::filesystem::remove(FPath);
  }
  TSqliteFile(const TSqliteFile&) = delete;
  TSqliteFile& operator=(const TSqliteFile&) = delete;

  const std::string& Path() const { return FPath; }
  // The database name datasets open it by.
  std::string Name() const { return "sqlite:" + FPath; }
  void Exec(const std::string& Sql) {
    char* Err = nullptr;
    if (sqlite3_exec(FDb, Sql.c_str(), nullptr, nullptr, &Err) != SQLITE_OK) {
      ADD_FAILURE() << (Err ? Err : "?") << " in " << Sql;
      sqlite3_free(Err);
    }
  }
  // Inserts rows (integers, reals, texts, Nulls) with bound values, in one transaction.
  void Insert(const std::string& Table, const std::vector<std::vector<Variant>>& Rows) {
    Exec("BEGIN");
    for (const auto& Row : Rows) {
      std::string Sql = "INSERT INTO " + Table + " VALUES (";
      for (size_t I = 0; I < Row.size(); ++I) Sql += I ? ", ?" : "?";
      sqlite3_stmt* St = nullptr;
      ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(FDb, (Sql + ")").c_str(), -1, &St, nullptr));
      for (size_t I = 0; I < Row.size(); ++I) {
        const Variant& V = Row[I];
        const int At = static_cast<int>(I) + 1;
        if (V.IsNullOrEmpty())
          sqlite3_bind_null(St, At);
        else if (V.IsString())
          sqlite3_bind_text(St, At, V.AsString().c_str(), -1, SQLITE_TRANSIENT);
        else if (V.IsOrdinal())
          sqlite3_bind_int64(St, At, V.AsInt64());
        else
          sqlite3_bind_double(St, At, V.AsDouble());
      }
      EXPECT_EQ(SQLITE_DONE, sqlite3_step(St));
      sqlite3_finalize(St);
    }
    Exec("COMMIT");
  }
  // The first column of the first row of a query, as text ("" for none).
  std::string Scalar(const std::string& Sql) {
    sqlite3_stmt* St = nullptr;
    EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(FDb, Sql.c_str(), -1, &St, nullptr)) << Sql;
    std::string R;
    if (St && sqlite3_step(St) == SQLITE_ROW && sqlite3_column_text(St, 0))
      R = reinterpret_cast<const char*>(sqlite3_column_text(St, 0));
    sqlite3_finalize(St);
    return R;
  }

 private:
  std::string FPath;
  sqlite3* FDb = nullptr;
};

// A table of the database, open.
inline std::unique_ptr<TTable> OpenTable(const std::string& Database, const std::string& Name,
                                         const std::string& Index = "") {
  auto T = std::make_unique<TTable>();
  T->SetDatabaseName(Database);
  T->SetTableName(Name);
  T->SetIndexFieldNames(Index);
  T->Open();
  return T;
}

// A field's display texts over every record, joined by ",".
inline std::string Texts(TDataSet& DS, const std::string& Field) {
  std::string S;
  TField* F = DS.FieldByName(Field);
  for (int I = 0; I < DS.RecordCount(); ++I) S += (I ? "," : "") + F->DisplayTextAt(DS.RowAt(I));
  return S;
}
