// Search engine without files: the expression split, the check against the dataset, the
// component's properties, and every generated filter and SQL text (byte for byte) over tables
// and queries that only declare their fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KVFind.h"

using namespace kv;

namespace {

template <class F>
std::string MessageOf(F&& Fn) {
  try {
    Fn();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "";
}

std::string Joined(const TStringList& L) {
  std::string R;
  for (int I = 0; I < L.Count(); ++I) R += (I ? "," : "") + L[I];
  return R;
}

// A closed table that only declares its fields: enough for names, checks and texts.
struct TDeclared {
  TTable Customer, Orders;
  TDeclared() {
    Customer.SetTableName("customer.db");
    Customer.AddField<TIntegerField>("CustNo");
    Customer.AddField<TStringField>("Company");
    Customer.AddField<TStringField>("State");
    Customer.AddField<TStringField>("City");
    Customer.AddField<TStringField>("Last Name");
    Customer.AddField<TCurrencyField>("Amount");
    Customer.AddField<TFloatField>("Price");
    Customer.AddField<TFloatField>("Cost");
    Customer.AddField<TIntegerField>("Qty");
    Customer.AddField<TBooleanField>("Paid");
    Customer.AddField<TStringField>("Calc")->SetCalculated(true);
    Customer.AddField<TDateField>("Since");
    Customer.AddField<TDateTimeField>("Alta");
    Customer.AddField<TTimeField>("Hora");
    Customer.AddField<TAutoIncField>("Id");
    Customer.AddField<TMemoField>("Notes");

    Orders.SetTableName("orders.db");
    Orders.AddField<TIntegerField>("OrderNo");
    Orders.AddField<TIntegerField>("CustNo");
    Orders.AddField<TCurrencyField>("Amount");
    Orders.AddField<TDateTimeField>("SaleDate");
    Orders.AddField<TStringField>("Company");
    Orders.AddLookupField("CustName", ftString, &Customer, "CustNo", "CustNo", "Company", 30);
  }
};

// The statement a search would run, built the way the search builds it.
std::string TableSQL(TKVFind& K) {
  K.SeparaDatos(K.Filter());
  EXPECT_TRUE(K.ValidateFilter());
  K.PrepareData();
  return K.TTAbleBuildSQL();
}

std::string WhereOf(TKVFind& K) {
  K.SeparaDatos(K.Filter());
  EXPECT_TRUE(K.ValidateFilter());
  K.PrepareData();
  K.NombresDeCampos();
  return K.BuildWhereClausule();
}

// ---------------------------------------------------------------- the split

TEST(KVFindSplit, TypicalExpressions) {
  const struct {
    const char* Expression;
    const char* Fields;
    const char* Conditions;
    const char* Values;
    const char* Unions;
    const char* Parentesis;
  } Cases[] = {
      {"Name='Smith'", "Name", "=", "'Smith'", "", "/"},
      {"(Name><'abc') and (City=='Ma')", "Name,City", "><,==", "'abc','Ma'", " and ", "(/),(/)"},
      {"((Amount>'9.5' and Amount<'10.5')) OR Name=='A'", "Amount,Amount,Name",
       ">,<,==", "'9.5','10.5','A'", " and , or ", "((/,/)),/"},
      {"Price>=Cost", "Price", ">=", "Cost", "", "/"},
      // trimmed once as a whole
      {"  Name='Smith'  ", "Name", "=", "'Smith'", "", "/"},
      {"Name ='x'", "Name ", "=", "'x'", "", "/"},
      {"Code='a<>b'", "Code='a", "<>", "b'", "", "/"},
      {"Name='Smith and City='x'", "Name,City", "=,=", "'Smith,'x'", " and ", "/,/"},
      {"(Name)='x'", "Name", "=", "'x'", "", ")/"},
      {"A==x", "A", "==", "x", "", "/"},
      {"A><x", "A", "><", "x", "", "/"},
      {"a='1' AND b='2' oR c='3'", "a,b,c", "=,=,=", "'1','2','3'", " and , or ", "/,/,/"},
      {"Name= 'x'", "Name", "=", " 'x'", "", "/"},
      // a quoted constant keeps a quote or a ")" inside it
      {"Name='O'Brien'", "Name", "=", "'O'Brien'", "", "/"},
      {"(Name='a)b')", "Name", "=", "'a)b'", "", "(/)"},
      {"Name='12\" pipe'", "Name", "=", "'12\" pipe'", "", "/"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TKVFind K;
    K.SeparaDatos(C.Expression);
    EXPECT_EQ(Joined(K.IFieldsList()), C.Fields);
    EXPECT_EQ(Joined(K.IConditionsList()), C.Conditions);
    EXPECT_EQ(Joined(K.IValuesList()), C.Values);
    EXPECT_EQ(Joined(K.IUnionsList()), C.Unions);
    EXPECT_EQ(Joined(K.IParentesisList()), C.Parentesis);
    std::string X;
    for (int I = 0; I < K.IFieldsList().Count(); ++I) X += I ? ",X" : "X";
    EXPECT_EQ(Joined(K.IFieldTypesList()), X);
  }
}

TEST(KVFindSplit, ConditionsWithoutOperator) {
  TKVFind K;
  // The first one records empty parts.
  K.SeparaDatos("Nothing");
  EXPECT_EQ(K.IFieldsList().Count(), 1);
  EXPECT_EQ(K.IFieldsList()[0], "");
  EXPECT_EQ(K.IConditionsList()[0], "");
  EXPECT_EQ(K.IValuesList()[0], "");
  // A later one makes the expression unreadable; the message says what is missing and where.
  EXPECT_EQ(MessageOf([&] { K.SeparaDatos("A='1' and Nothing"); }),
            "Filtro no válido en la posición 11 ('Nothing'): falta el operador de comparación");
  // A connector inside a constant cuts it: here the rest has no operator.
  EXPECT_EQ(MessageOf([&] { K.SeparaDatos("Name='Smith and Sons'"); }),
            "Filtro no válido en la posición 17 ('Sons''): falta el operador de comparación");
  // An empty text clears the lists.
  K.SeparaDatos("A='1'");
  K.SeparaDatos("");
  EXPECT_EQ(K.IFieldsList().Count(), 0);
}

TEST(KVFindSplit, QuitaParentesis) {
  const struct {
    const char* In;
    const char* Returned;
    const char* Rest;
  } Cases[] = {
      {"((Name", "((", "Name"},
      {" ( Name", " ( ", "Name"},
      {"  Name", "", "  Name"},
      {"'x'))", "))", "'x'"},
      {"(Name)", ")", "Name"},
      {"'x') and", ") and", "'x'"},
      {"", "", ""},
  };
  for (const auto& C : Cases) {
    TKVFind K;
    std::string S = C.In;
    EXPECT_EQ(K.QuitaParentesis(S), C.Returned) << C.In;
    EXPECT_EQ(S, C.Rest) << C.In;
  }
}

// ---------------------------------------------------------------- the check

TEST(KVFindValidate, Cases) {
  const struct {
    const char* Expression;
    const char* Outcome;  // "true", "false", or the message raised
  } Cases[] = {
      {"Qty='12'", "true"},
      {"Qty='1.5'", "El valor:'1.5' no es de tipo válido"},
      {"Qty='99999999999'", "El valor:'99999999999' no es de tipo válido"},
      {"Paid='TRUE'", "true"},
      {"Paid='yes'", "El valor:'yes' no es de tipo válido"},
      {"Price>Cost", "El valor:Cost no es de tipo válido"},
      {"Price>'12,5'", "true"},
      {"Amount= 'x1'", "El valor: 'x1' no es de tipo válido"},
      {"Company>=City", "true"},
      {"Calc='x'", "false"},
      {"Calc='x' and Company='y'", "false"},
      {"Since='31/02/1998'", "true"},  // dates are read later
      // the empty constant tests for an empty field of any type
      {"Qty=''", "true"},
      {"Paid=''", "true"},
      {"Amount<>''", "true"},
  };
  TDeclared D;
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    K.SetCondition(C.Expression);
    // the check reads the lists of the Filter text
    std::string Outcome;
    try {
      K.SetFilter(C.Expression);
      Outcome = "true";
    } catch (const Exception& E) {
      Outcome = E.Message() == "Filtro no válido" ? "false" : E.Message();
    }
    EXPECT_EQ(Outcome, C.Outcome);
  }
}

TEST(KVFindValidate, NamesTheDatasetLacksEndInTheLayersError) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  for (const char* E : {"Name ='x'", "Code='a<>b'", "Company ='x'"}) {
    EXPECT_THROW(K.SetFilter(E), EDatabaseError) << E;
    EXPECT_EQ(K.Filter(), E);
  }
}

// A condition without its field name or its operator is refused with a message that says what
// is missing and where (the character position in the expression, from 1), never with a field
// that has no name.
TEST(KVFindValidate, MissingPartsAreNamedWithTheirPlace) {
  const std::string P = "Filtro no válido en la posición ";
  const struct {
    const char* Expression;
    std::string Message;
  } Cases[] = {
      {"Company", P + "1 ('Company'): falta el operador de comparación"},
      {"  (Company)", P + "4 ('Company'): falta el operador de comparación"},
      {"()", P + "2 (')'): falta la condición"},
      {"(", P + "2 (fin del texto): falta la condición"},
      {"='x'", P + "1 ('='): falta el nombre del campo"},
      {"(( >='x')", P + "4 ('>='): falta el nombre del campo"},
      {"Company='a' or ='x'", P + "16 ('='): falta el nombre del campo"},
      {"Company='ñ' and Ñu", P + "17 ('Ñu'): falta el operador de comparación"},
  };
  TDeclared D;
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    EXPECT_EQ(MessageOf([&] { K.SetFilter(C.Expression); }), C.Message);
    // Finding by such a condition says the same.
    K.SetCondition(C.Expression);
    EXPECT_EQ(MessageOf([&] { K.FindFirst(); }), C.Message);
  }
}

