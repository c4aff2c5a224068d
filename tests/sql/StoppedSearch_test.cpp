// A search over a table file that the user stops (the progress handler answers false) ends with
// EAborted, whether it runs as a filter scan, directly over the store or through SQLite; the
// dataset keeps its filter, records and position, and what the store keeps for later searches
// (lowered copies, sorted orders) is either whole or not there: the next search is right.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "LocalSQL.h"
#include "Progress.h"
#include "TableFile.h"

using namespace kv;

namespace fs = std::filesystem;

namespace {

constexpr int kRows = 300000;

// Answers true Allowed times, then false. Each answer waits past the 20 ms between two reports
// that are passed on, so that every chunk's report reaches it and the stop falls mid-scan.
class TStopAfter {
 public:
  explicit TStopAfter(int Allowed) {
    FPrevious = SetProgressHandler([this, Allowed](const TProgress& P) {
      Whats.emplace_back(P.What);
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      return static_cast<int>(Whats.size()) <= Allowed;
    });
  }
  ~TStopAfter() { SetProgressHandler(std::move(FPrevious)); }
  std::vector<std::string> Whats;

 private:
  TProgressHandler FPrevious;
};

// Rows N = 0..kRows-1, Name "Ab<N / 2 % 1000>" or, N odd, "ab<N / 2 % 1000>", Grp N % 7.
fs::path WriteTable() {
  const fs::path Dir = fs::temp_directory_path() / ("kvstop-" + std::to_string(getpid()));
  fs::create_directories(Dir);
  std::ofstream Sch(Dir / "t.sch"), Txt(Dir / "t.txt");
  Sch << "[T]\nFILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n"
         "Field1=N,LONGINT,11,00,00\nField2=Name,CHAR,10,00,00\nField3=Grp,LONGINT,11,00,00\n";
  for (int N = 0; N < kRows; ++N)
    Txt << N << ",\"" << (N % 2 ? "ab" : "Ab") << N / 2 % 1000 << "\"," << N % 7 << "\n";
  return Dir;
}

size_t RowsOf(const TSelectResult& R) {
  return R.Rows ? R.Rows->size() : R.Store->RowCount();
}

TEST(StoppedSearch, LeavesTheDataSetAndTheStoreAsBeforeAndTheNextSearchIsRight) {
  const fs::path Dir = WriteTable();
  {
    // The filter scan: a new filter, its options and Filtered, each stopped mid-scan.
    TMemDataSet DS;
    DS.OpenStore(LoadTableFile((Dir / "t.txt").string()));
    DS.SetFilter("N >= 1000");
    DS.SetFiltered(true);
    DS.MoveBy(41);
    const TBookmark Before = DS.GetBookmark();
    const int Count = DS.RecordCount();
    const auto Unchanged = [&](const char* What) {
      EXPECT_EQ("N >= 1000", DS.Filter()) << What;
      EXPECT_TRUE(DS.Filtered()) << What;
      EXPECT_EQ(0, DS.FilterOptions()) << What;
      EXPECT_EQ(Count, DS.RecordCount()) << What;
      EXPECT_EQ(Before, DS.GetBookmark()) << What;
      EXPECT_EQ(42, DS.RecNo()) << What;
    };
    {
      TStopAfter Stop(1);
      EXPECT_THROW(DS.SetFilter("Grp = 3"), EAborted);
      ASSERT_GE(Stop.Whats.size(), 2u);
      EXPECT_EQ("Buscando", Stop.Whats.front());
    }
    Unchanged("SetFilter");
    DS.SetFilter("Name = 'ab1'");
    {
      // Ignoring case builds the lowered copy of Name first: stopped while it is built.
      TStopAfter Stop(1);
      EXPECT_THROW(DS.SetFilterOptions(foCaseInsensitive), EAborted);
    }
    EXPECT_EQ("Name = 'ab1'", DS.Filter());
    EXPECT_EQ(0, DS.FilterOptions());
    EXPECT_EQ(kRows / 2000, DS.RecordCount());
    DS.SetFilterOptions(foCaseInsensitive);
    EXPECT_EQ(kRows / 1000, DS.RecordCount());
    DS.SetFiltered(false);
    DS.SetFilter("Grp = 3");
    {
      TStopAfter Stop(2);
      EXPECT_THROW(DS.SetFiltered(true), EAborted);
    }
    EXPECT_FALSE(DS.Filtered());
    EXPECT_EQ(kRows, DS.RecordCount());
    DS.SetFiltered(true);
    EXPECT_EQ((kRows + 3) / 7, DS.RecordCount());
  }

  // The local SQL: over the store (ignoring case, ordered) and through SQLite (grouped).
  const std::string Db = Dir.string();
  const std::string Direct =
      "select * from \"t.txt\" where lower(Name) like '%b99%' order by Name desc";
  const std::string Grouped =
      "select Grp, count(*) from \"t.txt\" where N > 10 group by Grp order by 2";
  for (const std::string& Sql : {Direct, Grouped}) {
    TStopAfter Stop(1);
    EXPECT_THROW((void)OpenSelect(Sql, Db), EAborted) << Sql;
    EXPECT_GE(Stop.Whats.size(), 2u) << Sql;
  }
  const TSelectResult D = OpenSelect(Direct, Db);
  ASSERT_EQ(static_cast<size_t>(kRows / 1000 * 11), RowsOf(D));  // b99, b990..b999
  const TSelectResult G = OpenSelect(Grouped, Db);
  ASSERT_EQ(7u, G.Store->RowCount());
  int64_t Sum = 0;
  for (size_t R = 0; R < 7; ++R) Sum += G.Store->Columns[1].Int(R);
  EXPECT_EQ(kRows - 11, Sum);
  ClearTableCache();
  fs::remove_all(Dir);
}

}  // namespace
