// The corpus both database backends are held to: a table of every field type whose texts are the
// engine's Unicode case table, in an in-memory dataset (the table-file filter) and copied into a
// database table; the same filters, locates and lookups run on both and compared record by record,
// filtered and stepping either way.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "DBTables.h"
#include "Unicode.h"
#include "db/SqliteTestDb.h"

using namespace kv;

namespace equivalence {

const std::vector<std::string> kTexts = {
    "Straße", "STRASSE", "STRAẞE 5", "ﬁn", "FIN", "La ﬁnca", "ΟΔΟΣ", "οδοσ", "AΣ", "aς", "İSTANBUL",
    "i̇stanbul", "ISTANBUL", "ıstanbul", "ÁNGEL", "ángel", "ANGEL", "CAF\xC9", "caf\xC9", "café",
    "CAFÉ", "a\xFF", "Madrid", "madrid", "O'Brien", "MADRIDEJOS", "zeta", "Ma%d_rid", "", "Lima",
    // Accents: Spanish letters with and without case, ñ against n, combining against precomposed.
    "Gómez", "GÓMEZ", "Gomez", "Go\xCC\x81mez", "año", "AÑO", "ano", "an\xCC\x83o", "CAMIÓN",
    "camion", "Málaga", "ÇÀ VA", "Øre", "ǖber", "Ünïcödé"};

class TCorpus : public ::testing::Test {
 protected:
  TMemDataSet Mem;
  std::unique_ptr<TTable> Table;

  // A text as the database holds it (some databases cannot hold every byte string).
  virtual std::string Stored(const std::string& S) const { return S; }

  // Fills Mem with the corpus and copies it into DatabaseName's table "mixed".
  void CopyInto(const std::string& DatabaseName) {
    Mem.FieldDefs().Add("Id", ftInteger);
    Mem.FieldDefs().Add("T", ftString, 30);
    Mem.FieldDefs().Add("N", ftInteger);
    Mem.FieldDefs().Add("F", ftFloat);
    Mem.FieldDefs().Add("D", ftDate);
    Mem.FieldDefs().Add("W", ftDateTime);
    Mem.FieldDefs().Add("B", ftBoolean);
    Mem.FieldDefs().Add("M", ftCurrency);
    Mem.CreateDataSet();
    const Variant Null = Variant::Null();
    for (size_t I = 0; I < kTexts.size(); ++I) {
      const int K = static_cast<int>(I);
      Mem.AppendRecord({K + 1, Variant(Stored(kTexts[I])), K % 5 == 0 ? Null : Variant(K % 7),
                        K % 6 == 1 ? Null : Variant(K * 0.75),
                        Variant(EncodeDate(2024, 1, 1 + K % 9)),
                        Variant(TDateTime(EncodeDate(2023, 12, 30).Val + K * 0.3)),
                        K % 4 == 3 ? Null : Variant(K % 2 == 0), Variant::Currency(K * 10.25)});
    }
    Mem.SetPrimaryKey({"Id"});
    TTable Target;
    Target.SetDatabaseName(DatabaseName);
    Target.SetTableName("mixed");
    EXPECT_EQ(static_cast<int>(kTexts.size()), Target.BatchMove(&Mem, batCopy));
  }

  static std::vector<int> Filtered(TDataSet& DS, const std::string& Filter, TFilterOptions O) {
    DS.SetFiltered(false);
    DS.SetFilterOptions(O);
    DS.SetFilter(Filter);
    DS.SetFiltered(true);
    std::vector<int> Ids;
    for (DS.First(); !DS.Eof(); DS.Next()) Ids.push_back(DS.FieldByName("Id")->AsInteger());
    EXPECT_EQ(static_cast<int>(Ids.size()), DS.RecordCount());
    DS.SetFiltered(false);
    return Ids;
  }
  static std::vector<int> Stepped(TDataSet& DS, bool Forward) {
    std::vector<int> Ids;
    if (Forward)
      for (bool Ok = DS.FindFirst(); Ok; Ok = DS.FindNext())
        Ids.push_back(DS.FieldByName("Id")->AsInteger());
    else
      for (bool Ok = DS.FindLast(); Ok; Ok = DS.FindPrior())
        Ids.insert(Ids.begin(), DS.FieldByName("Id")->AsInteger());
    return Ids;
  }

