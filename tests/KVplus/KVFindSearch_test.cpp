// Search engine over table files: searches as a dataset filter and as SQL, the state they leave
// and restore, stepping through matches, the master restriction, and the export of results.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "Dialogs.h"
#include "KVFind.h"
#include "KVplus/TableMaker.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

namespace fs = std::filesystem;

template <class F>
std::string MessageOf(F&& Fn) {
  try {
    Fn();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "";
}

// Counts the notifications a grid bound to the dataset would receive.
class TCountingLink : public TDataLink {
 public:
  int Changing = 0, Active = 0, Changed = 0, Scrolled = 0;
  void DataSetChanging() override { ++Changing; }
  void ActiveChanged() override { ++Active; }
  void DataSetChanged() override { ++Changed; }
  void DataSetScrolled() override { ++Scrolled; }
  void Reset() { Changing = Active = Changed = Scrolled = 0; }
};

// Records the message boxes shown.
class TMessages {
 public:
  TMessages() {
    FOld = SetMessageHandler([this](const std::string& M, TMsgDlgType K, const std::string& D) {
      Texts.push_back(M);
      Kinds.push_back(K);
      Details.push_back(D);
    });
  }
  ~TMessages() { SetMessageHandler(FOld); }
  std::vector<std::string> Texts;
  std::vector<TMsgDlgType> Kinds;
  std::vector<std::string> Details;

 private:
  TMessageHandler FOld;
};

class KVFindFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char Tmpl[] = "/tmp/kvfindXXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    const TDateTime D1998 = EncodeDate(1998, 12, 25);
    Make("customer.db",
         {{"CustNo", ftInteger, 0},
          {"Company", ftString, 30},
          {"State", ftString, 4},
          {"City", ftString, 20},
          {"Since", ftDate, 0},
          {"Limit", ftFloat, 0}},
         {"CustNo"},
         {{1221, "Kiosco Divino Mar", "HI", "Kapri", D1998, 12.5},
          {1231, "Ultima", "CA", "Fresnedo", Null(), 3.0},
          {1351, "Sigma Divas", "CA", "Kativa Alta", D1998, 12.5},
          {1354, "Costa Divinas", "FL", "Grand Canela", Null(), 1.0},
          {1356, "O'Brien Diving", "CA", "Sunnyvale", Null(), 2.0},
          {1380, "Sigma Sub", "HI", "Honolulu", Null(), 5.0},
          {1384, "12\" pipe works", "TX", "Austin", Null(), 6.0},
          {1390, Null(), "TX", "Dallas", Null(), 7.0}});
    Make("orders.db",
         {{"OrderNo", ftInteger, 0},
          {"CustNo", ftInteger, 0},
          {"Amount", ftCurrency, 0},
          {"SaleDate", ftDateTime, 0}},
         {"OrderNo"},
         {{1003, 1221, 1500.5, TDateTime(EncodeDate(2000, 12, 25).Val + 8.5 / 24)},
          {1004, 1221, 100.0, TDateTime(EncodeDate(2000, 12, 25).Val + 10.0 / 24)},
          {1005, 1351, Null(), EncodeDate(1999, 1, 1)},
          {1006, 1356, 20.0, EncodeDate(1998, 12, 31)}});
    Make("items.db", {{"OrderNo", ftInteger, 0}, {"ItemNo", ftInteger, 0}, {"Qty", ftInteger, 0}},
         {"OrderNo", "ItemNo"}, {{1003, 1, 5}, {1003, 2, 6}, {1004, 1, 7}, {1005, 1, 8}});
    // Detail rows linked by a float and by a date.
    Make("limits.db", {{"Limit", ftFloat, 0}, {"Note", ftString, 10}}, {"Limit"},
         {{12.5, "doce"}, {3.0, "tres"}, {7.0, "5%_b"}, {8.0, "55xb"}, {9.0, "a\\%"}});
    Make("since.db", {{"Since", ftDate, 0}, {"Note", ftString, 10}}, {"Since"},
         {{D1998, "navidad"}, {EncodeDate(1999, 1, 1), "año"}});
    Make("notes.db", {{"No", ftInteger, 0}, {"Body", ftMemo, 0}}, {"No"},
         {{1, "Pedido urgente"},
          {2, "nuevo pedido"},
          {3, "PEDIDOS del mes"},
          {4, "pedido"},
          {5, Null()}});
    Make("pct.db", {{"No", ftInteger, 0}, {"Name", ftString, 10}}, {"No"},
         {{1, "%"}, {2, Null()}, {3, "%%"}, {4, "a"}, {5, "50%"}});
  }
  static void TearDownTestSuite() { fs::remove_all(Dir); }

  using TCol = kvtest::TCol;
  static void Make(const std::string& Name, const std::vector<TCol>& Defs,
                   const std::vector<std::string>& Key,
                   const std::vector<std::vector<Variant>>& Rows) {
    kvtest::MakeTable(Dir, Name, Defs, Key, Rows);
  }
  static void OpenTable(TTable& T, const char* Name) {
    T.SetDatabaseName(Dir);
    T.SetTableName(Name);
    T.Open();
  }
  // Values of one field over every record of DS, in order.
  static std::string Column(TDataSet* DS, const char* Field) {
    std::string R;
    DS->First();
    while (!DS->Eof()) {
      R += (R.empty() ? "" : ",") + DS->FieldByName(Field)->AsString();
      DS->Next();
    }
    DS->First();
    return R;
  }
  static int Int(TDataSet* DS, const char* Field) { return DS->FieldByName(Field)->AsInteger(); }

  // A search the way an application runs one.
  void Search(TKVFind& K, const std::string& Expression) {
    K.SetFilter(Expression);
    K.SetFiltered(true);
  }

  static inline std::string Dir;
};

// ---------------------------------------------------------------- the two ways of searching

TEST_F(KVFindFiles, FilterSearchAndItsEnd) {
  TTable Customer;
  OpenTable(Customer, "customer.db");
  Customer.SetFilter("State <> 'TX'");
  Customer.SetFiltered(true);
  Customer.SetFilterOptions(0);
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Customer);
  K.SetpDataSource(&DS);

  Search(K, "state='ca' and Limit>'2,5'");
  EXPECT_TRUE(K.Filtered());
  EXPECT_EQ(K.Results(), &Customer);
  EXPECT_EQ(DS.DataSet(), &Customer);
  EXPECT_TRUE(K.ActiveDataSet());
  EXPECT_EQ(Customer.Filter(), "State <> 'TX' and state = 'ca' and Limit > '2,5'");
  EXPECT_EQ(Customer.FilterOptions(), static_cast<TFilterOptions>(foCaseInsensitive));
  EXPECT_EQ(Column(&Customer, "CustNo"), "1231,1351");

  // An apostrophe in the constant matches literally.
  Search(K, "Company='O'Brien Diving'");
  EXPECT_EQ(Column(&Customer, "CustNo"), "1356");

  K.SetFiltered(false);
  EXPECT_FALSE(K.Filtered());
  EXPECT_EQ(Customer.Filter(), "State <> 'TX'");
  EXPECT_TRUE(Customer.Filtered());
  EXPECT_EQ(Customer.FilterOptions(), 0u);
  EXPECT_EQ(K.Results(), &Customer);
  EXPECT_EQ(Customer.RecordCount(), 6);

  // An empty search leaves the dataset and the data source alone; forced to SQL it shows all.
  TDataSource Other;
  Other.SetDataSet(&Customer);
  K.SetpDataSource(&Other);
  Search(K, "");
  EXPECT_EQ(Customer.Filter(), "State <> 'TX'");
  EXPECT_EQ(K.Results(), &Customer);
  K.SetForceSQL(true);
  Search(K, "");
  EXPECT_EQ(K.Results()->RecordCount(), 8);
  EXPECT_EQ(Other.DataSet(), K.SQLQuery());
}

