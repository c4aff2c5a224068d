// Tokenizer, parser and translator of the local SQL against fixed schemas: the SQLite text
// written for the search engine's statements, the name-resolution rules, dates, and the exact
// error messages (token and position).
#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "LocalSQL.h"
#include "SqlLexer.h"
#include "SqlParser.h"
#include "SqlTranslator.h"
#include "Unicode.h"

using namespace kv;

namespace {

TColumnDef Col(const char* Name, TFieldType T, int Size = 0) {
  return TColumnDef{Name, T, Size, false};
}

// customer, orders and items in a fake database directory /db.
std::optional<TSqlTableSchema> FakeLookup(const std::string& Name) {
  static const std::map<std::string, TSqlTableSchema> Tables = {
      {"customer",
       {"/db/CUSTOMER.DB",
        {Col("CustNo", ftInteger), Col("Company", ftString, 30), Col("State", ftString, 2),
         Col("Country", ftString, 20)}}},
      {"orders",
       {"/db/ORDERS.DB",
        {Col("OrderNo", ftInteger), Col("CustNo", ftInteger), Col("SaleDate", ftDateTime),
         Col("ShipDate", ftDate), Col("ShipTime", ftTime), Col("Amount", ftCurrency),
         Col("Paid", ftBoolean)}}},
      {"items", {"/db/ITEMS.DB", {Col("OrderNo", ftInteger), Col("ItemNo", ftInteger)}}},
      // Names that would change a statement if written into it as they stand.
      {"p\"q",
       {"/db/P\"Q.DB",
        {Col("n\"\tis\tnot\tnull\tor\t\"t\".\"n", ftInteger), Col("Last Name", ftString, 10)}}},
  };
  std::string Key = AnsiLowerCase(Name);
  if (Key.rfind("/db/", 0) == 0) Key = Key.substr(4);
  if (Key.size() > 3 && Key.substr(Key.size() - 3) == ".db") Key.resize(Key.size() - 3);
  auto It = Tables.find(Key);
  if (It == Tables.end()) return std::nullopt;
  return It->second;
}

TSqlTranslation Translate(const std::string& Sql) {
  TSqlStatement St = ParseSql(Sql);
  return TranslateSelect(St, FakeLookup);
}

std::string ErrorOf(const std::string& Sql) {
  try {
    Translate(Sql);
  } catch (const ESQLError& E) {
    return E.Message();
  }
  return "(no error)";
}

const char* CustomerStar =
    "SELECT \"t1\".\"CustNo\" AS \"CustNo\", \"t1\".\"Company\" AS \"Company\", \"t1\".\"State\" "
    "AS \"State\", \"t1\".\"Country\" AS \"Country\" FROM \"t1\"";

struct TTranslationCase {
  const char* Sql;
  std::string Expected;  // the SQLite text after the FROM list
};

TEST(SqlTranslator, SearchEngineStatements) {
  const TTranslationCase Cases[] = {
      {"Select * From \"customer.db\" Where (lower(\"customer.db\".\"Company\")=\"sig\" and "
       "(lower(\"customer.db\".\"State\")=\"ca\" or lower(\"customer.db\".\"State\")=\"hi\")) "
       "Order by \"customer.db\".\"Company\" ASC",
       " WHERE ((lower(\"t1\".\"Company\") = 'sig') AND ((lower(\"t1\".\"State\") = 'ca') OR "
       "(lower(\"t1\".\"State\") = 'hi'))) ORDER BY \"t1\".\"Company\" ASC"},
      {"Select  * From  customer Where (State=\"CA\") and ( Country='US'\n)",
       " WHERE ((\"t1\".\"State\" = 'CA') AND (\"t1\".\"Country\" = 'US'))"},
      {"Select * From \"customer.db\" Where (lower(\"customer.db\".\"Company\") IS NULL )",
       " WHERE (lower(\"t1\".\"Company\") IS NULL)"},
      {"Select * From \"customer.db\" Where (lower(\"customer.db\".\"Company\") like \"sig%\") "
       "Order by \"customer.db\".\"Company\" DESC",
       " WHERE (lower(\"t1\".\"Company\") LIKE 'sig%') ORDER BY \"t1\".\"Company\" DESC"},
      // A constant with quotes of both kinds is escaped for SQLite.
      {"Select * From customer Where Company=\"O'Brien \"\"Ltd\"\"\"",
       " WHERE (\"t1\".\"Company\" = 'O''Brien \"Ltd\"')"},
  };
  for (const auto& C : Cases) EXPECT_EQ(Translate(C.Sql).Text, CustomerStar + C.Expected) << C.Sql;
}

TEST(SqlTranslator, JoinsExpandStarWithoutRepeatedNames) {
  auto T = Translate(
      "Select * From \"orders.db\",\"customer.db\" Where (\"customer.db\".\"Company\" like "
      "\"%sig%\") and (CustNo=\"customer.db\".\"CustNo\")");
  // The unqualified CustNo is the first listed table's; customer's CustNo is not repeated.
  EXPECT_NE(T.Text.find(" WHERE ((\"t2\".\"Company\" LIKE '%sig%') AND (\"t1\".\"CustNo\" = "
                        "\"t2\".\"CustNo\"))"),
            std::string::npos)
      << T.Text;
  std::vector<std::string> Names;
  for (const auto& C : T.Columns) Names.push_back(C.Def.Name);
  EXPECT_EQ(Names,
            (std::vector<std::string>{"OrderNo", "CustNo", "SaleDate", "ShipDate", "ShipTime",
                                      "Amount", "Paid", "Company", "State", "Country"}));
  ASSERT_EQ(T.Tables.size(), 2u);
  EXPECT_EQ(T.Tables[1].Path, "/db/CUSTOMER.DB");
  // Column types follow the source columns.
  EXPECT_EQ(T.Columns[5].Def.DataType, ftCurrency);
  EXPECT_EQ(T.Columns[7].Def.DataType, ftString);
  EXPECT_EQ(T.Columns[7].Def.Size, 30);

  auto M = Translate(
      "Select * From \"items.db\",\"orders.db\" Where (\"items.db\".\"orderno\"=1003 and "
      "\"orders.db\".\"orderno\"=1003 and \"orders.db\".\"custno\"=1221)");
  EXPECT_NE(M.Text.find(" FROM \"t1\", \"t2\" WHERE (((\"t1\".\"OrderNo\" = 1003) AND "
                        "(\"t2\".\"OrderNo\" = 1003)) AND (\"t2\".\"CustNo\" = 1221))"),
            std::string::npos)
      << M.Text;

  auto J = Translate(
      "Select o.OrderNo, c.Company From orders o LEFT JOIN customer AS c ON o.CustNo = c.CustNo");
  EXPECT_EQ(J.Text,
            "SELECT \"t1\".\"OrderNo\" AS \"OrderNo\", \"t2\".\"Company\" AS \"Company\" FROM "
            "\"t1\" LEFT JOIN \"t2\" ON (\"t1\".\"CustNo\" = \"t2\".\"CustNo\")");
}

TEST(SqlTranslator, QualifiersMatchNameAliasOrFile) {
  // The bare table name, its file name in any case and its full path all denote one table.
  auto T = Translate(
      "Select \"CUSTOMER.DB\".Company, \"/db/customer.db\".State, customer.Country From customer");
  EXPECT_EQ(T.Text,
            "SELECT \"t1\".\"Company\" AS \"Company\", \"t1\".\"State\" AS \"State\", "
            "\"t1\".\"Country\" AS \"Country\" FROM \"t1\"");
  auto S = Translate("Select c.* From \"orders.db\" o, customer c");
  ASSERT_EQ(S.Columns.size(), 4u);
  EXPECT_EQ(S.Columns[0].Def.Name, "CustNo");
}

TEST(SqlTranslator, LoneDoubleQuotedText) {
  const TTranslationCase Cases[] = {
      // A field when a listed table has it, else a string constant.
      {"Select \"Company\", \"hola\" From customer",
       "SELECT \"t1\".\"Company\" AS \"Company\", 'hola' AS \"\"\"hola\"\"\" FROM \"t1\""},
      {"Select Company From customer Where \"State\"=\"CA\"",
       "SELECT \"t1\".\"Company\" AS \"Company\" FROM \"t1\" WHERE (\"t1\".\"State\" = 'CA')"},
      // Compared with a field, a text that happens to be a field name stays a constant.
      {"Select Company From customer Where lower(State)=\"state\"",
       "SELECT \"t1\".\"Company\" AS \"Company\" FROM \"t1\" WHERE (lower(\"t1\".\"State\") = "
       "'state')"},
      {"Select Company From customer Where \"company\"=Company",
       "SELECT \"t1\".\"Company\" AS \"Company\" FROM \"t1\" WHERE ('company' = "
       "\"t1\".\"Company\")"},
      {"Select Company From customer Where State IN (\"CA\", \"State\")",
       "SELECT \"t1\".\"Company\" AS \"Company\" FROM \"t1\" WHERE (\"t1\".\"State\" IN ('CA', "
       "'State'))"},
  };
  for (const auto& C : Cases) EXPECT_EQ(Translate(C.Sql).Text, C.Expected) << C.Sql;
}

TEST(SqlTranslator, ConstantsTakeTheColumnsRepresentation) {
  const TTranslationCase Cases[] = {
      {"Select OrderNo From \"orders.db\" Where \"orders.db\".\"Amount\">=1500.5 and "
       "\"orders.db\".\"SaleDate\"<\"12/31/1998 00:00:00\"",
       " WHERE ((\"t1\".\"Amount\" >= 1500.5) AND (\"t1\".\"SaleDate\" < 36160))"},
      {"Select OrderNo From orders Where ShipDate=\"12/25/1998\" or SaleDate>'01/02/1999 12:00'",
       " WHERE ((\"t1\".\"ShipDate\" = 36154) OR (\"t1\".\"SaleDate\" > 36162.5))"},
      {"Select OrderNo From orders Where ShipTime<\"18:00\"",
       " WHERE (\"t1\".\"ShipTime\" < 0.75)"},
      {"Select OrderNo From orders Where ShipDate BETWEEN \"12/1/1998\" AND \"12/31/1998\"",
       " WHERE (\"t1\".\"ShipDate\" BETWEEN 36130 AND 36160)"},
      // Numbers written as text, booleans, empty texts as Null, numbers against text fields.
      {"Select OrderNo From orders Where Amount='12.5' and Paid=true and OrderNo=''",
       " WHERE (((\"t1\".\"Amount\" = 12.5) AND (\"t1\".\"Paid\" = 1)) AND (\"t1\".\"OrderNo\" = "
       "NULL))"},
      {"Select OrderNo From orders, customer Where State=12", " WHERE (\"t2\".\"State\" = '12')"},
  };
  for (const auto& C : Cases) {
    std::string T = Translate(C.Sql).Text;
    EXPECT_EQ(T.substr(T.find(" WHERE")), C.Expected) << C.Sql;
  }
}

TEST(SqlTranslator, ResultColumnsOfExpressions) {
  auto T = Translate(
      "Select State, count(*), sum(CustNo) AS Total, max(Company), upper(Company) Nombre, "
      "CustNo*2 From customer Group by State Having count(*)>1 Order by Total DESC, 1");
  EXPECT_EQ(T.Text,
            "SELECT \"t1\".\"State\" AS \"State\", count(*) AS \"count(*)\", "
            "sum(\"t1\".\"CustNo\") AS \"Total\", max(\"t1\".\"Company\") AS \"max(Company)\", "
            "upper(\"t1\".\"Company\") AS \"Nombre\", (\"t1\".\"CustNo\" * 2) AS \"CustNo*2\" "
            "FROM \"t1\" GROUP BY \"t1\".\"State\" HAVING (count(*) > 1) ORDER BY \"Total\" "
            "DESC, 1 ASC");
  const TFieldType Types[] = {ftString, ftInteger, ftFloat, ftString, ftString, ftUnknown};
  ASSERT_EQ(T.Columns.size(), 6u);
  for (size_t I = 0; I < 6; ++I) EXPECT_EQ(T.Columns[I].Def.DataType, Types[I]) << I;
  EXPECT_EQ(T.Columns[3].Def.Size, 30);  // max() keeps the column's size

  // Repeated names in an explicit list stay distinct, so fields can bind by name.
  auto D = Translate(
      "Select DISTINCT o.CustNo, c.CustNo, substring(Company from 1 for 3) "
      "From orders o, customer c");
  EXPECT_EQ(D.Text,
            "SELECT DISTINCT \"t1\".\"CustNo\" AS \"CustNo\", \"t2\".\"CustNo\" AS \"CustNo_1\", "
            "substr(\"t2\".\"Company\", 1, 3) AS \"substring(Company from 1 for 3)\" FROM \"t1\", "
            "\"t2\"");
}

TEST(SqlTranslator, RowNumberFormOnlyWhereRowsStayRows) {
  struct {
    const char* Sql;
    const char* RowText;
  } Cases[] = {
      {"Select * From customer Where State='CA' Order by Company DESC",
       "SELECT \"t1\".rowid FROM \"t1\" WHERE (\"t1\".\"State\" = 'CA') ORDER BY "
       "\"t1\".\"Company\" DESC"},
      {"Select Company, CustNo+1 AS Next, o.* From customer c LEFT JOIN orders o ON "
       "o.CustNo=c.CustNo",
       "SELECT \"t1\".rowid, \"t2\".rowid, (\"t1\".\"CustNo\" + 1) AS \"Next\" FROM \"t1\" "
       "LEFT JOIN \"t2\" ON (\"t2\".\"CustNo\" = \"t1\".\"CustNo\")"},
      {"Select DISTINCT State From customer", ""},
      {"Select State From customer Group by State", ""},
      {"Select max(CustNo) From customer", ""},
      {"Select State From customer Order by count(*)", ""},
      {"Select State From customer Order by 1", ""},
      {"Select State AS S From customer Order by S", ""},
      {"Select State From customer Order by Company",
       "SELECT \"t1\".rowid FROM \"t1\" ORDER BY "
       "\"t1\".\"Company\" ASC"},
  };
  for (const auto& C : Cases) EXPECT_EQ(Translate(C.Sql).RowText, C.RowText) << C.Sql;
  auto T = Translate("Select * From customer");
  ASSERT_EQ(T.Columns.size(), 4u);
  EXPECT_EQ(T.Columns[2].SourceTable, 0);
  EXPECT_EQ(T.Columns[2].SourceColumn, 2);
}

struct TErrorCase {
  const char* Sql;
  const char* Message;
};

TEST(SqlTranslator, ErrorsNameTokenAndPosition) {
  const TErrorCase Cases[] = {
      {"Select * From xyz", "Tabla desconocida 'xyz' (posición 15)"},
      {"Select * From \"orders.db\", \"/otro/xyz.db\"",
       "Tabla desconocida '/otro/xyz.db' (posición 28)"},
      {"Select Foo From customer", "Campo desconocido 'Foo' (posición 8)"},
      {"Select \"customer.db\".\"Nope\" From \"customer.db\"",
       "Campo desconocido 'Nope' (posición 22)"},
      {"Select * From customer Where \"other.db\".State='CA'",
       "Tabla desconocida 'other.db' (posición 30)"},
      {"Select * Form customer", "Error de sintaxis en la posición 10 cerca de 'Form'"},
      {"Select * From customer Where (State='CA'",
       "Error de sintaxis en la posición 41: la sentencia termina antes de tiempo"},
      {"Select * From customer Where State='CA' Order Company",
       "Error de sintaxis en la posición 47 cerca de 'Company'"},
      {"Select * From customer Where State=#CA",
       "Error de sintaxis en la posición 36 cerca de '#'"},
      {"Select * From customer Where State='CA", "Comillas simples sin cerrar (posición 36)"},
      {"DELETE From customer", "Sentencia no soportada: 'DELETE' (posición 1)"},
      {"  update customer set State='CA'", "Sentencia no soportada: 'update' (posición 3)"},
      {"Select * From customer Union Select * From orders",
       "Sentencia no soportada: 'Union' (posición 24)"},
      {"Select * From customer Where State='CA' Limit 5",
       "Sentencia no soportada: 'Limit' (posición 41)"},
      // Words the dialect does not reserve stay usable as field names.
      {"Select Limit From customer", "Campo desconocido 'Limit' (posición 8)"},
      {"Select frob(State) From customer", "Función desconocida 'frob' (posición 8)"},
      {"Select lower(State, 1) From customer",
       "Número de argumentos incorrecto en 'lower' (posición 8)"},
      {"Select * From \"orders.db\" Where \"orders.db\".\"SaleDate\"<\"mañana\"",
       "Tipos incompatibles: 'mañana' no es una fecha válida para el campo 'SaleDate' "
       "(posición 56)"},
      {"Select * From orders Where ShipDate=\"31/12/1998\"",
       "Tipos incompatibles: '31/12/1998' no es una fecha válida para el campo 'ShipDate' "
       "(posición 37)"},
      {"Select * From orders Where ShipTime>'tarde'",
       "Tipos incompatibles: 'tarde' no es una hora válida para el campo 'ShipTime' (posición 37)"},
      {"Select * From orders Where Amount>'mucho'",
       "Tipos incompatibles: 'mucho' no es un número válido para el campo 'Amount' (posición 35)"},
      // Positions count characters, not bytes.
      {"Select * From customer Where Company='Ñandú' Wher",
       "Error de sintaxis en la posición 46 cerca de 'Wher'"},
      {"", "La sentencia está vacía"},
  };
  for (const auto& C : Cases) EXPECT_EQ(ErrorOf(C.Sql), C.Message) << C.Sql;
}

TEST(SqlParser, DeepInputIsRefusedNotOverflowed) {
  std::string Parens = "Select * From customer Where " + std::string(5000, '(') + "State='CA'" +
                       std::string(5000, ')');
  EXPECT_EQ(ErrorOf(Parens), "Expresión demasiado anidada (posición 230)");
  std::string Nots = "Select * From customer Where ";
  for (int I = 0; I < 5000; ++I) Nots += "not ";
  EXPECT_EQ(ErrorOf(Nots + "State='CA'"), "Expresión demasiado anidada (posición 830)");
  std::string Chain = "Select * From customer Where CustNo=1";
  for (int I = 0; I < 2000; ++I) Chain += " + 1";
  EXPECT_EQ(ErrorOf(Chain), "Expresión demasiado compleja (posición 37)");
  // Long but reasonable conditions still translate.
  std::string Many = "Select * From customer Where State='CA'";
  for (int I = 0; I < 300; ++I) Many += " or State='HI'";
  EXPECT_NO_THROW(Translate(Many));
}

TEST(SqlParser, AlterTableDropList) {
  TSqlStatement St = ParseSql(
      "ALTER TABLE \"/tmp/x/Resultado.db\" DROP \"/tmp/x/Resultado.db\".\"CustNo\"\n, DROP "
      "\"/tmp/x/Resultado.db\".\"Phone\", DROP COLUMN City, DROP Zip;");
  ASSERT_TRUE(St.Alter);
  EXPECT_EQ(St.Alter->Table, "/tmp/x/Resultado.db");
  ASSERT_EQ(St.Alter->Drops.size(), 4u);
  EXPECT_EQ(St.Alter->Drops[0].Qualifier, "/tmp/x/Resultado.db");
  EXPECT_EQ(St.Alter->Drops[0].Field, "CustNo");
  EXPECT_EQ(St.Alter->Drops[1].Field, "Phone");
  EXPECT_EQ(St.Alter->Drops[1].Pos, 100);
  EXPECT_EQ(St.Alter->Drops[2].Field, "City");
  EXPECT_EQ(St.Alter->Drops[3].Qualifier, "");

  const TErrorCase Errors[] = {
      {"ALTER TABLE \"a.db\" ADD x", "Sentencia no soportada: 'ALTER TABLE … ADD' (posición 20)"},
      {"ALTER INDEX x", "Sentencia no soportada: 'ALTER INDEX' (posición 7)"},
      {"ALTER TABLE \"a.db\" DROP",
       "Error de sintaxis en la posición 24: la sentencia termina "
       "antes de tiempo"},
  };
  for (const auto& C : Errors) {
    std::string Msg = "(no error)";
    try {
      ParseSql(C.Sql);
    } catch (const ESQLError& E) {
      Msg = E.Message();
    }
    EXPECT_EQ(Msg, C.Message) << C.Sql;
  }
}

TEST(SqlLexer, TokensAndPositions) {
  auto T = TokenizeSql("Select \"a\"\"b\" , 'it''s' -- comment\n <> != == 1.5e3 .5 /* x */ ||");
  const std::vector<std::pair<TSqlTokenKind, std::string>> Expected = {
      {TSqlTokenKind::Ident, "Select"}, {TSqlTokenKind::QuotedIdent, "a\"b"},
      {TSqlTokenKind::Symbol, ","},     {TSqlTokenKind::String, "it's"},
      {TSqlTokenKind::Symbol, "<>"},    {TSqlTokenKind::Symbol, "<>"},
      {TSqlTokenKind::Symbol, "="},     {TSqlTokenKind::Float, "1.5e3"},
      {TSqlTokenKind::Float, ".5"},     {TSqlTokenKind::Symbol, "||"},
      {TSqlTokenKind::End, ""}};
  ASSERT_EQ(T.size(), Expected.size());
  for (size_t I = 0; I < T.size(); ++I) {
    EXPECT_EQ(T[I].Kind, Expected[I].first) << I;
    EXPECT_EQ(T[I].Text, Expected[I].second) << I;
  }
  EXPECT_EQ(T[1].Pos, 8);
  EXPECT_EQ(T[3].Pos, 17);
}

TEST(SqlTranslator, DateConstants) {
  struct {
    const char* Text;
    TFieldType Type;
    bool Ok;
    double Days;
  } Cases[] = {
      {"12/31/1998", ftDate, true, 36160},
      {"1/2/1999", ftDate, true, 36162},
      {"12/31/1998 00:00:00", ftDateTime, true, 36160},
      {" 01/02/1999 18:00:00 ", ftDateTime, true, 36162.75},
      // Before 1899-12-30 the time still counts from the start of the day.
      {"12/29/1899 06:00:00", ftDateTime, true, -1.25},
      {"01/01/0001 12:00:00", ftDateTime, true, -693593.5},
      {"12/31/1998 06:00", ftTime, true, 0.25},
      {"18:00:00", ftTime, true, 0.75},
      {"18:00:00", ftDate, false, 0},
      {"02/29/2000", ftDate, true, 36585},
      {"02/29/1999", ftDate, false, 0},
      {"13/01/1998", ftDate, false, 0},
      {"12/31/1998 25:00", ftDateTime, false, 0},
      {"12/31/1998x", ftDate, false, 0},
      {"", ftDate, false, 0},
  };
  for (const auto& C : Cases) {
    double D = -1;
    EXPECT_EQ(ParseSqlDateConstant(C.Text, C.Type, D), C.Ok) << C.Text;
    if (C.Ok) {
      EXPECT_NEAR(D, C.Days, 1e-9) << C.Text;
    }
  }
}

// A list of thousands of alternatives (the search engine writes one per condition) is a shallow
// tree: it translates, and the SQLite text nests few parentheses, which SQLite's own parser
// needs (it overflowed from about 90 levels).
TEST(SqlParser, LongRunsOfOneConnectorStayShallow) {
  for (const char* Op : {" or ", " and ", " OR "}) {
    std::string Sql = "Select * From customer Where State='CA'";
    for (int I = 0; I < 10000; ++I) Sql += Op + std::string("CustNo=") + std::to_string(I);
    const std::string T = Translate(Sql).Text;
    int Depth = 0, Deepest = 0;
    for (char C : T) {
      if (C == '(') Deepest = std::max(Deepest, ++Depth);
      if (C == ')') --Depth;
    }
    EXPECT_LT(Deepest, 30) << Op;
    EXPECT_NE(T.find("(\"t1\".\"State\" = 'CA')"), std::string::npos);
    EXPECT_NE(T.find("(\"t1\".\"CustNo\" = 9999))"), std::string::npos);
  }
}

// Each clause of a SELECT as written, so that a statement can be put together around them.
TEST(SqlParser, ClausesAsWritten) {
  const std::string Sql =
      "select distinct a, b /* c */ from t, u where x=1 -- w\n group by a having count(*)>1 "
      "order by a desc;\n";
  const TSqlStatement St = ParseSql(Sql);
  const TSqlSelect& S = *St.Select;
  auto Text = [&](const TSqlSpan& Span) { return Sql.substr(Span.Begin, Span.End - Span.Begin); };
  EXPECT_EQ(Text(S.ListSpan), " distinct a, b");
  EXPECT_EQ(Text(S.FromSpan), " t, u");
  EXPECT_EQ(Text(S.WhereSpan), " x=1");
  EXPECT_EQ(Text(S.GroupBySpan), " a");
  EXPECT_EQ(Sql.substr(S.GroupBySpan.Keyword, 8), "group by");
  EXPECT_EQ(Text(S.HavingSpan), " count(*)>1");
  EXPECT_EQ(Text(S.OrderBySpan), " a desc");
  const TSqlStatement Plain = ParseSql("select * from t");
  EXPECT_TRUE(Plain.Select->FromSpan.Present());
  for (const TSqlSpan* Absent : {&Plain.Select->WhereSpan, &Plain.Select->GroupBySpan,
                                 &Plain.Select->HavingSpan, &Plain.Select->OrderBySpan})
    EXPECT_FALSE(Absent->Present());
}

// An error at a place keeps its reason and its position apart, for a caller that points into a
// text of its own.
TEST(SqlTranslator, ErrorsKeepTheirPlaceApart) {
  const struct {
    const char* Sql;
    const char* Reason;
    int Position;
  } Cases[] = {
      {"Select Nope From customer", "Campo desconocido 'Nope'", 8},
      {"Select * From nothere", "Tabla desconocida 'nothere'", 15},
      {"Select * From customer Where", "Error de sintaxis: la sentencia termina antes de tiempo",
       29},
      {"Select * From customer Where ,", "Error de sintaxis cerca de ','", 30},
      {"Select * From customer Where Company = \"abc", "Comillas dobles sin cerrar", 40},
      {"Select * From orders Where ShipDate = \"31/31/1998\"",
       "Tipos incompatibles: '31/31/1998' no es una fecha válida para el campo 'ShipDate'", 39},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Sql);
    try {
      Translate(C.Sql);
      ADD_FAILURE() << "no error";
    } catch (const ESQLPositionError& E) {
      EXPECT_EQ(E.Reason(), C.Reason);
      EXPECT_EQ(E.Position(), C.Position);
      EXPECT_NE(E.Message().find(std::to_string(C.Position)), std::string::npos);
    }
  }
}

