// The sample database generator: same bytes on every run, the tables and keys of the order
// model, consistent totals and dates, referential integrity, its usage errors; and the same rows
// written into a SQLite file and a PostgreSQL database, with keys, indexes and typed columns.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cmath>
#include <map>
#include <set>

#include "DBTables.h"
#include "PgTypes.h"
#include "TableFile.h"
#include "ToolTestUtil.h"
#include "pg/PgTestServer.h"

using namespace kv;

using namespace tooltest;

namespace {

std::unique_ptr<TTable> OpenTable(const fs::path& Dir, const std::string& Name) {
  auto T = std::make_unique<TTable>();
  T->SetDatabaseName(Dir.string());
  T->SetTableName(Name);
  T->Open();
  return T;
}

// Every value of a field, in file order.
std::vector<Variant> Column(TTable& T, const std::string& Field) {
  std::vector<Variant> V;
  TField* F = T.FieldByName(Field);
  for (int I = 0; I < T.RecordCount(); ++I) V.push_back(F->ValueAt(T.RowAt(I)));
  return V;
}

size_t Chars(const std::string& S) {
  size_t N = 0;
  for (unsigned char C : S)
    if ((C & 0xC0) != 0x80) ++N;
  return N;
}

// Checks keys, ranges and references of a generated database; returns the row counts.
std::map<std::string, int> CheckIntegrity(const fs::path& Dir) {
  ClearTableCache();
  auto Cust = OpenTable(Dir, "customer"), Ord = OpenTable(Dir, "orders"),
       Items = OpenTable(Dir, "items"), Parts = OpenTable(Dir, "parts");
  std::set<double> CustNos, OrderNos, PartNos;
  double Prev = -1;
  for (const Variant& V : Column(*Cust, "CustNo")) {
    EXPECT_GT(V.AsDouble(), Prev) << "CustNo out of key order";
    EXPECT_GE(V.AsDouble(), 1000);
    Prev = V.AsDouble();
    CustNos.insert(Prev);
  }
  Prev = -1;
  for (const Variant& V : Column(*Parts, "PartNo")) {
    EXPECT_GT(V.AsDouble(), Prev) << "PartNo out of key order";
    Prev = V.AsDouble();
    PartNos.insert(Prev);
  }
  for (const Variant& V : Column(*Parts, "VendorNo")) {
    EXPECT_GE(V.AsDouble(), 1000);
    EXPECT_LE(V.AsDouble(), 9999);
  }
  Prev = 1000;
  auto OrdNo = Column(*Ord, "OrderNo"), OrdCust = Column(*Ord, "CustNo"),
       Emp = Column(*Ord, "EmpNo");
  for (size_t I = 0; I < OrdNo.size(); ++I) {
    EXPECT_EQ(OrdNo[I].AsDouble(), Prev + 1) << "OrderNo not consecutive from 1001";
    Prev = OrdNo[I].AsDouble();
    OrderNos.insert(Prev);
    EXPECT_TRUE(CustNos.count(OrdCust[I].AsDouble())) << "order " << Prev << " has no customer";
    EXPECT_GE(Emp[I].AsInteger(), 1);
    EXPECT_LE(Emp[I].AsInteger(), 9999);
  }
  auto ItOrd = Column(*Items, "OrderNo"), ItNo = Column(*Items, "ItemNo"),
       ItPart = Column(*Items, "PartNo");
  std::set<double> OrdersWithItems;
  for (size_t I = 0; I < ItOrd.size(); ++I) {
    if (I > 0) {
      bool Ascending = ItOrd[I].AsDouble() > ItOrd[I - 1].AsDouble() ||
                       (ItOrd[I].AsDouble() == ItOrd[I - 1].AsDouble() &&
                        ItNo[I].AsDouble() > ItNo[I - 1].AsDouble());
      EXPECT_TRUE(Ascending) << "items out of key order at row " << I;
    }
    EXPECT_TRUE(OrderNos.count(ItOrd[I].AsDouble())) << "item of a missing order";
    EXPECT_TRUE(PartNos.count(ItPart[I].AsDouble())) << "item of a missing part";
    OrdersWithItems.insert(ItOrd[I].AsDouble());
  }
  EXPECT_EQ(OrdersWithItems.size(), OrderNos.size()) << "an order without items";
  return {{"customer", Cust->RecordCount()},
          {"orders", Ord->RecordCount()},
          {"items", Items->RecordCount()},
          {"parts", Parts->RecordCount()}};
}

class GensampleTest : public ::testing::Test {
 protected:
  TScratch Scratch;
  fs::path Generate(const std::string& Sub, std::vector<std::string> Extra = {}) {
    fs::path D = Scratch.Dir / Sub;
    std::vector<std::string> Args{"--out", D.string()};
    Args.insert(Args.end(), Extra.begin(), Extra.end());
    TRunResult R = RunProgram(GensamplePath, Args, Scratch.Dir);
    EXPECT_EQ(R.Status, 0) << R.Err;
    return D;
  }
};

class GensampleFormatTest : public GensampleTest,
                            public ::testing::WithParamInterface<const char*> {};

TEST_P(GensampleFormatTest, TwoRunsWriteIdenticalFiles) {
  std::string Ext = GetParam() == std::string("db") ? ".DB" : ".DBF";
  fs::path A = Generate("a", {"--format", GetParam()});
  fs::path B = Generate("b", {"--format", GetParam()});
  for (const char* Name : {"CUSTOMER", "ORDERS", "ITEMS", "PARTS"}) {
    std::string FileA = ReadFile(A / (Name + Ext)), FileB = ReadFile(B / (Name + Ext));
    EXPECT_FALSE(FileA.empty()) << Name;
    EXPECT_TRUE(FileA == FileB) << Name << Ext << " differs between runs";
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, GensampleFormatTest, ::testing::Values("db", "dbf"));

struct TFieldCase {
  const char* Table;
  std::vector<TFieldDef> Fields;
  const char* PrimaryKey;
};

TEST_F(GensampleTest, TablesHaveTheOrderModelFieldsAndKeys) {
  const std::vector<TFieldCase> Cases = {
      {"CUSTOMER.DB",
       {{"CustNo", ftFloat, 0, false},
        {"Company", ftString, 30, false},
        {"Addr1", ftString, 30, false},
        {"Addr2", ftString, 30, false},
        {"City", ftString, 15, false},
        {"State", ftString, 20, false},
        {"Zip", ftString, 10, false},
        {"Country", ftString, 20, false},
        {"Phone", ftString, 15, false},
        {"FAX", ftString, 15, false},
        {"TaxRate", ftFloat, 0, false},
        {"Contact", ftString, 20, false},
        {"LastInvoiceDate", ftDateTime, 0, false}},
       "CustNo"},
      {"ORDERS.DB",
       {{"OrderNo", ftFloat, 0, false},        {"CustNo", ftFloat, 0, false},
        {"SaleDate", ftDateTime, 0, false},    {"ShipDate", ftDateTime, 0, false},
        {"EmpNo", ftInteger, 0, false},        {"ShipToContact", ftString, 20, false},
        {"ShipToAddr1", ftString, 30, false},  {"ShipToAddr2", ftString, 30, false},
        {"ShipToCity", ftString, 15, false},   {"ShipToState", ftString, 20, false},
        {"ShipToZip", ftString, 10, false},    {"ShipToCountry", ftString, 20, false},
        {"ShipToPhone", ftString, 15, false},  {"ShipVIA", ftString, 7, false},
        {"PO", ftString, 15, false},           {"Terms", ftString, 6, false},
        {"PaymentMethod", ftString, 7, false}, {"ItemsTotal", ftCurrency, 0, false},
        {"TaxRate", ftFloat, 0, false},        {"Freight", ftCurrency, 0, false},
        {"AmountPaid", ftCurrency, 0, false}},
       "OrderNo"},
      {"ITEMS.DB",
       {{"OrderNo", ftFloat, 0, false},
        {"ItemNo", ftFloat, 0, false},
        {"PartNo", ftFloat, 0, false},
        {"Qty", ftInteger, 0, false},
        {"Discount", ftFloat, 0, false}},
       "OrderNo;ItemNo"},
      {"PARTS.DB",
       {{"PartNo", ftFloat, 0, false},
        {"VendorNo", ftFloat, 0, false},
        {"Description", ftString, 30, false},
        {"OnHand", ftFloat, 0, false},
        {"OnOrder", ftFloat, 0, false},
        {"Cost", ftCurrency, 0, false},
        {"ListPrice", ftCurrency, 0, false}},
       "PartNo"},
  };
  fs::path D = Generate("db");
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Table);
    auto T = OpenTable(D, C.Table);
    ASSERT_EQ(T->FieldDefs().Count(), static_cast<int>(C.Fields.size()));
    for (size_t I = 0; I < C.Fields.size(); ++I) {
      const TFieldDef& Got = T->FieldDefs().Items(static_cast<int>(I));
      EXPECT_EQ(Got.Name, C.Fields[I].Name);
      EXPECT_EQ(Got.DataType, C.Fields[I].DataType) << Got.Name;
      if (C.Fields[I].DataType == ftString) {
        EXPECT_EQ(Got.Size, C.Fields[I].Size) << Got.Name;
      }
    }
    T->UpdateIndexDefs();
    std::string Primary;
    for (int I = 0; I < T->IndexDefs().Count(); ++I)
      if (T->IndexDefs()[I].Options & ixPrimary) Primary = T->IndexDefs()[I].Fields;
    EXPECT_EQ(Primary, C.PrimaryKey);
  }
}

