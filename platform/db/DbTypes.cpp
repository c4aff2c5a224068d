// Column types and names of databases (see DbTypes.h).
#include "DbTypes.h"

#include <cmath>
#include <cstdio>

#include "DB.h"
#include "DateTime.h"
#include "SysUtils.h"

namespace kv {

namespace {

bool Has(const std::string& S, const char* Word) {
  return S.find(Word) != std::string::npos;
}

// The numbers in "NAME(p, s)".
std::vector<int> TypeArguments(const std::string& S) {
  std::vector<int> Args;
  const size_t Open = S.find('(');
  if (Open == std::string::npos) return Args;
  int N = -1;
  for (size_t I = Open + 1; I < S.size() && S[I] != ')'; ++I) {
    if (S[I] >= '0' && S[I] <= '9') {
      N = (N < 0 ? 0 : N) * 10 + (S[I] - '0');
      if (N > 1000000) N = 1000000;
    } else if (S[I] == ',') {
      Args.push_back(N);
      N = -1;
    }
  }
  Args.push_back(N);
  return Args;
}

bool ReadDigits(std::string_view S, size_t& I, int Count, int& Out) {
  Out = 0;
  for (int K = 0; K < Count; ++K, ++I) {
    if (I >= S.size() || S[I] < '0' || S[I] > '9') return false;
    Out = Out * 10 + (S[I] - '0');
  }
  return true;
}

// hh:mm[:ss[.fraction]] at S[I], then the end, a 'Z' or an offset; milliseconds of the day.
bool ReadIsoTime(std::string_view S, size_t I, int64_t& MSec) {
  int H, M, Sec = 0, Ms = 0;
  if (!ReadDigits(S, I, 2, H) || I >= S.size() || S[I++] != ':' || !ReadDigits(S, I, 2, M))
    return false;
  if (I < S.size() && S[I] == ':') {
    ++I;
    if (!ReadDigits(S, I, 2, Sec)) return false;
    if (I < S.size() && (S[I] == '.' || S[I] == ',')) {
      ++I;
      int Scale = 100;
      for (; I < S.size() && S[I] >= '0' && S[I] <= '9'; ++I, Scale /= 10)
        Ms += (S[I] - '0') * Scale;
    }
  }
  if (I < S.size() && S[I] != 'Z' && S[I] != '+' && S[I] != '-' && S[I] != ' ') return false;
  if (H > 23 || M > 59 || Sec > 59) return false;
  MSec = ((H * 60LL + M) * 60 + Sec) * 1000 + Ms;
  return true;
}

}  // namespace

TFieldType FieldTypeOfDeclared(std::string_view Declared, int& Size) {
  const std::string S = UpperCase(Trim(Declared));
  const std::vector<int> Args = TypeArguments(S);
  const int First = Args.empty() ? -1 : Args[0];
  Size = 0;
  const std::string Base = Trim(S.substr(0, S.find('(')));
  if (Base == "BOOLEAN" || Base == "BOOL") return ftBoolean;
  if (Base == "SMALLINT" || Base == "INT2" || Base == "TINYINT") return ftSmallint;
  if (Has(Base, "INT") && !Has(Base, "INTERVAL") && !Has(Base, "POINT")) return ftInteger;
  if (Base == "MONEY" || Base == "CURRENCY") return ftCurrency;
  if (Base == "NUMERIC" || Base == "DECIMAL") {
    const int Scale = Args.size() > 1 ? Args[1] : Args.size() == 1 ? 0 : -1;
    if (Scale < 0) return ftFloat;
    if (Scale == 0) return First > 0 && First <= 9 ? ftInteger : ftFloat;
    if (Scale == 2 || Scale == 4) return ftCurrency;
    Size = Scale;
    return ftBCD;
  }
  if (Has(Base, "REAL") || Has(Base, "FLOA") || Has(Base, "DOUB")) return ftFloat;
  if (Base == "DATE") return ftDate;
  if (Base.rfind("TIMESTAMP", 0) == 0 || Base == "DATETIME" || Base == "TIMESTAMPTZ")
    return ftDateTime;
  if (Base.rfind("TIME", 0) == 0) return ftTime;  // TIME, TIMETZ, TIME WITH(OUT) TIME ZONE
  if (Base == "BLOB" || Base == "BYTEA") return ftBlob;
  const bool Texty = Has(Base, "CHAR") || Has(Base, "TEXT") || Has(Base, "CLOB");
  if (Texty && First > 0) {
    Size = First;
    return ftString;
  }
  // A text without length, and every type the platform has no field for, shows as text.
  return ftMemo;
}

std::string SqlTypeName(TFieldType T, int Size) {
  switch (T) {
    case ftString:
      return "VARCHAR(" + std::to_string(Size > 0 ? Size : 255) + ")";
    case ftSmallint:
      return "SMALLINT";
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return "INTEGER";
    case ftFloat:
      return "DOUBLE PRECISION";
    case ftCurrency:
      return "NUMERIC(19,4)";
    case ftBCD:
      return "NUMERIC(18," + std::to_string(Size == 2 || Size == 4 || Size <= 0 ? 6 : Size) + ")";
    case ftBoolean:
      return "BOOLEAN";
    case ftDate:
      return "DATE";
    case ftTime:
      return "TIME";
    case ftDateTime:
      return "TIMESTAMP";
    case ftMemo:
    case ftFmtMemo:
      return "TEXT";
    default:
      return "BLOB";
  }
}

std::vector<TNamePart> SplitQualifiedName(const std::string& Name) {
  std::vector<TNamePart> Parts;
  const std::string S = Trim(Name);
  auto Bad = [&]() -> void {
    throw EDatabaseError("El nombre de tabla '" + Name + "' no es válido");
  };
  size_t I = 0;
  while (true) {
    TNamePart P;
    while (I < S.size() && S[I] == ' ') ++I;
    if (I < S.size() && S[I] == '"') {
      P.Quoted = true;
      for (++I;; ++I) {
        if (I >= S.size()) Bad();
        if (S[I] == '"') {
          if (I + 1 < S.size() && S[I + 1] == '"') {
            P.Text += '"';
            ++I;
            continue;
          }
          ++I;
          break;
        }
        P.Text += S[I];
      }
      while (I < S.size() && S[I] == ' ') ++I;
    } else {
      const size_t Dot = S.find('.', I);
      P.Text = Trim(S.substr(I, Dot == std::string::npos ? std::string::npos : Dot - I));
      I = Dot == std::string::npos ? S.size() : Dot;
    }
    if (P.Text.empty()) Bad();
    Parts.push_back(std::move(P));
    if (I >= S.size()) break;
    if (S[I] != '.') Bad();
    ++I;
  }
  return Parts;
}

std::string IsoDateText(double Days, TFieldType T) {
  int64_t Day = 0, MSec = 0;
  SplitDateTime(TDateTime(Days), Day, MSec);
  int Y, Mo, D;
  DateOfDayNumber(Day, Y, Mo, D);
  char Date[16], Time[24];
  std::snprintf(Date, sizeof Date, "%04d-%02d-%02d", Y, Mo, D);
  const int64_t Sec = MSec / 1000;
  if (MSec % 1000)
    std::snprintf(Time, sizeof Time, "%02d:%02d:%02d.%03d", static_cast<int>(Sec / 3600),
                  static_cast<int>(Sec / 60 % 60), static_cast<int>(Sec % 60),
                  static_cast<int>(MSec % 1000));
  else
    std::snprintf(Time, sizeof Time, "%02d:%02d:%02d", static_cast<int>(Sec / 3600),
                  static_cast<int>(Sec / 60 % 60), static_cast<int>(Sec % 60));
  if (T == ftDate) return Date;
  if (T == ftTime) return Time;
  return std::string(Date) + " " + Time;
}

bool ParseIsoDate(std::string_view Text, TFieldType T, double& Days) {
  const std::string_view S = Text;
  size_t I = 0;
  int Y, Mo, D;
  int64_t MSec = 0;
  const bool HasDate = ReadDigits(S, I, 4, Y) && I < S.size() && S[I++] == '-' &&
                       ReadDigits(S, I, 2, Mo) && I < S.size() && S[I++] == '-' &&
                       ReadDigits(S, I, 2, D);
  if (!HasDate) {
    if (T != ftTime || !ReadIsoTime(S, 0, MSec)) return false;
    Days = JoinDateTime(0, MSec).Val;
    return true;
  }
  if (!IsValidDate(Y, Mo, D)) return false;
  if (I < S.size()) {
    if (S[I] != ' ' && S[I] != 'T') return false;
    if (!ReadIsoTime(S, I + 1, MSec)) return false;
  }
  const int64_t Day = DayNumberOf(Y, Mo, D);
  Days = T == ftTime ? JoinDateTime(0, MSec).Val : JoinDateTime(Day, T == ftDate ? 0 : MSec).Val;
  return true;
}

}  // namespace kv
