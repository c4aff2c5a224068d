// A database folder whose queries are confined to it: tables outside it, named by "..", by an
// absolute path or through a link, are refused naming them, and ALTER TABLE rewrites nothing
// outside; tables inside, and every table of a folder not confined, work as before.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Database.h"
#include "LocalSQL.h"
#include "TableFile.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

TEST(ConfinedDatabase, TablesOutsideTheFolderAreRefusedAndNeverRewritten) {
  const fs::path Root = fs::temp_directory_path() / ("kvconfine-" + std::to_string(getpid()));
  fs::create_directories(Root / "db");
  fs::create_directories(Root / "other");
  TTableStore T;
  T.AddColumn({"Id", ftInteger, 0, false});
  T.AddColumn({"Name", ftString, 10, false});
  T.AppendRow({1, Variant("uno")});
  SaveTableFile((Root / "db/inside.dbf").string(), T);
  SaveTableFile((Root / "other/outside.dbf").string(), T);
  fs::create_symlink(Root / "other/outside.dbf", Root / "db/link.dbf");
  const std::string Db = (Root / "db").string();
  const auto Before = fs::last_write_time(Root / "other/outside.dbf");

  EXPECT_EQ(1u, ExecuteSelect("select * from \"../other/outside.dbf\"", Db)->RowCount());
  SetDatabaseConfined(Db, true);
  EXPECT_TRUE(DatabaseConfined(Db));
  const std::string Abs = (Root / "other/outside.dbf").string();
  for (const std::string& Name :
       {std::string("../other/outside.dbf"), Abs, std::string("link.dbf")}) {
    try {
      (void)ExecuteSelect("select * from \"" + Name + "\"", Db);
      ADD_FAILURE() << "read outside the folder: " << Name;
    } catch (const ESQLError& E) {
      EXPECT_EQ("La tabla '" + Name + "' está fuera de la carpeta de la base de datos '" + Db + "'",
                E.what());
    }
  }
  EXPECT_THROW(ExecuteStatement("alter table \"../other/outside.dbf\" drop Name", Db), ESQLError);
  EXPECT_EQ(Before, fs::last_write_time(Root / "other/outside.dbf"));
  EXPECT_EQ(2u, LoadTableFile(Abs)->Defs.size());
  EXPECT_EQ(1u, ExecuteSelect("select * from inside", Db)->RowCount());

  SetDatabaseConfined(Db, false);
  EXPECT_EQ(1u, ExecuteSelect("select * from \"" + Abs + "\"", Db)->RowCount());
  ClearTableCache();
  fs::remove_all(Root);
}

}  // namespace
