// The columnar table store: typed columns with strings in one arena per column.
// A table file is loaded once into a store that every dataset and the SQL engine share.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FieldTypes.h"
#include "Variant.h"

#pragma GCC visibility push(default)
namespace kv {

// Describes one column: name, type, size (characters for strings), required flag.
struct TColumnDef {
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
};

// How a column stores its values.
enum class TStorageKind : uint8_t { Int, Double, String };
// ftSmallint/ftInteger/ftWord/ftAutoInc/ftBoolean -> Int; float, currency, BCD and
// date/time kinds -> Double (dates as TDateTime days); everything else -> String.
TStorageKind StorageKindOf(TFieldType T);

class TColumn;

// Rows per chunk of a column decoded from a file: reading one value of a chunk decodes that chunk
// alone, so that showing the first records of a large table decodes a few thousand rows.
constexpr size_t kColumnChunkRows = 16384;
// Rows a scan goes through between two reports of how far it has come (ReportProgress): a
// search over a large table can be shown and stopped without a report per row.
constexpr size_t kScanProgressRows = 65536;

// Decodes the columns of one table file on demand (see TColumn). Thread-safe: any number of
// threads may decode at once, each into a column of its own.
class TColumnDecoder {
 public:
  virtual ~TColumnDecoder();
  // Appends the values of rows [First, First + Count) of column Col to Out, a column built in
  // memory of that column's type. Raises EDatabaseError naming the file and what is wrong with
  // it when the values cannot be read.
  virtual void Decode(size_t Col, size_t First, size_t Count, TColumn& Out) const = 0;
};

// The values of one column. A column is built in memory (the Append calls) or read from a table
// file on demand: such a column knows its row count and decodes its values the first time they
// are read, a chunk of kColumnChunkRows rows at a time through the accessors, or all in one pass
// through Decode. Each part is decoded once, under std::call_once, whichever thread reads first;
// a decoding error is raised to that reader (and to the next one, which tries again).
class TColumn {
 public:
  explicit TColumn(TFieldType T = ftString);
  // A column of Rows values that Decoder decodes as its column Index when they are first read.
  TColumn(TFieldType T, size_t Rows, std::shared_ptr<const TColumnDecoder> Decoder, size_t Index);
  ~TColumn();
  // A copy holds the values themselves (a column read from a file is decoded first).
  TColumn(const TColumn& Other);
  TColumn& operator=(const TColumn& Other);
  TColumn(TColumn&& Other) noexcept;
  TColumn& operator=(TColumn&& Other) noexcept;

  TFieldType Type() const { return FType; }
  TStorageKind Kind() const { return FKind; }
  size_t Size() const;

  bool IsNull(size_t Row) const {
    if (Ready()) [[likely]]
      return FNull[Row] != 0;
    return ChunkOf(Row).IsNull(Row % kColumnChunkRows);
  }
  int32_t Int(size_t Row) const {
    if (Ready()) [[likely]]
      return FInts[Row];
    return ChunkOf(Row).Int(Row % kColumnChunkRows);
  }
  double Double(size_t Row) const {
    if (Ready()) [[likely]]
      return FDoubles[Row];
    return ChunkOf(Row).Double(Row % kColumnChunkRows);
  }
  std::string_view Str(size_t Row) const {
    if (Ready()) [[likely]]
      return std::string_view(FArena.data() + FOffsets[Row], FOffsets[Row + 1] - FOffsets[Row]);
    return ChunkOf(Row).Str(Row % kColumnChunkRows);
  }
  // The value as a Variant of the column's type (Null when empty).
  Variant Value(size_t Row) const;

  // Decodes every value of a column read from a file in one pass, once (at once when it is
  // decoded or built in memory). Scans over a whole column call it first. Raises like the
  // decoder.
  void Decode() const;
  // Whether every value is at hand (built in memory, or decoded).
  bool Decoded() const { return Ready(); }
  // A decoded text column's values as they lie: every row's text one after the other, row R
  // from TextOffsets()[R] to TextOffsets()[R + 1] (Size() + 1 offsets; a Null row is empty).
  // Only after Decode; for scans that search the whole column at once.
  std::string_view TextArena() const { return FArena; }
  const uint32_t* TextOffsets() const { return FOffsets.data(); }

