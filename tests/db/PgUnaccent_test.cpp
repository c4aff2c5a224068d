// The server's form of a text without its accents (PortableUnaccent, in PostgreSQL's own
// functions) against ours (StripAccents, FoldText) for every character the accent table changes,
// alone and inside words, with combining accents, and after the server's lower-case mapping.
#include <gtest/gtest.h>

#include "SqlDialect.h"
#include "Unicode.h"
#include "pg/PgTestServer.h"

using namespace kv;

using namespace pgtest;

namespace {

std::string Utf8(char32_t C) {
  std::string S;
  if (C < 0x80) {
    S += static_cast<char>(C);
  } else if (C < 0x800) {
    S += static_cast<char>(0xC0 | (C >> 6));
    S += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    S += static_cast<char>(0xE0 | (C >> 12));
    S += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    S += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    S += static_cast<char>(0xF0 | (C >> 18));
    S += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    S += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    S += static_cast<char>(0x80 | (C & 0x3F));
  }
  return S;
}

TEST(PgUnaccent, TheServerFoldsEveryTextAsWeDo) {
  std::vector<std::string> Texts = {"",
                                    "Gómez",
                                    "GÓMEZ",
                                    "Go\xCC\x81mez",
                                    "año",
                                    "AÑO",
                                    "an\xCC\x83o",
                                    "AN\xCC\x83O",
                                    "n\xCC\x83\xCC\x81",
                                    "N\xCC\x81\xCC\x83",
                                    "CAMIÓN",
                                    "Málaga",
                                    "ÇÀ VA",
                                    "Straße",
                                    "STRAẞE",
                                    "ﬁn",
                                    "Øre",
                                    "ΆΛΦΑ άλφα",
                                    "Łódź",
                                    "İSTANBUL",
                                    "ǖber",
                                    "Ünïcödé",
                                    "\xCC\x81",
                                    "한국어",
                                    "a\xCC\xA7\xCC\x81",
                                    "plain ascii"};
  // Every character the table changes, alone and between letters of both cases.
  for (const TAccentMapping& M : AccentTable()) {
    Texts.push_back(Utf8(M.From));
    Texts.push_back("Ab" + Utf8(M.From) + "z");
  }
  TScratchDatabase Db;
  TPgConnection C(Db.Uri());
  std::string Insert = "CREATE TABLE t (id integer, x text); INSERT INTO t VALUES ";
  for (size_t I = 0; I < Texts.size(); ++I)
    Insert += (I ? ", (" : "(") + std::to_string(I) + ", " + PgStringLiteral(Texts[I]) + ")";
  C.Exec(Insert);
  const TPgResult R = C.Exec("SELECT id, " + PortableUnaccent("x") + ", " +
                             PortableUnaccent(PgLower("x")) + " FROM t ORDER BY id");
  ASSERT_EQ(R.Rows(), static_cast<int>(Texts.size()));
  int Wrong = 0;
  for (int Row = 0; Row < R.Rows() && Wrong < 20; ++Row) {
    const std::string& T = Texts[static_cast<size_t>(Row)];
    const bool Same = R.Text(Row, 1) == StripAccents(T) && R.Text(Row, 2) == FoldText(T, true);
    EXPECT_EQ(R.Text(Row, 1), StripAccents(T)) << T;
    EXPECT_EQ(R.Text(Row, 2), FoldText(T, true)) << T;
    if (!Same) ++Wrong;
  }
}

}  // namespace
