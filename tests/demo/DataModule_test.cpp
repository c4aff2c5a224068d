// The demo's data module on a generated sample database: tables, sources and master links, the
// persistent fields in their order with their properties, lookups, display texts, and data that
// honours every field's limits.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>

#include "Forms.h"
#include "SampleTable.h"
#include "Unit2.h"

using namespace kv;

namespace {

class DataModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FormatSettings() = TFormatSettings::Spanish();
    DM = std::make_unique<TDataModule2>();
  }
  std::unique_ptr<TDataModule2> DM;
};

TEST_F(DataModuleTest, TablesSourcesAndMasterLinks) {
  const struct {
    TTable* Table;
    const char* Name;
    const char* File;
    const char* Index;
    TDataSource* Master;
    const char* MasterFields;
  } Tables[] = {
      {DM->orders, "orders", "ORDERS.DB", "OrderNo", nullptr, ""},
      {DM->Customer, "Customer", "CUSTOMER.DB", "CustNo", DM->dsorders, "CustNo"},
      {DM->Items, "Items", "ITEMS.DB", "OrderNo", DM->dsorders, "OrderNo"},
      {DM->Parts, "Parts", "PARTS.DB", "PartNo", nullptr, ""},
      {DM->Table1, "Table1", "CUSTOMER.DB", "", nullptr, ""},
  };
  for (const auto& T : Tables) {
    SCOPED_TRACE(T.Name);
    EXPECT_TRUE(T.Table->Active());
    EXPECT_EQ(T.Table->Name(), T.Name);
    EXPECT_EQ(T.Table->Owner(), DM.get());
    EXPECT_EQ(T.Table->DatabaseName(), "DBDEMOS");
    EXPECT_EQ(T.Table->TableName(), T.File);
    EXPECT_EQ(T.Table->IndexFieldNames(), T.Index);
    EXPECT_EQ(T.Table->MasterSource(), T.Master);
    EXPECT_EQ(T.Table->MasterFields(), T.MasterFields);
  }
  EXPECT_EQ(DM->dsorders->DataSet(), DM->orders);
  EXPECT_EQ(DM->dsCustomer->DataSet(), DM->Customer);
  EXPECT_EQ(DM->dsItems->DataSet(), DM->Items);
  EXPECT_EQ(DM->Table1->FieldCount(), SampleTable("customer")->FieldCount());  // default fields
}

// "Name:type" of every field, in field order; lookups marked "+".
std::string Layout(const TDataSet& DS) {
  std::string S;
  for (int I = 0; I < DS.FieldCount(); ++I) {
    const TField* F = DS.Fields(I);
    S += (S.empty() ? "" : " ") + F->FieldName() + (F->Lookup() ? "+:" : ":") +
         FieldTypeName(F->DataType()).substr(2);
  }
  return S;
}

TEST_F(DataModuleTest, PersistentFieldsInTheirOrderMatchTheFilesColumns) {
  EXPECT_EQ(Layout(*DM->Items),
            "OrderNo:Float ItemNo:Float PartNo:Float Qty:Integer Discount:Float "
            "Description+:String ONHand+:String");
  EXPECT_EQ(Layout(*DM->Parts),
            "PartNo:Float VendorNo:Float Description:String OnHand:Float OnOrder:Float "
            "Cost:Currency ListPrice:Currency");
  EXPECT_EQ(Layout(*DM->orders),
            "Company+:String SaleDate:DateTime ShipDate:DateTime ItemsTotal:Currency "
            "OrderNo:Float CustNo:Float EmpNo:Integer ShipToContact:String ShipToAddr1:String "
            "ShipToAddr2:String ShipToCity:String ShipToState:String ShipToZip:String "
            "ShipToCountry:String ShipToPhone:String ShipVIA:String PO:String Terms:String "
            "PaymentMethod:String TaxRate:Float Freight:Currency AmountPaid:Currency");
  EXPECT_EQ(Layout(*DM->Customer),
            "CustNo:Float Company:String Addr1:String Addr2:String City:String State:String "
            "Zip:String Country:String Phone:String FAX:String TaxRate:Float Contact:String "
            "LastInvoiceDate:DateTime");
  // Every data field reads a column of the same type, at least as wide as the field.
  for (TTable* T : {DM->orders, DM->Customer, DM->Items, DM->Parts}) {
    for (int I = 0; I < T->FieldCount(); ++I) {
      const TField* F = T->Fields(I);
      if (F->Lookup()) continue;
      SCOPED_TRACE(T->Name() + "." + F->FieldName());
      ASSERT_GE(F->FieldNo(), 0);
      const TColumnDef& Col = T->Store()->Defs[F->FieldNo()];
      EXPECT_EQ(Col.DataType, F->DataType());
      if (F->DataType() == ftString) {
        EXPECT_GE(F->Size(), Col.Size);
      }
    }
  }
}

