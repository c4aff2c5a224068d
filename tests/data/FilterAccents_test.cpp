// The dataset ignoring accents (foAccentInsensitive, loAccentInsensitive): every comparison keeps
// exactly the rows whose folded forms (FoldText) compare so with the constant's, when filtering,
// when stepping with FindFirst/FindNext/FindPrior and in Locate; the folded column is made once.
#include <gtest/gtest.h>

#include "DB.h"
#include "TableStore.h"
#include "Unicode.h"

using namespace kv;

namespace {

const std::vector<std::string> kTexts = {
    "Gómez",  "GÓMEZ",  "Gomez",  "Go\xCC\x81mez", "año",   "AÑO",    "ano",     "an\xCC\x83o",
    "CAMIÓN", "camion", "Málaga", "malaga",        "ÇÀ VA", "Straße", "STRASSE", "ﬁn",
    "FIN",    "ΆΛΦΑ",   "άλφα",   "Łódź",          "a\xFF", "zeta",   "Øre"};

std::unique_ptr<TMemDataSet> Texts() {
  auto DS = std::make_unique<TMemDataSet>();
  DS->FieldDefs().Add("T", ftString, 30);
  DS->FieldDefs().Add("U", ftString, 30);
  DS->CreateDataSet();
  // U holds the texts in the opposite order, for comparisons of one field with another.
  for (size_t I = 0; I < kTexts.size(); ++I)
    DS->AppendRecord({Variant(kTexts[I]), Variant(kTexts[kTexts.size() - 1 - I])});
  return DS;
}

std::vector<int> Stepped(TDataSet& DS, bool Forward) {
  std::vector<int> Found;
  if (Forward)
    for (bool Ok = DS.FindFirst(); Ok; Ok = DS.FindNext()) Found.push_back(DS.RecNo());
  else
    for (bool Ok = DS.FindLast(); Ok; Ok = DS.FindPrior()) Found.insert(Found.begin(), DS.RecNo());
  return Found;
}

TEST(FilterAccents, ComparisonsKeepTheRowsWhoseFoldedFormsCompare) {
  auto DS = Texts();
  const struct {
    const char* Op;
    bool (*Keep)(int Cmp);
  } Ops[] = {{"=", [](int C) { return C == 0; }}, {"<>", [](int C) { return C != 0; }},
             {"<", [](int C) { return C < 0; }},  {">=", [](int C) { return C >= 0; }},
             {">", [](int C) { return C > 0; }},  {"<=", [](int C) { return C <= 0; }}};
  const std::vector<std::string> Constants = {
      "gomez",  "GÓMEZ",       "Go\xCC\x81mez", "ano",   "año",  "AN\xCC\x83O", "camion",
      "MALAGA", "ca va",       "alfa",          "ΑΛΦΑ",  "lodz", "straße",      "GO*",
      "Á*",     "an\xCC\x83*", "CAMIO*",        "a\xFF", "Z"};
  for (const TFilterOptions Case : {0u, unsigned(foCaseInsensitive)}) {
    const bool IgnoreCase = Case != 0;
    DS->SetFiltered(false);
    DS->SetFilterOptions(Case | foAccentInsensitive);
    for (const std::string& K : Constants) {
      for (const auto& Op : Ops) {
        const bool Prefix = K.back() == '*';
        if (Prefix && std::string(Op.Op) != "=" && std::string(Op.Op) != "<>") continue;
        const std::string FK = FoldText(Prefix ? K.substr(0, K.size() - 1) : K, IgnoreCase);
        std::vector<int> Want;
        for (size_t I = 0; I < kTexts.size(); ++I) {
          const std::string FT = FoldText(kTexts[I], IgnoreCase);
          const int Cmp = FT.compare(FK);
          const bool Keep = Prefix ? FT.starts_with(FK) == (Op.Op[0] == '=')
                                   : Op.Keep(Cmp < 0   ? -1
                                             : Cmp > 0 ? 1
                                                       : 0);
          if (Keep) Want.push_back(static_cast<int>(I) + 1);
        }
        const std::string Filter = std::string("T ") + Op.Op + " '" + K + "'";
        SCOPED_TRACE(Filter + (IgnoreCase ? " ignoring case" : ""));
        DS->SetFiltered(false);
        DS->SetFilter(Filter);
        EXPECT_EQ(Stepped(*DS, true), Want);
        EXPECT_EQ(Stepped(*DS, false), Want);
        DS->SetFiltered(true);
        EXPECT_EQ(DS->RecordCount(), static_cast<int>(Want.size()));
      }
    }
  }
}

TEST(FilterAccents, DistinguishingAccentsIsTheDefaultAndFieldsCompareFolded) {
  auto DS = Texts();
  DS->SetFilterOptions(foCaseInsensitive);
  DS->SetFilter("T = 'gomez'");
  DS->SetFiltered(true);
  EXPECT_EQ(DS->RecordCount(), 1);  // only "Gomez"
  DS->SetFiltered(false);
  DS->SetFilterOptions(foCaseInsensitive | foAccentInsensitive);
  DS->SetFiltered(true);
  EXPECT_EQ(DS->RecordCount(), 4);
  DS->SetFiltered(false);
  // One field against another: both folded.
  DS->SetFilter("T = U");
  std::vector<int> Want;
  for (size_t I = 0; I < kTexts.size(); ++I)
    if (FoldText(kTexts[I], true) == FoldText(kTexts[kTexts.size() - 1 - I], true))
      Want.push_back(static_cast<int>(I) + 1);
  EXPECT_EQ(Stepped(*DS, true), Want);
}

TEST(FilterAccents, LocateIgnoresAccentsOnlyWhenAsked) {
  auto DS = Texts();
  ASSERT_TRUE(DS->Locate("T", Variant("CAMION"), loCaseInsensitive));
  EXPECT_EQ(DS->FieldByName("T")->AsString(), "camion");
  ASSERT_TRUE(DS->Locate("T", Variant("CAMION"), loAccentInsensitive));
  EXPECT_EQ(DS->FieldByName("T")->AsString(), "CAMIÓN");
  ASSERT_TRUE(DS->Locate("T", Variant("gomez"), loCaseInsensitive | loAccentInsensitive));
  EXPECT_EQ(DS->RecNo(), 1);
  ASSERT_TRUE(DS->Locate("T", Variant("Mal"), loPartialKey | loAccentInsensitive));
  EXPECT_EQ(DS->FieldByName("T")->AsString(), "Málaga");
  // ñ is a letter of its own, written either way.
  ASSERT_TRUE(DS->Locate("T", Variant("AN\xCC\x83O"), loCaseInsensitive | loAccentInsensitive));
  EXPECT_EQ(DS->FieldByName("T")->AsString(), "año");
  EXPECT_FALSE(DS->Locate("T", Variant("anos"), loCaseInsensitive | loAccentInsensitive));
}

TEST(FilterAccents, TheFoldedColumnIsMadeOnceForEveryDatasetOnTheStore) {
  auto DS = Texts();
  const TTableStore& S = *DS->Store();
  const size_t Before = S.MemoryBytes();
  const int Col = S.ColumnIndex("T");
  const TColumn& A = S.FoldedColumn(Col, true);
  const size_t After = S.MemoryBytes();
  EXPECT_GT(After, Before) << "counted in the memory lines";
  EXPECT_EQ(&A, &S.FoldedColumn(Col, true));
  EXPECT_NE(&A, &S.FoldedColumn(Col, false));
  EXPECT_EQ(A.Str(1), "gomez");
  EXPECT_EQ(A.Str(4), "año");
  // A search after the first reads the column made before.
  DS->SetFilterOptions(foCaseInsensitive | foAccentInsensitive);
  DS->SetFilter("T = 'malaga'");
  DS->SetFiltered(true);
  EXPECT_EQ(DS->RecordCount(), 2);
  EXPECT_EQ(&A, &S.FoldedColumn(Col, true));
}

}  // namespace
