// kvbench: the performance targets measured over the million-order sample database, each beside
// its peers (the sqlite3 shell, Qt's filter proxy, pxlib, a plain byte scan), ending in one summary
// line per target. Usage: kvbench --data DIR [benchmark flags]; DIR holds db/ (Paradox), dbf/
// (dBase) and the SQLite copies, which are made here when missing: one with the indexes a SQLite
// user keeps (each table's primary key, orders.CustNo), which every sqlite3 comparison runs
// against, and one without any, for a second, labelled line of the joins.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

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

#include "AccentBench.h"
#include "BenchSupport.h"
#include "DB.h"
#include "DBTables.h"
#include "ExportBench.h"
#include "SysUtils.h"
#include "TableFile.h"

#include "KVFind.h"
#include "KVUtil.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

// Where the data lives and the values the searches look for, chosen from the middle row.
struct TBenchData {
  std::string Dir, DbDir, DbfDir, SqlitePath, SqliteBarePath, ScratchDir;
  size_t Rows = 0;
  size_t Middle = 0;
  std::string City;  // ShipToCity of the middle row: the filter's value
  std::string NoCity = "Ninguna Parte";
  std::string OrderNo;  // OrderNo of the middle row, as filter text
  double OrderNoValue = 0;
  std::string Contact;  // ShipToContact of the middle row (Locate on text)
};

TBenchData Data;
// This program, run again as the pxlib peer.
std::string SelfPath;
constexpr int PxlibTimeLimit = 60;
// Seconds per iteration of each finished benchmark, by name.
std::map<std::string, double> Figures;
// Processor seconds per iteration of this process's thread (the machine may be shared).
std::map<std::string, double> CpuFigures;
// Notes for the summary (counts found, so a reader can tell the peers did the same work).
std::map<std::string, std::string> Notes;

// Reports to the console as usual and keeps each run's time per iteration for the summary.
class TCollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& R : Runs) {
      if (R.error_occurred || R.iterations == 0 || R.run_type != Run::RT_Iteration) continue;
      Figures[R.run_name.function_name] =
          R.real_accumulated_time / static_cast<double>(R.iterations);
      CpuFigures[R.run_name.function_name] =
          R.cpu_accumulated_time / static_cast<double>(R.iterations);
    }
  }
};

std::optional<double> Figure(const std::string& Name) {
  auto It = Figures.find(Name);
  if (It == Figures.end()) return std::nullopt;
  return It->second;
}

// Reads the display texts of the first N records of T, as a grid showing them does; returns
// their total length.
size_t ShowFirstRecords(TDataSet& T, int N) {
  size_t Length = 0;
  T.First();
  for (int R = 0; R < N && !T.Eof(); ++R, T.Next())
    for (int F = 0; F < T.FieldCount(); ++F) Length += T.Fields(F)->DisplayText().size();
  T.First();
  return Length;
}

// A table of the Paradox or dBase folder, opened on its own.
std::unique_ptr<TTable> OpenTable(const std::string& Dir, const std::string& Name) {
  auto T = std::make_unique<TTable>();
  T->SetDatabaseName(Dir);
  T->SetTableName(Name);
  T->Open();
  return T;
}

void Fail(benchmark::State& State, const std::exception& E) {
  State.SkipWithError(E.what());
}

// Registers Fn as a benchmark timed on the wall clock (or by the times Fn reports).
benchmark::internal::Benchmark* Add(const std::string& Name,
                                    std::function<void(benchmark::State&)> Fn,
                                    bool ManualTime = false) {
  auto* B = benchmark::RegisterBenchmark(Name.c_str(), [Fn](benchmark::State& S) {
    try {
      Fn(S);
    } catch (const std::exception& E) {
      Fail(S, E);
    }
  });
  B->Unit(benchmark::kMillisecond);
  return ManualTime ? B->UseManualTime() : B->UseRealTime();
}

// The sqlite3 shell running Sql over the indexed SQLite copy (or the one without indexes);
// output discarded.
void AddSqlitePeer(const std::string& Name, const std::string& Sql, int Iterations = 3,
                   bool Indexed = true) {
  const std::string Path = Indexed ? Data.SqlitePath : Data.SqliteBarePath;
  Add(Name, [Sql, Path](benchmark::State& S) {
    for (auto _ : S) RunProcessSeconds({"sqlite3", Path, Sql});
  })->Iterations(Iterations);
}

std::string SqlText(const std::string& V) {
  std::string Out = "'";
  for (char C : V) {
    if (C == '\'') Out += '\'';
    Out += C;
  }
  return Out + "'";
}

// Filter text for "Field = 'value'" with a quote inside doubled.
std::string FilterEq(const std::string& Field, const std::string& V) {
  return Field + " = " + SqlText(V);
}

// ---------------------------------------------------------------------------------------------
// Data-layer benchmarks over ORDERS.

std::unique_ptr<TTable> Orders;  // opened once, shared by the dataset benchmarks