// Parentheses that do not close in order, and text after the one that closes a condition, are
// named with their place in the expression, when checked and when stepping (the texts written
// from such an expression failed at places in them the user never saw).
TEST(KVFindValidate, ParenthesesAreNamedWithTheirPlace) {
  const std::string P = "Filtro no válido en la posición ";
  const struct {
    const char* Expression;
    std::string Message;
  } Cases[] = {
      {"(Company='x'", P + "1 ('('): falta el paréntesis de cierre"},
      {"((Company='x') and City='y'", P + "1 ('('): falta el paréntesis de cierre"},
      {"Company='x')", P + "12 (')'): paréntesis de cierre sin abrir"},
      {"(Company)='x'", P + "9 (')'): paréntesis de cierre sin abrir"},
      {"(Company='a' or City='b'))", P + "26 (')'): paréntesis de cierre sin abrir"},
      {"(Company='x') y", P + "15 ('y'): texto de más tras el paréntesis"},
      {"((Company='x' and City='y')) or State='z'", ""},
  };
  TDeclared D;
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    EXPECT_EQ(MessageOf([&] { K.SetFilter(C.Expression); }), C.Message);
    K.SetCondition(C.Expression);
    EXPECT_EQ(MessageOf([&] { K.Buildcondition(); }), C.Message);
  }
}

// A constant without its closing quote is no constant on any path: never cut by a character.
TEST(KVFindValidate, UnfinishedConstantsAreRefused) {
  TDeclared D;
  for (const char* E : {"Company=='DHL", "Company='DHL", "Company=='", "Company='", "Company=' )",
                        "Company='a' and City='b", "Company='x'y", "Company=x'", "Qty='12"}) {
    SCOPED_TRACE(E);
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    EXPECT_EQ(MessageOf([&] { K.SetFilter(E); }), "Filtro no válido");
  }
  // Quotes inside a whole constant stay in it.
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  EXPECT_EQ(MessageOf([&] { K.SetFilter("Company='O'Brien'"); }), "");
  EXPECT_EQ(MessageOf([&] { K.SetFilter("Company=''''"); }), "");
}

