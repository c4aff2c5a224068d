// Unicode-correct case handling of UTF-8 text (ICU): lower/upper case and
// case-insensitive comparison, the same for the filter and the SQL paths: texts compared
// ignoring case are compared as their lower-case forms, the ones the SQL lower() gives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Full Unicode lower/upper case ("ÁNGEL" -> "ángel").
std::string AnsiLowerCase(std::string_view S);
std::string AnsiUpperCase(std::string_view S);
// Case-folded form (ß -> ss), for matching names such as file names in any letter case.
std::string FoldCase(std::string_view S);
// Comparisons: <0, 0, >0, in code point order. The Text forms ignore letter case by comparing
// the AnsiLowerCase forms (so "ß" is not "ss", and a final sigma is not a medial one).
int AnsiCompareStr(std::string_view A, std::string_view B);
int AnsiCompareText(std::string_view A, std::string_view B);
bool AnsiSameText(std::string_view A, std::string_view B);
bool AnsiSameStr(std::string_view A, std::string_view B);
// Whether A starts with Prefix, ignoring case (lower-case forms) when IgnoreCase.
bool AnsiStartsWith(std::string_view A, std::string_view Prefix, bool IgnoreCase);
// Whether Sub occurs in A, ignoring case (lower-case forms) when IgnoreCase.
bool AnsiContains(std::string_view A, std::string_view Sub, bool IgnoreCase);
// The same tests against a text already in its AnsiLowerCase form (a constant lowered once, for
// a test repeated on many texts A): SameLowerText(A, AnsiLowerCase(B)) == AnsiSameText(A, B),
// CompareLowerText(A, AnsiLowerCase(B)) == AnsiCompareText(A, B), and so on. A is mapped only
// when its leading ASCII bytes do not already decide.
bool SameLowerText(std::string_view A, std::string_view Lower);
int CompareLowerText(std::string_view A, std::string_view Lower);
bool StartsWithLower(std::string_view A, std::string_view LowerPrefix);
bool ContainsLower(std::string_view A, std::string_view LowerSub);
// Accents: a letter with diacritics compares as its base letter (á à â ä ã å as a, ç as c, and
// so on in every script: a character whose canonical decomposition is one letter and combining
// marks becomes that letter, and a combining mark is dropped), except ñ and Ñ, which stay
// letters of their own, written precomposed or as n/N followed by U+0303. Every other character
// (ß, æ, ø, ligatures) stays as it is. Text that is not UTF-8 keeps its bytes.
std::string StripAccents(std::string_view S);
// The form texts are compared as when accents are ignored: StripAccents of the AnsiLowerCase
// form when IgnoreCase, else StripAccents. Into Out (its storage reused).
void FoldTextInto(std::string_view S, bool IgnoreCase, std::string& Out);
std::string FoldText(std::string_view S, bool IgnoreCase);
// One character StripAccents changes on its own: From becomes To (0: dropped). In code point
// order; the pair n/N + U+0303 (which becomes ñ/Ñ) is outside the table.
struct TAccentMapping {
  char32_t From;
  char32_t To;
};
const std::vector<TAccentMapping>& AccentTable();
// Appends the UTF-8 bytes of the code point C to Out.
void AppendUtf8(char32_t C, std::string& Out);
// Whether S is well-formed UTF-8.
bool IsValidUtf8(std::string_view S);
// Converts between UTF-8 and a single-byte code page ("CP1252", "CP850", "CP437", ...);
// unmappable characters become '?'. Raises EConvertError for an unknown code page.
std::string ToUtf8(std::string_view Bytes, const char* CodePage);
std::string FromUtf8(std::string_view Utf8, const char* CodePage);

}  // namespace kv