void RegisterOpen() {
  for (const auto& [Dir, Name, Label] :
       {std::tuple{Data.DbDir, std::string("ORDERS.DB"), std::string("ours/open/ORDERS.DB")},
        std::tuple{Data.DbfDir, std::string("ORDERS.DBF"), std::string("ours/open/ORDERS.DBF")}}) {
    Add(Label, [Dir, Name](benchmark::State& S) {
      for (auto _ : S) {
        ClearTableCache();
        auto T = OpenTable(Dir, Name);
        benchmark::DoNotOptimize(T->RecordCount());
      }
    })->Iterations(3);
  }
  // Opening and reading what a grid shows first, then filtering the fresh table (the column
  // decoded on the way): what a user waits for before the first records and the first search.
  for (const auto& [Dir, Name] : {std::pair{Data.DbDir, std::string("ORDERS.DB")},
                                  std::pair{Data.DbfDir, std::string("ORDERS.DBF")}}) {
    Add("ours/open+show50/" + Name, [Dir, Name](benchmark::State& S) {
      for (auto _ : S) {
        S.PauseTiming();
        ClearTableCache();
        S.ResumeTiming();
        auto T = OpenTable(Dir, Name);
        benchmark::DoNotOptimize(ShowFirstRecords(*T, 50));
      }
    })->Iterations(5);
    Add("ours/open+show50+filter/" + Name, [Dir, Name](benchmark::State& S) {
      int Count = 0;
      for (auto _ : S) {
        S.PauseTiming();
        ClearTableCache();
        auto T = OpenTable(Dir, Name);
        ShowFirstRecords(*T, 50);
        S.ResumeTiming();
        T->SetFilter(FilterEq("ShipToCity", Data.City));
        T->SetFiltered(true);
        Count = T->RecordCount();
      }
      Notes["ours/open+show50+filter/" + Name] = std::to_string(Count) + " filas";
    })->Iterations(5);
  }
  // pxlib runs in a child process under a time limit: a file it cannot walk must not stall the
  // whole run.
  Add(
      "pxlib/read/ORDERS.DB",
      [](benchmark::State& S) {
        if (!PxlibAvailable()) {
          S.SkipWithError("pxlib no disponible");
          return;
        }
        for (auto _ : S) {
          std::string Out;
          try {
            Out = RunProcessOutput({SelfPath, "--pxlib-read", Data.DbDir + "/ORDERS.DB"});
          } catch (const std::exception& E) {
            Notes["pxlib/read/ORDERS.DB"] =
                "pxlib: no leyó el archivo en " + std::to_string(PxlibTimeLimit) + " s";
            S.SkipWithError(Notes["pxlib/read/ORDERS.DB"].c_str());
            return;
          }
          double Seconds = 0;
          long long Records = 0;
          if (std::sscanf(Out.c_str(), "%lf %lld", &Seconds, &Records) != 2) {
            S.SkipWithError("pxlib: respuesta ilegible");
            return;
          }
          S.SetIterationTime(Seconds);
          Notes["pxlib/read/ORDERS.DB"] = "pxlib " + std::to_string(Records) + " registros";
        }
      },
      true)
      ->Iterations(1);
}

void RegisterDataSet() {
  Add("ours/filter/equal+count", [](benchmark::State& S) {
    int Count = 0;
    for (auto _ : S) {
      S.PauseTiming();
      Orders->SetFiltered(false);
      Orders->SetFilter("");
      S.ResumeTiming();
      Orders->SetFilter(FilterEq("ShipToCity", Data.City));
      Orders->SetFiltered(true);
      Count = Orders->RecordCount();
    }
    Orders->SetFiltered(false);
    Orders->SetFilter("");
    Notes["ours/filter/equal+count"] = std::to_string(Count) + " filas";
  })->MinTime(1.0);

  Add("ours/findfirst/nomatch", [](benchmark::State& S) {
    Orders->SetFilter(FilterEq("ShipToCity", Data.NoCity));
    bool Found = true;
    for (auto _ : S) Found = Orders->FindFirst();
    if (Found) S.SkipWithError("FindFirst encontró un valor que no existe");
    Orders->SetFilter("");
  })->MinTime(1.0);

  Add("ours/findfirst/middle", [](benchmark::State& S) {
    Orders->SetFilter("OrderNo = '" + Data.OrderNo + "'");
    bool Found = false;
    for (auto _ : S) {
      S.PauseTiming();
      Orders->First();
      S.ResumeTiming();
      Found = Orders->FindFirst();
    }
    if (!Found || Orders->CurrentRow() != static_cast<TBookmark>(Data.Middle))
      S.SkipWithError("FindFirst no llegó a la fila central");
    Orders->SetFilter("");
  })->MinTime(1.0);

  Add("ours/findnext/first-to-second", [](benchmark::State& S) {
    Orders->SetFilter(FilterEq("ShipToCity", Data.City));
    bool Found = false;
    for (auto _ : S) {
      S.PauseTiming();
      Orders->FindFirst();
      S.ResumeTiming();
      Found = Orders->FindNext();
    }
    if (!Found) S.SkipWithError("FindNext no encontró la segunda coincidencia");
    Orders->SetFilter("");
  })->MinTime(1.0);

  Add("ours/locate/OrderNo", [](benchmark::State& S) {
    bool Found = false;
    for (auto _ : S) {
      S.PauseTiming();
      Orders->First();
      S.ResumeTiming();
      Found = Orders->Locate("OrderNo", Variant(Data.OrderNoValue), 0);
    }
    if (!Found) S.SkipWithError("Locate no encontró el pedido central");
  })->MinTime(1.0);

  Add("ours/locate/ShipToContact-nocase", [](benchmark::State& S) {
    bool Found = false;
    for (auto _ : S) {
      S.PauseTiming();
      Orders->First();
      S.ResumeTiming();
      Found = Orders->Locate("ShipToContact", Variant(Data.Contact), loCaseInsensitive);
    }
    if (!Found) S.SkipWithError("Locate no encontró el contacto central");
  })->MinTime(1.0);

  Add("ours/gotopos/middle", [](benchmark::State& S) {
    Orders->SetRecNo(static_cast<int>(Data.Middle) + 1);
    TPos Pos;
    GetPos(Pos, Orders.get());
    bool Found = false;
    for (auto _ : S) {
      S.PauseTiming();
      Orders->First();
      S.ResumeTiming();
      Found = GotoPos(Pos, Orders.get(), false);
    }
    if (!Found || Orders->CurrentRow() != static_cast<TBookmark>(Data.Middle))
      S.SkipWithError("GotoPos no volvió a la fila central");
  })->MinTime(1.0);
}

