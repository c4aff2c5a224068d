// Columnar table store: typed columns, string arenas, and the cached hash indexes and sort
// orders that master-detail links and ordered tables reuse.
#include "TableStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

#include "Progress.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

TStorageKind StorageKindOf(TFieldType T) {
  switch (T) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftBoolean:
      return TStorageKind::Int;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return TStorageKind::Double;
    default:
      return TStorageKind::String;
  }
}

TColumnDecoder::~TColumnDecoder() = default;

// What a column read from a file keeps until it is decoded whole: where its values come from,
// and the chunks decoded so far (kept for the store's lifetime, since readers may hold texts of
// them).
struct TColumn::TLazy {
  struct TChunk {
    std::once_flag Once;
    std::atomic<const TColumn*> Values{nullptr};
    std::unique_ptr<TColumn> Owned;
  };
  std::shared_ptr<const TColumnDecoder> Decoder;
  size_t Index = 0;
  size_t Rows = 0;
  std::once_flag Whole;
  std::unique_ptr<TChunk[]> Chunks;
};

TColumn::TColumn(TFieldType T) : FType(T), FKind(StorageKindOf(T)) {
  if (FKind == TStorageKind::String) FOffsets.push_back(0);
}

TColumn::TColumn(TFieldType T, size_t Rows, std::shared_ptr<const TColumnDecoder> Decoder,
                 size_t Index)
    : TColumn(T) {
  if (Rows == 0) return;  // nothing to decode
  FLazy = std::make_unique<TLazy>();
  FLazy->Decoder = std::move(Decoder);
  FLazy->Index = Index;
  FLazy->Rows = Rows;
  FLazy->Chunks =
      std::make_unique<TLazy::TChunk[]>((Rows + kColumnChunkRows - 1) / kColumnChunkRows);
  FReady.store(false, std::memory_order_relaxed);
}

TColumn::~TColumn() = default;

TColumn::TColumn(const TColumn& Other) : FType(Other.FType), FKind(Other.FKind) {
  Other.Decode();
  FNull = Other.FNull;
  FInts = Other.FInts;
  FDoubles = Other.FDoubles;
  FOffsets = Other.FOffsets;
  FArena = Other.FArena;
}

TColumn& TColumn::operator=(const TColumn& Other) {
  if (this != &Other) *this = TColumn(Other);
  return *this;
}

TColumn::TColumn(TColumn&& Other) noexcept
    : FType(Other.FType),
      FKind(Other.FKind),
      FNull(std::move(Other.FNull)),
      FInts(std::move(Other.FInts)),
      FDoubles(std::move(Other.FDoubles)),
      FOffsets(std::move(Other.FOffsets)),
      FArena(std::move(Other.FArena)),
      FReady(Other.FReady.load(std::memory_order_acquire)),
      FLazy(std::move(Other.FLazy)) {
  Other.FReady.store(true, std::memory_order_relaxed);
}

TColumn& TColumn::operator=(TColumn&& Other) noexcept {
  if (this == &Other) return *this;
  FType = Other.FType;
  FKind = Other.FKind;
  FNull = std::move(Other.FNull);
  FInts = std::move(Other.FInts);
  FDoubles = std::move(Other.FDoubles);
  FOffsets = std::move(Other.FOffsets);
  FArena = std::move(Other.FArena);
  FReady.store(Other.FReady.load(std::memory_order_acquire), std::memory_order_relaxed);
  FLazy = std::move(Other.FLazy);
  Other.FReady.store(true, std::memory_order_relaxed);
  return *this;
}

size_t TColumn::Size() const {
  return FLazy ? FLazy->Rows : FNull.size();
}

// Decodes Count rows from First on into a new column of this one's type, checking that the
// decoder gave as many.
static std::unique_ptr<TColumn> DecodeRows(const TColumnDecoder& Decoder, size_t Index,
                                           TFieldType Type, size_t First, size_t Count) {
  auto Values = std::make_unique<TColumn>(Type);
  Values->Reserve(Count);
  Decoder.Decode(Index, First, Count, *Values);
  if (Values->Size() != Count || Values->Type() != Type)
    throw EConvertError("La columna " + std::to_string(Index + 1) + " no se pudo leer completa");
  return Values;
}