  // The Append calls are for columns built in memory. They are inline for the readers' hot
  // loops; a value of another kind than the column's is converted out of line.
  void AppendNull() {
    FNull.push_back(1);
    switch (FKind) {
      case TStorageKind::Int:
        FInts.push_back(0);
        break;
      case TStorageKind::Double:
        FDoubles.push_back(0);
        break;
      case TStorageKind::String:
        FOffsets.push_back(FOffsets.back());
        break;
    }
  }
  void AppendInt(int32_t V) {
    if (FKind != TStorageKind::Int) return AppendIntConverted(V);
    FNull.push_back(0);
    FInts.push_back(V);
  }
  void AppendDouble(double V) {
    if (FKind != TStorageKind::Double) return AppendDoubleConverted(V);
    FNull.push_back(0);
    FDoubles.push_back(V);
  }
  // An empty string is stored as Null.
  void AppendString(std::string_view V) {
    if (V.empty()) return AppendNull();
    if (FKind != TStorageKind::String || FArena.size() + V.size() > UINT32_MAX)
      return AppendStringSlow(V);
    FNull.push_back(0);
    FArena.append(V.data(), V.size());
    FOffsets.push_back(static_cast<uint32_t>(FArena.size()));
  }
  // Converts V to the column's type; raises EConvertError when it cannot.
  void AppendVariant(const Variant& V);
  void Reserve(size_t Rows, size_t ArenaBytes = 0);
  // Bytes held by the values decoded or built so far.
  size_t MemoryBytes() const;

 private:
  struct TLazy;
  bool Ready() const { return FReady.load(std::memory_order_acquire); }
  // The decoded chunk holding Row, decoding it on first use.
  const TColumn& ChunkOf(size_t Row) const;
  void AppendIntConverted(int32_t V);
  void AppendDoubleConverted(double V);
  void AppendStringSlow(std::string_view V);
  TFieldType FType;
  TStorageKind FKind;
  // The values. Mutable: a column read from a file fills them once, in Decode, before FReady
  // tells readers they may use them; until then nobody reads them.
  mutable std::vector<uint8_t> FNull;
  mutable std::vector<int32_t> FInts;
  mutable std::vector<double> FDoubles;
  mutable std::vector<uint32_t> FOffsets;  // Size()+1 entries for strings
  mutable std::string FArena;
  mutable std::atomic<bool> FReady{true};
  std::unique_ptr<TLazy> FLazy;  // a column read from a file: its decoder and decoded chunks
};

// Positions of names in a list, looked up ignoring letter case exactly as AnsiSameText compares
// them (two names are the same when their AnsiLowerCase forms are); of equal names the first
// noted wins. Behind the name lookups of fields, field definitions and columns.
class TNameIndex {
 public:
  // Position of the first name noted equal to Name ignoring case, -1 when none.
  int Find(std::string_view Name) const;
  // Notes Name at Position; an equal name noted before keeps its place.
  void Add(std::string_view Name, int Position);
  void Clear() { FPositions.clear(); }
  void Reserve(size_t Names) { FPositions.reserve(Names); }