TEST_F(KVFindFiles, SqlSearchShowsTheQueryWithTheDatasetsLayout) {
  TTable Customer;
  Customer.SetDatabaseName(Dir);
  Customer.SetTableName("customer.db");
  Customer.AddField<TIntegerField>("CustNo");
  Customer.AddField<TStringField>("Company")->SetDisplayLabel("Empresa");
  Customer.AddField<TStringField>("State");
  auto* Limit = Customer.AddField<TFloatField>("Limit");
  Limit->SetDisplayFormat("0.00");
  Limit->SetCurrency(true);
  Customer.AddField<TStringField>("Calc")->SetCalculated(true);
  Customer.Open();
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Customer);
  K.SetpDataSource(&DS);
  K.SetForceSQL(true);

  const struct {
    const char* Expression;
    bool CaseSensitive;
    const char* Found;
  } Cases[] = {
      {"Company=='sig'", false, "1351,1380"},
      {"Company=='sig'", true, ""},
      {"Company><'DIV'", false, "1221,1351,1354,1356"},
      {"Company='o'brien diving'", false, "1356"},
      {"Company=='12\" pipe'", false, "1384"},
      {"Company==''", false, "1390"},
      {"(Company=='k' or Company=='u') and State<>'HI'", false, "1231"},
      {"Company='ULTIMA' and (State='CA' or State='HI')", false, "1231"},
      {"Company='Ultima' and (State='ca' or State='HI')", true, ""},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    K.SetCaseSensitive(C.CaseSensitive);
    Search(K, C.Expression);
    EXPECT_FALSE(K.ActiveDataSet());
    EXPECT_EQ(K.Results(), K.SQLQuery());
    EXPECT_EQ(DS.DataSet(), K.SQLQuery());
    EXPECT_EQ(Column(K.Results(), "CustNo"), C.Found);
  }
  // The result shows the data fields with their presentation; calculated ones stay out.
  TDataSet* R = K.Results();
  ASSERT_EQ(R->FieldCount(), 4);
  EXPECT_EQ(R->Fields(1)->DisplayLabel(), "Empresa");
  auto* L = dynamic_cast<TFloatField*>(R->FieldByName("Limit"));
  ASSERT_NE(L, nullptr);
  EXPECT_EQ(L->DisplayFormat(), "0.00");
  EXPECT_TRUE(L->Currency());
  EXPECT_EQ(R->FindField("Calc"), nullptr);

  // Ending the search points the data source back at the table.
  K.SetFiltered(false);
  EXPECT_EQ(DS.DataSet(), &Customer);
  EXPECT_EQ(K.Results(), &Customer);
}

// Wildcard characters in the text of a "starts with" or "contains" search match themselves.
TEST_F(KVFindFiles, PatternCharactersMatchLiterally) {
  TTable Limits;
  OpenTable(Limits, "limits.db");
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Limits);
  K.SetpDataSource(&DS);
  const struct {
    const char* Expression;
    const char* Found;
  } Cases[] = {
      {"Note><'5%_'", "5%_b"}, {"Note=='5%'", "5%_b"}, {"Note=='5'", "5%_b,55xb"},
      {"Note><'\\%'", "a\\%"}, {"Note><'x'", "55xb"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    Search(K, C.Expression);
    EXPECT_EQ(Column(K.Results(), "Note"), C.Found);
  }
  K.SetFilter("Note=='5%_'");
  K.SeparaDatos(K.Filter());
  K.PrepareData();
  EXPECT_EQ(K.IValuesList()[0], "\"5\\%\\_%\" ESCAPE \"\\\"");
}

TEST_F(KVFindFiles, LookupSearchJoinsTheLookupTable) {
  TTable Customer, Orders;
  OpenTable(Customer, "customer.db");
  Orders.SetDatabaseName(Dir);
  Orders.SetTableName("orders.db");
  Orders.AddField<TIntegerField>("OrderNo");
  Orders.AddField<TIntegerField>("CustNo");
  Orders.AddField<TCurrencyField>("Amount");
  Orders.AddField<TDateTimeField>("SaleDate");
  Orders.AddLookupField("CustName", ftString, &Customer, "CustNo", "CustNo", "Company", 30);
  Orders.Open();
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Orders);
  K.SetpDataSource(&DS);
  K.SetCaseSensitive(true);
  Search(K, "CustName><'Div'");
  EXPECT_EQ(K.SQLQuery()->SQL().Text(),
            "Select * From \"orders.db\",\"customer.db\" Where (\"customer.db\".\"Company\" like "
            "\"%Div%\") and (CustNo=\"customer.db\".\"CustNo\")\n");
  EXPECT_EQ(Column(K.Results(), "OrderNo"), "1003,1004,1005,1006");
  EXPECT_EQ(Column(K.Results(), "CustName"),
            "Kiosco Divino Mar,Kiosco Divino Mar,Sigma Divas,O'Brien Diving");
  EXPECT_TRUE(K.Results()->FieldByName("CustName")->Lookup());

  // A right operand naming the lookup field joins its table too.
  K.SetForceSQL(true);
  Search(K, "CustName<>CustName");
  EXPECT_EQ(K.Results()->RecordCount(), 0);
  Search(K, "CustName=CustName");
  EXPECT_EQ(K.Results()->RecordCount(), 4);
  K.SetCaseSensitive(false);

  // Numbers with a decimal comma, date-times with their time of day, empty numbers.
  const struct {
    const char* Expression;
    const char* Found;
  } Cases[] = {
      {"Amount>='1500,5'", "1003"},
      {"Amount<'1500,5' and Amount>'20'", "1004"},
      {"SaleDate>='25/12/2000 08:30:00'", "1003,1004"},
      {"SaleDate>'25/12/2000 08:30:00'", "1004"},
      {"SaleDate<'31/12/1998'", ""},
      {"SaleDate<='31/12/1998'", "1006"},
      {"Amount=''", "1005"},
      {"Amount<>''", "1003,1004,1006"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    Search(K, C.Expression);
    EXPECT_EQ(Column(K.Results(), "OrderNo"), C.Found);
  }
}