const TColumn& TColumn::ChunkOf(size_t Row) const {
  TLazy::TChunk& C = FLazy->Chunks[Row / kColumnChunkRows];
  if (const TColumn* Values = C.Values.load(std::memory_order_acquire)) return *Values;
  std::call_once(C.Once, [&] {
    const size_t First = Row / kColumnChunkRows * kColumnChunkRows;
    C.Owned = DecodeRows(*FLazy->Decoder, FLazy->Index, FType, First,
                         std::min(kColumnChunkRows, FLazy->Rows - First));
    C.Values.store(C.Owned.get(), std::memory_order_release);
  });
  return *C.Owned;
}

void TColumn::Decode() const {
  if (Ready()) return;
  std::call_once(FLazy->Whole, [&] {
    std::unique_ptr<TColumn> All = DecodeRows(*FLazy->Decoder, FLazy->Index, FType, 0, FLazy->Rows);
    FNull = std::move(All->FNull);
    FInts = std::move(All->FInts);
    FDoubles = std::move(All->FDoubles);
    FOffsets = std::move(All->FOffsets);
    FArena = std::move(All->FArena);
    FReady.store(true, std::memory_order_release);
  });
}

Variant TColumn::Value(size_t Row) const {
  if (IsNull(Row)) return Variant::Null();
  switch (FKind) {
    case TStorageKind::Int:
      if (FType == ftBoolean) return Variant(Int(Row) != 0);
      return Variant(static_cast<int>(Int(Row)));
    case TStorageKind::Double:
      if (FType == ftDate || FType == ftTime || FType == ftDateTime)
        return Variant(TDateTime(Double(Row)));
      if (FType == ftCurrency) return Variant::Currency(Double(Row));
      return Variant(Double(Row));
    case TStorageKind::String:
      return Variant(std::string(Str(Row)));
  }
  return Variant::Null();
}

void TColumn::AppendIntConverted(int32_t V) {
  if (FKind == TStorageKind::Double) return AppendDouble(V);
  AppendString(IntToStr(V));
}

void TColumn::AppendDoubleConverted(double V) {
  if (FKind == TStorageKind::Int) return AppendInt(static_cast<int32_t>(std::llround(V)));
  AppendString(FloatToStr(V));
}

void TColumn::AppendStringSlow(std::string_view V) {
  if (FKind != TStorageKind::String) return AppendVariant(Variant(V));
  throw EConvertError("La tabla supera el tamaño máximo de texto de una columna");
}

void TColumn::AppendVariant(const Variant& V) {
  if (V.IsNullOrEmpty()) return AppendNull();
  switch (FKind) {
    case TStorageKind::Int:
      if (FType == ftBoolean) {
        if (V.IsString()) {
          std::string L = LowerCase(Trim(V.AsString()));
          if (L == "true") return AppendInt(1);
          if (L == "false") return AppendInt(0);
          throw EConvertError("'" + V.AsString() + "' no es un valor lógico válido");
        }
        return AppendInt(V.AsBoolean() ? 1 : 0);
      }
      if (V.IsString()) return AppendInt(StrToInt(V.AsString()));
      return AppendInt(static_cast<int32_t>(V.AsInt64()));
    case TStorageKind::Double:
      if (V.IsString()) {
        const std::string S = V.AsString();
        if (FType == ftDate) return AppendDouble(StrToDate(S).Val);
        if (FType == ftTime) return AppendDouble(StrToTime(S).Val);
        if (FType == ftDateTime) return AppendDouble(StrToDateTime(S).Val);
        return AppendDouble(StrToFloat(S));
      }
      if (V.VarType() == varDate) return AppendDouble(V.AsDateTime().Val);
      return AppendDouble(V.AsDouble());
    case TStorageKind::String:
      return AppendString(V.AsString());
  }
}

void TColumn::Reserve(size_t Rows, size_t ArenaBytes) {
  FNull.reserve(Rows);
  switch (FKind) {
    case TStorageKind::Int:
      FInts.reserve(Rows);
      break;
    case TStorageKind::Double:
      FDoubles.reserve(Rows);
      break;
    case TStorageKind::String:
      FOffsets.reserve(Rows + 1);
      FArena.reserve(ArenaBytes);
      break;
  }
}

size_t TColumn::MemoryBytes() const {
  size_t N = FNull.capacity() + FInts.capacity() * sizeof(int32_t) +
             FDoubles.capacity() * sizeof(double) + FOffsets.capacity() * sizeof(uint32_t) +
             FArena.capacity();
  if (FLazy) {
    const size_t Chunks = (FLazy->Rows + kColumnChunkRows - 1) / kColumnChunkRows;
    N += Chunks * sizeof(TLazy::TChunk);
    for (size_t I = 0; I < Chunks; ++I)
      if (const TColumn* C = FLazy->Chunks[I].Values.load(std::memory_order_acquire))
        N += C->MemoryBytes();
  }
  return N;
}

