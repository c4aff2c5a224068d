// Databases: aliases from code and from KV_ALIASES, and table names resolved in any letter case
// with a missing extension tried as .db, .dbf, .txt.
#include <cstdlib>
#include <filesystem>

#include "DB.h"
#include "Database.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

TEST(Database, AliasesFromCodeAndEnvironmentInAnyCase) {
  TScratchDir A, B;
  // KV_ALIASES is read the first time an alias is needed.
  ::setenv("KV_ALIASES", ("ENVDB=" + A.Path() + ";Other=" + B.Path()).c_str(), 1);
  EXPECT_EQ(A.Path(), DatabaseDirectory("envdb"));
  EXPECT_EQ(B.Path(), DatabaseDirectory("OTHER"));
  RegisterAlias("Demos", B.Path());
  EXPECT_EQ(B.Path(), DatabaseDirectory("DEMOS"));
  RegisterAlias("envdb", B.Path());
  EXPECT_EQ(B.Path(), DatabaseDirectory("EnvDb")) << "code replaces an alias";
  UnregisterAlias("DEMOS");
  EXPECT_THROW(DatabaseDirectory("Demos"), EDatabaseError);
  EXPECT_EQ(A.Path(), DatabaseDirectory(A.Path())) << "a directory names itself";
  EXPECT_FALSE(DatabaseDirectory("").empty());
}

TEST(Database, UnknownAliasAndMissingAliasDirectoryAreNamed) {
  try {
    DatabaseDirectory("NoSuchAliasKV");
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find("NoSuchAliasKV")) << E.Message();
  }
  RegisterAlias("Gone", "/nonexistent-kv-dir");
  try {
    DatabaseDirectory("gone");
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find("/nonexistent-kv-dir")) << E.Message();
    EXPECT_NE(std::string::npos, E.Message().find("gone")) << E.Message();
  }
}

struct TResolveCase {
  const char* Table;
  const char* Found;  // file name found, nullptr when none
};

class Resolve : public ::testing::TestWithParam<TResolveCase> {};

TEST_P(Resolve, NameToFile) {
  TScratchDir Dir;
  for (const char* F :
       {"CUSTOMER.DB", "orders.dbf", "Orders.txt", "parts.txt", "Items.Db", "readme.md"})
    WriteFileBytes(Dir.File(F), "x");
  std::filesystem::create_directory(Dir.File("folder.db"));
  std::filesystem::create_directory(Dir.File("sub"));
  WriteFileBytes(Dir.File("sub/Nested.DBF"), "x");
  RegisterAlias("ResolveDb", Dir.Path());
  if (GetParam().Found) {
    EXPECT_EQ(Dir.File(GetParam().Found), ResolveTablePath("resolvedb", GetParam().Table));
  } else {
    try {
      ResolveTablePath("RESOLVEDB", GetParam().Table);
      FAIL();
    } catch (const EDatabaseError& E) {
      EXPECT_EQ("No se encuentra la tabla '" + std::string(GetParam().Table) + "' en '" +
                    Dir.Path() + "'",
                E.Message());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Resolve,
    ::testing::Values(TResolveCase{"customer", "CUSTOMER.DB"},
                      TResolveCase{"Customer.db", "CUSTOMER.DB"},
                      TResolveCase{"ORDERS", "orders.dbf"},
                      TResolveCase{"orders.TXT", "Orders.txt"}, TResolveCase{"parts", "parts.txt"},
                      TResolveCase{"items.db", "Items.Db"},
                      TResolveCase{"sub/nested", "sub/Nested.DBF"}, TResolveCase{"readme", nullptr},
                      TResolveCase{"folder", nullptr}, TResolveCase{"missing.db", nullptr}));

TEST(Database, AbsoluteTableNameIgnoresTheDatabase) {
  TScratchDir Dir;
  WriteFileBytes(Dir.File("Abs.DBF"), "x");
  EXPECT_EQ(Dir.File("Abs.DBF"), ResolveTablePath("NoSuchAliasKV", Dir.File("abs")));
}

TEST(Database, TargetPathKeepsAnExistingFileElseAddsDb) {
  TScratchDir Dir;
  WriteFileBytes(Dir.File("Export.DBF"), "x");
  EXPECT_EQ(Dir.File("Export.DBF"), TargetTablePath(Dir.Path(), "export"));
  EXPECT_EQ(Dir.File("Export.DBF"), TargetTablePath(Dir.Path(), "EXPORT.dbf"));
  EXPECT_EQ(Dir.File("nuevo.db"), TargetTablePath(Dir.Path(), "nuevo"));
  EXPECT_EQ(Dir.File("nuevo.txt"), TargetTablePath(Dir.Path(), "nuevo.txt"));
}

// Tables, memo files and schema files are found by one rule: any letter case, accented letters
// included, the exact name first.
TEST(Database, CompanionFilesInAnyLetterCase) {
  TScratchDir Dir;
  TTableStore Src;
  Src.AddColumn({"Id", ftInteger, 0, false});
  Src.AddColumn({"Notas", ftMemo, 0, false});
  Src.AppendRow({1, "Señal " + std::string(400, 'a')});
  SaveTableFile(Dir.File("ñandú.db"), Src);
  SaveTableFile(Dir.File("canción.txt"), Src);
  std::filesystem::rename(Dir.File("ñandú.db"), Dir.File("ÑANDÚ.DB"));
  std::filesystem::rename(Dir.File("ñandú.mb"), Dir.File("ÑANDÚ.MB"));
  std::filesystem::rename(Dir.File("canción.sch"), Dir.File("CANCIÓN.SCH"));
  ClearTableCache();
  EXPECT_EQ(ResolveTablePath(Dir.Path(), "ñandú"), Dir.File("ÑANDÚ.DB"));
  EXPECT_EQ(LoadTableFile(ResolveTablePath(Dir.Path(), "Ñandú.db"))->Columns[1].Str(0),
            "Señal " + std::string(400, 'a'));
  EXPECT_EQ(LoadTableFile(Dir.File("canción.txt"))->RowCount(), 1u);
  // Saving again replaces the files under the names they have.
  SaveTableFile(Dir.File("canción.txt"), Src);
  EXPECT_EQ(Dir.Entries(),
            (std::vector<std::string>{"CANCIÓN.SCH", "canción.txt", "ÑANDÚ.DB", "ÑANDÚ.MB"}));
}

}  // namespace
