// kvsearch's command line: the options and positional arguments, and how a missing DATABASE
// falls back to the default one of the environment.
#pragma once

#include <functional>
#include <string>
#include <vector>

enum class TOutputFormat { Table, Csv, Json };

// One lookup field asked for with --lookup NAME=TABLE.RESULT(KEY=LOOKUPKEY).
struct TLookupSpec {
  std::string Name, Table, Result, Key, LookupKey;
};

struct TSearchOptions {
  std::string Database, Table, Query, Expression;
  bool HasQuery = false;
  std::string OrderBy;
  bool Descendant = false;
  bool CaseSensitive = false;
  bool IgnoreAccents = false;
  bool ForceSQL = false;
  bool Confine = false;  // queries may not name tables outside the database folder
  bool Explain = false;
  bool CountOnly = false;
  TOutputFormat Format = TOutputFormat::Table;
  long long Limit = -1;  // -1: every record
  std::vector<TLookupSpec> Lookups;
  std::string ExportFile;
  std::vector<std::string> ExportColumns;
  bool AllRecords = false;
};

enum class TParseResult { Ok, Help, Version, UsageError };

// Tells whether a name is an alias or an existing directory (decides the default database).
using TIsDatabase = std::function<bool(const std::string& Name)>;

// Reads the arguments into Opt. DefaultDatabase (may be empty) stands in for a DATABASE the
// command line leaves out. On a usage error, Error says what was wrong.
TParseResult ParseSearchOptions(const std::vector<std::string>& Args,
                                const std::string& DefaultDatabase, const TIsDatabase& IsDatabase,
                                TSearchOptions& Opt, std::string& Error);

// Parses NAME=TABLE.RESULT(KEY=LOOKUPKEY); false when the text has another shape.
bool ParseLookupSpec(const std::string& Text, TLookupSpec& Spec);

// The column list ExportResults expects: each name in double quotes, joined by ", ".
std::string QuotedColumnList(const std::vector<std::string>& Columns);

// The usage text.
const char* UsageText();