TEST_F(GensampleTest, DefaultDatabaseIsSmallAndReferentiallyIntact) {
  auto Counts = CheckIntegrity(Generate("db"));
  EXPECT_EQ(Counts["customer"], 60);
  EXPECT_EQ(Counts["orders"], 200);
  EXPECT_EQ(Counts["parts"], 60);
  EXPECT_GE(Counts["items"], 900);
  EXPECT_LE(Counts["items"], 1100);
}

TEST_F(GensampleTest, ScaleOptionGrowsEveryTableInProportion) {
  auto Counts = CheckIntegrity(Generate("big", {"--orders", "20000"}));
  EXPECT_EQ(Counts["orders"], 20000);
  EXPECT_EQ(Counts["customer"], 6000);
  EXPECT_EQ(Counts["parts"], 1000);
  EXPECT_GE(Counts["items"], 90000);
}

TEST_F(GensampleTest, TotalsAndInvoiceDatesAgreeWithTheDetailRows) {
  fs::path D = Generate("db");
  auto Ord = OpenTable(D, "orders"), Items = OpenTable(D, "items"), Parts = OpenTable(D, "parts"),
       Cust = OpenTable(D, "customer");
  std::map<double, double> Price;
  auto PNo = Column(*Parts, "PartNo"), PPrice = Column(*Parts, "ListPrice");
  for (size_t I = 0; I < PNo.size(); ++I) Price[PNo[I].AsDouble()] = PPrice[I].AsDouble();
  std::map<double, double> Sum;
  auto IOrd = Column(*Items, "OrderNo"), IPart = Column(*Items, "PartNo"),
       IQty = Column(*Items, "Qty"), IDisc = Column(*Items, "Discount");
  for (size_t I = 0; I < IOrd.size(); ++I) {
    EXPECT_GE(IQty[I].AsInteger(), 1);
    EXPECT_GE(IDisc[I].AsDouble(), 0);
    EXPECT_LE(IDisc[I].AsDouble(), 100);
    Sum[IOrd[I].AsDouble()] +=
        Price[IPart[I].AsDouble()] * IQty[I].AsInteger() * (100 - IDisc[I].AsDouble()) / 100;
  }
  std::map<double, double> LastSale;
  auto ONo = Column(*Ord, "OrderNo"), OCust = Column(*Ord, "CustNo"),
       OTotal = Column(*Ord, "ItemsTotal"), OSale = Column(*Ord, "SaleDate"),
       OShip = Column(*Ord, "ShipDate");
  for (size_t I = 0; I < ONo.size(); ++I) {
    EXPECT_NEAR(OTotal[I].AsDouble(), Sum[ONo[I].AsDouble()], 0.006)
        << "order " << ONo[I].AsDouble();
    double Sale = OSale[I].AsDouble();
    if (!OShip[I].IsNullOrEmpty()) {
      EXPECT_GE(OShip[I].AsDouble(), std::floor(Sale));
    }
    double& Last = LastSale[OCust[I].AsDouble()];
    Last = std::max(Last, Sale);
  }
  auto CNo = Column(*Cust, "CustNo"), CLast = Column(*Cust, "LastInvoiceDate");
  int WithoutOrders = 0;
  for (size_t I = 0; I < CNo.size(); ++I) {
    auto It = LastSale.find(CNo[I].AsDouble());
    if (It == LastSale.end()) {
      EXPECT_TRUE(CLast[I].IsNullOrEmpty());
      ++WithoutOrders;
    } else {
      EXPECT_DOUBLE_EQ(CLast[I].AsDouble(), It->second) << "customer " << CNo[I].AsDouble();
    }
  }
  EXPECT_LT(WithoutOrders, 30);
}

