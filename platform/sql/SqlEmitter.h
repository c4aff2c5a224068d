// The local SQL written for a database from its parse tree: the same resolution of tables,
// fields and constants as over table files, with the tables named as the database names them
// and constants written as it stores them (TSqlTarget), and with what a dataset needs to read
// the result a window at a time: hidden columns holding the order of the rows, made total by
// each table's row identity, or a row number where the statement's rows have no identity (a
// grouped, distinct or aggregated result).
#pragma once

#include <string>
#include <vector>

#include "SqlTranslator.h"

namespace kv {

// A database as the emitter writes for it.
class TSqlDatabaseTarget : public TSqlTarget {
 public:
  // Expressions over a table of the statement, named Alias, whose values tell its rows apart
  // (its key, or a row id); empty when there are none (a view).
  virtual std::vector<std::string> RowIdentity(const TSqlTableSchema& Table,
                                               const std::string& Alias) const = 0;
  // A quoted identifier.
  virtual std::string QuoteName(const std::string& Name) const = 0;
};

// One column of the result that orders its rows.
struct TSqlSortColumn {
  std::string Name;  // a column of Select, quoted
  bool Desc = false;
  bool NotNull = false;  // never empty (a key of the first table)
};

struct TSqlPagedSelect {
  // The statement as translated, with its ORDER BY (what messages and explanations show).
  std::string Text;
  // The statement to read by windows, without an ORDER BY: the result's columns, then the
  // hidden ones that Sort names.
  std::string Select;
  std::vector<TSqlResultColumn> Columns;
  // The order of the rows, total: equal values in every term mean the same row.
  std::vector<TSqlSortColumn> Sort;
  // How many of the last Sort columns are the rows' identity.
  size_t IdentityColumns = 0;
  // The FROM entries as the translation resolved them.
  std::vector<TSqlTableSchema> Tables;
};

// Parses and writes a SELECT of the local SQL for Target. Raises ESQLError as the local SQL
// does for a statement that is wrong, names a table the database does not have or is not a
// SELECT.
TSqlPagedSelect EmitPagedSelect(const std::string& Sql, const TSqlSchemaLookup& Lookup,
                                const TSqlDatabaseTarget& Target);

}  // namespace kv
