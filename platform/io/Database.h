// Databases: a DatabaseName is an alias (registered by code or by KV_ALIASES="NAME=dir;...")
// or a directory; table names resolve inside it, in any letter case, with a missing extension
// tried as ".db", ".dbf", ".txt".
#pragma once

#include <string>

// Registers (or replaces) an alias.
void RegisterAlias(const std::string& Name, const std::string& Directory);
void UnregisterAlias(const std::string& Name);
// The directory of a database name: an alias (any case), else the name as a directory; empty
// name gives the current directory. Raises EDatabaseError when neither exists.
std::string DatabaseDirectory(const std::string& DatabaseName);
// The existing file a table name denotes. Raises EDatabaseError naming the table when none.
std::string ResolveTablePath(const std::string& DatabaseName, const std::string& TableName);
// The path a new table file would get (no existence check; case matched when the file exists).
std::string TargetTablePath(const std::string& DatabaseName, const std::string& TableName);