TEST_F(KVFindFiles, QuerySearches) {
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select * from customer where State='CA'");
  Q.Open();
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Q);
  K.SetpDataSource(&DS);
  Search(K, "Company=='s'");
  EXPECT_EQ(K.SQLQuery()->SQL().Text(),
            "Select  * From  customer Where (lower(Company) like \"s%\") and ( State='CA'\n)\n");
  EXPECT_EQ(Column(K.Results(), "CustNo"), "1351");
  // An empty search forced to SQL leaves the Where clause to the query's own condition.
  K.SetForceSQL(true);
  Search(K, "");
  EXPECT_EQ(Column(K.Results(), "CustNo"), "1231,1351,1356");
  Q.Close();
  Q.SQL().Clear();
  Q.SQL().Add("select CustNo, Company from customer");
  Q.Open();
  K.SetPDataSet(&Q);
  Search(K, "");
  EXPECT_EQ(K.Results()->RecordCount(), 8);
}

// The joins of lookup fields hold for the whole search on a query too: an " or " in the search
// must not take them into its last branch only (which paired orders with customers they do
// not have).
TEST_F(KVFindFiles, QuerySearchWithALookupJoinsEveryBranch) {
  TTable Customer;
  OpenTable(Customer, "customer.db");
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select * from orders");
  Q.AddField<TIntegerField>("OrderNo");
  Q.AddField<TIntegerField>("CustNo");
  Q.AddField<TCurrencyField>("Amount");
  Q.AddField<TDateTimeField>("SaleDate");
  Q.AddLookupField("CustName", ftString, &Customer, "CustNo", "CustNo", "Company", 30);
  Q.Open();
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Q);
  K.SetpDataSource(&DS);
  Search(K, "CustName=='sig' or Amount>'1000'");
  EXPECT_EQ(K.SQLQuery()->SQL().Text(),
            "Select  * From  orders\n,\"customer.db\" Where ((lower(\"customer.db\".\"Company\") "
            "like \"sig%\" or Amount>1000) and (CustNo=\"customer.db\".\"CustNo\"))\n");
  std::set<std::string> Found;
  for (TDataSet* R = K.Results(); !R->Eof(); R->Next())
    Found.insert(R->FieldByName("OrderNo")->AsString());
  EXPECT_EQ(Found, (std::set<std::string>{"1003", "1005"}));
  EXPECT_EQ(K.Results()->RecordCount(), 2);
}

// With letter case ignored, a search finds the same records as a dataset filter and as SQL:
// both compare the texts' lower-case forms (the ones the SQL lower() gives).
TEST_F(KVFindFiles, BothWaysIgnoreLetterCaseAlike) {
  // Text files keep every character (Paradox and dBase files hold a code page's).
  Make("names.txt", {{"Id", ftInteger, 0}, {"Name", ftString, 20}}, {"Id"},
       {{1, "STRASSE"},
        {2, "straße"},
        {3, "fin"},
        {4, "ﬁn"},
        {5, "FIN"},
        {6, "ΟΔΟΣ"},
        {7, "οδοσ"},
        {8, "ΟΔΟΣΑ"},
        {9, "İSTANBUL"},
        {10, "ıstanbul"},
        {11, "ISTANBUL"},
        {12, "ÁNGEL"},
        {13, "ángel"},
        {14, "angel"}});
  TTable Names;
  OpenTable(Names, "names.txt");
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Names);
  K.SetpDataSource(&DS);
  const struct {
    const char* Expression;
    const char* Found;
  } Cases[] = {
      {"Name='straße'", "2"},
      {"Name='STRASSE'", "1"},
      {"Name='fin'", "3,5"},
      {"Name='ﬁn'", "4"},
      {"Name='οδος'", "6"},
      {"Name>='ΟΔΟΣ'", "4,6,7,8"},
      {"Name<'ΟΔΟΣ' and Name>'ı'", "10"},
      {"Name='i̇stanbul'", "9"},
      {"Name='istanbul'", "11"},
      {"Name='ıSTANBUL'", "10"},
      {"Name='Ángel'", "12,13"},
      {"Name<>'ÁNGEL' and Name<'b'", "14"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    for (bool Sql : {false, true}) {
      K.SetForceSQL(Sql);
      Search(K, C.Expression);
      EXPECT_EQ(K.Results() == K.SQLQuery(), Sql);
      EXPECT_EQ(Column(K.Results(), "Id"), C.Found) << (Sql ? "SQL" : "filter");
    }
  }
  // Starting with: SQL in a search, the dataset filter when stepping through matches.
  K.SetForceSQL(false);
  K.SetFiltered(false);
  for (const char* Prefix : {"'STRAẞ'", "'ΟΔΟΣ'", "'İs'", "'ﬁ'"}) {
    SCOPED_TRACE(Prefix);
    Search(K, std::string("Name==") + Prefix);
    const std::string BySql = Column(K.Results(), "Id");
    K.SetFiltered(false);
    K.SetCondition(std::string("Name==") + Prefix);
    std::string Stepped;
    for (bool Ok = K.FindFirst(); Ok; Ok = K.FindNext())
      Stepped += (Stepped.empty() ? "" : ",") + Names.FieldByName("Id")->AsString();
    EXPECT_EQ(Stepped, BySql);
  }
}

TEST_F(KVFindFiles, OrderByShowsEverythingInOrder) {
  TTable Customer;
  OpenTable(Customer, "customer.db");
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Customer);
  K.SetpDataSource(&DS);
  K.SetDescendant(true);
  K.SetOrderBy("City");
  EXPECT_FALSE(K.ForceSQL());
  EXPECT_EQ(DS.DataSet(), K.SQLQuery());
  EXPECT_EQ(Column(K.SQLQuery(), "City"),
            "Sunnyvale,Kativa Alta,Kapri,Honolulu,Grand Canela,Fresnedo,Dallas,Austin");

  // After a rejected filter, assigning an order runs the search and fails; ForceSQL is kept.
  TTable Plain;
  Plain.SetDatabaseName(Dir);
  Plain.SetTableName("customer.db");
  Plain.AddField<TIntegerField>("CustNo");
  Plain.AddField<TStringField>("City");
  Plain.AddField<TStringField>("Calc")->SetCalculated(true);
  Plain.Open();
  TKVFind P;
  P.SetPDataSet(&Plain);
  P.SetpDataSource(&DS);
  EXPECT_EQ(MessageOf([&] { P.SetFilter("Calc='x'"); }), "Filtro no válido");
  for (bool Force : {false, true}) {
    P.SetForceSQL(Force);
    EXPECT_EQ(MessageOf([&] { P.SetOrderBy("City"); }), "No valid filter");
    EXPECT_EQ(P.ForceSQL(), Force);
  }
}