TEST(KVFindValidate, ListsAndEmptyFilter) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  // An empty Filter validates whatever the lists hold.
  K.SeparaDatos("Calc='x'");
  EXPECT_TRUE(K.ValidateFilter());
  // Once Filter holds a text, the same lists are refused.
  K.SetFilter("Company='x'");
  K.SeparaDatos("Calc='x'");
  EXPECT_FALSE(K.ValidateFilter());
}

// ---------------------------------------------------------------- the component

TEST(KVFindComponent, DataSetAssignment) {
  TMemDataSet Closed;
  Closed.FieldDefs().Add("A", ftInteger);
  TKVFind K;
  EXPECT_EQ(K.Results(), nullptr);
  EXPECT_FALSE(K.ActiveDataSet());
  EXPECT_EQ(MessageOf([&] { K.SetPDataSet(&Closed); }),
            "El DataSet no tiene campos estáticos o no esta abierto");
  EXPECT_EQ(K.DataSet(), nullptr);
  Closed.CreateDataSet();
  Closed.SetFilter("A > 1");
  Closed.SetFiltered(true);
  K.SetPDataSet(&Closed);
  EXPECT_EQ(K.DataSet(), &Closed);
  EXPECT_EQ(K.Results(), &Closed);
  EXPECT_TRUE(K.ActiveDataSet());
  EXPECT_FALSE(K.Filtered());

  // The internal query is new on each assignment and takes the table's database.
  TTable T;
  T.SetDatabaseName("/some/dir");
  T.AddField<TIntegerField>("A");
  K.SetPDataSet(&T);
  EXPECT_EQ(K.SQLQuery()->DatabaseName(), "/some/dir");

  // The data source is pointed at the searched dataset.
  TDataSource DS;
  K.SetpDataSource(&DS);
  EXPECT_EQ(DS.DataSet(), &T);
}

// The searched dataset, the data source and a lookup table may die before the engine: it lets go
// of them, and a later search names what is missing instead of reading freed memory.
TEST(KVFindComponent, ForgetsDestroyedDataSetDataSourceAndLookupTable) {
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("A", ftInteger);
  DS->CreateDataSet();
  DS->AppendRecord({1});
  DS->AppendRecord({2});
  auto Source = std::make_unique<TDataSource>();
  TKVFind K;
  K.SetPDataSet(DS.get());
  K.SetpDataSource(Source.get());
  Source.reset();
  EXPECT_EQ(K.DataSource(), nullptr);
  K.SetFilter("A>'1'");
  K.SetFiltered(true);
  EXPECT_EQ(DS->RecordCount(), 1);
  DS.reset();
  EXPECT_EQ(K.DataSet(), nullptr);
  EXPECT_EQ(K.Results(), nullptr);
  EXPECT_EQ(MessageOf([&] { K.SetFiltered(true); }), "No se ha asignado el DataSet de la búsqueda");
  K.SetCondition("A='1'");
  EXPECT_FALSE(K.FindFirst());
  K.SetFiltered(false);
  EXPECT_EQ(K.Results(), nullptr);

  auto Customer = std::make_unique<TTable>();
  Customer->SetTableName("customer.db");
  Customer->AddField<TIntegerField>("CustNo");
  Customer->AddField<TStringField>("Company");
  TTable Orders;
  Orders.SetTableName("orders.db");
  Orders.AddField<TIntegerField>("CustNo");
  Orders.AddLookupField("CustName", ftString, Customer.get(), "CustNo", "CustNo", "Company", 30);
  K.SetPDataSet(&Orders);
  EXPECT_EQ(K.GetFieldLongName("CustName", &Orders), "\"customer.db\".\"Company\"");
  Customer.reset();
  EXPECT_EQ(MessageOf([&] { K.GetFieldLongName("CustName", &Orders); }),
            "El campo lookup 'CustName' no tiene LookupDataSet");
}

TEST(KVFindComponent, FilterAndCaseSensitive) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  EXPECT_EQ(MessageOf([&] { K.SetFilter("Calc='x'"); }), "Filtro no válido");
  EXPECT_EQ(K.Filter(), "Calc='x'");
  EXPECT_EQ(K.IFieldsList()[0], "Calc");
  K.SetFilter("");
  EXPECT_EQ(K.Filter(), "");
  EXPECT_EQ(K.IFieldsList()[0], "Calc");  // lists unchanged

  K.SetCaseSensitive(true);
  EXPECT_EQ(D.Customer.FilterOptions(), 0u);
  EXPECT_EQ(K.SQLQuery()->FilterOptions(), 0u);
  K.SetCaseSensitive(false);
  EXPECT_EQ(D.Customer.FilterOptions(), static_cast<TFilterOptions>(foCaseInsensitive));
  EXPECT_EQ(K.SQLQuery()->FilterOptions(), static_cast<TFilterOptions>(foCaseInsensitive));
}

// ---------------------------------------------------------------- generated texts

