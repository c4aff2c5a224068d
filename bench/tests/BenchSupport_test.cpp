// Tests of the benchmark program's helpers: memory figures, the byte-scan floor, the SQLite copy,
// peer processes, the Qt peer and the summary lines.
#include "BenchSupport.h"
#include "PgStatementLog.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "SysUtils.h"

using namespace kv;

namespace {

TEST(BenchStatusTest, ReadsFiguresOfStatusText) {
  const std::string Text =
      "Name:\tkvbench\nVmRSSx:\t  1 kB\nVmHWM:\t   2048 kB\nVmRSS:\t   1500 kB\nThreads:\t1\n"
      "Odd:\tnone\n";
  struct Case {
    const char* Key;
    uint64_t Bytes;
  } Cases[] = {
      {"VmRSS", 1500 * 1024},
      {"VmHWM", 2048 * 1024},
      {"Threads", 1},
      {"VmSwap", 0},
      {"Odd", 0},
      {"VmRS", 0},
  };
  for (const Case& C : Cases) EXPECT_EQ(ParseStatusBytes(Text, C.Key), C.Bytes) << C.Key;
  EXPECT_EQ(ParseStatusBytes("VmRSS:\t7 kB", "VmRSS"), 7u * 1024);  // last line, no newline
  EXPECT_GT(ProcessStatusBytes("VmRSS"), 0u);
}

TEST(BenchFloorTest, ColumnTextIsAllValuesBackToBack) {
  TColumn C(ftString);
  for (const char* V : {"Madrid", "", "Sevilla", "Málaga", ""}) C.AppendString(V);
  EXPECT_EQ(ColumnText(C), "MadridSevillaMálaga");
  TColumn Empty(ftString);
  EXPECT_TRUE(ColumnText(Empty).empty());
  TColumn Numbers(ftInteger);
  Numbers.AppendInt(4);
  EXPECT_TRUE(ColumnText(Numbers).empty());
}

TEST(BenchFloorTest, CountsOccurrencesWithoutOverlap) {
  struct Case {
    const char* Text;
    const char* Needle;
    size_t Count;
  } Cases[] = {
      {"aaaa", "aa", 2}, {"MadridMadrid", "Madrid", 2}, {"Madrid", "Sevilla", 0}, {"abc", "", 0},
      {"", "a", 0},      {"xMálagax", "Málaga", 1},
  };
  for (const Case& C : Cases)
    EXPECT_EQ(CountOccurrences(C.Text, C.Needle), C.Count) << C.Text << " / " << C.Needle;
}

class BenchSqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = std::filesystem::temp_directory_path() / ("kvbench-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::filesystem::path Dir;
};

TEST_F(BenchSqliteTest, CopiesEveryValueWithItsType) {
  TTableStore S;
  S.AddColumn({"No", ftInteger, 0, false});
  S.AddColumn({"Amount", ftCurrency, 0, false});
  S.AddColumn({"Company", ftString, 30, false});
  S.AppendRow({Variant(1), Variant(12.5), Variant("Señor O'Brien")});
  S.AppendRow({Variant(2), Variant(), Variant("")});
  std::string Path = (Dir / "t.sqlite").string();
  { std::ofstream(Path) << "not a database"; }  // an old file is replaced
  WriteSqliteFile(Path, {{"orders", &S}});

  sqlite3* Db = nullptr;
  ASSERT_EQ(sqlite3_open(Path.c_str(), &Db), SQLITE_OK);
  sqlite3_stmt* St = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(Db,
                               "SELECT No, typeof(No), Amount, typeof(Amount), Company, "
                               "typeof(Company) FROM orders ORDER BY No",
                               -1, &St, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(St), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(St, 0), 1);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(St, 1)), "integer");
  EXPECT_DOUBLE_EQ(sqlite3_column_double(St, 2), 12.5);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(St, 3)), "real");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(St, 4)), "Señor O'Brien");
  ASSERT_EQ(sqlite3_step(St), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(St, 3)), "null");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(St, 5)), "null");
  EXPECT_EQ(sqlite3_step(St), SQLITE_DONE);
  sqlite3_finalize(St);
  sqlite3_close(Db);
}

