// Searches over a table and its lookup tables evaluated over the stores give, row for row and
// in the same order, what SQLite gives for the same statement: a corpus of generated statements
// over every operator, column type, case setting, Null, the Unicode case table, lookup chains,
// lookup keys that repeat, keys pointing nowhere, and orders either way on either table.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "DirectQuery.h"
#include "SqlEngine.h"
#include "SqlParser.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

const Variant Nil = Variant::Null();

uint32_t Seed = 7;
uint32_t Next(uint32_t N) {
  Seed = Seed * 1103515245u + 12345u;
  return (Seed >> 16) % N;
}

// o.db (the searched table) points into c.db by CustNo (a float against c.db's integers, some
// Null, some to no customer); c.db into r.db by Region, a text that r.db repeats; o.db into
// p.db by Part, where a part appears twice.
void WriteTables(const std::string& Dir) {
  const char* Names[] = {"abc",  "ABC",   "Abc",      "ñandú", "Ñandú",  "ΟΔΟΣ",
                         "οδος", "ΟΔΟΣΑ", "İSTANBUL", "ı",     "STRAẞE", "ﬁn",
                         "ez",   "Pérez", "ÁNGEL",    "ángel", "z",      nullptr};
  const char* Regions[] = {"Norte", "norte", "Sur", "ÑUBLE", nullptr};
  auto Name = [&] {
    const char* N = Names[Next(18)];
    return N ? Variant(N) : Nil;
  };
  TTableStore C;
  C.AddColumn({"CustNo", ftInteger, 0, true});
  C.AddColumn({"Company", ftString, 20, false});
  C.AddColumn({"Region", ftString, 10, false});
  C.AddColumn({"Since", ftDate, 0, false});
  C.AddColumn({"Vip", ftBoolean, 0, false});
  for (int R = 0; R < 60; ++R) {
    const char* N = Names[Next(18)];
    const char* G = Regions[Next(5)];
    C.AppendRow({60 - R, N ? Variant(N) : Nil, G ? Variant(G) : Nil,
                 Next(5) ? Variant(TDateTime(36000.0 + Next(3))) : Nil,
                 Next(4) ? Variant(Next(2) == 0) : Nil});
  }
  SaveTableFile(Dir + "/c.db", C);

  TTableStore G;
  G.AddColumn({"Region", ftString, 10, false});
  G.AddColumn({"Zone", ftString, 10, false});
  for (const char* Z : {"Norte", "Sur", "norte", "Norte", "Este"}) G.AppendRow({Z, Name()});
  SaveTableFile(Dir + "/r.db", G);

  TTableStore P;
  P.AddColumn({"Part", ftInteger, 0, false});
  P.AddColumn({"Description", ftString, 20, false});
  for (int R = 0; R < 12; ++R) P.AppendRow({R % 10, Name()});
  SaveTableFile(Dir + "/p.db", P);

  // Keys far apart (and one not whole), found through a hash map rather than by their place.
  TTableStore K;
  K.AddColumn({"Code", ftFloat, 0, false});
  K.AddColumn({"Label", ftString, 10, false});
  for (double Code : {7.0, 250.0, 99999.0, 2.5, 250.0, -0.0, 480.0}) K.AppendRow({Code, Name()});
  SaveTableFile(Dir + "/k.db", K);

  TTableStore O;
  O.AddColumn({"OrderNo", ftInteger, 0, true});
  O.AddColumn({"CustNo", ftFloat, 0, false});
  O.AddColumn({"Part", ftInteger, 0, false});
  O.AddColumn({"City", ftString, 20, false});
  O.AddColumn({"Amount", ftCurrency, 0, false});
  for (int R = 0; R < 500; ++R) {
    const uint32_t K = Next(70);  // past 60: no such customer
    O.AppendRow({R + 1, K % 13 == 5 ? Nil : Variant(K + (K % 17 == 3 ? 0.5 : 0.0)),
                 Next(9) ? Variant(static_cast<int>(Next(12))) : Nil, Name(),
                 Next(5) ? Variant::Currency(Next(6) * 2.5) : Nil});
  }
  SaveTableFile(Dir + "/o.db", O);
}

