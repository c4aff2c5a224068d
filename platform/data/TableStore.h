// The columnar table store: typed columns with strings in one arena per column.
// A table file is loaded once into a store that every dataset and the SQL engine share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FieldTypes.h"
#include "Variant.h"

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

class TColumn {
 public:
  explicit TColumn(TFieldType T = ftString);
  TFieldType Type() const { return FType; }
  TStorageKind Kind() const { return FKind; }
  size_t Size() const { return FNull.size(); }

  bool IsNull(size_t Row) const { return FNull[Row] != 0; }
  int32_t Int(size_t Row) const { return FInts[Row]; }
  double Double(size_t Row) const { return FDoubles[Row]; }
  std::string_view Str(size_t Row) const {
    return std::string_view(FArena.data() + FOffsets[Row], FOffsets[Row + 1] - FOffsets[Row]);
  }
  // The value as a Variant of the column's type (Null when empty).
  Variant Value(size_t Row) const;

  // The Append calls are inline for the readers' hot loops; a value of another kind than the
  // column's is converted out of line.
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
  size_t MemoryBytes() const;

 private:
  void AppendIntConverted(int32_t V);
  void AppendDoubleConverted(double V);
  void AppendStringSlow(std::string_view V);
  TFieldType FType;
  TStorageKind FKind;
  std::vector<uint8_t> FNull;
  std::vector<int32_t> FInts;
  std::vector<double> FDoubles;
  std::vector<uint32_t> FOffsets;  // Size()+1 entries for strings
  std::string FArena;
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
// - The non-const members (AddColumn, AppendRow, the columns' Append calls, PrimaryKey) are for
//   the one owner building a store nobody else reads yet (a file reader, a query's result) or
//   appending to its private copy (TMemDataSet copies a shared store before its first append).
// - Readers go through the columns' const accessors (IsNull, Int, Double, Str, Value) only, so
//   that a column may later decode its values on first read.
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
  // Index of the column named Name ignoring case, -1 when absent.
  int ColumnIndex(std::string_view Name) const;
  // Appends one row of values in column order (missing trailing values are Null); forgets the
  // indexes and orders built so far.
  void AppendRow(const std::vector<Variant>& Values);
  // For a store without columns: counts rows (used by tests and empty results).
  void SetRowCountNoColumns(size_t N) { FRows = N; }
  size_t MemoryBytes() const;

  // The key text of a row over the given columns (as used by THashIndex).
  std::string KeyOf(size_t Row, const std::vector<int>& Cols) const;
  // Key text for values (one per column), matching KeyOf for equal values.
  std::string KeyOfValues(const std::vector<Variant>& Values, const std::vector<int>& Cols) const;
  // The hash index over Cols, built on first use and kept with the store.
  const THashIndex& HashIndex(const std::vector<int>& Cols) const;
  // Row order sorted by Cols (ascending, Nulls first), built on first use and kept.
  const std::vector<uint32_t>& SortedRows(const std::vector<int>& Cols) const;

 private:
  struct TIndexCache;
  size_t FRows = 0;
  std::unique_ptr<TIndexCache> FCache;
};