TEST_F(DataModuleTest, LabelsAlignmentAndSizesAsShown) {
  // Customer and part numbers read as codes, left-justified; every other number to the right.
  const std::set<TField*> Left = {DM->ordersCustNo, DM->CustomerCustNo, DM->ItemsPartNo,
                                  DM->PartsPartNo};
  for (TTable* T : {DM->orders, DM->Customer, DM->Items, DM->Parts})
    for (int I = 0; I < T->FieldCount(); ++I) {
      TField* F = T->Fields(I);
      SCOPED_TRACE(T->Name() + "." + F->FieldName());
      if (IsNumericType(F->DataType())) {
        EXPECT_EQ(F->Alignment(), Left.count(F) ? taLeftJustify : taRightJustify);
      }
      EXPECT_EQ(F->DisplayLabel(), F == DM->ordersItemsTotal ? "Items total" : F->FieldName());
    }
  EXPECT_FALSE(DM->ordersItemsTotal->Currency());
  EXPECT_TRUE(DM->ordersFreight->Currency());
  EXPECT_EQ(DM->ordersCompany->Size(), 40);
  EXPECT_EQ(DM->ItemsDescription->Size(), 20);  // the platform's default
  EXPECT_EQ(DM->CustomerCompany->Size(), 30);
  EXPECT_TRUE(DM->ordersCustNo->Required());
  EXPECT_TRUE(DM->ordersEmpNo->Required());
  EXPECT_FALSE(DM->CustomerCustNo->Required());
}

TEST_F(DataModuleTest, MovingTheOrderMovesItsCustomerAndItems) {
  auto AllItems = SampleTable("items");
  std::set<double> Seen;
  DM->orders->First();
  for (int Step = 0; Step < 25 && !DM->orders->Eof(); ++Step, DM->orders->Next()) {
    const double OrderNo = DM->ordersOrderNo->AsFloat();
    SCOPED_TRACE("order " + std::to_string(OrderNo));
    Seen.insert(OrderNo);
    ASSERT_EQ(DM->Customer->RecordCount(), 1);
    EXPECT_EQ(DM->CustomerCustNo->AsFloat(), DM->ordersCustNo->AsFloat());
    int Expected = 0;
    for (int I = 0; I < AllItems->RecordCount(); ++I)
      if (AllItems->FieldByName("OrderNo")->ValueAt(AllItems->RowAt(I)).AsDouble() == OrderNo)
        ++Expected;
    ASSERT_GT(Expected, 0);
    EXPECT_EQ(DM->Items->RecordCount(), Expected);
    double PrevItem = 0;
    for (DM->Items->First(); !DM->Items->Eof(); DM->Items->Next()) {
      EXPECT_EQ(DM->ItemsOrderNo->AsFloat(), OrderNo);
      EXPECT_GT(DM->ItemsItemNo->AsFloat(), PrevItem);  // in the index's order
      PrevItem = DM->ItemsItemNo->AsFloat();
    }
  }
  EXPECT_EQ(Seen.size(), 25u);
  // Going to an order far away by Locate moves the details the same way.
  ASSERT_TRUE(DM->orders->Locate("OrderNo", 1150.0, 0));
  EXPECT_EQ(DM->CustomerCustNo->AsFloat(), DM->ordersCustNo->AsFloat());
  DM->Items->First();
  EXPECT_EQ(DM->ItemsOrderNo->AsFloat(), 1150.0);
}

TEST_F(DataModuleTest, LookupsShowThePartsAndTheCompany) {
  auto Parts = SampleTable("parts"), Customers = SampleTable("customer");
  int Checked = 0;
  for (DM->orders->First(); !DM->orders->Eof() && Checked < 60; DM->orders->Next()) {
    EXPECT_EQ(DM->ordersCompany->AsString(),
              Customers->Lookup("CustNo", DM->ordersCustNo->Value(), "Company").AsString());
    EXPECT_EQ(DM->ordersCompany->AsString(), DM->CustomerCompany->AsString());
    for (DM->Items->First(); !DM->Items->Eof(); DM->Items->Next(), ++Checked) {
      const Variant PartNo = DM->ItemsPartNo->Value();
      const std::string Description = Parts->Lookup("PartNo", PartNo, "Description").AsString();
      ASSERT_FALSE(Description.empty());
      EXPECT_EQ(DM->ItemsDescription->AsString(), Description);
      EXPECT_EQ(DM->ItemsONHand->DisplayText(),
                FloatToStr(Parts->Lookup("PartNo", PartNo, "OnHand").AsDouble()));
    }
  }
  EXPECT_GE(Checked, 60);
}

std::string Digits(double V, int Width) {
  std::string S = std::to_string(static_cast<long long>(std::llround(V)));
  return std::string(Width > static_cast<int>(S.size()) ? Width - S.size() : 0, '0') + S;
}

