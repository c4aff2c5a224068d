// Unicode case handling, UTF-8 validation, code-page conversion and string lists.
#include "Unicode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "Classes.h"
#include "SysUtils.h"

using namespace kv;

namespace {

TEST(UnicodeCase, LowerUpperAndFold) {
  EXPECT_EQ(AnsiLowerCase("ÁNGEL Ñandú"), "ángel ñandú");
  EXPECT_EQ(AnsiUpperCase("ángel ñandú"), "ÁNGEL ÑANDÚ");
  EXPECT_EQ(AnsiLowerCase("ABC"), "abc");
  EXPECT_EQ(FoldCase("Straße"), "strasse");
  EXPECT_EQ(FoldCase("ÇÜ"), FoldCase("çü"));
  // Text that is not UTF-8 keeps its bytes; only ASCII letters change case.
  EXPECT_EQ(AnsiLowerCase("CAF\xC9"), "caf\xC9");
  EXPECT_EQ(AnsiUpperCase("caf\xE9 \xC3\xB1"), "CAF\xE9 \xC3\xB1");
}

TEST(UnicodeCase, ComparisonsIgnoringCase) {
  const struct {
    const char* A;
    const char* B;
    int Text;  // AnsiCompareText sign
    int Str;   // AnsiCompareStr sign
  } Cases[] = {
      {"ÁNGEL", "ángel", 0, -1},
      {"angel", "ÁNGEL", -1, -1},
      {"abc", "ABC", 0, 1},
      {"abc", "abd", -1, -1},
      {"ab", "abc", -1, -1},
      {"", "", 0, 0},
      {"Ñu", "ñU", 0, -1},
      {"zeta", "Ñu", -1, -1},                        // code-point order: accented letters
                                                     // after z
      {"STRASSE", "straße", -1, -1},                 // lower-case forms: "strasse" before "straße"
      {"\xEF\xBC\xA1", "\xF0\x90\x90\x80", -1, -1},  // U+FF21 before U+10400
      {"a\xEF\xBC\xA1", "A\xF0\x90\x90\xA8", -1, 1},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(AnsiCompareText(C.A, C.B), C.Text) << C.A << " / " << C.B;
    EXPECT_EQ(AnsiCompareText(C.B, C.A), -C.Text) << C.B << " / " << C.A;
    EXPECT_EQ(AnsiSameText(C.A, C.B), C.Text == 0) << C.A << " / " << C.B;
    EXPECT_EQ(AnsiCompareStr(C.A, C.B), C.Str) << C.A << " / " << C.B;
    EXPECT_EQ(AnsiSameStr(C.A, C.B), C.Str == 0) << C.A << " / " << C.B;
  }
}

// Ignoring case means comparing the lower-case forms the SQL lower() gives, so that a search
// finds the same records as a dataset filter and as SQL: no folding of ß or ligatures, a final
// sigma only at the end of a word, the dotted capital I keeping its dot.
TEST(UnicodeCase, IgnoringCaseComparesLowerCaseForms) {
  const struct {
    const char* A;
    const char* B;
    int Text;
  } Cases[] = {
      {"Straße", "STRASSE", 1},
      {"STRAẞE", "straße", 0},  // capital sharp s lowers to ß
      {"ﬁn", "FIN", 1},         // the ligature stays one character
      {"ﬁn", "ﬁn", 0},
      {"ΟΔΟΣ", "οδος", 0},  // final sigma at the end of the word
      {"ΟΔΟΣ", "οδοσ", -1},
      {"ΣΟΦΙΑ", "σοφια", 0},  // medial sigma at its start
      {"İSTANBUL", "i̇stanbul", 0},
      {"İSTANBUL", "istanbul", 1},
      {"ISTANBUL", "ıstanbul", -1},
      {"ÁNGEL ÉCIJA", "ángel écija", 0},
      {"ÑANDÚ", "ñandu", 1},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.A) + " / " + C.B);
    EXPECT_EQ(AnsiCompareText(C.A, C.B), C.Text);
    EXPECT_EQ(AnsiCompareText(C.B, C.A), -C.Text);
    EXPECT_EQ(AnsiSameText(C.A, C.B), C.Text == 0);
    EXPECT_EQ(AnsiSameText(C.A, C.B), AnsiLowerCase(C.A) == AnsiLowerCase(C.B));
  }
  EXPECT_FALSE(AnsiStartsWith("STRASSE 5", "straß", true));
  EXPECT_TRUE(AnsiStartsWith("STRAẞE 5", "straß", true));
  EXPECT_FALSE(AnsiContains("Oficina", "ﬁ", true));
  EXPECT_TRUE(AnsiContains("La ﬁnca", "ﬁn", true));
  // A sigma that ends the prefix is a final one, as in the lower-case form of the prefix.
  EXPECT_FALSE(AnsiStartsWith("ΟΔΟΣΑ", "ΟΔΟΣ", true));
  EXPECT_TRUE(AnsiStartsWith("ΟΔΟΣ ΑΒ", "ΟΔΟΣ", true));
}

