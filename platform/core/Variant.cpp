// Variant conversions, variant arrays (shared until written) and equality.
#include "Variant.h"

#include <cmath>

#include "SysUtils.h"

namespace kv {

namespace {

const char* TypeName(int T) {
  if (T & varArray) return "matriz";
  switch (T) {
    case varEmpty:
      return "vacío";
    case varNull:
      return "nulo";
    case varSmallint:
    case varInteger:
    case varInt64:
      return "entero";
    case varDouble:
      return "número";
    case varCurrency:
      return "moneda";
    case varDate:
      return "fecha";
    case varBoolean:
      return "lógico";
    case varString:
      return "texto";
    default:
      return "desconocido";
  }
}

[[noreturn]] void CannotConvert(const Variant& V, const char* Target) {
  std::string shown;
  if (V.IsNull())
    shown = "nulo";
  else if (V.IsArray())
    shown = "de tipo matriz";
  else
    shown = "'" + V.AsString() + "'";
  throw EVariantError("No se puede convertir el valor " + shown + " (" + TypeName(V.VarType()) +
                      ") a " + Target);
}

// A double to a whole number, rounding half away from zero; raises when out of range.
bool DoubleToInt64(double D, int64_t& R) {
  if (!std::isfinite(D)) return false;
  const double r = std::round(D);
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
  R = static_cast<int64_t>(r);
  return true;
}

bool IsIntegerType(int T) {
  return T == varSmallint || T == varInteger || T == varInt64;
}

}  // namespace

Variant Variant::CreateArray(int Low, int High) {
  if (High < Low - 1)
    throw EVariantError("Límites de matriz variante no válidos: " + std::to_string(Low) + ".." +
                        std::to_string(High));
  Variant v;
  v.FType = varArray | varVariant;
  v.FLow = Low;
  v.FArray = std::make_shared<std::vector<Variant>>(static_cast<size_t>(High - Low + 1));
  return v;
}

void Variant::Unshare() {
  if (FArray && FArray.use_count() > 1) FArray = std::make_shared<std::vector<Variant>>(*FArray);
}

int Variant::ArrayLowBound() const {
  if (!IsArray()) throw EVariantError("El valor no es una matriz variante");
  return FLow;
}

int Variant::ArrayHighBound() const {
  if (!IsArray()) throw EVariantError("El valor no es una matriz variante");
  return FLow + static_cast<int>(FArray->size()) - 1;
}

const Variant& Variant::operator[](int Index) const {
  if (!IsArray()) throw EVariantError("El valor no es una matriz variante");
  const int i = Index - FLow;
  if (i < 0 || i >= static_cast<int>(FArray->size()))
    throw EVariantError("Índice " + std::to_string(Index) + " fuera de los límites de la matriz (" +
                        std::to_string(FLow) + ".." + std::to_string(ArrayHighBound()) + ")");
  return (*FArray)[i];
}

Variant& Variant::operator[](int Index) {
  const Variant& c = static_cast<const Variant&>(*this)[Index];  // bounds check
  (void)c;
  Unshare();
  return (*FArray)[Index - FLow];
}

void Variant::ArrayRedim(int High) {
  if (!IsArray()) throw EVariantError("El valor no es una matriz variante");
  if (High < FLow - 1)
    throw EVariantError("Límites de matriz variante no válidos: " + std::to_string(FLow) + ".." +
                        std::to_string(High));
  Unshare();
  FArray->resize(static_cast<size_t>(High - FLow + 1));
}

bool Variant::AsBoolean() const {
  switch (FType) {
    case varEmpty:
      return false;
    case varBoolean:
    case varSmallint:
    case varInteger:
    case varInt64:
      return FInt != 0;
    case varDouble:
    case varCurrency:
    case varDate:
      return FDouble != 0;
    case varString: {
      const std::string t = LowerCase(Trim(FString));
      if (t == "true") return true;
      if (t == "false") return false;
      double d;
      if (TryStrToFloat(t, d)) return d != 0;
      break;
    }
  }
  CannotConvert(*this, "lógico");
}

int64_t Variant::AsInt64() const {
  int64_t r;
  switch (FType) {
    case varEmpty:
      return 0;
    case varBoolean:
    case varSmallint:
    case varInteger:
    case varInt64:
      return FInt;
    case varDouble:
    case varCurrency:
    case varDate:
      if (DoubleToInt64(FDouble, r)) return r;
      break;
    case varString: {
      try {
        return StrToInt64(FString);
      } catch (const EConvertError&) {
      }
      double d;
      if (TryStrToFloat(FString, d) && DoubleToInt64(d, r)) return r;
      break;
    }
  }
  CannotConvert(*this, "entero");
}

double Variant::AsDouble() const {
  switch (FType) {
    case varEmpty:
      return 0;
    case varBoolean:
    case varSmallint:
    case varInteger:
    case varInt64:
      return static_cast<double>(FInt);
    case varDouble:
    case varCurrency:
    case varDate:
      return FDouble;
    case varString: {
      double d;
      if (TryStrToFloat(FString, d)) return d;
      break;
    }
  }
  CannotConvert(*this, "número");
}

TDateTime Variant::AsDateTime() const {
  switch (FType) {
    case varEmpty:
      return TDateTime();
    case varSmallint:
    case varInteger:
    case varInt64:
      return TDateTime(static_cast<double>(FInt));
    case varDouble:
    case varCurrency:
    case varDate:
      return TDateTime(FDouble);
    case varString: {
      TDateTime d;
      if (TryStrToDateTime(FString, d)) return d;
      break;
    }
  }
  CannotConvert(*this, "fecha");
}

std::string Variant::AsString() const {
  switch (FType) {
    case varEmpty:
    case varNull:
      return {};
    case varBoolean:
      return FInt ? "True" : "False";
    case varSmallint:
    case varInteger:
    case varInt64:
      return IntToStr(FInt);
    case varDouble:
    case varCurrency:
      return FloatToStr(FDouble);
    case varDate:
      return DateTimeToStr(TDateTime(FDouble));
    case varString:
      return FString;
  }
  throw EVariantError(std::string("No se puede convertir un valor de tipo ") + TypeName(FType) +
                      " a texto");
}

bool Variant::operator==(const Variant& Other) const {
  const int a = FType, b = Other.FType;
  if (IsArray() || Other.IsArray()) {
    if (!IsArray() || !Other.IsArray() || FLow != Other.FLow) return false;
    if (FArray == Other.FArray) return true;
    return *FArray == *Other.FArray;
  }
  if (a == varEmpty || a == varNull || b == varEmpty || b == varNull) return a == b;
  if (IsNumeric() && Other.IsNumeric()) {
    if (IsIntegerType(a) && IsIntegerType(b)) return FInt == Other.FInt;
    const bool ai = IsIntegerType(a), bi = IsIntegerType(b);
    if (ai || bi) {
      // Compare a whole number with a double without losing the low bits of the integer.
      const int64_t i = ai ? FInt : Other.FInt;
      const double d = ai ? Other.FDouble : FDouble;
      int64_t di;
      return std::trunc(d) == d && DoubleToInt64(d, di) && di == i;
    }
    return FDouble == Other.FDouble;
  }
  if (a != b) return false;
  switch (a) {
    case varBoolean:
      return FInt == Other.FInt;
    case varDate:
      return FDouble == Other.FDouble;
    case varString:
      return FString == Other.FString;
  }
  return false;
}

}  // namespace kv
