// The demo's data module: tables, data sources, master links and persistent fields, declared
// here in code as a designer would lay them out.
#include "Unit2.h"

#include "DemoDatabase.h"

using namespace kv;

TDataModule2* DataModule2 = nullptr;

namespace {

TTable* NewTable(TComponent* Owner, const char* Name, const char* File, const char* Index) {
  auto* T = new TTable(Owner);
  T->SetName(Name);
  T->SetDatabaseName(DemoAlias);
  T->SetTableName(DemoTableName(File));
  T->SetIndexFieldNames(Index);
  return T;
}

TDataSource* NewSource(TComponent* Owner, const char* Name, TDataSet* DataSet) {
  auto* S = new TDataSource(Owner);
  S->SetName(Name);
  S->SetDataSet(DataSet);
  return S;
}

// A persistent string field; Size 0 keeps the platform's default size.
TStringField* Text(TTable* T, const char* Name, int Size = 0) {
  auto* F = T->AddField<TStringField>(Name);
  if (Size > 0) F->SetSize(Size);
  return F;
}

// A persistent numeric field of kind F with its display format and range (none when both are 0).
template <class F>
F* Number(TTable* T, const char* Name, const char* Format = "", double Min = 0, double Max = 0) {
  auto* Field = T->AddField<F>(Name);
  Field->SetDisplayFormat(Format);
  Field->SetMinValue(Min);
  Field->SetMaxValue(Max);
  return Field;
}

// A string lookup field of T showing Result of the Source record whose Key equals T's Key.
TStringField* Lookup(TTable* T, const char* Name, TTable* Source, const char* Key,
                     const char* Result, int Size = 0) {
  return static_cast<TStringField*>(
      T->AddLookupField(Name, ftString, Source, Key, Key, Result, Size));
}

// Customer numbers, in orders and in customers: left-justified, never blank, 1000 to 9999.
TFloatField* CustNo(TTable* T) {
  auto* F = Number<TFloatField>(T, "CustNo", "CN 0000", 1000, 9999);
  F->SetAlignment(taLeftJustify);
  F->SetCustomConstraint("CustNo IS NOT NULL");
  F->SetConstraintErrorMessage("CustNo cannot be blank");
  return F;
}

// Part numbers, in items and in parts: left-justified.
TFloatField* PartNo(TTable* T) {
  auto* F = Number<TFloatField>(T, "PartNo", "PN-00000");
  F->SetAlignment(taLeftJustify);
  return F;
}

}  // namespace