  void Compare(const std::string& Filter, TFilterOptions O) {
    SCOPED_TRACE(Filter + " options " + std::to_string(O));
    const std::vector<int> Want = Filtered(Mem, Filter, O);
    EXPECT_EQ(Want, Filtered(*Table, Filter, O));
    EXPECT_EQ(Want, Stepped(*Table, true));
    EXPECT_EQ(Want, Stepped(*Table, false));
  }

  void TextComparisonsWithAndWithoutCase() {
    const std::vector<std::string> Constants = {
        "straße",   "STRASSE", "ﬁn",       "οδος",     "aσ",    "i̇stanbul",
        "istanbul", "ángel",   "caf\xC9",  "CAFÉ",     "A\xFF", "MADRID",
        "Z",        "ΟΔΟΣ*",   "STRA*",    "İ*",       "CAF*",  "ı*",
        "a\xFF*",   "*",       "O''Brien", "Ma%d_rid", "Ma%*",  "x'') or (''1''=''1"};
    for (const std::string& K : Constants)
      for (const char* Op : {"=", "<>", "<", ">=", ">", "<="})
        for (TFilterOptions O : {0u, unsigned(foCaseInsensitive), unsigned(foNoPartialCompare),
                                 unsigned(foCaseInsensitive | foNoPartialCompare)})
          Compare(std::string("T ") + Op + " '" + Stored(K) + "'", O);
  }

  void NumbersDatesBooleansNullsAndConnectors() {
    const char* Filters[] = {
        "N > 2",
        "N = '3'",
        "N <= 3.5",
        "F >= 2.25",
        "F < '7,5'",
        "3 < N",
        "N = NULL",
        "N <> NULL",
        "N > NULL",
        "T = NULL",
        "T <> ''",
        "T = ''",
        "D = '03/01/2024'",
        "D > '05/01/2024'",
        "W < '31/12/2023 12:00:00'",
        "W >= '01/01/2024'",
        "B = true",
        "B <> 'false'",
        "B = NULL",
        "M > '100,5'",
        "M = 51.25",
        "not N > 2",
        "not (T = 'Lima' or N = 1)",
        "N > 1 and not B = true",
        "(N = 1 or F > 12) and not T = 'zeta'",
        "N < F",
        "F > N and B = false",
        "[T] = 'Madrid'",
        "not (N = NULL)",
        "not T = ''",
    };
    for (const char* F : Filters)
      for (TFilterOptions O : {0u, unsigned(foCaseInsensitive)}) Compare(F, O);
  }

  void WrongFiltersRaiseTheSameMessages() {
    for (const char* F : {"Nope = 1", "N = 'abc'", "T = true", "N = T", "N >", "(N = 1"}) {
      std::string Want, Got;
      try {
        Mem.SetFilter(F);
      } catch (const EDatabaseError& E) {
        Want = E.Message();
      }
      try {
        Table->SetFilter(F);
      } catch (const EDatabaseError& E) {
        Got = E.Message();
      }
      EXPECT_FALSE(Want.empty()) << F;
      EXPECT_EQ(Want, Got) << F;
      EXPECT_EQ("", Table->Filter()) << "a wrong filter leaves the previous one";
    }
  }

