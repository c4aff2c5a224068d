// Variant conversions, equality, Null/Unassigned and variant arrays.
#include "Variant.h"

#include <gtest/gtest.h>

#include "SysUtils.h"
#include "TestLocale.h"

using namespace kv;

namespace {

TEST(Variant, NullAndUnassigned) {
  const Variant U, N = Null();
  EXPECT_TRUE(U.IsEmpty());
  EXPECT_TRUE(VarIsEmpty(Unassigned()));
  EXPECT_TRUE(N.IsNull());
  EXPECT_TRUE(N.IsNullOrEmpty() && U.IsNullOrEmpty());
  EXPECT_EQ(VarType(U), varEmpty);
  EXPECT_EQ(VarType(N), varNull);
  EXPECT_EQ(U.AsString(), "");
  EXPECT_EQ(N.AsString(), "");
  // Unassigned reads as zero; Null has no number, date or truth value.
  EXPECT_EQ(U.AsInt64(), 0);
  EXPECT_EQ(U.AsDouble(), 0);
  EXPECT_FALSE(U.AsBoolean());
  EXPECT_THROW(N.AsInt64(), EVariantError);
  EXPECT_THROW(N.AsDouble(), EVariantError);
  EXPECT_THROW(N.AsBoolean(), EVariantError);
  EXPECT_THROW(N.AsDateTime(), EVariantError);
}

TEST(Variant, ConvertsThroughTheProcessLocale) {
  EXPECT_EQ(Variant(12.5).AsString(), "12,5");
  EXPECT_EQ(Variant::Currency(1500).AsString(), "1500");
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant(false).AsString(), "False");
  EXPECT_EQ(Variant(int64_t{-9000000000}).AsString(), "-9000000000");
  EXPECT_EQ(Variant(EncodeDate(1998, 12, 31)).AsString(), "31/12/1998");
  EXPECT_EQ(Variant(TDateTime(EncodeDate(1998, 12, 31).Val + 0.75)).AsString(),
            "31/12/1998 18:00:00");
  EXPECT_DOUBLE_EQ(Variant("1500,5").AsDouble(), 1500.5);
  EXPECT_THROW(Variant("1500.5").AsDouble(), EVariantError);
  EXPECT_EQ(Variant("31/12/1998").AsDateTime(), EncodeDate(1998, 12, 31));
  {
    TLocaleScope English(TFormatSettings::English());
    EXPECT_EQ(Variant(12.5).AsString(), "12.5");
    EXPECT_DOUBLE_EQ(Variant("1500.5").AsDouble(), 1500.5);
    EXPECT_EQ(Variant("12/31/1998").AsDateTime(), EncodeDate(1998, 12, 31));
  }
}

TEST(Variant, NumericAndBooleanConversions) {
  EXPECT_EQ(Variant(2.5).AsInt64(), 3);  // half away from zero
  EXPECT_EQ(Variant(-2.5).AsInt64(), -3);
  EXPECT_EQ(Variant(2.4).AsInteger(), 2);
  EXPECT_EQ(Variant(" 42 ").AsInteger(), 42);
  EXPECT_EQ(Variant("2,6").AsInteger(), 3);
  EXPECT_EQ(Variant(true).AsInteger(), 1);
  EXPECT_THROW(Variant(1e300).AsInt64(), EVariantError);
  EXPECT_THROW(Variant("abc").AsInt64(), EVariantError);
  EXPECT_TRUE(Variant("TRUE").AsBoolean());
  EXPECT_FALSE(Variant("false").AsBoolean());
  EXPECT_TRUE(Variant(3).AsBoolean());
  EXPECT_THROW(Variant("quizá").AsBoolean(), EVariantError);
  try {
    Variant("abc").AsDouble();
    FAIL();
  } catch (const EVariantError& E) {
    EXPECT_EQ(E.Message(), "No se puede convertir el valor 'abc' (texto) a número");
  }
}

