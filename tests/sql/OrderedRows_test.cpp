// A selection of one table's rows, all or some, in the order of its columns, is shown as row ids
// over the table's own store; row for row it holds what the statement run through SQLite's own
// sort gives: ties in the order found, Nulls first, descending orders, texts of any case.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "LocalSQL.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

// Few values per column, so that every order has long runs of ties (the Id tells them apart).
TTableStore TiedTable() {
  TTableStore T;
  T.AddColumn({"Id", ftInteger, 0, false});
  T.AddColumn({"Name", ftString, 12, false});
  T.AddColumn({"Short", ftSmallint, 0, false});
  T.AddColumn({"Num", ftFloat, 0, false});
  T.AddColumn({"Money", ftCurrency, 0, false});
  T.AddColumn({"Flag", ftBoolean, 0, false});
  T.AddColumn({"Day", ftDate, 0, false});
  T.AddColumn({"Clock", ftTime, 0, false});
  T.AddColumn({"Stamp", ftDateTime, 0, false});
  const char* Names[] = {"abc", "ABC", "Abc", "ñandú", "Ñandú", "zeta", "a", "ab c", nullptr};
  const double Nums[] = {0.0, -0.0, 1.5, -2.25, 1e10, 1.5};
  uint32_t Seed = 7;
  auto Next = [&](uint32_t N) {
    Seed = Seed * 1103515245u + 12345u;
    return (Seed >> 16) % N;
  };
  for (int R = 0; R < 300; ++R) {
    auto Maybe = [&](Variant V) { return Next(6) == 0 ? Null() : V; };
    const char* Name = Names[Next(9)];
    T.AppendRow({R + 1, Name ? Variant(Name) : Null(), Maybe(static_cast<int>(Next(4)) - 1),
                 Maybe(Nums[Next(6)]), Maybe(Variant::Currency(Next(3) * 10.25)),
                 Maybe(Next(2) == 0), Maybe(TDateTime(36000.0 + Next(3))),
                 Maybe(TDateTime(Next(3) / 4.0)),
                 Maybe(TDateTime(36000.0 + Next(2) + Next(2) / 2.0))});
  }
  return T;
}

class OrderedRows : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = (std::filesystem::temp_directory_path() / ("kvorder_" + std::to_string(::getpid())))
              .string();
    std::filesystem::create_directories(Dir);
    SaveTableFile(Dir + "/tied.db", TiedTable());
  }
  void TearDown() override {
    ClearTableCache();
    std::filesystem::remove_all(Dir);
  }

  // Expects the statement's view over the table's store to hold, row for row, what SQLite's
  // own sort gives for it.
  void ExpectSameAsSqlite(const std::string& Sql) {
    SCOPED_TRACE(Sql);
    const TSelectResult View = OpenSelect(Sql, Dir);
    ASSERT_TRUE(View.Rows.has_value()) << "a view over the table's rows, not a copy";
    EXPECT_EQ(View.Store.get(), LoadTableFile(Dir + "/tied.db").get());
    const auto Sorted = ExecuteSelect(Sql, Dir);
    ASSERT_EQ(Sorted->RowCount(), View.Rows->size());
    for (size_t I = 0; I < View.Rows->size(); ++I)
      for (size_t C = 0; C < Sorted->Columns.size(); ++C)
        ASSERT_EQ(CanonicalCell(Sorted->Columns[C], I),
                  CanonicalCell(View.Store->Columns[C], (*View.Rows)[I]))
            << "row " << I << ", column " << Sorted->Defs[C].Name;
  }

  std::string Dir;
};

TEST_F(OrderedRows, EveryColumnTypeAscendingAndDescendingAllRowsOrSome) {
  const char* Columns[] = {"Id", "Name", "Short", "Num", "Money", "Flag", "Day", "Clock", "Stamp"};
  for (const char* C : Columns) {
    const std::string Col = std::string("\"tied.db\".\"") + C + "\"";
    for (const char* Dir : {" ASC", " DESC"}) {
      ExpectSameAsSqlite("Select * From \"tied.db\" Order by " + Col + Dir);
      ExpectSameAsSqlite("Select * From \"tied.db\" Where \"tied.db\".\"Id\" > 120 Order by " +
                         Col + Dir);
      ExpectSameAsSqlite("Select * From \"tied.db\" Order by " + Col + Dir +
                         ", \"tied.db\".\"Name\"" + Dir);
    }
  }
}

TEST_F(OrderedRows, OrdersItCannotTakeFromTheStoreStillComeOutAsSqliteSortsThem) {
  // Mixed directions, an expression, a subset found through an index, a case-folding filter.
  ExpectSameAsSqlite(
      "Select * From \"tied.db\" Order by \"tied.db\".\"Name\" ASC, "
      "\"tied.db\".\"Num\" DESC");
  ExpectSameAsSqlite("Select * From \"tied.db\" Order by lower(\"tied.db\".\"Name\")");
  ExpectSameAsSqlite(
      "Select * From \"tied.db\" Where \"tied.db\".\"Short\" = 1 Order by "
      "\"tied.db\".\"Num\" DESC");
  ExpectSameAsSqlite(
      "Select * From \"tied.db\" Where lower(\"tied.db\".\"Name\") = \"abc\" "
      "Order by \"tied.db\".\"Stamp\"");
  ExpectSameAsSqlite(
      "Select * From \"tied.db\" Where \"tied.db\".\"Id\" < 0 Order by "
      "\"tied.db\".\"Name\"");
}

}  // namespace
