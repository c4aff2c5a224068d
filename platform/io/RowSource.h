// Rows a table-file writer pulls a chunk at a time, so that the rows written need never be in
// memory all at once: a store's rows (nothing copied), or the records of a dataset over a
// database, read block after block into one chunk of columns.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "IoUtil.h"

namespace kv {

class TRowSource {
 public:
  virtual ~TRowSource() = default;
  // The columns every chunk has (definitions, types, primary key), valid while the source
  // lives; its rows are of no account.
  virtual const TTableSlice& Layout() const = 0;
  // How many rows the chunks hold in all, known before the first one (the formats whose header
  // holds the count write it first, and progress is told against it).
  virtual size_t RowCount() = 0;
  // Back before the first chunk. A writer reads the rows twice, first to size the fields and
  // then to write them: both passes must give the same rows, or the source raises.
  virtual void Rewind() = 0;
  // The next chunk (its Rows() are the chunk's), valid until the next call; null after the last.
  virtual const TTableSlice* Next() = 0;
};

// The chosen rows of a slice (of a store, all its rows or its list) in chunks of ChunkRows:
// nothing is copied.
class TSliceSource final : public TRowSource {
 public:
  static constexpr size_t kChunkRows = 16384;
  explicit TSliceSource(const TTableSlice& Data, size_t ChunkRows = kChunkRows)
      : FData(Data), FChunk(Data), FChunkRows(ChunkRows ? ChunkRows : 1) {}
  const TTableSlice& Layout() const override { return FData; }
  size_t RowCount() override { return FData.Rows().Count(); }
  void Rewind() override { FNext = 0; }
  const TTableSlice* Next() override {
    const size_t Count = FData.Rows().Count();
    if (FNext >= Count) return nullptr;
    const size_t N = std::min(FChunkRows, Count - FNext);
    FChunk.SetRange(FNext, N);
    FNext += N;
    return &FChunk;
  }

 private:
  const TTableSlice& FData;
  TTableSlice FChunk;
  size_t FChunkRows;
  size_t FNext = 0;
};

// One pass over the rows of Source from the first: Fn(Chunk) for each chunk. When Writing, the
// progress hook is told "Exportando" with the rows done after each chunk (a cancel raises
// EAborted from there). Raises EDatabaseError naming ErrName when the chunks hold more or fewer
// rows than Source.RowCount() said (the records changed while they were exported); more are
// refused before Fn sees them.
// Tells the progress hook "Exportando" with Done of Total rows written.
void ReportRowsWritten(size_t Done, size_t Total);

template <class Fn>
void ForEachChunk(TRowSource& Source, const std::string& ErrName, bool Writing, Fn&& Each) {
  const size_t Total = Source.RowCount();
  size_t Done = 0;
  Source.Rewind();
  auto Changed = [&] {
    RaiseFileError(ErrName, "los registros cambiaron mientras se exportaban (" +
                                std::to_string(Total) + " al empezar); vuelva a exportar");
  };
  while (const TTableSlice* Chunk = Source.Next()) {
    const size_t N = Chunk->Rows().Count();
    if (N > Total - Done) Changed();
    Each(*Chunk);
    Done += N;
    if (Writing) ReportRowsWritten(Done, Total);
  }
  if (Done != Total) Changed();
}

}  // namespace kv