TEST(UnicodeCase, StartsWithAndContains) {
  const struct {
    const char* Text;
    const char* Part;
    bool Starts, StartsCase, Contains, ContainsCase;
  } Cases[] = {
      {"Compañía Ñandú", "ÑANDÚ", false, false, true, false},
      {"Compañía Ñandú", "Ñandú", false, false, true, true},
      {"Compañía Ñandú", "COMPAÑ", true, false, true, false},
      {"Compañía", "Compañ", true, true, true, true},
      {"Madrid", "MAD", true, false, true, false},
      {"Madrid", "Mad", true, true, true, true},
      {"Madrid", "RID", false, false, true, false},
      {"Madrid", "Madrid2", false, false, false, false},
      {"Madrid", "", true, true, true, true},
      {"", "a", false, false, false, false},
      {"ángel", "ÁN", true, false, true, false},
      {"xyz", "ñ", false, false, false, false},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(AnsiStartsWith(C.Text, C.Part, true), C.Starts) << C.Text << " / " << C.Part;
    EXPECT_EQ(AnsiStartsWith(C.Text, C.Part, false), C.StartsCase) << C.Text << " / " << C.Part;
    EXPECT_EQ(AnsiContains(C.Text, C.Part, true), C.Contains) << C.Text << " / " << C.Part;
    EXPECT_EQ(AnsiContains(C.Text, C.Part, false), C.ContainsCase) << C.Text << " / " << C.Part;
  }
}

// Texts whose lower-case forms are easy to get wrong, with ASCII before, after and between the
// hard characters (the comparisons with a lowered constant decide on leading ASCII alone).
const char* const TrickyTexts[] = {
    "",
    "a",
    "A",
    "ab",
    "AB",
    "abc",
    "ABD",
    "Straße",
    "STRASSE",
    "STRAẞE",
    "straß",
    "STRA",
    "ﬁn",
    "FIN",
    "FI",
    "La ﬁnca",
    "ΟΔΟΣ",
    "οδος",
    "οδοσ",
    "ΟΔΟΣΑ",
    "AΣ",
    "aς",
    "aσ",
    "ΣΟΦΙΑ",
    "İSTANBUL",
    "i̇stanbul",
    "ISTANBUL",
    "ıstanbul",
    "I",
    "i",
    "İ",
    "ÁNGEL",
    "ángel",
    "ANGEL",
    "Ñandú",
    "ÑANDÚ",
    "ñandu",
    "CAF\xC9",
    "caf\xC9",
    "caf\xE9",
    "CAFÉ",
    "café",
    "\xC3",
    "A\xC3",
    "a\xFF",
    "zeta",
    "\xEF\xBC\xA1",
    "a\xEF\xBC\xA1",
    "A\xF0\x90\x90\xA8",
};

int Order(const std::string& A, const std::string& B) {
  const int C = A.compare(B);
  return C < 0 ? -1 : C > 0 ? 1 : 0;
}