TEST_F(BenchSqliteTest, ShellPeerRunsOverTheCopy) {
  TTableStore S;
  S.AddColumn({"City", ftString, 20, false});
  for (const char* C : {"Madrid", "Lima", "Madrid"}) S.AppendRow({Variant(C)});
  std::string Path = (Dir / "t.sqlite").string();
  WriteSqliteFile(Path, {{"orders", &S}});
  EXPECT_EQ(RunProcessOutput({"sqlite3", Path, "SELECT count(*) FROM orders WHERE City='Madrid';"}),
            "2\n");
  double Seconds = RunProcessSeconds({"sqlite3", Path, "SELECT * FROM orders;"});
  EXPECT_GT(Seconds, 0);
  std::string Out = (Dir / "out.csv").string();
  RunProcessSeconds({"sqlite3", "-csv", Path, "SELECT * FROM orders;"}, Out);
  std::ifstream In(Out);
  std::string All((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(All, "Madrid\nLima\nMadrid\n");
}

TEST(BenchProcessTest, FailuresAreErrorsNotFigures) {
  EXPECT_THROW(RunProcessSeconds({"false"}), Exception);
  EXPECT_THROW(RunProcessSeconds({"kvbench-no-such-program"}), Exception);
  EXPECT_THROW(RunProcessSeconds({"true"}, "/no/such/dir/out.txt"), Exception);
}

TEST(BenchQtPeerTest, FiltersAndFindsLikeTheDataset) {
  if (!TQtFilterPeer::Available()) GTEST_SKIP() << "built without Qt";
  TQtFilterPeer P({"Madrid", "Lima", "Madrid", "madrid", ""});
  EXPECT_EQ(P.Filter("Madrid"), 2);
  EXPECT_EQ(P.Filter("Quito"), 0);
  EXPECT_EQ(P.Filter("Lima"), 1);
  EXPECT_EQ(P.FindFirst("madrid"), 3);
  EXPECT_EQ(P.FindFirst("Lima"), 1);
  EXPECT_EQ(P.FindFirst("Quito"), -1);
}

TEST(BenchSummaryTest, FormatsFiguresAndRatios) {
  struct Case {
    std::optional<double> Seconds;
    const char* Text;
  } Times[] = {{0.0000123, "12 µs"}, {0.0123, "12.3 ms"},   {0.456, "456 ms"},
               {1.5, "1.50 s"},      {std::nullopt, "n/a"}, {NAN, "n/a"}};
  for (const Case& C : Times) EXPECT_EQ(FormatSeconds(C.Seconds), C.Text);

  EXPECT_EQ(FormatRatio(0.01, 0.02), "0.50×");
  EXPECT_EQ(FormatRatio(2.0, 0.1), "20×");
  EXPECT_EQ(FormatRatio(0.00001, 1.0), "0.0000×");
  EXPECT_EQ(FormatRatio(1.0, 0.0), "n/a");
  EXPECT_EQ(FormatRatio(std::nullopt, 1.0), "n/a");
  EXPECT_EQ(FormatRatio(1.0, std::nullopt), "n/a");
}

TEST(BenchSummaryTest, VerdictFollowsTheTarget) {
  TTargetLine Limit{"filter", 0.020, "<= 30 ms", 0.030, {}, -1, ""};
  EXPECT_EQ(TargetVerdict(Limit), "ok");
  Limit.Seconds = 0.031;
  EXPECT_EQ(TargetVerdict(Limit), "MISSED");
  Limit.Seconds = std::nullopt;
  EXPECT_EQ(TargetVerdict(Limit), "?");

  TTargetLine Peer{"sql", 0.5, "<= sqlite3", std::nullopt, {{"sqlite3", 0.4}}, 0, ""};
  EXPECT_EQ(TargetVerdict(Peer), "MISSED");
  Peer.Peers[0].Seconds = 0.5;
  EXPECT_EQ(TargetVerdict(Peer), "ok");
  Peer.Peers[0].Seconds = std::nullopt;
  EXPECT_EQ(TargetVerdict(Peer), "?");

  // A limit and a factor of a peer: both must hold.
  TTargetLine Both{"again", 0.004, "<= 5 ms", 0.005, {{"floor", 0.002}}, 0, "", 3.0};
  EXPECT_EQ(TargetVerdict(Both), "ok");
  Both.Peers[0].Seconds = 0.001;
  EXPECT_EQ(TargetVerdict(Both), "MISSED") << "4× the floor";
  Both.Peers[0].Seconds = 0.004;
  Both.Seconds = 0.006;
  EXPECT_EQ(TargetVerdict(Both), "MISSED") << "over the limit";
}

TEST(BenchSummaryTest, LineNamesEveryPeerWithItsRatio) {
  TTargetLine L{"filter ShipToCity = 'x', count",           0.010, "<= 30 ms", 0.030,
                {{"sqlite3", 0.040}, {"Qt", std::nullopt}}, -1,    "12 filas"};
  std::string S = FormatTargetLine(L);
  EXPECT_EQ(S.rfind("ok", 0), 0u) << S;
  EXPECT_NE(S.find("10.0 ms"), std::string::npos) << S;
  EXPECT_NE(S.find("vs sqlite3 0.25× (40.0 ms)"), std::string::npos) << S;
  EXPECT_NE(S.find("vs Qt n/a (n/a)"), std::string::npos) << S;
  EXPECT_NE(S.find("[12 filas]"), std::string::npos) << S;

  std::string M = FormatMemoryLine(150u << 20, 120u << 20, 100u << 20, 1.5);
  EXPECT_EQ(M.rfind("ok", 0), 0u) << M;
  EXPECT_NE(M.find("1.50× file"), std::string::npos) << M;
  EXPECT_EQ(FormatMemoryLine(151u << 20, 0, 100u << 20, 1.5).rfind("MISSED", 0), 0u);
  EXPECT_EQ(FormatMemoryLine(1, 1, 0, 1.5).rfind("?", 0), 0u);
}

}  // namespace

#ifdef KVBENCH_PXLIB
extern "C" {
#include <paradox.h>
}
#include <cstring>

namespace {

TEST_F(BenchSqliteTest, PxlibPeerReadsEveryRecordOfAFileItWrote) {
  const std::string Path = (Dir / "px.db").string();
  {
    pxdoc_t* Px = PX_new();
    auto* Fields = static_cast<pxfield_t*>(std::malloc(sizeof(pxfield_t) * 2));
    Fields[0] = {strdup("Name"), pxfAlpha, 10, 0};
    Fields[1] = {strdup("Amount"), pxfNumber, 8, 0};
    ASSERT_EQ(0, PX_create_file(Px, Fields, 2, Path.c_str(), pxfFileTypNonIndexDB));
    char Rec[18];
    for (int I = 0; I < 3; ++I) {
      std::memset(Rec, 0, sizeof Rec);
      PX_put_data_alpha(Px, Rec, 10, const_cast<char*>("abc"));
      PX_put_data_double(Px, Rec + 10, 8, 1.5 * (I + 1));
      ASSERT_GE(PX_put_record(Px, Rec), 0);
    }
    PX_close(Px);
    PX_delete(Px);
  }
  auto R = PxlibReadAll(Path);
  ASSERT_TRUE(R.has_value());
  EXPECT_EQ(R->Records, 3);
  // Three names starting with 'a' and the amounts 1.5 + 3 + 4.5.
  EXPECT_DOUBLE_EQ(R->Checksum, 3 * 'a' + 9.0);
  EXPECT_THROW(PxlibReadAll((Dir / "missing.db").string()), Exception);
}

}  // namespace
#endif

// The server's log read back into the statements a client sent, and the peer's script made of
// them: only executions count, parameters are written in where they stand as parameters, and
// continued lines stay with their statement.
TEST(BenchStatementLogTest, ReadsExecutionsWithTheirParameters) {
  const std::string Log =
      "2026-12-09 13:00:00.001 UTC [77] LOG:  duration: 0.050 ms  parse <unnamed>: SELECT $1\n"
      "2026-12-09 13:00:00.002 UTC [77] LOG:  duration: 0.020 ms  bind <unnamed>: SELECT $1\n"
      "2026-12-09 13:00:00.002 UTC [77] DETAIL:  parameters: $1 = '7'\n"
      "2026-12-09 13:00:00.003 UTC [77] LOG:  duration: 1.500 ms  execute <unnamed>: SELECT * "
      "FROM t WHERE a = $1 AND b = $10 AND c = '$1' AND \"$2\" = $2\n"
      "2026-12-09 13:00:00.003 UTC [77] DETAIL:  Parameters: $1 = 'O''Brien, Ana', $2 = NULL, "
      "$3 = '3', $4 = '4', $5 = '5', $6 = '6', $7 = '7', $8 = '8', $9 = '9', $10 = '10'\n"
      "2026-12-09 13:00:00.004 UTC [78] LOG:  checkpoint starting: time\n"
      "2026-12-09 13:00:00.005 UTC [77] LOG:  duration: 2.250 ms  statement: SELECT 1,\n"
      "\t2\n"
      "2026-12-09 13:00:00.006 UTC [77] LOG:  duration: 0.100 ms  execute S_1: SELECT x[$1]\n";
  const std::vector<TLoggedStatement> S = ParseStatementLog(Log);
  ASSERT_EQ(S.size(), 3u);
  EXPECT_DOUBLE_EQ(S[0].Milliseconds, 1.5);
  ASSERT_EQ(S[0].Parameters.size(), 10u);
  EXPECT_EQ(S[0].Parameters[0], "'O''Brien, Ana'");
  EXPECT_EQ(StatementWithParameters(S[0]),
            "SELECT * FROM t WHERE a = 'O''Brien, Ana' AND b = '10' AND c = '$1' AND \"$2\" = "
            "NULL");
  EXPECT_EQ(S[1].Sql, "SELECT 1,\n2");
  EXPECT_TRUE(S[1].Parameters.empty());
  // Without its DETAIL line a parameter stays as written (psql then reports the statement).
  EXPECT_EQ(StatementWithParameters(S[2]), "SELECT x[$1]");
}
