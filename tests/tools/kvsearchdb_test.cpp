// kvsearch on a SQLite file and a PostgreSQL database holding the sample: the same searches give
// the same counts as on the table files, through the filter and the SQL paths, and --explain
// shows the statement sent to the database after the engine's own.
#include <gtest/gtest.h>

#include "ToolTestUtil.h"
#include "pg/PgTestServer.h"

using namespace kv;

using namespace tooltest;

namespace {

TEST(KvsearchDatabases, SameCountsAsTheTableFilesAndTheStatementSent) {
  TScratch Scratch;
  const fs::path Files = Scratch.Dir / "files";
  fs::create_directories(Files);
  ASSERT_EQ(0, RunProgram(GensamplePath, {"--out", Files.string()}, Scratch.Dir).Status);
  const std::string Lite = "sqlite:" + (Scratch.Dir / "muestra.sqlite").string();
  ASSERT_EQ(0, RunProgram(GensamplePath, {"--out", Lite}, Scratch.Dir).Status);
  pgtest::TScratchDatabase Pg;
  ASSERT_EQ(0, RunProgram(GensamplePath, {"--out", Pg.Uri()}, Scratch.Dir).Status);
  for (const char* Expr : {"Country='España' and Company=='a'", "Company=='a' or City=='b'"}) {
    for (const char* Path : {"", "--sql"}) {
      std::vector<std::string> Args = {"--count", "--explain"};
      if (*Path) Args.push_back(Path);
      auto Run = [&](const std::string& Db) {
        std::vector<std::string> A = Args;
        A.insert(A.end(), {Db, "customer", Expr});
        return RunProgram(KvsearchPath, A, Scratch.Dir);
      };
      const TRunResult Want = Run(Files.string());
      ASSERT_EQ(0, Want.Status) << Want.Err;
      for (const std::string& Db : {Lite, Pg.Uri()}) {
        SCOPED_TRACE(Db + " " + Expr + " " + Path);
        const TRunResult Got = Run(Db);
        ASSERT_EQ(0, Got.Status) << Got.Err;
        EXPECT_EQ(Want.Out.substr(Want.Out.rfind("Registros")),
                  Got.Out.substr(Got.Out.rfind("Registros")));
        if (*Path) {
          EXPECT_NE(std::string::npos, Got.Out.find("\nsent: SELECT ")) << Got.Out;
        }
      }
    }
  }
}

}  // namespace
