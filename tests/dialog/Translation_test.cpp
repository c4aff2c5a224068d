// Condition translation: the last-decimal bounds of a float equality, and the worked examples
// of TraduceFiltro over a table of names, cities, prices, dates, flags and time stamps, each
// built in the form as the user builds it.
#include "DialogTestSupport.h"

using namespace kv;

using namespace dialogtest;

namespace {

TEST(AjustaUltimoDecimal, MovesTheLastTypedDecimalPlace) {
  const struct {
    const char* Text;
    const char* Lower;
    const char* Upper;
  } Cases[] = {
      {"3,5", "3,4", "3,6"},      {"10", "9", "11"},         {"0,25", "0,24", "0,26"},
      {"-2", "-3", "-1"},         {"-0,5", "-0,6", "-0,4"},  {"0", "-1", "1"},
      {" 7,25 ", "7,24", "7,26"}, {"1,5e1", "14", "16"},     {"25e-3", "0,024", "0,026"},
      {"+4,0", "3,9", "4,1"},     {"9,99", "9,98", "10,00"}, {"-0,01", "-0,02", "0,00"},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(AjustaUltimoDecimal(C.Text, -1), C.Lower) << C.Text;
    EXPECT_EQ(AjustaUltimoDecimal(C.Text, +1), C.Upper) << C.Text;
  }
  for (const char* NotANumber : {"abc", "", "3.5", "1,2,3", "e5", "--1"})
    EXPECT_EQ(AjustaUltimoDecimal(NotANumber, 1), "") << NotANumber;
}

// Decimals counted in binary gave bounds with a dozen wrong digits for these.
TEST(AjustaUltimoDecimal, CountsTheDecimalsTheUserTypedNotBinaryOnes) {
  EXPECT_EQ(AjustaUltimoDecimal("0,1", -1), "0,0");
  EXPECT_EQ(AjustaUltimoDecimal("0,1", 1), "0,2");
  EXPECT_EQ(AjustaUltimoDecimal("1,15", -1), "1,14");
  EXPECT_EQ(AjustaUltimoDecimal("1,15", 1), "1,16");
  EXPECT_EQ(AjustaUltimoDecimal("2,675", -1), "2,674");
  EXPECT_EQ(AjustaUltimoDecimal("2,675", 1), "2,676");
  EXPECT_EQ(AjustaUltimoDecimal("2,50", 1), "2,51") << "a typed trailing zero is a decimal";
  EXPECT_EQ(AjustaUltimoDecimal("123456789012345678901,5", 1), "123456789012345678901,6");
}

// The bounds always use the comma; under a locale with the point the text is read with it.
TEST(AjustaUltimoDecimal, BoundsUseTheCommaWhateverTheLocale) {
  const TFormatSettings Saved = FormatSettings();
  FormatSettings() = TFormatSettings::English();
  EXPECT_EQ(AjustaUltimoDecimal("3.5", 1), "3,6");
  EXPECT_EQ(AjustaUltimoDecimal("3,5", 1), "");
  FormatSettings() = Saved;
}

// An "igual a" on float columns now finds the values the user sees.
TEST(AjustaUltimoDecimal, EqualityOnAFloatColumnFindsTheTypedValue) {
  TTable T;
  OpenTable(T, "CLIENTES.DB");
  TSearchDialog D;
  D.SetDataSet(&T);
  std::vector<std::string> Found;
  OnForm(D, [&](TSearchDialogBox& F) {
    Pick(F.CCampo, "Limit");
    for (const char* Value : {"0,1", "1,15", "2,675"}) {
      Erase(F.ETValor);
      Type(F.ETValor, Value);
      EXPECT_TRUE(F.SPSiguiente->isEnabled()) << Value;
      Found.push_back(T.FieldByName("Company")->AsString());
    }
  });
  EXPECT_TRUE(D.Execute());
  D.Liberate();
  EXPECT_EQ(Found, (std::vector<std::string>{"Bahía Azul", "Corales SA", "Diana Buceo"}));
}

class TraduceFiltroTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenPrueba(Prueba);
    Dialog.SetDataSet(&Prueba);
  }
  // Builds the condition in the form and returns its translation.
  std::string Translate(const std::function<void(TSearchDialogBox&)>& Build) {
    std::string Result;
    OnForm(
        Dialog,
        [&](TSearchDialogBox& F) {
          Build(F);
          Result = F.TraduceFiltro();
        },
        TEnd::Cancel);
    EXPECT_FALSE(Dialog.Execute());
    return Result;
  }
  std::string Translate(const std::string& Col, const std::string& Cond, const std::string& V) {
    return Translate([&](TSearchDialogBox& F) {
      Pick(F.CCampo, Col);
      Pick(F.CCondicion, Cond);
      Type(F.ETValor, V);
    });
  }
  TTable Prueba;
  TSearchDialog Dialog;
};

