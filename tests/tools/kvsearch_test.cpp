// kvsearch end to end over the generated sample database: what it prints for filter and SQL
// searches, its formats, lookups, queries, the default database, exports read back, and its
// exit statuses for engine errors and usage errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "DBTables.h"
#include "TableFile.h"
#include "ToolTestUtil.h"

using namespace kv;

using namespace tooltest;

namespace {

std::string Db() {
  return SampleDb().string();
}

// Counts the records of a sample table that satisfy a predicate over one field's value.
int CountWhere(const std::string& Table, const std::string& Field,
               const std::function<bool(const Variant&)>& Pred) {
  TTable T;
  T.SetDatabaseName(Db());
  T.SetTableName(Table);
  T.Open();
  int N = 0;
  TField* F = T.FieldByName(Field);
  for (int I = 0; I < T.RecordCount(); ++I)
    if (Pred(F->ValueAt(T.RowAt(I)))) ++N;
  return N;
}

std::string Counter(int N) {
  return "Registros encontrados:" + std::to_string(N);
}

bool Contains(const std::string& S, const std::string& Part) {
  return S.find(Part) != std::string::npos;
}

// Splits one CSV record (quotes doubled inside quoted fields).
std::vector<std::string> CsvRecord(const std::string& Line) {
  std::vector<std::string> Out(1);
  bool Quoted = false;
  for (size_t I = 0; I < Line.size(); ++I) {
    char C = Line[I];
    if (Quoted) {
      if (C == '"' && I + 1 < Line.size() && Line[I + 1] == '"') {
        Out.back() += '"';
        ++I;
      } else if (C == '"') {
        Quoted = false;
      } else {
        Out.back() += C;
      }
    } else if (C == '"') {
      Quoted = true;
    } else if (C == ',') {
      Out.emplace_back();
    } else {
      Out.back() += C;
    }
  }
  return Out;
}

class KvsearchTest : public ::testing::Test {
 protected:
  TScratch Scratch;
  TRunResult Search(const std::vector<std::string>& Args) {
    return RunProgram(KvsearchPath, Args, Scratch.Dir);
  }
};

TEST_F(KvsearchTest, FilterSearchPrintsLabelsRowsAndTheCounter) {
  int Spain =
      CountWhere("customer", "Country", [](const Variant& V) { return V.AsString() == "España"; });
  ASSERT_GT(Spain, 0);
  TRunResult R = Search({"--explain", Db(), "customer", "Country='España'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  auto L = R.Lines();
  ASSERT_EQ(L.size(), static_cast<size_t>(Spain) + 5);
  EXPECT_EQ(L[0], "filter: Country = 'España'");
  EXPECT_EQ(L[1].rfind("CustNo  Company", 0), 0u) << L[1];
  EXPECT_EQ(L[2].find_first_not_of("- "), std::string::npos);
  for (int I = 0; I < Spain; ++I) EXPECT_TRUE(Contains(L[3 + I], "España")) << L[3 + I];
  EXPECT_EQ(L[L.size() - 2], "");
  EXPECT_EQ(L.back(), Counter(Spain));
}

TEST_F(KvsearchTest, StartsWithRunsAsSqlAndExplainShowsTheStatement) {
  int StartA = CountWhere("customer", "Company", [](const Variant& V) {
    std::string S = V.AsString();
    return !S.empty() && (S[0] == 'a' || S[0] == 'A');
  });
  ASSERT_GT(StartA, 0);
  TRunResult R = Search({"--explain", "--count", Db(), "customer", "Company=='a'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out,
            "sql: Select * From \"customer\" Where (lower(\"customer\".\"Company\") like "
            "\"a%\")\n" +
                Counter(StartA) + "\n");
}

TEST_F(KvsearchTest, CaseOptionMakesTheSearchCaseSensitive) {
  TRunResult Lower = Search({"--count", "--case", Db(), "customer", "Company=='a'"});
  TRunResult Upper = Search({"--count", "--case", Db(), "customer", "Company=='A'"});
  ASSERT_EQ(Lower.Status, 0) << Lower.Err;
  EXPECT_EQ(Lower.Out, Counter(0) + "\n");
  int StartA = CountWhere("customer", "Company",
                          [](const Variant& V) { return V.AsString().rfind('A', 0) == 0; });
  EXPECT_EQ(Upper.Out, Counter(StartA) + "\n");
}

TEST_F(KvsearchTest, IgnoreAccentsFindsTextsWrittenWithThem) {
  const int Malaga =
      CountWhere("orders", "ShipToCity", [](const Variant& V) { return V.AsString() == "Málaga"; });
  ASSERT_GT(Malaga, 0) << "the sample has orders shipped to Málaga";
  for (const char* Expr : {"ShipToCity='malaga'", "ShipToCity=='MALAGA'"}) {
    TRunResult Counted = Search({"--count", Db(), "orders", Expr});
    TRunResult Ignored = Search({"--count", "--ignore-accents", Db(), "orders", Expr});
    ASSERT_EQ(Ignored.Status, 0) << Ignored.Err;
    EXPECT_EQ(Counted.Out, Counter(0) + "\n") << Expr << ": accents count by default";
    EXPECT_EQ(Ignored.Out, Counter(Malaga) + "\n") << Expr;
  }
}

TEST_F(KvsearchTest, OrderAndDescendingSortTheRows) {
  TRunResult R = Search({"--order", "CustNo", "--desc", "--format", "csv", Db(), "customer"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  auto L = R.Lines();
  ASSERT_EQ(L.size(), 61u);
  std::vector<double> Nos;
  for (size_t I = 1; I < L.size(); ++I) Nos.push_back(std::stod(CsvRecord(L[I])[0]));
  EXPECT_TRUE(std::is_sorted(Nos.rbegin(), Nos.rend()));
  EXPECT_EQ(R.Err, Counter(60) + "\n");
}

TEST_F(KvsearchTest, LookupFieldIsSearchedThroughTheJoin) {
  // Orders whose customer's company contains "tortuga", counted independently.
  TTable Cust;
  Cust.SetDatabaseName(Db());
  Cust.SetTableName("customer");
  Cust.Open();
  std::vector<double> Wanted;
  for (int I = 0; I < Cust.RecordCount(); ++I) {
    std::string C = Cust.FieldByName("Company")->ValueAt(Cust.RowAt(I)).AsString();
    if (Contains(C, "Tortuga"))
      Wanted.push_back(Cust.FieldByName("CustNo")->ValueAt(Cust.RowAt(I)).AsDouble());
  }
  ASSERT_FALSE(Wanted.empty());
  int Expected = CountWhere("orders", "CustNo", [&](const Variant& V) {
    return std::find(Wanted.begin(), Wanted.end(), V.AsDouble()) != Wanted.end();
  });
  TRunResult R =
      Search({"--explain", "--format", "csv", "--lookup",
              "CustName=customer.Company(CustNo=CustNo)", Db(), "orders", "CustName><'tortuga'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  auto L = R.Lines();
  ASSERT_EQ(L.size(), static_cast<size_t>(Expected) + 1);
  auto Header = CsvRecord(L[0]);
  EXPECT_EQ(Header.back(), "CustName");
  for (size_t I = 1; I < L.size(); ++I) EXPECT_TRUE(Contains(CsvRecord(L[I]).back(), "Tortuga"));
  EXPECT_TRUE(Contains(R.Err,
                       "sql: Select * From \"orders\",\"customer\" Where "
                       "(lower(\"customer\".\"Company\") like \"%tortuga%\") and "
                       "(CustNo=\"customer\".\"CustNo\")"))
      << R.Err;
  EXPECT_TRUE(Contains(R.Err, Counter(Expected)));
}

TEST_F(KvsearchTest, QuerySearchFiltersTheStatementsResult) {
  int Us = CountWhere("customer", "Country", [](const Variant& V) { return V.AsString() == "US"; });
  TRunResult R = Search({"--count", Db(), "--query",
                         "select CustNo, Company, Country from customer", "Country='US'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, Counter(Us) + "\n");
}

TEST_F(KvsearchTest, LimitCutsThePrintedRowsNotTheCount) {
  TRunResult R = Search({"--limit", "3", Db(), "items"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  auto L = R.Lines();
  int Items = CountWhere("items", "OrderNo", [](const Variant&) { return true; });
  ASSERT_EQ(L.size(), 7u);
  EXPECT_EQ(L.back(), Counter(Items));
}

// 200^4 rows: read whole, the result never fits in memory; a limit reads one record past it.
TEST_F(KvsearchTest, LimitOnAQueryReadsNoFurtherThanItShows) {
  const std::string Cross = "select o1.OrderNo from orders o1, orders o2, orders o3, orders o4";
  TRunResult R = Search({"--limit", "1", Db(), "--query", Cross});
  ASSERT_EQ(R.Status, 0) << R.Err;
  auto L = R.Lines();
  ASSERT_EQ(L.size(), 5u) << R.Out;
  EXPECT_EQ(L[2], "   1001");
  EXPECT_EQ(L.back(), "Registros encontrados:más de 1");
  // The search finds its records among all of the query's, not among those read.
  TRunResult J =
      Search({"--format", "json", "--limit", "2", Db(), "--query", Cross, "OrderNo>='1200'"});
  ASSERT_EQ(J.Status, 0) << J.Err;
  EXPECT_EQ(J.Out,
            "{\"count\": null, \"more_than\": 2, \"records\": [\n  {\"OrderNo\": 1200},\n"
            "  {\"OrderNo\": 1200}\n]}\n");
  // A limit the result does not reach still counts it exactly.
  TRunResult Few =
      Search({"--limit", "10", Db(), "--query", "select OrderNo from orders", "OrderNo<='1003'"});
  ASSERT_EQ(Few.Status, 0) << Few.Err;
  EXPECT_EQ(Few.Lines().back(), Counter(3));
}

TEST_F(KvsearchTest, CsvQuotesTextsWithCommasAndKeepsAccents) {
  TRunResult R = Search({"--format", "csv", Db(), "orders", "OrderNo<='1010'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  auto L = R.Lines();
  ASSERT_EQ(L.size(), 11u);
  auto Header = CsvRecord(L[0]);
  ASSERT_EQ(Header.size(), 21u);
  EXPECT_EQ(Header[17], "ItemsTotal");
  for (size_t I = 1; I < L.size(); ++I) {
    auto Rec = CsvRecord(L[I]);
    ASSERT_EQ(Rec.size(), 21u) << L[I];
    EXPECT_EQ(Rec[0], std::to_string(1000 + I));
    EXPECT_TRUE(Contains(Rec[17], ",")) << "money shows decimals with the locale's comma";
  }
  EXPECT_EQ(R.Err, Counter(10) + "\n");
}

TEST_F(KvsearchTest, JsonCarriesTheCountAndTypedValues) {
  TRunResult R = Search({"--format", "json", "--limit", "2", Db(), "customer", "CustNo>='0'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out.rfind("{\"count\": 60, \"records\": [\n  {\"CustNo\": ", 0), 0u) << R.Out;
  EXPECT_EQ(std::count(R.Out.begin(), R.Out.end(), '\n'), 4);
  EXPECT_TRUE(Contains(R.Out, "\"TaxRate\": "));
  EXPECT_TRUE(Contains(R.Out, "\"LastInvoiceDate\": \"20")) << "dates as ISO text";
  EXPECT_EQ(R.Out.substr(R.Out.size() - 4), "\n]}\n");
  TRunResult Count = Search({"--format", "json", "--count", Db(), "customer"});
  EXPECT_EQ(Count.Out, "{\"count\": 60}\n");
}

TEST_F(KvsearchTest, DefaultDatabaseStandsInForAMissingOne) {
  setenv("KV_DEFAULT_DATABASE", Db().c_str(), 1);
  TRunResult Short = Search({"--count", "customer", "Country='España'"});
  TRunResult OnlyTable = Search({"--count", "customer"});
  TRunResult Explicit = Search({"--count", Db(), "customer"});
  unsetenv("KV_DEFAULT_DATABASE");
  int Spain =
      CountWhere("customer", "Country", [](const Variant& V) { return V.AsString() == "España"; });
  EXPECT_EQ(Short.Status, 0) << Short.Err;
  EXPECT_EQ(Short.Out, Counter(Spain) + "\n");
  EXPECT_EQ(OnlyTable.Out, Counter(60) + "\n");
  EXPECT_EQ(Explicit.Out, Counter(60) + "\n");
}

struct TErrorCase {
  std::vector<std::string> Args;  // "$DB" stands for the sample database
  int Status;
  const char* Message;
};

TEST_F(KvsearchTest, ErrorsAndUsageGiveTheirExitStatus) {
  const std::vector<TErrorCase> Cases = {
      {{"$DB", "customer", "Nope='x'"}, 1, "Campo 'Nope' no encontrado"},
      {{"$DB", "customer", "CustNo='abc'"}, 1, "no es de tipo válido"},
      {{"$DB", "nosuch"}, 1, "nosuch"},
      {{"$DB", "customer", "--order", "Nope"}, 1, "Nope"},
      {{}, 2, "uso: kvsearch"},
      {{"$DB"}, 2, "uso: kvsearch"},
      {{"--bogus", "$DB", "customer"}, 2, "opción desconocida: --bogus"},
      {{"--format", "xml", "$DB", "customer"}, 2, "formato desconocido: xml"},
      {{"--limit", "-1", "$DB", "customer"}, 2, "--limit"},
      {{"--columns", "A", "$DB", "customer"}, 2, "--export"},
      {{"--lookup", "X=customer", "$DB", "orders"}, 2, "--lookup"},
      {{"--order"}, 2, "falta el valor de --order"},
      {{"$DB", "customer", "Country='US'", "extra"}, 2, "sobran argumentos"},
      // A constant without its closing quote is refused on every path, never cut.
      {{"$DB", "orders", "ShipVIA=='DHL"}, 1, "kvsearch: Filtro no válido\n"},
      {{"--sql", "$DB", "orders", "ShipVIA='DHL"}, 1, "kvsearch: Filtro no válido\n"},
      {{"$DB", "orders", "ShipVIA='DHL"}, 1, "kvsearch: Filtro no válido\n"},
      {{"$DB", "orders", "ShipVIA=='"}, 1, "kvsearch: Filtro no válido\n"},
      // What is missing, and where.
      {{"$DB", "orders", "ShipVIA"},
       1,
       "Filtro no válido en la posición 1 ('ShipVIA'): falta el operador de comparación"},
      {{"$DB", "orders", "()"}, 1, "Filtro no válido en la posición 2 (')'): falta la condición"},
      {{"$DB", "orders", "("}, 1, "Filtro no válido en la posición 2 (fin del texto)"},
      {{"$DB", "orders", "='DHL'"},
       1,
       "Filtro no válido en la posición 1 ('='): falta el nombre del campo"},
  };
  for (const auto& C : Cases) {
    std::vector<std::string> Args;
    std::string Shown;
    for (const auto& A : C.Args) {
      Args.push_back(A == "$DB" ? Db() : A);
      Shown += A + " ";
    }
    TRunResult R = Search(Args);
    EXPECT_EQ(R.Status, C.Status) << Shown << "\n" << R.Err;
    EXPECT_TRUE(Contains(R.Err, C.Message)) << Shown << "\n" << R.Err;
  }
}

TEST_F(KvsearchTest, HelpAndVersionExitZero) {
  TRunResult Help = Search({"--help"});
  EXPECT_EQ(Help.Status, 0);
  EXPECT_EQ(Help.Out.rfind("uso: kvsearch", 0), 0u);
  TRunResult Version = Search({"--version"});
  EXPECT_EQ(Version.Status, 0);
  EXPECT_EQ(Version.Out.rfind("kvsearch ", 0), 0u);
  EXPECT_EQ(Version.Out.back(), '\n');
}

// Reads an exported file back through our own readers.
std::unique_ptr<TTable> ReadBack(const fs::path& File) {
  ClearTableCache();
  auto T = std::make_unique<TTable>();
  T->SetTableName(File.string());
  T->Open();
  return T;
}

class KvsearchExportTest : public KvsearchTest,
                           public ::testing::WithParamInterface<const char*> {};

TEST_P(KvsearchExportTest, ExportWritesTheFoundOrAllRecordsAndReadsBack) {
  int Spain =
      CountWhere("customer", "Country", [](const Variant& V) { return V.AsString() == "España"; });
  fs::path File = Scratch.Dir / (std::string("result") + GetParam());
  TRunResult R =
      Search({"--count", "--export", File.string(), Db(), "customer", "Country='España'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_TRUE(Contains(R.Out, "Exportados " + std::to_string(Spain) + " registros a "));
  auto T = ReadBack(File);
  EXPECT_EQ(T->RecordCount(), Spain);
  ASSERT_EQ(T->FieldCount(), 13);
  bool Accent = false;
  for (int I = 0; I < T->RecordCount(); ++I) {
    EXPECT_EQ(T->FieldByName("Country")->ValueAt(T->RowAt(I)).AsString(), "España");
    std::string City = T->FieldByName("City")->ValueAt(T->RowAt(I)).AsString();
    Accent = Accent || City.find('\xC3') != std::string::npos;
  }
  EXPECT_TRUE(Accent) << "accented city names survive the export";

  // Every record of the table, whatever the search found.
  fs::path All = Scratch.Dir / (std::string("all") + GetParam());
  R = Search(
      {"--count", "--export", All.string(), "--all-records", Db(), "customer", "Country='España'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(ReadBack(All)->RecordCount(), 60);
}

INSTANTIATE_TEST_SUITE_P(Formats, KvsearchExportTest, ::testing::Values(".db", ".dbf", ".txt"));

// The column choice, in every format. dBase keeps ten characters of a field name, so a
// dBase export would hold "LastInvoic" while the result's field is LastInvoiceDate: leaving it
// out must work all the same.
TEST_P(KvsearchExportTest, ExportKeepsOnlyTheChosenColumns) {
  fs::path File = Scratch.Dir / (std::string("cols") + GetParam());
  TRunResult R = Search({"--count", "--export", File.string(), "--columns", "Company,City", Db(),
                         "customer", "Country='España'"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  auto T = ReadBack(File);
  ASSERT_EQ(T->FieldCount(), 2);
  EXPECT_EQ(T->Fields(0)->FieldName(), "Company");
  EXPECT_EQ(T->Fields(1)->FieldName(), "City");
  for (int I = 0; I < T->RecordCount(); ++I)
    EXPECT_FALSE(T->Fields(1)->ValueAt(T->RowAt(I)).IsNullOrEmpty());
}

// The sample orders export to dBase whole or in part: ShipToAddr1 and ShipToAddr2 keep ten
// characters each and stay apart; a name the result lacks is refused by name, writing nothing.
TEST_F(KvsearchTest, OrdersExportToDBaseAndUnknownColumnsAreRefused) {
  fs::path Whole = Scratch.Dir / "o.Dbf", Part = Scratch.Dir / "p.dbf";
  TRunResult R = Search({"--count", "--export", Whole.string(), Db(), "orders"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_TRUE(Contains(R.Out, "Exportados 200 registros a " + Whole.string())) << R.Out;
  auto T = ReadBack(Whole);
  EXPECT_EQ(T->Fields(6)->FieldName(), "ShipToAddr");
  EXPECT_EQ(T->Fields(7)->FieldName(), "ShipToAd_1");
  R = Search(
      {"--count", "--export", Part.string(), "--columns", "OrderNo,ItemsTotal", Db(), "orders"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(ReadBack(Part)->FieldCount(), 2);

  fs::path None = Scratch.Dir / "n.db";
  R = Search({"--count", "--export", None.string(), "--columns", "OrderNo,Nope", Db(), "orders"});
  EXPECT_EQ(R.Status, 1);
  EXPECT_TRUE(Contains(R.Err,
                       "kvsearch: No se puede exportar: el resultado no tiene el campo "
                       "'Nope'\n"))
      << R.Err;
  EXPECT_FALSE(fs::exists(None));
}

// A table with long memo texts exports to Paradox with its memo file, whole or in part; times
// keep their milliseconds in JSON.
TEST_F(KvsearchTest, MemoFilesTravelAndJsonKeepsMilliseconds) {
  TMemDataSet Notes;
  Notes.FieldDefs().Add("Id", ftInteger);
  Notes.FieldDefs().Add("Text", ftMemo);
  Notes.FieldDefs().Add("At", ftDateTime);
  Notes.FieldDefs().Add("Hour", ftTime);
  Notes.CreateDataSet();
  const double Day = EncodeDate(2024, 1, 31).Val;
  Notes.AppendRecord({1, std::string(600, 'n'), TDateTime(Day + (12 * 3600 + 0.123) / 86400),
                      TDateTime((8 * 3600 + 0.5) / 86400)});
  Notes.AppendRecord({2, "corta", TDateTime(Day + 0.5), TDateTime(0.25)});
  const fs::path Db = Scratch.Dir / "db";
  fs::create_directories(Db);
  TTable Out;
  Out.SetTableName((Db / "notes.db").string());
  Out.BatchMove(&Notes, batCopy);

  for (const char* Columns : {"", "Text,Id"}) {
    SCOPED_TRACE(Columns);
    fs::path File = Scratch.Dir / "copy.db";
    std::vector<std::string> Args = {"--count", "--export", File.string()};
    if (*Columns) Args.insert(Args.end(), {"--columns", Columns});
    Args.insert(Args.end(), {Db.string(), "notes"});
    TRunResult R = Search(Args);
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_TRUE(Contains(R.Out, "Exportados 2 registros a " + File.string())) << R.Out;
    EXPECT_TRUE(fs::exists(Scratch.Dir / "copy.mb"));
    EXPECT_EQ(ReadBack(File)->FieldByName("Text")->AsString(), std::string(600, 'n'));
    for (const auto& E : fs::directory_iterator(Scratch.Dir))
      EXPECT_NE(E.path().filename().string()[0], '.') << E.path();
  }

  TRunResult J = Search({"--format", "json", Db.string(), "notes"});
  ASSERT_EQ(J.Status, 0) << J.Err;
  EXPECT_TRUE(Contains(J.Out, "\"At\": \"2024-01-31T12:00:00.123\", \"Hour\": \"08:00:00.500\""))
      << J.Out;
  EXPECT_TRUE(Contains(J.Out, "\"At\": \"2024-01-31T12:00:00\", \"Hour\": \"06:00:00\"")) << J.Out;
}

TEST_F(KvsearchTest, FailedExportReportsTheMessageAndExitsOne) {
  fs::path Missing = Scratch.Dir / "no-such-folder" / "out.db";
  TRunResult R = Search({"--count", "--export", Missing.string(), Db(), "customer"});
  EXPECT_EQ(R.Status, 1);
  EXPECT_TRUE(Contains(R.Err,
                       "Ruta o nombre de archivo no válidos (no se permiten acentos)\n"
                       "kvsearch: Error en el archivo '" +
                           Missing.string() + "': no existe la carpeta"))
      << R.Err;
  EXPECT_FALSE(fs::exists(Missing));
}

}  // namespace