TEST(KVFindTexts, CustomerFilterAndOrderedStatement) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  K.SetFilter("Company='Sig' and (State='CA' or State='HI')");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_FALSE(K.NeedSQL());
  K.Buildfilter();
  EXPECT_EQ(D.Customer.Filter(), "Company = 'Sig' and (State = 'CA' or State = 'HI')");
  EXPECT_TRUE(D.Customer.Filtered());

  K.SetForceSQL(true);
  K.SetOrderBy("Company");
  EXPECT_EQ(K.OrderByLongName(), "\"customer.db\".\"Company\"");
  EXPECT_EQ(TableSQL(K),
            "Select * From \"customer.db\" Where (lower(\"customer.db\".\"Company\")=\"sig\" and "
            "(lower(\"customer.db\".\"State\")=\"ca\" or lower(\"customer.db\".\"State\")=\"hi\")) "
            "Order by \"customer.db\".\"Company\" ASC");
  K.SetDescendant(true);
  EXPECT_EQ(TableSQL(K).substr(TableSQL(K).size() - 5), " DESC");

  TKVFind S;
  S.SetPDataSet(&D.Customer);
  S.SetFilter("Company=='sig'");
  EXPECT_EQ(WhereOf(S), "lower(\"customer.db\".\"Company\") like \"sig%\"");
  S.SeparaDatos(S.Filter());
  S.PrepareData();
  EXPECT_TRUE(S.NeedSQL());
  S.SetCondition("Company=='sig'");
  EXPECT_EQ(S.Buildcondition(), "Company = 'sig*'");
}

TEST(KVFindTexts, LookupContainsJoinsTheLookupTable) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Orders);
  K.SetCaseSensitive(true);
  K.SetFilter("CustName><'sig'");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_TRUE(K.NeedSQL());
  EXPECT_EQ(K.TTAbleBuildSQL(),
            "Select * From \"orders.db\",\"customer.db\" Where (\"customer.db\".\"Company\" like "
            "\"%sig%\") and (CustNo=\"customer.db\".\"CustNo\")");
  // A lookup field alone forces SQL even with "=".
  K.SetFilter("CustName='x'");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_TRUE(K.NeedSQL());
  // Joins without a search condition.
  TKVFind J;
  J.SetPDataSet(&D.Orders);
  J.SetOrderBy("CustName");
  EXPECT_EQ(TableSQL(J),
            "Select * From \"orders.db\",\"customer.db\" Where (CustNo=\"customer.db\".\"CustNo\") "
            "Order by \"customer.db\".\"Company\" ASC");
}

TEST(KVFindTexts, QueryStatementAroundItsOwnSql) {
  TQuery Q;
  Q.SQL().Add("select * from customer where Country='US'");
  Q.AddField<TStringField>("State");
  Q.AddField<TStringField>("Country");
  Q.AddField<TStringField>("Company");
  TKVFind K;
  K.SetPDataSet(&Q);
  K.SetCaseSensitive(true);
  K.SetForceSQL(true);
  K.SetFilter("State='CA'");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_EQ(K.TQueryBuildSQL(),
            "Select  * From  customer Where (State=\"CA\") and ( Country='US'\n)");
  EXPECT_EQ(K.IFieldsList()[0], "State");
  EXPECT_EQ(K.Tablas(), "");

  // No "where": the rest of the text is the tables.
  Q.SQL().Clear();
  Q.SQL().Add("select Company, State from customer");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_EQ(K.TQueryBuildSQL(), "Select  Company, State From  customer\n Where (State=\"CA\")");
  // The query's own clauses after "where" stay after the condition, where SQL wants them.
  Q.SQL().Clear();
  Q.SQL().Add("select * from customer where Country='US' order by Company");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_EQ(K.TQueryBuildSQL(),
            "Select  * From  customer Where (State=\"CA\") and ( Country='US') order by Company\n");
  // Ordered: the order chosen first, the query's own after it.
  K.SetOrderBy("Company");
  K.SetDescendant(true);
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_EQ(K.TQueryBuildSQL(),
            "Select  * From  customer Where (State=\"CA\") and ( Country='US') "
            "Order by Company DESC, Company\n");
}

TEST(KVFindTexts, NumbersAndDatesInBothDialects) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Orders);
  K.SetFilter("Amount>='1500,5' and SaleDate<'31/12/1998'");
  EXPECT_EQ(
      WhereOf(K),
      "\"orders.db\".\"Amount\">=1500.5 and \"orders.db\".\"SaleDate\"<\"12/31/1998 00:00:00\"");
  K.Buildfilter();
  EXPECT_EQ(D.Orders.Filter(), "Amount >= '1500,5' and SaleDate < '31/12/1998'");
}

TEST(KVFindTexts, EmptyValuesAndNamesWithBlanks) {
  const struct {
    const char* Expression;
    const char* Where;
    const char* Filter;
  } Cases[] = {
      {"Company=''", "lower(\"customer.db\".\"Company\") IS NULL ", "Company = ''"},
      {"Company<>''", "lower(\"customer.db\".\"Company\") IS NOT NULL ", "Company <> ''"},
      {"Company==''", "lower(\"customer.db\".\"Company\") IS NULL ", "Company = '*'"},
      {"Company><''", "lower(\"customer.db\".\"Company\") IS NULL ", "Company >< ''"},
      {"Amount=''", "\"customer.db\".\"Amount\" IS NULL ", "Amount = NULL"},
      {"Qty<>''", "\"customer.db\".\"Qty\" IS NOT NULL ", "Qty <> NULL"},
      {"Alta=''", "\"customer.db\".\"Alta\" IS NULL ", "Alta = NULL"},
      {"Since=''", "\"customer.db\".\"Since\" IS NULL ", "Since = NULL"},
      {"Last Name>'M'", "lower(\"customer.db\".\"Last Name\")>\"m\"", "[Last Name] > 'M'"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TDeclared D;
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    K.SetFilter(C.Expression);
    EXPECT_EQ(WhereOf(K), C.Where);
    K.Buildfilter();
    EXPECT_EQ(D.Customer.Filter(), C.Filter);
  }
}

// The dataset's own filter stays in force under a search; a text holding an OR keeps its meaning.
TEST(KVFindTexts, OwnFilterJoinedToTheSearch) {
  const struct {
    const char* Own;
    const char* Search;
    const char* Filter;
  } Cases[] = {
      {"State = 'CA'", "Company='x'", "State = 'CA' and Company = 'x'"},
      {"State = 'CA' or State = 'HI'", "Company='x'",
       "(State = 'CA' or State = 'HI') and (Company = 'x')"},
      {"State = 'CA'", "Company='x' or City='y'",
       "(State = 'CA') and (Company = 'x' or City = 'y')"},
  };
  for (const auto& C : Cases) {
    TDeclared D;
    D.Customer.SetFilter(C.Own);
    D.Customer.SetFiltered(true);
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    K.SetFilter(C.Search);
    K.Buildfilter();
    EXPECT_EQ(D.Customer.Filter(), C.Filter);
    K.SetFiltered(false);
    EXPECT_EQ(D.Customer.Filter(), C.Own);
    EXPECT_TRUE(D.Customer.Filtered());
  }
}

TEST(KVFindTexts, GroupingConnectorsAndCase) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  K.SetCaseSensitive(true);
  K.SetFilter("(Company='Sig' or City=='Ma') and ((State<>'CA'))");
  EXPECT_EQ(WhereOf(K),
            "(\"customer.db\".\"Company\"=\"Sig\" or \"customer.db\".\"City\" like \"Ma%\") and "
            "((\"customer.db\".\"State\"<>\"CA\"))");
  K.SetCondition(K.Filter());
  EXPECT_EQ(K.Buildcondition(), "(Company = 'Sig' or City = 'Ma*') and ((State <> 'CA'))");
  K.SetCondition("");
  EXPECT_EQ(K.Buildcondition(), "");
}

