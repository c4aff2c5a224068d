// Columns decoded when first read: a value read through its chunk is the value a whole-column
// decode gives, in every format and for every type; damage found only on reading (a file written
// in place, a missing memo file) is an error naming the file from the read that found it, every
// time, never a crash; and threads reading one fresh store at once see the same values.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "DB.h"
#include "IoUtil.h"
#include "SysUtils.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

// Rows enough for two chunks and a part: the last chunk is short.
constexpr size_t kRows = 2 * kColumnChunkRows + 123;

// The every-type table repeated to kRows rows, each text made unique by its row and every
// seventh memo long enough to live in a Paradox table's memo file (and short enough for dBase).
TTableStore ManyRowsOfEveryType() {
  const TTableStore Base = AllTypesTable();
  TTableStore T;
  for (const TColumnDef& D : Base.Defs) T.AddColumn(D);
  for (size_t R = 0; R < kRows; ++R) {
    std::vector<Variant> Row;
    for (size_t C = 0; C < Base.Columns.size(); ++C) {
      Variant V = Base.Columns[C].Value(R % Base.RowCount());
      if (Base.Columns[C].Kind() == TStorageKind::String && !V.IsNull())
        V = Variant(V.AsString() + " " + std::to_string(R));
      if (Base.Defs[C].Name == "Notes" && R % 7 == 3)
        V = Variant(std::string(240, 'm') + " ñ " + std::to_string(R));
      if (Base.Defs[C].Name == "Seq") V = Variant(static_cast<int>(R + 1));
      Row.push_back(V);
    }
    T.AppendRow(Row);
  }
  return T;
}

// Every cell of a store in canonical text, read in the order Rows gives.
std::vector<std::string> Cells(const TTableStore& S, const std::vector<size_t>& Rows) {
  std::vector<std::string> Out;
  for (const TColumn& C : S.Columns)
    for (size_t R : Rows) Out.push_back(CanonicalCell(C, R));
  return Out;
}

std::vector<size_t> AllRows(size_t N) {
  std::vector<size_t> Rows(N);
  for (size_t R = 0; R < N; ++R) Rows[R] = R;
  return Rows;
}

class LazyColumns : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override { ClearTableCache(); }
};

TEST_P(LazyColumns, ChunkReadsGiveExactlyTheValuesOfAWholeDecode) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("many") + GetParam());
  SaveTableFile(Path, ManyRowsOfEveryType());

  // One fresh store read a chunk at a time, the last chunk first and the first last.
  auto ByChunks = LoadTableFile(Path);
  ASSERT_EQ(kRows, ByChunks->RowCount());
  for (const TColumn& C : ByChunks->Columns) EXPECT_FALSE(C.Decoded());
  std::vector<size_t> Scattered;
  for (size_t R = kRows; R-- > 0;) Scattered.push_back(R);
  const std::vector<std::string> Chunked = Cells(*ByChunks, Scattered);
  for (const TColumn& C : ByChunks->Columns) EXPECT_FALSE(C.Decoded()) << "reads stay per chunk";

  // Another fresh store decoded whole first.
  ClearTableCache(Path);
  auto Whole = LoadTableFile(Path);
  ASSERT_NE(ByChunks.get(), Whole.get());
  Whole->DecodeAll();
  for (const TColumn& C : Whole->Columns) EXPECT_TRUE(C.Decoded());
  EXPECT_EQ(Chunked, Cells(*Whole, Scattered));

  // The chunked store decoded whole afterwards reads the same again.
  ByChunks->DecodeAll();
  EXPECT_EQ(Chunked, Cells(*ByChunks, Scattered));
}

TEST_P(LazyColumns, ShowingTheFirstRecordsDecodesOneChunkOfEachColumn) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("first") + GetParam());
  SaveTableFile(Path, ManyRowsOfEveryType());
  auto S = LoadTableFile(Path);
  const size_t Opened = S->MemoryBytes();
  for (const TColumn& C : S->Columns)
    for (size_t R = 0; R < 50; ++R) (void)C.Value(R);
  // The first chunk of every column and nothing more: well under half of the whole.
  const size_t Shown = S->MemoryBytes();
  S->DecodeAll();
  EXPECT_LT(Shown - Opened, (S->MemoryBytes() - Shown) / 2);
}

TEST_P(LazyColumns, TwoThreadsReadingOneFreshStoreSeeTheSameValues) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("threads") + GetParam());
  SaveTableFile(Path, ManyRowsOfEveryType());
  auto S = LoadTableFile(Path);
  const std::vector<size_t> Rows = AllRows(kRows);
  std::vector<std::string> A, B;
  // One reads chunk by chunk while the other decodes whole columns: both race for the same
  // chunks and columns.
  std::thread T1([&] { A = Cells(*S, Rows); });
  std::thread T2([&] {
    S->DecodeAll();
    B = Cells(*S, Rows);
  });
  T1.join();
  T2.join();
  EXPECT_EQ(A, B);
  ClearTableCache(Path);
  auto Fresh = LoadTableFile(Path);
  Fresh->DecodeAll();
  EXPECT_EQ(A, Cells(*Fresh, Rows));
}