// A detail table searched without MasterSlave loses its link only while the search runs.
TEST_F(KVFindFiles, MasterLinkComesBackAfterEverySearch) {
  TTable Customer, Orders;
  OpenTable(Customer, "customer.db");
  TDataSource CustSrc;
  CustSrc.SetDataSet(&Customer);
  Orders.SetDatabaseName(Dir);
  Orders.SetTableName("orders.db");
  Orders.SetIndexFieldNames("CustNo");
  Orders.SetMasterSource(&CustSrc);
  Orders.SetMasterFields("CustNo");
  Orders.Open();
  ASSERT_EQ(Orders.RecordCount(), 2);  // customer 1221
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Orders);
  K.SetpDataSource(&DS);
  K.SetForceSQL(true);
  Search(K, "Amount>'50'");
  EXPECT_EQ(Column(K.Results(), "OrderNo"), "1003,1004");  // no master restriction in SQL
  EXPECT_EQ(Orders.MasterSource(), &CustSrc);
  EXPECT_EQ(Orders.MasterFields(), "CustNo");

  // A search that raises gives the link back too.
  K.SetFilter("");
  EXPECT_THROW(Search(K, "Amount>'x'"), Exception);
  EXPECT_TRUE(K.Filtered());  // keeps its previous value
  EXPECT_EQ(Orders.MasterSource(), &CustSrc);
  EXPECT_EQ(Orders.MasterFields(), "CustNo");
  EXPECT_EQ(Orders.RecordCount(), 2);
}

// ---------------------------------------------------------------- the master restriction

class KVFindMasters : public KVFindFiles {
 protected:
  void SetUp() override {
    OpenTable(Customer, "customer.db");
    CustSrc.SetDataSet(&Customer);
    Orders.SetDatabaseName(Dir);
    Orders.SetTableName("orders.db");
    Orders.SetIndexFieldNames("CustNo");
    Orders.SetMasterSource(&CustSrc);
    Orders.SetMasterFields("CustNo");
    Orders.Open();
    OrdSrc.SetDataSet(&Orders);
    Items.SetDatabaseName(Dir);
    Items.SetTableName("items.db");
    Items.SetIndexFieldNames("OrderNo");
    Items.SetMasterSource(&OrdSrc);
    Items.SetMasterFields("OrderNo");
    Items.Open();
  }
  TTable Customer, Orders, Items;
  TDataSource CustSrc, OrdSrc;
};

// A search in place on a detail table and its end each reach a view as one announced change,
// though the link is cut, the filter set and the link given back.
TEST_F(KVFindMasters, SearchInPlaceIsOneChangeForViews) {
  Orders.SetFilter("Amount <> NULL");
  Orders.SetFiltered(true);
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Orders);
  K.SetpDataSource(&DS);
  TCountingLink Link;
  Link.SetDataSource(&DS);
  Link.Reset();
  Search(K, "Amount>'150'");
  EXPECT_EQ(Column(&Orders, "OrderNo"), "1003");
  EXPECT_EQ(Link.Changing, 1);
  EXPECT_EQ(Link.Changed, 1);
  Link.Reset();
  K.SetFiltered(false);
  EXPECT_EQ(Column(&Orders, "OrderNo"), "1003,1004");
  EXPECT_EQ(Link.Changing, 1);
  EXPECT_EQ(Link.Changed, 1);
}

TEST_F(KVFindMasters, TwoLevelsOfMasters) {
  ASSERT_EQ(Int(&Customer, "CustNo"), 1221);
  ASSERT_EQ(Int(&Orders, "OrderNo"), 1003);
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Items);
  K.SetpDataSource(&DS);
  K.SetMasterSlave(true);
  K.SetForceSQL(true);
  Search(K, "");
  EXPECT_EQ(K.SQLQuery()->SQL().Text(),
            "Select * From \"items.db\",\"orders.db\" Where (\"items.db\".\"orderno\"=1003 and "
            "\"orders.db\".\"orderno\"=1003 and \"orders.db\".\"custno\"=1221)\n");
  EXPECT_EQ(Column(K.Results(), "ItemNo"), "1,2");
  EXPECT_EQ(K.Tablas(), "\"items.db\",\"orders.db\"");

  // One level: nothing added to the tables.
  TKVFind One;
  One.SetPDataSet(&Orders);
  One.SetMasterSlave(true);
  One.SeparaDatos("");
  EXPECT_EQ(One.TTAbleBuildSQL(),
            "Select * From \"orders.db\" Where (\"orders.db\".\"custno\"=1221)");
  // Without MasterSlave nothing is added.
  One.SetMasterSlave(false);
  EXPECT_EQ(One.TTAbleBuildSQL(), "Select * From \"orders.db\"");

  // A query as master is refused.
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select * from orders");
  Q.Open();
  TDataSource QSrc;
  QSrc.SetDataSet(&Q);
  Items.SetMasterSource(&QSrc);
  EXPECT_EQ(MessageOf([&] { K.TTAbleBuildSQL(); }), "Tabla SQL como maestra no permitida");
}

// Float and date master values are written as the SQL reads them.
TEST_F(KVFindMasters, FloatAndDateMasterValues) {
  ASSERT_EQ(Customer.FieldByName("Limit")->AsFloat(), 12.5);
  TTable Limits, Since;
  Limits.SetDatabaseName(Dir);
  Limits.SetTableName("limits.db");
  Limits.SetIndexFieldNames("Limit");
  Limits.SetMasterSource(&CustSrc);
  Limits.SetMasterFields("Limit");
  Limits.Open();
  Since.SetDatabaseName(Dir);
  Since.SetTableName("since.db");
  Since.SetIndexFieldNames("Since");
  Since.SetMasterSource(&CustSrc);
  Since.SetMasterFields("Since");
  Since.Open();
  TDataSource DS;
  TKVFind K;
  K.SetpDataSource(&DS);
  K.SetMasterSlave(true);
  K.SetForceSQL(true);
  K.SetPDataSet(&Limits);
  Search(K, "");
  EXPECT_EQ(K.SQLQuery()->SQL().Text(),
            "Select * From \"limits.db\" Where (\"limits.db\".\"limit\"=12.5)\n");
  EXPECT_EQ(Column(K.Results(), "Note"), "doce");
  K.SetPDataSet(&Since);
  Search(K, "");
  EXPECT_EQ(K.SQLQuery()->SQL().Text(),
            "Select * From \"since.db\" Where (\"since.db\".\"since\"=\"12/25/1998\")\n");
  EXPECT_EQ(Column(K.Results(), "Note"), "navidad");
}

