// Tests of the dataset filter language: tokens and positions, parse trees, errors that name the
// position and the token, and evaluation over a mixed-type dataset under two locales.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>

#include "DB.h"
#include "Filter.h"
#include "FilterLexer.h"
#include "FilterParser.h"

using namespace kv;

// Counts heap allocations, to check that testing a row allocates nothing.
namespace {
std::atomic<long> GAllocations{0};
}
// Out of line, so that the compiler does not pair the malloc inside with the free at call sites.
__attribute__((noinline)) void* operator new(size_t N) {
  GAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* P = std::malloc(N ? N : 1)) return P;
  throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* P) noexcept {
  std::free(P);
}
__attribute__((noinline)) void operator delete(void* P, size_t) noexcept {
  std::free(P);
}

namespace {

using K = TFilterTokenKind;

// ---- tokens

std::string KindName(K Kind) {
  static const char* Names[] = {"Name", "String", "Number", "Null", "True", "False",
                                "And",  "Or",     "Not",    "(",    ")",    "=",
                                "<>",   "<",      ">",      "<=",   ">=",   "End"};
  return Names[static_cast<int>(Kind)];
}

// "Kind:Value@Pos" for every token but End.
std::string Dump(std::string_view Text) {
  std::string Out;
  for (const TFilterToken& T : TokenizeFilter(Text)) {
    if (T.Kind == K::End) break;
    if (!Out.empty()) Out += ' ';
    Out += KindName(T.Kind) + ":" + T.Value + "@" + std::to_string(T.Pos);
  }
  return Out;
}

TEST(FilterLexer, TokensValuesAndPositions) {
  struct TCase {
    const char* Text;
    const char* Tokens;
  } Cases[] = {
      {"Name='x'", "Name:Name@1 =:=@5 String:x@6"},
      {"  Qty >= 10", "Name:Qty@3 >=:>=@7 Number:10@10"},
      {"[Last Name]<>'O''Brien'", "Name:Last Name@1 <>:<>@12 String:O'Brien@14"},
      {"a<b AND c>d", "Name:a@1 <:<@2 Name:b@3 And:AND@5 Name:c@9 >:>@10 Name:d@11"},
      {"not(x<=-1.5)", "Not:not@1 (:(@4 Name:x@5 <=:<=@6 Number:-1.5@8 ):)@12"},
      {"f = NULL or g = True oR h = FALSE",
       "Name:f@1 =:=@3 Null:NULL@5 Or:or@10 Name:g@13 =:=@15 True:True@17 Or:oR@22 Name:h@25 "
       "=:=@27 False:FALSE@29"},
      {"Año = 'ñú' and Ñu > 1",
       "Name:Año@1 =:=@5 String:ñú@7 And:and@12 Name:Ñu@16 >:>@19 Number:1@21"},
      {"Nota = ''''", "Name:Nota@1 =:=@6 String:'@8"},
      {"Nota = ''", "Name:Nota@1 =:=@6 String:@8"},
      {"2003Ventas > 1e3", "Name:2003Ventas@1 >:>@12 Number:1e3@14"},
      {"Nombre = 'Ab*'", "Name:Nombre@1 =:=@8 String:Ab*@10"},
      {"", ""},
  };
  for (const auto& C : Cases) EXPECT_EQ(Dump(C.Text), C.Tokens) << C.Text;

  auto Tokens = TokenizeFilter("ab = 'c'  ");
  ASSERT_EQ(Tokens.size(), 4u);
  EXPECT_EQ(Tokens.back().Kind, K::End);
  EXPECT_EQ(Tokens.back().Pos, 11);
  EXPECT_EQ(Tokens[2].Source, "'c'");
}

// ---- parse trees

TEST(FilterParser, TreesAndPrecedence) {
  struct TCase {
    const char* Text;
    const char* Tree;
  } Cases[] = {
      {"Name = 'x'", "(= Name 'x')"},
      {"a = 1 or b = 2 and c = 3", "(or (= a 1) (and (= b 2) (= c 3)))"},
      {"(a = 1 or b = 2) and c = 3", "(and (or (= a 1) (= b 2)) (= c 3))"},
      {"not a = 1 and b = 2", "(and (not (= a 1)) (= b 2))"},
      {"not (a = 1 and b = 2)", "(not (and (= a 1) (= b 2)))"},
      {"NOT NOT a <> NULL", "(not (not (<> a NULL)))"},
      {"a = 1 or b = 2 or c = 3", "(or (or (= a 1) (= b 2)) (= c 3))"},
      {"5 < Qty", "(< 5 Qty)"},
      {"[Last Name] >= Name", "(>= [Last Name] Name)"},
      {"((a=1))", "(= a 1)"},
      {"x = true and y = False", "(and (= x true) (= y False))"},
  };
  for (const auto& C : Cases) {
    auto E = ParseFilter(C.Text);
    ASSERT_TRUE(E) << C.Text;
    EXPECT_EQ(FilterExprToString(*E), C.Tree) << C.Text;
  }
  EXPECT_FALSE(ParseFilter(""));
  EXPECT_FALSE(ParseFilter(" \t "));
}

std::string ErrorOf(const std::string& Text) {
  try {
    ParseFilter(Text);
  } catch (const EDatabaseError& E) {
    return E.Message();
  }
  return "(sin error)";
}

TEST(FilterParser, ErrorsNamePositionAndToken) {
  const std::string P = "Filtro no válido en la posición ";
  struct TCase {
    const char* Text;
    std::string Message;
  } Cases[] = {
      {"Price and Qty = 1", P + "7 ('and'): se esperaba un operador de comparación"},
      {"Qty = ", P + "7 (fin del texto): se esperaba un campo o un valor"},
      {"Qty = and", P + "7 ('and'): se esperaba un campo o un valor"},
      {"(Qty = 1", P + "9 (fin del texto): se esperaba 'and', 'or' o ')'"},
      {"Qty = 1)", P + "8 (')'): sobra el paréntesis de cierre"},
      {"Qty = 1 Price = 2", P + "9 ('Price'): se esperaba 'and', 'or' o el fin del texto"},
      {"Qty = 1 = 2", P + "9 ('='): se esperaba 'and', 'or' o el fin del texto"},
      {"'a' = 'b'", P + "7 ('b'): se esperaba un nombre de campo"},
      {"Name >< 'x'", P + "6 ('><'): operador no válido"},
      {"Name == 'x'", P + "6 ('=='): operador no válido"},
      {"Name != 'x'", P + "6 ('!='): operador no válido"},
      {"Name = 'abc", P + "8 ('abc): falta la comilla de cierre"},
      {"[Last Name = 'x'", P + "1 ('[Last Name = 'x''): falta el corchete de cierre"},
      {"[] = 1", P + "1 ('[]'): falta el nombre del campo"},
      {"Name = 'x' # 1", P + "12 ('#'): carácter no válido"},
      {"Ñu = 'á' and € = 1", P + "14 ('€'): carácter no válido"},
      {"Qty = 1.2.3", P + "7 ('1.2.3'): número no válido"},
      {"and", P + "1 ('and'): se esperaba un campo o un valor"},
      {"not", P + "4 (fin del texto): se esperaba un campo o un valor"},
      {"()", P + "2 (')'): se esperaba un campo o un valor"},
  };
  for (const auto& C : Cases) EXPECT_EQ(ErrorOf(C.Text), C.Message) << C.Text;

  // Deep nesting is refused, not a stack overflow.
  EXPECT_NE(ErrorOf(std::string(10000, '(') + "a=1").find("anidamiento"), std::string::npos);
  std::string Nots;
  for (int I = 0; I < 30000; ++I) Nots += "not ";
  EXPECT_NE(ErrorOf(Nots + "a=1").find("anidamiento"), std::string::npos);
}

// ---- evaluation

// Saves the process locale and puts it back.
struct TLocaleGuard {
  TFormatSettings Saved = FormatSettings();
  ~TLocaleGuard() { FormatSettings() = Saved; }
};

TDateTime Dt(int Y, int M, int D, int H = 0, int N = 0, int S = 0) {
  return TDateTime(EncodeDate(Y, M, D).Val + EncodeTime(H, N, S).Val);
}
TDateTime Tm(int H, int N, int S) {
  return EncodeTime(H, N, S);
}

struct TEvalCase {
  const char* Filter;
  TFilterOptions Options;
  const char* Ids;
};

class FilterEval : public ::testing::Test {
 protected:
  TMemDataSet DS;

