// Table files cut short by another program while they are mapped: a read of the pages that are
// gone never ends the process; the mapping reads zeros there and every reader reports the
// change ("ha cambiado desde que se abrió la tabla") instead of values or damage.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "DB.h"
#include "IoUtil.h"
#include "SysUtils.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

bool SaysChanged(const std::exception& E) {
  return std::string(E.what()).find("ha cambiado desde que se abrió la tabla") != std::string::npos;
}

TEST(MappedFile, PagesCutOffReadAsZerosAndTheFileCountsAsChanged) {
  TScratchDir Dir;
  const std::string Path = Dir.File("big.bin");
  WriteFileBytes(Path, std::string(5 * 4096 + 10, 'x'));
  TMappedFile F(Path);
  ASSERT_FALSE(F.Faulted());
  EXPECT_NO_THROW(F.CheckUnchanged());
  ASSERT_EQ(0, ::truncate(Path.c_str(), 4096));
  // The page still in the file keeps its bytes; the ones past the new end were a bus error.
  EXPECT_EQ('x', static_cast<char>(F.Data()[100]));
  EXPECT_EQ(0, F.Data()[3 * 4096 + 7]);
  EXPECT_EQ(0, F.Data()[F.Size() - 1]);
  EXPECT_TRUE(F.Faulted());
  EXPECT_TRUE(F.Changed());
  try {
    F.CheckUnchanged();
    FAIL() << "a file cut short was taken as unchanged";
  } catch (const EDatabaseError& E) {
    EXPECT_TRUE(SaysChanged(E)) << E.what();
    EXPECT_NE(std::string(E.what()).find(Path), std::string::npos) << E.what();
  }
  // Another mapping of the file as it is now is of a new version: nothing faulted there.
  TMappedFile Again(Path);
  EXPECT_FALSE(Again.Faulted());
  EXPECT_EQ(4096u, Again.Size());
}

// A decoder that cuts its own file short halfway through its rows, as another program would
// while a pass reads them.
class TCuttingColumns : public TFileColumns {
 public:
  using TFileColumns::TFileColumns;

 protected:
  void DecodeRows(size_t, size_t First, size_t Count, TColumn& Out) const override {
    for (size_t R = First; R < First + Count; ++R) {
      if (R == First + Count / 2) (void)::truncate(File().Path().c_str(), 0);
      Out.AppendInt(File().Data()[R * 4096]);
    }
  }
};

TEST(MappedFile, DecodeOfAColumnCutShortWhileReadRaisesTheChange) {
  TScratchDir Dir;
  const std::string Path = Dir.File("rows.bin");
  WriteFileBytes(Path, std::string(16 * 4096, 'y'));
  auto Cols = std::make_shared<TCuttingColumns>(std::make_shared<TMappedFile>(Path));
  TColumn Col(ftInteger);
  try {
    Cols->Decode(0, 0, 16, Col);
    FAIL() << "values of a file cut short were taken";
  } catch (const EDatabaseError& E) {
    EXPECT_TRUE(SaysChanged(E)) << E.what();
  }
}

// Every format, a table of some megabytes: one thread reads every column in one pass each while
// another cuts the file to half its size. The read either ends before the cut or reports the
// change; no round ends the process.
class CutWhileRead : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override { ClearTableCache(); }
};

TEST_P(CutWhileRead, ReportsTheChangeAndNeverEndsTheProcess) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("cut") + GetParam());
  TTableStore T;
  T.AddColumn({"Id", ftInteger, 0, false});
  T.AddColumn({"Name", ftString, 40, false});
  T.AddColumn({"Amount", ftFloat, 0, false});
  for (int R = 0; R < 60000; ++R)
    T.AppendRow({R, Variant("cliente número " + std::to_string(R * 7919)), R * 0.25});
  SaveTableFile(Path, T);
  const std::string Whole = ReadFileBytes(Path);
  int Changed = 0;
  for (int Round = 0; Round < 6; ++Round) {
    WriteFileBytes(Path, Whole);
    ClearTableCache(Path);
    std::shared_ptr<const TTableStore> S;
    std::atomic<bool> Started{false};
    std::thread Cutter([&] {
      while (!Started.load()) std::this_thread::yield();
      if (Round % 2) std::this_thread::sleep_for(std::chrono::microseconds(200 * Round));
      (void)::truncate(Path.c_str(), static_cast<off_t>(Whole.size() / 2));
    });
    try {
      Started = true;
      // The text reader scans the records on opening: the cut may come then too.
      S = LoadTableFile(Path);
      S->DecodeAll();
    } catch (const EDatabaseError& E) {
      EXPECT_TRUE(SaysChanged(E)) << E.what();
      ++Changed;
    }
    Cutter.join();
  }
  RecordProperty("RoundsThatSawTheCut", Changed);
}

INSTANTIATE_TEST_SUITE_P(Formats, CutWhileRead, ::testing::Values(".db", ".dbf", ".txt"),
                         [](const auto& Info) { return std::string(Info.param + 1); });

}  // namespace
