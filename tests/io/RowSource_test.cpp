// Writing a table file from rows that come in chunks: the files are byte for byte those written
// before chunks existed, whatever the chunks' size; a source whose rows change between the
// passes fails; a cancel while writing leaves the old files whole and nothing else.
#include <gtest/gtest.h>

#include "IoUtil.h"
#include "Progress.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

// Every field type, Nulls and, for the formats with memo files, a text the record cannot hold.
TTableStore Every(bool LongMemo) {
  TTableStore T = AllTypesTable();
  T.PrimaryKey = {"Name"};
  if (LongMemo) {
    std::vector<Variant> Row(T.Defs.size(), Variant::Null());
    Row[0] = "Memo largo";
    Row[10] = std::string(300, 'm') + " año";
    T.AppendRow(Row);
  }
  return T;
}

// Enough rows for several blocks and chunks, texts of every length, one time with milliseconds
// near the end (it changes how the whole column is written).
TTableStore Many() {
  TTableStore T;
  T.AddColumn({"N", ftInteger, 0, false});
  T.AddColumn({"Text", ftString, 8, false});
  T.AddColumn({"Value", ftFloat, 0, false});
  T.AddColumn({"When", ftDateTime, 0, false});
  T.PrimaryKey = {"N"};
  for (int I = 0; I < 700; ++I)
    T.AppendRow(
        {I, I % 11 ? Variant(std::string(I % 23, char('a' + I % 26))) : Variant::Null(),
         I % 7 ? Variant(I / 8.0) : Variant::Null(),
         Variant(TDateTime(DateOfYmd(2020, 1 + I % 12, 1 + I % 28) + (I == 650 ? 0.5001 : 0)))});
  return T;
}

// Rows copied a chunk at a time into columns of its own, as a database's records are read;
// Extra more (or fewer) rows on the second pass, as a table that changed meanwhile.
class TCopySource final : public TRowSource {
 public:
  TCopySource(const TTableStore& Data, size_t ChunkRows, int Extra = 0)
      : FData(Data), FChunkRows(ChunkRows), FExtra(Extra), FChunk(Data), FSlice(FChunk) {}
  const TTableSlice& Layout() const override { return FSlice; }
  size_t RowCount() override { return FData.RowCount(); }
  void Rewind() override {
    FNext = 0;
    ++FPass;
  }
  const TTableSlice* Next() override {
    const size_t Total = FData.RowCount() + (FPass > 1 ? FExtra : 0);  // FExtra may be -1
    if (FNext >= Total) return nullptr;
    const size_t N = std::min(FChunkRows, Total - FNext);
    for (size_t C = 0; C < FData.Columns.size(); ++C) {
      FChunk.Columns[C] = TColumn(FData.Defs[C].DataType);
      for (size_t R = FNext; R < FNext + N; ++R)
        FChunk.Columns[C].AppendVariant(FData.Columns[C].Value(R % FData.RowCount()));
    }
    FSlice.SetRange(0, N);
    FSlice.SetRowBase(FNext);
    FNext += N;
    return &FSlice;
  }

 private:
  const TTableStore& FData;
  size_t FChunkRows;
  int FExtra;
  TTableStore FChunk;
  TTableSlice FSlice;
  size_t FNext = 0;
  int FPass = 0;
};

struct TWritten {
  const char* Name;
  bool Big;
  const char* Files;  // as the writers of whole columns wrote them
};

TEST(RowSource, FilesAreByteForByteTheSameWhateverTheChunks) {
  const TWritten Cases[] = {
      {"every.db", false, "every.db 6144 43095cf9dc1cf0a0\nevery.mb 4409 a302dfe243329297\n"},
      {"every.dbf", false, "every.dbf 1206 93f4066f1cc54681\n"},
      {"every.txt", false, "every.sch 369 9d2a8c5efa68a44a\nevery.txt 783 bdf19e5700d9557f\n"},
      {"many.db", true, "many.db 34816 fcc2b2bb98ee31b1\n"},
      {"many.dbf", true, "many.dbf 54062 08127c3b2ace9f69\n"},
      {"many.txt", true, "many.sch 173 b385e8c614ae0a19\nmany.txt 31956 af6cceab116889ff\n"},
  };
  for (const TWritten& C : Cases) {
    const TTableStore Data = C.Big ? Many() : Every(std::string(C.Name) != "every.dbf");
    {
      TScratchDir Dir;
      SaveTableFile(Dir.File(C.Name), Data);
      EXPECT_EQ(C.Files, FolderHashes(Dir)) << C.Name << " from the whole store";
    }
    for (size_t Chunk : {size_t(1), size_t(3), size_t(64), size_t(5000)}) {
      TScratchDir Dir;
      TCopySource Source(Data, Chunk);
      SaveTableFile(Dir.File(C.Name), Source);
      EXPECT_EQ(C.Files, FolderHashes(Dir)) << C.Name << " in chunks of " << Chunk;
    }
  }
}

TEST(RowSource, RowsThatChangeOrACancelLeaveTheOldFilesAlone) {
  const TTableStore Data = Many();
  for (const char* Name : {"t.db", "t.dbf", "t.txt"}) {
    TScratchDir Dir;
    const TTableStore Old = Every(false);
    SaveTableFile(Dir.File(Name), Old);
    const std::string Before = FolderHashes(Dir);
    for (int Extra : {1, -1}) {
      // More or fewer rows on the writing pass than counted and sized: refused, named.
      TCopySource Changing(Data, 100, Extra);
      try {
        SaveTableFile(Dir.File(Name), Changing);
        ADD_FAILURE() << Name << ": rows that changed were written";
      } catch (const EDatabaseError& E) {
        EXPECT_NE(std::string(E.what()).find("cambiaron mientras se exportaban"), std::string::npos)
            << E.what();
      }
      EXPECT_EQ(Before, FolderHashes(Dir)) << Name;
    }
    // A cancel at the first report of the writing pass.
    int Reports = 0;
    const TProgressHandler Prev = SetProgressHandler([&](const TProgress& P) {
      EXPECT_STREQ("Exportando", P.What);
      EXPECT_EQ(700, P.Total);
      ++Reports;
      return false;
    });
    TCopySource Source(Data, 100);
    EXPECT_THROW(SaveTableFile(Dir.File(Name), Source), EAborted) << Name;
    SetProgressHandler(Prev);
    EXPECT_EQ(1, Reports);
    EXPECT_EQ(Before, FolderHashes(Dir)) << Name << ": nothing but the old files";
  }
}

}  // namespace
