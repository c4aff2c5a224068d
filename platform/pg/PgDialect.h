// The pieces of PostgreSQL SQL that give a statement the meaning it has on the table files, for
// the emitters of the SQL and filter trees: names quoted, constants as literals, lower()/upper()
// with our full Unicode case mapping, LIKE case-sensitive with '%' and '_' only, texts compared
// and ordered by their UTF-8 bytes with Nulls first, an empty text taken as Null, dates as date
// literals. Each function takes and returns SQL text; operands are SQL the caller built.
#pragma once

#include <string>
#include <string_view>

#include "DateTime.h"
#include "FieldTypes.h"

namespace kv {

// An identifier in double quotes, quotes doubled: Order "x" -> "Order ""x""". The server keeps
// its letter case. Raises EDatabaseError for an empty name or one with a NUL character.
std::string PgQuoteIdentifier(std::string_view Name);
// A schema-qualified name, each part quoted: ("sales", "orders") -> "sales"."orders".
std::string PgQuoteIdentifier(std::string_view Schema, std::string_view Name);
// A string constant in single quotes, quotes doubled, backslashes kept as they are (the session
// runs with standard_conforming_strings on). Raises EDatabaseError for a NUL character.
std::string PgStringLiteral(std::string_view Text);

// The collation whose case mapping is ours (the ICU mapping of platform/core/Unicode.h: ß -> SS,
// final sigma, İ -> i̇, ligatures), and the one whose order is ours (the bytes of UTF-8).
inline constexpr const char* PgCaseCollation = "\"es-x-icu\"";
inline constexpr const char* PgByteCollation = "\"C\"";
// lower(Expr) and upper(Expr) as AnsiLowerCase and AnsiUpperCase give them, compared and ordered
// by bytes afterwards.
std::string PgLower(std::string_view Expr);
std::string PgUpper(std::string_view Expr);

// Expr [NOT] LIKE Pattern, case-sensitive, '%' any run and '_' one character; a backslash is an
// ordinary character unless Escape (an SQL expression, such as PgStringLiteral("\\")) is given.
std::string PgLike(std::string_view Expr, std::string_view Pattern, bool Not = false,
                   std::string_view Escape = {});

// A text operand of a comparison: its SQL, and whether it may be the empty string (a column or an
// expression over one may; a constant that is not empty may not).
struct TPgText {
  std::string Sql;
  bool MayBeEmpty = true;
};
// A comparison of two texts (Op: = <> < > <= >=) by their bytes, where an empty text is Null as
// in the table files: an operand that may be empty is read as NULLIF(x, '') wherever the empty
// string could make the comparison true, and is left bare (so an index serves) where it cannot.
std::string PgCompareText(const TPgText& A, std::string_view Op, const TPgText& B);
// Expr IS [NOT] NULL, where for a text the empty string counts as Null.
std::string PgIsNull(std::string_view Expr, bool Text, bool Not = false);
// One key of ORDER BY: texts by their bytes; Nulls (and empty texts) first ascending, last
// descending.
std::string PgOrderKey(std::string_view Expr, bool Text, bool Descending);

// A date, time or moment as a typed literal (DATE '2024-12-31', TIME '13:05:00.000', TIMESTAMP
// '2024-12-31 13:05:00.000'); T is ftDate, ftTime or ftDateTime. The local SQL's "MM/DD/YYYY"
// constants, once read, are written through this.
std::string PgDateLiteral(TDateTime D, TFieldType T);

}  // namespace kv