// ---------------------------------------------------------------------------------------------
// Peers of the dataset operations.

std::unique_ptr<TQtFilterPeer> QtPeer;

void RegisterDataSetPeers() {
  const TColumn& City =
      Orders->Store()->Columns[static_cast<size_t>(Orders->Store()->ColumnIndex("ShipToCity"))];
  std::string_view Text = ColumnText(City);
  Add("floor/memmem/equal", [Text](benchmark::State& S) {
    size_t N = 0;
    for (auto _ : S) benchmark::DoNotOptimize(N = CountOccurrences(Text, Data.City));
    Notes["floor/memmem/equal"] = std::to_string(N) + " apariciones";
  })->MinTime(0.5);
  Add("floor/memmem/nomatch", [Text](benchmark::State& S) {
    size_t N = 0;
    for (auto _ : S) benchmark::DoNotOptimize(N = CountOccurrences(Text, Data.NoCity));
  })->MinTime(0.5);

  AddSqlitePeer("sqlite3/filter/equal+count",
                "SELECT count(*) FROM orders WHERE ShipToCity=" + SqlText(Data.City) + ";");
  AddSqlitePeer("sqlite3/findfirst/nomatch",
                "SELECT * FROM orders WHERE ShipToCity=" + SqlText(Data.NoCity) + " LIMIT 1;");
  AddSqlitePeer("sqlite3/findfirst/middle",
                "SELECT * FROM orders WHERE OrderNo=" + Data.OrderNo + " LIMIT 1;");
  AddSqlitePeer("sqlite3/locate/ShipToContact-nocase",
                "SELECT * FROM orders WHERE lower(ShipToContact)=lower(" + SqlText(Data.Contact) +
                    ") LIMIT 1;");
  AddSqlitePeer("sqlite3/noop", "SELECT 1;", 10);

  if (TQtFilterPeer::Available()) {
    Add("qt/filter/equal+count", [](benchmark::State& S) {
      if (!QtPeer) {
        std::vector<std::string> Values;
        const TTableStore& St = *Orders->Store();
        const TColumn& C = St.Columns[static_cast<size_t>(St.ColumnIndex("ShipToCity"))];
        Values.reserve(C.Size());
        for (size_t R = 0; R < C.Size(); ++R) Values.emplace_back(C.Str(R));
        QtPeer = std::make_unique<TQtFilterPeer>(Values);
      }
      int N = 0;
      for (auto _ : S) {
        S.PauseTiming();
        QtPeer->Filter("");
        S.ResumeTiming();
        N = QtPeer->Filter(Data.City);
      }
      Notes["qt/filter/equal+count"] = std::to_string(N) + " filas";
    })->Iterations(3);
    Add("qt/findfirst/nomatch", [](benchmark::State& S) {
      if (!QtPeer) {
        S.SkipWithError("sin modelo Qt");
        return;
      }
      for (auto _ : S) benchmark::DoNotOptimize(QtPeer->FindFirst(Data.NoCity));
    })->Iterations(3);
  }
}

// ---------------------------------------------------------------------------------------------
// Export.

