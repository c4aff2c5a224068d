// Writing into a database: a table made from a dataset's records (a batch move), and the local
// SQL's ALTER TABLE ... DROP. Each is one transaction: on any failure the database is as it was.
#pragma once

#include <string>
#include <vector>

#include "DbConnection.h"

namespace kv {

// Replaces (or creates) the table TableName with the Fields of Source (columns of the types
// SqlTypeName gives, Key as its primary key when every name of it is copied) and copies every
// record of Source into it. Returns the number of records copied. Raises EDatabaseError naming
// the table and the database.
int CopyIntoDatabase(TDbConnection& Conn, const std::string& TableName, TDataSet& Source,
                     const std::vector<TField*>& Fields, const std::vector<std::string>& Key);

// Runs a local-SQL statement that reads no rows (ALTER TABLE "t" DROP "t"."f" [, DROP ...]).
// Raises ESQLError for a SELECT, an unknown table or field, or dropping every field.
void ExecuteOnDatabase(TDbConnection& Conn, const std::string& Sql);

}  // namespace kv
