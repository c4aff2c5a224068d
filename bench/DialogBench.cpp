// kvdialogbench: the search dialog over the million-order tables, as a user works in it. Each
// benchmark shows the real search form with TSearchDialog and acts on it from its own modal
// loop: the form shown by Execute, a typed character (find, move, repaint), a filter added with
// "Filtra en Y" by a plain comparison and by "contiene" (beside the sqlite3 shell doing the same
// search), ordering by a column, an accepted Find on an order item of another order (the masters
// moved), and 100,000 picked rows summed over two columns. Draws offscreen unless a display is
// named. Usage: kvdialogbench --data DIR [benchmark flags]; DIR (or DIR/db) holds ORDERS.DB and
// ITEMS.DB.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DBTables.h"
#include "FormDriver.h"
#include "Forms.h"
#include "MessageBoxes.h"
#include "SearchDialog.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

void OnForm(TSearchDialog& D, std::function<void(TSearchDialogBox&)> Steps) {
  kv::OnForm(D, std::move(Steps), "kvdialogbench");
}

using TClock = std::chrono::steady_clock;

std::string DbDir, SqlitePath;
std::unique_ptr<TTable> Orders, Items;
std::unique_ptr<TDataSource> OrdersSource;
std::unique_ptr<TSearchDialog> OrdersSearch, ItemsSearch;
std::string City, Contact = "ana", MiddleOrder;  // the values searched
constexpr const char* AllColumnsValue = "ez";
int Picked = 100000;  // rows picked for the sum
std::map<std::string, double> Figures;
std::map<std::string, std::string> Notes;

double Seconds(TClock::time_point From) {
  return std::chrono::duration<double>(TClock::now() - From).count();
}

class TReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& R : Runs)
      if (!R.error_occurred && R.iterations > 0 && R.run_type == Run::RT_Iteration &&
          !Figures.count(R.run_name.function_name))
        Figures[R.run_name.function_name] =
            R.real_accumulated_time / static_cast<double>(R.iterations);
  }
};

// Runs Body inside the shown search form over the orders (the form is cancelled afterwards).
void InOrdersForm(const std::function<void(TSearchDialogBox&)>& Body) {
  OnForm(*OrdersSearch, Body);
  OrdersSearch->Execute();
}

// Ticks "Distinguir mayúsculas" as the user does.
void MatchCase(TSearchDialogBox& F) {
  F.CBDistinguirMayusculas->click();
}

// Paints the result grid now, as the screen update after an action does.
void Paint(TSearchDialogBox& F) {
  benchmark::DoNotOptimize(F.DBGrid1->grab());
}

void SetValue(TSearchDialogBox& F, const std::string& V) {
  F.ETValor->SetText(V);
}