void RegisterExport() {
  for (const std::string Ext : {".dbf", ".db"}) {
    std::string Name = "ours/export/" + Ext.substr(1);
    Add(Name, [Ext](benchmark::State& S) {
      // dBase keeps field names to ten characters: the dBase copy of ORDERS is the source there.
      std::unique_ptr<TTable> DbfOrders;
      if (Ext == ".dbf") DbfOrders = OpenTable(Data.DbfDir, "ORDERS.DBF");
      TDataSet* Source = DbfOrders ? DbfOrders.get() : Orders.get();
      int Count = 0;
      for (auto _ : S) {
        TTable Out;
        Out.SetDatabaseName(Data.ScratchDir);
        Out.SetTableName("export" + Ext);
        Count = Out.BatchMove(Source, batCopy);
      }
      if (Count != static_cast<int>(Data.Rows))
        S.SkipWithError("la copia no tiene todas las filas");
    })->Iterations(2);
  }
  Add("sqlite3/export/csv", [](benchmark::State& S) {
    for (auto _ : S)
      RunProcessSeconds({"sqlite3", "-csv", Data.SqlitePath, "SELECT * FROM orders;"},
                        Data.ScratchDir + "/export.csv");
  })->Iterations(2);
}

// ---------------------------------------------------------------------------------------------
// SQL searches through the lookup join.

// The sqlite3 shell's statement for orders whose customer's Company begins with Prefix.
std::string JoinSql(const std::string& Prefix, bool Ordered) {
  return "SELECT * FROM orders, customer WHERE lower(customer.Company) LIKE " +
         SqlText(Prefix + "%") + " AND orders.CustNo = customer.CustNo" +
         (Ordered ? " ORDER BY customer.Company;" : ";");
}

// Searches "Company=='sig'" (the named case) and "Company=='alm'" (a prefix with many orders).
void RegisterSql() {
  for (const std::string Prefix : {"sig", "alm"})
    for (const bool Ordered : {false, true}) {
      const std::string Suffix = Prefix + (Ordered ? "-orderby" : "");
      AddSqlitePeer("sqlite3/sql/" + Suffix, JoinSql(Prefix, Ordered));
      // Without indexes the shell takes about a minute on the prefix with many orders: one run
      // is enough there.
      AddSqlitePeer("sqlite3-noindex/sql/" + Suffix, JoinSql(Prefix, Ordered),
                    Prefix == "sig" ? 3 : 1, false);
      const std::string Name = "ours/sql/" + Suffix;
      Add(Name, [Prefix, Ordered, Name](benchmark::State& S) {
        TTable Customer;
        Customer.SetDatabaseName(Data.DbDir);
        Customer.SetTableName("CUSTOMER.DB");
        TTable Ord;
        Ord.SetDatabaseName(Data.DbDir);
        Ord.SetTableName("ORDERS.DB");
        Ord.AddLookupField("Company", ftString, &Customer, "CustNo", "CustNo", "Company", 40);
        Customer.Open();
        Ord.Open();
        TDataSource Source;
        Source.SetDataSet(&Ord);
        int Count = 0;
        auto Search = [&] {
          TKVFind Find;
          Find.SetPDataSet(&Ord);
          Find.SetCaseSensitive(false);
          Find.SetFilter("Company=='" + Prefix + "'");
          // The order is given before the data source so that only Filtered runs the search.
          if (Ordered) Find.SetOrderBy("Company");
          Find.SetpDataSource(&Source);
          Find.SetFiltered(true);
          Count = Find.Results()->RecordCount();
        };
        // The first search builds what the store keeps for every later one (the lowered copy,
        // the map from each order to its customer, the sorted order): timed on its own, as the
        // shell's indexes are built before it runs.
        const auto Start = std::chrono::steady_clock::now();
        Search();
        const double First =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
        for (auto _ : S) Search();
        Notes[Name] = std::to_string(Count) + " filas; la primera " + FormatSeconds(First);
      })->Iterations(3);
    }
}

// ---------------------------------------------------------------------------------------------
// "contiene" as SQL over one table: the searches the engine evaluates over the store, against
// the floor of a memmem of the lowered constant over the lowered text of every column read.

const char* const ContainsColumns[] = {"ShipToContact", "ShipToAddr1", "ShipToAddr2", "ShipToCity",
                                       "ShipToState"};

void RegisterContains() {
  for (const bool Five : {false, true}) {
    const std::string Suffix = Five ? "five-or" : "ShipToCity";
    std::string Expr;
    for (const char* C : ContainsColumns) {
      if (!Five && std::string(C) != "ShipToCity") continue;
      Expr += (Expr.empty() ? "" : " or ") + std::string(C) + "><'ez'";
    }
    Add("floor/memmem/contains-" + Suffix, [Five](benchmark::State& S) {
      const auto& Store = *Orders->Store();
      std::vector<std::string_view> Texts;
      for (const char* C : ContainsColumns)
        if (Five || std::string(C) == "ShipToCity")
          Texts.push_back(ColumnText(Store.LoweredColumn(Store.ColumnIndex(C))));
      size_t N = 0;
      for (auto _ : S) {
        N = 0;
        for (std::string_view T : Texts) N += CountOccurrences(T, "ez");
        benchmark::DoNotOptimize(N);
      }
    })->MinTime(0.5);
    const std::string Name = "ours/sql/contains-" + Suffix;
    Add(Name, [Expr, Name](benchmark::State& S) {
      auto T = OpenTable(Data.DbDir, "ORDERS.DB");
      TDataSource Source;
      Source.SetDataSet(T.get());
      int Count = 0;
      auto Search = [&] {
        TKVFind Find;
        Find.SetPDataSet(T.get());
        Find.SetCaseSensitive(false);
        Find.SetForceSQL(true);
        Find.SetFilter(Expr);
        Find.SetpDataSource(&Source);
        Find.SetFiltered(true);
        Count = Find.Results()->RecordCount();
      };
      // After the opening lines the table is loaded afresh: the first search decodes the
      // columns it reads and builds their lowered copies, kept with the store for every later
      // search. Timed on its own.
      const auto Start = std::chrono::steady_clock::now();
      Search();
      const double First =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
      for (auto _ : S) Search();
      Notes[Name] = std::to_string(Count) + " filas; la primera " + FormatSeconds(First);
    })->Iterations(5);
  }
}