TEST_F(DataModuleTest, DisplayTextsUseTheFormats) {
  DM->orders->First();
  DM->Items->First();
  EXPECT_EQ(DM->ordersOrderNo->DisplayText(), "1001");
  EXPECT_EQ(DM->ItemsOrderNo->DisplayText(), "#1001");
  EXPECT_EQ(DM->ItemsPartNo->DisplayText(), "PN-" + Digits(DM->ItemsPartNo->AsFloat(), 5));
  EXPECT_EQ(DM->ordersCustNo->DisplayText(), "CN " + Digits(DM->ordersCustNo->AsFloat(), 4));
  EXPECT_EQ(DM->CustomerCustNo->DisplayText(), DM->ordersCustNo->DisplayText());
  EXPECT_EQ(DM->ordersEmpNo->DisplayText(), "Emp# " + Digits(DM->ordersEmpNo->AsInteger(), 4));
  EXPECT_EQ(DM->ordersItemsTotal->DisplayText(),
            FormatFloat("0.0", DM->ordersItemsTotal->AsFloat()) + " MG");
  EXPECT_EQ(DM->ordersTaxRate->DisplayText(),
            FormatFloat("0.00", DM->ordersTaxRate->AsFloat()) + "%");
  EXPECT_EQ(DM->ordersFreight->DisplayText(), CurrToStrF(DM->ordersFreight->AsFloat()));
  DM->Parts->First();
  EXPECT_EQ(DM->PartsVendorNo->DisplayText(), "VN " + Digits(DM->PartsVendorNo->AsFloat(), 4));
  // Discounts are percentages as numbers: 10 shows as 10%, 0 as the sign alone.
  int Discounted = 0;
  for (DM->orders->First(); !DM->orders->Eof(); DM->orders->Next())
    for (DM->Items->First(); !DM->Items->Eof(); DM->Items->Next()) {
      const int Discount = DM->ItemsDiscount->AsInteger();
      EXPECT_EQ(DM->ItemsDiscount->DisplayText(),
                (Discount ? std::to_string(Discount) : std::string()) + "%");
      Discounted += Discount > 0;
    }
  EXPECT_GT(Discounted, 0);
}

TEST_F(DataModuleTest, TheSampleDataHonoursEveryFieldsLimits) {
  for (TTable* T : {DM->orders, DM->Customer, DM->Items, DM->Parts}) {
    // Every record of the table: details are freed from their master for the walk.
    TDataSource* Master = T->MasterSource();
    T->SetMasterSource(nullptr);
    int Rows = 0;
    for (T->First(); !T->Eof(); T->Next(), ++Rows)
      for (int I = 0; I < T->FieldCount(); ++I) {
        const TField* F = T->Fields(I);
        EXPECT_NO_THROW(F->Validate(F->Value()))
            << T->Name() << "." << F->FieldName() << " = " << F->AsString();
      }
    EXPECT_GT(Rows, 0);
    T->SetMasterSource(Master);
  }
  // And the limits bite, with their messages.
  const struct {
    TField* Field;
    Variant Value;
    const char* Message;
  } Bad[] = {
      {DM->ordersEmpNo, 0, "EmpNo cannot be 0 or negative"},
      {DM->ordersEmpNo, 10000,
       "El valor 10000 del campo 'EmpNo' está fuera del intervalo de 1 a 9999"},
      {DM->ordersCustNo, Variant::Null(), "CustNo cannot be blank"},
      {DM->CustomerCustNo, Variant::Null(), "CustNo cannot be blank"},
      {DM->ordersCustNo, 999.0,
       "El valor 999 del campo 'CustNo' está fuera del intervalo de 1000 a 9999"},
      {DM->CustomerCompany, Variant::Null(), "Company Field has to have a value"},
      {DM->PartsVendorNo, 10000.0, "Vendor No has to be between 1000 and 9999"},
      {DM->ItemsDiscount, 101.0,
       "El valor 101 del campo 'Discount' está fuera del intervalo de 0 a 100"},
      {DM->ordersTaxRate, -1.0,
       "El valor -1 del campo 'TaxRate' está fuera del intervalo de 0 a 100"},
  };
  for (const auto& B : Bad) {
    try {
      B.Field->Validate(B.Value);
      ADD_FAILURE() << B.Field->FieldName() << " took " << B.Value.AsString();
    } catch (const EDatabaseError& E) {
      EXPECT_EQ(std::string(E.what()), B.Message);
    }
  }
}

TEST(DataModuleCreation, TheApplicationCreatesItAndItsGlobalFollowsIt) {
  ASSERT_EQ(DataModule2, nullptr);
  Application->CreateForm(DataModule2);
  ASSERT_NE(DataModule2, nullptr);
  EXPECT_EQ(DataModule2->Owner(), Application);
  EXPECT_TRUE(DataModule2->orders->Active());
  delete DataModule2;
  EXPECT_EQ(DataModule2, nullptr);
}

}  // namespace
