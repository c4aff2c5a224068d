// The process locale and the locale-dependent conversions between text, numbers and dates,
// plus the small string and file-name helpers the layers share.
#include "SysUtils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <vector>

namespace kv {

namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
char ToLowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string_view TrimView(std::string_view S) {
  size_t b = 0, e = S.size();
  while (b < e && IsBlank(S[b])) ++b;
  while (e > b && IsBlank(S[e - 1])) --e;
  return S.substr(b, e - b);
}

std::string Quoted(std::string_view S) {
  return "'" + std::string(S) + "'";
}

// ---------------------------------------------------------------------------------------------
// Decimal digits of a double: Digits holds the significant digits (no leading zeros, or empty
// for zero) and the value is 0.Digits * 10^Exp.

struct TDecimal {
  std::string Digits;
  int Exp = 0;
  bool Negative = false;
};

// The value with 15 significant digits, trailing zeros removed.
TDecimal ToDecimal(double Value) {
  TDecimal d;
  d.Negative = std::signbit(Value) && Value != 0;
  const double a = std::fabs(Value);
  if (a == 0) return d;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", a);
  // buf: D.DDDDDDDDDDDDDDe[+-]XX
  const char* p = buf;
  for (; *p && *p != 'e'; ++p)
    if (IsDigit(*p)) d.Digits.push_back(*p);
  const int e = std::atoi(p + 1);
  d.Exp = e + 1;
  while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
  return d;
}

// Rounds half away from zero so that Keep digits remain (Keep counted from the first digit of
// the value; may be <= 0, in which case the value becomes 0 or one unit at that position).
void RoundDigits(TDecimal& d, int Keep) {
  if (static_cast<int>(d.Digits.size()) <= Keep) return;
  if (Keep < 0) {
    d.Digits.clear();
    d.Exp = 0;
    return;
  }
  const bool up = d.Digits[Keep] >= '5';
  d.Digits.resize(Keep);
  if (up) {
    int i = Keep - 1;
    while (i >= 0 && d.Digits[i] == '9') {
      d.Digits[i] = '0';
      --i;
    }
    if (i >= 0) {
      ++d.Digits[i];
    } else {
      d.Digits.insert(d.Digits.begin(), '1');
      ++d.Exp;
    }
  }
  while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
  if (d.Digits.empty()) d.Exp = 0;
}

// Rounds to Decimals digits after the point.
void RoundFixed(TDecimal& d, int Decimals) {
  if (d.Digits.empty()) return;
  RoundDigits(d, d.Exp + Decimals);
}

// Integer part digits ("" for zero) and fraction digits (exactly Decimals long).
void FixedParts(const TDecimal& d, int Decimals, std::string& Int, std::string& Frac) {
  Int.clear();
  Frac.clear();
  const int n = static_cast<int>(d.Digits.size());
  for (int i = 0; i < d.Exp; ++i) Int.push_back(i < n ? d.Digits[i] : '0');
  for (int i = 0; i < Decimals; ++i) {
    const int idx = d.Exp + i;
    Frac.push_back(idx >= 0 && idx < n ? d.Digits[idx] : '0');
  }
}

std::string GroupThousands(const std::string& Int, char Sep) {
  std::string r;
  const int n = static_cast<int>(Int.size());
  for (int i = 0; i < n; ++i) {
    r.push_back(Int[i]);
    const int left = n - 1 - i;
    if (left > 0 && left % 3 == 0) r.push_back(Sep);
  }
  return r;
}

// ---------------------------------------------------------------------------------------------
// Integer reading shared by Val and StrToInt.

// Reads S as a whole number within [Min, Max] (hex with '$' or 0x). Returns 0 in Code on
// success, else the 1-based position of the first character that could not be read.
int64_t ReadInteger(std::string_view S, int64_t Min, uint64_t MaxMagnitudeHex, int& Code) {
  size_t i = 0;
  const size_t n = S.size();
  while (i < n && S[i] == ' ') ++i;
  bool neg = false;
  if (i < n && (S[i] == '+' || S[i] == '-')) {
    neg = S[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && S[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < n && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  const uint64_t limit =
      hex ? MaxMagnitudeHex
          : (neg ? static_cast<uint64_t>(-(Min + 1)) + 1 : static_cast<uint64_t>(-(Min + 1)));
  uint64_t v = 0;
  const size_t start = i;
  for (; i < n; ++i) {
    const char c = S[i];
    int digit;
    if (IsDigit(c))
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      break;
    const uint64_t base = hex ? 16 : 10;
    if (v > (limit - digit) / base) {
      Code = static_cast<int>(i) + 1;
      return 0;
    }
    v = v * base + digit;
  }
  if (i == start || i < n) {
    Code = static_cast<int>(i) + 1;
    return 0;
  }
  Code = 0;
  if (hex) {
    // Hex texts denote bit patterns: $FFFFFFFF reads as -1 in the 32-bit range.
    int64_t r = MaxMagnitudeHex == 0xFFFFFFFFull ? static_cast<int32_t>(static_cast<uint32_t>(v))
                                                 : static_cast<int64_t>(v);
    return neg ? -r : r;
  }
  return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

// ---------------------------------------------------------------------------------------------
// Date and time reading.

struct TScanner {
  std::string_view S;
  size_t P = 0;
  void SkipBlanks() {
    while (P < S.size() && S[P] == ' ') ++P;
  }
  bool AtEnd() const { return P >= S.size(); }
  // Reads up to MaxDigits digits; Len receives how many.
  bool Number(int& V, int& Len, int MaxDigits = 9) {
    Len = 0;
    V = 0;
    while (P < S.size() && IsDigit(S[P]) && Len < MaxDigits) {
      V = V * 10 + (S[P] - '0');
      ++P;
      ++Len;
    }
    return Len > 0;
  }
  bool Char(char c) {
    if (P < S.size() && S[P] == c) {
      ++P;
      return true;
    }
    return false;
  }
};

// The order of day, month and year in a short date pattern: 'D', 'M', 'Y' in sequence.
std::string DateOrder(const std::string& Pattern) {
  std::string order;
  bool quote = false;
  char q = 0;
  for (char c : Pattern) {
    if (quote) {
      if (c == q) quote = false;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = true;
      q = c;
      continue;
    }
    const char l = ToLowerAscii(c);
    const char u = l == 'd' ? 'D' : l == 'm' ? 'M' : l == 'y' ? 'Y' : 0;
    if (u && order.find(u) == std::string::npos) order.push_back(u);
  }
  if (order.size() != 3) order = "DMY";
  return order;
}

int CurrentYear() {
  int y, m, d;
  DecodeDate(Date(), y, m, d);
  return y;
}

// Two-digit years fall in the 100 years around today: from 50 years back to 49 ahead.
int ExpandYear(int Year) {
  const int base = CurrentYear() - 50;
  int y = Year + base / 100 * 100;
  if (y < base) y += 100;
  return y;
}

bool IsDateSep(char c, const TFormatSettings& FS) {
  return c == FS.DateSeparator || c == '-';
}

bool ScanDate(TScanner& sc, const TFormatSettings& FS, TDateTime& Result) {
  sc.SkipBlanks();
  int v[3], len[3];
  int count = 0;
  while (count < 3) {
    if (!sc.Number(v[count], len[count])) return false;
    ++count;
    if (count == 3) break;
    if (sc.AtEnd() || !IsDateSep(sc.S[sc.P], FS)) break;
    ++sc.P;
  }
  if (count < 2) return false;
  const std::string order = DateOrder(FS.ShortDateFormat);
  int y = 0, m = 0, d = 0, ylen = 4;
  if (count == 3 && len[0] == 4 && order[0] != 'Y') {
    // A four-digit first number can only be a year: read year-month-day (ISO order).
    y = v[0];
    m = v[1];
    d = v[2];
  } else if (count == 3) {
    for (int i = 0; i < 3; ++i) {
      if (order[i] == 'D') d = v[i];
      if (order[i] == 'M') m = v[i];
      if (order[i] == 'Y') {
        y = v[i];
        ylen = len[i];
      }
    }
  } else {
    // Day and month only: the current year.
    y = CurrentYear();
    const size_t dpos = order.find('D'), mpos = order.find('M');
    if (dpos < mpos) {
      d = v[0];
      m = v[1];
    } else {
      m = v[0];
      d = v[1];
    }
  }
  if (ylen <= 2) y = ExpandYear(y);
  return TryEncodeDate(y, m, d, Result);
}

bool ScanTime(TScanner& sc, const TFormatSettings& FS, TDateTime& Result) {
  sc.SkipBlanks();
  int h = 0, n = 0, s = 0, ms = 0, len;
  if (!sc.Number(h, len, 2)) return false;
  bool haveMinutes = false;
  if (sc.Char(FS.TimeSeparator) || sc.Char(':')) {
    if (!sc.Number(n, len, 2)) return false;
    haveMinutes = true;
    if (sc.Char(FS.TimeSeparator) || sc.Char(':')) {
      if (!sc.Number(s, len, 2)) return false;
      if (sc.Char('.') || sc.Char(FS.DecimalSeparator)) {
        if (!sc.Number(ms, len, 3)) return false;
        for (; len < 3; ++len) ms *= 10;
      }
    }
  }
  sc.SkipBlanks();
  bool ampm = false, pm = false;
  if (sc.P + 1 < sc.S.size()) {
    const char a = ToLowerAscii(sc.S[sc.P]);
    const char b = ToLowerAscii(sc.S[sc.P + 1]);
    if ((a == 'a' || a == 'p') && b == 'm') {
      ampm = true;
      pm = a == 'p';
      sc.P += 2;
    }
  }
  if (!haveMinutes && !ampm) return false;
  if (ampm) {
    if (h < 1 || h > 12) return false;
    if (h == 12) h = 0;
    if (pm) h += 12;
  }
  return TryEncodeTime(h, n, s, ms, Result);
}

// ---------------------------------------------------------------------------------------------
// Date formatting.

void AppendNumber(std::string& Out, int V, int Width) {
  std::string s = std::to_string(V);
  while (static_cast<int>(s.size()) < Width) s.insert(s.begin(), '0');
  Out += s;
}

// Day of the week, 0 = Sunday.
int DayOfWeek(TDateTime D) {
  const int64_t days = static_cast<int64_t>(DateOf(D).Val);
  // 1899-12-30 was a Saturday.
  return static_cast<int>(((days + 6) % 7 + 7) % 7);
}

bool StartsNoCase(std::string_view S, size_t P, std::string_view W) {
  if (P + W.size() > S.size()) return false;
  for (size_t i = 0; i < W.size(); ++i)
    if (ToLowerAscii(S[P + i]) != W[i]) return false;
  return true;
}

// Whether the pattern asks for a 12-hour clock (an am/pm or a/p marker outside literals).
bool HasAmPm(std::string_view F) {
  char q = 0;
  for (size_t i = 0; i < F.size(); ++i) {
    if (q) {
      if (F[i] == q) q = 0;
      continue;
    }
    if (F[i] == '\'' || F[i] == '"') {
      q = F[i];
      continue;
    }
    if (StartsNoCase(F, i, "am/pm") || StartsNoCase(F, i, "a/p")) return true;
  }
  return false;
}

void FormatDate(std::string& Out, std::string_view F, TDateTime D, const TFormatSettings& FS,
                int Depth) {
  if (Depth > 3) return;
  int year, month, day, hour, minute, sec, msec;
  DecodeDate(D, year, month, day);
  DecodeTime(D, hour, minute, sec, msec);
  const bool twelve = HasAmPm(F);
  bool afterHour = false;
  size_t i = 0;
  const size_t n = F.size();
  while (i < n) {
    const char c = F[i];
    const char l = ToLowerAscii(c);
    size_t run = 1;
    while (i + run < n && ToLowerAscii(F[i + run]) == l) ++run;
    switch (l) {
      case '\'':
      case '"': {
        size_t j = i + 1;
        while (j < n && F[j] != c) ++j;
        Out.append(F.substr(i + 1, j - i - 1));
        i = j < n ? j + 1 : n;
        continue;
      }
      case 'd':
        if (run == 1 || run == 2)
          AppendNumber(Out, day, static_cast<int>(run));
        else if (run == 3)
          Out += FS.ShortDayNames[DayOfWeek(D)];
        else if (run == 4)
          Out += FS.LongDayNames[DayOfWeek(D)];
        else if (run == 5)
          FormatDate(Out, FS.ShortDateFormat, D, FS, Depth + 1);
        else
          FormatDate(Out, FS.LongDateFormat, D, FS, Depth + 1);
        afterHour = false;
        i += run;
        continue;
      case 'm':
        if (afterHour && run <= 2) {
          AppendNumber(Out, minute, static_cast<int>(run));
        } else {
          if (run > 4) run = 4;
          if (run <= 2)
            AppendNumber(Out, month, static_cast<int>(run));
          else if (run == 3)
            Out += FS.ShortMonthNames[month >= 1 ? month - 1 : 0];
          else
            Out += FS.LongMonthNames[month >= 1 ? month - 1 : 0];
        }
        afterHour = false;
        i += run;
        continue;
      case 'y':
        if (run <= 2)
          AppendNumber(Out, year % 100, 2);
        else
          AppendNumber(Out, year, 4);
        afterHour = false;
        i += run;
        continue;
      case 'h': {
        if (run > 2) run = 2;
        int h = hour;
        if (twelve) {
          h = hour % 12;
          if (h == 0) h = 12;
        }
        AppendNumber(Out, h, static_cast<int>(run));
        afterHour = true;
        i += run;
        continue;
      }
      case 'n':
        if (run > 2) run = 2;
        AppendNumber(Out, minute, static_cast<int>(run));
        afterHour = false;
        i += run;
        continue;
      case 's':
        if (run > 2) run = 2;
        AppendNumber(Out, sec, static_cast<int>(run));
        afterHour = false;
        i += run;
        continue;
      case 'z':
        if (run >= 3) {
          AppendNumber(Out, msec, 3);
          run = 3;
        } else {
          run = 1;
          AppendNumber(Out, msec, 1);
        }
        afterHour = false;
        i += run;
        continue;
      case 't':
        if (run >= 2) {
          FormatDate(Out, FS.LongTimeFormat, D, FS, Depth + 1);
          run = 2;
        } else {
          FormatDate(Out, FS.ShortTimeFormat, D, FS, Depth + 1);
        }
        afterHour = false;
        i += run;
        continue;
      case 'c':
        FormatDate(Out, FS.ShortDateFormat, D, FS, Depth + 1);
        if (hour != 0 || minute != 0 || sec != 0 || msec != 0) {
          Out.push_back(' ');
          FormatDate(Out, FS.LongTimeFormat, D, FS, Depth + 1);
        }
        afterHour = false;
        i += 1;
        continue;
      case 'a':
        if (StartsNoCase(F, i, "am/pm")) {
          const bool upper = F[i] == 'A';
          Out += hour >= 12 ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
          i += 5;
          continue;
        }
        if (StartsNoCase(F, i, "a/p")) {
          const bool upper = F[i] == 'A';
          Out += hour >= 12 ? (upper ? "P" : "p") : (upper ? "A" : "a");
          i += 3;
          continue;
        }
        Out.push_back(c);
        ++i;
        continue;
      case '/':
        Out.push_back(FS.DateSeparator);
        ++i;
        continue;
      case ':':
        Out.push_back(FS.TimeSeparator);
        ++i;
        continue;
      default:
        Out.push_back(c);
        ++i;
        continue;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Number formatting with a pattern.

struct TNumItem {
  enum Kind { Literal, Digit, Point, Exponent } K;
  std::string Text;   // literal text
  bool Zero = false;  // '0' placeholder (else '#')
  bool ExpPlus = false;
  int ExpDigits = 0;
};

struct TNumSection {
  std::vector<TNumItem> Items;
  bool Thousands = false;
  bool HasDigits = false;
  bool Scientific = false;
  int IntPlaces = 0;  // digit placeholders before the point
  int IntZeros = 0;   // minimum integer digits
  int FracPlaces = 0;
  int FracZeros = 0;  // minimum fraction digits
};

std::vector<std::string_view> SplitSections(std::string_view F) {
  std::vector<std::string_view> r;
  size_t start = 0;
  char q = 0;
  for (size_t i = 0; i < F.size(); ++i) {
    const char c = F[i];
    if (q) {
      if (c == q) q = 0;
      continue;
    }
    if (c == '\'' || c == '"') {
      q = c;
    } else if (c == '\\') {
      ++i;
    } else if (c == ';') {
      r.push_back(F.substr(start, i - start));
      start = i + 1;
    }
  }
  r.push_back(F.substr(start));
  return r;
}

TNumSection ParseSection(std::string_view F) {
  TNumSection s;
  bool afterPoint = false;
  bool seenIntZero = false;
  auto literal = [&](std::string_view t) {
    if (!s.Items.empty() && s.Items.back().K == TNumItem::Literal)
      s.Items.back().Text.append(t);
    else
      s.Items.push_back({TNumItem::Literal, std::string(t)});
  };
  for (size_t i = 0; i < F.size(); ++i) {
    const char c = F[i];
    if (c == '\'' || c == '"') {
      size_t j = i + 1;
      while (j < F.size() && F[j] != c) ++j;
      literal(F.substr(i + 1, j - i - 1));
      i = j;
    } else if (c == '\\') {
      if (i + 1 < F.size()) literal(F.substr(++i, 1));
    } else if (c == '0' || c == '#') {
      if (s.Scientific) {
        literal(F.substr(i, 1));
        continue;
      }
      TNumItem it{TNumItem::Digit, {}};
      it.Zero = c == '0';
      s.Items.push_back(it);
      s.HasDigits = true;
      if (afterPoint) {
        ++s.FracPlaces;
        if (it.Zero) s.FracZeros = s.FracPlaces;
      } else {
        ++s.IntPlaces;
        if (it.Zero) seenIntZero = true;
        if (seenIntZero) ++s.IntZeros;
      }
    } else if (c == '.' && !afterPoint && !s.Scientific) {
      afterPoint = true;
      s.Items.push_back({TNumItem::Point, {}});
    } else if (c == ',' && !s.Scientific) {
      s.Thousands = true;
    } else if (c == '%') {
      // Written as it stands: the pattern language does not scale (values such as a discount
      // are kept in percent points).
      literal("%");
    } else if ((c == 'E' || c == 'e') && i + 1 < F.size() && (F[i + 1] == '+' || F[i + 1] == '-') &&
               s.HasDigits && !s.Scientific) {
      TNumItem it{TNumItem::Exponent, std::string(1, c)};
      it.ExpPlus = F[i + 1] == '+';
      size_t j = i + 2;
      while (j < F.size() && F[j] == '0') ++j;
      it.ExpDigits = static_cast<int>(j - (i + 2));
      if (it.ExpDigits > 4) it.ExpDigits = 4;
      s.Items.push_back(it);
      s.Scientific = true;
      i = j - 1;
    } else {
      literal(F.substr(i, 1));
    }
  }
  return s;
}

// Formats the magnitude of Value with section S; Negative adds a leading minus.
std::string ApplySection(const TNumSection& S, TDecimal d, bool Negative,
                         const TFormatSettings& FS) {
  std::string out;
  if (Negative) out.push_back('-');
  if (!S.HasDigits) {
    for (const auto& it : S.Items)
      if (it.K == TNumItem::Literal) out += it.Text;
    return out;
  }
  std::string intDigits, fracDigits;
  int exponent = 0;
  if (S.Scientific) {
    const int intPlaces = S.IntPlaces > 0 ? S.IntPlaces : 1;
    if (!d.Digits.empty()) {
      RoundDigits(d, intPlaces + S.FracPlaces);
      if (!d.Digits.empty()) {
        exponent = d.Exp - intPlaces;
        d.Exp = intPlaces;
      }
    }
  } else {
    RoundFixed(d, S.FracPlaces);
  }
  FixedParts(d, S.FracPlaces, intDigits, fracDigits);
  while (static_cast<int>(fracDigits.size()) > S.FracZeros && !fracDigits.empty() &&
         fracDigits.back() == '0')
    fracDigits.pop_back();
  // Leading zeros of the integer part come only from '0' placeholders.
  size_t nz = 0;
  while (nz < intDigits.size() && intDigits[nz] == '0') ++nz;
  intDigits.erase(0, nz);
  while (static_cast<int>(intDigits.size()) < S.IntZeros) intDigits.insert(intDigits.begin(), '0');

  const int len = static_cast<int>(intDigits.size());
  int intSeen = 0, fracSeen = 0;
  auto emitDigit = [&](int posFromRight) {
    out.push_back(intDigits[len - 1 - posFromRight]);
    if (S.Thousands && posFromRight > 0 && posFromRight % 3 == 0 && !S.Scientific)
      out.push_back(FS.ThousandSeparator);
  };
  for (const auto& it : S.Items) {
    switch (it.K) {
      case TNumItem::Literal:
        out += it.Text;
        break;
      case TNumItem::Digit:
        if (intSeen < S.IntPlaces) {
          const int pos = S.IntPlaces - 1 - intSeen;  // placeholder position from the right
          if (intSeen == 0)
            for (int p = len - 1; p > pos; --p) emitDigit(p);
          if (pos < len) emitDigit(pos);
          ++intSeen;
        } else {
          if (fracSeen < static_cast<int>(fracDigits.size())) out.push_back(fracDigits[fracSeen]);
          ++fracSeen;
        }
        break;
      case TNumItem::Point:
        if (S.IntPlaces == 0)
          for (int p = len - 1; p >= 0; --p) emitDigit(p);
        if (!fracDigits.empty()) out.push_back(FS.DecimalSeparator);
        intSeen = S.IntPlaces;
        break;
      case TNumItem::Exponent: {
        out += it.Text;
        if (exponent < 0)
          out.push_back('-');
        else if (it.ExpPlus)
          out.push_back('+');
        std::string e = std::to_string(exponent < 0 ? -exponent : exponent);
        while (static_cast<int>(e.size()) < it.ExpDigits) e.insert(e.begin(), '0');
        out += e;
        break;
      }
    }
  }
  return out;
}

// Whether the value shows as zero under the section's rounding.
bool RoundsToZero(const TNumSection& S, TDecimal d) {
  if (S.Scientific) return d.Digits.empty();
  RoundFixed(d, S.FracPlaces);
  return d.Digits.empty();
}

std::string FormatGeneral(double Value, const TFormatSettings& FS) {
  if (std::isnan(Value)) return "NAN";
  if (std::isinf(Value)) return Value < 0 ? "-INF" : "INF";
  TDecimal d = ToDecimal(Value);
  if (d.Digits.empty()) return "0";
  std::string out;
  if (d.Negative) out.push_back('-');
  const int e = d.Exp - 1;  // exponent of the first digit
  if (e >= 15 || e < -4) {
    out.push_back(d.Digits[0]);
    if (d.Digits.size() > 1) {
      out.push_back(FS.DecimalSeparator);
      out.append(d.Digits, 1);
    }
    out += "E";
    out += std::to_string(e);
    return out;
  }
  if (d.Exp <= 0) {
    out += "0";
    out.push_back(FS.DecimalSeparator);
    out.append(static_cast<size_t>(-d.Exp), '0');
    out += d.Digits;
    return out;
  }
  const int n = static_cast<int>(d.Digits.size());
  for (int i = 0; i < d.Exp; ++i) out.push_back(i < n ? d.Digits[i] : '0');
  if (n > d.Exp) {
    out.push_back(FS.DecimalSeparator);
    out.append(d.Digits, d.Exp);
  }
  return out;
}

}  // namespace

// =============================================================================================

TFormatSettings TFormatSettings::English() {
  TFormatSettings f;
  f.DecimalSeparator = '.';
  f.ThousandSeparator = ',';
  f.DateSeparator = '/';
  f.TimeSeparator = ':';
  f.ShortDateFormat = "m/d/yyyy";
  f.LongDateFormat = "dddd, mmmm d, yyyy";
  f.ShortTimeFormat = "h:nn AM/PM";
  f.LongTimeFormat = "h:nn:ss AM/PM";
  f.CurrencyString = "$";
  f.CurrencyDecimals = 2;
  f.CurrencyFormat = 0;
  const char* sm[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const char* lm[12] = {"January", "February", "March",     "April",   "May",      "June",
                        "July",    "August",   "September", "October", "November", "December"};
  const char* sd[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const char* ld[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                       "Thursday", "Friday", "Saturday"};
  for (int i = 0; i < 12; ++i) {
    f.ShortMonthNames[i] = sm[i];
    f.LongMonthNames[i] = lm[i];
  }
  for (int i = 0; i < 7; ++i) {
    f.ShortDayNames[i] = sd[i];
    f.LongDayNames[i] = ld[i];
  }
  return f;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings Settings;
  return Settings;
}

// --- numbers from text -----------------------------------------------------------------------

bool TryStrToFloat(std::string_view S, double& Value, const TFormatSettings& FS) {
  const std::string_view t = TrimView(S);
  std::string buf;
  buf.reserve(t.size());
  size_t i = 0;
  const size_t n = t.size();
  if (i < n && (t[i] == '+' || t[i] == '-')) {
    if (t[i] == '-') buf.push_back('-');
    ++i;
  }
  int digits = 0;
  while (i < n && IsDigit(t[i])) {
    buf.push_back(t[i++]);
    ++digits;
  }
  if (i < n && t[i] == FS.DecimalSeparator) {
    buf.push_back('.');
    ++i;
    while (i < n && IsDigit(t[i])) {
      buf.push_back(t[i++]);
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    buf.push_back('e');
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) buf.push_back(t[i++]);
    int ed = 0;
    while (i < n && IsDigit(t[i])) {
      buf.push_back(t[i++]);
      ++ed;
    }
    if (ed == 0) return false;
  }
  if (i != n) return false;
  double v = 0;
  const auto res = std::from_chars(buf.data(), buf.data() + buf.size(), v);
  if (res.ec != std::errc() || res.ptr != buf.data() + buf.size() || !std::isfinite(v))
    return false;
  Value = v;
  return true;
}

bool TryStrToFloat(std::string_view S, double& Value) {
  return TryStrToFloat(S, Value, FormatSettings());
}

double StrToFloat(std::string_view S, const TFormatSettings& FS) {
  double v;
  if (!TryStrToFloat(S, v, FS)) throw EConvertError(Quoted(S) + " no es un valor numérico válido");
  return v;
}

double StrToFloat(std::string_view S) {
  return StrToFloat(S, FormatSettings());
}

int Val(std::string_view S, int& Code) {
  if (S.empty()) {
    Code = 1;
    return 0;
  }
  return static_cast<int>(ReadInteger(S, std::numeric_limits<int32_t>::min(), 0xFFFFFFFFull, Code));
}

bool TryStrToInt(std::string_view S, int& Value) {
  const std::string_view t = TrimView(S);
  if (t.empty()) return false;
  int code;
  const int v = Val(t, code);
  if (code != 0) return false;
  Value = v;
  return true;
}

int StrToInt(std::string_view S) {
  int v;
  if (!TryStrToInt(S, v)) throw EConvertError(Quoted(S) + " no es un valor entero válido");
  return v;
}

int64_t StrToInt64(std::string_view S) {
  const std::string_view t = TrimView(S);
  int code = 1;
  int64_t v = 0;
  if (!t.empty())
    v = ReadInteger(t, std::numeric_limits<int64_t>::min(), 0xFFFFFFFFFFFFFFFFull, code);
  if (code != 0) throw EConvertError(Quoted(S) + " no es un valor entero válido");
  return v;
}

// --- dates from text -------------------------------------------------------------------------

bool TryStrToDate(std::string_view S, TDateTime& Value, const TFormatSettings& FS) {
  TScanner sc{S};
  TDateTime d;
  if (!ScanDate(sc, FS, d)) return false;
  sc.SkipBlanks();
  if (!sc.AtEnd()) return false;
  Value = d;
  return true;
}

bool TryStrToTime(std::string_view S, TDateTime& Value, const TFormatSettings& FS) {
  TScanner sc{S};
  TDateTime t;
  if (!ScanTime(sc, FS, t)) return false;
  sc.SkipBlanks();
  if (!sc.AtEnd()) return false;
  Value = t;
  return true;
}

bool TryStrToDateTime(std::string_view S, TDateTime& Value, const TFormatSettings& FS) {
  TScanner sc{S};
  TDateTime d, t;
  if (ScanDate(sc, FS, d)) {
    sc.SkipBlanks();
    if (sc.AtEnd()) {
      Value = d;
      return true;
    }
    if (!ScanTime(sc, FS, t)) return false;
    sc.SkipBlanks();
    if (!sc.AtEnd()) return false;
    Value = ComposeDateTime(d, t);
    return true;
  }
  return TryStrToTime(S, Value, FS);
}

TDateTime StrToDate(std::string_view S, const TFormatSettings& FS) {
  TDateTime v;
  if (!TryStrToDate(S, v, FS)) throw EConvertError(Quoted(S) + " no es una fecha válida");
  return v;
}
TDateTime StrToDate(std::string_view S) {
  return StrToDate(S, FormatSettings());
}

TDateTime StrToTime(std::string_view S, const TFormatSettings& FS) {
  TDateTime v;
  if (!TryStrToTime(S, v, FS)) throw EConvertError(Quoted(S) + " no es una hora válida");
  return v;
}
TDateTime StrToTime(std::string_view S) {
  return StrToTime(S, FormatSettings());
}

TDateTime StrToDateTime(std::string_view S, const TFormatSettings& FS) {
  TDateTime v;
  if (!TryStrToDateTime(S, v, FS))
    throw EConvertError(Quoted(S) + " no es una fecha y hora válida");
  return v;
}
TDateTime StrToDateTime(std::string_view S) {
  return StrToDateTime(S, FormatSettings());
}

// --- dates to text ---------------------------------------------------------------------------

std::string FormatDateTime(std::string_view Format, TDateTime D, const TFormatSettings& FS) {
  std::string out;
  FormatDate(out, Format.empty() ? std::string_view("c") : Format, D, FS, 0);
  return out;
}
std::string FormatDateTime(std::string_view Format, TDateTime D) {
  return FormatDateTime(Format, D, FormatSettings());
}

std::string DateToStr(TDateTime D, const TFormatSettings& FS) {
  return FormatDateTime(FS.ShortDateFormat, D, FS);
}
std::string DateToStr(TDateTime D) {
  return DateToStr(D, FormatSettings());
}

std::string TimeToStr(TDateTime D, const TFormatSettings& FS) {
  return FormatDateTime(FS.LongTimeFormat, D, FS);
}
std::string TimeToStr(TDateTime D) {
  return TimeToStr(D, FormatSettings());
}

std::string DateTimeToStr(TDateTime D, const TFormatSettings& FS) {
  return FormatDateTime("c", D, FS);
}
std::string DateTimeToStr(TDateTime D) {
  return DateTimeToStr(D, FormatSettings());
}

// --- numbers to text -------------------------------------------------------------------------

std::string FormatFloat(std::string_view Format, double Value, const TFormatSettings& FS) {
  if (Format.empty() || !std::isfinite(Value)) return FormatGeneral(Value, FS);
  const auto parts = SplitSections(Format);
  TNumSection pos = ParseSection(parts[0]);
  const bool negative = Value < 0;
  TDecimal d = ToDecimal(Value);
  d.Negative = false;
  // The zero section applies when the value shows as zero in the positive section.
  if (Value == 0 || RoundsToZero(pos, d)) {
    if (parts.size() >= 3 && !parts[2].empty()) {
      TNumSection z = ParseSection(parts[2]);
      return ApplySection(z, TDecimal{}, false, FS);
    }
    return ApplySection(pos, TDecimal{}, false, FS);
  }
  if (negative && parts.size() >= 2 && !parts[1].empty()) {
    TNumSection neg = ParseSection(parts[1]);
    TDecimal dn = ToDecimal(-Value);
    if (RoundsToZero(neg, dn)) return ApplySection(neg, TDecimal{}, false, FS);
    return ApplySection(neg, dn, false, FS);
  }
  return ApplySection(pos, d, negative, FS);
}

std::string FormatFloat(std::string_view Format, double Value) {
  return FormatFloat(Format, Value, FormatSettings());
}

std::string FloatToStr(double Value, const TFormatSettings& FS) {
  return FormatGeneral(Value, FS);
}
std::string FloatToStr(double Value) {
  return FormatGeneral(Value, FormatSettings());
}

std::string CurrToStrF(double Value, const TFormatSettings& FS) {
  if (!std::isfinite(Value)) return FormatGeneral(Value, FS);
  TDecimal d = ToDecimal(Value);
  const int decimals = FS.CurrencyDecimals < 0 ? 0 : FS.CurrencyDecimals;
  RoundFixed(d, decimals);
  std::string intPart, frac;
  FixedParts(d, decimals, intPart, frac);
  if (intPart.empty()) intPart = "0";
  std::string num = GroupThousands(intPart, FS.ThousandSeparator);
  if (decimals > 0) {
    num.push_back(FS.DecimalSeparator);
    num += frac;
  }
  std::string r;
  switch (FS.CurrencyFormat) {
    case 0:
      r = FS.CurrencyString + num;
      break;
    case 1:
      r = num + FS.CurrencyString;
      break;
    case 2:
      r = FS.CurrencyString + " " + num;
      break;
    default:
      r = num + " " + FS.CurrencyString;
      break;
  }
  if (Value < 0 && !d.Digits.empty()) r.insert(r.begin(), '-');
  return r;
}

std::string IntToStr(int64_t Value) {
  return std::to_string(Value);
}

// --- plain text ------------------------------------------------------------------------------

std::string Trim(std::string_view S) {
  return std::string(TrimView(S));
}

std::string TrimLeft(std::string_view S) {
  size_t b = 0;
  while (b < S.size() && IsBlank(S[b])) ++b;
  return std::string(S.substr(b));
}

std::string TrimRight(std::string_view S) {
  size_t e = S.size();
  while (e > 0 && IsBlank(S[e - 1])) --e;
  return std::string(S.substr(0, e));
}

std::string LowerCase(std::string_view S) {
  std::string r(S);
  for (char& c : r) c = ToLowerAscii(c);
  return r;
}

std::string UpperCase(std::string_view S) {
  std::string r(S);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

int Pos(std::string_view Sub, std::string_view S) {
  if (Sub.empty()) return 0;
  const size_t p = S.find(Sub);
  return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

std::string Copy(std::string_view S, int Index, int Count) {
  if (Index < 1) Index = 1;
  if (Count <= 0 || Index > static_cast<int>(S.size())) return {};
  return std::string(S.substr(static_cast<size_t>(Index - 1), static_cast<size_t>(Count)));
}

std::string StringReplaceAll(std::string_view S, std::string_view From, std::string_view To) {
  if (From.empty()) return std::string(S);
  std::string r;
  size_t p = 0;
  for (;;) {
    const size_t q = S.find(From, p);
    if (q == std::string_view::npos) break;
    r.append(S.substr(p, q - p));
    r.append(To);
    p = q + From.size();
  }
  r.append(S.substr(p));
  return r;
}

std::string QuotedStr(std::string_view S) {
  std::string r = "'";
  for (char c : S) {
    r.push_back(c);
    if (c == '\'') r.push_back('\'');
  }
  r.push_back('\'');
  return r;
}

std::vector<std::string> SplitNames(std::string_view List, char Separator) {
  std::vector<std::string> Names;
  for (;;) {
    const size_t At = List.find(Separator);
    Names.push_back(Trim(List.substr(0, At)));
    if (At == std::string_view::npos) return Names;
    List.remove_prefix(At + 1);
  }
}

// --- file names ------------------------------------------------------------------------------

namespace {
// Position just after the last directory separator (both kinds: names come from any system).
size_t NameStart(std::string_view Path) {
  const size_t p = Path.find_last_of("/\\");
  return p == std::string_view::npos ? 0 : p + 1;
}
size_t ExtStart(std::string_view Path) {
  const size_t name = NameStart(Path);
  const size_t dot = Path.rfind('.');
  return dot == std::string_view::npos || dot < name ? Path.size() : dot;
}
}  // namespace

std::string ExtractFileName(std::string_view Path) {
  return std::string(Path.substr(NameStart(Path)));
}

std::string ExtractFilePath(std::string_view Path) {
  return std::string(Path.substr(0, NameStart(Path)));
}

std::string ExtractFileExt(std::string_view Path) {
  return std::string(Path.substr(ExtStart(Path)));
}

std::string ChangeFileExt(std::string_view Path, std::string_view Ext) {
  return std::string(Path.substr(0, ExtStart(Path))) + std::string(Ext);
}

}  // namespace kv
