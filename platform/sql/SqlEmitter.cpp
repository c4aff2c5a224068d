// Writing a local-SQL SELECT for a database (see SqlEmitter.h).
#include "SqlEmitter.h"

#include "LocalSQL.h"
#include "SqlParser.h"

namespace kv {

namespace {

std::string HiddenName(size_t N) {
  return "__kv_s" + std::to_string(N + 1);
}

}  // namespace

TSqlPagedSelect EmitPagedSelect(const std::string& Sql, const TSqlSchemaLookup& Lookup,
                                const TSqlDatabaseTarget& Target) {
  const TSqlStatement St = ParseSql(Sql);
  if (!St.Select) throw ESQLError("La sentencia no es una consulta SELECT: " + Sql);
  TSqlTranslation T = TranslateSelect(St, Lookup, &Target);
  TSqlPagedSelect P;
  P.Text = T.Text;
  P.Columns = T.Columns;
  P.Tables = T.Tables;
  // Every table must tell its rows apart for the rows of the statement to be told apart.
  std::vector<std::vector<std::string>> Ids;
  bool Identified = !T.RowText.empty();
  for (size_t I = 0; I < T.Tables.size() && Identified; ++I) {
    Ids.push_back(Target.RowIdentity(T.Tables[I], Target.QuoteName(SqlTableName(I))));
    Identified = !Ids.back().empty();
  }
  if (!Identified) {
    // Rows numbered as the statement gives them, its own order kept inside.
    const std::string N = Target.QuoteName(HiddenName(0));
    P.Select = "SELECT \"q\".*, row_number() OVER () AS " + N + " FROM (" + T.Text + ") AS \"q\"";
    P.Sort.push_back({N, false, true});
    P.IdentityColumns = 1;
    return P;
  }
  std::string Hidden;
  auto Add = [&](const std::string& Expr, bool Desc, bool NotNull) {
    const std::string N = Target.QuoteName(HiddenName(P.Sort.size()));
    Hidden += ", " + Expr + " AS " + N;
    P.Sort.push_back({N, Desc, NotNull});
  };
  for (const auto& O : T.OrderTerms) Add(O.Sql, O.Desc, false);
  // The first table's key is never empty; a joined table's may be (an outer join).
  for (size_t I = 0; I < Ids.size(); ++I)
    for (const auto& E : Ids[I]) Add(E, false, I == 0);
  P.IdentityColumns = P.Sort.size() - T.OrderTerms.size();
  P.Select = "SELECT " + (T.Items.empty() ? std::string("1") : T.Items) + Hidden + T.Body;
  return P;
}

}  // namespace kv