namespace {
// The key a name is indexed under: its lower-case form, the one AnsiSameText compares.
void NameKey(std::string_view Name, std::string& Key) {
  for (char C : Name)
    if (static_cast<unsigned char>(C) >= 0x80) {
      Key = AnsiLowerCase(Name);
      return;
    }
  Key.assign(Name.data(), Name.size());
  for (char& C : Key)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
}
}  // namespace

int TNameIndex::Find(std::string_view Name) const {
  thread_local std::string Key;
  NameKey(Name, Key);
  auto It = FPositions.find(Key);
  return It == FPositions.end() ? -1 : It->second;
}

void TNameIndex::Add(std::string_view Name, int Position) {
  std::string Key;
  NameKey(Name, Key);
  FPositions.emplace(std::move(Key), Position);
}

const std::vector<uint32_t>& THashIndex::Find(const std::string& Key) const {
  static const std::vector<uint32_t> None;
  auto It = Buckets.find(Key);
  return It == Buckets.end() ? None : It->second;
}

// Indexes and orders built on demand. The map is guarded by Lock; each entry is built once under
// its own flag, so building one index does not hold up readers of another.
struct TTableStore::TIndexCache {
  template <class T>
  struct TEntry {
    std::once_flag Built;
    std::unique_ptr<T> Value;
    std::atomic<bool> Done{false};  // Value is set (for readers that do not build it)
  };
  std::mutex Lock;
  std::unordered_map<std::string, std::unique_ptr<TEntry<THashIndex>>> Hashes;
  std::unordered_map<std::string, std::unique_ptr<TEntry<std::vector<uint32_t>>>> Orders;
  std::unordered_map<std::string, std::unique_ptr<TEntry<TColumn>>> Lowered;
  // The column names, noted for the first NamesNoted entries of Defs (under NamesLock).
  std::mutex NamesLock;
  TNameIndex Names;
  size_t NamesNoted = 0;

  // The entry for Key in Map, made empty when new; its address stays valid (entries are never
  // moved, and removed only from a store that nobody else reads).
  template <class T>
  TEntry<T>& Slot(std::unordered_map<std::string, std::unique_ptr<TEntry<T>>>& Map,
                  const std::string& Key) {
    std::lock_guard<std::mutex> G(Lock);
    auto& E = Map[Key];
    if (!E) E = std::make_unique<TEntry<T>>();
    return *E;
  }
  template <class T, class F>
  const T& Get(std::unordered_map<std::string, std::unique_ptr<TEntry<T>>>& Map,
               const std::string& Key, F&& Build) {
    TEntry<T>& E = Slot(Map, Key);
    std::call_once(E.Built, [&] {
      E.Value = Build();
      E.Done.store(true, std::memory_order_release);
    });
    return *E.Value;
  }
};

TTableStore::TTableStore() : FCache(std::make_unique<TIndexCache>()) {}
TTableStore::~TTableStore() = default;

TTableStore::TTableStore(const TTableStore& Other)
    : Defs(Other.Defs),
      Columns(Other.Columns),
      PrimaryKey(Other.PrimaryKey),
      FRows(Other.FRows),
      FCache(std::make_unique<TIndexCache>()) {}

TTableStore& TTableStore::operator=(const TTableStore& Other) {
  if (this != &Other) *this = TTableStore(Other);
  return *this;
}

TTableStore::TTableStore(TTableStore&& Other)
    : Defs(std::move(Other.Defs)),
      Columns(std::move(Other.Columns)),
      PrimaryKey(std::move(Other.PrimaryKey)),
      FRows(Other.FRows),
      FCache(std::exchange(Other.FCache, std::make_unique<TIndexCache>())) {}

TTableStore& TTableStore::operator=(TTableStore&& Other) {
  Defs = std::move(Other.Defs);
  Columns = std::move(Other.Columns);
  PrimaryKey = std::move(Other.PrimaryKey);
  FRows = Other.FRows;
  std::swap(FCache, Other.FCache);
  return *this;
}

void TTableStore::AddColumn(TColumnDef Def) {
  if (RowCount() > 0) throw EConvertError("No se pueden añadir columnas a una tabla con registros");
  Columns.emplace_back(Def.DataType);
  Defs.push_back(std::move(Def));
}

