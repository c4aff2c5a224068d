// minimal: opens the orders of a sample database (demo/gensample writes one), lets the user
// search them with TSearchDialog and prints the order the table moved to. With --offscreen it
// needs no display and searches by itself: it types an order number into the search form, as a
// user would, and accepts the form. It has functions and headers of its own under names the
// library also uses (Now, Date, Pos, Trim, Val, Variant, Forms.h, Variant.h): the library's live
// in namespace kv and its headers under KVplus/, so both sets coexist.
//
//   minimal [--offscreen] [--order N] DATABASE
#include <KVplus/DBTables.h>
#include <KVplus/Forms.h>
#include <KVplus/SearchDialog.h>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "Forms.h"
#include "Variant.h"

// The application's own routines, named as the library's are.
double Now() { return static_cast<double>(std::time(nullptr)); }
int Date() { return 20261209; }
int Pos(const std::string& Sub, const std::string& S) {
  const auto P = S.find(Sub);
  return P == std::string::npos ? 0 : static_cast<int>(P) + 1;
}
std::string Trim(const std::string& S) {
  const auto B = S.find_first_not_of(' ');
  return B == std::string::npos ? std::string() : S.substr(B, S.find_last_not_of(' ') - B + 1);
}
int Val(const std::string& S) { return std::atoi(S.c_str()); }

namespace {

using kv::TSearchDialog;

// Once the search form shows: the order number typed into the value box, then "&Aceptar".
void SearchBySelf(TSearchDialog& Search, const std::string& Order) {
  kv::TSearchDialogBox* F = Search.SearchForm();
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
  const TAppForm App;
  const Variant Wanted(Trim("  " + Order + " "));
  if (Val(Wanted.Text()) <= 0 || Pos("-", Wanted.Text()) != 0 || Now() <= 0 || Date() <= 0) {
    std::fprintf(stderr, "%s: número de pedido no válido: %s\n", App.Caption.c_str(), Order.c_str());
    return 2;
  }
  kv::Application->Initialize(argc, argv);
  try {
    kv::TTable Orders;
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
