// The dialect's expressions give on a real server the answers our own functions give on the same
// texts: lower()/upper() on the engine's hard case table, LIKE, text order with Nulls, empty texts
// as Null, quoting of hostile names, date literals; and the extensions later work relies on.
#include <gtest/gtest.h>

#include <algorithm>

#include "PgTestServer.h"
#include "PgTypes.h"
#include "SqlEngine.h"
#include "SqlTranslator.h"
#include "Unicode.h"

using namespace kv;

using namespace pgtest;

namespace {

// Texts whose case mappings are easy to get wrong (all valid UTF-8: the server holds no other).
const char* const CaseTexts[] = {
    "Straße", "STRASSE", "STRAẞE", "straß", "ﬁn",    "FIN",      "La ﬁnca",  "ΟΔΟΣ",
    "οδος",   "ΟΔΟΣΑ",   "AΣ",     "aς",    "ΣΟΦΙΑ", "İSTANBUL", "i̇stanbul", "ısparta",
    "I",      "i",       "İ",      "ÁNGEL", "ángel", "Ñandú",    "ÑANDÚ",    "CAFÉ",
    "café",   "ǅemal",   "ǆ",      "ŉ",     "ΐ",     "Ǉ",        "ꭰ",      "𐐨",
    "Ａ",     "ÿ",       "Ÿ",      "ﬀ ﬂ ﬃ", "ς",     "A\tB",     "9 años",   "ÀÉÎÕÜ",
};

}  // namespace

TEST(PgDialect, LowerAndUpperMapCaseAsTheEngineDoes) {
  TPgConnection C(ServerUri());
  for (const char* T : CaseTexts) {
    const std::string L = PgStringLiteral(T);
    TPgResult R = C.Exec("SELECT " + PgLower(L) + ", " + PgUpper(L));
    EXPECT_EQ(R.Text(0, 0), AnsiLowerCase(T)) << T;
    EXPECT_EQ(R.Text(0, 1), AnsiUpperCase(T)) << T;
  }
  // Over a column, and compared by bytes afterwards.
  C.Exec("CREATE TEMP TABLE w (s varchar(30))");
  for (const char* T : CaseTexts) {
    TPgParams P;
    C.Exec("INSERT INTO w VALUES (" + P.AddText(T) + ")", P);
  }
  TPgResult R = C.Exec("SELECT s FROM w WHERE " +
                       PgCompareText({PgLower("s")}, "=", {PgLower("'ÑANDÚ'"), false}));
  ASSERT_EQ(R.Rows(), 2);
}

TEST(PgDialect, LikeMatchesAsTheLocalSqlDoes) {
  TPgConnection C(ServerUri());
  const char* const Texts[] = {"Náutica Sur", "náutica", "a_b", "a%b", "axb", "back\\slash",
                               "ñandú",       "ÑANDÚ",   "𝄞x",  "",    "A"};
  const char* const Patterns[] = {"Náut%", "%ica%", "a_b", "a\\_b", "back\\slash", "_andú",
                                  "%",     "_",     "_x",  "%U%",   "ñ%ú",         "%\\%"};
  for (const char* T : Texts)
    for (const char* P : Patterns) {
      TPgResult R = C.Exec("SELECT " + PgLike(PgStringLiteral(T), PgStringLiteral(P)) + ", " +
                           PgLike(PgStringLiteral(T), PgStringLiteral(P), true));
      EXPECT_EQ(R.Bool(0, 0), SqlLikeMatch(T, P)) << T << " LIKE " << P;
      EXPECT_EQ(R.Bool(0, 1), !SqlLikeMatch(T, P)) << T << " NOT LIKE " << P;
      R = C.Exec("SELECT " + PgLike(PgStringLiteral(T), PgStringLiteral(P), false, "'\\'"));
      EXPECT_EQ(R.Bool(0, 0), SqlLikeMatch(T, P, U'\\')) << T << " LIKE " << P << " ESCAPE";
    }
}