void Register() {
  auto Add = [](const std::string& Name, std::function<void(benchmark::State&)> Fn) {
    return benchmark::RegisterBenchmark(Name.c_str(),
                                        [Fn](benchmark::State& S) {
                                          try {
                                            Fn(S);
                                          } catch (const std::exception& E) {
                                            S.SkipWithError(E.what());
                                          }
                                        })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
  };

  // From Execute to the painted form (its preparation included); the cancel is not timed.
  Add("dialog/execute-to-shown", [](benchmark::State& S) {
    for (auto _ : S) {
      const auto Start = TClock::now();
      double Shown = 0;
      OnForm(*OrdersSearch, [&](TSearchDialogBox& F) {
        benchmark::DoNotOptimize(F.grab());
        Shown = Seconds(Start);
      });
      OrdersSearch->Execute();
      S.SetIterationTime(Shown);
    }
  })->Iterations(5);

  // One character typed into the value box (incremental search, grid moved, repainted): a
  // value typed key by key and erased again, each key a search. The median is the figure. On a
  // text column ("empieza por", letter case ignored) and on the first column, the order number
  // ("igual a" on a float: a range one unit of the last digit wide).
  auto AddTyping = [&](const std::string& Name, std::string Column,
                       std::function<std::string()> Value, bool Case = false) {
    Add(Name, [=](benchmark::State& S) {
      std::vector<double> Keys;
      InOrdersForm([&](TSearchDialogBox& F) {
        if (Case) MatchCase(F);
        Pick(F.CCampo, Column);
        const QString Text = QStr(Value());
        int Typed = 0;
        bool Erasing = false;
        for (auto _ : S) {
          const auto Start = TClock::now();
          if (!Erasing) {
            QTest::keyClicks(F.ETValor, QString(Text.at(Typed++)));
          } else {
            QTest::keyClick(F.ETValor, Qt::Key_Backspace);
            --Typed;
          }
          Paint(F);
          const double T = Seconds(Start);
          S.SetIterationTime(T);
          Keys.push_back(T);
          if (Typed == Text.size()) Erasing = true;
          if (Typed == 1) Erasing = false;
        }
      });
      std::sort(Keys.begin(), Keys.end());
      if (!Keys.empty()) Figures[Name + "/median"] = Keys[Keys.size() / 2];
    })->Iterations(41);
  };
  AddTyping("dialog/typed-character/text", "ShipToCity", [] { return City; });
  AddTyping(
      "dialog/typed-character/text-case", "ShipToCity", [] { return City; }, true);
  AddTyping("dialog/typed-character/number", "OrderNo", [] { return MiddleOrder; });

  // "Filtra en Y" with one condition, from the click to the counter and the repainted grid.
  auto AddFilter = [&](const std::string& Name, std::string Column, std::string Condition,
                       std::function<std::string()> Value, bool Case = false) {
    Add(Name, [=](benchmark::State& S) {
      InOrdersForm([&](TSearchDialogBox& F) {
        if (Case) MatchCase(F);
        Pick(F.CCampo, Column);
        Pick(F.CCondicion, Condition);
        SetValue(F, Value());
        for (auto _ : S) {
          F.BTBorrarFiltro->click();
          const auto Start = TClock::now();
          F.BTFiltrarY->click();
          Paint(F);
          S.SetIterationTime(Seconds(Start));
        }
        Notes[Name] = F.STRegistros->Caption();
      });
    })->Iterations(5);
  };
  AddFilter("dialog/filter-y/equal", "ShipToCity", "igual a", [] { return City; });
  AddFilter(
      "dialog/filter-y/equal-case", "ShipToCity", "igual a", [] { return City; }, true);
  AddFilter("dialog/filter-y/contains", "ShipToContact", "contiene", [] { return Contact; });
  // "Todas las columnas": the value searched in every text column at once, against the floor of
  // a memmem of the lowered value over the lowered text of each of them (the lowered copies are
  // the store's, made by the first search and shared by every later one).
  Add("floor/memmem/all-columns", [](benchmark::State& S) {
    const TTableStore& Store = *Orders->Store();
    std::vector<std::string_view> Texts;
    for (size_t C = 0; C < Store.Defs.size(); ++C)
      if (Store.Defs[C].DataType == ftString)
        Texts.push_back(ColumnText(Store.LoweredColumn(static_cast<int>(C))));
    for (auto _ : S) {
      const auto Start = TClock::now();
      size_t N = 0;
      for (std::string_view T : Texts) N += CountOccurrences(T, AllColumnsValue);
      benchmark::DoNotOptimize(N);
      S.SetIterationTime(Seconds(Start));
    }
  })->Iterations(50);
  AddFilter("dialog/filter-y/all-columns", AllColumnsText, "contiene",
            [] { return std::string(AllColumnsValue); });
  benchmark::RegisterBenchmark(
      "sqlite3/contains",
      [](benchmark::State& S) {
        const std::string Sql =
            "SELECT * FROM orders WHERE lower(ShipToContact) LIKE '%" + Contact + "%';";
        for (auto _ : S) S.SetIterationTime(RunProcessSeconds({"sqlite3", SqlitePath, Sql}));
      })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(3);

  // "O&rdenar" by the grid's current column: the whole table, and the result of a filter.
  auto AddOrder = [&](const std::string& Name, bool Filtered) {
    Add(Name, [=](benchmark::State& S) {
      InOrdersForm([&](TSearchDialogBox& F) {
        if (Filtered) {
          Pick(F.CCampo, "ShipVIA");
          Pick(F.CCondicion, "igual a");
          SetValue(F, "DHL");
          F.BTFiltrarY->click();
          Notes[Name] = F.STRegistros->Caption();
        }
        ClickCell(F.DBGrid1, 0, ColumnOf(F, "ItemsTotal"));
        for (auto _ : S) {
          const auto Start = TClock::now();
          F.BTOrdenar->click();
          Paint(F);
          S.SetIterationTime(Seconds(Start));
        }
      });
    })->Iterations(3);
  };
  AddOrder("dialog/order/whole-table", false);
  AddOrder("dialog/order/filtered", true);

  // Find on the order items (detail of the orders, searched over all items): an item of an order
  // far from the current one is found and accepted; timed from the accept to Find's return.
  Add("dialog/find-detail-accepted", [](benchmark::State& S) {
    for (auto _ : S) {
      Orders->First();
      TClock::time_point Accepted;
      OnForm(*ItemsSearch, [&](TSearchDialogBox& F) {
        SetValue(F, MiddleOrder);
        F.ETValorChange(F.ETValor);
        Accepted = TClock::now();
        F.BTAceptar->click();
      });
      if (!ItemsSearch->Find()) throw Exception("la búsqueda no se aceptó");
      S.SetIterationTime(Seconds(Accepted));
      Notes["dialog/find-detail-accepted"] = "pedido " +
                                             Orders->FieldByName("OrderNo")->AsString() + ", " +
                                             std::to_string(Items->RecordCount()) + " líneas";
    }
  })->Iterations(3);

  // Picked rows summed: a shift+click from the first row to row Picked, the cursor on
  // ItemsTotal and Freight summed before (its title black), so two columns are summed.
  Add("dialog/pick-and-sum", [](benchmark::State& S) {
    InOrdersForm([&](TSearchDialogBox& F) {
      const int Total = ColumnOf(F, "ItemsTotal"), Freight = ColumnOf(F, "Freight");
      for (auto _ : S) {
        ClickCell(F.DBGrid1, 0, Total);
        F.DBGrid1->Columns()[Freight]->Title().SetColor(clBlack);
        const auto Start = TClock::now();
        ClickCell(F.DBGrid1, Picked - 1, Total, Qt::ShiftModifier);
        S.SetIterationTime(Seconds(Start));
        Notes["dialog/pick-and-sum"] = F.STRegistros->Caption();
      }
    });
  })->Iterations(3);
}