class DirectJoin : public ::testing::Test {
 protected:
  void SetUp() override { WriteTables(Dir.Path()); }
  void TearDown() override { ClearTableCache(); }

  // Expects the statement to be joined over the stores (when Direct) and its result to hold,
  // cell for cell and in order, the rows SQLite finds for it.
  void Expect(const std::string& Sql, bool Direct = true) {
    SCOPED_TRACE(Sql);
    TSqlTableSource Tables(Dir.Path());
    const TSqlTranslation T = TranslateSelect(ParseSql(Sql), Tables.Lookup());
    const auto Result = DirectSelectJoin(T, Tables);
    ASSERT_EQ(Result != nullptr, Direct);
    if (!Result) return;
    TSqliteDatabase Db;
    for (size_t K = 0; K < T.Tables.size(); ++K)
      Db.AttachStore(SqlTableName(K), Tables.Store(T.Tables[K].Path));
    TSqliteStatement St(Db, T.RowText, "");
    size_t Row = 0;
    while (St.Step()) {
      ASSERT_LT(Row, Result->RowCount());
      for (size_t C = 0; C < T.Columns.size(); ++C) {
        const int K = T.Columns[C].SourceTable;
        const auto Source = Tables.Store(T.Tables[K].Path);
        const bool None = sqlite3_column_type(St.Handle(), K) == SQLITE_NULL;
        const auto R = static_cast<size_t>(sqlite3_column_int64(St.Handle(), K));
        ASSERT_EQ(None ? "" : CanonicalCell(Source->Columns[T.Columns[C].SourceColumn], R),
                  CanonicalCell(Result->Columns[C], Row))
            << "row " << Row << ", column " << T.Columns[C].Def.Name;
      }
      ++Row;
    }
    EXPECT_EQ(Row, Result->RowCount());
    EXPECT_EQ(Result->Defs.size(), T.Columns.size());
  }

  // The statement a search over o.db with its lookup of c.db writes, in every order.
  void ExpectLookup(const std::string& Where, bool Direct = true) {
    const std::string Join = "(\"o.db\".\"CustNo\"=\"c.db\".\"CustNo\")";
    const std::string Base = "Select * From \"o.db\",\"c.db\" Where " +
                             (Where.empty() ? Join : "(" + Where + ") and " + Join);
    for (const char* Order :
         {"", " Order by \"c.db\".\"Company\" ASC", " Order by \"c.db\".\"Company\" DESC",
          " Order by \"o.db\".\"Amount\" DESC"})
      Expect(Base + Order, Direct);
  }

  TScratchDir Dir;
};

const char* const Ops[] = {"=", "<>", "<", ">", "<=", ">="};

TEST_F(DirectJoin, LookupTextsEveryOperatorPatternAndCase) {
  const char* Values[] = {"abc", "ΟΔΟΣ",   "οδος", "i̇stanbul", "ñandú",
                          "ﬁn",  "straße", "ez",   "ángel"};
  for (const std::string& Side :
       {std::string("\"c.db\".\"Company\""), std::string("lower(\"c.db\".\"Company\")")})
    for (const char* V : Values) {
      for (const char* Op : Ops) ExpectLookup(Side + Op + "\"" + V + "\"");
      for (const char* P : {"%s%", "%s", "s%"}) {
        std::string Pattern = P;
        Pattern.replace(Pattern.find('s'), 1, V);
        ExpectLookup(Side + " like \"" + Pattern + "\"");
        ExpectLookup(Side + " not like \"" + Pattern + "\"");
      }
    }
  ExpectLookup("\"c.db\".\"Company\" IS NULL ");
  ExpectLookup("\"c.db\".\"Company\" IS NOT NULL ");
  ExpectLookup("");
}