// An empty master value (of any type) is compared as an empty constant is, " IS NULL ": the
// search then shows what the detail table shows, the records whose link is empty too.
TEST_F(KVFindFiles, EmptyMasterValuesAreComparedAsEmpty) {
  Make("zones.db", {{"ZoneNo", ftInteger, 0}, {"Code", ftString, 4}, {"Name", ftString, 10}}, {},
       {{1, "N", "Norte"}, {Null(), Null(), "Sin zona"}});
  Make("shops.db", {{"ZoneNo", ftInteger, 0}, {"Code", ftString, 4}, {"Shop", ftString, 10}}, {},
       {{1, "N", "Bilbao"}, {Null(), Null(), "Web"}, {Null(), Null(), "Feria"}});
  TTable Zones;
  OpenTable(Zones, "zones.db");
  TDataSource ZoneSrc;
  ZoneSrc.SetDataSet(&Zones);
  TDataSource DS;
  for (const char* Link : {"ZoneNo", "Code"}) {
    SCOPED_TRACE(Link);
    TTable Shops;
    Shops.SetDatabaseName(Dir);
    Shops.SetTableName("shops.db");
    Shops.SetIndexFieldNames(Link);
    Shops.SetMasterSource(&ZoneSrc);
    Shops.SetMasterFields(Link);
    Shops.Open();
    Zones.First();
    Zones.Next();  // the zone without number or code
    ASSERT_TRUE(Zones.FieldByName(Link)->IsNull());
    TKVFind K;
    K.SetPDataSet(&Shops);
    K.SetpDataSource(&DS);
    K.SetMasterSlave(true);
    K.SetForceSQL(true);
    Search(K, "Shop<>''");
    EXPECT_EQ(K.SQLQuery()->SQL().Text(),
              "Select * From \"shops.db\" Where (lower(\"shops.db\".\"Shop\") IS NOT NULL ) and "
              "(\"shops.db\".\"" +
                  LowerCase(Link) + "\" IS NULL )\n");
    EXPECT_EQ(Column(K.Results(), "Shop"), Column(&Shops, "Shop"));
    EXPECT_EQ(Column(K.Results(), "Shop"), "Web,Feria");
  }
}

// ---------------------------------------------------------------- navigation

// Text searches find the same records on both paths: a memo with patterns and without letter
// case as any text field, and a constant that is a percent sign as one (only the empty
// constant finds the empty field).
TEST_F(KVFindFiles, TextSearchesAlikeOnBothPaths) {
  const struct {
    const char* Table;
    const char* Expression;
    const char* Rows;
  } Cases[] = {
      {"notes.db", "Body=='pedido'", "1,3,4"},
      {"notes.db", "Body><'PEDIDO'", "1,2,3,4"},
      {"notes.db", "Body='PEDIDO'", "4"},
      {"notes.db", "Body=''", "5"},
      {"pct.db", "Name='%'", "1"},
      {"pct.db", "Name='%%'", "3"},
      {"pct.db", "Name>'%'", "3,4,5"},
      {"pct.db", "Name=='%'", "1,3"},
      {"pct.db", "Name><'%'", "1,3,5"},
      {"pct.db", "Name=''", "2"},
  };
  for (const auto& C : Cases)
    for (bool Sql : {false, true}) {
      SCOPED_TRACE(std::string(C.Expression) + (Sql ? " (SQL)" : ""));
      TTable T;
      OpenTable(T, C.Table);
      TDataSource DS;
      TKVFind K;
      K.SetPDataSet(&T);
      K.SetpDataSource(&DS);
      K.SetForceSQL(Sql);
      Search(K, C.Expression);
      EXPECT_EQ(Column(K.Results(), "No"), C.Rows);
    }
}

// Names holding quotes, tabs and blanks search alike on both paths: a field name that reads as
// SQL cannot widen the search, and a table file whose name holds a quote (export writes such
// names) is searched like any other, alone and as a master.
TEST_F(KVFindFiles, NamesCannotChangeWhatAStatementDoes) {
  const std::string Odd = "n\"\tis\tnot\tnull\tor\t\"t\".\"n";
  Make("odd.txt", {{Odd.c_str(), ftInteger, 0}, {"Last Name", ftString, 10}}, {},
       {{99, "a"}, {1, "b"}, {Null(), "c"}});
  Make("p\"q.db", {{"No", ftInteger, 0}, {"Name", ftString, 10}}, {"No"}, {{1, "x"}, {2, "y"}});
  Make("de\"tail.db", {{"No", ftInteger, 0}, {"Line", ftInteger, 0}}, {"No", "Line"},
       {{1, 1}, {1, 2}, {2, 1}});
  TTable T, P;
  OpenTable(T, "odd.txt");
  OpenTable(P, "p\"q.db");
  TDataSource DS;
  for (bool Sql : {false, true}) {
    TKVFind K;
    K.SetPDataSet(&T);
    K.SetpDataSource(&DS);
    K.SetForceSQL(Sql);
    Search(K, Odd + "='99'");
    EXPECT_EQ(Column(K.Results(), "Last Name"), "a") << Sql;
    Search(K, "Last Name='b'");
    EXPECT_EQ(Column(K.Results(), "Last Name"), "b") << Sql;
    TKVFind Q;
    Q.SetPDataSet(&P);
    Q.SetpDataSource(&DS);
    Q.SetForceSQL(Sql);
    Search(Q, "Name='y'");
    EXPECT_EQ(Column(Q.Results(), "No"), "2") << Sql;
  }
  P.SetFiltered(false);  // the filter the last search left
  P.First();
  TDataSource MasterSource;
  MasterSource.SetDataSet(&P);
  TTable Detail;
  Detail.SetDatabaseName(Dir);
  Detail.SetTableName("de\"tail.db");
  Detail.SetIndexFieldNames("No");
  Detail.SetMasterSource(&MasterSource);
  Detail.SetMasterFields("No");
  Detail.Open();
  TKVFind D;
  D.SetPDataSet(&Detail);
  D.SetpDataSource(&DS);
  D.SetMasterSlave(true);
  D.SetForceSQL(true);
  Search(D, "Line>'0'");
  EXPECT_EQ(Column(D.Results(), "Line"), "1,2");
}

// A query's own clauses stay where SQL wants them around a search (its order, its grouping,
// where the search sees what the groups show, DISTINCT, comments), and both paths find the
// same records.
TEST_F(KVFindFiles, SearchesOverQueriesWithTheirOwnClauses) {
  const struct {
    const char* Sql;
    const char* Expression;
    const char* Field;
    const char* Rows;
  } Cases[] = {
      {"select * from customer order by CustNo desc", "State='CA'", "CustNo", "1356,1351,1231"},
      {"select * from customer /* where */ where State='CA' -- where\n", "Limit>'2'", "CustNo",
       "1231,1351"},
      {"select distinct State from customer order by State", "State<>'CA'", "State", "FL,HI,TX"},
      {"select State, count(*) as N from customer group by State", "N>'1'", "State", "CA,HI,TX"},
      {"select State, count(*) as N from customer group by State having count(*) < 3 order by "
       "State desc",
       "N>'1'", "State", "TX,HI"},
  };
  for (const auto& C : Cases)
    for (bool Sql : {false, true}) {
      SCOPED_TRACE(std::string(C.Sql) + (Sql ? " (SQL)" : ""));
      TQuery Q;
      Q.SetDatabaseName(Dir);
      Q.SQL().SetText(C.Sql);
      Q.Open();
      TDataSource DS;
      TKVFind K;
      K.SetPDataSet(&Q);
      K.SetpDataSource(&DS);
      K.SetForceSQL(Sql);
      Search(K, C.Expression);
      EXPECT_EQ(Column(K.Results(), C.Field), C.Rows);
    }
  // "Starts with" always runs as SQL: the query's order is kept.
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select * from customer order by CustNo desc");
  Q.Open();
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Q);
  K.SetpDataSource(&DS);
  Search(K, "Company=='sig'");
  EXPECT_EQ(Column(K.Results(), "CustNo"), "1380,1351");
  // An order chosen comes before the query's own.
  K.SetOrderBy("State");
  EXPECT_EQ(Column(K.Results(), "CustNo"), "1351,1380");
}

