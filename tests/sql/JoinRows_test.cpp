// Join results whose columns are read from the joined tables through the rows found: value for
// value they hold what copying every cell at once gives, over table files decoded on first use,
// for results longer than a chunk, read from the last row back, after the tables left the cache.
#include <gtest/gtest.h>

#include <algorithm>

#include "LocalSQL.h"
#include "SqlEngine.h"
#include "SqlParser.h"
#include "TableFile.h"
#include "Unicode.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

const Variant Nil = Variant::Null();

// Customers with names of every case, accented ones and Nulls; orders pointing at them, at no
// customer, or nowhere (Null), enough of them for a result of several chunks.
void WriteTables(const std::string& Dir) {
  TTableStore Customer;
  Customer.AddColumn({"CustNo", ftInteger, 0, true});
  Customer.AddColumn({"Company", ftString, 30, false});
  Customer.AddColumn({"Since", ftDate, 0, false});
  const char* Names[] = {"Almacenes Ruiz", "ALMACÉN Sur", "almendra", "Ñandú SA", "ñandutí",
                         "Ángel Buceo",    "ángulo",      "Sigma",    nullptr,    "Alm"};
  for (int C = 0; C < 400; ++C)
    Customer.AppendRow({C + 1, Names[C % 10] ? Variant(Names[C % 10]) : Nil,
                        C % 7 ? Variant(TDateTime(36000.0 + C)) : Nil});
  SaveTableFile(Dir + "/customer.db", Customer);

  TTableStore Orders;
  Orders.AddColumn({"OrderNo", ftInteger, 0, true});
  Orders.AddColumn({"CustNo", ftInteger, 0, false});
  Orders.AddColumn({"Amount", ftCurrency, 0, false});
  Orders.AddColumn({"Note", ftString, 20, false});
  Orders.AddColumn({"Paid", ftBoolean, 0, false});
  uint32_t Seed = 11;
  auto Next = [&](uint32_t N) {
    Seed = Seed * 1103515245u + 12345u;
    return (Seed >> 16) % N;
  };
  for (int R = 0; R < 60000; ++R) {
    const uint32_t K = Next(420);  // past 400: no such customer
    Orders.AppendRow({R + 1, K % 50 == 3 ? Nil : Variant(static_cast<int>(K) + 1),
                      Next(5) ? Variant::Currency(Next(1000) * 0.25) : Nil,
                      Next(4) ? Variant("nota " + std::to_string(R % 97) + "ñ") : Nil,
                      Next(3) ? Variant(Next(2) == 0) : Nil});
  }
  SaveTableFile(Dir + "/orders.db", Orders);
}

std::string Cell(const TTableStore& S, size_t Col, size_t Row) {
  return CanonicalCell(S.Columns[Col], Row);
}

class JoinRows : public ::testing::Test {
 protected:
  void SetUp() override { WriteTables(Dir.Path()); }
  void TearDown() override { ClearTableCache(); }

  // The statement's result with every cell copied as SQLite returns it.
  std::shared_ptr<TTableStore> Copied(const std::string& Sql) {
    TSqlTableSource Tables(Dir.Path());
    TSqlTranslation T = TranslateSelect(ParseSql(Sql), Tables.Lookup());
    T.RowText.clear();
    return RunTranslatedSelect(T, Tables, Sql);
  }

