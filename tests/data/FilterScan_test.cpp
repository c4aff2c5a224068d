// Scans of a whole row vector by the filter (FindFirst, FindNext, Filtered) agree with a test of
// each row on its own, for the equality fast path and the cases it hands back.
#include <gtest/gtest.h>

#include "DB.h"
#include "Unicode.h"

using namespace kv;

namespace {

std::unique_ptr<TMemDataSet> Cities() {
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("City", ftString, 20);
  DS->CreateDataSet();
  for (const char* C : {"Lima", "", "Madrid", "madrid", "Madrid", "Madridejos", "Lim", "Lima"})
    DS->AppendRecord({Variant(std::string(C))});
  return DS;
}

TEST(FilterScan, FindAndFilterAgreeWithRowTests) {
  struct Case {
    const char* Filter;
    TFilterOptions Options;
    std::vector<int> RecNos;  // 1-based records that match, in order
  } Cases[] = {
      {"City = 'Madrid'", 0, {3, 5}},
      {"City = 'Madrid'", foCaseInsensitive, {3, 4, 5}},
      {"City = 'Madrid*'", 0, {3, 5, 6}},
      {"City = 'Madrid*'", foNoPartialCompare, {}},
      {"City = 'Lima'", 0, {1, 8}},
      {"City = 'Quito'", 0, {}},
      {"City = ''", 0, {2}},
      {"City <> 'Lima'", 0, {3, 4, 5, 6, 7}},
  };
  for (const Case& C : Cases) {
    auto DS = Cities();
    DS->SetFilterOptions(C.Options);
    DS->SetFilter(C.Filter);
    std::vector<int> Found;
    for (bool Ok = DS->FindFirst(); Ok; Ok = DS->FindNext()) Found.push_back(DS->RecNo());
    EXPECT_EQ(Found, C.RecNos) << C.Filter << " options " << C.Options;
    DS->SetFiltered(true);
    EXPECT_EQ(DS->RecordCount(), static_cast<int>(C.RecNos.size())) << C.Filter;
  }
}

// Ignoring case, every comparison of a text column with a constant keeps exactly the rows whose
// lower-case form compares so with the constant's (the mapping the SQL lower() uses), both when
// filtering and when searching with FindFirst/FindNext.
TEST(FilterScan, IgnoringCaseMatchesTheLowerCaseForms) {
  const std::vector<std::string> Texts = {
      "Straße", "STRASSE", "STRAẞE 5", "ﬁn",         "FIN",      "La ﬁnca",  "ΟΔΟΣ",
      "οδοσ",   "AΣ",      "aς",       "İSTANBUL",   "i̇stanbul", "ISTANBUL", "ıstanbul",
      "ÁNGEL",  "ángel",   "ANGEL",    "CAF\xC9",    "caf\xC9",  "café",     "CAFÉ",
      "a\xFF",  "Madrid",  "madrid",   "MADRIDEJOS", "zeta"};
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("T", ftString, 30);
  DS->CreateDataSet();
  for (const std::string& T : Texts) DS->AppendRecord({Variant(T)});
  DS->SetFilterOptions(foCaseInsensitive);
  const struct {
    const char* Op;
    bool (*Keep)(int Cmp);
  } Ops[] = {{"=", [](int C) { return C == 0; }}, {"<>", [](int C) { return C != 0; }},
             {"<", [](int C) { return C < 0; }},  {">=", [](int C) { return C >= 0; }},
             {">", [](int C) { return C > 0; }},  {"<=", [](int C) { return C <= 0; }}};
  const std::vector<std::string> Constants = {
      "straße", "STRASSE", "ﬁn",     "οδος", "aσ",    "i̇stanbul", "istanbul", "ángel", "caf\xC9",
      "CAFÉ",   "A\xFF",   "MADRID", "Z",    "ΟΔΟΣ*", "STRA*",    "İ*",       "CAF*",  "ı*"};
  for (const std::string& K : Constants) {
    for (const auto& Op : Ops) {
      const bool Prefix = K.back() == '*';
      if (Prefix && Op.Op[0] != '=' && std::string(Op.Op) != "<>") continue;
      const std::string LK = AnsiLowerCase(Prefix ? K.substr(0, K.size() - 1) : K);
      std::vector<int> Want;
      for (size_t I = 0; I < Texts.size(); ++I) {
        const std::string LT = AnsiLowerCase(Texts[I]);
        const int Cmp = LT.compare(LK);
        const bool Keep = Prefix ? LT.starts_with(LK) == (Op.Op[0] == '=')
                                 : Op.Keep(Cmp < 0   ? -1
                                           : Cmp > 0 ? 1
                                                     : 0);
        if (Keep) Want.push_back(static_cast<int>(I) + 1);
      }
      const std::string Filter = std::string("T ") + Op.Op + " '" + K + "'";
      SCOPED_TRACE(Filter);
      DS->SetFiltered(false);
      DS->SetFilter(Filter);
      std::vector<int> Found;
      for (bool Ok = DS->FindFirst(); Ok; Ok = DS->FindNext()) Found.push_back(DS->RecNo());
      EXPECT_EQ(Found, Want);
      DS->SetFiltered(true);
      EXPECT_EQ(DS->RecordCount(), static_cast<int>(Want.size()));
    }
  }
}

// A range of one number column is scanned in one loop; other conjunctions row by row. Both find
// and filter the rows a test of each row would, Nulls never matching.
TEST(FilterScan, NumberRangesAgreeWithRowTests) {
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("N", ftInteger);
  DS->FieldDefs().Add("F", ftFloat);
  DS->CreateDataSet();
  const Variant Null = Variant::Null();
  const std::vector<std::pair<Variant, Variant>> Values = {
      {1, 2.5}, {Null, 2.0}, {2, Null}, {3, 3.0}, {4, 2.999}, {2, 1.0}, {5, 2.0}, {Null, Null}};
  for (const auto& [N, F] : Values) DS->AppendRecord({N, F});
  const struct {
    const char* Filter;
    std::vector<int> RecNos;
  } Cases[] = {
      {"F >= 2 and F < 3", {1, 2, 5, 7}},
      {"F >= 2 and F < 3 and N > 1", {5, 7}},
      {"N > 1 and N <= 4", {3, 4, 5, 6}},
      {"N >= 2 and F < 3", {5, 6, 7}},  // two columns
      {"F > 5 and F < 4", {}},
      {"N = 2 and N = 2", {3, 6}},
      {"N <> 2 and N < 5", {1, 4, 5}},
      {"F < 3 and F >= 2", {1, 2, 5, 7}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Filter);
    DS->SetFiltered(false);
    DS->SetFilter(C.Filter);
    std::vector<int> Found;
    for (bool Ok = DS->FindFirst(); Ok; Ok = DS->FindNext()) Found.push_back(DS->RecNo());
    EXPECT_EQ(Found, C.RecNos);
    DS->Last();
    std::vector<int> Back;
    for (bool Ok = DS->FindLast(); Ok; Ok = DS->FindPrior()) Back.insert(Back.begin(), DS->RecNo());
    EXPECT_EQ(Back, C.RecNos);  // FindPrior tests row by row
    DS->SetFiltered(true);
    EXPECT_EQ(DS->RecordCount(), static_cast<int>(C.RecNos.size()));
  }
}

}  // namespace
