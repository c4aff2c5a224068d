// The SQLite-file backend of the database interface: SQLite's C API over a database file, with
// lower, upper and like giving the local SQL's meaning (the same functions as over table files).
#pragma once

#include <memory>

#include "DbConnection.h"

namespace kv {

// Opens an existing SQLite database file (read and write, or read only where the file cannot be
// written). Raises EDatabaseError naming the file when it is missing or is not a database.
std::shared_ptr<TDbConnection> OpenSqliteDatabase(const TDatabaseRef& Ref);

}  // namespace kv
