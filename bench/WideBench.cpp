// Wide text tables: opening a table of 10,000 and of 100,000 fields through TTable and through
// kvsearch, and reading every field of one record. Every step must grow linearly with the field
// count: the 100,000-field table opens in under 2 s both ways, and the ten-times-wider table
// takes no more than about ten times as long. Each figure is the best of a few runs (the machine
// is shared); one line per target is printed once the runs are done.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "BenchSupport.h"
#include "DBTables.h"
#include "TableFile.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

constexpr int kNarrow = 10000, kWide = 100000;
constexpr double kOpenLimit = 2.0;   // seconds for the widest table
constexpr double kGrowthLimit = 15;  // 10× the fields: linear is 10×, quadratic 100×

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The folder of the wide tables, written on first use: w<N>.txt of N whole-number fields and
// two records. Removed as the process ends.
std::string FolderPath;
struct TRemoveFolder {
  ~TRemoveFolder() {
    std::error_code E;
    if (!FolderPath.empty()) fs::remove_all(FolderPath, E);
  }
} RemoveFolder;

const std::string& Folder() {
  if (!FolderPath.empty()) return FolderPath;
  const fs::path D = fs::temp_directory_path() / ("kvwidebench-" + std::to_string(getpid()));
  fs::create_directories(D);
  for (int Fields : {kNarrow, kWide}) {
    const std::string Name = "w" + std::to_string(Fields);
    std::ofstream Sch(D / (Name + ".sch")), Txt(D / (Name + ".txt"));
    Sch << "[W]\nFILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n";
    for (int F = 1; F <= Fields; ++F) Sch << "Field" << F << "=F" << F << ",LONGINT,11,00,00\n";
    for (int R = 0; R < 2; ++R) {
      for (int F = 1; F <= Fields; ++F) Txt << (F > 1 ? "," : "") << F * 10 + R;
      Txt << "\n";
    }
  }
  FolderPath = D.string();
  return FolderPath;
}

// Best seconds by what was measured ("ttable", "kvsearch", "row") and field count.
std::map<std::string, std::map<int, double>> Best;

void Keep(const std::string& What, int Fields, double Seconds) {
  auto [It, New] = Best[What].emplace(Fields, Seconds);
  if (!New) It->second = std::min(It->second, Seconds);
}

std::string KvsearchPath() {
  const fs::path Self = fs::canonical("/proc/self/exe");
  return (Self.parent_path().parent_path() / "tools/kvsearch/kvsearch").string();
}

void PrintLine(const std::string& What, const char* Caption, bool Timed) {
  auto& B = Best[What];
  if (!B.count(kNarrow) || !B.count(kWide)) {
    std::printf("n/a     %s: not measured\n", Caption);
    return;
  }
  const double Growth = B[kNarrow] > 0 ? B[kWide] / B[kNarrow] : 0;
  const bool Ok = (!Timed || B[kWide] < kOpenLimit) && Growth <= kGrowthLimit;
  std::printf("%-7s %s: %d fields %.3f s, %d fields %.3f s = %.1f× for 10× the fields, target ",
              Ok ? "ok" : "MISSED", Caption, kWide, B[kWide], kNarrow, B[kNarrow], Growth);
  if (Timed) std::printf("< %.0f s and ", kOpenLimit);
  std::printf("<= %.0f×\n", kGrowthLimit);
}

// Prints the lines after every run, as the process ends (the main program knows nothing of them).
struct TPrintAtExit {
  ~TPrintAtExit() {
    if (Best.empty()) return;
    PrintLine("ttable", "wide table opened through TTable", true);
    PrintLine("kvsearch", "wide table opened through kvsearch --count", true);
    PrintLine("row", "every field of one record of a wide table", false);
    std::fflush(stdout);
  }
};
TPrintAtExit PrintAtExit;

void OpenThroughTTable(benchmark::State& S) {
  const int Fields = static_cast<int>(S.range(0));
  const std::string Dir = Folder(), Name = "w" + std::to_string(Fields) + ".txt";
  for (auto _ : S) {
    ClearTableCache();
    const double T0 = Now();
    TTable T;
    T.SetDatabaseName(Dir);
    T.SetTableName(Name);
    T.Open();
    const double Seconds = Now() - T0;
    if (T.FieldCount() != Fields) S.SkipWithError("wrong field count");
    S.SetIterationTime(Seconds);
    Keep("ttable", Fields, Seconds);
  }
}

void OpenThroughKvsearch(benchmark::State& S) {
  const int Fields = static_cast<int>(S.range(0));
  const std::vector<std::string> Argv{KvsearchPath(), Folder(),
                                      "w" + std::to_string(Fields) + ".txt", "--count"};
  for (auto _ : S) {
    try {
      const double Seconds = RunProcessSeconds(Argv);
      S.SetIterationTime(Seconds);
      Keep("kvsearch", Fields, Seconds);
    } catch (const std::exception& E) {
      S.SkipWithError(E.what());
      break;
    }
  }
}

void ReadOneRecord(benchmark::State& S) {
  const int Fields = static_cast<int>(S.range(0));
  TTable T;
  T.SetDatabaseName(Folder());
  T.SetTableName("w" + std::to_string(Fields) + ".txt");
  T.Open();
  T.Last();
  for (auto _ : S) {
    const double T0 = Now();
    int64_t Sum = 0;
    for (int F = 0; F < T.FieldCount(); ++F)
      Sum += T.FieldByName(T.Fields(F)->FieldName())->AsInteger();
    const double Seconds = Now() - T0;
    benchmark::DoNotOptimize(Sum);
    S.SetIterationTime(Seconds);
    Keep("row", Fields, Seconds);
  }
}

const bool Registered = [] {
  for (auto [Name, Fn] : {std::pair{"ours/wide/open-ttable", &OpenThroughTTable},
                          std::pair{"ours/wide/open-kvsearch", &OpenThroughKvsearch},
                          std::pair{"ours/wide/one-record", &ReadOneRecord}})
    benchmark::RegisterBenchmark(Name, Fn)
        ->Arg(kNarrow)
        ->Arg(kWide)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  return true;
}();

}  // namespace