TEST_F(GensampleTest, TextsCarryAccentsFitTheirSizesAndSomeAreEmpty) {
  fs::path D = Generate("db");
  auto Cust = OpenTable(D, "customer");
  std::set<std::string> Countries;
  int EmptyAddr2 = 0, Accented = 0;
  for (int I = 0; I < Cust->RecordCount(); ++I) {
    TBookmark Row = Cust->RowAt(I);
    for (int F = 0; F < Cust->FieldCount(); ++F) {
      TField* Fld = Cust->Fields(F);
      if (Fld->DataType() != ftString) continue;
      std::string S = Fld->ValueAt(Row).AsString();
      EXPECT_LE(Chars(S), static_cast<size_t>(Fld->Size())) << Fld->FieldName() << ": " << S;
      if (Chars(S) != S.size()) ++Accented;
    }
    Countries.insert(Cust->FieldByName("Country")->ValueAt(Row).AsString());
    if (Cust->FieldByName("Addr2")->ValueAt(Row).IsNullOrEmpty()) ++EmptyAddr2;
  }
  EXPECT_TRUE(Countries.count("España"));
  EXPECT_TRUE(Countries.count("US"));
  EXPECT_GT(Accented, 20);
  EXPECT_GT(EmptyAddr2, 10);
  EXPECT_LT(EmptyAddr2, Cust->RecordCount());
}