  // Runs Sql on tables fresh from their files and expects the result, read after the tables
  // left the cache and from its last row back, to equal the copied one.
  void ExpectSameAsCopied(const std::string& Sql, size_t WantRows) {
    SCOPED_TRACE(Sql);
    ClearTableCache();
    const auto Fast = ExecuteSelect(Sql, Dir.Path());
    ClearTableCache();
    // Nothing read yet: the columns taken from the tables wait for their first reader.
    if (WantRows > 0) {
      EXPECT_TRUE(std::any_of(Fast->Columns.begin(), Fast->Columns.end(),
                              [](const TColumn& C) { return !C.Decoded(); }));
    }
    const auto Want = Copied(Sql);
    ASSERT_EQ(Fast->RowCount(), WantRows);
    ASSERT_EQ(Want->RowCount(), WantRows);
    ASSERT_EQ(Fast->Defs.size(), Want->Defs.size());
    for (size_t C = 0; C < Want->Defs.size(); ++C) {
      EXPECT_EQ(Fast->Defs[C].Name, Want->Defs[C].Name);
      EXPECT_EQ(Fast->Defs[C].DataType, Want->Defs[C].DataType);
      EXPECT_EQ(Fast->Defs[C].Size, Want->Defs[C].Size);
      for (size_t R = WantRows; R-- > 0;)
        ASSERT_EQ(Cell(*Fast, C, R), Cell(*Want, C, R)) << Want->Defs[C].Name << " row " << R;
    }
  }

  static std::string Search(const std::string& Prefix, bool Ordered) {
    return "Select * From \"orders.db\",\"customer.db\" Where (lower(\"customer.db\".\"Company\") "
           "like \"" +
           Prefix + "%\") and (CustNo=\"customer.db\".\"CustNo\")" +
           (Ordered ? " Order by \"customer.db\".\"Company\" ASC" : "");
  }

  size_t CountOrders(const std::string& LowerPrefix) {
    ClearTableCache();
    const auto C = LoadTableFile(Dir.File("customer.db"));
    const auto O = LoadTableFile(Dir.File("orders.db"));
    size_t N = 0;
    for (size_t R = 0; R < O->RowCount(); ++R) {
      if (O->Columns[1].IsNull(R)) continue;
      const int Cust = O->Columns[1].Int(R);
      if (Cust > 400 || C->Columns[1].IsNull(Cust - 1)) continue;
      if (AnsiLowerCase(C->Columns[1].Str(Cust - 1)).starts_with(LowerPrefix)) ++N;
    }
    return N;
  }

  TScratchDir Dir;
};

TEST_F(JoinRows, SearchesThroughTheLookupJoinGiveTheCopiedValues) {
  // "alm" matches names of any case, "ñan" and "án" accented ones lowered the engine's way,
  // "ALM" nothing (the name is lowered, the pattern is not), "sig" one name, "zzz" none.
  for (const char* Prefix : {"alm", "ñan", "án", "ALM", "sig", "zzz"}) {
    const size_t Want = std::string(Prefix) == "ALM" ? 0 : CountOrders(Prefix);
    if (std::string(Prefix) == "alm") {
      EXPECT_GT(Want, kColumnChunkRows);
    }
    for (bool Ordered : {false, true}) ExpectSameAsCopied(Search(Prefix, Ordered), Want);
  }
}

TEST_F(JoinRows, OuterJoinsAndChosenColumnsKeepTheirNullsAndOrder) {
  // Orders of no customer come out with Null customer columns; Null keys match nothing.
  ExpectSameAsCopied(
      "Select o.OrderNo, c.Company, o.Note, c.Since, o.Paid, o.Amount From \"orders.db\" o "
      "LEFT JOIN \"customer.db\" c ON o.CustNo = c.CustNo Order by o.OrderNo DESC",
      60000);
  // Columns next to expressions, which come from SQLite.
  ClearTableCache();
  const auto O = LoadTableFile(Dir.File("orders.db"));
  size_t Want = 0;
  for (size_t R = 0; R < O->RowCount(); ++R)
    if (!O->Columns[1].IsNull(R) && O->Columns[1].Int(R) <= 400 && !O->Columns[2].IsNull(R) &&
        O->Columns[2].Double(R) > 200)
      ++Want;
  ExpectSameAsCopied(
      "Select upper(c.Company) AS U, o.Amount, o.Amount * 2 AS Twice, c.Company From "
      "\"orders.db\" o, \"customer.db\" c Where o.CustNo = c.CustNo and o.Amount > 200",
      Want);
}

}  // namespace
