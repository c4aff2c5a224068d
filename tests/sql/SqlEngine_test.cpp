// The SQL engine over in-memory stores: statement -> rows for the search engine's statements,
// joins, grouping, ordering, accented text, Null values and date constants; the LIKE matcher.
#include <gtest/gtest.h>

#include <cstdio>

#include "LocalSQL.h"
#include "SqlEngine.h"
#include "SqlParser.h"
#include "Unicode.h"

using namespace kv;

namespace {

std::shared_ptr<TTableStore> MakeStore(const std::vector<TColumnDef>& Defs,
                                       const std::vector<std::vector<Variant>>& Rows) {
  auto S = std::make_shared<TTableStore>();
  for (const auto& D : Defs) S->AddColumn(D);
  for (const auto& R : Rows) S->AppendRow(R);
  return S;
}

const Variant N = Variant::Null();

class SqlEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tables.Register("customer.db", MakeStore({{"CustNo", ftInteger, 0, true},
                                              {"Company", ftString, 30, false},
                                              {"State", ftString, 2, false},
                                              {"Country", ftString, 20, false}},
                                             {{1221, "Kiosco Divino Mar", "HI", "US"},
                                              {1231, "Ultima", N, "Bahamas"},
                                              {1351, "Sigma Divas", "CA", "US"},
                                              {2000, "ÁNGEL Buceo", N, "España"},
                                              {2001, "sig", "CA", "US"},
                                              {2002, "SIG", "HI", "US"},
                                              {2003, "", "CA", "US"}}));
    Tables.Register("orders.db", MakeStore({{"OrderNo", ftInteger, 0, true},
                                            {"CustNo", ftInteger, 0, false},
                                            {"SaleDate", ftDateTime, 0, false},
                                            {"Amount", ftCurrency, 0, false},
                                            {"Paid", ftBoolean, 0, false}},
                                           {{1003, 1221, TDateTime(36160.5), 1500.5, true},
                                            {1004, 2001, TDateTime(36159), 1500.25, false},
                                            {1005, 2001, TDateTime(36159.75), 2000.0, true},
                                            {1006, 1351, TDateTime(36100), 0.0, N},
                                            {1007, 2002, N, 99.0, false}}));
    Tables.Register("items.db",
                    MakeStore({{"OrderNo", ftInteger, 0, true}, {"ItemNo", ftInteger, 0, true}},
                              {{1003, 1}, {1003, 2}, {1004, 1}, {1005, 1}}));
  }

  // Runs Sql; where the row-number form applies, checks that the plain form gives the same.
  std::shared_ptr<TTableStore> Run(const std::string& Sql) {
    TSqlStatement St = ParseSql(Sql);
    TSqlTranslation T = TranslateSelect(St, Tables.Lookup());
    auto R = RunTranslatedSelect(T, Tables, Sql);
    if (!T.RowText.empty()) {
      T.RowText.clear();
      auto Plain = RunTranslatedSelect(T, Tables, Sql);
      EXPECT_EQ(Rows(*Plain), Rows(*R)) << Sql;
      for (size_t C = 0; C < R->Defs.size(); ++C) {
        EXPECT_EQ(Plain->Defs[C].DataType, R->Defs[C].DataType) << Sql;
        EXPECT_EQ(Plain->Defs[C].Size, R->Defs[C].Size) << Sql;
      }
    }
    return R;
  }

  // Each row as its values joined by "|", Null as "-".
  static std::vector<std::string> Rows(const TTableStore& S) {
    std::vector<std::string> Out;
    for (size_t R = 0; R < S.RowCount(); ++R) {
      std::string Line;
      for (size_t C = 0; C < S.Columns.size(); ++C) {
        const TColumn& Col = S.Columns[C];
        if (C) Line += "|";
        if (Col.IsNull(R)) {
          Line += "-";
          continue;
        }
        char Buf[40];
        switch (Col.Kind()) {
          case TStorageKind::Int:
            Line += std::to_string(Col.Int(R));
            break;
          case TStorageKind::Double:
            snprintf(Buf, sizeof Buf, "%g", Col.Double(R));
            Line += Buf;
            break;
          case TStorageKind::String:
            Line += Col.Str(R);
            break;
        }
      }
      Out.push_back(Line);
    }
    return Out;
  }

  TSqlTableSource Tables{""};
};