// Names written by a program: bare when they are plain words, else quoted with their quotes
// doubled; the quoted forms read back as the same names, so no name changes a statement.
TEST(SqlTranslator, QuotedNamesHoldingQuotes) {
  const struct {
    const char* Name;
    const char* Written;
  } Names[] = {
      {"Company", "Company"},         {"Año", "Año"},         {"_x$1", "_x$1"},
      {"Last Name", "\"Last Name\""}, {"order", "\"order\""}, {"2x", "\"2x\""},
      {"n\"q", "\"n\"\"q\""},         {"", "\"\""},
  };
  for (const auto& N : Names) EXPECT_EQ(LocalSqlName(N.Name), N.Written) << N.Name;

  const std::string Odd = "n\"\tis\tnot\tnull\tor\t\"t\".\"n";
  const std::string Sql = "Select * From " + QuoteSqlName("p\"q.db") + " Where " +
                          QuoteSqlName("p\"q.db") + "." + QuoteSqlName(Odd) + "=99 and " +
                          QuoteSqlName("Last Name") + "=\"x\"";
  const std::string T = Translate(Sql).Text;
  EXPECT_NE(
      T.find(" WHERE ((\"t1\"." + QuoteSqlName(Odd) + " = 99) AND (\"t1\".\"Last Name\" = 'x'))"),
      std::string::npos)
      << T;
}

}  // namespace