int TTableStore::ColumnIndex(std::string_view Name) const {
  TIndexCache& C = *FCache;
  std::lock_guard<std::mutex> G(C.NamesLock);
  // Readers fill Defs by appending: names appended since the last lookup are noted now. Fewer
  // names than noted means Defs was filled again, and a hit that no longer holds the name that
  // a name was changed in place: both start the index afresh.
  for (int Pass = 0; Pass < 2; ++Pass) {
    if (Defs.size() < C.NamesNoted || Pass == 1) {
      C.Names.Clear();
      C.NamesNoted = 0;
    }
    if (C.NamesNoted < Defs.size()) {
      C.Names.Reserve(Defs.size());
      for (size_t I = C.NamesNoted; I < Defs.size(); ++I)
        C.Names.Add(Defs[I].Name, static_cast<int>(I));
      C.NamesNoted = Defs.size();
    }
    const int Index = C.Names.Find(Name);
    if (Index < 0 || AnsiSameText(Defs[static_cast<size_t>(Index)].Name, Name)) return Index;
  }
  return -1;
}

void TTableStore::AppendRow(const std::vector<Variant>& Values) {
  // Convert everything first so a bad value leaves the store unchanged.
  for (size_t C = 0; C < Columns.size(); ++C) {
    if (C < Values.size() && !Values[C].IsNullOrEmpty()) {
      TColumn Probe(Columns[C].Type());
      try {
        Probe.AppendVariant(Values[C]);
      } catch (const Exception& E) {
        throw EConvertError("Valor no válido para el campo " + Defs[C].Name + ": " + E.Message());
      }
    }
  }
  for (size_t C = 0; C < Columns.size(); ++C) {
    if (C < Values.size())
      Columns[C].AppendVariant(Values[C]);
    else
      Columns[C].AppendNull();
  }
  if (Columns.empty()) ++FRows;
  // The store is private to its writer: nobody holds an index of it.
  if (!FCache->Hashes.empty() || !FCache->Orders.empty() || !FCache->Lowered.empty())
    FCache = std::make_unique<TIndexCache>();
}

void TTableStore::DecodeAll() const {
  for (const TColumn& C : Columns) C.Decode();
}

size_t TTableStore::MemoryBytes() const {
  size_t N = sizeof(*this);
  for (const auto& C : Columns) N += C.MemoryBytes();
  // Lowered and folded copies made for searches are the store's too.
  std::lock_guard<std::mutex> G(FCache->Lock);
  for (const auto& [Key, E] : FCache->Lowered)
    if (E && E->Done.load(std::memory_order_acquire)) N += E->Value->MemoryBytes();
  return N;
}

// Key text of one number: integral values as integers, others in their shortest exact form,
// so that 1221 (integer column) and 1221.0 (float column) give the same key.
static void AppendNumberKey(std::string& Key, double V) {
  char Buf[32];
  std::to_chars_result R;
  if (V == std::trunc(V) && std::fabs(V) < 1e15)
    R = std::to_chars(Buf, Buf + sizeof Buf, static_cast<long long>(V));
  else
    R = std::to_chars(Buf, Buf + sizeof Buf, V);
  Key.append(Buf, R.ptr);
}

// Key text of one column value: Null has its own mark, numbers canonical.
static void AppendKeyPart(std::string& Key, const TColumn& C, size_t Row) {
  if (C.IsNull(Row)) {
    Key += '\x1e';
    return;
  }
  switch (C.Kind()) {
    case TStorageKind::Int:
      AppendNumberKey(Key, C.Int(Row));
      break;
    case TStorageKind::Double:
      AppendNumberKey(Key, C.Double(Row));
      break;
    case TStorageKind::String:
      Key.append(C.Str(Row));
      break;
  }
}

std::string TTableStore::KeyOf(size_t Row, const std::vector<int>& Cols) const {
  std::string Key;
  for (size_t I = 0; I < Cols.size(); ++I) {
    if (I) Key += '\x1f';
    AppendKeyPart(Key, Columns[Cols[I]], Row);
  }
  return Key;
}

std::string TTableStore::KeyOfValues(const std::vector<Variant>& Values,
                                     const std::vector<int>& Cols) const {
  std::string Key;
  for (size_t I = 0; I < Cols.size(); ++I) {
    if (I) Key += '\x1f';
    TColumn Tmp(Columns[Cols[I]].Type());
    try {
      Tmp.AppendVariant(I < Values.size() ? Values[I] : Variant::Null());
    } catch (const Exception&) {
      return std::string("\x1d");  // a value of another type matches nothing
    }
    AppendKeyPart(Key, Tmp, 0);
  }
  return Key;
}