TEST_F(KVFindFiles, NavigationInFilterMode) {
  TTable Customer;
  OpenTable(Customer, "customer.db");
  TDataSource DS;
  TCountingLink Link;
  Link.SetDataSource(&DS);
  TKVFind K;
  K.SetPDataSet(&Customer);
  K.SetpDataSource(&DS);
  Customer.SetRecNo(2);

  K.SetCondition("State='CA'");
  Link.Changed = Link.Scrolled = 0;
  EXPECT_TRUE(K.FindFirst());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1231);
  EXPECT_LE(Link.Changed, 1);
  EXPECT_LE(Link.Scrolled, 1);
  EXPECT_FALSE(Customer.ControlsDisabled());
  EXPECT_TRUE(K.FindNext());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1351);
  EXPECT_TRUE(K.FindNext());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1356);
  EXPECT_FALSE(K.FindNext());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1356);
  EXPECT_TRUE(K.FindPrior());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1351);
  EXPECT_TRUE(K.FindPrior());
  EXPECT_FALSE(K.FindPrior());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1231);
  EXPECT_EQ(Customer.Filter(), "");
  EXPECT_FALSE(Customer.Filtered());

  // No match: back where it was. An empty condition: nothing happens.
  K.SetCondition("State='ZZ'");
  EXPECT_FALSE(K.FindFirst());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1231);
  K.SetCondition("");
  EXPECT_FALSE(K.FindFirst());
  EXPECT_FALSE(K.FindNext());

  // Within an in-place search's result only; the case follows CaseSensitive.
  Search(K, "State='hi' or State='tx'");
  K.SetCondition("Company=='S'");
  EXPECT_TRUE(K.FindFirst());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1380);
  EXPECT_EQ(Customer.Filter(), "State = 'hi' or State = 'tx'");
  EXPECT_TRUE(Customer.Filtered());
  K.SetCondition("Company='O'Brien Diving'");
  EXPECT_FALSE(K.FindFirst());  // not within the result
  K.SetFiltered(false);
  EXPECT_TRUE(K.FindFirst());
  EXPECT_EQ(Int(&Customer, "CustNo"), 1356);
}

// A step through matches only moves the record: a view on the result hears one scroll per step and
// no change, without a search, after one in place and after one in SQL. Stepping from a record
// that does not match finds the first match after it.
TEST_F(KVFindFiles, NavigationIsOnlyAScrollForViews) {
  TTable Customer;
  OpenTable(Customer, "customer.db");
  TDataSource DS;
  TCountingLink Link;
  Link.SetDataSource(&DS);
  TKVFind K;
  K.SetPDataSet(&Customer);
  K.SetpDataSource(&DS);
  const struct {
    const char* Expression;
    const char* Stops;
  } Cases[] = {{"", "1231,1354,1356,1354"},
               {"State='CA' or State='HI'", "1231,1356,1380,1356"},
               {"Company><'i'", "1231,1354,1356,1354"}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    if (*C.Expression) Search(K, C.Expression);
    K.Results()->First();
    K.SetCondition("Limit<'10'");
    Link.Reset();
    std::string Stops;
    for (int Step = 0; Step < 4; ++Step) {
      EXPECT_TRUE(Step == 0 ? K.FindFirst() : Step < 3 ? K.FindNext() : K.FindPrior());
      Stops += (Step ? "," : "") + std::to_string(Int(K.Results(), "CustNo"));
    }
    EXPECT_EQ(Stops, C.Stops);
    EXPECT_EQ(Link.Changing, 0);
    EXPECT_EQ(Link.Changed, 0);
    EXPECT_EQ(Link.Active, 0);
    EXPECT_EQ(Link.Scrolled, 4);
    // From the first record of the result, which does not match, the next match is the first.
    K.Results()->First();
    EXPECT_TRUE(K.FindNext());
    EXPECT_EQ(Int(K.Results(), "CustNo"), std::stoi(C.Stops));
  }
}

// A step the platform rejects leaves filter, flag, position and controls as they were.
TEST_F(KVFindFiles, NavigationThatRaisesRestoresEverything) {
  TTable Customer;
  OpenTable(Customer, "customer.db");
  Customer.SetFilter("State <> 'TX'");
  Customer.SetFiltered(true);
  TKVFind K;
  K.SetPDataSet(&Customer);
  Customer.SetRecNo(3);
  const int Before = Int(&Customer, "CustNo");
  Customer.DisableControls();  // a caller's own disabling is kept
  for (const char* Cond : {"Company><'x'", "City>Nothing"}) {
    K.SetCondition(Cond);
    for (int Step = 0; Step < 3; ++Step) {
      SCOPED_TRACE(std::string(Cond) + " step " + std::to_string(Step));
      EXPECT_THROW(Step == 0 ? K.FindFirst() : Step == 1 ? K.FindNext() : K.FindPrior(), Exception);
      EXPECT_EQ(Customer.Filter(), "State <> 'TX'");
      EXPECT_TRUE(Customer.Filtered());
      EXPECT_EQ(Int(&Customer, "CustNo"), Before);
      EXPECT_TRUE(Customer.ControlsDisabled());
    }
  }
  Customer.EnableControls();
  EXPECT_FALSE(Customer.ControlsDisabled());
}

TEST_F(KVFindFiles, NavigationInSqlMode) {
  TTable Customer;
  OpenTable(Customer, "customer.db");
  TDataSource DS;
  TKVFind K;
  K.SetPDataSet(&Customer);
  K.SetpDataSource(&DS);
  Search(K, "Company><'i'");
  const int AtStart = Int(&Customer, "CustNo");
  K.SetCondition("State='HI'");
  EXPECT_TRUE(K.FindFirst());
  EXPECT_EQ(Int(K.SQLQuery(), "CustNo"), 1221);
  EXPECT_TRUE(K.FindNext());
  EXPECT_EQ(Int(K.SQLQuery(), "CustNo"), 1380);
  EXPECT_EQ(K.SQLQuery()->Filter(), "State = 'HI'");
  EXPECT_EQ(Int(&Customer, "CustNo"), AtStart);
}

// ---------------------------------------------------------------- export

class KVFindExport : public KVFindFiles {
 protected:
  void SetUp() override {
    Out = Dir + "/out";
    fs::create_directories(Out);
    OpenTable(Customer, "customer.db");
    K.SetPDataSet(&Customer);
    K.SetpDataSource(&DS);
  }
  void TearDown() override { fs::remove_all(Out); }
  // Field names and record count of a table file.
  static std::string Shape(const std::string& Path) {
    ClearTableCache(Path);
    TTable T;
    T.SetTableName(Path);
    T.Open();
    std::string R;
    for (int I = 0; I < T.FieldCount(); ++I) R += T.Fields(I)->FieldName() + ";";
    return R + std::to_string(T.RecordCount());
  }
  std::string Out;
  TTable Customer;
  TDataSource DS;
  TKVFind K;
};