TEST(KVFindTexts, PreparedValues) {
  TDeclared D;
  const struct {
    const char* Expression;
    bool CaseSensitive;
    const char* Value;
  } Cases[] = {
      {"Company=='Sig'", false, "\"sig%\""},
      {"Company><'Sig'", true, "\"%Sig%\""},
      {"Company><''", false, "\"%%\""},
      {"Company==''", false, "\"%\""},
      {"Company=''", false, "\"\""},
      {"Company='ÁNGEL'", false, "\"ángel\""},
      {"Since='25/12/1998'", false, "\"12/25/1998\""},
      {"Alta='25/12/1998'", false, "\"12/25/1998 00:00:00\""},
      {"Hora='08:30:00'", false, "\"08:30:00\""},
      {"Price='12,5'", false, "12.5"},
      {"Qty='100'", false, "100"},
      {"Paid='true'", false, "true"},
      {"Company>=City", false, "City"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    K.SetCaseSensitive(C.CaseSensitive);
    K.SetFilter(C.Expression);
    K.SeparaDatos(K.Filter());
    K.PrepareData();
    EXPECT_EQ(K.IValuesList()[0], C.Value);
  }
  // Only the first comma becomes a point (no check runs here).
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  K.SetFilter("Price='1'");
  K.SeparaDatos("Price='1,234,5'");
  K.PrepareData();
  EXPECT_EQ(K.IValuesList()[0], "1.234,5");
  // A date the locale cannot read stops the preparation with the conversion error.
  K.SeparaDatos("Since='31/02/1998'");
  EXPECT_THROW(K.PrepareData(), EConvertError);
  // A right operand the dataset lacks.
  K.SeparaDatos("Company>=Nothing");
  EXPECT_THROW(K.PrepareData(), EDatabaseError);
}

TEST(KVFindTexts, LongNamesTablesAndJoins) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Orders);
  K.SetFilter("Company=='Sig'");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  K.NombresDeCampos();
  EXPECT_EQ(K.IFieldsList()[0], "\"orders.db\".\"Company\"");
  EXPECT_EQ(K.IValuesList()[0], "\"sig%\"");
  EXPECT_EQ(K.IFieldTypesList()[0], "S");
  EXPECT_EQ(K.Tablas(), "\"orders.db\"");

  // Two lookups on the same table: the table and the join once.
  TTable O;
  O.SetTableName("orders.db");
  O.AddField<TIntegerField>("CustNo");
  O.AddLookupField("CustName", ftString, &D.Customer, "CustNo", "CustNo", "Company", 30);
  O.AddLookupField("CustCity", ftString, &D.Customer, "CustNo", "CustNo", "City", 20);
  TKVFind L;
  L.SetPDataSet(&O);
  L.SetFilter("CustName='a' and CustCity='b' and CustNo='1'");
  L.SeparaDatos(L.Filter());
  L.PrepareData();
  L.NombresDeCampos();
  EXPECT_EQ(L.Tablas(), "\"orders.db\",\"customer.db\"");
  EXPECT_EQ(L.Uniones(), "CustNo=\"customer.db\".\"CustNo\"");
  EXPECT_EQ(Joined(L.IFieldTypesList()), "S,S,N");

  // A chain of two lookups: both tables, both joins, the last table's field.
  TTable Items;
  Items.SetTableName("items.db");
  Items.AddField<TIntegerField>("OrderNo");
  Items.AddLookupField("OrderCust", ftString, &O, "OrderNo", "OrderNo", "CustName", 30);
  TKVFind C;
  C.SetPDataSet(&Items);
  EXPECT_EQ(C.GetFieldLongName("OrderCust", &Items), "\"customer.db\".\"Company\"");
  EXPECT_EQ(C.Tablas(), "\"orders.db\",\"customer.db\"");
  EXPECT_EQ(C.Uniones(), "OrderNo=\"orders.db\".\"OrderNo\" and CustNo=\"customer.db\".\"CustNo\"");

  // Lookups into a query or onto a calculated field are refused.
  TQuery Q;
  Q.AddField<TIntegerField>("CustNo");
  Q.AddField<TStringField>("Company")->SetCalculated(false);
  TTable Bad;
  Bad.SetTableName("bad.db");
  Bad.AddField<TIntegerField>("CustNo");
  Bad.AddLookupField("FromQuery", ftString, &Q, "CustNo", "CustNo", "Company", 30);
  Bad.AddLookupField("ToCalc", ftString, &D.Customer, "CustNo", "CustNo", "Calc", 30);
  TKVFind B;
  B.SetPDataSet(&Bad);
  EXPECT_EQ(MessageOf([&] { B.GetFieldLongName("FromQuery", &Bad); }),
            "No se permiten campos lookup a SQL o StoreProc");
  EXPECT_EQ(MessageOf([&] { B.GetFieldLongName("ToCalc", &Bad); }),
            "No se permiten campos lookup a campos calculados, campo:ToCalc");
  // A query's own field is its bare name.
  EXPECT_EQ(B.GetFieldLongName("Company", &Q), "Company");
}

