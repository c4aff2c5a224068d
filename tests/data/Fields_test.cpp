// Field properties a data module declares: display formats on every numeric kind, money shown
// or not, and the checks of a value against range, required and a custom constraint.
#include <gtest/gtest.h>

#include "../core/TestLocale.h"
#include "DB.h"

using namespace kv;

namespace {

// A one-record dataset holding V in a persistent field of kind T, with display format Format.
template <class T>
std::string Shown(const std::string& Format, const Variant& V) {
  TMemDataSet DS;
  auto* F = DS.AddField<T>("N");
  F->SetDisplayFormat(Format);
  DS.CreateDataSet();
  DS.AppendRecord({V});
  return F->DisplayText();
}

TEST(FieldDisplayFormat, PatternsOnFloatIntegerAndCurrencyFields) {
  TLocaleScope Spanish(TFormatSettings::Spanish());
  const struct {
    const char* Format;
    double Value;
    const char* Text;
  } Cases[] = {
      {"'#'0000", 1003, "#1003"},
      {"PN-00000", 900, "PN-00900"},
      {"#%", 10, "10%"},
      {"##.0 MG", 1234.56, "1234,6 MG"},
      {"CN 0000", 1221, "CN 1221"},
      {"Emp'#' 0000", 28, "Emp# 0028"},
      {"0.00%", 8.5, "8,50%"},
      {"VN 0000", 2641, "VN 2641"},
      {"##.0 MG", 0.04, ",0 MG"},
      {"#%", 0, "%"},
      {"0.0'%' x", 5, "5,0% x"},
      {"\\%0", 3, "%3"},
      {"0.0\"%\"", 12.25, "12,3%"},
      {"0%;(0%)", -7, "(7%)"},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(Shown<TFloatField>(C.Format, C.Value), C.Text) << C.Format;
    EXPECT_EQ(Shown<TCurrencyField>(C.Format, C.Value), C.Text) << C.Format;
    if (C.Value == static_cast<int>(C.Value)) {
      EXPECT_EQ(Shown<TIntegerField>(C.Format, static_cast<int>(C.Value)), C.Text) << C.Format;
    }
  }
}

TEST(FieldDisplayFormat, TheFormatShowsOnlyInDisplayTextAndKeepsItsText) {
  TLocaleScope Spanish(TFormatSettings::Spanish());
  TMemDataSet DS;
  auto* Rate = DS.AddField<TFloatField>("TaxRate");
  Rate->SetDisplayFormat("0.00%");
  DS.CreateDataSet();
  DS.AppendRecord({21.0});
  EXPECT_EQ(Rate->DisplayFormat(), "0.00%");
  EXPECT_EQ(Rate->DisplayText(), "21,00%");
  EXPECT_EQ(Rate->AsString(), "21");
  EXPECT_EQ(Rate->Text(), "21");
  Rate->SetDisplayFormat("");
  EXPECT_EQ(Rate->DisplayText(), "21");
}

TEST(FieldDisplayFormat, CurrencyFieldShowsMoneyUnlessToldNot) {
  TLocaleScope Spanish(TFormatSettings::Spanish());
  TMemDataSet DS;
  auto* Money = DS.AddField<TCurrencyField>("Freight");
  auto* Plain = DS.AddField<TCurrencyField>("ItemsTotal");
  Plain->SetCurrency(false);
  DS.CreateDataSet();
  DS.AppendRecord({1234.5, 1234.5});
  EXPECT_TRUE(Money->Currency());
  EXPECT_EQ(Money->DisplayText(), CurrToStrF(1234.5));
  EXPECT_EQ(Plain->DisplayText(), "1234,5");
  // A display format wins over the money format either way.
  Money->SetDisplayFormat("##.0 MG");
  EXPECT_EQ(Money->DisplayText(), "1234,5 MG");
}

// The message Validate raises for V, empty when it passes.
std::string Rejection(const TField& F, const Variant& V) {
  try {
    F.Validate(V);
    return std::string();
  } catch (const EDatabaseError& E) {
    return E.what();
  }
}

TEST(FieldValidate, RangeRequiredAndConstraintWithTheirMessages) {
  TLocaleScope Spanish(TFormatSettings::Spanish());
  TFloatField Vendor;
  Vendor.SetFieldName("VendorNo");
  Vendor.SetMinValue(1000);
  Vendor.SetMaxValue(9999);
  Vendor.SetConstraintErrorMessage("Vendor No has to be between 1000 and 9999");
  EXPECT_EQ(Rejection(Vendor, 1000.0), "");
  EXPECT_EQ(Rejection(Vendor, 9999.0), "");
  EXPECT_EQ(Rejection(Vendor, 999.5), "Vendor No has to be between 1000 and 9999");
  EXPECT_EQ(Rejection(Vendor, Variant::Null()), "");  // not required: empty passes

  TIntegerField Emp;
  Emp.SetFieldName("EmpNo");
  Emp.SetRequired(true);
  Emp.SetMinValue(1);
  Emp.SetMaxValue(9999);
  Emp.SetCustomConstraint("Value > 0");
  Emp.SetConstraintErrorMessage("EmpNo cannot be 0 or negative");
  EXPECT_EQ(Rejection(Emp, 28), "");
  EXPECT_EQ(Rejection(Emp, 0), "EmpNo cannot be 0 or negative");
  EXPECT_EQ(Rejection(Emp, -3), "EmpNo cannot be 0 or negative");
  // The constraint's message belongs to the constraint: a range failure says what it is.
  EXPECT_EQ(Rejection(Emp, 10000),
            "El valor 10000 del campo 'EmpNo' está fuera del intervalo de 1 a 9999");
  EXPECT_EQ(Rejection(Emp, Variant::Null()), "El campo 'EmpNo' necesita un valor");

  TFloatField Discount;  // MaxValue alone: the range starts at 0
  Discount.SetFieldName("Discount");
  Discount.SetMaxValue(100);
  EXPECT_EQ(Rejection(Discount, 50.0), "");
  EXPECT_EQ(Rejection(Discount, 100.5),
            "El valor 100,5 del campo 'Discount' está fuera del intervalo de 0 a 100");
  EXPECT_NE(Rejection(Discount, -1.0), "");

  TFloatField NoLimits;
  EXPECT_EQ(Rejection(NoLimits, -1e9), "");
}

TEST(FieldValidate, ConstraintNamesStandForTheValueAndNullTestsWork) {
  TStringField Company;
  Company.SetFieldName("Company");
  Company.SetSize(30);
  Company.SetCustomConstraint("X IS NOT NULL");
  Company.SetConstraintErrorMessage("Company Field has to have a value");
  EXPECT_EQ(Rejection(Company, "Náutica Cádiz"), "");
  EXPECT_EQ(Rejection(Company, Variant::Null()), "Company Field has to have a value");
  EXPECT_EQ(Rejection(Company, ""), "Company Field has to have a value");

  TFloatField CustNo;
  CustNo.SetFieldName("CustNo");
  CustNo.SetCustomConstraint("custno is not null and CustNo <> 1500");
  EXPECT_EQ(Rejection(CustNo, 1221.0), "");
  EXPECT_EQ(Rejection(CustNo, 1500.0),
            "El valor del campo 'CustNo' no cumple la restricción 'custno is not null and CustNo "
            "<> 1500'");
  CustNo.SetCustomConstraint("CustNo IS NULL or (Value >= 1000 and Value < 2000)");
  EXPECT_EQ(Rejection(CustNo, Variant::Null()), "");
  EXPECT_EQ(Rejection(CustNo, 1999.0), "");
  EXPECT_NE(Rejection(CustNo, 2000.0), "");
}

TEST(FieldValidate, AMalformedConstraintIsAnErrorNamingItNotACrash) {
  TFloatField F;
  F.SetFieldName("Qty");
  for (const char* Bad : {"Value >", "Value >< 3", "IS NOT NULL (", "Value = 'abc", "(Value > 1"}) {
    F.SetCustomConstraint(Bad);
    const std::string Msg = Rejection(F, 5.0);
    EXPECT_EQ(
        Msg.rfind("La restricción '" + std::string(Bad) + "' del campo 'Qty' no es válida: ", 0),
        0u)
        << Bad << " -> " << Msg;
  }
}

}  // namespace