TEST_F(KVFindExport, ThreeFormatsColumnsAndRecords) {
  TMessages Boxes;
  K.SetFilter("State='CA'");
  const struct {
    const char* File;
    const char* Columns;
    bool All;
    const char* Shape;
  } Cases[] = {
      {"a.db", "", false, "CustNo;Company;State;City;Since;Limit;3"},
      {"b.dbf", "\"Company\", \"City\"", false, "Company;City;3"},
      {"c.txt", "\"company\", \"CITY\"", true, "Company;City;8"},
      {"d.db", "\"CustNo\", \"Company\", \"State\", \"City\", \"Since\", \"Limit\"", false,
       "CustNo;Company;State;City;Since;Limit;3"},
      {"e.db", "\"Limit\", \"limit\"", true, "Limit;8"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.File);
    const std::string Path = Out + "/" + C.File;
    EXPECT_TRUE(K.ExportResults(Path, C.Columns, C.All));
    EXPECT_EQ(Shape(Path), C.Shape);
    EXPECT_EQ(K.Results(), K.SQLQuery());
    EXPECT_EQ(DS.DataSet(), K.SQLQuery());
    EXPECT_EQ(K.SQLQuery()->RecordCount(), 3);  // the search's result, also after all records
    EXPECT_FALSE(K.ForceSQL());
  }
  EXPECT_TRUE(Boxes.Texts.empty());
  // No passing files are left behind.
  for (const auto& E : fs::directory_iterator(Out))
    EXPECT_NE(E.path().filename().string()[0], '.') << E.path();
  // The schema's section names the table.
  EXPECT_EQ(ReadFileBytes(Out + "/c.sch").rfind("[C]\n", 0), 0u);
}

// A column choice that names a field the result lacks is an error naming it, and nothing is
// written; the search's result stays as it was.
TEST_F(KVFindExport, UnknownColumnsAreNamedAndNothingIsWritten) {
  TMessages Boxes;
  K.SetFilter("State='CA'");
  const std::string Old = Out + "/old.db";
  ASSERT_TRUE(K.ExportResults(Old, "", false));
  const std::string Before = ReadFileBytes(Old);
  EXPECT_EQ(MessageOf([&] { K.ExportResults(Out + "/n.db", "\"Company\", \"Nope\"", false); }),
            "No se puede exportar: el resultado no tiene el campo 'Nope'");
  EXPECT_EQ(MessageOf([&] { K.ExportResults(Old, "Nada, Company, CustNoX", true); }),
            "No se puede exportar: el resultado no tiene los campos 'Nada', 'CustNoX'");
  // A part of a name is no name.
  EXPECT_EQ(MessageOf([&] { K.ExportResults(Old, "\"Comp\"", false); }),
            "No se puede exportar: el resultado no tiene el campo 'Comp'");
  EXPECT_EQ(ReadFileBytes(Old), Before);
  EXPECT_FALSE(fs::exists(Out + "/n.db"));
  EXPECT_TRUE(Boxes.Texts.empty());
  EXPECT_EQ(K.SQLQuery()->RecordCount(), 3);
}

// Only the chosen fields are written, so fields the user left out can neither fail the export
// (a text too long for dBase) nor lose it (names dBase cuts alike, made apart in the file).
TEST_F(KVFindExport, FieldsLeftOutCannotFailTheCopy) {
  TMemDataSet Wide;
  Wide.FieldDefs().Add("ShipToAddr1", ftString, 20);
  Wide.FieldDefs().Add("ShipToAddr2", ftString, 20);
  Wide.FieldDefs().Add("Notes", ftMemo);
  Wide.FieldDefs().Add("OrderNo", ftInteger);
  Wide.CreateDataSet();
  Wide.AppendRecord({"Calle Mayor 1", "Bajo", std::string(300, 'n'), 1});
  Wide.AppendRecord({"Plaza Real 2", Null(), "corta", 2});
  TTable Src;
  Src.SetTableName(Out + "/wide.db");
  Src.BatchMove(&Wide, batCopy);
  Src.Open();
  TKVFind W;
  W.SetPDataSet(&Src);
  TMessages Boxes;
  EXPECT_TRUE(W.ExportResults(Out + "/o.dbf", "OrderNo, ShipToAddr1, ShipToAddr2", false));
  EXPECT_EQ(Shape(Out + "/o.dbf"), "ShipToAddr;ShipToAd_1;OrderNo;2");
  // The text too long for dBase is refused by name when it is chosen.
  EXPECT_FALSE(W.ExportResults(Out + "/n.dbf", "Notes", false));
  ASSERT_EQ(Boxes.Details.size(), 1u);
  EXPECT_NE(Boxes.Details[0].find("'Notes'"), std::string::npos) << Boxes.Details[0];
  EXPECT_FALSE(fs::exists(Out + "/n.dbf"));
}

TEST_F(KVFindExport, AllRecordsWithinTheMaster) {
  TDataSource CustSrc;
  CustSrc.SetDataSet(&Customer);
  TTable Orders;
  Orders.SetDatabaseName(Dir);
  Orders.SetTableName("orders.db");
  Orders.SetIndexFieldNames("CustNo");
  Orders.SetMasterSource(&CustSrc);
  Orders.SetMasterFields("CustNo");
  Orders.Open();
  TKVFind O;
  O.SetPDataSet(&Orders);
  O.SetpDataSource(&DS);
  O.SetFilter("Amount>'150'");
  O.SetMasterSlave(true);
  EXPECT_TRUE(O.ExportResults(Out + "/m.db", "", true));
  EXPECT_EQ(Shape(Out + "/m.db"), "OrderNo;CustNo;Amount;SaleDate;2");
  O.SetMasterSlave(false);
  EXPECT_TRUE(O.ExportResults(Out + "/n.db", "", true));
  EXPECT_EQ(Shape(Out + "/n.db"), "OrderNo;CustNo;Amount;SaleDate;4");
  EXPECT_TRUE(O.ExportResults(Out + "/s.db", "", false));
  EXPECT_EQ(Shape(Out + "/s.db"), "OrderNo;CustNo;Amount;SaleDate;1");
}

