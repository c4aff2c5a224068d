// Variant: the dynamically typed value that fields, locates and positions exchange.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DateTime.h"

#pragma GCC visibility push(default)
namespace kv {

// Type codes as reported by VarType; varArray is or-ed with the element type.
enum TVarType : int {
  varEmpty = 0,
  varNull = 1,
  varSmallint = 2,
  varInteger = 3,
  varDouble = 5,
  varCurrency = 6,
  varDate = 7,
  varBoolean = 11,
  varVariant = 12,
  varInt64 = 20,
  varString = 256,
  varArray = 0x2000,
};

class Variant {
 public:
  // Unassigned.
  Variant() = default;
  Variant(bool v) : FType(varBoolean), FInt(v ? 1 : 0) {}
  Variant(int v) : FType(varInteger), FInt(v) {}
  Variant(int64_t v) : FType(varInt64), FInt(v) {}
  Variant(double v) : FType(varDouble), FDouble(v) {}
  Variant(TDateTime v) : FType(varDate), FDouble(v.Val) {}
  Variant(const char* v) : FType(varString), FString(v) {}
  Variant(std::string v) : FType(varString), FString(std::move(v)) {}
  Variant(std::string_view v) : FType(varString), FString(v) {}

  static Variant Null() {
    Variant v;
    v.FType = varNull;
    return v;
  }
  static Variant Currency(double v) {
    Variant r(v);
    r.FType = varCurrency;
    return r;
  }
  // A variant array with bounds [Low, High] whose elements start Unassigned.
  static Variant CreateArray(int Low, int High);

  int VarType() const { return FType; }
  bool IsEmpty() const { return FType == varEmpty; }
  bool IsNull() const { return FType == varNull; }
  bool IsNullOrEmpty() const { return FType == varNull || FType == varEmpty; }
  bool IsArray() const { return (FType & varArray) != 0; }
  bool IsString() const { return FType == varString; }
  bool IsNumeric() const {
    return FType == varSmallint || FType == varInteger || FType == varInt64 || FType == varDouble ||
           FType == varCurrency;
  }
  bool IsOrdinal() const {
    return FType == varSmallint || FType == varInteger || FType == varInt64 || FType == varBoolean;
  }

  // Conversions; raise EVariantError (an Exception) when the value cannot convert.
  bool AsBoolean() const;
  int64_t AsInt64() const;
  int AsInteger() const { return static_cast<int>(AsInt64()); }
  double AsDouble() const;
  TDateTime AsDateTime() const;
  // Text through the process locale; Null and Unassigned give "".
  std::string AsString() const;

  // Array access (lower bound as created, normally 0).
  int ArrayLowBound() const;
  int ArrayHighBound() const;
  Variant& operator[](int Index);
  const Variant& operator[](int Index) const;
  // Keeps the low bound and the first elements; new ones are Unassigned.
  void ArrayRedim(int High);

  // Strict equality: same kind of value and same content (numbers compare by value).
  bool operator==(const Variant& Other) const;
  bool operator!=(const Variant& Other) const { return !(*this == Other); }

 private:
  int FType = varEmpty;
  int64_t FInt = 0;
  double FDouble = 0;
  std::string FString;
  int FLow = 0;
  std::shared_ptr<std::vector<Variant>> FArray;  // copied on write
  void Unshare();
};

inline Variant Null() {
  return Variant::Null();
}
inline Variant Unassigned() {
  return Variant();
}
inline Variant VarArrayCreate(int Low, int High, int /*ElementType*/ = varVariant) {
  return Variant::CreateArray(Low, High);
}
inline int VarArrayHighBound(const Variant& V, int /*Dim*/ = 1) {
  return V.ArrayHighBound();
}
inline int VarArrayLowBound(const Variant& V, int /*Dim*/ = 1) {
  return V.ArrayLowBound();
}
inline void VarArrayRedim(Variant& V, int High) {
  V.ArrayRedim(High);
}
inline bool VarIsArray(const Variant& V) {
  return V.IsArray();
}
inline bool VarIsNull(const Variant& V) {
  return V.IsNull();
}
inline bool VarIsEmpty(const Variant& V) {
  return V.IsEmpty();
}
inline int VarType(const Variant& V) {
  return V.VarType();
}

}  // namespace kv
#pragma GCC visibility pop