TEST_P(LazyColumns, FileWrittenInPlaceAfterOpeningIsAnErrorAtFirstRead) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("changed") + GetParam());
  SaveTableFile(Path, ManyRowsOfEveryType());
  auto S = LoadTableFile(Path);
  (void)S->Columns[0].Value(0);
  {
    // Same file, written in place (as another program saving without a new file would).
    const int Fd = ::open(Path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(Fd, 0);
    ASSERT_EQ(1, ::write(Fd, "x", 1));
    ::close(Fd);
  }
  // What was decoded before stays readable; anything else raises, naming the file.
  EXPECT_NO_THROW((void)S->Columns[0].Value(1));
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    try {
      (void)S->Columns[1].Value(kRows - 1);
      FAIL() << "a changed file was read";
    } catch (const EDatabaseError& E) {
      EXPECT_NE(std::string(E.what()).find(Path), std::string::npos) << E.what();
      EXPECT_NE(std::string(E.what()).find("ha cambiado"), std::string::npos) << E.what();
    }
  }
}

// A fresh store written out decodes the columns it writes (those of one file together) and no
// other; the file is the one a store decoded beforehand gives, whatever was read before.
TEST_P(LazyColumns, WritingAFreshStoreDecodesWhatItWritesAndNothingElse) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("source") + GetParam());
  SaveTableFile(Path, ManyRowsOfEveryType());
  const std::vector<size_t> Chosen = {4, 0, 2, 3, 4, 8};  // one twice, out of order
  auto SliceOf = [&](const TTableStore& S) {
    std::vector<TTableSlice::TPart> Parts;
    for (size_t C : Chosen) Parts.push_back({S.Defs[C], &S.Columns[C]});
    return TTableSlice(std::move(Parts), S.RowCount(), nullptr, {});
  };
  auto Fresh = LoadTableFile(Path);
  Fresh->Columns[2].Decode();                // one already whole
  (void)Fresh->Columns[3].Value(kRows - 1);  // one with a chunk read
  // Both copies under one name (a Paradox header holds it), in folders of their own.
  TScratchDir FreshDir, WholeDir;
  const std::string Name = std::string("copy") + GetParam();
  SaveTableFile(FreshDir.File(Name), SliceOf(*Fresh));
  for (size_t C = 0; C < Fresh->Columns.size(); ++C)
    EXPECT_EQ(std::count(Chosen.begin(), Chosen.end(), C) > 0, Fresh->Columns[C].Decoded()) << C;

  ClearTableCache(Path);
  auto Whole = LoadTableFile(Path);
  Whole->DecodeAll();
  SaveTableFile(WholeDir.File(Name), SliceOf(*Whole));
  EXPECT_TRUE(ReadFileBytes(WholeDir.File(Name)) == ReadFileBytes(FreshDir.File(Name)));
  EXPECT_EQ(Cells(*Whole, AllRows(kRows)), Cells(*Fresh, AllRows(kRows)));
}

INSTANTIATE_TEST_SUITE_P(Formats, LazyColumns, ::testing::Values(".db", ".dbf", ".txt"),
                         [](const auto& Info) { return std::string(Info.param + 1); });

// A table whose damage shows only when its values are read: opening works, the read raises.
void ExpectErrorOnRead(const TColumn& C, size_t Row, const std::string& Names,
                       const std::string& What) {
  for (int Attempt = 0; Attempt < 2; ++Attempt) {
    try {
      (void)C.Value(Row);
      FAIL() << "no error reading row " << Row;
    } catch (const EDatabaseError& E) {
      EXPECT_NE(std::string(E.what()).find(Names), std::string::npos) << E.what();
      EXPECT_NE(std::string(E.what()).find(What), std::string::npos) << E.what();
    }
  }
}

TEST(LazyDamage, MissingMemoFileIsFoundByTheFirstReadOfTheMemoColumn) {
  TScratchDir Dir;
  const std::string Db = Dir.File("memo.db");
  TTableStore T;
  T.AddColumn({"Id", ftInteger, 0, false});
  T.AddColumn({"Notes", ftMemo, 0, false});
  for (int R = 0; R < 100; ++R) T.AppendRow({R, Variant(std::string(400, 'a' + R % 26))});
  SaveTableFile(Db, T);
  ASSERT_EQ(0, ::unlink(Dir.File("memo.mb").c_str()));
  ClearTableCache();
  auto S = LoadTableFile(Db);
  EXPECT_EQ(99, S->Columns[0].Int(99));
  ExpectErrorOnRead(S->Columns[1], 0, "memo.mb", "falta el archivo de memos");
}

}  // namespace