static std::string ColsKey(const std::vector<int>& Cols) {
  std::string K;
  for (int C : Cols) K += std::to_string(C) + ",";
  return K;
}

const THashIndex& TTableStore::HashIndex(const std::vector<int>& Cols) const {
  return FCache->Get(FCache->Hashes, ColsKey(Cols), [&] {
    for (int C : Cols) Columns[C].Decode();
    auto Index = std::make_unique<THashIndex>();
    const size_t N = RowCount();
    Index->Buckets.reserve(N / 2 + 1);
    for (size_t R = 0; R < N; ++R)
      Index->Buckets[KeyOf(R, Cols)].push_back(static_cast<uint32_t>(R));
    return Index;
  });
}

namespace {

// Whether a value sorts with the Nulls: an empty value, or a number that is not one (NaN orders
// against nothing; the SQL engine sees it as Null too).
inline bool SortsAsNull(const TColumn& C, uint32_t Row) {
  return C.IsNull(Row) || (C.Kind() == TStorageKind::Double && std::isnan(C.Double(Row)));
}

// Orders two rows of one column: Nulls first, numbers by value, strings by their bytes.
int CompareCell(const TColumn& C, uint32_t A, uint32_t B) {
  const bool NA = SortsAsNull(C, A), NB = SortsAsNull(C, B);
  if (NA || NB) return NA == NB ? 0 : (NA ? -1 : 1);
  switch (C.Kind()) {
    case TStorageKind::Int:
      return C.Int(A) < C.Int(B) ? -1 : C.Int(A) > C.Int(B);
    case TStorageKind::Double:
      return C.Double(A) < C.Double(B) ? -1 : C.Double(A) > C.Double(B);
    case TStorageKind::String:
      return AnsiCompareStr(C.Str(A), C.Str(B));
  }
  return 0;
}

// The first eight bytes of a text as a number that orders like the text (zero bytes after a
// shorter one's end, which sort first as its end does); equal numbers need the whole texts.
inline uint64_t TextPrefix(std::string_view S) {
  uint64_t K = 0;
  for (size_t I = 0; I < 8; ++I) K = (K << 8) | (I < S.size() ? static_cast<uint8_t>(S[I]) : 0u);
  return K;
}

// The order of one column: the rows that sort as Null in row order, then the others sorted by
// a key held beside the row (the value, or a text's prefix), equal keys in row order.
std::vector<uint32_t> SortOneColumn(const TColumn& C) {
  struct TKeyed {
    uint64_t Bits;  // numbers: ordered bits of the value; texts: the prefix
    uint32_t Row;
  };
  const uint32_t N = static_cast<uint32_t>(C.Size());
  std::vector<uint32_t> Rows;
  Rows.reserve(N);
  std::vector<TKeyed> Keyed;
  Keyed.reserve(N);
  for (uint32_t R = 0; R < N; ++R) {
    if (SortsAsNull(C, R)) {
      Rows.push_back(R);
      continue;
    }
    uint64_t Bits;
    if (C.Kind() == TStorageKind::String) {
      Bits = TextPrefix(C.Str(R));
    } else {
      // A double's bits, turned so that unsigned order is numeric order (-0 and 0 alike).
      double V = C.Kind() == TStorageKind::Int ? C.Int(R) : C.Double(R);
      if (V == 0) V = 0;
      std::memcpy(&Bits, &V, sizeof Bits);
      Bits = (Bits & 0x8000000000000000ull) ? ~Bits : (Bits | 0x8000000000000000ull);
    }
    Keyed.push_back({Bits, R});
    if (R % kScanProgressRows == kScanProgressRows - 1) ReportProgress("Ordenando", R + 1, N);
  }
  const bool Texts = C.Kind() == TStorageKind::String;
  std::sort(Keyed.begin(), Keyed.end(), [&](const TKeyed& A, const TKeyed& B) {
    if (A.Bits != B.Bits) return A.Bits < B.Bits;
    if (Texts) {
      const int D = AnsiCompareStr(C.Str(A.Row), C.Str(B.Row));
      if (D) return D < 0;
    }
    return A.Row < B.Row;
  });
  ReportProgress("Ordenando", N, N);
  for (const TKeyed& K : Keyed) Rows.push_back(K.Row);
  return Rows;
}

}  // namespace

