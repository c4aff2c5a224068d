// The parser of the local SQL: tokens to a tree, by recursive descent.
#pragma once

#include <string_view>

#include "SqlTree.h"

namespace kv {

// Parses one SELECT or ALTER TABLE statement (a trailing ";" is allowed). Raises ESQLError
// naming the offending token and its position for a syntax error or an unsupported statement.
TSqlStatement ParseSql(std::string_view Sql);

}  // namespace kv