// Texts in a column, Null and the empty string among them: order, comparisons and IS NULL give
// what the table files give, where '' is stored as Null and texts compare by their bytes.
TEST(PgDialect, TextsCompareAndOrderByBytesWithEmptyAsNull) {
  TPgConnection C(ServerUri());
  const std::vector<std::string> Texts = {"b", "B", "á", "Á", "z", "a b", "ab",
                                          "Ñ", "n", "𝄞", "€", "",  "b"};
  C.Exec("CREATE TEMP TABLE o (id integer, s text)");
  for (size_t I = 0; I < Texts.size(); ++I) {
    TPgParams P;
    const std::string Id = P.AddInt(static_cast<int64_t>(I));
    C.Exec("INSERT INTO o VALUES (" + Id + ", " + P.AddText(Texts[I]) + ")", P);
  }
  C.Exec("INSERT INTO o VALUES (100, NULL)");
  // Ours: '' is Null; Nulls first ascending, last descending; ties keep no particular order.
  std::vector<std::string> Expected;
  for (const auto& T : Texts) Expected.push_back(T);
  Expected.push_back("");
  std::sort(Expected.begin(), Expected.end());
  for (bool Desc : {false, true}) {
    TPgResult R = C.Exec("SELECT coalesce(s, '') FROM o ORDER BY " + PgOrderKey("s", true, Desc));
    std::vector<std::string> Got;
    for (int I = 0; I < R.Rows(); ++I) Got.emplace_back(R.Text(I, 0));
    std::vector<std::string> Want = Expected;
    if (Desc) std::reverse(Want.begin(), Want.end());
    EXPECT_EQ(Got, Want) << (Desc ? "descending" : "ascending");
  }
  EXPECT_EQ(C.Exec("SELECT count(*) FROM o WHERE " + PgIsNull("s", true)).Int(0, 0), 2);
  EXPECT_EQ(C.Exec("SELECT count(*) FROM o WHERE " + PgIsNull("s", true, true)).Int(0, 0), 12);

  // Every comparison with a constant and with another column.
  auto Ours = [](const std::string& A, const std::string& Op, const std::string& B) {
    if (A.empty() || B.empty()) return false;  // Null compares as unknown
    const int Cmp = AnsiCompareStr(A, B);
    return Op == "="    ? Cmp == 0
           : Op == "<>" ? Cmp != 0
           : Op == "<"  ? Cmp < 0
           : Op == ">"  ? Cmp > 0
           : Op == "<=" ? Cmp <= 0
                        : Cmp >= 0;
  };
  for (const std::string Op : {"=", "<>", "<", ">", "<=", ">="}) {
    for (const std::string K : {"b", "á", "", "ab"}) {
      int64_t Want = 0;
      for (const auto& T : Texts) Want += Ours(T, Op, K);
      const TPgText Const{PgStringLiteral(K), K.empty()};
      EXPECT_EQ(C.Exec("SELECT count(*) FROM o WHERE " + PgCompareText({"s"}, Op, Const)).Int(0, 0),
                Want)
          << "s " << Op << " '" << K << "'";
      EXPECT_EQ(C.Exec("SELECT count(*) FROM o WHERE " + PgCompareText(Const, Op, {"s"})).Int(0, 0),
                [&] {
                  int64_t N = 0;
                  for (const auto& T : Texts) N += Ours(K, Op, T);
                  return N;
                }())
          << "'" << K << "' " << Op << " s";
    }
    int64_t Want = 0;
    for (const auto& A : Texts)
      for (const auto& B : Texts) Want += Ours(A, Op, B);
    EXPECT_EQ(C.Exec("SELECT count(*) FROM o x, o y WHERE " + PgCompareText({"x.s"}, Op, {"y.s"}))
                  .Int(0, 0),
              Want)
        << "x.s " << Op << " y.s";
  }
}

TEST(PgDialect, HostileNamesAndTextsStayNamesAndTexts) {
  TPgConnection C(ServerUri());
  const std::string Names[] = {"Order", "a\"b",   "x\"; DROP TABLE t; --",
                               "Ñandú", "select", "sp ace"};
  std::string Columns;
  for (const auto& N : Names)
    Columns += (Columns.empty() ? "" : ", ") + PgQuoteIdentifier(N) + " text";
  C.Exec("CREATE TEMP TABLE " + PgQuoteIdentifier("t \"1\"") + " (" + Columns + ")");
  TPgResult R = C.Exec("SELECT * FROM " + PgQuoteIdentifier("t \"1\""));
  ASSERT_EQ(R.Columns(), 6);
  for (int I = 0; I < 6; ++I) EXPECT_EQ(R.ColumnName(I), Names[I]);
  EXPECT_EQ(PgQuoteIdentifier("sales", "Orders"), "\"sales\".\"Orders\"");
  EXPECT_THROW(PgQuoteIdentifier(""), EDatabaseError);
  for (const std::string T : {"O'Brien", "''", "back\\slash", "\\'; SELECT 1; --", "ñ"}) {
    TPgParams P;
    EXPECT_TRUE(C.Exec("SELECT " + PgStringLiteral(T) + " = " + P.AddText(T), P).Bool(0, 0)) << T;
  }
  EXPECT_THROW(PgStringLiteral(std::string_view("a\0", 2)), EDatabaseError);
}