struct TRowsCase {
  const char* Sql;
  std::vector<std::string> Rows;
};

TEST_F(SqlEngineTest, StatementsReturnTheRowsAHandCheckGives) {
  const TRowsCase Cases[] = {
      // The search engine's statements.
      {"Select CustNo, Company From \"customer.db\" Where (lower(\"customer.db\".\"Company\")="
       "\"sig\" and (lower(\"customer.db\".\"State\")=\"ca\" or lower(\"customer.db\".\"State\")="
       "\"hi\")) Order by \"customer.db\".\"Company\" ASC",
       {"2002|SIG", "2001|sig"}},
      // like is case-sensitive: neither "Sigma Divas" nor "SIG" contains "sig".
      {"Select OrderNo From \"orders.db\",\"customer.db\" Where (\"customer.db\".\"Company\" like "
       "\"%sig%\") and (CustNo=\"customer.db\".\"CustNo\")",
       {"1004", "1005"}},
      {"Select  CustNo From  customer Where (State=\"CA\") and ( Country='US'\n)",
       {"1351", "2001", "2003"}},
      {"Select OrderNo From \"orders.db\" Where \"orders.db\".\"Amount\">=1500.5 and "
       "\"orders.db\".\"SaleDate\"<\"12/31/1998 00:00:00\"",
       {"1005"}},
      {"Select CustNo From \"customer.db\" Where (lower(\"customer.db\".\"Company\") IS NULL )",
       {"2003"}},
      {"Select CustNo From \"customer.db\" Where (lower(\"customer.db\".\"Company\") IS NOT NULL ) "
       "and State IS NULL",
       {"1231", "2000"}},
      {"Select \"items.db\".ItemNo, Amount From \"items.db\",\"orders.db\" Where "
       "(\"items.db\".\"orderno\"=1003 and \"orders.db\".\"orderno\"=1003 and "
       "\"orders.db\".\"custno\"=1221)",
       {"1|1500.5", "2|1500.5"}},
      // Grouping, aggregates and descending order.
      {"Select State, count(*) AS N, sum(CustNo) From customer Group by State Order by N DESC, "
       "State",
       {"CA|3|5355", "-|2|3231", "HI|2|3223"}},
      {"Select CustNo, count(*) From orders Group by CustNo Having count(*) > 1", {"2001|2"}},
      {"Select count(*), min(SaleDate), max(Amount), avg(Amount) From orders Where Paid=false",
       {"2|36159|1500.25|799.625"}},
      {"Select OrderNo From orders Order by SaleDate DESC",
       {"1003", "1005", "1004", "1006", "1007"}},
      {"Select DISTINCT Country From customer Order by Country DESC", {"US", "España", "Bahamas"}},
      // Accented text.
      {"Select CustNo, lower(Company), upper('ñandú') From customer Where lower(Company)="
       "\"ángel buceo\"",
       {"2000|ángel buceo|ÑANDÚ"}},
      {"Select CustNo From customer Where Company like \"Á%\"", {"2000"}},
      // A pattern that changes from row to row is worked out again for each row.
      {"Select CustNo From customer Where lower(Company) like lower(substr(Company, 1, 2)) || "
       "'%' Order by CustNo",
       {"1221", "1231", "1351", "2000", "2001", "2002"}},
      {"Select CustNo From customer Where Company like substr(Company, 2, 1) || '%' Order by "
       "CustNo",
       {}},
      {"Select CustNo From customer Where Country like (CASE WHEN State = 'CA' THEN 'U_' ELSE "
       "'Bah%' END) Order by CustNo",
       {"1231", "1351", "2001", "2003"}},
      // Ascii and accented texts lowered and raised as the rest of the system does.
      {"Select lower(Company), upper(Company) From customer Where CustNo in (1221, 2000)",
       {"kiosco divino mar|KIOSCO DIVINO MAR", "ángel buceo|ÁNGEL BUCEO"}},
      {"Select CustNo From customer Where Company like \"á%\"", {}},
      {"Select CustNo From customer Where Country like 'Espa_a'", {"2000"}},
      // The search engine escapes % and _ of the searched text with a backslash.
      {"Select CustNo From customer Where Company like \"Sigma\\_%\" ESCAPE \"\\\"", {}},
      {"Select CustNo From customer Where lower(Company) like \"sigma_%\" ESCAPE \"\\\"", {"1351"}},
      {"Select CustNo From customer Where Company not like '%i%' Order by CustNo",
       {"2000", "2002"}},
      // Joins, written both ways; equalities go through the store's hash index.
      {"Select c.Company, o.OrderNo From customer c LEFT JOIN orders o ON o.CustNo = c.CustNo "
       "Where c.State = 'HI' Order by o.OrderNo",
       {"Kiosco Divino Mar|1003", "SIG|1007"}},
      {"Select c.CustNo, o.OrderNo From customer c LEFT JOIN orders o ON o.CustNo = c.CustNo "
       "Where c.Country = 'Bahamas'",
       {"1231|-"}},
      {"Select i.ItemNo, c.Company From items i INNER JOIN orders o ON o.OrderNo = i.OrderNo "
       "INNER JOIN customer c ON c.CustNo = o.CustNo Where i.OrderNo = 1004",
       {"1|sig"}},
      // Equalities the index cannot serve are still answered right.
      {"Select OrderNo From orders Where OrderNo = 1003.0 or Amount = 0", {"1003", "1006"}},
      {"Select OrderNo From orders Where Amount = 1500.25 or CustNo = '2002'", {"1004", "1007"}},
      {"Select CustNo From customer Where Company = '' or State = NULL", {}},
      // Dates and booleans written as the search engine writes them.
      {"Select OrderNo From orders Where SaleDate = \"12/30/1998\"", {"1004"}},
      {"Select OrderNo From orders Where SaleDate BETWEEN '12/01/1998' AND '12/31/1998 12:00:00'",
       {"1003", "1004", "1005"}},
      {"Select OrderNo From orders Where Paid = true", {"1003", "1005"}},
      {"Select CustNo From orders Group by CustNo Having max(SaleDate) >= \"12/30/1998\"",
       {"1221", "2001"}},
      {"Select CASE WHEN Amount > 1000 THEN 'alto' ELSE 'bajo' END, Amount * 2 From orders Where "
       "OrderNo IN (1003, 1007)",
       {"alto|3001", "bajo|198"}},
  };
  for (const auto& C : Cases) {
    try {
      EXPECT_EQ(Rows(*Run(C.Sql)), C.Rows) << C.Sql;
    } catch (const Exception& E) {
      ADD_FAILURE() << C.Sql << ": " << E.Message();
    }
  }
}