TDataModule2::TDataModule2(TComponent* AOwner) : TDataModule(AOwner) {
  SetName("DataModule2");
  UseDemoDatabase();

  orders = NewTable(this, "orders", "ORDERS.DB", "OrderNo");
  Customer = NewTable(this, "Customer", "CUSTOMER.DB", "CustNo");
  Items = NewTable(this, "Items", "ITEMS.DB", "OrderNo");
  Parts = NewTable(this, "Parts", "PARTS.DB", "PartNo");
  Table1 = NewTable(this, "Table1", "CUSTOMER.DB", "");
  dsorders = NewSource(this, "dsorders", orders);
  dsCustomer = NewSource(this, "dsCustomer", Customer);
  dsItems = NewSource(this, "dsItems", Items);
  Customer->SetMasterSource(dsorders);
  Customer->SetMasterFields("CustNo");
  Items->SetMasterSource(dsorders);
  Items->SetMasterFields("OrderNo");

  ItemsOrderNo = Number<TFloatField>(Items, "OrderNo", "'#'0000");
  ItemsItemNo = Number<TFloatField>(Items, "ItemNo");
  ItemsPartNo = PartNo(Items);
  ItemsQty = Number<TIntegerField>(Items, "Qty");
  ItemsDiscount = Number<TFloatField>(Items, "Discount", "#%", 0, 100);
  ItemsDescription = Lookup(Items, "Description", Parts, "PartNo", "Description");
  ItemsONHand = Lookup(Items, "ONHand", Parts, "PartNo", "OnHand");

  PartsPartNo = PartNo(Parts);
  PartsVendorNo = Number<TFloatField>(Parts, "VendorNo", "VN 0000", 1000, 9999);
  PartsVendorNo->SetConstraintErrorMessage("Vendor No has to be between 1000 and 9999");
  PartsDescription = Text(Parts, "Description", 30);
  PartsOnHand = Number<TFloatField>(Parts, "OnHand");
  PartsOnOrder = Number<TFloatField>(Parts, "OnOrder");
  PartsCost = Number<TCurrencyField>(Parts, "Cost");
  PartsListPrice = Number<TCurrencyField>(Parts, "ListPrice");

  ordersCompany = Lookup(orders, "Company", Table1, "CustNo", "Company", 40);
  ordersSaleDate = orders->AddField<TDateTimeField>("SaleDate");
  ordersShipDate = orders->AddField<TDateTimeField>("ShipDate");
  ordersItemsTotal = Number<TCurrencyField>(orders, "ItemsTotal", "##.0 MG");
  ordersItemsTotal->SetDisplayLabel("Items total");
  ordersItemsTotal->SetCurrency(false);
  ordersOrderNo = Number<TFloatField>(orders, "OrderNo");
  ordersCustNo = CustNo(orders);
  ordersCustNo->SetRequired(true);
  ordersEmpNo = Number<TIntegerField>(orders, "EmpNo", "Emp'#' 0000", 1, 9999);
  ordersEmpNo->SetRequired(true);
  ordersEmpNo->SetCustomConstraint("Value > 0");
  ordersEmpNo->SetConstraintErrorMessage("EmpNo cannot be 0 or negative");
  ordersShipToContact = Text(orders, "ShipToContact");
  ordersShipToAddr1 = Text(orders, "ShipToAddr1", 30);
  ordersShipToAddr2 = Text(orders, "ShipToAddr2", 30);
  ordersShipToCity = Text(orders, "ShipToCity", 15);
  ordersShipToState = Text(orders, "ShipToState");
  ordersShipToZip = Text(orders, "ShipToZip", 10);
  ordersShipToCountry = Text(orders, "ShipToCountry");
  ordersShipToPhone = Text(orders, "ShipToPhone", 15);
  ordersShipVIA = Text(orders, "ShipVIA", 7);
  ordersPO = Text(orders, "PO", 15);
  ordersTerms = Text(orders, "Terms", 6);
  ordersPaymentMethod = Text(orders, "PaymentMethod", 7);
  ordersTaxRate = Number<TFloatField>(orders, "TaxRate", "0.00%", 0, 100);
  ordersFreight = Number<TCurrencyField>(orders, "Freight");
  ordersAmountPaid = Number<TCurrencyField>(orders, "AmountPaid");

  CustomerCustNo = CustNo(Customer);
  CustomerCompany = Text(Customer, "Company", 30);
  CustomerCompany->SetCustomConstraint("X IS NOT NULL");
  CustomerCompany->SetConstraintErrorMessage("Company Field has to have a value");
  CustomerAddr1 = Text(Customer, "Addr1", 30);
  CustomerAddr2 = Text(Customer, "Addr2", 30);
  CustomerCity = Text(Customer, "City", 15);
  CustomerState = Text(Customer, "State");
  CustomerZip = Text(Customer, "Zip", 10);
  CustomerCountry = Text(Customer, "Country");
  CustomerPhone = Text(Customer, "Phone", 15);
  CustomerFAX = Text(Customer, "FAX", 15);
  CustomerTaxRate = Number<TFloatField>(Customer, "TaxRate", "0.00%", 0, 100);
  CustomerContact = Text(Customer, "Contact");
  CustomerLastInvoiceDate = Customer->AddField<TDateTimeField>("LastInvoiceDate");

  // Lookup sources first, then the master before its details.
  for (TTable* T : {Parts, Table1, orders, Customer, Items}) T->Open();
}

TDataModule2::~TDataModule2() {
  DoDestroy();
  DestroyComponents();
  if (DataModule2 == this) DataModule2 = nullptr;
}