TEST_F(GensampleTest, BadArgumentsExitWithUsage) {
  const std::vector<std::vector<std::string>> Cases = {
      {},
      {"--out"},
      {"--orders", "100"},
      {"--out", "x", "--orders", "0"},
      {"--out", "x", "--orders", "12abc"},
      {"--out", "x", "--format", "xls"},
      {"--out", "x", "--bogus"},
      {"--out", "x.sqlite", "--format", "db"},
      {"--out", "postgresql:///db", "--format", "dbf"},
  };
  for (const auto& Args : Cases) {
    TRunResult R = RunProgram(GensamplePath, Args, Scratch.Dir);
    std::string Shown;
    for (const auto& A : Args) Shown += A + " ";
    EXPECT_EQ(R.Status, 2) << Shown;
    EXPECT_NE(R.Err.find("uso: gensample"), std::string::npos) << Shown;
  }
}

// ---------------------------------------------------------------------------------------------
// Databases

// A table's rows in key order, one text a row: numbers in their shortest exact form, moments
// to the millisecond, texts as they are, Null as "-".
using TRows = std::vector<std::string>;

std::string Canon(const Variant& V, TFieldType T) {
  if (V.IsNullOrEmpty()) return "-";
  if (T == ftDateTime) return PgDateTimeText(V.AsDateTime(), ftDateTime);
  if (T == ftString || T == ftMemo) return V.AsString();
  return PgDoubleText(V.AsDouble());
}