TEST_F(SqlEngineTest, ResultColumnsFollowTheSource) {
  auto R =
      Run("Select * From \"orders.db\",\"customer.db\" Where (CustNo=\"customer.db\".\"CustNo\") "
          "Order by OrderNo");
  std::vector<std::string> Names;
  for (const auto& D : R->Defs) Names.push_back(D.Name);
  EXPECT_EQ(Names, (std::vector<std::string>{"OrderNo", "CustNo", "SaleDate", "Amount", "Paid",
                                             "Company", "State", "Country"}));
  EXPECT_EQ(R->Defs[2].DataType, ftDateTime);
  EXPECT_EQ(R->Defs[3].DataType, ftCurrency);
  EXPECT_EQ(R->Defs[4].DataType, ftBoolean);
  EXPECT_EQ(R->Defs[5].Size, 30);
  EXPECT_EQ(R->Defs[0].Required, false);
  ASSERT_EQ(R->RowCount(), 5u);
  EXPECT_EQ(R->Columns[2].Value(0).AsDateTime().Val, 36160.5);
  EXPECT_TRUE(R->Columns[4].Value(0).AsBoolean());
  EXPECT_TRUE(R->Columns[4].IsNull(3));
  EXPECT_EQ(R->Columns[5].Str(1), "sig");

  // Computed columns take their type from the values.
  auto E =
      Run("Select CustNo * 2, CustNo / 2.0, Company || '!', count(*), upper(State) "
          "From customer Where CustNo < 1300 Group by CustNo");
  const TFieldType Types[] = {ftInteger, ftFloat, ftString, ftInteger, ftString};
  for (size_t I = 0; I < 5; ++I) EXPECT_EQ(E->Defs[I].DataType, Types[I]) << I;
  EXPECT_EQ(E->Defs[2].Size, 18);  // longest value in characters
  EXPECT_EQ(Rows(*E), (std::vector<std::string>{"2442|610.5|Kiosco Divino Mar!|1|HI",
                                                "2462|615.5|Ultima!|1|-"}));
  // An empty result still has its columns.
  auto Z = Run("Select Company, count(*) From customer Where CustNo < 0 Group by Company");
  EXPECT_EQ(Z->Defs.size(), 2u);
  EXPECT_EQ(Z->RowCount(), 0u);
}