// An export never writes over a table the search reads (the searched table, its master, the
// table of a lookup field, a query's table), however the target names it: nothing is written
// and the message names the table.
TEST_F(KVFindExport, NeverOntoATableTheSearchReads) {
  TMessages Boxes;
  const std::string Before = ReadFileBytes(Dir + "/customer.db");
  fs::create_symlink(Dir + "/customer.db", Out + "/link.db");
  const std::string Refused =
      "No se puede exportar sobre la tabla 'customer.db': la búsqueda la está leyendo";
  K.SetFilter("State='CA'");
  for (const std::string& Target :
       {Dir + "/customer.db", Dir + "/CUSTOMER.DB", Dir + "/./Customer.db", Dir + "/customer",
        Out + "/link.db", Out + "/../customer.db"})
    EXPECT_EQ(MessageOf([&] { K.ExportResults(Target, "", false); }), Refused) << Target;

  // The table of a lookup field, and a master.
  TTable Orders;
  Orders.SetDatabaseName(Dir);
  Orders.SetTableName("orders.db");
  Orders.AddField<TIntegerField>("OrderNo");
  Orders.AddField<TIntegerField>("CustNo");
  Orders.AddLookupField("CustName", ftString, &Customer, "CustNo", "CustNo", "Company", 30);
  Orders.Open();
  TKVFind L;
  L.SetPDataSet(&Orders);
  EXPECT_EQ(MessageOf([&] { L.ExportResults(Dir + "/Customer.db", "", false); }), Refused);
  const std::string OrdersBefore = ReadFileBytes(Dir + "/orders.db");
  EXPECT_EQ(MessageOf([&] { L.ExportResults(Dir + "/orders", "", true); }),
            "No se puede exportar sobre la tabla 'orders.db': la búsqueda la está leyendo");
  TDataSource CustSrc;
  CustSrc.SetDataSet(&Customer);
  TTable Items;
  Items.SetDatabaseName(Dir);
  Items.SetTableName("items.db");
  Items.SetIndexFieldNames("OrderNo");
  Items.SetMasterSource(&CustSrc);
  Items.SetMasterFields("CustNo");
  Items.Open();
  TKVFind M;
  M.SetPDataSet(&Items);
  EXPECT_EQ(MessageOf([&] { M.ExportResults(Dir + "/customer.db", "", false); }), Refused);

  // A query's table.
  TQuery Q;
  Q.SetDatabaseName(Dir);
  Q.SQL().Add("select CustNo, Company from CUSTOMER");
  Q.Open();
  TKVFind QK;
  QK.SetPDataSet(&Q);
  EXPECT_EQ(MessageOf([&] { QK.ExportResults(Dir + "/customer.db", "", false); }),
            "No se puede exportar sobre la tabla 'CUSTOMER': la búsqueda la está leyendo");

  EXPECT_EQ(ReadFileBytes(Dir + "/customer.db"), Before);
  EXPECT_EQ(ReadFileBytes(Dir + "/orders.db"), OrdersBefore);
  EXPECT_TRUE(Boxes.Texts.empty());
  // Any other table is written as before.
  EXPECT_TRUE(QK.ExportResults(Out + "/copy.db", "", false));
  EXPECT_EQ(Shape(Out + "/copy.db"), "CustNo;Company;8");
}

// Every failure shows the one box, with the real cause as its detail, and leaves the file that
// was there whole: the table with its schema or memo file, whether the failure comes before the
// copy or while writing it.
TEST_F(KVFindExport, FailuresKeepTheOldFilesAndTellTheCause) {
  TMessages Boxes;
  K.SetFilter("State='CA'");
  const std::string Old = Out + "/old.db";
  ASSERT_TRUE(K.ExportResults(Old, "", false));
  const std::string Pair = Out + "/pair.txt";
  ASSERT_TRUE(K.ExportResults(Pair, "\"Company\"", false));
  const std::string OldBytes = ReadFileBytes(Old), PairText = ReadFileBytes(Pair),
                    PairSchema = ReadFileBytes(Out + "/pair.sch");
  std::ofstream(Out + "/plain") << "x";
  fs::create_directories(Out + "/sub.db");

  K.SetFilter("State='HI'");
  const struct {
    std::string File, Columns, Cause;
  } Cases[] = {
      {Out + "/sub.db", "", "es un directorio"},
      {Out + "/no/such/dir/x.db", "", "no existe la carpeta"},
      {Out + "/plain/x.db", "", "no es un directorio"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.File);
    Boxes.Details.clear();
    EXPECT_FALSE(K.ExportResults(C.File, C.Columns, false));
    ASSERT_EQ(Boxes.Details.size(), 1u);
    EXPECT_NE(Boxes.Details[0].find(C.Cause), std::string::npos) << Boxes.Details[0];
  }
  {
    // The disk fills up while the copy is written.
    TFileSizeLimit Full(64);
    EXPECT_FALSE(K.ExportResults(Old, "", false));
    EXPECT_FALSE(K.ExportResults(Pair, "", false));
  }
  EXPECT_NE(Boxes.Details.back().find("tamaño máximo"), std::string::npos) << Boxes.Details.back();
  for (const auto& T : Boxes.Texts)
    EXPECT_EQ(T, "Ruta o nombre de archivo no válidos (no se permiten acentos)");
  for (auto Kind : Boxes.Kinds) EXPECT_EQ(Kind, mtError);
  EXPECT_EQ(ReadFileBytes(Old), OldBytes);
  EXPECT_EQ(ReadFileBytes(Pair), PairText);
  EXPECT_EQ(ReadFileBytes(Out + "/pair.sch"), PairSchema);
  EXPECT_TRUE(fs::is_directory(Out + "/sub.db"));
  std::set<std::string> Left;
  for (const auto& E : fs::directory_iterator(Out)) Left.insert(E.path().filename().string());
  EXPECT_EQ(Left, (std::set<std::string>{"old.db", "pair.txt", "pair.sch", "plain", "sub.db"}));

  // Accented letters in the path work.
  EXPECT_TRUE(K.ExportResults(Out + "/Resultado año.db", "\"Company\"", false));
  EXPECT_EQ(Shape(Out + "/Resultado año.db"), "Company;2");

  // A failure of the search itself reaches the caller; ForceSQL is put back.
  EXPECT_THROW(K.SetFilter("Nothing='x'"), EDatabaseError);
  const size_t Shown = Boxes.Texts.size();
  EXPECT_THROW(K.ExportResults(Out + "/f.db", "", false), EDatabaseError);
  EXPECT_FALSE(K.ForceSQL());
  EXPECT_EQ(Boxes.Texts.size(), Shown);
  EXPECT_FALSE(fs::exists(Out + "/f.db"));
}

// Long texts go to the memo file beside the exported table, which takes its name with the table
// when a column choice leaves some fields out.
TEST_F(KVFindExport, MemoFileTravelsWithTheTable) {
  TMemDataSet Notes;
  Notes.FieldDefs().Add("Id", ftInteger);
  Notes.FieldDefs().Add("Text", ftMemo);
  Notes.FieldDefs().Add("Extra", ftInteger);
  Notes.CreateDataSet();
  Notes.AppendRecord({1, std::string(600, 'n'), 7});
  TTable Out1;
  Out1.SetTableName(Out + "/notes.db");
  Out1.BatchMove(&Notes, batCopy);
  TTable Src;
  Src.SetTableName(Out + "/notes.db");
  Src.Open();
  TKVFind N;
  N.SetPDataSet(&Src);
  N.SetFilter("Id='1'");
  EXPECT_TRUE(N.ExportResults(Out + "/copy.db", "\"Id\", \"Text\"", false));
  EXPECT_EQ(Shape(Out + "/copy.db"), "Id;Text;1");
  TTable Back;
  Back.SetTableName(Out + "/copy.db");
  Back.Open();
  EXPECT_EQ(Back.FieldByName("Text")->AsString(), std::string(600, 'n'));
  for (const auto& E : fs::directory_iterator(Out))
    EXPECT_EQ(E.path().filename().string().find(".tmp"), std::string::npos) << E.path();
}

}  // namespace
