// kvgridbench: the data-aware grid over the million-order table, each figure beside the dataset
// work alone. Attaching the grid and painting its first screen is compared with reading the
// record count and the display texts of that screen; a jump to the last record with the repaint
// is compared with moving there and reading the last screen's texts. The target is the grid's
// own cost (the difference) within one frame, 16 ms. Draws offscreen unless a display is named.
// Usage: kvgridbench --data DIR [benchmark flags]; DIR (or DIR/db) holds ORDERS.DB.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QHeaderView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "BenchSupport.h"
#include "DBGrids.h"
#include "DBTables.h"
#include "Forms.h"

using namespace kv;

namespace {

std::unique_ptr<TTable> Orders;
std::unique_ptr<TDataSource> Source;
std::unique_ptr<TDBGrid> Grid;
int ScreenRows = 0, ScreenCols = 0;
std::map<std::string, double> Figures;

// Reads what a screen of the grid shows, straight from the dataset: the display text of each
// visible cell from row First on.
size_t ReadScreen(int First) {
  size_t Bytes = 0;
  const int Last = std::min(Orders->RecordCount(), First + ScreenRows);
  for (int R = First; R < Last; ++R)
    for (int C = 0; C < ScreenCols; ++C)
      Bytes += Orders->Fields(C)->DisplayTextAt(Orders->RowAt(R)).size();
  return Bytes;
}

// Paints the whole grid now, as a screen update would (titles, indicator and cells).
void Paint() {
  benchmark::DoNotOptimize(Grid->grab());
}

class TReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& R : Runs)
      if (!R.error_occurred && R.iterations > 0 && R.run_type == Run::RT_Iteration)
        Figures[R.run_name.function_name] =
            R.real_accumulated_time / static_cast<double>(R.iterations);
  }
};

void Register() {
  auto Add = [](const char* Name, void (*Fn)(benchmark::State&)) {
    benchmark::RegisterBenchmark(Name, Fn)->Unit(benchmark::kMillisecond)->UseRealTime();
  };
  Add("dataset/first-screen", [](benchmark::State& S) {
    for (auto _ : S) {
      benchmark::DoNotOptimize(Orders->RecordCount());
      benchmark::DoNotOptimize(ReadScreen(0));
    }
  });
  Add("grid/attach+first-screen", [](benchmark::State& S) {
    for (auto _ : S) {
      S.PauseTiming();
      Grid->SetDataSource(nullptr);
      Orders->First();
      S.ResumeTiming();
      Grid->SetDataSource(Source.get());
      Paint();
    }
  });
  Add("dataset/jump-last", [](benchmark::State& S) {
    for (auto _ : S) {
      S.PauseTiming();
      Orders->First();
      S.ResumeTiming();
      Orders->Last();
      benchmark::DoNotOptimize(ReadScreen(Orders->RecordCount() - ScreenRows));
    }
  });
  Add("grid/jump-last", [](benchmark::State& S) {
    for (auto _ : S) {
      S.PauseTiming();
      Orders->First();
      Paint();
      S.ResumeTiming();
      Orders->Last();
      Paint();
    }
  });
}

void PrintSummary() {
  auto Figure = [](const std::string& Name) -> std::optional<double> {
    auto It = Figures.find(Name);
    if (It == Figures.end()) return std::nullopt;
    return It->second;
  };
  auto Over = [&](const std::string& Grid, const std::string& Alone) -> std::optional<double> {
    if (!Figure(Grid) || !Figure(Alone)) return std::nullopt;
    return *Figure(Grid) - *Figure(Alone);
  };
  const std::vector<TTargetLine> Lines = {
      {"grid attach + first screen, over the dataset",
       Over("grid/attach+first-screen", "dataset/first-screen"),
       "<= 16 ms",
       0.016,
       {{"grid", Figure("grid/attach+first-screen")},
        {"dataset alone", Figure("dataset/first-screen")}},
       -1,
       std::to_string(ScreenRows) + " filas x " + std::to_string(ScreenCols) + " columnas"},
      {"grid jump to last row + repaint, over dataset",
       Over("grid/jump-last", "dataset/jump-last"),
       "<= 16 ms",
       0.016,
       {{"grid", Figure("grid/jump-last")}, {"dataset alone", Figure("dataset/jump-last")}},
       -1,
       ""},
  };
  std::printf("\n");
  for (const TTargetLine& L : Lines) std::printf("%s\n", FormatTargetLine(L).c_str());
}

std::string OrdersDir(const std::string& Data) {
  for (const std::string& Dir : {Data + "/db", Data})
    if (std::filesystem::exists(Dir + "/ORDERS.DB")) return Dir;
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  std::string Data;
  std::vector<char*> Args = {argv[0]};
  for (int I = 1; I < argc; ++I) {
    if (std::string(argv[I]) == "--data" && I + 1 < argc)
      Data = argv[++I];
    else
      Args.push_back(argv[I]);
  }
  const std::string Dir = OrdersDir(Data);
  if (Dir.empty()) {
    std::fprintf(stderr, "uso: kvgridbench --data DIR (DIR o DIR/db con ORDERS.DB)\n");
    return 2;
  }
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int Argc = static_cast<int>(Args.size());
  QApplication App(Argc, Args.data());
  Application->Initialize();

  Orders = std::make_unique<TTable>();
  Orders->SetDatabaseName(Dir);
  Orders->SetTableName("ORDERS.DB");
  Orders->Open();
  Source = std::make_unique<TDataSource>();
  Source->SetDataSet(Orders.get());
  Grid = std::make_unique<TDBGrid>();
  Grid->resize(1024, 768);
  Grid->show();
  Grid->SetDataSource(Source.get());
  Paint();
  // The screen's size in rows and columns, as the grid shows it.
  const QWidget* V = Grid->viewport();
  ScreenRows = Grid->rowAt(V->height() - 1) - Grid->rowAt(0) + 1;
  ScreenCols = Grid->columnAt(V->width() - 1) < 0 ? Grid->Columns().Count()
                                                  : Grid->columnAt(V->width() - 1) + 1;
  std::fprintf(stderr, "kvgridbench: %d registros, pantalla de %d filas x %d columnas\n",
               Orders->RecordCount(), ScreenRows, ScreenCols);

  int BArgc = Argc;
  benchmark::Initialize(&BArgc, Args.data());
  Register();
  TReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  PrintSummary();
  Grid.reset();
  Source.reset();
  Orders.reset();
  benchmark::Shutdown();
  return 0;
}