// ---------------------------------------------------------------------------------------------
// "contiene" on a lookup field: the search joins the searched table to its lookup table. The
// floor is a memmem of the lowered constant over the lowered text of the lookup column plus one
// pass over the searched table's key column (what finding each row's lookup value has to read).

struct TLookupCase {
  std::string Suffix, Detail, Lookup, Key, Field, Value;
};

const TLookupCase LookupCases[] = {
    {"Company", "ORDERS.DB", "CUSTOMER.DB", "CustNo", "Company", "tortuga"},
    {"Description", "ITEMS.DB", "PARTS.DB", "PartNo", "Description", "bambú"},
};

void RegisterLookupContains() {
  for (const TLookupCase& L : LookupCases) {
    if (!fs::is_regular_file(Data.DbDir + "/" + L.Detail) ||
        !fs::is_regular_file(Data.DbDir + "/" + L.Lookup))
      continue;
    Add("floor/memmem/lookup-" + L.Suffix, [L](benchmark::State& S) {
      auto Detail = OpenTable(Data.DbDir, L.Detail);
      auto Lookup = OpenTable(Data.DbDir, L.Lookup);
      const TTableStore& LS = *Lookup->Store();
      const std::string_view Text = ColumnText(LS.LoweredColumn(LS.ColumnIndex(L.Field)));
      const TColumn& Key = Detail->Store()->Columns[Detail->Store()->ColumnIndex(L.Key)];
      Key.Decode();
      for (auto _ : S) {
        benchmark::DoNotOptimize(CountOccurrences(Text, L.Value));
        double Sum = 0;
        for (size_t R = 0; R < Key.Size(); ++R) Sum += Key.Double(R);
        benchmark::DoNotOptimize(Sum);
      }
    })->MinTime(0.5);
    const std::string Name = "ours/sql/lookup-" + L.Suffix;
    Add(Name, [L, Name](benchmark::State& S) {
      TTable Lookup;
      Lookup.SetDatabaseName(Data.DbDir);
      Lookup.SetTableName(L.Lookup);
      TTable Detail;
      Detail.SetDatabaseName(Data.DbDir);
      Detail.SetTableName(L.Detail);
      Detail.AddLookupField(L.Field, ftString, &Lookup, L.Key, L.Key, L.Field, 30);
      Lookup.Open();
      Detail.Open();
      TDataSource Source;
      Source.SetDataSet(&Detail);
      int Count = 0;
      auto Search = [&] {
        TKVFind Find;
        Find.SetPDataSet(&Detail);
        Find.SetCaseSensitive(false);
        Find.SetFilter(L.Field + "><'" + L.Value + "'");
        Find.SetpDataSource(&Source);
        Find.SetFiltered(true);
        Count = Find.Results()->RecordCount();
      };
      // The first search builds the lowered copy of the lookup column and the map from each
      // row's key to its lookup row, kept with the stores for every later search.
      const auto Start = std::chrono::steady_clock::now();
      Search();
      const double First =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
      for (auto _ : S) Search();
      Notes[Name] = std::to_string(Count) + " filas; la primera " + FormatSeconds(First);
    })->Iterations(5);
  }
}

// ---------------------------------------------------------------------------------------------
// Preparation and the summary.

bool FileExists(const std::string& P) {
  return fs::is_regular_file(P);
}

// Picks the searched values from the middle row of ORDERS.
void ChooseValues(const TTableStore& S) {
  Data.Rows = S.RowCount();
  Data.Middle = Data.Rows / 2;
  auto Col = [&](const char* Name) -> const TColumn& {
    int I = S.ColumnIndex(Name);
    if (I < 0) throw Exception(std::string("ORDERS no tiene el campo ") + Name);
    return S.Columns[static_cast<size_t>(I)];
  };
  // The middle row must have a city and a contact; step forward to the first one that does.
  while (Data.Middle < Data.Rows &&
         (Col("ShipToCity").IsNull(Data.Middle) || Col("ShipToContact").IsNull(Data.Middle)))
    ++Data.Middle;
  if (Data.Middle >= Data.Rows) throw Exception("ORDERS no tiene filas con ciudad y contacto");
  Data.City = std::string(Col("ShipToCity").Str(Data.Middle));
  Data.Contact = std::string(Col("ShipToContact").Str(Data.Middle));
  Data.OrderNoValue = Col("OrderNo").Double(Data.Middle);
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, "%.0f", Data.OrderNoValue);
  Data.OrderNo = Buf;
}

