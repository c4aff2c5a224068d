// The execution side of the local SQL: an embedded SQLite connection that sees the shared
// table stores through a virtual-table module, with Unicode-correct lower/upper/like.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SqlTranslator.h"
#include "TableStore.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kv {

// Owns one SQLite connection; closes it on destruction.
class TSqliteDatabase {
 public:
  // Opens a private in-memory database with the store module and our functions registered.
  TSqliteDatabase();
  ~TSqliteDatabase();
  TSqliteDatabase(const TSqliteDatabase&) = delete;
  TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;
  sqlite3* Handle() const { return FDb; }
  struct TContext;  // what the store module reads
  // Makes Store visible to SQL as the table Name (no copy; the store must outlive the use).
  // Raises ESQLError naming Shown (the table as the statement named it; Name when empty) when
  // the store has more columns than SQLite's column limit.
  void AttachStore(const std::string& Name, std::shared_ptr<const TTableStore> Store,
                   const std::string& Shown = "");
  // Runs a statement that returns no rows; raises ESQLError with SQLite's message.
  void Exec(const std::string& Sql);
  // Statements report their progress ("Buscando") while they run; when the progress handler
  // stops one, SQLite ends it and this raises what stopped it (EAborted). Step and Exec call it.
  void RaiseIfStopped() const;

 private:
  sqlite3* FDb = nullptr;
  std::unique_ptr<TContext> FContext;
};

// Owns one prepared statement; finalizes it on destruction.
class TSqliteStatement {
 public:
  // Prepares Sql; raises ESQLError naming Original (the statement as the user wrote it).
  TSqliteStatement(TSqliteDatabase& Db, const std::string& Sql, const std::string& Original);
  ~TSqliteStatement();
  TSqliteStatement(const TSqliteStatement&) = delete;
  TSqliteStatement& operator=(const TSqliteStatement&) = delete;
  sqlite3_stmt* Handle() const { return FStmt; }
  // Advances to the next row; false at the end. Raises ESQLError on failure.
  bool Step();

 private:
  TSqliteDatabase& FDb;
  sqlite3_stmt* FStmt = nullptr;
  std::string FOriginal;
};

// Registers lower, upper and like with the meaning they have in the local SQL (Unicode case
// mapping; like case-sensitive, in code points) on a SQLite connection, replacing SQLite's own;
// answers SQLite's result code.
int RegisterSqlTextFunctions(sqlite3* Db);

// The pattern match of LIKE: '%' any run of characters, '_' one character, Escape (when not 0)
// makes the next pattern character literal. Case-sensitive; characters are Unicode code points.
bool SqlLikeMatch(std::string_view Text, std::string_view Pattern, char32_t Escape = 0);

// Resolves table names of statements run against one database and keeps the stores loaded.
class TSqlTableSource {
 public:
  explicit TSqlTableSource(std::string DatabaseName) : FDatabase(std::move(DatabaseName)) {}
  // The table a name denotes (file name, path or bare name), loaded; nullopt when none.
  std::optional<TSqlTableSchema> Find(const std::string& Name);
  // The loaded store of a path that Find returned.
  std::shared_ptr<const TTableStore> Store(const std::string& Path) const;
  // The existing file a table name denotes (normalised), or nullopt.
  std::optional<std::string> ResolvePath(const std::string& Name) const;
  // Makes an in-memory store answer to Name (and to Name without its extension), before any
  // file; its path is Name. For tests and for results kept in memory.
  void Register(const std::string& Name, std::shared_ptr<const TTableStore> Store);
  TSqlSchemaLookup Lookup() {
    return [this](const std::string& Name) { return Find(Name); };
  }

 private:
  std::string FDatabase;
  std::vector<std::pair<std::string, std::shared_ptr<const TTableStore>>> FStores;
  std::vector<std::string> FRegistered;
};

// While one lives, the SELECTs this thread runs read at most MaxRows rows of their result and
// stop there, without asking SQLite for the rest (a result shown only in part need not be read,
// nor kept, whole). A caller that wants to know whether rows were left asks for one more than it
// shows. Limits nest: the innermost holds until it ends.
class TSqlRowLimit {
 public:
  explicit TSqlRowLimit(size_t MaxRows);
  ~TSqlRowLimit();
  TSqlRowLimit(const TSqlRowLimit&) = delete;
  TSqlRowLimit& operator=(const TSqlRowLimit&) = delete;
  // The rows a SELECT run now may read (SIZE_MAX without a limit).
  static size_t Current();

 private:
  size_t FPrevious;
};

// Runs a translated SELECT over the tables and builds the result store.
std::shared_ptr<TTableStore> RunTranslatedSelect(const TSqlTranslation& T, TSqlTableSource& Tables,
                                                 const std::string& Original);
// The rows a translated SELECT returns of its one table, in order, when it selects that table's
// columns as they are (same order, names and types, texts of a known size); nothing otherwise.
// The rows are read from SQLite without a value; an ORDER BY of the table's columns (all one
// way) orders them through the store's cached sorted rows, exactly as SQLite's sort would.
std::optional<std::vector<uint32_t>> RunTranslatedSelectRows(const TSqlTranslation& T,
                                                             TSqlTableSource& Tables,
                                                             const std::string& Original);

// Drops the statement's columns from its table file, rewriting the file in place (atomically).
// Raises ESQLError for an unknown table or field, or when no column would remain; on any
// failure the file is left unchanged.
void RunAlterTable(const TSqlAlterTable& A, TSqlTableSource& Tables);

}  // namespace kv
