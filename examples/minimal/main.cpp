// minimal: opens the orders of a sample database (demo/gensample writes one), lets the user
// search them with TSearchDialog and prints the order the table moved to. With --offscreen it
// needs no display and searches by itself: it types an order number into the search form, as a
// user would, and accepts the form.
//
//   minimal [--offscreen] [--order N] DATABASE
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DBTables.h"
#include "Forms.h"
#include "SearchDialog.h"

namespace {

// Once the search form shows: the order number typed into the value box, then "&Aceptar".
void SearchBySelf(TSearchDialog& Search, const std::string& Order) {
  TSearchDialogBox* F = Search.SearchForm();
  if (!F->isVisible()) {
    QTimer::singleShot(10, [&Search, Order] { SearchBySelf(Search, Order); });
    return;
  }
  F->ETValor->SetText(Order);
  F->ETValorChange(F->ETValor);
  F->BTAceptar->click();
}

}  // namespace

int main(int argc, char** argv) {
  bool Offscreen = false;
  std::string Database, Order = "1100";
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    if (A == "--offscreen")
      Offscreen = true;
    else if (A == "--order" && I + 1 < argc)
      Order = argv[++I];
    else
      Database = A;
  }
  if (Database.empty()) {
    std::fprintf(stderr, "uso: minimal [--offscreen] [--order N] BASE_DE_DATOS\n");
    return 2;
  }
  if (Offscreen) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Application->Initialize(argc, argv);
  try {
    TTable Orders;
    Orders.SetDatabaseName(Database);
    Orders.SetTableName("ORDERS");
    Orders.Open();
    TSearchDialog Search;
    Search.SetDataSet(&Orders);
    if (Offscreen) QTimer::singleShot(0, [&Search, Order] { SearchBySelf(Search, Order); });
    if (!Search.Find()) {
      std::printf("Búsqueda cancelada\n");
      return 0;
    }
    std::printf("OrderNo=%s CustNo=%s SaleDate=%s\n",
                Orders.FieldByName("OrderNo")->AsString().c_str(),
                Orders.FieldByName("CustNo")->AsString().c_str(),
                Orders.FieldByName("SaleDate")->AsString().c_str());
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
  return 0;
}
