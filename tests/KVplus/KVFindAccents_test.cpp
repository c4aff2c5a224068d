// Searches that ignore accents over table files: the filter path, the SQL path and stepping find
// the same records for every condition, and distinguishing accents (the default) leaves the
// engine's texts as they were. (A table file holds texts in its code page, which has no
// combining marks: those are met in the database corpus.)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "KVFind.h"
#include "KVplus/TableMaker.h"

using namespace kv;

namespace {

namespace fs = std::filesystem;

class KVFindAccents : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char Tmpl[] = "/tmp/kvaccentsXXXXXX";
    ASSERT_NE(mkdtemp(Tmpl), nullptr);
    Dir = Tmpl;
    const std::vector<const char*> Names = {"Gómez",  "GÓMEZ",  "Gomez", "gómez",  "año",
                                            "AÑO",    "ano",    "Año",   "CAMIÓN", "camion",
                                            "Málaga", "MALAGA", "Ça va", "Straße", "Ångström"};
    std::vector<std::vector<Variant>> Rows;
    for (size_t I = 0; I < Names.size(); ++I)
      Rows.push_back({static_cast<int>(I + 1), std::string(Names[I])});
    kvtest::MakeTable(Dir, "people.db", {{"Id", ftInteger, 0}, {"Name", ftString, 20}}, {"Id"},
                      Rows);
  }
  static void TearDownTestSuite() { fs::remove_all(Dir); }

  void SetUp() override {
    People.SetDatabaseName(Dir);
    People.SetTableName("people.db");
    People.Open();
    K.SetPDataSet(&People);
    K.SetpDataSource(&Source);
  }

  static std::string Ids(TDataSet* DS) {
    std::string R;
    for (DS->First(); !DS->Eof(); DS->Next())
      R += (R.empty() ? "" : ",") + DS->FieldByName("Id")->AsString();
    return R;
  }
  std::string Search(const std::string& Expression, bool ForceSQL) {
    K.SetFiltered(false);
    K.SetForceSQL(ForceSQL);
    K.SetFilter(Expression);
    K.SetFiltered(true);
    return Ids(K.Results());
  }
  std::string Stepped(const std::string& Condition) {
    K.SetFiltered(false);
    K.SetCondition(Condition);
    std::string R;
    for (bool Ok = K.FindFirst(); Ok; Ok = K.FindNext())
      R += (R.empty() ? "" : ",") + K.Results()->FieldByName("Id")->AsString();
    return R;
  }

  static inline std::string Dir;
  TTable People;
  TDataSource Source;
  TKVFind K;
};

TEST_F(KVFindAccents, BothPathsFindTheSameRecords) {
  K.SetAccentSensitive(false);
  const struct {
    const char* Expression;
    bool CaseSensitive;
    const char* Found;
  } Cases[] = {
      {"Name='gomez'", false, "1,2,3,4"},
      {"Name='Gomez'", true, "1,3"},
      {"Name='año'", false, "5,6,8"},
      {"Name='ano'", false, "7"},
      {"Name<>'gomez'", false, "5,6,7,8,9,10,11,12,13,14,15"},
      {"Name>='malaga'", false, "11,12,14"},
      {"Name<'b'", false, "5,6,7,8,15"},
      {"Name='camion' or Name='MÁLAGA'", false, "9,10,11,12"},
      {"Name='ca va'", false, "13"},
      {"Name='ANGSTROM'", false, "15"},
      {"Name='anna'", false, ""},
      {"Name='strasse'", false, ""},
      {"Name=='GÓ'", false, "1,2,3,4"},
      {"Name=='an'", false, "7,15"},
      {"Name><'MEZ'", false, "1,2,3,4"},
      {"Name><'Ñ'", false, "5,6,8"},
      {"Name><'ál'", true, "11"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Expression);
    K.SetCaseSensitive(C.CaseSensitive);
    const bool NeedsSql = std::string(C.Expression).find("==") != std::string::npos ||
                          std::string(C.Expression).find("><") != std::string::npos;
    if (!NeedsSql) {
      EXPECT_EQ(Search(C.Expression, false), C.Found) << "filter";
    }
    EXPECT_EQ(Search(C.Expression, true), C.Found) << "SQL";
  }
}

TEST_F(KVFindAccents, SteppingAndLocateIgnoreAccents) {
  K.SetAccentSensitive(false);
  K.SetCaseSensitive(false);
  EXPECT_EQ(Stepped("(Name=='gom')"), "1,2,3,4");
  EXPECT_EQ(Stepped("(Name=='AÑ')"), "5,6,8");
  EXPECT_EQ(Stepped("(Name=='malaga')"), "11,12");
  EXPECT_TRUE(
      People.Locate("Name", std::string("CAMION"), loAccentInsensitive | loCaseInsensitive));
  EXPECT_EQ(People.FieldByName("Id")->AsInteger(), 9);
  EXPECT_TRUE(People.Locate("Name", std::string("malag"),
                            loAccentInsensitive | loCaseInsensitive | loPartialKey));
  EXPECT_EQ(People.FieldByName("Id")->AsInteger(), 11);
  EXPECT_FALSE(People.Locate("Name", std::string("Camion"), loAccentInsensitive));
  EXPECT_TRUE(People.Locate("Name", std::string("camión"), loAccentInsensitive));
  EXPECT_EQ(People.FieldByName("Id")->AsInteger(), 10);
}

TEST_F(KVFindAccents, DistinguishingAccentsKeepsTheTexts) {
  EXPECT_TRUE(K.AccentSensitive());
  K.SetCaseSensitive(false);
  EXPECT_EQ(Search("Name=='gó'", true), "1,2,4");
  const std::string Sql = K.SQLQuery()->SQL().Text();
  EXPECT_EQ(Sql.find("unaccent"), std::string::npos) << Sql;
  EXPECT_EQ(People.FilterOptions(), static_cast<TFilterOptions>(foCaseInsensitive));
  // Ignoring them, the statement shows the folded texts.
  K.SetAccentSensitive(false);
  EXPECT_EQ(People.FilterOptions(),
            static_cast<TFilterOptions>(foCaseInsensitive | foAccentInsensitive));
  EXPECT_EQ(Search("Name=='GÓ'", true), "1,2,3,4");
  EXPECT_NE(K.SQLQuery()->SQL().Text().find("unaccent(lower(\"people.db\".\"Name\")) like \"go%\""),
            std::string::npos)
      << K.SQLQuery()->SQL().Text();
  K.SetAccentSensitive(true);
  EXPECT_EQ(Search("Name=='gó'", true), "1,2,4");
}

}  // namespace
