// The database targets of kvbench: the sample's orders in a PostgreSQL server (a private cluster
// kept in bench-data/pg, started for the run and stopped after it) and in a SQLite file
// (bench-data/sample.sqlite), both written once by gensample --out. For each: opening the orders
// and showing the first screen, one typed character on an indexed column, "Filtra en Y" beside
// the psql / sqlite3 shell running the statements we send, and the client's resident memory.
// Runs in a process of its own (kvbench --db-bench DIR), so that the memory is the client's.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "DBTables.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 5;

double Seconds(const std::function<void()>& Fn) {
  const auto Start = std::chrono::steady_clock::now();
  Fn();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

struct TDbTarget {
  std::string Label;     // "PostgreSQL", "SQLite"
  std::string Database;  // the database name datasets open
  std::string Peer;      // "psql", "sqlite3"
  std::function<double(const std::string& Sql)> RunPeer;
};

void Measure(const TDbTarget& Db) {
  std::vector<double> Open;
  for (int I = 0; I < kRuns; ++I)
    Open.push_back(Seconds([&] {
      TTable T;
      T.SetDatabaseName(Db.Database);
      T.SetTableName("orders");
      T.Open();
      ShowScreen(T);
    }));
  TTargetLine L;
  L.Operation = Db.Label + ": open orders and show the first screen";
  L.Seconds = Median(Open);
  L.Target = "<= 100 ms";
  L.Limit = 0.100;
  std::printf("%s\n", FormatTargetLine(L).c_str());

  // A typed character in the search form on an indexed column: the dataset in that column's
  // order, the record found, its place shown.
  TTable T;
  T.SetDatabaseName(Db.Database);
  T.SetTableName("orders");
  T.SetIndexFieldNames("CustNo");
  T.Open();
  ShowScreen(T);
  const int Count = T.RecordCount();
  std::vector<double> Typed;
  for (int I = 1; I <= kRuns; ++I) {
    T.SetRecNo(Count * I / (kRuns + 1));
    const Variant Wanted = T.FieldByName("CustNo")->Value();
    T.First();
    Typed.push_back(Seconds([&] {
      if (!T.Locate("CustNo", Wanted, 0)) throw Exception("no se encuentra el cliente");
      (void)T.RecNo();
      ShowScreen(T);
    }));
  }
  L = {};
  L.Operation = Db.Label + ": one typed character, indexed column (CustNo)";
  L.Seconds = Median(Typed);
  L.Target = "<= 50 ms";
  L.Limit = 0.050;
  std::printf("%s\n", FormatTargetLine(L).c_str());

  // "Filtra en Y" with "igual a", letter case matched: the count and the first screen.
  T.SetIndexFieldNames("");
  T.SetRecNo(Count / 2);
  const std::string City = T.FieldByName("ShipToCity")->AsString();
  std::vector<double> Filter;
  for (int I = 0; I < 3; ++I) {
    T.SetFiltered(false);
    T.SetFilter("");
    Filter.push_back(Seconds([&] {
      T.SetFilter("ShipToCity = '" + City + "'");
      T.SetFiltered(true);
      (void)T.RecordCount();
      ShowScreen(T);
    }));
  }
  // The peer runs the same two statements, the constant written in: the count, then the first
  // window in the dataset's order.
  std::string Lit;
  for (char C : City) Lit += C == '\'' ? std::string("''") : std::string(1, C);
  const std::string Where = Db.Label == "PostgreSQL"
                                ? " WHERE (\"ShipToCity\") COLLATE \"C\" = '" + Lit + "'"
                                : " WHERE \"ShipToCity\" = '" + Lit + "'";
  const std::string Sql = "SELECT count(*) FROM orders" + Where + "; SELECT * FROM orders" + Where +
                          " ORDER BY \"OrderNo\" LIMIT 128;";
  std::vector<double> PeerRuns;
  for (int I = 0; I < 3; ++I) PeerRuns.push_back(Db.RunPeer(Sql));
  L = {};
  L.Operation = Db.Label + ": \"Filtra en Y\", ShipToCity \"igual a\" (" +
                std::to_string(T.RecordCount()) + " of " + std::to_string(Count) + ")";
  L.Seconds = Median(Filter);
  const double Peer = Median(PeerRuns);
  L.Target = "<= 1.5 x " + Db.Peer + " + 20 ms";
  L.Limit = 1.5 * Peer + 0.020;
  L.Peers.push_back({Db.Peer, Peer});
  std::printf("%s\n", FormatTargetLine(L).c_str());

  // The client's memory after walking to the last record and back through a thousand records.
  T.SetFiltered(false);
  T.Last();
  for (int I = 0; I < 1000 && !T.Bof(); ++I) T.Prior();
  T.First();
  const double Rss = static_cast<double>(ProcessStatusBytes("VmRSS")) / (1024.0 * 1024.0);
  std::printf("%s client resident memory after a walk: %.1f MB (target <= 100 MB)\n",
              Rss <= 100 ? "ok" : "MISSED", Rss);
}

// Starts (once: generates) the private server of the benchmark; returns its URI.
std::string StartServer(const std::string& Dir, const std::string& Tools,
                        const std::string& Gensample, const std::string& Orders) {
  const std::string Folder = Dir + "/pg";
  const std::string Stamp = Folder + "/.complete";
  std::string Done;
  std::ifstream(Stamp) >> Done;
  if (Done != Orders) {
    RunProcessSeconds({Tools + "/pgcluster", "stop", Folder});
    fs::remove_all(Folder);
    const std::string Uri = Trimmed(RunProcessOutput({Tools + "/pgcluster", "start", Folder}));
    std::fprintf(stderr, "kvbench: generando %s pedidos en PostgreSQL (%s)\n", Orders.c_str(),
                 Folder.c_str());
    RunProcessSeconds({Gensample, "--out", Uri, "--orders", Orders});
    RunProcessSeconds({"psql", "-X", "-q", Uri, "-c", "VACUUM ANALYZE"});
    std::ofstream(Stamp) << Orders;
    return Uri;
  }
  RunProcessSeconds({Tools + "/pgcluster", "resume", Folder});
  std::string Uri;
  std::ifstream(Folder + "/uri") >> Uri;
  return Uri;
}

}  // namespace

