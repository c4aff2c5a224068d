// The search statements evaluated over the table store give, row for row, what SQLite gives for
// the same statement: a corpus of generated statements over every operator, column type, case
// setting, pattern form, Null and the Unicode case table, with and without an order.
#include "DirectQuery.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "LocalSQL.h"
#include "SqlEngine.h"
#include "SqlParser.h"
#include "TableFile.h"
#include "Unicode.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

// Texts whose lower case leaves Latin-1 (Greek final sigma, dotted I, sharp s, ligatures), texts
// that differ by case or accent only, texts a pattern could match across two rows.
TTableStore CorpusTable() {
  TTableStore T;
  T.AddColumn({"Id", ftInteger, 0, false});
  T.AddColumn({"Name", ftString, 20, false});
  T.AddColumn({"City", ftString, 20, false});
  T.AddColumn({"Short", ftSmallint, 0, false});
  T.AddColumn({"Num", ftFloat, 0, false});
  T.AddColumn({"Money", ftCurrency, 0, false});
  T.AddColumn({"Flag", ftBoolean, 0, false});
  T.AddColumn({"Day", ftDate, 0, false});
  T.AddColumn({"Stamp", ftDateTime, 0, false});
  const char* Names[] = {"abc",   "ABC",      "Abc", "ñandú",  "Ñandú", "ΟΔΟΣ", "οδος",
                         "ΟΔΟΣΑ", "İSTANBUL", "ı",   "STRAẞE", "ﬁn",    "a",    "ab c",
                         "ÁNGEL", "ángel",    "z",   "ez",     "Pérez", nullptr};
  const char* Cities[] = {"Madrid", "e", "zMadrid", "Ez", "LÓPEZ", "z", nullptr};
  const double Nums[] = {0.0, -0.0, 1.5, -2.25, 1e10, 1.5, 3.0};
  uint32_t Seed = 11;
  auto Next = [&](uint32_t N) {
    Seed = Seed * 1103515245u + 12345u;
    return (Seed >> 16) % N;
  };
  for (int R = 0; R < 400; ++R) {
    auto Maybe = [&](Variant V) { return Next(6) == 0 ? Null() : V; };
    const char* Name = Names[Next(20)];
    const char* City = Cities[Next(7)];
    T.AppendRow({R + 1, Name ? Variant(Name) : Null(), City ? Variant(City) : Null(),
                 Maybe(static_cast<int>(Next(4)) - 1), Maybe(Nums[Next(7)]),
                 Maybe(Variant::Currency(Next(3) * 10.25)), Maybe(Next(2) == 0),
                 Maybe(TDateTime(36000.0 + Next(3))),
                 Maybe(TDateTime(36000.0 + Next(2) + Next(2) / 2.0))});
  }
  return T;
}

class DirectQuery : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = (std::filesystem::temp_directory_path() / ("kvdirect_" + std::to_string(::getpid())))
              .string();
    std::filesystem::create_directories(Dir);
    SaveTableFile(Dir + "/t.db", CorpusTable());
  }
  void TearDown() override {
    ClearTableCache();
    std::filesystem::remove_all(Dir);
  }

  // The rows SQLite finds for the statement's row form, in the order it finds them.
  static std::vector<uint32_t> SqliteRows(const TSqlTranslation& T, const TTableStore& S) {
    TSqliteDatabase Db;
    Db.AttachStore(SqlTableName(0), std::shared_ptr<const TTableStore>(&S, [](auto*) {}));
    TSqliteStatement St(Db, T.OrderTerms.empty() ? T.RowText : T.UnorderedRowText, "");
    std::vector<uint32_t> Rows;
    while (St.Step()) Rows.push_back(static_cast<uint32_t>(sqlite3_column_int64(St.Handle(), 0)));
    return Rows;
  }

  // Expects the direct evaluation to take the statement (when Direct) and to find what SQLite
  // finds; and the view a search opens to hold, row for row, SQLite's own result.
  void Expect(const std::string& Where, bool Direct = true) {
    const std::string Sql = "Select * From \"t.db\" Where " + Where;
    SCOPED_TRACE(Sql);
    TSqlTableSource Tables(Dir);
    const TSqlTranslation T = TranslateSelect(ParseSql(Sql), Tables.Lookup());
    const auto Store = Tables.Store(T.Tables[0].Path);
    const auto Rows = DirectSelectRows(T, *Store);
    ASSERT_EQ(Rows.has_value(), Direct);
    if (Rows) {
      EXPECT_EQ(*Rows, SqliteRows(T, *Store));
    }
    for (const char* Order :
         {"", " Order by \"t.db\".\"Name\" ASC", " Order by \"t.db\".\"Num\" DESC"})
      ExpectViewAsSqlite(Sql + Order);
  }

  void ExpectViewAsSqlite(const std::string& Sql) {
    SCOPED_TRACE(Sql);
    const TSelectResult View = OpenSelect(Sql, Dir);
    ASSERT_TRUE(View.Rows.has_value());
    const auto Copy = ExecuteSelect(Sql, Dir);
    ASSERT_EQ(Copy->RowCount(), View.Rows->size());
    for (size_t I = 0; I < View.Rows->size(); ++I)
      for (size_t C = 0; C < Copy->Columns.size(); ++C)
        ASSERT_EQ(CanonicalCell(Copy->Columns[C], I),
                  CanonicalCell(View.Store->Columns[C], (*View.Rows)[I]))
            << "row " << I << ", column " << Copy->Defs[C].Name;
  }

  std::string Dir;
};

