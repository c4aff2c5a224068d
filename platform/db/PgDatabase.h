// The PostgreSQL backend of the database interface, over the client of platform/pg: the catalog
// read from pg_catalog, statements with bound parameters (cancelled on the server when the
// user stops them), and values converted between the server's types and the platform's fields
// by the one mapping of PgTypes.h.
#pragma once

#include <memory>

#include "DbConnection.h"

namespace kv {

// Connects to the database a PostgreSQL URI names. Raises EDatabaseError (an EPgError) naming
// the database without its password when it cannot be reached.
std::shared_ptr<TDbConnection> OpenPgDatabase(const TDatabaseRef& Ref);

}  // namespace kv
