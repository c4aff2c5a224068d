// Where the demo finds DBDEMOS: KV_ALIASES first, else the first folder holding the sample
// tables, with an error that names every folder looked at.
#include <gtest/gtest.h>

#include <cstdlib>

#include "DemoDatabase.h"
#include "SysUtils.h"
#include "tools/ToolTestUtil.h"

using namespace kv;

namespace {

using tooltest::fs::path;

TEST(DemoDatabase, TheAliasIsReadFromKvAliasesInAnyCase) {
  EXPECT_EQ(DemoAliasIn(nullptr), "");
  EXPECT_EQ(DemoAliasIn(""), "");
  EXPECT_EQ(DemoAliasIn("SAMPLE=/a"), "");
  EXPECT_EQ(DemoAliasIn("DBDEMOS=/data/demo"), "/data/demo");
  EXPECT_EQ(DemoAliasIn("SAMPLE=/a; dbdemos = /b ;X=/c"), "/b");
  EXPECT_EQ(DemoAliasIn("DBDEMOSX=/a;DBDEMO=/b"), "");
  // The first one given wins, as it does when the tables are opened.
  EXPECT_EQ(DemoAliasIn("DBDEMOS=/a;DBDEMOS=/b"), "/a");
}

TEST(DemoDatabase, CandidatesBesideTheProgramThenRepositoryThenBuildTree) {
  const auto C = DemoDatabaseCandidates("/opt/kv/bin");
  ASSERT_EQ(C.size(), 3u);
  EXPECT_EQ(C[0], "/opt/kv/bin/sample-db");
  EXPECT_EQ(C[1], path(KV_SOURCE_DIR "/sample-db").lexically_normal().string());
  EXPECT_EQ(C[2], path(KV_BINARY_DIR "/sample-db").lexically_normal().string());
  // A program in the build tree's root is looked for once there.
  EXPECT_EQ(DemoDatabaseCandidates(KV_BINARY_DIR).size(), 2u);
  EXPECT_EQ(DemoDatabaseCandidates("").size(), 2u);
}

TEST(DemoDatabase, TheFirstFolderWithAllFourTablesIsChosen) {
  tooltest::TScratch S;
  const path Empty = S.Dir / "empty", Partial = S.Dir / "partial", Full = S.Dir / "full";
  for (const path& P : {Empty, Partial, Full}) tooltest::fs::create_directories(P);
  // Tables in another letter case serve as well.
  for (const char* T : {"CUSTOMER.DB", "ORDERS.DB", "ITEMS.DB", "PARTS.DB"}) {
    std::string Lower = T;
    for (char& Ch : Lower) Ch = static_cast<char>(std::tolower(static_cast<unsigned char>(Ch)));
    tooltest::fs::copy_file(tooltest::SampleDb() / T, Full / Lower);
    if (std::string(T) != "PARTS.DB")
      tooltest::fs::copy_file(tooltest::SampleDb() / T, Partial / T);
  }
  const std::string Missing = (S.Dir / "missing").string();
  EXPECT_EQ(FindDemoDatabase({Missing, Empty.string(), Partial.string(), Full.string()}),
            Full.string());
  EXPECT_EQ(FindDemoDatabase({tooltest::SampleDb().string(), Full.string()}),
            tooltest::SampleDb().string());
  try {
    FindDemoDatabase({Missing, Empty.string(), Partial.string()});
    FAIL() << "no sample database should be found";
  } catch (const Exception& E) {
    EXPECT_EQ(std::string(E.what()),
              "No se encuentra la base de datos de ejemplo DBDEMOS: KV_ALIASES no la nombra y "
              "ninguna de estas carpetas tiene las tablas CUSTOMER, ORDERS, ITEMS y PARTS: '" +
                  Missing + "', '" + Empty.string() + "', '" + Partial.string() +
                  "'. Genérela con 'gensample --out CARPETA' o indique "
                  "KV_ALIASES=DBDEMOS=CARPETA");
  }
}

TEST(DemoDatabase, KvAliasesDecides) {
  // The test program sets KV_ALIASES to its generated database before any test runs.
  ASSERT_EQ(DemoAliasIn(std::getenv("KV_ALIASES")), tooltest::SampleDb().string());
  EXPECT_EQ(UseDemoDatabase(), tooltest::SampleDb().string());
}

}  // namespace