TEST(PgDialect, DateConstantsBecomeDateLiterals) {
  TPgConnection C(ServerUri());
  const struct {
    const char* Local;  // the local SQL's "MM/DD/YYYY [hh:mm:ss]"
    TFieldType Type;
    const char* Server;
  } Cases[] = {
      {"12/31/2024", ftDate, "2024-12-31"},
      {"02/29/2024 13:05:09", ftDateTime, "2024-02-29 13:05:09"},
      {"01/01/0001", ftDate, "0001-01-01"},
      {"12/31/9999 23:59:59", ftDateTime, "9999-12-31 23:59:59"},
      {"12/29/1899 06:00:00", ftDateTime, "1899-12-29 06:00:00"},
      {"13:45:30", ftTime, "13:45:30"},
  };
  for (const auto& Case : Cases) {
    double Days;
    ASSERT_TRUE(ParseSqlDateConstant(Case.Local, Case.Type, Days)) << Case.Local;
    TPgResult R = C.Exec("SELECT " + PgDateLiteral(TDateTime(Days), Case.Type) + ", (" +
                         PgDateLiteral(TDateTime(Days), Case.Type) + ")::text");
    EXPECT_EQ(R.Text(0, 1), Case.Server) << Case.Local;
    EXPECT_EQ(R.DateTime(0, 0).Val, Days) << Case.Local;
  }
  EXPECT_THROW(PgDateLiteral(TDateTime(1e9), ftDate), EDatabaseError);
}

TEST(PgTypes, ColumnTypesMakeTheRoundTripThroughTheServer) {
  TPgConnection C(ServerUri());
  const struct {
    TFieldType Type;
    int Size;
  } Fields[] = {{ftString, 30}, {ftMemo, 0},     {ftSmallint, 0}, {ftInteger, 0},
                {ftFloat, 0},   {ftCurrency, 0}, {ftBCD, 4},      {ftBoolean, 0},
                {ftDate, 0},    {ftTime, 0},     {ftDateTime, 0}, {ftBlob, 0}};
  std::string Cols;
  for (size_t I = 0; I < std::size(Fields); ++I)
    Cols +=
        (I ? ", c" : "c") + std::to_string(I) + " " + PgColumnType(Fields[I].Type, Fields[I].Size);
  C.Exec("CREATE TEMP TABLE m (" + Cols + ")");
  TPgResult R = C.Exec("SELECT * FROM m");
  for (size_t I = 0; I < std::size(Fields); ++I) {
    const TPgFieldType F = R.FieldType(static_cast<int>(I));
    EXPECT_EQ(F.DataType, Fields[I].Type) << PgColumnType(Fields[I].Type, Fields[I].Size);
    EXPECT_EQ(F.Size, Fields[I].Size) << PgColumnType(Fields[I].Type, Fields[I].Size);
  }
  EXPECT_EQ(PgColumnType(ftAutoInc, 0), "integer");
  EXPECT_THROW(PgColumnType(ftCursor, 0), EDatabaseError);
  // Texts of the server that are no value of ours.
  TDateTime D;
  for (const char* Bad : {"infinity", "-infinity", "2024-02-30", "10000-01-01", "2024-01-01 BC",
                          "2024-01-01 25:00:00", "2024-1-1"})
    EXPECT_FALSE(PgParseDateTime(Bad, ftDateTime, D)) << Bad;
  ASSERT_TRUE(PgParseDateTime("2024-06-01 10:00:00.999600+02", ftDateTime, D));
  EXPECT_EQ(PgDateTimeText(D, ftDateTime), "2024-06-01 10:00:01.000");
}

// Accent folding on the server comes through these extensions; the test cluster has them.
TEST(PgServer, TheContribExtensionsCanBeCreated) {
  TScratchDatabase Db;
  TPgConnection C(Db.Uri());
  C.Exec("CREATE EXTENSION unaccent; CREATE EXTENSION pg_trgm");
  EXPECT_EQ(C.Exec("SELECT unaccent('Ávila')").Text(0, 0), "Avila");
  EXPECT_GT(C.Exec("SELECT similarity('Náutica', 'Nautica')").Double(0, 0), 0.0);
}
