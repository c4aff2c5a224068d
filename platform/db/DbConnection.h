// The one interface of the data layer to a database: the catalog (a table's columns and
// indexes), statements run with bound parameters, and the rows they read. A backend per kind of
// database implements it (SQLite files now); nothing above it knows which one it talks to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "DB.h"
#include "Database.h"
#include "SqlDialect.h"

namespace kv {

// How a database holds one value.
enum class TDbType : uint8_t { Null, Integer, Float, Text, Blob };

// One value read from a database; a text points into the rows it was read with.
struct TDbValueRef {
  TDbType Type = TDbType::Null;
  int64_t Int = 0;
  double Float = 0;
  std::string_view Text;
};

// The rows one statement read: a fixed number of values a row, kept in one block (no
// allocation per row or per value, beyond the block's growth).
class TDbRows {
 public:
  void Reset(int Columns);
  int ColumnCount() const { return FColumns; }
  size_t RowCount() const { return FColumns ? FCells.size() / FColumns : 0; }
  TDbValueRef At(size_t Row, int Col) const;
  // The backend appends ColumnCount() values a row, in order.
  void AddNull() { FCells.push_back({}); }
  void AddInt(int64_t V);
  void AddFloat(double V);
  void AddText(std::string_view V, bool Blob = false);
  void Add(const TDbValueRef& V);

 private:
  struct TCell {
    TDbType Type = TDbType::Null;
    uint32_t Length = 0;
    union {
      int64_t Int = 0;
      double Float;
      uint64_t Offset;
    };
  };
  int FColumns = 0;
  std::vector<TCell> FCells;
  std::string FArena;
};

// A column of a table or view as the catalog describes it, with the platform's field for it.
struct TDbColumnInfo {
  TColumnDef Def;
  std::string DeclaredType;  // as the database names the type
  bool NotNull = false;
  // A type of no field kind of ours (uuid, json, an array): shown, searched and compared as
  // the database writes it as text.
  bool AsText = false;
};

struct TDbIndexInfo {
  std::string Name;
  std::vector<std::string> Columns;
  bool Unique = false;
  bool Primary = false;
};

struct TDbTableInfo {
  std::string Sql;    // the table as statements name it (quoted, with its schema when given)
  std::string Shown;  // the table as messages name it
  bool View = false;
  std::vector<TDbColumnInfo> Columns;
  std::vector<std::string> PrimaryKey;
  std::vector<TDbIndexInfo> Indexes;
  // Expressions (over a row of the table, unqualified) whose values tell each row from every
  // other: the primary key, else a unique index over columns that are never empty, else the
  // database's own row id; empty when there is none (a view).
  std::vector<std::string> Identity;
  // Index of the column named Name (any letter case), -1 when absent.
  int ColumnIndex(std::string_view Name) const;
};

class TDbConnection {
 public:
  explicit TDbConnection(TDatabaseRef Ref) : FRef(std::move(Ref)) {}
  virtual ~TDbConnection();
  TDbConnection(const TDbConnection&) = delete;
  TDbConnection& operator=(const TDbConnection&) = delete;

  const TDatabaseRef& Ref() const { return FRef; }
  virtual const TSqlDialect& Dialect() const = 0;
  // The table or view a name denotes ("orders", "\"Orders\"", "main.orders"), under the
  // database's rules for letter case. Raises EDatabaseError naming the table and the database
  // when there is none.
  virtual TDbTableInfo Table(const std::string& Name) = 0;
  // Runs a statement and appends the rows it reads to Out (Reset to its number of columns).
  // A long statement reports its progress (What) and stops when the handler says so (EAborted).
  // Raises EDatabaseError with the database's message and the statement.
  virtual void Query(const std::string& Sql, const std::vector<TSqlParam>& Params, TDbRows& Out,
                     const char* What = "Buscando") = 0;
  // Runs a statement that reads no rows.
  virtual void Execute(const std::string& Sql, const std::vector<TSqlParam>& Params) = 0;
  // A value read from a column whose field has type T, as the platform holds it (an empty text
  // is Null, as in table files; a value the type cannot hold is Null too).
  virtual Variant ToVariant(const TDbValueRef& V, TFieldType T) const = 0;
  // The database's own name of a column type for a field (for the tables it creates).
  virtual std::string TypeName(TFieldType T, int Size) const = 0;
  // A constant written into a statement: a date, time or date-time of type T (days since
  // 1899-12-30) as the database compares it with such a column; TRUE or FALSE.
  virtual std::string DateLiteral(double Days, TFieldType T) const = 0;
  virtual std::string BooleanLiteral(bool V) const = 0;
  // The field types of the columns Relation (a table, or a statement in parentheses) gives, by
  // name, as the database types them before any row is read; empty where it does not.
  virtual std::vector<std::pair<std::string, TFieldType>> ColumnTypes(const std::string& Relation) {
    (void)Relation;
    return {};
  }
  // Asks the statement running now to stop; safe from another thread.
  virtual void Cancel() = 0;
  // A value read from the database, as a parameter that finds it again exactly.
  static TSqlParam Raw(const TDbValueRef& V);

  // Sees every statement the datasets send through Query and Execute, with its parameters, before
  // it runs (the backend's own catalog reads excepted); empty: none. Set from the thread that
  // runs the statements; a trace that runs statements itself sees none of them.
  using TStatementTrace =
      std::function<void(const std::string& Sql, const std::vector<TSqlParam>& Params)>;
  void SetStatementTrace(TStatementTrace Trace) { FTrace = std::move(Trace); }

 protected:
  // Called by the backend with each statement it is about to send.
  void Traced(const std::string& Sql, const std::vector<TSqlParam>& Params);

 private:
  TDatabaseRef FRef;
  TStatementTrace FTrace;
  bool FInTrace = false;
};

// The connection to a database (a SQLite file or a PostgreSQL server): one per database a
// process, shared by every dataset on it and kept while one of them holds it. Raises
// EDatabaseError naming the database (without password) when it cannot be opened.
std::shared_ptr<TDbConnection> ConnectDatabase(const TDatabaseRef& Ref);

}  // namespace kv