  void LocateAndLookupFindTheSameRecord() {
    const struct {
      const char* Fields;
      Variant Values;
      TLocateOptions Options;
    } Cases[] = {
        {"T", Variant("madrid"), 0},
        {"T", Variant("madrid"), loCaseInsensitive},
        {"T", Variant("MAD"), loPartialKey | loCaseInsensitive},
        {"T", Variant("ﬁ"), loPartialKey},
        {"T", Variant("STRASSE"), loCaseInsensitive},
        {"T", Variant(""), 0},
        {"N", Variant(3), 0},
        {"N", Variant("4"), 0},
        {"N", Variant::Null(), 0},
        {"F", Variant(7.5), 0},
        {"D", Variant(EncodeDate(2024, 1, 4)), 0},
        {"B", Variant(true), 0},
    };
    for (const auto& C : Cases) {
      SCOPED_TRACE(C.Fields + std::string(" ") + C.Values.AsString());
      const bool Found = Mem.Locate(C.Fields, C.Values, C.Options);
      EXPECT_EQ(Found, Table->Locate(C.Fields, C.Values, C.Options));
      if (Found) {
        EXPECT_EQ(Mem.RecNo(), Table->RecNo());
      }
      EXPECT_EQ(Mem.Lookup(C.Fields, C.Values, "Id").AsString(),
                Table->Lookup(C.Fields, C.Values, "Id").AsString());
    }
    Variant Two = VarArrayCreate(0, 1);
    Two[0] = 2;
    Two[1] = std::string("madrid");
    EXPECT_TRUE(Table->Locate("N;T", Two, loCaseInsensitive));
    EXPECT_EQ("madrid", Table->FieldByName("T")->AsString());
    const Variant Both = Table->Lookup("Id", 24, "T;N");
    EXPECT_EQ("madrid", Both[0].AsString());
    EXPECT_EQ(2, Both[1].AsInteger());
    EXPECT_THROW(Table->Locate("N", std::string("abc"), 0), EDatabaseError);
    EXPECT_THROW(Table->Locate("N;T", 1, 0), EDatabaseError);
  }

  // Ignoring accents, the filter, stepping, Locate and the local SQL's unaccent() find on the
  // database the records they find over table files.
  void AccentsIgnored(const std::function<std::vector<std::string>(const std::string&)>& Column) {
    const std::vector<std::string> Constants = {
        "gomez",   "GOMEZ",    "Gómez", "go\xCC\x81mez", "año", "ano",   "AN\xCC\x83O", "camion",
        "MALAGA*", "malag*",   "go*",   "añ*",           "an*", "angel", "cafe",        "strasse",
        "ΟΔΟΣ",    "istanbul", "i*",    "ca va",         "ore", "uber",  "unicode",     "Z"};
    for (const std::string& K : Constants)
      for (const char* Op : {"=", "<>", "<", ">="})
        for (TFilterOptions O :
             {unsigned(foAccentInsensitive), unsigned(foAccentInsensitive | foCaseInsensitive),
              unsigned(foAccentInsensitive | foCaseInsensitive | foNoPartialCompare)})
          Compare(std::string("T ") + Op + " '" + Stored(K) + "'", O);
    Compare("T = T", foAccentInsensitive);
    for (TLocateOptions O :
         {unsigned(loAccentInsensitive), unsigned(loAccentInsensitive | loCaseInsensitive),
          unsigned(loAccentInsensitive | loCaseInsensitive | loPartialKey)})
      for (const char* K : {"gomez", "ANO", "año", "camion", "malaga", "ang", "zzz"}) {
        SCOPED_TRACE(std::string(K) + " options " + std::to_string(O));
        const bool Found = Mem.Locate("T", Variant(std::string(K)), O);
        EXPECT_EQ(Found, Table->Locate("T", Variant(std::string(K)), O));
        if (Found) {
          EXPECT_EQ(Mem.RecNo(), Table->RecNo());
        }
      }
    // The database's unaccent() gives our folded texts, with and without lower().
    std::vector<std::string> Folded, FoldedLower;
    for (const std::string& T : kTexts) {
      Folded.push_back(FoldText(Stored(T), false));
      FoldedLower.push_back(FoldText(Stored(T), true));
    }
    EXPECT_EQ(Folded, Column("unaccent(T)"));
    EXPECT_EQ(FoldedLower, Column("unaccent(lower(T))"));
  }

  // Records 3 and 4 hold an empty text written by someone else: it reads as empty, as in files.
  void EmptyTextsAreEmptyValues() {
    for (const char* F : {"T = ''", "T = NULL", "T <> ''", "T < 'b'", "T <= 'b'", "T <> 'x'"}) {
      const std::vector<int> Ids = Filtered(*Table, F, 0);
      const bool Empty = std::string(F) == "T = ''" || std::string(F) == "T = NULL";
      for (int Id : {3, 4})
        EXPECT_EQ(Empty, std::find(Ids.begin(), Ids.end(), Id) != Ids.end()) << F << " " << Id;
    }
    ASSERT_TRUE(Table->Locate("T", Variant::Null(), 0));
    EXPECT_EQ(3, Table->FieldByName("Id")->AsInteger());
    EXPECT_TRUE(Table->FieldByName("T")->IsNull());
  }
};

}  // namespace equivalence
