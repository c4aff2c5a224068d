// Column types and value texts of PostgreSQL, one mapping for reading and writing.
#include "PgTypes.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "DB.h"

namespace kv {

namespace {

constexpr int VarHeader = 4;  // a typmod counts the 4-byte length header of a varlena

// Reads exactly Count digits at S[I]; advances I.
bool Digits(std::string_view S, size_t& I, size_t Count, int& Out) {
  if (I + Count > S.size()) return false;
  Out = 0;
  for (size_t K = 0; K < Count; ++K) {
    const char C = S[I + K];
    if (C < '0' || C > '9') return false;
    Out = Out * 10 + (C - '0');
  }
  I += Count;
  return true;
}

// "HH:MM:SS[.ffffff]" at S[I] into milliseconds; advances I.
bool ReadTimeOfDay(std::string_view S, size_t& I, int64_t& MSec) {
  int H, M, Sec;
  if (!Digits(S, I, 2, H) || I >= S.size() || S[I++] != ':' || !Digits(S, I, 2, M) ||
      I >= S.size() || S[I++] != ':' || !Digits(S, I, 2, Sec))
    return false;
  if (H > 24 || M > 59 || Sec > 60 || (H == 24 && (M || Sec))) return false;
  int64_t Micro = 0;
  if (I < S.size() && S[I] == '.') {
    ++I;
    int64_t Scale = 100000;
    const size_t First = I;
    while (I < S.size() && S[I] >= '0' && S[I] <= '9') {
      Micro += (S[I] - '0') * Scale;
      Scale /= 10;
      ++I;
    }
    if (I == First || I - First > 6) return false;
  }
  MSec = ((H * 60 + M) * 60 + Sec) * 1000LL + (Micro + 500) / 1000;
  return true;
}

// A zone offset after a time ("+02", "-05:30", "+05:45:10"): skipped.
bool SkipZone(std::string_view S, size_t& I) {
  if (I >= S.size()) return true;
  if (S[I] != '+' && S[I] != '-') return false;
  ++I;
  int V;
  if (!Digits(S, I, 2, V)) return false;
  while (I < S.size() && S[I] == ':') {
    ++I;
    if (!Digits(S, I, 2, V)) return false;
  }
  return true;
}

}  // namespace

TPgFieldType PgFieldTypeOf(TPgOid Type, int Typmod) {
  switch (Type) {
    case pgtype::Bool:
      return {ftBoolean};
    case pgtype::Int2:
      return {ftSmallint};
    case pgtype::Int4:
    case pgtype::Int8:
    case pgtype::Oid:
      return {ftInteger};
    case pgtype::Float4:
    case pgtype::Float8:
      return {ftFloat};
    case pgtype::Money:
      return {ftCurrency};
    case pgtype::Numeric: {
      if (Typmod < VarHeader) return {ftBCD};
      const int Scale = ((Typmod - VarHeader) & 0x7FF);
      return Scale == 2 ? TPgFieldType{ftCurrency} : TPgFieldType{ftBCD, Scale};
    }
    case pgtype::BpChar:
    case pgtype::VarChar:
      if (Typmod >= VarHeader) return {ftString, Typmod - VarHeader};
      return Type == pgtype::BpChar ? TPgFieldType{ftString, 1} : TPgFieldType{ftMemo};
    case pgtype::Char:
      return {ftString, 1};
    case pgtype::Name:
      return {ftString, 63};
    case pgtype::Text:
      return {ftMemo};
    case pgtype::Date:
      return {ftDate};
    case pgtype::Time:
    case pgtype::TimeTz:
      return {ftTime};
    case pgtype::Timestamp:
    case pgtype::TimestampTz:
      return {ftDateTime};
    case pgtype::Bytea:
      return {ftBlob};
    default:
      return {ftMemo, 0, true};
  }
}

std::string PgColumnType(TFieldType T, int Size) {
  switch (T) {
    case ftString:
      return Size > 0 ? "varchar(" + std::to_string(Size) + ")" : "text";
    case ftMemo:
    case ftFmtMemo:
      return "text";
    case ftSmallint:
      return "smallint";
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return "integer";
    case ftFloat:
      return "double precision";
    case ftCurrency:
      return "numeric(18,2)";
    case ftBCD:
      return "numeric(30," + std::to_string(Size > 0 && Size <= 30 ? Size : 4) + ")";
    case ftBoolean:
      return "boolean";
    case ftDate:
      return "date";
    case ftTime:
      return "time(3)";
    case ftDateTime:
      return "timestamp(3)";
    case ftBlob:
    case ftGraphic:
    case ftBytes:
    case ftVarBytes:
    case ftTypedBinary:
    case ftParadoxOle:
    case ftDBaseOle:
      return "bytea";
    default:
      throw EDatabaseError("El tipo de campo " + FieldTypeName(T) +
                           " no tiene tipo de columna en PostgreSQL");
  }
}

std::string PgDateTimeText(TDateTime D, TFieldType T) {
  if (!IsInCalendar(D))
    throw EDatabaseError("La fecha " + PgDoubleText(D.Val) + " está fuera del calendario");
  int64_t Days, MSec;
  SplitDateTime(D, Days, MSec);
  int Y, Mo, Dd;
  DateOfDayNumber(Days, Y, Mo, Dd);
  char Buf[40];
  const int H = static_cast<int>(MSec / 3600000), Mi = static_cast<int>(MSec / 60000 % 60),
            S = static_cast<int>(MSec / 1000 % 60), Ms = static_cast<int>(MSec % 1000);
  if (T == ftDate)
    std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d", Y, Mo, Dd);
  else if (T == ftTime)
    std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d.%03d", H, Mi, S, Ms);
  else
    std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", Y, Mo, Dd, H, Mi, S, Ms);
  return Buf;
}

bool PgParseDateTime(std::string_view S, TFieldType T, TDateTime& Out) {
  size_t I = 0;
  int64_t Days = 0, MSec = 0;
  if (T != ftTime) {
    int Y, Mo, D;
    if (!Digits(S, I, 4, Y) || I >= S.size() || S[I++] != '-' || !Digits(S, I, 2, Mo) ||
        I >= S.size() || S[I++] != '-' || !Digits(S, I, 2, D) || !IsValidDate(Y, Mo, D))
      return false;
    Days = DayNumberOf(Y, Mo, D);
    if (I < S.size() && (S[I] == ' ' || S[I] == 'T')) {
      ++I;
      if (!ReadTimeOfDay(S, I, MSec)) return false;
    }
  } else if (!ReadTimeOfDay(S, I, MSec)) {
    return false;
  }
  if (!SkipZone(S, I) || I != S.size()) return false;
  Out = T == ftDate ? JoinDateTime(Days, 0) : JoinDateTime(Days, MSec);
  return T != ftDateTime || IsInCalendar(Out);
}

std::string PgDoubleText(double V) {
  if (std::isnan(V)) return "NaN";
  if (std::isinf(V)) return V > 0 ? "Infinity" : "-Infinity";
  char Buf[32];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, V);
  return std::string(Buf, R.ptr);
}

}  // namespace kv
