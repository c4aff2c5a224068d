// Tables whose columns are decoded when first read, through the datasets and queries that read
// them: two tables and a query over one file share one store and decode each column once, a
// lookup into a query of some rows sees only them, and a fault found only when a column is read
// surfaces as an error of the operation that read it.
#include <unistd.h>

#include "DB.h"
#include "DBTables.h"
#include "TableFile.h"
#include "reliability/BadInput.h"

using namespace kv;

namespace {

constexpr int kRows = 40000;  // more rows than a chunk: scans decode whole columns

void WriteOrders(const std::string& Path) {
  TTableStore T;
  T.AddColumn({"OrderNo", ftInteger, 0, false});
  T.AddColumn({"City", ftString, 20, false});
  T.AddColumn({"Amount", ftCurrency, 0, false});
  T.AddColumn({"Notes", ftMemo, 0, false});
  for (int R = 0; R < kRows; ++R)
    T.AppendRow({R + 1, R % 3 ? Variant("Cádiz " + std::to_string(R % 50)) : Null(),
                 Variant::Currency(R * 0.25),
                 R % 1000 == 7 ? Variant(std::string(300, 'n') + std::to_string(R)) : Null()});
  T.PrimaryKey = {"OrderNo"};
  SaveTableFile(Path, T);
}

std::unique_ptr<TTable> OpenTable(const std::string& Dir, const std::string& Name) {
  auto T = std::make_unique<TTable>();
  T->SetDatabaseName(Dir);
  T->SetTableName(Name);
  T->Open();
  return T;
}

TEST(LazyTables, TwoTablesAndAQueryShareOneStoreAndDecodeEachColumnOnce) {
  TBadInputDir Dir;
  WriteOrders(Dir.File("orders.db"));
  auto A = OpenTable(Dir.Path(), "orders.db");
  auto B = OpenTable(Dir.Path(), "orders.db");
  ASSERT_EQ(A->Store(), B->Store());
  const TTableStore& S = *A->Store();
  const int City = S.ColumnIndex("City");
  EXPECT_FALSE(S.Columns[City].Decoded()) << "opening decodes nothing";

  // A filter on one table decodes the column; the other table and a query find it decoded.
  A->SetFilter("City = 'Cádiz 7'");
  A->SetFiltered(true);
  const int Found = A->RecordCount();
  EXPECT_TRUE(S.Columns[City].Decoded());
  EXPECT_FALSE(S.Columns[S.ColumnIndex("Amount")].Decoded()) << "only the column filtered";
  B->SetFilter("City = 'Cádiz 7'");
  B->SetFiltered(true);
  EXPECT_EQ(Found, B->RecordCount());

  TQuery Q;
  Q.SetDatabaseName(Dir.Path());
  Q.SQL().Add(
      "Select * From \"orders.db\" Where \"orders.db\".\"City\" = 'Cádiz 7' Order by "
      "\"orders.db\".\"Amount\" DESC");
  Q.Open();
  EXPECT_EQ(Q.Store(), A->Store()) << "the query's rows are the table's";
  ASSERT_EQ(Found, Q.RecordCount());
  // The same rows, the query's in descending amount.
  std::vector<std::string> FromA, FromQ;
  for (A->First(); !A->Eof(); A->Next()) FromA.push_back(A->FieldByName("OrderNo")->AsString());
  for (Q.Last(); !Q.Bof(); Q.Prior()) FromQ.push_back(Q.FieldByName("OrderNo")->AsString());
  EXPECT_EQ(FromA, FromQ);
}

// A lookup into a query that shows some of a table's rows, in its own order, finds only those
// rows, the first in the query's order, as it would in a result of its own.
TEST(LazyTables, LookupIntoAQueryOfSomeRowsFindsOnlyThemInItsOrder) {
  TBadInputDir Dir;
  TTableStore C;
  C.AddColumn({"CustNo", ftInteger, 0, false});
  C.AddColumn({"Name", ftString, 20, false});
  C.AddColumn({"Region", ftString, 5, false});
  C.AppendRow({1, "Ana", "N"});
  C.AppendRow({2, "Berta", "S"});  // not in the query
  C.AppendRow({3, "Carla", "N"});
  C.AppendRow({3, "Zoe", "N"});  // same key, first in the query's descending order
  SaveTableFile(Dir.File("cust.db"), C);
  TTableStore O;
  O.AddColumn({"OrderNo", ftInteger, 0, false});
  O.AddColumn({"CustNo", ftInteger, 0, false});
  for (int K : {1, 2, 3}) O.AppendRow({100 + K, K});
  SaveTableFile(Dir.File("ord.db"), O);

  TQuery Q;
  Q.SetDatabaseName(Dir.Path());
  Q.SQL().Add(
      "Select * From \"cust.db\" Where \"cust.db\".\"Region\" = 'N' Order by "
      "\"cust.db\".\"Name\" DESC");
  Q.Open();
  ASSERT_EQ(Q.RecordCount(), 3);
  TTable Ord;
  Ord.SetDatabaseName(Dir.Path());
  Ord.SetTableName("ord.db");
  Ord.AddField<TIntegerField>("CustNo");
  Ord.AddLookupField("Who", ftString, &Q, "CustNo", "CustNo", "Name", 20);
  Ord.Open();
  std::vector<std::string> Who;
  for (Ord.First(); !Ord.Eof(); Ord.Next()) Who.push_back(Ord.FieldByName("Who")->AsString());
  EXPECT_EQ(Who, (std::vector<std::string>{"Ana", "", "Zoe"}));
}

TEST(LazyTables, DamageFoundOnReadingIsAnErrorOfTheOperationThatRead) {
  TBadInputDir Dir;
  WriteOrders(Dir.File("orders.db"));
  ASSERT_EQ(0, ::unlink(Dir.File("orders.mb").c_str()));
  ClearTableCache();
  // Opening and reading the other columns works: the memo file is needed by the memo column.
  auto T = OpenTable(Dir.Path(), "orders.db");
  EXPECT_EQ(T->FieldByName("OrderNo")->AsInteger(), 1);
  T->SetFilter("City = 'Cádiz 7'");
  T->SetFiltered(true);
  EXPECT_GT(T->RecordCount(), 0);
  T->SetFiltered(false);

  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    ExpectErrorNaming(
        [&] {
          T->SetFilter("Notes = 'x'");
          T->SetFiltered(true);
          (void)T->RecordCount();
        },
        {"orders.mb", "falta el archivo de memos"});
    T->SetFiltered(false);
    T->SetFilter("");
    ExpectErrorNaming(
        [&] {
          TQuery Q;
          Q.SetDatabaseName(Dir.Path());
          Q.SQL().Add("Select * From \"orders.db\" Where \"orders.db\".\"Notes\" Like '%n%'");
          Q.Open();
        },
        {"orders.mb", "falta el archivo de memos"});
  }
}

}  // namespace