// Every comparison against a lowered constant gives what comparing both lower-case forms gives,
// and what the two-text comparisons give, for every pair of tricky texts.
TEST(UnicodeCase, LoweredConstantComparisonsAgreeWithFullMapping) {
  for (const char* A : TrickyTexts) {
    const std::string LA = AnsiLowerCase(A);
    for (const char* B : TrickyTexts) {
      SCOPED_TRACE(std::string(A) + " / " + B);
      const std::string LB = AnsiLowerCase(B);
      EXPECT_EQ(SameLowerText(A, LB), LA == LB);
      EXPECT_EQ(SameLowerText(A, LB), AnsiSameText(A, B));
      EXPECT_EQ(CompareLowerText(A, LB), Order(LA, LB));
      EXPECT_EQ(CompareLowerText(A, LB), AnsiCompareText(A, B));
      EXPECT_EQ(StartsWithLower(A, LB), LA.starts_with(LB));
      EXPECT_EQ(StartsWithLower(A, LB), AnsiStartsWith(A, B, true));
      EXPECT_EQ(ContainsLower(A, LB), LA.find(LB) != std::string::npos);
      EXPECT_EQ(ContainsLower(A, LB), AnsiContains(A, B, true));
    }
  }
}

TEST(Utf8, DetectsMalformedText) {
  const struct {
    std::string Bytes;
    bool Valid;
  } Cases[] = {
      {"", true},
      {"plain", true},
      {"ñandú €", true},
      {"\xF0\x9F\x98\x80", true},   // U+1F600
      {"\xC3", false},              // truncated
      {"\xA9", false},              // lone continuation byte
      {"\xC0\xAF", false},          // overlong '/'
      {"\xE0\x80\xAF", false},      // overlong, three bytes
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"caf\xE9", false},           // Latin-1 byte
  };
  for (const auto& C : Cases) EXPECT_EQ(IsValidUtf8(C.Bytes), C.Valid) << C.Bytes;
  // Malformed text still compares without failing.
  EXPECT_TRUE(AnsiSameText("caf\xE9", "CAF\xE9"));
}

TEST(CodePages, RoundTripAccents) {
  const std::string Text = "Compañía Ñandú: ÁÉÍÓÚ áéíóú ü ç €";
  const std::string Cp1252 = FromUtf8(Text, "CP1252");
  EXPECT_EQ(Cp1252.size(), 33u);                               // one byte per character
  EXPECT_EQ(static_cast<unsigned char>(Cp1252[5]), 0xF1);      // ñ
  EXPECT_EQ(static_cast<unsigned char>(Cp1252.back()), 0x80);  // €
  EXPECT_EQ(ToUtf8(Cp1252, "CP1252"), Text);
  const std::string Dos = "Ñandú ü ç";
  EXPECT_EQ(ToUtf8(FromUtf8(Dos, "CP850"), "CP850"), Dos);
  EXPECT_EQ(static_cast<unsigned char>(FromUtf8("Ñ", "CP437")[0]), 0xA5);
  // Characters the code page lacks become '?'.
  EXPECT_EQ(FromUtf8("a€b", "CP850"), "a?b");
  EXPECT_EQ(FromUtf8("日本", "CP1252"), "??");
  EXPECT_THROW(FromUtf8("x", "NO-SUCH-PAGE"), EConvertError);
  EXPECT_THROW(ToUtf8("x", "NO-SUCH-PAGE"), EConvertError);
}

TEST(StringList, IndexOfAndText) {
  TStringList L;
  L.Add("Nombre");
  L.Add("ÁNGEL");
  L.Add("ciudad");
  EXPECT_EQ(L.IndexOf("NOMBRE"), 0);
  EXPECT_EQ(L.IndexOf("ángel"), 1);
  EXPECT_EQ(L.IndexOf("pais"), -1);
  EXPECT_EQ(L.Text(), "Nombre\nÁNGEL\nciudad\n");

  const struct {
    const char* Text;
    std::vector<std::string> Lines;
  } Cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"\n", {""}},
  };
  for (const auto& C : Cases) {
    L.SetText(C.Text);
    EXPECT_EQ(L.Items(), C.Lines) << C.Text;
  }
  L.SetDelimitedText("a;b;;c", ';');
  EXPECT_EQ(L.Items(), (std::vector<std::string>{"a", "b", "", "c"}));
  L.SetDelimitedText("", ';');
  EXPECT_EQ(L.Count(), 0);
}

