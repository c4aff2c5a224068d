// Unicode case handling of UTF-8 text through ICU, with an allocation-free path for ASCII text
// (the filter evaluator calls the comparisons once per row), and code-page conversion.
#include "Unicode.h"

#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/ucasemap.h>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>

#include "SysUtils.h"

namespace kv {

namespace {

bool IsAscii(std::string_view S) {
  for (char c : S)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

inline char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

int Sign(int v) {
  return v < 0 ? -1 : v > 0 ? 1 : 0;
}

int CompareSizes(size_t A, size_t B) {
  return A < B ? -1 : A > B ? 1 : 0;
}

int CompareBytes(std::string_view A, std::string_view B) {
  // UTF-8 byte order is code-point order.
  const size_t n = std::min(A.size(), B.size());
  const int c = n ? std::memcmp(A.data(), B.data(), n) : 0;
  if (c != 0) return Sign(c);
  return CompareSizes(A.size(), B.size());
}

int CompareAsciiNoCase(std::string_view A, std::string_view B) {
  const size_t n = std::min(A.size(), B.size());
  for (size_t i = 0; i < n; ++i) {
    const unsigned char a = static_cast<unsigned char>(LowerAscii(A[i]));
    const unsigned char b = static_cast<unsigned char>(LowerAscii(B[i]));
    if (a != b) return a < b ? -1 : 1;
  }
  return CompareSizes(A.size(), B.size());
}

struct TCaseMapCloser {
  void operator()(UCaseMap* m) const { ucasemap_close(m); }
};

// Spanish case mapping straight on UTF-8 (no UTF-16 round trip), one mapper per thread, into
// Out (whose storage is reused).
void CaseMapInto(std::string_view S, bool Upper, std::string& Out) {
  thread_local std::unique_ptr<UCaseMap, TCaseMapCloser> Map = [] {
    UErrorCode e = U_ZERO_ERROR;
    return std::unique_ptr<UCaseMap, TCaseMapCloser>(ucasemap_open("es", 0, &e));
  }();
  if (!Map) throw Exception("No se puede preparar el cambio de mayúsculas y minúsculas");
  auto Run = [&] {
    UErrorCode e = U_ZERO_ERROR;
    const int32_t n =
        Upper ? ucasemap_utf8ToUpper(Map.get(), Out.data(), static_cast<int32_t>(Out.size()),
                                     S.data(), static_cast<int32_t>(S.size()), &e)
              : ucasemap_utf8ToLower(Map.get(), Out.data(), static_cast<int32_t>(Out.size()),
                                     S.data(), static_cast<int32_t>(S.size()), &e);
    return std::make_pair(n, e);
  };
  Out.resize(S.size() + 8);
  auto [n, e] = Run();
  if (e == U_BUFFER_OVERFLOW_ERROR) {
    Out.resize(static_cast<size_t>(n));
    std::tie(n, e) = Run();
  }
  if (U_FAILURE(e)) throw Exception("No se puede cambiar mayúsculas y minúsculas del texto");
  Out.resize(static_cast<size_t>(n));
}

// The lower-case form AnsiLowerCase gives, into Out. Every comparison that ignores case compares
// these forms, byte for byte (code point order), as the SQL compares lower() of its texts: both
// ways of searching then find the same records.
void LowerInto(std::string_view S, std::string& Out) {
  if (IsAscii(S) || !IsValidUtf8(S)) {
    Out.assign(S.data(), S.size());
    for (char& c : Out) c = LowerAscii(c);
    return;
  }
  CaseMapInto(S, false, Out);
}

struct TConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using TConverter = std::unique_ptr<UConverter, TConverterCloser>;

// A converter per code page and thread, opened on first use.
UConverter* Converter(const char* CodePage) {
  thread_local std::map<std::string, TConverter> Cache;
  const std::string key = CodePage ? CodePage : "";
  auto it = Cache.find(key);
  if (it != Cache.end()) {
    ucnv_reset(it->second.get());
    return it->second.get();
  }
  UErrorCode err = U_ZERO_ERROR;
  TConverter c(ucnv_open(key.c_str(), &err));
  if (U_FAILURE(err) || !c || key.empty())
    throw EConvertError("Página de códigos desconocida: '" + key + "'");
  ucnv_setSubstChars(c.get(), "?", 1, &err);
  err = U_ZERO_ERROR;
  UConverter* raw = c.get();
  Cache.emplace(key, std::move(c));
  return raw;
}

}  // namespace

std::string AnsiLowerCase(std::string_view S) {
  // Text that is not UTF-8 keeps its bytes: only ASCII letters change.
  std::string R;
  LowerInto(S, R);
  return R;
}

std::string AnsiUpperCase(std::string_view S) {
  if (IsAscii(S) || !IsValidUtf8(S)) return UpperCase(S);
  std::string R;
  CaseMapInto(S, true, R);
  return R;
}

std::string FoldCase(std::string_view S) {
  if (IsAscii(S)) return LowerCase(S);
  icu::UnicodeString u =
      icu::UnicodeString::fromUTF8(icu::StringPiece(S.data(), static_cast<int32_t>(S.size())));
  u.foldCase(U_FOLD_CASE_DEFAULT);
  std::string r;
  u.toUTF8String(r);
  return r;
}

int AnsiCompareStr(std::string_view A, std::string_view B) {
  return CompareBytes(A, B);
}

int AnsiCompareText(std::string_view A, std::string_view B) {
  if (IsAscii(A) && IsAscii(B)) return CompareAsciiNoCase(A, B);
  thread_local std::string LA, LB;
  LowerInto(A, LA);
  LowerInto(B, LB);
  return CompareBytes(LA, LB);
}

bool AnsiSameText(std::string_view A, std::string_view B) {
  if (IsAscii(A) && IsAscii(B)) return A.size() == B.size() && CompareAsciiNoCase(A, B) == 0;
  thread_local std::string LA, LB;
  LowerInto(A, LA);
  LowerInto(B, LB);
  return LA == LB;
}

bool AnsiSameStr(std::string_view A, std::string_view B) {
  return A == B;
}

bool AnsiStartsWith(std::string_view A, std::string_view Prefix, bool IgnoreCase) {
  if (!IgnoreCase) return A.size() >= Prefix.size() && A.compare(0, Prefix.size(), Prefix) == 0;
  if (IsAscii(A) && IsAscii(Prefix)) {
    if (Prefix.size() > A.size()) return false;
    for (size_t i = 0; i < Prefix.size(); ++i)
      if (LowerAscii(A[i]) != LowerAscii(Prefix[i])) return false;
    return true;
  }
  thread_local std::string LA, LP;
  LowerInto(A, LA);
  LowerInto(Prefix, LP);
  return std::string_view(LA).starts_with(LP);
}

bool AnsiContains(std::string_view A, std::string_view Sub, bool IgnoreCase) {
  if (Sub.empty()) return true;
  if (!IgnoreCase) return A.find(Sub) != std::string_view::npos;
  thread_local std::string LS;
  LowerInto(Sub, LS);
  return ContainsLower(A, LS);
}

// The lower-case form of any text begins with the ASCII lower-case form of its leading ASCII
// bytes, whatever follows them (the Spanish mapping of ASCII letters depends on no context, and
// a text that is not UTF-8 only has its ASCII letters changed), and is longer than them when
// more follows (no character maps to nothing). So those bytes are compared as they come, and A
// is mapped only when they leave the answer open.
namespace {
// Walks A's leading ASCII bytes against Lower; returns where it stopped: at the end of the
// shorter text, at A's first non-ASCII byte, or where the two differ (Diff is then their order,
// else 0).
size_t AsciiLead(std::string_view A, std::string_view Lower, int& Diff) {
  Diff = 0;
  const size_t N = std::min(A.size(), Lower.size());
  for (size_t I = 0; I < N; ++I) {
    const unsigned char c = static_cast<unsigned char>(A[I]);
    if (c >= 0x80) return I;
    const unsigned char a = static_cast<unsigned char>(LowerAscii(static_cast<char>(c)));
    const unsigned char b = static_cast<unsigned char>(Lower[I]);
    if (a != b) {
      Diff = a < b ? -1 : 1;
      return I;
    }
  }
  return N;
}
}  // namespace

bool SameLowerText(std::string_view A, std::string_view Lower) {
  int Diff;
  const size_t I = AsciiLead(A, Lower, Diff);
  if (Diff) return false;
  if (I == std::min(A.size(), Lower.size())) return A.size() == Lower.size();
  thread_local std::string LA;
  LowerInto(A, LA);
  return LA == Lower;
}

int CompareLowerText(std::string_view A, std::string_view Lower) {
  int Diff;
  const size_t I = AsciiLead(A, Lower, Diff);
  if (Diff) return Diff;
  if (I == std::min(A.size(), Lower.size())) return CompareSizes(A.size(), Lower.size());
  thread_local std::string LA;
  LowerInto(A, LA);
  return CompareBytes(LA, Lower);
}

bool StartsWithLower(std::string_view A, std::string_view LowerPrefix) {
  int Diff;
  const size_t I = AsciiLead(A, LowerPrefix, Diff);
  if (Diff) return false;
  if (I == LowerPrefix.size()) return true;
  if (I == A.size()) return false;  // all ASCII and shorter than the prefix
  thread_local std::string LA;
  LowerInto(A, LA);
  return std::string_view(LA).starts_with(LowerPrefix);
}

bool ContainsLower(std::string_view A, std::string_view LowerSub) {
  if (LowerSub.empty()) return true;
  if (IsAscii(A)) {
    if (LowerSub.size() > A.size()) return false;
    const char First = LowerSub[0];
    for (size_t I = 0; I + LowerSub.size() <= A.size(); ++I) {
      if (LowerAscii(A[I]) != First) continue;
      size_t J = 1;
      while (J < LowerSub.size() && LowerAscii(A[I + J]) == LowerSub[J]) ++J;
      if (J == LowerSub.size()) return true;
    }
    return false;
  }
  thread_local std::string LA;
  LowerInto(A, LA);
  return LA.find(LowerSub) != std::string::npos;
}

// ---- accents

void AppendUtf8(char32_t C, std::string& Out) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

namespace {

constexpr char32_t kUnchanged = 0xFFFFFFFF;
// Below this code point the mapping is an array lookup (Latin, Greek, Cyrillic, their extended
// blocks and the combining marks); above it, a search of the table.
constexpr char32_t kDenseEnd = 0x2000;

struct TAccentIndex {
  std::vector<char32_t> Dense;  // To for each code point below kDenseEnd, kUnchanged if none
  TAccentIndex() : Dense(kDenseEnd, kUnchanged) {
    for (const TAccentMapping& M : AccentTable())
      if (M.From < kDenseEnd) Dense[M.From] = M.To;
  }
  // What C becomes: kUnchanged, 0 (dropped) or another code point.
  char32_t Map(char32_t C) const {
    if (C < kDenseEnd) return Dense[C];
    const auto& T = AccentTable();
    auto It = std::lower_bound(T.begin(), T.end(), C,
                               [](const TAccentMapping& M, char32_t V) { return M.From < V; });
    return It != T.end() && It->From == C ? It->To : kUnchanged;
  }
};

const TAccentIndex& AccentIndex() {
  static const TAccentIndex Index;
  return Index;
}

// StripAccents into Out (cleared first). The text is walked by code points once; a character
// the rule leaves alone is copied as its bytes.
void StripInto(std::string_view S, std::string& Out) {
  if (IsAscii(S) || !IsValidUtf8(S)) {
    Out.assign(S.data(), S.size());
    return;
  }
  const TAccentIndex& Index = AccentIndex();
  Out.clear();
  Out.reserve(S.size());
  char32_t Prev = 0;
  size_t I = 0;
  while (I < S.size()) {
    const unsigned char B = static_cast<unsigned char>(S[I]);
    if (B < 0x80) {
      Out += static_cast<char>(B);
      Prev = B;
      ++I;
      continue;
    }
    const int Len = B >= 0xF0 ? 4 : B >= 0xE0 ? 3 : 2;
    char32_t C = B & (Len == 2 ? 0x1F : Len == 3 ? 0x0F : 0x07);
    for (int K = 1; K < Len; ++K) C = (C << 6) | (static_cast<unsigned char>(S[I + K]) & 0x3F);
    if (C == 0x303 && (Prev == 'n' || Prev == 'N')) {
      // n followed by a combining tilde is the letter ñ, written apart.
      Out.back() = static_cast<char>(0xC3);
      Out += static_cast<char>(Prev == 'n' ? 0xB1 : 0x91);
    } else if (const char32_t To = Index.Map(C); To == kUnchanged) {
      Out.append(S.data() + I, static_cast<size_t>(Len));
    } else if (To != 0) {
      AppendUtf8(To, Out);
    }
    Prev = C;
    I += static_cast<size_t>(Len);
  }
}

}  // namespace

const std::vector<TAccentMapping>& AccentTable() {
  static const std::vector<TAccentMapping> Table = [] {
    std::vector<TAccentMapping> T;
    UErrorCode E = U_ZERO_ERROR;
    const icu::Normalizer2* Nfd = icu::Normalizer2::getNFDInstance(E);
    if (U_FAILURE(E) || !Nfd) throw Exception("No se puede preparar la tabla de acentos");
    for (UChar32 C = 0x80; C <= 0x10FFFF; ++C) {
      if (C >= 0xD800 && C <= 0xDFFF) continue;
      if (C == 0xF1 || C == 0xD1) continue;  // ñ, Ñ: letters of their own
      if (u_charType(C) == U_NON_SPACING_MARK) {
        T.push_back({static_cast<char32_t>(C), 0});
        continue;
      }
      icu::UnicodeString D;
      if (!Nfd->getDecomposition(C, D)) continue;
      // One base letter and combining marks becomes the letter; a decomposition without marks
      // (Hangul syllables, compatibility forms) or with two letters stays as it is.
      UChar32 Base = 0;
      int Letters = 0;
      bool Marks = false;
      for (int32_t I = 0; I < D.length();) {
        const UChar32 X = D.char32At(I);
        I += U16_LENGTH(X);
        if (u_charType(X) == U_NON_SPACING_MARK) {
          Marks = true;
        } else {
          Base = X;
          ++Letters;
        }
      }
      if (Marks && Letters <= 1)
        T.push_back({static_cast<char32_t>(C), static_cast<char32_t>(Base)});
    }
    return T;
  }();
  return Table;
}

std::string StripAccents(std::string_view S) {
  std::string R;
  StripInto(S, R);
  return R;
}

void FoldTextInto(std::string_view S, bool IgnoreCase, std::string& Out) {
  if (!IgnoreCase) return StripInto(S, Out);
  thread_local std::string Lowered;
  LowerInto(S, Lowered);
  StripInto(Lowered, Out);
}

std::string FoldText(std::string_view S, bool IgnoreCase) {
  std::string R;
  FoldTextInto(S, IgnoreCase, R);
  return R;
}

bool IsValidUtf8(std::string_view S) {
  const size_t n = S.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;  // continuation byte, overlong lead (C0, C1) or beyond U+10FFFF
    }
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(S[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

std::string ToUtf8(std::string_view Bytes, const char* CodePage) {
  UConverter* cnv = Converter(CodePage);
  std::u16string u(Bytes.size() * 2 + 1, u'\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t len =
      ucnv_toUChars(cnv, reinterpret_cast<UChar*>(u.data()), static_cast<int32_t>(u.size()),
                    Bytes.data(), static_cast<int32_t>(Bytes.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    u.resize(static_cast<size_t>(len) + 1);
    err = U_ZERO_ERROR;
    ucnv_reset(cnv);
    len = ucnv_toUChars(cnv, reinterpret_cast<UChar*>(u.data()), static_cast<int32_t>(u.size()),
                        Bytes.data(), static_cast<int32_t>(Bytes.size()), &err);
  }
  if (U_FAILURE(err))
    throw EConvertError(std::string("No se puede convertir el texto desde la página de códigos ") +
                        CodePage);
  u.resize(static_cast<size_t>(len));
  // Bytes the code page leaves undefined come back as U+FFFD: show them as '?'.
  std::replace(u.begin(), u.end(), u'\uFFFD', u'?');
  std::string r;
  icu::UnicodeString(false, reinterpret_cast<const UChar*>(u.data()), len).toUTF8String(r);
  return r;
}

std::string FromUtf8(std::string_view Utf8, const char* CodePage) {
  UConverter* cnv = Converter(CodePage);
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(
      icu::StringPiece(Utf8.data(), static_cast<int32_t>(Utf8.size())));
  std::string r(static_cast<size_t>(u.length()) * 4 + 1, '\0');
  UErrorCode err = U_ZERO_ERROR;
  int32_t len = ucnv_fromUChars(cnv, r.data(), static_cast<int32_t>(r.size()), u.getBuffer(),
                                u.length(), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    r.resize(static_cast<size_t>(len) + 1);
    err = U_ZERO_ERROR;
    ucnv_reset(cnv);
    len = ucnv_fromUChars(cnv, r.data(), static_cast<int32_t>(r.size()), u.getBuffer(), u.length(),
                          &err);
  }
  if (U_FAILURE(err))
    throw EConvertError(std::string("No se puede convertir el texto a la página de códigos ") +
                        CodePage);
  r.resize(static_cast<size_t>(len));
  return r;
}

}  // namespace kv