int DbBenchMain(const std::string& DataDir, const std::string& SourceDir,
                const std::string& Gensample) {
  const std::string Dir = fs::absolute(DataDir).string();
  std::string Orders;
  std::ifstream(Dir + "/db/.complete") >> Orders;
  if (Orders.empty()) Orders = "1000000";
  try {
    const std::string Sqlite = Dir + "/sample.sqlite";
    std::string Have;
    std::ifstream(Sqlite + ".complete") >> Have;
    if (Have != Orders) {
      fs::remove(Sqlite);
      std::fprintf(stderr, "kvbench: generando %s pedidos en %s\n", Orders.c_str(), Sqlite.c_str());
      RunProcessSeconds({Gensample, "--out", Sqlite, "--orders", Orders});
      std::ofstream(Sqlite + ".complete") << Orders;
    }
    Measure({"SQLite", "sqlite:" + Sqlite, "sqlite3", [&](const std::string& Sql) {
               return RunProcessSeconds({"sqlite3", Sqlite, Sql});
             }});
    const std::string Tools = SourceDir + "/tools";
    const std::string Uri = StartServer(Dir, Tools, Gensample, Orders);
    struct TPause {
      std::string Tool, Folder;
      ~TPause() { RunProcessSeconds({Tool, "pause", Folder}); }
    } Pause{Tools + "/pgcluster", Dir + "/pg"};
    Measure(
        {"PostgreSQL", Uri, "psql", [&](const std::string& Sql) {
           // In a session set as the library's (JIT off).
           return RunProcessSeconds({"psql", "-X", "-q", Uri, "-c", "SET jit = off", "-c", Sql});
         }});
  } catch (const std::exception& E) {
    std::printf("MISSED databases: %s\n", E.what());
    return 1;
  }
  return 0;
}