// ---------------------------------------------------------------- mended faults

// Constants holding quotes are written so that they match literally, in both dialects.
TEST(KVFindMended, QuotesInsideConstants) {
  const struct {
    const char* Expression;
    bool CaseSensitive;
    const char* Where;
    const char* Filter;
  } Cases[] = {
      {"Company='O'Brien'", true, "\"customer.db\".\"Company\"=\"O'Brien\"",
       "Company = 'O''Brien'"},
      {"Company='O'Brien'", false, "lower(\"customer.db\".\"Company\")=\"o'brien\"",
       "Company = 'O''Brien'"},
      {"Company='12\" pipe'", true, "\"customer.db\".\"Company\"=\"12\"\" pipe\"",
       "Company = '12\" pipe'"},
      {"Company='x\"=\"1'", true, "\"customer.db\".\"Company\"=\"x\"\"=\"\"1\"",
       "Company = 'x\"=\"1'"},
      {"(Company='it's)' or City='a)b')", true,
       "(\"customer.db\".\"Company\"=\"it's)\" or \"customer.db\".\"City\"=\"a)b\")",
       "(Company = 'it''s)' or City = 'a)b')"},
      {"Notes='a b'", true, "\"customer.db\".\"Notes\"=\"a b\"", "Notes = 'a b'"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TDeclared D;
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    K.SetCaseSensitive(C.CaseSensitive);
    K.SetFilter(C.Expression);
    EXPECT_EQ(WhereOf(K), C.Where);
    K.Buildfilter();
    EXPECT_EQ(D.Customer.Filter(), C.Filter);
  }
  // "Starts with" a text with an apostrophe still runs as SQL, and as a find condition doubles it.
  TDeclared D;
  TKVFind S;
  S.SetPDataSet(&D.Customer);
  S.SetFilter("Company=='O'Br'");
  S.SeparaDatos(S.Filter());
  S.PrepareData();
  EXPECT_EQ(S.IValuesList()[0], "\"o'br%\"");
  EXPECT_TRUE(S.NeedSQL());
  S.SetCondition("Company=='O'Br'");
  EXPECT_EQ(S.Buildcondition(), "Company = 'O''Br*'");
  // A counter compared with something that is no number never reaches the statement bare.
  S.SetFilter("Id='1=1'");
  S.SeparaDatos(S.Filter());
  EXPECT_EQ(MessageOf([&] { S.PrepareData(); }), "El valor:'1=1' no es de tipo válido");
}

// A table whose name contains a listed one is still added; whole joins are compared.
TEST(KVFindMended, WholeEntriesInTablesAndJoins) {
  TTable Old, Cust, O;
  Old.SetTableName("oldcust.db");
  Old.AddField<TIntegerField>("No");
  Old.AddField<TStringField>("Name");
  Cust.SetTableName("cust.db");
  Cust.AddField<TIntegerField>("No");
  Cust.AddField<TStringField>("Name");
  O.SetTableName("orders.db");
  O.AddField<TIntegerField>("No");
  O.AddLookupField("OldName", ftString, &Old, "No", "No", "Name", 20);
  O.AddLookupField("CustName", ftString, &Cust, "No", "No", "Name", 20);
  O.AddLookupField("Again", ftString, &Cust, "No", "No", "Name", 20);
  TKVFind K;
  K.SetPDataSet(&O);
  K.SetCaseSensitive(true);
  K.SetFilter("OldName='a' and CustName='b' and Again='c'");
  EXPECT_EQ(TableSQL(K),
            "Select * From \"orders.db\",\"oldcust.db\",\"cust.db\" Where "
            "(\"oldcust.db\".\"Name\"=\"a\" and \"cust.db\".\"Name\"=\"b\" and "
            "\"cust.db\".\"Name\"=\"c\") and (No=\"oldcust.db\".\"No\" and No=\"cust.db\".\"No\")");

  // A join contained in a listed one (OldNo=... holds No=...) is still added.
  TTable P;
  P.SetTableName("pairs.db");
  P.AddField<TIntegerField>("No");
  P.AddField<TIntegerField>("OldNo");
  P.AddLookupField("OldName", ftString, &Cust, "OldNo", "No", "Name", 20);
  P.AddLookupField("NewName", ftString, &Cust, "No", "No", "Name", 20);
  TKVFind J;
  J.SetPDataSet(&P);
  J.SetFilter("OldName='a' and NewName='b'");
  TableSQL(J);
  EXPECT_EQ(J.Uniones(), "OldNo=\"cust.db\".\"No\" and No=\"cust.db\".\"No\"");
  EXPECT_EQ(J.Tablas(), "\"pairs.db\",\"cust.db\"");
}

// The statement for a query is put together from its clauses as the SQL parser reads them:
// keywords are whole words outside quotes and comments.
TEST(KVFindMended, QueryKeywordsAsWholeWords) {
  TQuery Q;
  Q.AddField<TIntegerField>("fromdate");
  Q.AddField<TStringField>("selection");
  Q.AddField<TStringField>("State");
  TKVFind K;
  K.SetPDataSet(&Q);
  K.SetCaseSensitive(true);
  K.SetFilter("State='CA'");
  const struct {
    const char* Sql;
    const char* Statement;
  } Cases[] = {
      {"select fromdate, selection from t where note='from where select'",
       "Select  fromdate, selection From  t Where (State=\"CA\") and ( note='from where "
       "select'\n)"},
      {"SELECT\nfromdate\nFROM\nt\nWHERE\nfromdate>1",
       "Select \nfromdate From \nt Where (State=\"CA\") and (\nfromdate>1\n)"},
      // The query's own clauses stay where SQL needs them: ORDER BY, GROUP BY (the search then
      // tests what the groups show), HAVING, DISTINCT; comments and a ";" stay out.
      {"select * from orders order by OrderNo",
       "Select  * From  orders Where (State=\"CA\") order by OrderNo\n"},
      {"select * from orders /* where */ where ShipVIA='U' -- the end",
       "Select  * From  orders Where (State=\"CA\") and ( ShipVIA='U' )"},
      {"select distinct State from customer;",
       "Select  distinct State From  customer Where (State=\"CA\")"},
      {"select State, count(*) as N from customer group by State",
       "Select  State, count(*) as N From  customer group by State\n Having (State=\"CA\")"},
      {"select State, count(*) as N from customer where Country='US' group by State having "
       "count(*) > 1 order by 2",
       "Select  State, count(*) as N From  customer Where ( Country='US') group by State Having "
       "(State=\"CA\") and ( count(*) > 1) order by 2\n"},
  };
  for (const auto& C : Cases) {
    Q.SQL().Clear();
    Q.SQL().SetText(C.Sql);
    K.SeparaDatos(K.Filter());
    K.PrepareData();
    EXPECT_EQ(K.TQueryBuildSQL(), C.Statement) << C.Sql;
  }
  // A query the SQL layer cannot read is refused with its own error, before any search.
  Q.SQL().SetText("select [where x] from t");
  EXPECT_EQ(MessageOf([&] { K.TQueryBuildSQL(); }),
            "Error de sintaxis en la posición 8 cerca de '['");
  // A statement longer than 16-bit positions keeps its parts.
  Q.SQL().Clear();
  Q.SQL().Add("select * from t where " + std::string(70000, ' ') + "x=1");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  const std::string S = K.TQueryBuildSQL();
  EXPECT_EQ(S.rfind("Select  * From  t Where (State=\"CA\") and (", 0), 0u);
  EXPECT_EQ(S.substr(S.size() - 5), "x=1\n)");
}

TEST(KVFindMended, DateTimeKeepsItsTime) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  K.SetFilter("Alta>='25/12/2000 08:30:00' and Alta<'25/12/1998 17:30'");
  EXPECT_EQ(WhereOf(K),
            "\"customer.db\".\"Alta\">=\"12/25/2000 08:30:00\" and "
            "\"customer.db\".\"Alta\"<\"12/25/1998 17:30:00\"");
}

