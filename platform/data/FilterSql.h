// The filter language emitted as a database's WHERE condition, finding the same records the
// filter finds over table files: texts in code point order, or as their lower-case forms under
// foCaseInsensitive; an empty text an empty value (Null), as table files store it; a constant
// ending in '*' compared with = or <> a prefix (unless foNoPartialCompare); constants read
// through the locale for the field's type and bound as parameters; "not" with two values (a
// comparison with an empty value is false, so its negation is true).
#pragma once

#include <functional>
#include <string>

#include "DB.h"
#include "SqlDialect.h"

namespace kv {

// The SQL expression of a field's value in the statement being written; raises EDatabaseError
// for a field the database cannot compute (a calculated one).
using TFieldSql = std::function<std::string(const TField& Field)>;

// Text (a filter text) over the fields of DataSet as a condition; empty for a blank text.
// Raises EDatabaseError as TFilterProgram::Compile does for a wrong text.
std::string FilterToSql(const std::string& Text, const TDataSet& DataSet, TFilterOptions Options,
                        const TFieldSql& FieldSql, TSqlParams& Params);

// Locate's test of one field whose value is Expr: Value (converted to the field's type; empty
// or Null: an empty field) matched as Locate matches under Options. Raises EDatabaseError for a
// value the field's type cannot hold.
std::string LocateToSql(const TField& Field, const std::string& Expr, const Variant& Value,
                        TLocateOptions Options, TSqlParams& Params);
// The same for a value of type Type of the field named Name (in messages).
std::string LocateToSql(TFieldType Type, const std::string& Name, const std::string& Expr,
                        const Variant& Value, TLocateOptions Options, TSqlParams& Params);

}  // namespace kv