TEST(Variant, Equality) {
  const struct {
    Variant A, B;
    bool Equal;
  } Cases[] = {
      {Null(), Null(), true},
      {Variant(), Variant(), true},
      {Null(), Variant(), false},
      {Null(), Variant(0), false},
      {Variant(""), Null(), false},
      {Variant(3), Variant(int64_t{3}), true},
      {Variant(3), Variant(3.0), true},
      {Variant(3), Variant(3.5), false},
      {Variant(2.5), Variant::Currency(2.5), true},
      {Variant(int64_t{9007199254740993}), Variant(9007199254740992.0), false},
      {Variant("abc"), Variant("abc"), true},
      {Variant("abc"), Variant("ABC"), false},
      {Variant("3"), Variant(3), false},
      {Variant(true), Variant(true), true},
      {Variant(true), Variant(1), false},
      {Variant(EncodeDate(2000, 1, 1)), Variant(EncodeDate(2000, 1, 1)), true},
      {Variant(EncodeDate(2000, 1, 1)), Variant(EncodeDate(2000, 1, 2)), false},
      {Variant(EncodeDate(2000, 1, 1)), Variant(EncodeDate(2000, 1, 1).Val), false},
  };
  for (size_t i = 0; i < std::size(Cases); ++i) {
    EXPECT_EQ(Cases[i].A == Cases[i].B, Cases[i].Equal) << "case " << i;
    EXPECT_EQ(Cases[i].B == Cases[i].A, Cases[i].Equal) << "case " << i << " reversed";
  }
}

TEST(VariantArray, BoundsRedimAndCopyIndependence) {
  Variant A = VarArrayCreate(0, 2);
  EXPECT_TRUE(VarIsArray(A));
  EXPECT_EQ(VarArrayLowBound(A), 0);
  EXPECT_EQ(VarArrayHighBound(A), 2);
  EXPECT_TRUE(A[1].IsEmpty());
  A[0] = 1;
  A[1] = "dos";
  A[2] = Null();
  EXPECT_THROW(A[3], EVariantError);
  EXPECT_THROW(A[-1], EVariantError);

  Variant B = A;  // shares until written
  B[1] = "otro";
  EXPECT_EQ(A[1].AsString(), "dos");
  EXPECT_EQ(B[1].AsString(), "otro");
  EXPECT_FALSE(A == B);
  B[1] = "dos";
  EXPECT_TRUE(A == B);

  VarArrayRedim(B, 4);
  EXPECT_EQ(VarArrayHighBound(B), 4);
  EXPECT_EQ(VarArrayHighBound(A), 2);
  EXPECT_EQ(B[0].AsInteger(), 1);
  EXPECT_TRUE(B[2].IsNull());
  EXPECT_TRUE(B[4].IsEmpty());
  VarArrayRedim(B, 0);
  EXPECT_EQ(VarArrayHighBound(B), 0);
  VarArrayRedim(B, -1);  // empty array
  EXPECT_EQ(VarArrayHighBound(B), -1);

  const Variant Shifted = VarArrayCreate(1, 3);
  EXPECT_EQ(VarArrayLowBound(Shifted), 1);
  EXPECT_TRUE(Shifted[3].IsEmpty());
  EXPECT_FALSE(Shifted == VarArrayCreate(0, 2));  // same size, other bounds

  // Nested arrays stay independent too.
  Variant Outer = VarArrayCreate(0, 0);
  Outer[0] = VarArrayCreate(0, 1);
  Variant Copy = Outer;
  Copy[0][1] = 7;
  EXPECT_TRUE(Outer[0][1].IsEmpty());
  EXPECT_EQ(Copy[0][1].AsInteger(), 7);

  EXPECT_THROW(Variant(1)[0], EVariantError);
  EXPECT_THROW(Variant(1).ArrayHighBound(), EVariantError);
  EXPECT_THROW(A.AsString(), EVariantError);
  EXPECT_THROW(VarArrayCreate(3, 1), EVariantError);
}

}  // namespace