TRows FileRows(TTable& T) {
  TRows Rows;
  for (int I = 0; I < T.RecordCount(); ++I) {
    std::string Row;
    for (int F = 0; F < T.FieldCount(); ++F)
      Row += Canon(T.Fields(F)->ValueAt(T.RowAt(I)), T.Fields(F)->DataType()) + "|";
    Rows.push_back(Row);
  }
  return Rows;
}

struct TSqlite {
  sqlite3* Db = nullptr;
  explicit TSqlite(const fs::path& P) { EXPECT_EQ(sqlite3_open(P.c_str(), &Db), SQLITE_OK); }
  ~TSqlite() { sqlite3_close(Db); }
  // Each row of Sql as texts joined by "|" (Null as "-", numbers as doubles).
  TRows Query(const std::string& Sql) {
    sqlite3_stmt* St = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(Db, Sql.c_str(), -1, &St, nullptr), SQLITE_OK) << Sql;
    TRows Rows;
    while (St && sqlite3_step(St) == SQLITE_ROW) {
      std::string Row;
      for (int C = 0; C < sqlite3_column_count(St); ++C) {
        const int Type = sqlite3_column_type(St, C);
        if (Type == SQLITE_NULL)
          Row += "-";
        else if (Type == SQLITE_INTEGER || Type == SQLITE_FLOAT)
          Row += PgDoubleText(sqlite3_column_double(St, C));
        else
          Row += reinterpret_cast<const char*>(sqlite3_column_text(St, C));
        Row += "|";
      }
      Rows.push_back(Row);
    }
    sqlite3_finalize(St);
    return Rows;
  }
};

TRows PgRows(TPgConnection& C, const std::string& Sql) {
  TPgResult R = C.Exec(Sql);
  TRows Rows;
  for (int I = 0; I < R.Rows(); ++I) {
    std::string Row;
    for (int F = 0; F < R.Columns(); ++F)
      Row += Canon(R.Value(I, F), R.FieldType(F).DataType) + "|";
    Rows.push_back(Row);
  }
  return Rows;
}

const std::map<std::string, std::string> KeyOf = {{"customer", "\"CustNo\""},
                                                  {"orders", "\"OrderNo\""},
                                                  {"items", "\"OrderNo\", \"ItemNo\""},
                                                  {"parts", "\"PartNo\""}};

