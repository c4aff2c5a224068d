// Reading filter constants as field values (see FilterValues.h).
#include "FilterValues.h"

#include <charconv>

#include "DB.h"
#include "DateTime.h"
#include "SysUtils.h"

namespace kv {

namespace {

bool SameAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    char X = A[I], Y = B[I];
    if (X >= 'A' && X <= 'Z') X = static_cast<char>(X - 'A' + 'a');
    if (Y >= 'A' && Y <= 'Z') Y = static_cast<char>(Y - 'A' + 'a');
    if (X != Y) return false;
  }
  return true;
}

}  // namespace

bool FilterTextToNumber(TFieldType T, const std::string& S, double& Out) {
  TDateTime D;
  switch (T) {
    case ftBoolean:
      if (SameAscii(S, "true"))
        Out = 1;
      else if (SameAscii(S, "false"))
        Out = 0;
      else
        return false;
      return true;
    case ftDate:
      if (!TryStrToDate(S, D) && !TryStrToDateTime(S, D)) return false;
      Out = D.Val;
      return true;
    case ftTime:
      if (TryStrToTime(S, D)) {
        Out = D.Val;
        return true;
      }
      if (!TryStrToDateTime(S, D)) return false;
      Out = TimeOf(D).Val;
      return true;
    case ftDateTime:
      if (!TryStrToDateTime(S, D) && !TryStrToDate(S, D)) return false;
      Out = D.Val;
      return true;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc: {
      int I = 0;
      if (TryStrToInt(S, I)) {
        Out = I;
        return true;
      }
      return TryStrToFloat(S, Out);
    }
    default:
      return TryStrToFloat(S, Out);
  }
}

bool ParseFilterNumber(std::string_view S, double& Out) {
  if (!S.empty() && S[0] == '+') S.remove_prefix(1);
  auto [End, Err] = std::from_chars(S.data(), S.data() + S.size(), Out);
  return Err == std::errc() && End == S.data() + S.size();
}

void RaiseFilterValueError(const TFilterToken& T, const TField& F) {
  const std::string Shown = T.Kind == TFilterTokenKind::String ? T.Source : "'" + T.Source + "'";
  throw EDatabaseError("Filtro no válido en la posición " + std::to_string(T.Pos) + ": " + Shown +
                       " no es un valor válido para el campo " + F.FieldName());
}

double FilterConstantNumber(const TFilterToken& T, const TField& F) {
  double Number = 0;
  bool Ok = false;
  switch (T.Kind) {
    case TFilterTokenKind::Number:
      Ok = ParseFilterNumber(T.Value, Number);
      break;
    case TFilterTokenKind::String:
      Ok = FilterTextToNumber(F.DataType(), T.Value, Number);
      break;
    case TFilterTokenKind::True:
    case TFilterTokenKind::False:
      Ok = F.DataType() == ftBoolean;
      Number = T.Kind == TFilterTokenKind::True ? 1 : 0;
      break;
    default:
      break;
  }
  if (!Ok) RaiseFilterValueError(T, F);
  return Number;
}

TFilterCompareOp MirrorCompareOp(TFilterCompareOp Op) {
  switch (Op) {
    case TFilterCompareOp::Lt:
      return TFilterCompareOp::Gt;
    case TFilterCompareOp::Gt:
      return TFilterCompareOp::Lt;
    case TFilterCompareOp::Le:
      return TFilterCompareOp::Ge;
    case TFilterCompareOp::Ge:
      return TFilterCompareOp::Le;
    default:
      return Op;
  }
}

}  // namespace kv