 private:
  std::unordered_map<std::string, int> FPositions;
};

// Rows of a store grouped by the values of some columns: the hash index behind
// master-detail links. Keys are the columns' values as text joined by '\x1f'.
class THashIndex {
 public:
  // Rows whose key equals Key, in row order (empty when none).
  const std::vector<uint32_t>& Find(const std::string& Key) const;
  std::unordered_map<std::string, std::vector<uint32_t>> Buckets;
};

// A table's data. Threading rules:
// - A store shared between datasets, the table cache and the SQL engine is handed out as
//   shared_ptr<const TTableStore> and never changes again: any number of threads may read it at
//   once. Its hash indexes and sort orders are built on first use, each exactly once under the
//   store's own lock (a second thread asking for the same one waits for it); what HashIndex and
//   SortedRows return stays valid and unchanged for the store's lifetime.
// - The columns of a store read from a file decode their values on first read, each chunk and
//   each whole column once (std::call_once, the result published through an atomic flag), so
//   readers in several threads need no lock of their own. What the accessors return (a text's
//   bytes included) stays valid and unchanged for the store's lifetime.
// - The non-const members (AddColumn, AppendRow, the columns' Append calls, PrimaryKey) are for
//   the one owner building a store nobody else reads yet (a file reader, a query's result) or
//   appending to its private copy (TMemDataSet copies a shared store before its first append).
// - Readers go through the columns' const accessors (IsNull, Int, Double, Str, Value) and
//   Decode only.
class TTableStore {
 public:
  std::vector<TColumnDef> Defs;
  std::vector<TColumn> Columns;
  // Names of the primary-key columns, in key order (may be empty).
  std::vector<std::string> PrimaryKey;

  TTableStore();
  ~TTableStore();
  // Copies and moves carry the data; indexes and orders are built again on the copy's demand.
  TTableStore(const TTableStore& Other);
  TTableStore& operator=(const TTableStore& Other);
  TTableStore(TTableStore&& Other);
  TTableStore& operator=(TTableStore&& Other);

  size_t RowCount() const { return Columns.empty() ? FRows : Columns[0].Size(); }
  // Adds a column; only while the store has no rows.
  void AddColumn(TColumnDef Def);
  // Index of the first column named Name ignoring case, -1 when absent. Looked up by a name
  // index that follows Defs as it is appended to or filled again; a name changed in place is
  // seen when it is looked up, not when another name would now be found instead of it.
  int ColumnIndex(std::string_view Name) const;
  // Appends one row of values in column order (missing trailing values are Null); forgets the
  // indexes and orders built so far.
  void AppendRow(const std::vector<Variant>& Values);
  // For a store without columns: counts rows (used by tests and empty results).
  void SetRowCountNoColumns(size_t N) { FRows = N; }
  // Decodes every column of a store read from a file (see TColumn::Decode).
  void DecodeAll() const;
  size_t MemoryBytes() const;

  // The key text of a row over the given columns (as used by THashIndex).
  std::string KeyOf(size_t Row, const std::vector<int>& Cols) const;
  // Key text for values (one per column), matching KeyOf for equal values.
  std::string KeyOfValues(const std::vector<Variant>& Values, const std::vector<int>& Cols) const;
  // The hash index over Cols, built on first use and kept with the store.
  const THashIndex& HashIndex(const std::vector<int>& Cols) const;
  // Row order sorted by Cols (ascending, Nulls first, a number that is not a number with the
  // Nulls, texts in byte order, equal keys in row order), built on first use and kept.
  const std::vector<uint32_t>& SortedRows(const std::vector<int>& Cols) const;
  // Compares two rows over Cols as SortedRows orders them (the row ids aside): <0, 0, >0.
  int CompareRows(uint32_t A, uint32_t B, const std::vector<int>& Cols) const;
  // The text column Col in lower case (each value as AnsiLowerCase gives it, Nulls kept), built
  // in one pass on first use and kept with the store, for every search that ignores case.
  const TColumn& LoweredColumn(int Col) const;
  // The text column Col as FoldText gives each value (accents ignored, and case when
  // IgnoreCase; Nulls kept), built in one pass on first use and kept with the store, for every
  // search that ignores accents.
  const TColumn& FoldedColumn(int Col, bool IgnoreCase) const;

 private:
  struct TIndexCache;
  size_t FRows = 0;
  std::unique_ptr<TIndexCache> FCache;
};

}  // namespace kv
#pragma GCC visibility pop