struct TMemoryFigure {
  uint64_t RssGrowth = 0, StoreBytes = 0, FileBytes = 0;
};

struct TMemoryFigures {
  TMemoryFigure Shown;  // opened, the first 50 records shown
  TMemoryFigure Whole;  // then every column decoded
};

// Opens ORDERS.DB first thing in the process so the growth of the resident set is the table's:
// once the first records are shown, and once every column is decoded.
TMemoryFigures MeasureMemory(const std::string& Dir, const std::string& Name) {
  TMemoryFigures M;
  const uint64_t Before = ProcessStatusBytes("VmRSS");
  auto T = OpenTable(Dir, Name);
  ShowFirstRecords(*T, 50);
  M.Shown.RssGrowth = ProcessStatusBytes("VmRSS") - Before;
  M.Shown.StoreBytes = T->Store()->MemoryBytes();
  T->Store()->DecodeAll();
  M.Whole.RssGrowth = ProcessStatusBytes("VmRSS") - Before;
  M.Whole.StoreBytes = T->Store()->MemoryBytes();
  M.Shown.FileBytes = M.Whole.FileBytes = fs::file_size(Dir + "/" + Name);
  return M;
}

// ORDERS in dBase: the Paradox table with its field names made unique within dBase's ten
// characters (ShipToAddr1 and ShipToAddr2 would both be ShipToAddr).
void EnsureDbf() {
  std::string Path = Data.DbfDir + "/ORDERS.DBF";
  if (FileExists(Path)) return;
  std::fprintf(stderr, "kvbench: copiando ORDERS a %s\n", Path.c_str());
  fs::create_directories(Data.DbfDir);
  auto Source = LoadTableFile(Data.DbDir + "/ORDERS.DB");
  TTableStore Copy;
  Copy.Defs = Source->Defs;
  Copy.Columns = Source->Columns;
  Copy.PrimaryKey = Source->PrimaryKey;
  std::vector<std::string> Short;
  for (TColumnDef& D : Copy.Defs) {
    std::string S = D.Name.substr(0, 10);
    for (int N = 1; std::find(Short.begin(), Short.end(), LowerCase(S)) != Short.end(); ++N)
      S = D.Name.substr(0, 9) + std::to_string(N % 10);
    Short.push_back(LowerCase(S));
    D.Name = S;
  }
  SaveTableFile(Path, Copy);
}

void EnsureSqlite() {
  auto O = LoadTableFile(Data.DbDir + "/ORDERS.DB");
  auto C = LoadTableFile(Data.DbDir + "/CUSTOMER.DB");
  if (!FileExists(Data.SqliteBarePath)) {
    std::fprintf(stderr, "kvbench: copiando ORDERS y CUSTOMER a %s\n", Data.SqliteBarePath.c_str());
    const std::string Tmp = Data.SqliteBarePath + ".tmp";
    WriteSqliteFile(Tmp, {{"orders", O.get()}, {"customer", C.get()}});
    fs::rename(Tmp, Data.SqliteBarePath);
  }
  if (FileExists(Data.SqlitePath)) return;
  // The indexes a SQLite user keeps: each table's primary key and the foreign key of orders.
  std::string Indexes;
  for (const auto& [Table, Store] :
       {std::pair{std::string("orders"), O.get()}, std::pair{std::string("customer"), C.get()}}) {
    std::string Key;
    for (const std::string& K : Store->PrimaryKey) Key += (Key.empty() ? "" : ", ") + K;
    if (!Key.empty())
      Indexes += "CREATE UNIQUE INDEX " + Table + "_pk ON " + Table + " (" + Key + ");";
  }
  Indexes += "CREATE INDEX orders_custno ON orders (CustNo); ANALYZE;";
  std::fprintf(stderr, "kvbench: copia indexada en %s\n", Data.SqlitePath.c_str());
  const std::string Tmp = Data.SqlitePath + ".tmp";
  fs::copy_file(Data.SqliteBarePath, Tmp, fs::copy_options::overwrite_existing);
  RunProcessSeconds({"sqlite3", Tmp, Indexes});
  fs::rename(Tmp, Data.SqlitePath);
}