std::optional<double> Figure(const std::string& Name) {
  auto It = Figures.find(Name);
  if (It == Figures.end()) return std::nullopt;
  return It->second;
}

void PrintSummary() {
  auto Note = [](const std::string& Name) {
    auto It = Notes.find(Name);
    return It == Notes.end() ? std::string() : It->second;
  };
  const std::vector<TTargetLine> Lines = {
      {"search form: Execute to the shown form",
       Figure("dialog/execute-to-shown"),
       "<= 1 s",
       1.0,
       {},
       -1,
       std::to_string(Orders->RecordCount()) + " pedidos"},
      {"one typed character, text column, median",
       Figure("dialog/typed-character/text/median"),
       "<= 16 ms",
       0.016,
       {{"mean", Figure("dialog/typed-character/text")}},
       -1,
       "ShipToCity empieza por '" + City + "'"},
      {"one typed character, text column, letter case matched, median",
       Figure("dialog/typed-character/text-case/median"),
       "<= 16 ms",
       0.016,
       {{"mean", Figure("dialog/typed-character/text-case")}},
       -1,
       "Distinguir mayúsculas"},
      {"one typed character, order number, median",
       Figure("dialog/typed-character/number/median"),
       "<= 16 ms",
       0.016,
       {{"mean", Figure("dialog/typed-character/number")}},
       -1,
       "OrderNo igual a '" + MiddleOrder + "'"},
      {"Filtra en Y, plain comparison",
       Figure("dialog/filter-y/equal"),
       "<= 50 ms",
       0.050,
       {},
       -1,
       Note("dialog/filter-y/equal")},
      {"Filtra en Y, plain comparison, letter case matched",
       Figure("dialog/filter-y/equal-case"),
       "<= 50 ms",
       0.050,
       {},
       -1,
       Note("dialog/filter-y/equal-case")},
      {"Filtra en Y, contiene",
       Figure("dialog/filter-y/contains"),
       "<= sqlite3",
       std::nullopt,
       {{"sqlite3", Figure("sqlite3/contains")}},
       0,
       Note("dialog/filter-y/contains")},
      {"Filtra en Y, Todas las columnas contiene",
       Figure("dialog/filter-y/all-columns"),
       "<= 4× floor, <= 150 ms",
       0.150,
       {{"memmem", Figure("floor/memmem/all-columns")}},
       0,
       Note("dialog/filter-y/all-columns"),
       4.0},
      {"order by a column, whole table",
       Figure("dialog/order/whole-table"),
       "<= 300 ms",
       0.300,
       {},
       -1,
       ""},
      {"order by a column, filtered result",
       Figure("dialog/order/filtered"),
       "<= 100 ms",
       0.100,
       {},
       -1,
       Note("dialog/order/filtered")},
      {"Find accepted on a detail record, masters moved",
       Figure("dialog/find-detail-accepted"),
       "<= 50 ms",
       0.050,
       {},
       -1,
       Note("dialog/find-detail-accepted")},
      {"pick " + std::to_string(Picked) + " rows and sum two columns",
       Figure("dialog/pick-and-sum"),
       "<= 100 ms",
       0.100,
       {},
       -1,
       Note("dialog/pick-and-sum")},
  };
  std::printf("\n");
  for (const TTargetLine& L : Lines) std::printf("%s\n", FormatTargetLine(L).c_str());
}

