// kvsearch --explain on a PostgreSQL server: the plan of each statement the search sent, and for
// a text search that reads a large table whole, the index that serves it — checked by creating
// exactly that index and asking again.
#include <gtest/gtest.h>

#include "ToolTestUtil.h"
#include "pg/PgTestServer.h"

using namespace kv;

using namespace tooltest;

namespace {

// The statements of the "índice:" lines, one a line.
std::vector<std::string> HintedStatements(const std::string& Out) {
  std::vector<std::string> Sql;
  const std::string Lead = "índice:   ";
  std::istringstream In(Out);
  for (std::string L; std::getline(In, L);)
    if (L.starts_with(Lead)) Sql.push_back(L.substr(Lead.size()));
  return Sql;
}

std::string Counter(const std::string& Out) {
  const size_t At = Out.rfind("Registros encontrados:");
  return At == std::string::npos ? std::string() : Out.substr(At);
}

TEST(KvsearchExplain, HintsTheIndexThatServesATextSearchOverALargeTable) {
  TScratch Scratch;
  pgtest::TScratchDatabase Pg;
  TPgConnection Db(Pg.Uri());
  // 12,000 names (every seventh with an accent to ignore) and a table too small to index.
  Db.Exec(
      "CREATE TABLE big (id int PRIMARY KEY, name text, city text); "
      "INSERT INTO big SELECT i, 'Nombre ' || md5(i::text) || CASE WHEN i % 7 = 0 THEN ' Gómez' "
      "ELSE ' Pérez' END, (ARRAY['Málaga', 'MALAGA', 'Cádiz', 'León'])[i % 4 + 1] "
      "FROM generate_series(1, 12000) i; "
      "CREATE TABLE small (id int PRIMARY KEY, name text); "
      "INSERT INTO small SELECT i, 'x' || i FROM generate_series(1, 50) i; ANALYZE");
  auto Explain = [&](std::vector<std::string> Args) {
    Args.insert(Args.begin(), {"--count", "--explain", Pg.Uri()});
    TRunResult R = RunProgram(KvsearchPath, Args, Scratch.Dir);
    EXPECT_EQ(0, R.Status) << R.Err;
    return R.Out;
  };
  struct TCase {
    std::vector<std::string> Args;
    const char* Wanted;  // a piece of the index statement hinted
  };
  const TCase Cases[] = {
      {{"--case", "big", "name><'abc'"}, "USING gin ((\"name\") COLLATE \"C\" gin_trgm_ops)"},
      {{"big", "name=='nombre a'"}, "CREATE INDEX ON \"public\".\"big\" ((lower("},
      {{"--ignore-accents", "big", "name><'gomez'"}, "kv_unaccent(lower("},
      {{"--ignore-accents", "big", "city='malaga'"}, "kv_unaccent(lower((\"city\")"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Args.back());
    const std::string Before = Explain(C.Args);
    EXPECT_NE(std::string::npos, Before.find("\nplan: ")) << Before;
    EXPECT_NE(std::string::npos, Before.find("Seq Scan sobre public.big")) << Before;
    const std::vector<std::string> Hint = HintedStatements(Before);
    ASSERT_FALSE(Hint.empty()) << Before;
    EXPECT_NE(std::string::npos, Hint.back().find(C.Wanted)) << Hint.back();
    for (const std::string& S : Hint) Db.Exec(S);
    Db.Exec("ANALYZE big");
    // The index hinted serves the very statements sent: no table read whole, no hint, and the
    // same records.
    const std::string After = Explain(C.Args);
    EXPECT_NE(std::string::npos, After.find("con el índice big_")) << After;
    EXPECT_EQ(std::string::npos, After.find("Seq Scan")) << After;
    EXPECT_TRUE(HintedStatements(After).empty()) << After;
    EXPECT_EQ(Counter(Before), Counter(After));
    EXPECT_NE("Registros encontrados:0\n", Counter(After));
  }
  // A small table is read whole without a hint.
  const std::string Small = Explain({"--case", "small", "name><'1'"});
  EXPECT_NE(std::string::npos, Small.find("Seq Scan sobre public.small")) << Small;
  EXPECT_TRUE(HintedStatements(Small).empty()) << Small;
}

}  // namespace