TEST(Accents, SpanishLettersFoldToTheirBaseButÑStays) {
  EXPECT_EQ(StripAccents("áàâäãå éèêë íìîï óòôöõ úùûü ç"), "aaaaaa eeee iiii ooooo uuuu c");
  EXPECT_EQ(StripAccents("ÁÀÂÄÃÅ ÉÈÊË ÍÌÎÏ ÓÒÔÖÕ ÚÙÛÜ Ç"), "AAAAAA EEEE IIII OOOOO UUUU C");
  EXPECT_EQ(StripAccents("año AÑO"), "año AÑO");
  EXPECT_NE(FoldText("año", true), FoldText("ano", true));
  // Combined with case: "gomez" finds "GÓMEZ", "camion" finds "CAMIÓN".
  EXPECT_EQ(FoldText("GÓMEZ", true), "gomez");
  EXPECT_EQ(FoldText("CAMIÓN Málaga", true), "camion malaga");
  EXPECT_EQ(FoldText("CAMIÓN", false), "CAMION");
  EXPECT_EQ(FoldText("ASCII only", true), "ascii only");
}

TEST(Accents, CombiningMarksMeetPrecomposedLetters) {
  // a + U+0301 is á; n + U+0303 is ñ and stays; a lone combining mark is dropped.
  EXPECT_EQ(StripAccents("Ga\xCC\x81mez"), "Gamez");
  EXPECT_EQ(StripAccents("an\xCC\x83o"), "año");
  EXPECT_EQ(StripAccents("AN\xCC\x83O"), "AÑO");
  EXPECT_EQ(StripAccents("\xCC\x81x"), "x");
  EXPECT_EQ(FoldText("E\xCC\x81L", true), FoldText("él", true));
  // Other scripts decompose alike; ß, æ, ø and ligatures are left to the case mapping.
  EXPECT_EQ(StripAccents("ά ǖ Ångström"), "α u Angstrom");
  EXPECT_EQ(StripAccents("ß æ ø ﬁ Łódź"), "ß æ ø ﬁ Łodz");
  EXPECT_EQ(FoldText("STRAẞE ÆØ", true), AnsiLowerCase("STRAẞE ÆØ"));
  // Text that is not UTF-8 keeps its bytes.
  EXPECT_EQ(StripAccents("\xE1rbol"), "\xE1rbol");
  EXPECT_EQ(FoldText("\xC1RBOL", true), "\xC1rbol");
}

TEST(Accents, TableMapsSingleCharactersInOrder) {
  const auto& T = AccentTable();
  ASSERT_FALSE(T.empty());
  for (size_t I = 1; I < T.size(); ++I) EXPECT_LT(T[I - 1].From, T[I].From);
  auto Find = [&](char32_t C) {
    auto It =
        std::find_if(T.begin(), T.end(), [&](const TAccentMapping& M) { return M.From == C; });
    return It == T.end() ? char32_t(0xFFFFFFFF) : It->To;
  };
  EXPECT_EQ(Find(U'é'), U'e');
  EXPECT_EQ(Find(U'Ç'), U'C');
  EXPECT_EQ(Find(0x0301), char32_t(0));
  EXPECT_EQ(Find(U'ñ'), char32_t(0xFFFFFFFF));
  EXPECT_EQ(Find(U'ß'), char32_t(0xFFFFFFFF));
  EXPECT_EQ(Find(0xAC00), char32_t(0xFFFFFFFF));  // a Hangul syllable is no letter and accent
}

}  // namespace