  void SetUp() override {
    auto& D = DS.FieldDefs();
    D.Add("Id", ftInteger);
    D.Add("Name", ftString, 20);
    D.Add("Qty", ftInteger);
    D.Add("Price", ftFloat);
    D.Add("Amount", ftCurrency);
    D.Add("Active", ftBoolean);
    D.Add("Born", ftDate);
    D.Add("Stamp", ftDateTime);
    D.Add("At", ftTime);
    D.Add("Last Name", ftString, 20);
    D.Add("City", ftString, 20);
    DS.CreateDataSet();
    const Variant N = Null();
    DS.AppendRecord({1, "Ángel", 10, 12.5, Variant::Currency(1500.5), true, Dt(1998, 12, 31),
                     Dt(1998, 12, 31, 8, 30), Tm(8, 30, 0), "O'Brien", "Madrid"});
    DS.AppendRecord({2, "ángel", 20, 7.25, Variant::Currency(99.99), false, Dt(2000, 1, 1),
                     Dt(2000, 1, 1), Tm(17, 45, 0), "García", "madrid"});
    DS.AppendRecord({3, "Bernardo", N, 10.0, N, N, N, N, N, N, "Barcelona"});
    DS.AppendRecord({4, "", 10, N, Variant::Currency(0), true, Dt(1975, 6, 15),
                     Dt(1975, 6, 15, 23, 59, 59), Tm(0, 0, 0), "Zapata", N});
    DS.AppendRecord({5, "Ángela", -5, 10.0, Variant::Currency(1500.5), false, Dt(1998, 12, 31),
                     Dt(1998, 12, 31, 23, 0), Tm(12, 0, 0), "Núñez", "Madrid"});
    DS.AppendRecord({6, "Zoe", 30, 30.0, Variant::Currency(12), N, Dt(2001, 2, 3),
                     Dt(2001, 2, 3, 12, 0), Tm(23, 59, 59), "Young", "ZOE"});
  }

