// The demonstration program's data module: the order-entry tables on the database DBDEMOS,
// their data sources and master links, and every persistent field with its display properties,
// limits and constraints. The main form binds its controls to these members.
#pragma once

#include "DBTables.h"
#include "Forms.h"

using namespace kv;

class TDataModule2 : public TDataModule {
 public:
  // Creates the tables, data sources and fields and opens every table. Raises when the sample
  // database cannot be found or a table cannot be opened (see UseDemoDatabase).
  explicit TDataModule2(TComponent* AOwner = nullptr);
  ~TDataModule2() override;

  // Orders, the master of Customer and Items.
  TTable* orders;
  // The customer of the current order.
  TTable* Customer;
  // The items of the current order.
  TTable* Items;
  // Parts: the lookup source of Items.
  TTable* Parts;
  // Customers again: the lookup source of orders.Company, without persistent fields.
  TTable* Table1;
  TDataSource* dsorders;
  TDataSource* dsCustomer;
  TDataSource* dsItems;

  // Items' fields, in field order.
  TFloatField* ItemsOrderNo;
  TFloatField* ItemsItemNo;
  TFloatField* ItemsPartNo;
  TIntegerField* ItemsQty;
  TFloatField* ItemsDiscount;
  TStringField* ItemsDescription;  // lookup: the part's description
  TStringField* ItemsONHand;       // lookup: the part's units on hand

  // Parts' fields.
  TFloatField* PartsPartNo;
  TFloatField* PartsVendorNo;
  TStringField* PartsDescription;
  TFloatField* PartsOnHand;
  TFloatField* PartsOnOrder;
  TCurrencyField* PartsCost;
  TCurrencyField* PartsListPrice;

  // orders' fields.
  TStringField* ordersCompany;  // lookup: the customer's company
  TDateTimeField* ordersSaleDate;
  TDateTimeField* ordersShipDate;
  TCurrencyField* ordersItemsTotal;
  TFloatField* ordersOrderNo;
  TFloatField* ordersCustNo;
  TIntegerField* ordersEmpNo;
  TStringField* ordersShipToContact;
  TStringField* ordersShipToAddr1;
  TStringField* ordersShipToAddr2;
  TStringField* ordersShipToCity;
  TStringField* ordersShipToState;
  TStringField* ordersShipToZip;
  TStringField* ordersShipToCountry;
  TStringField* ordersShipToPhone;
  TStringField* ordersShipVIA;
  TStringField* ordersPO;
  TStringField* ordersTerms;
  TStringField* ordersPaymentMethod;
  TFloatField* ordersTaxRate;
  TCurrencyField* ordersFreight;
  TCurrencyField* ordersAmountPaid;

  // Customer's fields.
  TFloatField* CustomerCustNo;
  TStringField* CustomerCompany;
  TStringField* CustomerAddr1;
  TStringField* CustomerAddr2;
  TStringField* CustomerCity;
  TStringField* CustomerState;
  TStringField* CustomerZip;
  TStringField* CustomerCountry;
  TStringField* CustomerPhone;
  TStringField* CustomerFAX;
  TFloatField* CustomerTaxRate;
  TStringField* CustomerContact;
  TDateTimeField* CustomerLastInvoiceDate;
};

// The program's data module, set when the application creates it.
extern TDataModule2* DataModule2;