const char* const Ops[] = {"=", "<>", "<", ">", "<=", ">="};

TEST_F(DirectQuery, TextComparisonsAndPatternsWithAndWithoutCaseAndAccents) {
  const char* Values[] = {"abc",    "ΟΔΟΣ", "οδος", "İstanbul", "i̇stanbul", "ñandú", "ﬁn",
                          "straße", "ez",   "z",    "Madrid",   "ángel",    "a"};
  for (const char* Col : {"Name", "City"}) {
    const std::string F = std::string("\"t.db\".\"") + Col + "\"";
    for (const std::string& Side :
         {F, "lower(" + F + ")", "unaccent(" + F + ")", "unaccent(lower(" + F + "))"}) {
      for (const char* V : Values) {
        for (const char* Op : Ops) Expect(Side + Op + "\"" + V + "\"");
        for (const char* P : {"%s%", "%s", "s%", "s"}) {
          std::string Pattern = P;
          Pattern.replace(Pattern.find('s'), 1, V);
          Expect(Side + " like \"" + Pattern + "\"");
          Expect(Side + " not like \"" + Pattern + "\"");
        }
      }
      for (const char* P : {"%", "%%", ""}) Expect(Side + " like \"" + P + "\"");
      Expect(Side + " IS NULL ");
      Expect(Side + " IS NOT NULL ");
    }
  }
}

TEST_F(DirectQuery, NumbersDatesAndBooleansAgainstConstants) {
  const char* Values[] = {"0", "-0", "1,5", "-2.25", "1.5", "10000000000", "1", "-1", "''"};
  for (const char* Col : {"Id", "Short", "Num", "Money", "Flag"})
    for (const char* V : Values)
      for (const char* Op : Ops) {
        std::string Value = V;
        if (Value == "1,5") continue;  // not a number in SQL
        Expect(std::string("\"t.db\".\"") + Col + "\"" + Op + Value);
      }
  for (const char* Col : {"Day", "Stamp"})
    for (const char* Op : Ops)
      Expect(std::string("\"t.db\".\"") + Col + "\"" + Op + "\"07/24/1998 12:00:00\"");
  Expect("\"t.db\".\"Num\" IS NULL ");
  Expect("\"t.db\".\"Num\" IS NOT NULL ");
  Expect("\"t.db\".\"Flag\"=TRUE");
  Expect("\"t.db\".\"Id\"=NULL");
}

TEST_F(DirectQuery, ConnectorsNegationAndTheMasterRestriction) {
  Expect("(lower(\"t.db\".\"Name\") like \"%ez%\" or lower(\"t.db\".\"City\") like \"%ez%\")");
  Expect("(\"t.db\".\"Name\" like \"%a%\" and (\"t.db\".\"Num\">0 or \"t.db\".\"Num\" IS NULL ))");
  Expect("not (\"t.db\".\"Short\"=1) or not (\"t.db\".\"Name\" like \"a%\")");
  Expect("(lower(\"t.db\".\"Name\")=\"abc\") and (\"t.db\".\"Short\"=1)");
  // A union of index lookups finds the rows in another order: SQLite keeps it.
  Expect("(\"t.db\".\"Short\"=1 or \"t.db\".\"Id\"=7) and \"t.db\".\"Name\" like \"%a%\"");
  // What the column program does not take goes to SQLite, with the same result.
  Expect("\"t.db\".\"Name\" like \"a_c\"", false);
  Expect("upper(\"t.db\".\"Name\")=\"ABC\"", false);
  Expect("lower(unaccent(\"t.db\".\"Name\"))=\"angel\"", false);
  Expect("\"t.db\".\"Name\"=\"t.db\".\"City\"", false);
  Expect("\"t.db\".\"Id\" in (1, 2, 3)", false);
}

TEST_F(DirectQuery, TheLoweredCopyIsMadeOnceAndCounted) {
  const auto Store = LoadTableFile(Dir + "/t.db");
  Store->DecodeAll();
  const size_t Before = Store->MemoryBytes();
  const TColumn& L = Store->LoweredColumn(1);
  EXPECT_EQ(&L, &Store->LoweredColumn(1));
  EXPECT_GT(Store->MemoryBytes(), Before);
  for (size_t R = 0; R < L.Size(); ++R) {
    ASSERT_EQ(L.IsNull(R), Store->Columns[1].IsNull(R));
    if (!L.IsNull(R)) {
      EXPECT_EQ(L.Str(R), AnsiLowerCase(Store->Columns[1].Str(R)));
    }
  }
}

}  // namespace
