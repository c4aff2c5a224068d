// Databases: a DatabaseName is an alias (registered by code or by KV_ALIASES="NAME=dir;...")
// or what an alias may name: a directory of table files, a SQLite database file
// ("sqlite:PATH", or a path ending in .sqlite, .sqlite3 or .db3) or a PostgreSQL connection URI
// ("postgresql://..." or "postgres://..."). Table names in a directory resolve in any letter
// case, with a missing extension tried as ".db", ".dbf", ".txt".
#pragma once

#include <string>

#pragma GCC visibility push(default)
namespace kv {

enum class TDatabaseKind { Folder, SQLite, PostgreSQL };

// What a database name denotes once an alias is followed.
struct TDatabaseRef {
  TDatabaseKind Kind = TDatabaseKind::Folder;
  // The folder, the SQLite file's path, or the URI as libpq reads it (password included).
  std::string Target;
  // How messages name the database: the target, a URI without its password.
  std::string Shown;
};

// Registers (or replaces) an alias of a directory or of a database (any name ResolveDatabase
// reads).
void RegisterAlias(const std::string& Name, const std::string& Directory);
void UnregisterAlias(const std::string& Name);
// The kind and target of a database name: an alias (any case) is followed once; a name that is
// neither a SQLite file nor a PostgreSQL URI is a folder (not checked here). The empty name is
// the current directory.
TDatabaseRef ResolveDatabase(const std::string& DatabaseName);
// The kind a name has by its form alone (no alias followed).
TDatabaseKind DatabaseKindOf(const std::string& Name);
// A PostgreSQL URI as messages show it: the password of its user part and a password parameter
// left out; any other text unchanged.
std::string UriWithoutPassword(const std::string& Uri);
// The directory of a database name: an alias (any case), else the name as a directory; empty
// name gives the current directory. Raises EDatabaseError when neither exists, or when the name
// denotes a SQLite or PostgreSQL database.
std::string DatabaseDirectory(const std::string& DatabaseName);
// Confines the queries of a database folder (an alias or a path naming it) to that folder, or
// lets them name table files anywhere again (the default): while confined, the local SQL
// refuses a table whose file lies outside the folder (by "..", an absolute path or a link),
// naming it, and ALTER TABLE never rewrites a file outside. Raises as DatabaseDirectory does.
void SetDatabaseConfined(const std::string& DatabaseName, bool Confined);
// Whether the queries of a database folder are confined to it (false for a name that is not a
// folder).
bool DatabaseConfined(const std::string& DatabaseName);
// The existing file a table name denotes. Raises EDatabaseError naming the table when none.
std::string ResolveTablePath(const std::string& DatabaseName, const std::string& TableName);
// The path a new table file would get (no existence check; case matched when the file exists).
std::string TargetTablePath(const std::string& DatabaseName, const std::string& TableName);

}  // namespace kv
#pragma GCC visibility pop