  // Ids of the rows the filter keeps, as "1,3".
  std::string Ids(const std::string& Filter, TFilterOptions Options = 0) {
    DS.SetFiltered(false);
    DS.SetFilterOptions(Options);
    DS.SetFilter(Filter);
    DS.SetFiltered(true);
    std::string Out;
    for (DS.First(); !DS.Eof(); DS.Next()) {
      if (!Out.empty()) Out += ',';
      Out += DS.FieldByName("Id")->AsString();
    }
    return Out;
  }

  void Check(std::initializer_list<TEvalCase> Cases) {
    for (const auto& C : Cases) EXPECT_EQ(Ids(C.Filter, C.Options), C.Ids) << C.Filter;
  }

  std::string CompileError(const std::string& Filter) {
    try {
      TFilterProgram::Compile(Filter, DS);
    } catch (const EDatabaseError& E) {
      return E.Message();
    }
    return "(sin error)";
  }
};

constexpr TFilterOptions CI = foCaseInsensitive;

TEST_F(FilterEval, TextsCaseAndPrefix) {
  TLocaleGuard G;
  Check({
      {"Name = 'Ángel'", 0, "1"},
      {"Name = 'ángel'", 0, "2"},
      {"Name = 'ÁNGEL'", 0, ""},
      {"Name = 'ÁNGEL'", CI, "1,2"},
      {"name = 'ángel'", CI, "1,2"},
      {"Name <> 'ÁNGEL'", CI, "3,5,6"},
      {"Name = 'Áng*'", 0, "1,5"},
      {"Name = 'áng*'", 0, "2"},
      {"Name = 'ÁNG*'", CI, "1,2,5"},
      {"Name = 'Áng*'", foNoPartialCompare, ""},
      {"Name <> 'Áng*'", 0, "2,3,6"},
      {"Name = '*'", 0, "1,2,3,5,6"},
      {"Name > 'Á'", 0, "1,2,5"},
      {"Name < 'B'", 0, ""},
      {"Name <= 'bernardo'", 0, "3,6"},
      {"Name <= 'BERNARDO'", CI, "3"},
      {"City = 'madrid'", 0, "2"},
      {"City = 'MADRID'", CI, "1,2,5"},
      {"[Last Name] = 'O''Brien'", 0, "1"},
      {"[last name] > 'M'", 0, "1,4,5,6"},
      {"'Madrid' = City", 0, "1,5"},
      {"'Áng*' = Name", 0, "1,5"},
      {"Name = City", CI, "6"},
      {"Name = City", 0, ""},
      {"Name = 123", 0, ""},
  });
}

TEST_F(FilterEval, NumbersDatesAndBooleans) {
  TLocaleGuard G;
  FormatSettings() = TFormatSettings::Spanish();
  Check({
      {"Qty > 5", 0, "1,2,4,6"},
      {"Qty >= 10 and Qty <= 20", 0, "1,2,4"},
      {"Qty = 10.0", 0, "1,4"},
      {"Qty < 10.5 and Qty > 9.5", 0, "1,4"},
      {"Qty < '0'", 0, "5"},
      {"Qty > -6", 0, "1,2,4,5,6"},
      {"5 < Qty", 0, "1,2,4,6"},
      {"Price = 12.5", 0, "1"},
      {"Price = '12,5'", 0, "1"},
      {"'12,5' = Price", 0, "1"},
      {"Price > Qty", 0, "1,5"},
      {"Price = Qty", 0, "6"},
      {"Amount = '1500,5'", 0, "1,5"},
      {"Amount >= '1500,5' or Born < '1/1/1999'", 0, "1,4,5"},
      {"Amount < 100", 0, "2,4,6"},
      {"Active = true", 0, "1,4"},
      {"Active = 'FALSE'", 0, "2,5"},
      {"Active <> True", 0, "2,5"},
      {"Active = 1", 0, "1,4"},
      {"Born = '31/12/1998'", 0, "1,5"},
      {"Born > '31/12/1998'", 0, "2,6"},
      {"Stamp = '31/12/1998 08:30:00'", 0, "1"},
      {"Stamp >= '31/12/1998'", 0, "1,2,5,6"},
      {"Stamp < '31/12/1998 12:00'", 0, "1,4"},
      {"At < '12:00:00'", 0, "1,4"},
      {"At >= '12:00'", 0, "2,5,6"},
      {"Born < Stamp", 0, "1,4,5,6"},
  });
}

TEST_F(FilterEval, NullAndEmpty) {
  Check({
      {"Name = ''", 0, "4"},
      {"Name = NULL", 0, "4"},
      {"Name <> NULL", 0, "1,2,3,5,6"},
      {"Name <> ''", 0, "1,2,3,5,6"},
      {"NULL = Name", 0, "4"},
      {"Qty = ''", 0, "3"},
      {"Qty = null", 0, "3"},
      {"Active = NULL", 0, "3,6"},
      {"Born <> ''", 0, "1,2,4,5,6"},
      // Ordering against an empty value, or an empty value against anything, is false.
      {"Qty > NULL", 0, ""},
      {"Name > ''", 0, ""},
      {"Qty <> 10", 0, "2,5,6"},
      {"City <> 'Madrid'", 0, "2,3,6"},
      {"Amount > Qty", 0, "1,2,5"},
      {"not Qty = 10", 0, "2,3,5,6"},
  });
}

TEST_F(FilterEval, ConnectorsAndPrecedence) {
  Check({
      {"Qty = 10 or Qty = 20 and Price > 100", 0, "1,4"},
      {"(Qty = 10 or Qty = 20) and Price > 10", 0, "1"},
      {"not Qty = 10 and Qty > 0", 0, "2,6"},
      {"NOT (Qty = 10 OR Qty = 20)", 0, "3,5,6"},
      {"Qty = 10 AnD Price = 12.5", 0, "1"},
      {"Id = 1 or Id = 3 or Id = 6", 0, "1,3,6"},
      {"not not Id = 2", 0, "2"},
      {"", 0, "1,2,3,4,5,6"},
      {"   ", 0, "1,2,3,4,5,6"},
  });
}

TEST_F(FilterEval, ConstantsFollowTheLocale) {
  TLocaleGuard G;
  FormatSettings() = TFormatSettings::English();
  Check({
      {"Price = '12.5'", 0, "1"},
      {"Amount = '1500.5'", 0, "1,5"},
      {"Born = '12/31/1998'", 0, "1,5"},
      {"Stamp = '12/31/1998 08:30:00'", 0, "1"},
      // Unquoted numbers always use '.'.
      {"Price = 12.5", 0, "1"},
  });
  EXPECT_NE(CompileError("Born = '31/12/1998'").find("no es un valor válido para el campo Born"),
            std::string::npos);

  FormatSettings() = TFormatSettings::Spanish();
  Check({
      {"Price = '12,5'", 0, "1"},
      {"Born = '31/12/1998'", 0, "1,5"},
  });
  EXPECT_NE(CompileError("Born = '12/31/1998'").find("no es un valor válido"), std::string::npos);
}

TEST_F(FilterEval, CompileErrorsNameFieldPositionAndToken) {
  TLocaleGuard G;
  FormatSettings() = TFormatSettings::Spanish();
  const std::string P = "Filtro no válido en la posición ";
  struct TCase {
    const char* Filter;
    std::string Message;
  } Cases[] = {
      {"Nombre = 'x'", "Campo 'Nombre' no encontrado (posición 1)"},
      {"Qty = 10 and Xyz > 1", "Campo 'Xyz' no encontrado (posición 14)"},
      {"Name = 'ñ' and Ñu > 1", "Campo 'Ñu' no encontrado (posición 16)"},
      {"Name = Ciudad", "Campo 'Ciudad' no encontrado (posición 8)"},
      {"Amount = '1,2,3'", P + "10: '1,2,3' no es un valor válido para el campo Amount"},
      {"Born = '31/13/1998'", P + "8: '31/13/1998' no es un valor válido para el campo Born"},
      {"Active = 'sí'", P + "10: 'sí' no es un valor válido para el campo Active"},
      {"Qty = true", P + "7: 'true' no es un valor válido para el campo Qty"},
      {"Name = false", P + "8: 'false' no es un valor válido para el campo Name"},
      {"Qty = 'diez'", P + "7: 'diez' no es un valor válido para el campo Qty"},
      {"Amount = 'Áng*'", P + "10: 'Áng*' no es un valor válido para el campo Amount"},
      {"Price = Name", P + "7: no se puede comparar el campo Price con el campo Name"},
      {"Price and Qty = 1", P + "7 ('and'): se esperaba un operador de comparación"},
  };
  for (const auto& C : Cases) EXPECT_EQ(CompileError(C.Filter), C.Message) << C.Filter;
}

TEST_F(FilterEval, BadFilterKeepsThePreviousOne) {
  EXPECT_EQ(Ids("Qty = 10"), "1,4");
  DS.Next();
  EXPECT_THROW(DS.SetFilter("Qty = 'diez'"), EDatabaseError);
  EXPECT_EQ(DS.Filter(), "Qty = 10");
  EXPECT_EQ(DS.RecordCount(), 2);
  EXPECT_EQ(DS.RecNo(), 2);
}

TEST_F(FilterEval, LookupAndCalculatedFields) {
  // A lookup over a second dataset and a calculated field go through field values.
  TMemDataSet Cities;
  Cities.FieldDefs().Add("City", ftString, 20);
  Cities.FieldDefs().Add("Country", ftString, 20);
  Cities.CreateDataSet();
  Cities.AppendRecord({"Madrid", "España"});
  Cities.AppendRecord({"Barcelona", "España"});
  Cities.AppendRecord({"ZOE", "Grecia"});

  TMemDataSet D;
  D.AddField<TIntegerField>("Id");
  D.AddField<TStringField>("City");
  auto* Twice = D.AddField<TIntegerField>("Twice");
  Twice->SetCalculated(true);
  Twice->OnCalcValue = [](const TDataSet& S, TBookmark Row) -> Variant {
    return static_cast<int>(S.FieldByName("Id")->ValueAt(Row).AsInteger() * 2);
  };
  D.AddLookupField("Country", ftString, &Cities, "City", "City", "Country", 20);
  D.CreateDataSet();
  D.AppendRecord({1, "Madrid"});
  D.AppendRecord({2, "ZOE"});
  D.AppendRecord({3, "Lima"});
  D.AppendRecord({4, "Barcelona"});

  auto Rows = [&](const std::string& F, TFilterOptions O = 0) {
    auto Prog = TFilterProgram::Compile(F, D);
    std::string Out;
    for (uint32_t R = 0; R < 4; ++R)
      if (Prog->Matches(R, O)) Out += (Out.empty() ? "" : ",") + std::to_string(R + 1);
    return Out;
  };
  EXPECT_EQ(Rows("Twice > 4"), "3,4");
  EXPECT_EQ(Rows("Twice = Id"), "");
  EXPECT_EQ(Rows("Country = 'España'"), "1,4");
  EXPECT_EQ(Rows("Country = 'ESP*'", CI), "1,4");
  EXPECT_EQ(Rows("Country = NULL"), "3");
  EXPECT_EQ(Rows("Country <> City"), "1,2,4");
}

// ---- cost per row

TEST(FilterCost, DataFieldsAllocateNothingPerRow) {
  TMemDataSet D;
  D.FieldDefs().Add("Name", ftString, 20);
  D.FieldDefs().Add("Code", ftString, 20);
  D.FieldDefs().Add("Qty", ftInteger);
  D.FieldDefs().Add("Price", ftFloat);
  D.CreateDataSet();
  D.AppendRecord({"Ángel", "abc", 1, 2.5});
  D.AppendRecord({"zoe", "XYZ", 2, 3.5});
  // Equality and prefixes with any text; ordering ignoring case only over ASCII texts, which
  // is what the case-insensitive order promises to do without allocating.
  struct TCase {
    const char* Filter;
    int Hits;  // rows kept over the 4 options x 2 rows
  } Cases[] = {
      {"Name = 'ÁNGEL' or Code > 'b' and not Qty = 1", 4},
      {"Name = 'án*' or Name = 'Z*'", 2},
      {"Price > Qty and Name <> NULL", 8},
      {"Price >= 2.5 and Code <> Name", 8},
      {"not Code = 'ABC'", 6},
  };
  for (const auto& C : Cases) {
    auto Prog = TFilterProgram::Compile(C.Filter, D);
    int Hits = 0;
    for (TFilterOptions O : {0u, 1u, 2u, 3u}) {
      Prog->Matches(0, O);  // warms per-thread buffers
      Prog->Matches(1, O);
      const long Before = GAllocations.load();
      for (uint32_t Row = 0; Row < 2; ++Row) Hits += Prog->Matches(Row, O);
      for (int I = 0; I < 1000; ++I) Prog->Matches(I % 2, O);
      EXPECT_EQ(GAllocations.load(), Before) << C.Filter << " options " << O;
    }
    EXPECT_EQ(Hits, C.Hits) << C.Filter;
  }
}

TEST(FilterCost, MillionRowsEquality) {
  auto S = std::make_shared<TTableStore>();
  S->AddColumn({"Name", ftString, 20, false});
  TColumn& C = S->Columns[0];
  const int N = 1000000;
  C.Reserve(N, N * 8);
  for (int I = 0; I < N; ++I) C.AppendString(I % 1000 == 7 ? "x" : "name" + std::to_string(I % 97));
  TMemDataSet D;
  D.OpenStore(S);
  for (TFilterOptions O : {0u, 1u}) {
    D.SetFilterOptions(O);
    D.SetFilter("Name = 'x'");
    auto T0 = std::chrono::steady_clock::now();
    D.SetFiltered(true);
    auto Ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
    EXPECT_EQ(D.RecordCount(), N / 1000);
    // About 10 ms in an optimised build; the generous bound only catches work per row gone
    // wrong, and is left out where the build is slowed down on purpose.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(Ms, 500.0) << "options " << O;
#endif
    std::printf("[ filter ] 1,000,000 rows, options %u: %.1f ms\n", O, Ms);
    D.SetFiltered(false);
  }
}

}  // namespace