TEST_F(SqlEngineTest, RuntimeErrorsCarryTheStatement) {
  const char* Sql = "Select CustNo From customer Where count(*) > 1";
  try {
    Run(Sql);
    ADD_FAILURE() << "no error";
  } catch (const ESQLError& E) {
    EXPECT_NE(E.Message().find("Error al ejecutar la sentencia SQL"), std::string::npos);
    EXPECT_NE(E.Message().find(Sql), std::string::npos) << E.Message();
  }
}

TEST_F(SqlEngineTest, LowerAndUpperOfEveryLatinLetterAsTheRestOfTheSystem) {
  // Each character from U+0001 to U+024F alone and inside words, every one mapped as
  // AnsiLowerCase / AnsiUpperCase map it (the filters and the grid compare those forms).
  std::vector<std::vector<Variant>> Texts;
  auto Utf8 = [](char32_t C) {
    std::string S;
    if (C < 0x80) {
      S += static_cast<char>(C);
    } else {
      S += static_cast<char>(0xC0 | (C >> 6));
      S += static_cast<char>(0x80 | (C & 0x3F));
    }
    return S;
  };
  for (char32_t C = 1; C < 0x250; ++C) Texts.push_back({"Ab" + Utf8(C) + "Z", Utf8(C)});
  Texts.push_back({"ÀÉÎÕÜÑ × ßÿ Año", "Straße"});
  Texts.push_back({"bad \xC3", "\xC3\x28 mixed \xA9"});  // not UTF-8: only ASCII letters change
  Tables.Register("letters.db",
                  MakeStore({{"A", ftString, 20, false}, {"B", ftString, 20, false}}, Texts));
  const auto R = Run("Select lower(A), upper(A), lower(B), upper(B) From letters");
  ASSERT_EQ(R->RowCount(), Texts.size());
  for (size_t I = 0; I < Texts.size(); ++I)
    for (size_t C = 0; C < 4; ++C) {
      const std::string In = Texts[I][C / 2].AsString();
      const std::string Want = C % 2 ? AnsiUpperCase(In) : AnsiLowerCase(In);
      ASSERT_EQ(R->Columns[C].Str(I), Want) << "row " << I << " column " << C;
    }
}

TEST(SqlLike, CaseSensitiveUnicodePatterns) {
  struct {
    const char* Text;
    const char* Pattern;
    char32_t Escape;
    bool Match;
  } Cases[] = {
      {"Ángel", "Á%", 0, true},
      {"ángel", "Á%", 0, false},
      {"Ñandú", "_andú", 0, true},
      {"Ñandú", "__andú", 0, false},
      {"abc", "a_c", 0, true},
      {"abc", "%", 0, true},
      {"", "%", 0, true},
      {"", "_", 0, false},
      {"abc", "%b%", 0, true},
      {"abc", "%d%", 0, false},
      {"aXbXc", "%X%X%", 0, true},
      {"aXbXc", "%X%X%X%", 0, false},
      {"100%", "100!%", U'!', true},
      {"1000", "100!%", U'!', false},
      {"a_b", "a!_b", U'!', true},
      {"axb", "a!_b", U'!', false},
      {"sig", "%sig%", 0, true},
      {"Signal", "%sig%", 0, false},
      {"mississippi", "%iss%ppi", 0, true},
      {"abc", "abc%%", 0, true},
      {"abcd", "abc", 0, false},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(SqlLikeMatch(C.Text, C.Pattern, C.Escape), C.Match) << C.Text << " / " << C.Pattern;
}

}  // namespace
