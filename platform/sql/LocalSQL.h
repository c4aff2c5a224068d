// The local SQL over table files: tokenizer -> parser -> tree -> SQLite SQL, run by an embedded
// SQLite over the shared table stores.
//   SELECT [DISTINCT] list FROM tables [WHERE] [GROUP BY] [HAVING] [ORDER BY ... ASC|DESC]
//   ALTER TABLE "file" DROP "file"."field" [, DROP ...]
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DB.h"
#include "TableStore.h"

namespace kv {

// Errors in a statement: the message names the token and its 1-based position.
class ESQLError : public EDatabaseError {
  using EDatabaseError::EDatabaseError;
};

// Runs a SELECT against the tables of DatabaseName (alias or directory) and returns the
// result as a new store whose column types follow the source columns.
std::shared_ptr<TTableStore> ExecuteSelect(const std::string& Sql, const std::string& DatabaseName);

// What a SELECT opened for a dataset gives: a store, and when that store is a table's own (the
// statement selects rows of one table, all or some, in any order, with its columns as they are,
// so no value needs copying) the rows of the result in their order.
struct TSelectResult {
  std::shared_ptr<const TTableStore> Store;
  std::optional<std::vector<uint32_t>> Rows;
};
// Runs a SELECT like ExecuteSelect, giving the rows of the table's own store where it can.
TSelectResult OpenSelect(const std::string& Sql, const std::string& DatabaseName);

// Runs a statement that returns no rows (ALTER TABLE ... DROP). Raises ESQLError for a SELECT
// or anything unsupported; a failure changes no file.
void ExecuteStatement(const std::string& Sql, const std::string& DatabaseName);

// Translates a statement to the SQLite SQL that is run (for tests and diagnostics).
std::string TranslateToSQLite(const std::string& Sql, const std::string& DatabaseName);

}  // namespace kv
