// The mapping between the column types databases declare and the platform's field types, both
// ways (the table in platform/io/FORMATS.md), and the text forms of dates and times a SQLite
// file holds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "FieldTypes.h"

namespace kv {

// The field type (and size, for texts of a declared length) of a column declared as Declared:
// SQL's and PostgreSQL's type names with their arguments, in any letter case. A type the
// platform has no field for reads as a text without length (ftMemo).
TFieldType FieldTypeOfDeclared(std::string_view Declared, int& Size);
// The column type a table created from a field of type T (and Size) declares; it reads back as
// the same field type.
std::string SqlTypeName(TFieldType T, int Size);

// A qualified name as written ("orders", "sales.orders", "\"Orders\"", "\"my schema\".t"):
// its parts, quotes taken off (a doubled quote inside standing for one) and Quoted telling for
// each whether it was quoted. Raises EDatabaseError naming Name when a part is empty or a quote
// is not closed.
struct TNamePart {
  std::string Text;
  bool Quoted = false;
};
std::vector<TNamePart> SplitQualifiedName(const std::string& Name);

// A date, time or date-time (days since 1899-12-30) as ISO 8601 text: "YYYY-MM-DD",
// "hh:mm:ss" and "YYYY-MM-DD hh:mm:ss", with ".zzz" only when there are milliseconds.
std::string IsoDateText(double Days, TFieldType T);
// Reads such a text (also with 'T' between date and time, a trailing 'Z' or an offset, which
// is ignored, and minutes without seconds) for a field of type T: a time field keeps the time
// of day, a date field the day. False when it does not read.
bool ParseIsoDate(std::string_view Text, TFieldType T, double& Days);

}  // namespace kv
