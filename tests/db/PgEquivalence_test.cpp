// The filter language over a PostgreSQL table finds exactly the records it finds over table
// files: the same data in an in-memory dataset and copied to the server by a batch move, the
// same filters (the Unicode case table among them), compared record by record, filtered and
// stepping either way; Locate and Lookup alike. A UTF-8 database cannot hold bytes that are not
// UTF-8: such texts are stored with those bytes read as Latin-1.
#include <gtest/gtest.h>

#include "SysUtils.h"
#include "db/EquivalenceCorpus.h"
#include "pg/PgTestServer.h"

using namespace kv;

namespace {

// A text as a UTF-8 database holds it: bytes that are not UTF-8 read as Latin-1.
std::string Storable(const std::string& S) {
  std::string Out;
  for (size_t I = 0; I < S.size();) {
    const unsigned char C = static_cast<unsigned char>(S[I]);
    const size_t N = C < 0x80             ? 1
                     : (C & 0xE0) == 0xC0 ? 2
                     : (C & 0xF0) == 0xE0 ? 3
                     : (C & 0xF8) == 0xF0 ? 4
                                          : 0;
    bool Ok = N > 0 && I + N <= S.size();
    for (size_t K = 1; Ok && K < N; ++K) Ok = (static_cast<unsigned char>(S[I + K]) & 0xC0) == 0x80;
    if (Ok) {
      Out.append(S, I, N);
      I += N;
    } else {
      Out += static_cast<char>(0xC0 | (C >> 6));
      Out += static_cast<char>(0x80 | (C & 0x3F));
      ++I;
    }
  }
  return Out;
}

// The texts of a local-SQL expression over the table "mixed" in the order of Id, "" for Null.
std::vector<std::string> ColumnOf(const std::string& Database, const std::string& Expr) {
  TQuery Q;
  Q.SetDatabaseName(Database);
  Q.SQL().Add("SELECT Id, " + Expr + " AS X FROM mixed ORDER BY Id");
  Q.Open();
  std::vector<std::string> Out;
  for (Q.First(); !Q.Eof(); Q.Next()) Out.push_back(Q.FieldByName("X")->AsString());
  return Out;
}

class PgEquivalence : public equivalence::TCorpus {
 protected:
  pgtest::TScratchDatabase Db;

  std::string Stored(const std::string& S) const override { return Storable(S); }

  void SetUp() override {
    CopyInto(Db.Uri());
    // Rows of a table without key have no lasting place on the server (an update moves them):
    // the key keeps the order of the records as the in-memory dataset has it.
    TPgConnection(Db.Uri()).Exec("ALTER TABLE mixed ADD PRIMARY KEY (\"Id\")");
    Table = OpenTable(Db.Uri(), "mixed");
  }
};

TEST_F(PgEquivalence, AccentsIgnored) {
  AccentsIgnored([&](const std::string& Expr) { return ColumnOf(Db.Uri(), Expr); });
}

TEST_F(PgEquivalence, TextComparisonsWithAndWithoutCase) {
  TextComparisonsWithAndWithoutCase();
}
TEST_F(PgEquivalence, NumbersDatesBooleansNullsAndConnectors) {
  NumbersDatesBooleansNullsAndConnectors();
}
TEST_F(PgEquivalence, WrongFiltersRaiseTheSameMessages) {
  WrongFiltersRaiseTheSameMessages();
}
TEST_F(PgEquivalence, LocateAndLookupFindTheSameRecord) {
  LocateAndLookupFindTheSameRecord();
}
TEST_F(PgEquivalence, EmptyTextsAreEmptyValues) {
  TPgConnection(Db.Uri()).Exec("UPDATE mixed SET \"T\" = '' WHERE \"Id\" IN (3, 4)");
  EmptyTextsAreEmptyValues();
}

}  // namespace