TEST_F(TraduceFiltroTest, TextAndNumberColumns) {
  EXPECT_EQ(Translate("Nombre", "contiene", "ana"), "(NOMBRE><'ana')");
  EXPECT_EQ(Translate("Nombre", "empieza por", "Ana"), "(NOMBRE=='Ana')");
  EXPECT_EQ(Translate("Precio", "igual a", "3,5"), "((PRECIO>'3,4' and PRECIO<'3,6'))");
  EXPECT_EQ(Translate("Precio", "igual a", "10"), "((PRECIO>'9' and PRECIO<'11'))");
  EXPECT_EQ(Translate("Precio", "igual a", "abc"), "((PRECIO>'abc' and PRECIO<'abc'))");
  EXPECT_EQ(Translate("Precio", "igual a", "3.5"), "((PRECIO>'3.5' and PRECIO<'3.5'))")
      << "a point where the locale wants a comma passes through raw";
  EXPECT_EQ(Translate("Precio", "mayor que", "10"), "(PRECIO>'10')");
  EXPECT_EQ(Translate("Nombre", "igual a", "O'Brien"), "(NOMBRE='O'Brien')")
      << "a quote is inserted unchanged";
}

TEST_F(TraduceFiltroTest, DateFlagAndTimeStampColumns) {
  EXPECT_EQ(Translate([](TSearchDialogBox& F) {
              Pick(F.CCampo, "Fecha");
              Pick(F.CCondicion, "menor o igual a");
              F.DTValor->SetDate(EncodeDate(2000, 12, 25));
            }),
            "(FECHA<='25/12/2000')");
  EXPECT_EQ(Translate([](TSearchDialogBox& F) {
              Pick(F.CCampo, "Activo");
              Pick(F.CCondicion, "distinto a");
              F.CBValor->SetChecked(false);
            }),
            "(ACTIVO<>'false')");
  EXPECT_EQ(Translate([](TSearchDialogBox& F) {
              Pick(F.CCampo, "Activo");
              F.CBValor->SetChecked(true);
            }),
            "(ACTIVO='true')");
  EXPECT_EQ(Translate([](TSearchDialogBox& F) {
              Pick(F.CCampo, "Alta");
              Pick(F.CCondicion, "mayor o igual a");
              F.DT1Valor->SetDate(EncodeDate(2000, 12, 25));
              F.HT1Valor->SetTime(EncodeTime(8, 30, 0));
            }),
            "(ALTA>='25/12/2000 08:30:00')");
}

TEST_F(TraduceFiltroTest, AllColumnsJoinsEveryTextColumn) {
  EXPECT_EQ(Translate("Todas las columnas", "contiene", "ana"), "(NOMBRE><'ana' or CIUDAD><'ana')");
  TTable Numbers;
  OpenTable(Numbers, "NUMEROS.DB");
  Dialog.SetDataSet(&Numbers);
  EXPECT_EQ(Translate("Todas las columnas", "igual a", "1"), "()");
}

}  // namespace