void PrintSummary(const TMemoryFigures& Mem) {
  auto P = [](const std::string& Peer, const std::string& Name) {
    return TPeerFigure{Peer, Figure(Name)};
  };
  auto Ms = [](double V) { return V / 1000.0; };
  std::vector<TTargetLine> Lines;
  Lines.push_back({"open ORDERS.DB (1M rows, cold)",
                   Figure("ours/open/ORDERS.DB"),
                   "<= 1 s",
                   1.0,
                   {P("pxlib", "pxlib/read/ORDERS.DB")},
                   -1,
                   ""});
  Lines.push_back({"open ORDERS.DBF (1M rows, cold)",
                   Figure("ours/open/ORDERS.DBF"),
                   "<= 1 s",
                   1.0,
                   {},
                   -1,
                   ""});
  for (const std::string Name : {"ORDERS.DB", "ORDERS.DBF"}) {
    Lines.push_back({"open " + Name + ", show 50 records",
                     Figure("ours/open+show50/" + Name),
                     "<= 100 ms",
                     Ms(100),
                     {},
                     -1,
                     ""});
    Lines.push_back({"then filter ShipToCity = 'x', count (" + Name + ")",
                     Figure("ours/open+show50+filter/" + Name),
                     "<= 150 ms",
                     Ms(150),
                     {},
                     -1,
                     Notes["ours/open+show50+filter/" + Name]});
  }
  Lines.push_back({"filter ShipToCity = 'x' again, count",
                   Figure("ours/filter/equal+count"),
                   "<= 5 ms, 3× floor",
                   Ms(5),
                   {P("memmem", "floor/memmem/equal"), P("sqlite3", "sqlite3/filter/equal+count"),
                    P("Qt", "qt/filter/equal+count")},
                   0,
                   Notes["ours/filter/equal+count"],
                   3.0});
  Lines.push_back({"FindFirst, no match (whole scan)",
                   Figure("ours/findfirst/nomatch"),
                   "<= 16 ms",
                   Ms(16),
                   {P("sqlite3", "sqlite3/findfirst/nomatch"), P("Qt", "qt/findfirst/nomatch"),
                    P("memmem", "floor/memmem/nomatch")},
                   -1,
                   ""});
  Lines.push_back({"FindFirst, middle row",
                   Figure("ours/findfirst/middle"),
                   "<= 16 ms",
                   Ms(16),
                   {P("sqlite3", "sqlite3/findfirst/middle")},
                   -1,
                   ""});
  Lines.push_back({"FindNext, first to second match",
                   Figure("ours/findnext/first-to-second"),
                   "<= 16 ms",
                   Ms(16),
                   {},
                   -1,
                   ""});
  Lines.push_back({"Locate OrderNo (middle row)",
                   Figure("ours/locate/OrderNo"),
                   "<= 20 ms",
                   Ms(20),
                   {P("sqlite3", "sqlite3/findfirst/middle")},
                   -1,
                   ""});
  Lines.push_back({"Locate ShipToContact, any case",
                   Figure("ours/locate/ShipToContact-nocase"),
                   "<= 20 ms",
                   Ms(20),
                   {P("sqlite3", "sqlite3/locate/ShipToContact-nocase")},
                   -1,
                   ""});
  Lines.push_back(
      {"GotoPos (middle row)", Figure("ours/gotopos/middle"), "<= 20 ms", Ms(20), {}, -1, ""});
  for (const std::string Prefix : {"sig", "alm"})
    for (const bool Ordered : {false, true}) {
      const std::string Suffix = Prefix + (Ordered ? "-orderby" : "");
      Lines.push_back({"SQL Company=='" + Prefix + "' (lookup join)" + (Ordered ? ", ordered" : ""),
                       Figure("ours/sql/" + Suffix),
                       "<= 0.25× sqlite3",
                       std::nullopt,
                       {P("sqlite3", "sqlite3/sql/" + Suffix),
                        P("sqlite3 sin índices", "sqlite3-noindex/sql/" + Suffix)},
                       0,
                       Notes["ours/sql/" + Suffix],
                       0.25});
    }
  for (const TLookupCase& L : LookupCases)
    Lines.push_back({"Filtra en Y, lookup contiene (" + L.Suffix + ")" +
                         (L.Suffix == "Description" ? " over 5M items" : ""),
                     Figure("ours/sql/lookup-" + L.Suffix),
                     "<= 4× floor",
                     std::nullopt,
                     {P("memmem", "floor/memmem/lookup-" + L.Suffix)},
                     0,
                     Notes["ours/sql/lookup-" + L.Suffix],
                     4.0});
  for (const std::string Suffix : {"ShipToCity", "five-or"})
    Lines.push_back({Suffix == "ShipToCity" ? "SQL contiene, one text column (ShipToCity)"
                                            : "SQL contiene, five text columns with or",
                     Figure("ours/sql/contains-" + Suffix),
                     "<= 4× floor",
                     std::nullopt,
                     {P("memmem", "floor/memmem/contains-" + Suffix)},
                     0,
                     Notes["ours/sql/contains-" + Suffix],
                     4.0});
  Lines.push_back({"export 1M rows to .dbf",
                   Figure("ours/export/dbf"),
                   "<= 2 s",
                   2.0,
                   {P("sqlite3 csv", "sqlite3/export/csv")},
                   -1,
                   ""});
  Lines.push_back({"export 1M rows to .db",
                   Figure("ours/export/db"),
                   "<= 2 s",
                   2.0,
                   {P("sqlite3 csv", "sqlite3/export/csv")},
                   -1,
                   ""});

  // Our own processor time beside the wall time: on a loaded machine the two differ.
  for (TTargetLine& L : Lines) {
    for (const auto& [Name, Wall] : Figures) {
      if (Name.rfind("ours/", 0) != 0 || !L.Seconds || Wall != *L.Seconds) continue;
      std::string Cpu = "cpu " + FormatSeconds(CpuFigures[Name]);
      L.Note = L.Note.empty() ? Cpu : Cpu + "; " + L.Note;
      break;
    }
  }
  std::printf("\n==== kvbench: %zu orders; sqlite3 shell start-up %s is included in its figures\n",
              Data.Rows, FormatSeconds(Figure("sqlite3/noop")).c_str());
  for (const TTargetLine& L : Lines) std::printf("%s\n", FormatTargetLine(L).c_str());
  std::printf("%s\n", FormatMemoryLine(Mem.Shown.RssGrowth, Mem.Shown.StoreBytes,
                                       Mem.Shown.FileBytes, 0.2, "ORDERS.DB opened, 50 shown")
                          .c_str());
  std::printf("%s\n", FormatMemoryLine(Mem.Whole.RssGrowth, Mem.Whole.StoreBytes,
                                       Mem.Whole.FileBytes, 1.5, "ORDERS.DB, every column read")
                          .c_str());
}

