// The guided tour on the sample database loaded into PostgreSQL: every step says what it says on
// the table files, the counters of each search included.
#include <gmock/gmock.h>

#include <cstdlib>
#include <optional>

#include "pg/PgTestServer.h"
#include "tools/ToolTestUtil.h"

using namespace kv;

namespace {

using namespace tooltest;

const std::string Searchdemo = KV_BINARY_DIR "/demo/searchdemo";

// The tour's lines without the last one, which names the folder of the pictures.
std::vector<std::string> Steps(const TRunResult& R) {
  std::vector<std::string> L = R.Lines();
  if (!L.empty()) L.pop_back();
  return L;
}

// Sets an environment variable while it lives.
class TEnv {
 public:
  TEnv(const char* Name, const std::string& Value) : FName(Name) {
    if (const char* Old = std::getenv(Name)) FOld = Old;
    setenv(Name, Value.c_str(), 1);
  }
  ~TEnv() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }
  TEnv(const TEnv&) = delete;
  TEnv& operator=(const TEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Runs the tour offscreen on Database as DBDEMOS (the test program's own table files when
// empty).
TRunResult Tour(const fs::path& Dir, const std::string& Database) {
  const TEnv Platform("QT_QPA_PLATFORM", "offscreen");
  std::optional<TEnv> Aliases;
  if (!Database.empty()) Aliases.emplace("KV_ALIASES", "DBDEMOS=" + Database);
  fs::create_directories(Dir);
  return RunProgram(Searchdemo, {"--tour", (Dir / "recorrido").string()}, Dir);
}

TEST(SearchdemoTour, OnPostgresqlEveryStepTellsWhatItTellsOnTableFiles) {
  TScratch S;
  pgtest::TScratchDatabase Pg;
  const TRunResult Load = RunProgram(GensamplePath, {"--out", Pg.Uri()}, S.Dir);
  ASSERT_EQ(Load.Status, 0) << Load.Err;
  const TRunResult Files = Tour(S.Dir / "archivos", "");
  const TRunResult OnServer = Tour(S.Dir / "servidor", Pg.Uri());
  ASSERT_EQ(Files.Status, 0) << Files.Err;
  ASSERT_EQ(OnServer.Status, 0) << OnServer.Err;
  // Each search's counter after it opens, filters and sums ("Registros encontrados:…") and
  // the order accepted are in these lines.
  ASSERT_GE(Steps(Files).size(), 4u * 6 + 2);
  EXPECT_EQ(Steps(OnServer), Steps(Files));
}

}  // namespace
