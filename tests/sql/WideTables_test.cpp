// Tables wider than the SQL engine's column limit: a statement over one is refused with a
// Spanish message naming the table and the limit, not SQLite's own words; one at the limit runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "LocalSQL.h"
#include "TableFile.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

// A text table of Fields whole-number fields F1..Fn and two records, in Dir.
void WriteWide(const fs::path& Dir, const std::string& Name, int Fields) {
  std::ofstream Sch(Dir / (Name + ".sch")), Txt(Dir / (Name + ".txt"));
  Sch << "[W]\nFILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n";
  for (int F = 1; F <= Fields; ++F) Sch << "Field" << F << "=F" << F << ",LONGINT,11,00,00\n";
  for (int R = 0; R < 2; ++R) {
    for (int F = 1; F <= Fields; ++F) Txt << (F > 1 ? "," : "") << F * 10 + R;
    Txt << "\n";
  }
}

TEST(WideTables, PastTheColumnLimitTheStatementIsRefusedNamingTableAndLimit) {
  const fs::path Dir = fs::temp_directory_path() / ("kvwide-" + std::to_string(getpid()));
  fs::create_directories(Dir);
  WriteWide(Dir, "wide", 2001);
  WriteWide(Dir, "edge", 2000);
  for (const char* Sql :
       {"select F1 from \"wide.txt\" where F2001 = 20011", "select * from \"wide.txt\""}) {
    try {
      (void)OpenSelect(Sql, Dir.string());
      ADD_FAILURE() << "a table wider than the engine was searched: " << Sql;
    } catch (const ESQLError& E) {
      EXPECT_STREQ("La tabla 'wide.txt' tiene 2001 campos, más de los 2000 que admite el motor SQL",
                   E.what());
    }
  }
  auto R = ExecuteSelect("select F2000 from \"edge.txt\" where F1 = 11", Dir.string());
  ASSERT_EQ(1u, R->RowCount());
  EXPECT_EQ(20001, R->Columns[0].Int(0));
  ClearTableCache();
  fs::remove_all(Dir);
}

}  // namespace
