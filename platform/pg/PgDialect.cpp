// PostgreSQL expressions with the meaning the table files give: quoting, case, LIKE, text order,
// empty texts as Null, date literals.
#include "PgDialect.h"

#include "DB.h"
#include "PgTypes.h"

namespace kv {

namespace {

std::string Quote(std::string_view S, char Q) {
  std::string Out(1, Q);
  for (char C : S) {
    if (C == '\0') throw EDatabaseError("Un texto con el carácter nulo no cabe en una sentencia");
    if (C == Q) Out += Q;
    Out += C;
  }
  Out += Q;
  return Out;
}

std::string CaseMap(const char* Function, std::string_view Expr) {
  return std::string(Function) + "((" + std::string(Expr) + ") COLLATE " + PgCaseCollation +
         ") COLLATE " + PgByteCollation;
}

// Whether "'' Op Other" can be true for an Other that is not empty.
bool EmptyCanSatisfy(std::string_view Op, bool EmptyOnLeft) {
  if (Op == "=") return false;
  if (Op == "<>" || Op == "!=") return true;
  const bool Less = Op == "<" || Op == "<=";
  return EmptyOnLeft ? Less : !Less;  // '' is below every other text
}

}  // namespace

std::string PgQuoteIdentifier(std::string_view Name) {
  if (Name.empty()) throw EDatabaseError("Un nombre vacío no es un identificador de PostgreSQL");
  return Quote(Name, '"');
}

std::string PgQuoteIdentifier(std::string_view Schema, std::string_view Name) {
  return PgQuoteIdentifier(Schema) + "." + PgQuoteIdentifier(Name);
}

std::string PgStringLiteral(std::string_view Text) {
  return Quote(Text, '\'');
}

std::string PgLower(std::string_view Expr) {
  return CaseMap("lower", Expr);
}

std::string PgUpper(std::string_view Expr) {
  return CaseMap("upper", Expr);
}

std::string PgLike(std::string_view Expr, std::string_view Pattern, bool Not,
                   std::string_view Escape) {
  // PostgreSQL's LIKE escapes with a backslash unless told otherwise.
  return "((" + std::string(Expr) + ") COLLATE " + PgByteCollation +
         (Not ? " NOT LIKE " : " LIKE ") + std::string(Pattern) + " ESCAPE " +
         (Escape.empty() ? "''" : std::string(Escape)) + ")";
}

std::string PgCompareText(const TPgText& A, std::string_view Op, const TPgText& B) {
  auto Side = [&](const TPgText& X, const TPgText& Other, bool Left) {
    const bool Wrap = X.MayBeEmpty && (Other.MayBeEmpty || EmptyCanSatisfy(Op, Left));
    return Wrap ? "NULLIF(" + X.Sql + ", '')" : "(" + X.Sql + ")";
  };
  return "(" + Side(A, B, true) + " COLLATE " + PgByteCollation + " " + std::string(Op) + " " +
         Side(B, A, false) + ")";
}

std::string PgIsNull(std::string_view Expr, bool Text, bool Not) {
  const std::string E = "(" + std::string(Expr) + ")";
  if (!Text) return "(" + E + (Not ? " IS NOT NULL)" : " IS NULL)");
  return Not ? "(" + E + " IS NOT NULL AND " + E + " <> '')"
             : "(" + E + " IS NULL OR " + E + " = '')";
}

std::string PgOrderKey(std::string_view Expr, bool Text, bool Descending) {
  std::string K = Text ? "NULLIF((" + std::string(Expr) + ") COLLATE " + PgByteCollation + ", '')"
                       : "(" + std::string(Expr) + ")";
  return K + (Descending ? " DESC NULLS LAST" : " ASC NULLS FIRST");
}

std::string PgDateLiteral(TDateTime D, TFieldType T) {
  const char* Type = T == ftDate ? "DATE " : T == ftTime ? "TIME " : "TIMESTAMP ";
  return Type + PgStringLiteral(PgDateTimeText(D, T));
}

}  // namespace kv
