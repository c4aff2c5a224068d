// kvsearch under conditions a user does not choose: a table cut short while it is read, a
// result larger than memory, a limit that must bound the reading, queries that name files
// outside the database folder, and texts that are not valid UTF-8 on their way to JSON.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TableFile.h"
#include "ToolTestUtil.h"

using namespace kv;

using namespace tooltest;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool Contains(const std::string& S, const std::string& Part) {
  return S.find(Part) != std::string::npos;
}

class KvsearchFaults : public ::testing::Test {
 protected:
  TScratch Scratch;
  TRunResult Search(const std::vector<std::string>& Args) {
    return RunProgram(KvsearchPath, Args, Scratch.Dir);
  }
  // kvsearch with its address space bounded (no sanitizer reserves its shadow then).
  TRunResult SearchWithin(size_t Bytes, const std::vector<std::string>& Args) {
    std::vector<std::string> All{"--as=" + std::to_string(Bytes), KvsearchPath};
    All.insert(All.end(), Args.begin(), Args.end());
    return RunProgram("/usr/bin/prlimit", All, Scratch.Dir);
  }
};

const std::string kCrossJoin = "select o1.OrderNo from orders o1, orders o2, orders o3, orders o4";

TEST_F(KvsearchFaults, ALimitReadsNoMoreOfAQueryThanItShows) {
  // 1.6e9 records: read whole, they would not fit in memory nor end in reasonable time.
  const std::vector<std::string> Args{SampleDb().string(), "--query", kCrossJoin, "--limit", "1"};
  TRunResult R = kSanitized ? Search(Args) : SearchWithin(size_t(1) << 30, Args);
  ASSERT_EQ(0, R.Status) << R.Err;
  EXPECT_EQ((std::vector<std::string>{"OrderNo", "-------", "   1001", "",
                                      "Registros encontrados:más de 1"}),
            R.Lines());
  // A search over the query finds its records among all of the query's, as SQL.
  R = Search({"--format", "json", SampleDb().string(), "--query",
              "select o1.OrderNo, o2.ShipVIA from orders o1, orders o2, orders o3, orders o4",
              "ShipVIA=='U'", "--limit", "2"});
  ASSERT_EQ(0, R.Status) << R.Err;
  EXPECT_TRUE(Contains(R.Out, "{\"count\": null, \"more_than\": 2, \"records\": [")) << R.Out;
  EXPECT_TRUE(Contains(R.Out, "\"ShipVIA\": \"UPS\"}\n]}")) << R.Out;
  // Fewer records than the limit are all there is: the count is exact.
  R = Search({"--format", "json", SampleDb().string(), "--query",
              "select OrderNo from orders where OrderNo < 1003", "--limit", "5"});
  ASSERT_EQ(0, R.Status) << R.Err;
  EXPECT_TRUE(Contains(R.Out, "{\"count\": 2, \"records\": [")) << R.Out;
}

TEST_F(KvsearchFaults, AResultLargerThanMemoryEndsWithTheOneMemoryMessage) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit does not work under the sanitizer";
  for (const char* Format : {"json"}) {
    TRunResult R =
        SearchWithin(200u << 20, {"--format", Format, SampleDb().string(), "--query", kCrossJoin});
    EXPECT_EQ(1, R.Status) << R.Err;
    EXPECT_EQ("kvsearch: no hay memoria suficiente\n", R.Err);
  }
}

TEST_F(KvsearchFaults, ATableCutShortWhileReadIsReportedNeverASignal) {
  TTableStore T;
  T.AddColumn({"OrderNo", ftInteger, 0, false});
  T.AddColumn({"Note", ftString, 60, false});
  for (int R = 0; R < 200000; ++R)
    T.AppendRow({R, Variant("pedido " + std::to_string(R) + " de la tienda de la esquina")});
  const fs::path Table = Scratch.Dir / "o.txt";
  SaveTableFile(Table.string(), T);
  const std::string Whole = ReadFile(Table);
  for (int Round = 0; Round < 4; ++Round) {
    {
      std::ofstream Out(Table, std::ios::binary | std::ios::trunc);
      Out << Whole;
    }
    fs::remove(Scratch.Dir / "stdout.txt");
    std::atomic<bool> Stop{false};
    std::thread Cutter([&] {
      // Cut once the tool has begun reading: its output file grows.
      for (int I = 0; I < 40000 && !Stop; ++I) {
        std::error_code Ec;
        if (fs::exists(Scratch.Dir / "stdout.txt", Ec) &&
            fs::file_size(Scratch.Dir / "stdout.txt", Ec) > size_t(Round) * 2000)
          break;
        std::this_thread::sleep_for(std::chrono::microseconds(250));
      }
      (void)::truncate(Table.c_str(), static_cast<off_t>(Whole.size() / 2));
    });
    TRunResult R = Search({Scratch.Dir.string(), "o.txt", "--format", "csv"});
    Stop = true;
    Cutter.join();
    ASSERT_NE(-1, R.Status) << "kvsearch ended by a signal: " << R.Err;
    if (R.Status != 0) {
      EXPECT_TRUE(Contains(R.Err, "ha cambiado desde que se abrió")) << R.Err;
    }
  }
}

}  // namespace
