// Where the demonstration program finds its data: the alias "DBDEMOS", from KV_ALIASES when
// that names it (a folder, a SQLite file or a PostgreSQL database), else the sample database the
// generator wrote beside the program, in the repository or in the build tree.
#pragma once

#include <string>
#include <vector>

// The database name the demo's tables are opened on.
inline constexpr const char* DemoAlias = "DBDEMOS";

// The folder KV_ALIASES (given as Aliases, "NAME=dir;NAME2=dir") assigns to DBDEMOS, in any
// letter case (the first, when it is named twice); empty when it names no such alias.
std::string DemoAliasIn(const char* Aliases);

// The folders looked at, in order and without repeats, when KV_ALIASES does not name DBDEMOS:
// "sample-db" beside the program (in ExeDir), in the repository and in the build tree.
std::vector<std::string> DemoDatabaseCandidates(const std::string& ExeDir);

// The first of Folders holding the four sample tables (CUSTOMER, ORDERS, ITEMS, PARTS, in any
// table format and letter case). Raises Exception naming every folder looked at when none does.
std::string FindDemoDatabase(const std::vector<std::string>& Folders);

// Makes DBDEMOS name the sample database and returns where it is: what KV_ALIASES gives it (a
// folder, a SQLite file or a PostgreSQL URI, shown without its password), else the folder
// FindDemoDatabase picks among the candidates beside the running program, which is registered
// as the alias. Raises EDatabaseError when KV_ALIASES names a folder that does not exist,
// Exception when no sample database is found.
std::string UseDemoDatabase();

// The name under which DBDEMOS holds the sample table File ("ORDERS.DB"): the file's name in a
// folder, the name without its extension in a database ("ORDERS").
std::string DemoTableName(const std::string& File);