std::string TablesDir(const std::string& Data) {
  for (const std::string& Dir : {Data + "/db", Data})
    if (fs::exists(Dir + "/ORDERS.DB") && fs::exists(Dir + "/ITEMS.DB")) return Dir;
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::string Data;
  std::vector<char*> Args = {argv[0]};
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    if (A == "--data" && I + 1 < argc)
      Data = argv[++I];
    else if (A == "--picked" && I + 1 < argc)
      Picked = std::max(2, std::atoi(argv[++I]));
    else
      Args.push_back(argv[I]);
  }
  DbDir = TablesDir(Data);
  if (DbDir.empty()) {
    std::fprintf(stderr,
                 "uso: kvdialogbench --data DIR [--picked N] (DIR o DIR/db con "
                 "ORDERS.DB e ITEMS.DB)\n");
    return 2;
  }
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int Argc = static_cast<int>(Args.size());
  QApplication App(Argc, Args.data());
  Application->Initialize();
  TMessageRecorder Quiet;  // no box may stop a benchmark; messages are listed at the end
  try {
    Orders = std::make_unique<TTable>();
    Orders->SetDatabaseName(DbDir);
    Orders->SetTableName("ORDERS.DB");
    Orders->Open();
    OrdersSource = std::make_unique<TDataSource>();
    OrdersSource->SetDataSet(Orders.get());
    Items = std::make_unique<TTable>();
    Items->SetDatabaseName(DbDir);
    Items->SetTableName("ITEMS.DB");
    Items->SetIndexFieldNames("OrderNo;ItemNo");
    Items->SetMasterSource(OrdersSource.get());
    Items->SetMasterFields("OrderNo");
    Items->Open();
    Picked = std::min(Picked, Orders->RecordCount());
    Orders->SetRecNo(Orders->RecordCount() / 2);
    City = Orders->FieldByName("ShipToCity")->AsString();
    MiddleOrder = Orders->FieldByName("OrderNo")->AsString();
    if (City.empty()) City = "Madrid";
    Orders->First();
    OrdersSearch = std::make_unique<TSearchDialog>();
    OrdersSearch->SetDataSet(Orders.get());
    ItemsSearch = std::make_unique<TSearchDialog>();
    ItemsSearch->SetDataSet(Items.get());
    // The sqlite3 copy kvbench makes, made here when missing.
    SqlitePath = fs::path(DbDir).parent_path().string() + "/orders.sqlite";
    if (!fs::exists(SqlitePath)) {
      std::fprintf(stderr, "kvdialogbench: copiando ORDERS a %s\n", SqlitePath.c_str());
      WriteSqliteFile(SqlitePath + ".tmp", {{"orders", Orders->Store()}});
      fs::rename(SqlitePath + ".tmp", SqlitePath);
    }
    std::fprintf(stderr, "kvdialogbench: %d pedidos, %d líneas\n", Orders->RecordCount(),
                 static_cast<int>(Items->Store()->RowCount()));
  } catch (const std::exception& E) {
    std::fprintf(stderr, "kvdialogbench: %s\n", E.what());
    return 1;
  }

  int BArgc = Argc;
  benchmark::Initialize(&BArgc, Args.data());
  Register();
  TReporter Reporter;
  Reporter.SetOutputStream(&std::cerr);
  Reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  PrintSummary();
  for (const TRecordedMessage& M : Quiet.Messages())
    std::fprintf(stderr, "kvdialogbench: mensaje: %s\n", M.Msg.c_str());
  ItemsSearch.reset();
  OrdersSearch.reset();
  Items.reset();
  OrdersSource.reset();
  Orders.reset();
  benchmark::Shutdown();
  return 0;
}