// The pxlib peer's child: reads Path, prints "seconds records"; killed by the alarm when slow.
int PxlibChild(const std::string& Path) {
  alarm(PxlibTimeLimit);
  auto Start = std::chrono::steady_clock::now();
  auto R = PxlibReadAll(Path);
  double S = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  std::printf("%.6f %lld\n", S, static_cast<long long>(R ? R->Records : 0));
  return 0;
}

}  // namespace

// DbBench.cpp: the database targets, run in a child process (kvbench --db-bench DIR).
int DbBenchMain(const std::string& DataDir, const std::string& SourceDir,
                const std::string& Gensample);

int main(int Argc, char** Argv) {
  SelfPath = fs::canonical("/proc/self/exe").string();
  if (Argc == 3 && std::string(Argv[1]) == "--db-bench")
    return DbBenchMain(
        Argv[2], KV_SOURCE_DIR,
        (fs::path(SelfPath).parent_path().parent_path() / "demo/gensample").string());
  if (Argc == 3 && std::string(Argv[1]) == "--pxlib-read") {
    try {
      return PxlibChild(Argv[2]);
    } catch (const std::exception& E) {
      std::fprintf(stderr, "kvbench: %s\n", E.what());
      return 1;
    }
  }
  std::string Dir = "bench-data";
  std::vector<char*> Rest{Argv[0]};
  for (int I = 1; I < Argc; ++I) {
    std::string A = Argv[I];
    if (A == "--data" && I + 1 < Argc)
      Dir = Argv[++I];
    else
      Rest.push_back(Argv[I]);
  }
  try {
    Data.Dir = fs::absolute(Dir).string();
    Data.DbDir = Data.Dir + "/db";
    Data.DbfDir = Data.Dir + "/dbf";
    Data.SqlitePath = Data.Dir + "/orders-indexed.sqlite";
    Data.SqliteBarePath = Data.Dir + "/orders.sqlite";
    Data.ScratchDir = Data.Dir + "/scratch";
    fs::create_directories(Data.ScratchDir);
    for (const std::string& F : {Data.DbDir + "/ORDERS.DB", Data.DbDir + "/CUSTOMER.DB"})
      if (!FileExists(F))
        throw Exception("Falta '" + F + "': './run bench' genera los datos de prueba");

    TMemoryFigures Mem = MeasureMemory(Data.DbDir, "ORDERS.DB");
    ClearTableCache();
    EnsureSqlite();
    EnsureDbf();
    Orders = OpenTable(Data.DbDir, "ORDERS.DB");
    ChooseValues(*Orders->Store());

    RegisterOpen();
    RegisterDataSet();
    RegisterDataSetPeers();
    RegisterSql();
    RegisterContains();
    RegisterLookupContains();
    RegisterExport();
    RegisterExportBench(Orders.get(), Data.DbDir + "/ORDERS.DB", Data.ScratchDir);
    RegisterAccentBench(Orders.get(), Data.City);

    int N = static_cast<int>(Rest.size());
    benchmark::Initialize(&N, Rest.data());
    TCollectingReporter Reporter;
    // The detailed runs go to standard error; standard output keeps the summary.
    Reporter.SetOutputStream(&std::cerr);
    Reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&Reporter);
    PrintSummary(Mem);
    PrintExportSummary();
    PrintAccentSummary();
    std::fputs(RunProcessOutput({SelfPath, "--db-bench", Data.Dir}).c_str(), stdout);
    QtPeer.reset();
    Orders.reset();
    benchmark::Shutdown();
    return 0;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "kvbench: %s\n", E.what());
    // The tables go while the library's own state still lives (at exit it may not).
    QtPeer.reset();
    Orders.reset();
    return 1;
  }
}