const std::vector<uint32_t>& TTableStore::SortedRows(const std::vector<int>& Cols) const {
  return FCache->Get(FCache->Orders, ColsKey(Cols), [&] {
    // A stop while the order is built leaves none behind: the next order starts it again.
    for (int C : Cols) Columns[C].Decode();
    ReportProgress("Ordenando", 0, static_cast<int64_t>(RowCount()));
    if (Cols.size() == 1)
      return std::make_unique<std::vector<uint32_t>>(SortOneColumn(Columns[Cols[0]]));
    auto Rows = std::make_unique<std::vector<uint32_t>>(RowCount());
    for (uint32_t R = 0; R < Rows->size(); ++R) (*Rows)[R] = R;
    // Equal keys keep the stored order (the row ids break ties): a stable order without the
    // temporary buffer a stable sort allocates.
    std::sort(Rows->begin(), Rows->end(), [&](uint32_t A, uint32_t B) {
      const int D = CompareRows(A, B, Cols);
      return D ? D < 0 : A < B;
    });
    ReportProgress("Ordenando", static_cast<int64_t>(Rows->size()),
                   static_cast<int64_t>(Rows->size()));
    return Rows;
  });
}

int TTableStore::CompareRows(uint32_t A, uint32_t B, const std::vector<int>& Cols) const {
  for (int C : Cols)
    if (const int D = CompareCell(Columns[C], A, B)) return D;
  return 0;
}

namespace {

// Lowers a text of ASCII and Latin-1 letters (UTF-8 lead bytes C2 and C3) letter by letter into
// Out, as the full case mapping does for them (A-Z, and U+00C0-U+00DE but U+00D7); false when
// the text holds anything else, which goes through the full mapping.
bool LowerLatin1Into(std::string_view In, std::string& Out) {
  Out.assign(In.data(), In.size());
  for (size_t I = 0; I < Out.size(); ++I) {
    const auto C = static_cast<unsigned char>(Out[I]);
    if (C < 0x80) {
      if (C >= 'A' && C <= 'Z') Out[I] = static_cast<char>(C | 0x20);
      continue;
    }
    if ((C != 0xC2 && C != 0xC3) || I + 1 >= Out.size()) return false;
    const auto D = static_cast<unsigned char>(Out[++I]);
    if ((D & 0xC0) != 0x80) return false;
    if (C == 0xC3 && D <= 0x9E && D != 0x97) Out[I] = static_cast<char>(D + 0x20);
  }
  return true;
}

// A copy of Src whose texts are Map(text, Buf) (Nulls stay Null); other kinds are copied whole.
// Map writes into Buf, one buffer for every row, and returns the text to keep.
template <class TMap>
std::unique_ptr<TColumn> MappedTexts(const TColumn& Src, TMap Map) {
  Src.Decode();
  if (Src.Kind() != TStorageKind::String) return std::make_unique<TColumn>(Src);
  auto Out = std::make_unique<TColumn>(Src.Type());
  const size_t N = Src.Size();
  Out->Reserve(N, Src.TextArena().size());
  std::string Buf;
  for (size_t R = 0; R < N; ++R) {
    if (Src.IsNull(R))
      Out->AppendNull();
    else
      Out->AppendString(Map(Src.Str(R), Buf));
    // A stop here drops the copy: the store keeps none of it (the next search builds it anew).
    if (R % kScanProgressRows == kScanProgressRows - 1)
      ReportProgress("Buscando", static_cast<int64_t>(R + 1), static_cast<int64_t>(N));
  }
  return Out;
}

}  // namespace

const TColumn& TTableStore::LoweredColumn(int Col) const {
  return FCache->Get(FCache->Lowered, std::to_string(Col), [&] {
    return MappedTexts(Columns.at(static_cast<size_t>(Col)),
                       [](std::string_view V, std::string& Buf) -> std::string_view {
                         if (!LowerLatin1Into(V, Buf)) Buf = AnsiLowerCase(V);
                         return Buf;
                       });
  });
}

const TColumn& TTableStore::FoldedColumn(int Col, bool IgnoreCase) const {
  // Kept beside the lowered copies (the keys tell them apart), counted with them.
  return FCache->Get(FCache->Lowered, std::to_string(Col) + (IgnoreCase ? "fl" : "f"), [&] {
    return MappedTexts(Columns.at(static_cast<size_t>(Col)),
                       [IgnoreCase](std::string_view V, std::string& Buf) -> std::string_view {
                         FoldTextInto(V, IgnoreCase, Buf);
                         return Buf;
                       });
  });
}

}  // namespace kv
