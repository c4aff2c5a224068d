// The translator of the local SQL: resolves table files and field names against the tables'
// schemas and writes the SQLite SQL that the engine runs, with the result's column layout.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SqlLexer.h"
#include "SqlTree.h"
#include "TableStore.h"

namespace kv {

// A table file as the translator sees it: its identity (the resolved path) and its columns.
struct TSqlTableSchema {
  std::string Path;
  std::vector<TColumnDef> Columns;
};

// Finds the table a name in a statement denotes (a file name, a path or a bare name);
// nullopt when there is none.
using TSqlSchemaLookup = std::function<std::optional<TSqlTableSchema>(const std::string& Name)>;

// One column of the result. DataType ftUnknown means "take the type from the values".
struct TSqlResultColumn {
  TColumnDef Def;
  // For a plain column reference: the FROM entry and the column it copies.
  int SourceTable = -1;
  int SourceColumn = -1;
};

struct TSqlTranslation {
  std::string Text;                     // the SQLite statement
  std::vector<TSqlTableSchema> Tables;  // the FROM entries in order: SqlTableName(0), ...
  std::vector<TSqlResultColumn> Columns;
  // The same query returning, per row, the row number of each FROM entry (Null for an
  // unmatched outer join) followed by the columns that are not plain column references, in
  // result order; the engine copies plain columns straight from the stores. Empty when the
  // query groups, aggregates or removes duplicates, where row numbers would change the result.
  std::string RowText;
  // One term of ORDER BY that names a column of a FROM entry as it is.
  struct TOrderKey {
    int Table = -1;
    int Column = -1;
    bool Desc = false;
  };
  // The ORDER BY terms when every one names a column as it is and RowText exists (the rows'
  // order then follows from the stores' sorted rows), with UnorderedRowText: RowText without its
  // ORDER BY. Both empty otherwise.
  std::vector<TOrderKey> OrderKeys;
  std::string UnorderedRowText;
  // UnorderedRowText returns every row of its one table (no WHERE, no join).
  bool EveryRow = false;
  // The pieces of Text: the select list, FROM up to HAVING, and the ORDER BY terms (each with
  // its direction), for a statement run with columns or a page of its own around it.
  std::string Items;
  std::string Body;
  struct TOrderTerm {
    std::string Sql;
    bool Desc = false;
  };
  std::vector<TOrderTerm> OrderTerms;
};

// What a translation writes differently for a database other than the table stores: the
// tables as the database names them, and constants as it stores them.
class TSqlTarget {
 public:
  virtual ~TSqlTarget();
  // The FROM entry Index, which the statement names SqlTableName(Index).
  virtual std::string TableReference(size_t Index, const TSqlTableSchema& Table) const = 0;
  // A date, time or date-time constant (days since 1899-12-30) compared with a column of type T.
  virtual std::string DateConstant(double Days, TFieldType T) const = 0;
  // The constant TRUE or FALSE.
  virtual std::string BooleanConstant(bool V) const = 0;
  // Expr IS NULL (IS NOT NULL when Not), Expr having type T.
  virtual std::string NullTest(const std::string& Expr, TFieldType T, bool Not) const = 0;
  // A call of a scalar function of the local SQL (its name in capitals, the arguments' SQL), as
  // the database computes it with the same meaning; Plain is the call as written for SQLite.
  virtual std::string Call(const std::string& Name, const std::vector<std::string>& Args,
                           const std::string& Plain) const {
    (void)Name;
    (void)Args;
    return Plain;
  }
  // A [NOT] LIKE with the local SQL's meaning; Plain is the comparison as written for SQLite.
  virtual std::string Like(const std::string& Expr, const std::string& Pattern, bool Not,
                           const std::string& Escape, const std::string& Plain) const {
    (void)Expr;
    (void)Pattern;
    (void)Not;
    (void)Escape;
    return Plain;
  }
};

// Translates a parsed SELECT. Raises ESQLError naming the token and its position for an
// unknown table, field or function, a wrong argument count or a type mismatch.
// With a Target, the statement is written for that database instead of the table stores.
TSqlTranslation TranslateSelect(const TSqlStatement& St, const TSqlSchemaLookup& Lookup,
                                const TSqlTarget* Target = nullptr);

// The name under which the engine exposes the FROM entry Index to SQLite ("t1", "t2", ...).
std::string SqlTableName(size_t Index);

// Reads a date, time or date-time constant ("MM/DD/YYYY", "MM/DD/YYYY hh:mm[:ss]", "hh:mm[:ss]")
// for a column of type T, as the stored days since 1899-12-30. False when it does not read.
bool ParseSqlDateConstant(std::string_view Text, TFieldType T, double& Days);

// Whether a table matches a qualifier written in a statement: by alias, by the name as written
// (any letter case), or by the file the qualifier resolves to.
bool SqlQualifierMatches(const std::string& Qualifier, const std::string& WrittenName,
                         const std::string& Alias, const std::string& Path,
                         const TSqlSchemaLookup& Lookup);

}  // namespace kv