TEST_F(GensampleTest, ASqliteFileAndAPostgresDatabaseHoldTheRowsOfTheTableFiles) {
  const std::vector<std::string> Scale = {"--orders", "700"};
  fs::path Files = Generate("files", Scale);
  const fs::path Lite = Scratch.Dir / "muestra.sqlite";
  TRunResult R = RunProgram(GensamplePath, {"--out", "sqlite:" + Lite.string(), "--orders", "700"},
                            Scratch.Dir);
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_FALSE(fs::exists(Lite.string() + ".tmp-" + std::to_string(getpid())));
  pgtest::TScratchDatabase Pg;
  R = RunProgram(GensamplePath, {"--out", Pg.Uri(), "--orders", "700"}, Scratch.Dir);
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_NE(R.Err.find("en " + Pg.Uri()), std::string::npos) << R.Err;

  TSqlite L(Lite);
  TPgConnection C(Pg.Uri());
  ClearTableCache();
  for (const auto& [Name, Key] : KeyOf) {
    SCOPED_TRACE(Name);
    auto T = OpenTable(Files, Name);
    const TRows Want = FileRows(*T);
    ASSERT_GE(Want.size(), 60u);
    const std::string Sql = "SELECT * FROM " + Name + " ORDER BY " + Key;
    EXPECT_TRUE(L.Query(Sql) == Want) << "SQLite rows differ";
    EXPECT_TRUE(PgRows(C, Sql) == Want) << "PostgreSQL rows differ";
    // The columns read back as the files' fields: the one mapping of types, both ways.
    TPgResult Cols = C.Exec(Sql + " LIMIT 0");
    ASSERT_EQ(Cols.Columns(), T->FieldCount());
    for (int F = 0; F < T->FieldCount(); ++F) {
      const TField* Fld = T->Fields(F);
      EXPECT_EQ(Cols.ColumnName(F), Fld->FieldName());
      EXPECT_EQ(Cols.FieldType(F).DataType, Fld->DataType()) << Fld->FieldName();
      if (Fld->DataType() == ftString) {
        EXPECT_EQ(Cols.FieldType(F).Size, Fld->Size()) << Fld->FieldName();
      }
    }
  }
  // Primary keys and the foreign-key indexes, on both.
  const TRows PgIndexes =
      PgRows(C,
             "SELECT indexname || ' ' || regexp_replace(indexdef, '.* USING ', '') "
             "FROM pg_indexes WHERE schemaname = 'public' ORDER BY 1");
  EXPECT_EQ(
      PgIndexes,
      (TRows{"customer_pkey btree (\"CustNo\")|", "items_PartNo_idx btree (\"PartNo\")|",
             "items_pkey btree (\"OrderNo\", \"ItemNo\")|", "orders_CustNo_idx btree (\"CustNo\")|",
             "orders_pkey btree (\"OrderNo\")|", "parts_pkey btree (\"PartNo\")|"}));
  EXPECT_EQ(L.Query("SELECT m.name, p.name FROM sqlite_master m, pragma_table_info(m.name) p "
                    "WHERE m.type = 'table' AND p.pk > 0 ORDER BY m.name, p.pk"),
            (TRows{"customer|CustNo|", "items|OrderNo|", "items|ItemNo|", "orders|OrderNo|",
                   "parts|PartNo|"}));
  EXPECT_EQ(L.Query("SELECT name FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL "
                    "ORDER BY name"),
            (TRows{"items_PartNo_idx|", "orders_CustNo_idx|"}));
}

TEST_F(GensampleTest, AFailedLoadLeavesTheDatabaseAsItWasAndHidesThePassword) {
  pgtest::TScratchDatabase Pg;
  ASSERT_EQ(RunProgram(GensamplePath, {"--out", Pg.Uri()}, Scratch.Dir).Status, 0);
  TPgConnection C(Pg.Uri());
  // A view of the user's keeps the old orders from being dropped: nothing changes.
  C.Exec("CREATE VIEW recientes AS SELECT * FROM orders WHERE \"OrderNo\" > 1100");
  TRunResult R = RunProgram(GensamplePath, {"--out", Pg.Uri(), "--orders", "400"}, Scratch.Dir);
  EXPECT_EQ(R.Status, 1);
  EXPECT_NE(R.Err.find("gensample: Error en la base de datos '" + Pg.Uri() + "'"),
            std::string::npos)
      << R.Err;
  EXPECT_EQ(C.Exec("SELECT count(*) FROM orders").Int(0, 0), 200);
  EXPECT_EQ(C.Exec("SELECT count(*) FROM customer").Int(0, 0), 60);

  R = RunProgram(GensamplePath,
                 {"--out", "postgresql://kv:TopSecret@/kv?host=/nonexistent-kv-folder"},
                 Scratch.Dir);
  EXPECT_EQ(R.Status, 1);
  EXPECT_NE(R.Err.find("No se puede conectar con la base de datos "
                       "'postgresql://kv@/kv?host=/nonexistent-kv-folder'"),
            std::string::npos)
      << R.Err;
  EXPECT_EQ(R.Err.find("TopSecret"), std::string::npos);
  // A SQLite file that cannot be written leaves nothing behind.
  R = RunProgram(GensamplePath, {"--out", (Scratch.Dir / "no" / "such" / "x.db3").string()},
                 Scratch.Dir);
  EXPECT_EQ(R.Status, 1);
  EXPECT_NE(R.Err.find("No se puede escribir la base de datos SQLite"), std::string::npos) << R.Err;
}

}  // namespace