// Empty literals on non-string fields (above) and an empty search on a query.
TEST(KVFindMended, EmptySearchOnAQuery) {
  TQuery Q;
  Q.AddField<TStringField>("State");
  TKVFind K;
  K.SetPDataSet(&Q);
  K.SetForceSQL(true);
  const struct {
    const char* Sql;
    const char* Statement;
  } Cases[] = {
      {"select * from customer", "Select  * From  customer\n"},
      {"select * from customer where State='CA'", "Select  * From  customer Where ( State='CA'\n)"},
  };
  for (const auto& C : Cases) {
    Q.SQL().Clear();
    Q.SQL().Add(C.Sql);
    K.SeparaDatos(K.Filter());
    K.PrepareData();
    EXPECT_EQ(K.TQueryBuildSQL(), C.Statement);
  }
  K.SetOrderBy("State");
  K.SeparaDatos(K.Filter());
  EXPECT_EQ(K.TQueryBuildSQL(),
            "Select  * From  customer Where ( State='CA'\n) Order by State ASC");
}

// A right operand that is a lookup field brings its table and join.
TEST(KVFindMended, LookupFieldAsRightOperand) {
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Orders);
  K.SetCaseSensitive(true);
  K.SetFilter("Company<>CustName");
  EXPECT_EQ(TableSQL(K),
            "Select * From \"orders.db\",\"customer.db\" Where "
            "(\"orders.db\".\"Company\"<>\"customer.db\".\"Company\") and "
            "(CustNo=\"customer.db\".\"CustNo\")");
  // An ordinary field stays its bare name.
  K.SetFilter("Company<>CustNo");
  EXPECT_EQ(TableSQL(K), "Select * From \"orders.db\" Where (\"orders.db\".\"Company\"<>CustNo)");
}

// Text constants on the SQL path: a memo is text, compared without letter case and searched
// with patterns as on the filter path; only the empty constant tests for an empty field, while
// a constant that is a percent sign (or two) is searched as such, its wildcard escaped.
TEST(KVFindMended, TextConstantsOnTheSqlPath) {
  const struct {
    const char* Expression;
    const char* Where;
  } Cases[] = {
      {"Notes=='Pedido'", "lower(\"customer.db\".\"Notes\") like \"pedido%\""},
      {"Notes><'Pedido'", "lower(\"customer.db\".\"Notes\") like \"%pedido%\""},
      {"Notes='Pedido'", "lower(\"customer.db\".\"Notes\")=\"pedido\""},
      {"Notes=''", "lower(\"customer.db\".\"Notes\") IS NULL "},
      {"Company='%'", "lower(\"customer.db\".\"Company\")=\"%\""},
      {"Company>'%'", "lower(\"customer.db\".\"Company\")>\"%\""},
      {"Company<>'%%'", "lower(\"customer.db\".\"Company\")<>\"%%\""},
      {"Company=='%'", "lower(\"customer.db\".\"Company\") like \"\\%%\" ESCAPE \"\\\""},
      {"Company><'%%'", "lower(\"customer.db\".\"Company\") like \"%\\%\\%%\" ESCAPE \"\\\""},
      {"Company==''", "lower(\"customer.db\".\"Company\") IS NULL "},
      {"Company><''", "lower(\"customer.db\".\"Company\") IS NULL "},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    TDeclared D;
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    K.SetFilter(C.Expression);
    EXPECT_EQ(WhereOf(K), C.Where);
    EXPECT_EQ(K.IFieldTypesList()[0], "S");
  }
  // An empty memo is an empty text for the dataset filter too, not a NULL.
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  K.SetFilter("Notes=''");
  K.Buildfilter();
  EXPECT_EQ(D.Customer.Filter(), "Notes = ''");
}