TEST_F(DirectJoin, NumbersDatesBooleansAndConditionsOnBothTables) {
  for (const char* Op : Ops) {
    ExpectLookup(std::string("\"c.db\".\"CustNo\"") + Op + "30");
    ExpectLookup(std::string("\"c.db\".\"Since\"") + Op + "36001");
    ExpectLookup(std::string("\"o.db\".\"Amount\"") + Op + "5");
  }
  ExpectLookup("\"c.db\".\"Vip\"=TRUE");
  ExpectLookup("\"c.db\".\"Since\" IS NULL ");
  ExpectLookup("\"c.db\".\"Company\"=NULL");
  ExpectLookup(
      "lower(\"c.db\".\"Company\") like \"%ez%\" or lower(\"o.db\".\"City\") like \"%ez%\"");
  ExpectLookup(
      "not (\"c.db\".\"Vip\"=TRUE) and (\"o.db\".\"Amount\">2 or \"o.db\".\"Amount\" IS NULL )");
  // The master restriction of a detail: a constant on the searched table's key.
  ExpectLookup("\"o.db\".\"OrderNo\"=17 or \"o.db\".\"OrderNo\"=30");
}

TEST_F(DirectJoin, ChainsRepeatedKeysAndWhatStaysWithSqlite) {
  // A lookup of a lookup, by a text that the last table repeats: a joined row per match.
  const std::string Chain =
      "Select * From \"o.db\",\"c.db\",\"r.db\" Where (%s) and (\"o.db\".\"CustNo\"=\"c.db\"."
      "\"CustNo\" and \"c.db\".\"Region\"=\"r.db\".\"Region\")";
  for (const char* W : {"lower(\"r.db\".\"Zone\") like \"%a%\"", "\"c.db\".\"Company\">\"b\"",
                        "\"r.db\".\"Zone\" IS NULL  or \"o.db\".\"Amount\"=5"}) {
    std::string S = Chain;
    S.replace(S.find("%s"), 2, W);
    for (const char* Order :
         {"", " Order by \"r.db\".\"Zone\" ASC", " Order by \"o.db\".\"City\" DESC"})
      Expect(S + Order);
  }
  // A lookup key that the lookup table repeats, and a part key Null or pointing nowhere.
  for (const char* Order : {"", " Order by \"p.db\".\"Description\" DESC"})
    Expect(
        "Select * From \"o.db\",\"p.db\" Where (\"p.db\".\"Description\" like \"%a%\") and "
        "(\"o.db\".\"Part\"=\"p.db\".\"Part\")" +
        std::string(Order));
  // Keys far apart; a key of two columns.
  Expect("Select * From \"o.db\",\"k.db\" Where (\"o.db\".\"OrderNo\"=\"k.db\".\"Code\")");
  Expect(
      "Select * From \"o.db\",\"k.db\" Where (\"k.db\".\"Label\" IS NOT NULL ) and "
      "(\"o.db\".\"Amount\"=\"k.db\".\"Code\") Order by \"k.db\".\"Label\" ASC");
  Expect(
      "Select * From \"o.db\",\"p.db\" Where (\"o.db\".\"Part\"=\"p.db\".\"Part\" and "
      "\"o.db\".\"City\"=\"p.db\".\"Description\")");
  // Outside the family: SQLite runs them.
  Expect("Select * From \"o.db\",\"c.db\" Where \"o.db\".\"CustNo\">\"c.db\".\"CustNo\"", false);
  Expect("Select * From \"o.db\",\"c.db\" Where \"o.db\".\"Amount\"=5", false);
  Expect(
      "Select \"o.db\".\"OrderNo\" From \"o.db\",\"c.db\" Where "
      "\"o.db\".\"CustNo\"=\"c.db\".\"CustNo\" Group by \"o.db\".\"OrderNo\"",
      false);
  Expect(
      "Select * From \"o.db\",\"c.db\" Where \"o.db\".\"CustNo\"=\"c.db\".\"CustNo\" and "
      "\"c.db\".\"Company\" like \"a_c\"",
      false);
}

}  // namespace