// A number is read one way on both paths, decimal: a text the SQL could not read bare (such as
// a hexadecimal number, which the platform's integer reading accepts) is no value of the field.
TEST(KVFindMended, NumbersAreDecimal) {
  TDeclared D;
  for (const char* E : {"Qty='0x10'", "Qty='$10'", "Qty='0X1f'", "Qty='1e2'", "Qty='- 5'"}) {
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    EXPECT_EQ(MessageOf([&] { K.SetFilter(E); }),
              "El valor:" + std::string(E).substr(4) + " no es de tipo válido");
  }
  for (const char* E : {"Qty='-12'", "Qty='+7'", "Qty=' 12 '", "Qty='2147483647'"}) {
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    EXPECT_EQ(MessageOf([&] { K.SetFilter(E); }), "") << E;
  }
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  K.SetFilter("Id='0x10'");
  K.SeparaDatos(K.Filter());
  EXPECT_EQ(MessageOf([&] { K.PrepareData(); }), "El valor:'0x10' no es de tipo válido");
}

// Blanks between the operator and a constant are no part of it on the SQL path either (they
// made its first character a quote there), and a time reads as the locale reads it.
TEST(KVFindMended, ConstantsAreReadAsTheCheckReadsThem) {
  const struct {
    const char* Expression;
    const char* Value;
  } Cases[] = {
      {"Company= 'Sig'", "\"sig\""},   {"Qty=  '5' ", "5"},
      {"Price= '12,5'", "12.5"},       {"Company>= City", " City"},
      {"Hora='8:30'", "\"08:30:00\""}, {"Hora=' 08:30:15 '", "\"08:30:15\""},
  };
  for (const auto& C : Cases) {
    TDeclared D;
    TKVFind K;
    K.SetPDataSet(&D.Customer);
    K.SetFilter(C.Expression);
    K.SeparaDatos(K.Filter());
    K.PrepareData();
    EXPECT_EQ(K.IValuesList()[0], C.Value) << C.Expression;
  }
  TDeclared D;
  TKVFind K;
  K.SetPDataSet(&D.Customer);
  K.SetFilter("Hora='tarde'");
  K.SeparaDatos(K.Filter());
  EXPECT_THROW(K.PrepareData(), EConvertError);
}

// Names go into generated SQL so that none can change what a statement does: table and field
// names holding quotes, blanks or tabs are quoted with their quotes doubled; plain names are
// written as before. The dataset filter brackets what it cannot read bare.
TEST(KVFindMended, NamesCannotChangeAStatement) {
  const std::string Odd = "n\"\tis\tnot\tnull\tor\t\"t\".\"n";
  TTable Customer, T;
  Customer.SetTableName("customer.db");
  Customer.AddField<TIntegerField>("CustNo");
  Customer.AddField<TStringField>("Company");
  T.SetTableName("p\"q.db");
  T.AddField<TIntegerField>(Odd);
  T.AddField<TStringField>("Last Name");
  T.AddField<TIntegerField>("Cust No");
  T.AddField<TStringField>("Name");
  T.AddLookupField("CustName", ftString, &Customer, "Cust No", "CustNo", "Company", 30);
  TKVFind K;
  K.SetPDataSet(&T);
  K.SetCaseSensitive(true);
  const std::string Q = "\"p\"\"q.db\"";
  const struct {
    std::string Expression;
    std::string Statement;
  } Cases[] = {
      {Odd + "='99'", "Select * From " + Q + " Where (" + Q +
                          ".\"n\"\"\tis\tnot\tnull\tor\t\"\"t\"\"." + "\"\"n\"=99)"},
      {"Name<>Last Name",
       "Select * From " + Q + " Where (" + Q + ".\"Name\"<>" + Q + ".\"Last Name\")"},
      {"CustName='x'", "Select * From " + Q +
                           ",\"customer.db\" Where (\"customer.db\".\"Company\"=" + "\"x\") and (" +
                           Q + ".\"Cust No\"=\"customer.db\".\"CustNo\")"},
  };
  for (const auto& C : Cases) {
    K.SetFilter(C.Expression);
    EXPECT_EQ(TableSQL(K), C.Statement) << C.Expression;
  }
  K.SetFilter(Odd + "='99' and Last Name='x'");
  K.Buildfilter();
  EXPECT_EQ(T.Filter(), "[" + Odd + "] = '99' and [Last Name] = 'x'");

  // A query's field is its bare name when it is a plain word, else quoted.
  TQuery Query;
  Query.SQL().Add("select * from customer");
  Query.AddField<TStringField>("Last Name");
  TKVFind QK;
  QK.SetPDataSet(&Query);
  QK.SetFilter("Last Name=='m'");
  EXPECT_EQ(WhereOf(QK), "lower(\"Last Name\") like \"m%\"");

  // A name the dataset filter cannot write is searched through SQL, and refused as a find
  // condition with a message naming it.
  TTable B;
  B.SetTableName("b.db");
  B.AddField<TStringField>("a]b");
  TKVFind BK;
  BK.SetPDataSet(&B);
  BK.SetFilter("a]b='x'");
  BK.SeparaDatos(BK.Filter());
  BK.PrepareData();
  EXPECT_TRUE(BK.NeedSQL());
  BK.SetCondition("a]b='x'");
  EXPECT_EQ(MessageOf([&] { BK.Buildcondition(); }),
            "El campo 'a]b' no se puede usar en un filtro: su nombre lleva ']'");
}

}  // namespace
