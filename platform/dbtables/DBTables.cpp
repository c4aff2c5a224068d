// TTable over table files (index order, master-detail through a hash index, batch moves) and
// TQuery over the local SQL; over a database (a SQLite file, a PostgreSQL server) both read
// their records through a cursor of the database layer, which runs every search there.
#include "DBTables.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "Database.h"
#include "DbCursor.h"
#include "DbWrite.h"
#include "IoUtil.h"
#include "LocalSQL.h"
#include "Progress.h"
#include "TableFile.h"
#include "Unicode.h"

namespace kv {

void TIndexDefs::Add(std::string Name, std::string Fields, TIndexOptions Options) {
  FItems.push_back({std::move(Name), std::move(Fields), Options});
}

// Follows the master data source: any change or move of the master re-reads the detail rows.
class TTable::TMasterLink : public TDataLink {
 public:
  explicit TMasterLink(TTable* Owner) : FOwner(Owner) {}
  void ActiveChanged() override { Changed(); }
  void DataSetChanged() override { Changed(); }
  void DataSetScrolled() override { Changed(); }
  // Lets go of the master without telling the owner, which is being destroyed: its rows need
  // no re-reading (which, unlinked, could mean ordering the whole table).
  void Release() {
    FOwner = nullptr;
    SetDataSource(nullptr);
  }

 private:
  void Changed() {
    if (FOwner) FOwner->MasterChanged();
  }
  TTable* FOwner;
};

namespace {
// Every table of the process, so that a writer can refuse to replace a file one of them has open.
struct TTableRegistry {
  std::mutex Lock;
  std::set<TTable*> Tables;
};
TTableRegistry& Registry() {
  static TTableRegistry R;
  return R;
}
}  // namespace

TTable* FindOpenTableOnFile(const std::string& Path) {
  TTableRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  for (TTable* T : R.Tables)
    if (T->Active() && !T->FilePath().empty() && SameFile(T->FilePath(), Path)) return T;
  return nullptr;
}

std::vector<TTable*> OpenTables() {
  TTableRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  std::vector<TTable*> Open;
  for (TTable* T : R.Tables)
    if (T->Active()) Open.push_back(T);
  return Open;
}

TTable::TTable(TComponent* AOwner)
    : TDataSet(AOwner), FMasterLink(std::make_unique<TMasterLink>(this)) {
  TTableRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  R.Tables.insert(this);
}

TTable::~TTable() {
  {
    TTableRegistry& R = Registry();
    std::lock_guard<std::mutex> Guard(R.Lock);
    R.Tables.erase(this);
  }
  FMasterLink->Release();
}

static void CheckInactive(const TDataSet& DS, const char* What) {
  if (DS.Active())
    throw EDatabaseError(std::string("No se puede cambiar ") + What + " de una tabla abierta");
}

void TTable::SetDatabaseName(std::string V) {
  CheckInactive(*this, "DatabaseName");
  FDatabaseName = std::move(V);
}

void TTable::SetTableName(std::string V) {
  CheckInactive(*this, "TableName");
  FTableName = std::move(V);
  FIndexDefs.Updated = false;
}

void TTable::SetIndexFieldNames(std::string V) {
  if (V == FIndexFieldNames) return;  // the same order: the record stays where it is
  FIndexFieldNames = std::move(V);
  if (!Active()) return;
  // Over a database the count of the records survives a new order (unless the new index
  // fields link the table to its master by other columns, which the cursor sees).
  auto* C = dynamic_cast<TDbCursor*>(Cursor());
  if (C) C->KeepCountThroughOrder();
  try {
    Resync(false);
  } catch (...) {
    // Not read again: a later re-read (a refresh) must count afresh.
    if (C) C->KeepCountThroughOrder(false);
    throw;
  }
}

int TTable::IndexFieldCount() const {
  return FIndexFieldNames.empty() ? 0 : static_cast<int>(SplitFieldNames(FIndexFieldNames).size());
}

TField* TTable::IndexFields(int Index) const {
  std::vector<std::string> Names = SplitFieldNames(FIndexFieldNames);
  if (FIndexFieldNames.empty() || Index < 0 || Index >= static_cast<int>(Names.size()))
    throw EDatabaseError("Índice de campo de índice fuera de rango: " + std::to_string(Index));
  return FieldByName(Names[Index]);
}

namespace {
// The cursor of a dataset open over a database, else null.
TDbCursor* DbCursorOf(const TDataSet& DS) {
  return static_cast<TDbCursor*>(DS.Cursor());
}
}  // namespace

void TTable::UpdateIndexDefs() {
  const TDatabaseRef Ref = ResolveDatabase(FDatabaseName);
  if (Ref.Kind != TDatabaseKind::Folder) {
    // The catalog's indexes: the primary key first, named "".
    TDbRelation Loaded;
    const TDbRelation* R = nullptr;
    if (TDbCursor* C = DbCursorOf(*this)) {
      R = &C->Relation();
    } else {
      Loaded = TableRelation(*ConnectDatabase(Ref), FTableName);
      R = &Loaded;
    }
    FIndexDefs.Clear();
    auto Fields = [](const std::vector<std::string>& Names) {
      std::string S;
      for (const auto& N : Names) S += (S.empty() ? "" : ";") + N;
      return S;
    };
    if (!R->PrimaryKey.empty()) FIndexDefs.Add("", Fields(R->PrimaryKey), ixPrimary | ixUnique);
    for (const auto& X : R->Indexes)
      if (!X.Primary)
        FIndexDefs.Add(X.Name, Fields(X.Columns),
                       X.Unique ? TIndexOptions{ixUnique} : TIndexOptions{0});
    FIndexDefs.Updated = true;
    return;
  }
  std::shared_ptr<const TTableStore> S = StorePtr();
  if (!S) S = LoadTableFile(ResolveTablePath(FDatabaseName, FTableName));
  FIndexDefs.Clear();
  if (!S->PrimaryKey.empty()) {
    std::string Fields;
    for (const auto& K : S->PrimaryKey) Fields += (Fields.empty() ? "" : ";") + K;
    FIndexDefs.Add("", Fields, ixPrimary | ixUnique);
  }
  FIndexDefs.Updated = true;
}

void TTable::GetIndexNames(TStringList& List) {
  UpdateIndexDefs();
  List.Clear();
  for (int I = 0; I < FIndexDefs.Count(); ++I) List.Add(FIndexDefs[I].Name);
}

TDataSource* TTable::MasterSource() const {
  return FMasterLink->DataSource();
}

void TTable::SetMasterSource(TDataSource* V) {
  FMasterLink->SetDataSource(V);  // tells MasterChanged when it changes
}

void TTable::SetMasterFields(std::string V) {
  if (V == FMasterFields) return;
  FMasterFields = std::move(V);
  MasterChanged();
}

void TTable::MasterChanged() {
  if (!Active()) return;
  // Rows built without the link stay the same while it still does not apply (a link being cut
  // or restored one property at a time): only the record goes to the first, as after any
  // re-read, without building and comparing every row again.
  if (!FLinkedRows && !LinkedMaster()) return First();
  Resync(false);
}

TDataSet* TTable::LinkedMaster() const {
  TDataSet* Master = MasterSource() ? MasterSource()->DataSet() : nullptr;
  return Master && Master->Active() && !FMasterFields.empty() ? Master : nullptr;
}

void TTable::InternalOpen() {
  if (FTableName.empty()) throw EDatabaseError("La tabla no tiene nombre (TableName vacío)");
  const TDatabaseRef Ref = ResolveDatabase(FDatabaseName);
  if (Ref.Kind != TDatabaseKind::Folder) {
    std::shared_ptr<TDbConnection> Conn = ConnectDatabase(Ref);
    TDbRelation R = TableRelation(*Conn, FTableName);
    FFilePath.clear();
    FieldDefs().Clear();
    for (const auto& C : R.Columns)
      FieldDefs().Add(C.Def.Name, C.Def.DataType, C.Def.Size, C.Def.Required);
    SetCursor(std::make_unique<TDbCursor>(*this, std::move(Conn), std::move(R)));
    UpdateIndexDefs();
    return;
  }
  FFilePath = ResolveTablePath(FDatabaseName, FTableName);
  std::shared_ptr<const TTableStore> S = LoadTableFile(FFilePath);
  FieldDefs().Clear();
  for (const auto& D : S->Defs) FieldDefs().Add(D.Name, D.DataType, D.Size, D.Required);
  SetStore(S);
  UpdateIndexDefs();
}

std::vector<int> TTable::ColumnsOf(const std::vector<std::string>& Names) const {
  std::vector<int> Cols;
  for (const auto& N : Names) {
    const int C = Store() ? Store()->ColumnIndex(N) : Cursor()->ColumnIndex(N);
    if (C < 0) throw EDatabaseError("Campo '" + N + "' no encontrado en la tabla " + FTableName);
    Cols.push_back(C);
  }
  return Cols;
}

namespace {

// Whether row A comes before row B in the store's order sorted by Cols (SortedRows): Nulls
// first, numbers by value, texts in code-point order, the row ids breaking ties.
bool IndexLess(const TTableStore& S, const std::vector<int>& Cols, uint32_t A, uint32_t B) {
  for (int C : Cols) {
    const TColumn& Col = S.Columns[C];
    const bool NA = Col.IsNull(A), NB = Col.IsNull(B);
    if (NA || NB) {
      if (NA != NB) return NA;
      continue;
    }
    int D = 0;
    switch (Col.Kind()) {
      case TStorageKind::Int:
        D = Col.Int(A) < Col.Int(B) ? -1 : Col.Int(A) > Col.Int(B);
        break;
      case TStorageKind::Double:
        D = Col.Double(A) < Col.Double(B) ? -1 : Col.Double(A) > Col.Double(B);
        break;
      case TStorageKind::String:
        D = AnsiCompareStr(Col.Str(A), Col.Str(B));
        break;
    }
    if (D) return D < 0;
  }
  return A < B;
}

// Puts Rows (distinct stored rows) in the order the store sorts them by Cols. A few rows are
// compared among themselves; a large share of the table is picked out of the full order, which
// is built once and kept.
void SortInIndexOrder(const TTableStore& S, const std::vector<int>& Cols,
                      std::vector<uint32_t>& Rows) {
  if (Rows.size() < 2) return;
  if (Rows.size() <= S.RowCount() / 16) {
    std::sort(Rows.begin(), Rows.end(),
              [&](uint32_t A, uint32_t B) { return IndexLess(S, Cols, A, B); });
    return;
  }
  std::vector<uint8_t> Wanted(S.RowCount(), 0);
  for (uint32_t R : Rows) Wanted[R] = 1;
  Rows.clear();
  for (uint32_t R : S.SortedRows(Cols))
    if (Wanted[R]) Rows.push_back(R);
}

}  // namespace

std::vector<int> TTable::LinkColumns(const std::vector<std::string>& MasterNames) const {
  const std::vector<std::string>& Key =
      Store() ? Store()->PrimaryKey : DbCursorOf(*this)->Relation().PrimaryKey;
  // The leading index fields, else the primary key, else fields named like the master's.
  std::vector<std::string> DetailNames =
      FIndexFieldNames.empty() ? Key : SplitFieldNames(FIndexFieldNames);
  if (DetailNames.size() < MasterNames.size()) DetailNames = MasterNames;
  DetailNames.resize(MasterNames.size());
  return ColumnsOf(DetailNames);
}

void TTable::PrepareCursor() {
  TDbCursor& C = *DbCursorOf(*this);
  C.SetOrderColumns(FIndexFieldNames.empty() ? std::vector<int>()
                                             : ColumnsOf(SplitFieldNames(FIndexFieldNames)));
  FLinkedRows = false;
  TDataSet* Master = LinkedMaster();
  if (!Master) return C.SetRestriction({}, {});
  FLinkedRows = true;
  const std::vector<std::string> MasterNames = SplitFieldNames(FMasterFields);
  const std::vector<int> Cols = LinkColumns(MasterNames);
  if (Master->IsEmpty()) return C.SetNoRows();
  std::vector<Variant> Values;
  for (const auto& N : MasterNames) Values.push_back(Master->FieldByName(N)->Value());
  C.SetRestriction(Cols, Values);
}

void TTable::BuildBaseRows(std::vector<uint32_t>& Rows) {
  const TTableStore& S = *Store();
  std::vector<std::string> IndexNames;
  if (!FIndexFieldNames.empty()) IndexNames = SplitFieldNames(FIndexFieldNames);
  FLinkedRows = false;
  if (TDataSet* Master = LinkedMaster()) {
    FLinkedRows = true;
    std::vector<std::string> MasterNames = SplitFieldNames(FMasterFields);
    std::vector<int> Cols = LinkColumns(MasterNames);
    Rows.clear();
    if (Master->IsEmpty()) return;
    std::vector<Variant> Values;
    for (const auto& N : MasterNames) Values.push_back(Master->FieldByName(N)->Value());
    Rows = S.HashIndex(Cols).Find(S.KeyOfValues(Values, Cols));
    if (IndexNames.size() > MasterNames.size()) {
      const std::vector<int> All = ColumnsOf(IndexNames);
      // The whole index order is made with the first restricted rows (once per store), as the
      // table opens: a search over the whole table, which cuts the link, then shows at once.
      S.SortedRows(All);
      SortInIndexOrder(S, All, Rows);
    }
    return;
  }
  if (!IndexNames.empty()) {
    Rows = S.SortedRows(ColumnsOf(IndexNames));
    return;
  }
  TDataSet::BuildBaseRows(Rows);
}

std::optional<std::vector<uint32_t>> TTable::LinkBucket(const std::string& KeyFields,
                                                        const Variant& KeyValues,
                                                        TLocateOptions Options) const {
  if (!LinkedMaster()) return std::nullopt;
  const TTableStore& S = *Store();
  const std::vector<int> Cols = LinkColumns(SplitFieldNames(FMasterFields));
  const std::vector<std::string> Names = SplitFieldNames(KeyFields);
  const int Count =
      KeyValues.IsArray() ? KeyValues.ArrayHighBound() - KeyValues.ArrayLowBound() + 1 : 1;
  if (Count != static_cast<int>(Names.size())) return std::nullopt;
  std::vector<Variant> Values;
  for (int C : Cols) {
    // The key names a data field over this column, of the column's own type (so its value
    // converts the same way for the locate and the index), compared exactly.
    int Found = -1;
    for (size_t I = 0; I < Names.size() && Found < 0; ++I) {
      const TField* F = FindField(Names[I]);
      if (F && F->FieldKind() == fkData && F->FieldNo() == C &&
          F->DataType() == S.Columns[C].Type())
        Found = static_cast<int>(I);
    }
    if (Found < 0) return std::nullopt;
    if (S.Columns[C].Kind() == TStorageKind::String &&
        (Options & (loCaseInsensitive | loPartialKey | loAccentInsensitive)) != 0)
      return std::nullopt;
    Variant V = KeyValues.IsArray() ? KeyValues[KeyValues.ArrayLowBound() + Found] : KeyValues;
    // An empty text looks for an empty (Null) value, as in the locate.
    if (V.IsString() && V.AsString().empty()) V = Variant::Null();
    Values.push_back(std::move(V));
  }
  return S.HashIndex(Cols).Find(S.KeyOfValues(Values, Cols));
}

TBookmark TTable::LocateUnlinked(const std::string& KeyFields, const Variant& KeyValues,
                                 TLocateOptions Options) const {
  CheckActive();
  if (Cursor()) return LocateCursor(KeyFields, KeyValues, Options, TRecordCursor::TScope::Unlinked);
  const TTableStore& S = *Store();
  std::vector<int> IndexCols;
  if (!FIndexFieldNames.empty()) IndexCols = ColumnsOf(SplitFieldNames(FIndexFieldNames));
  // Every match shares the key's values of the link fields: one bucket of the link's index
  // holds them all, so only its rows are tried, in index order.
  if (std::optional<std::vector<uint32_t>> Bucket = LinkBucket(KeyFields, KeyValues, Options)) {
    if (!IndexCols.empty()) SortInIndexOrder(S, IndexCols, *Bucket);
    return LocateIn(Bucket->data(), Bucket->size(), KeyFields, KeyValues, Options);
  }
  if (IndexCols.empty()) return LocateIn(nullptr, S.RowCount(), KeyFields, KeyValues, Options);
  const std::vector<uint32_t>& Order = S.SortedRows(IndexCols);
  return LocateIn(Order.data(), Order.size(), KeyFields, KeyValues, Options);
}

namespace {

// Rows between two progress reports of a batch move.
constexpr size_t kProgressRows = 4096;

// What a batch move writes: the visible rows of Source, the given fields. A data field whose
// stored column has the field's type is written straight from the shared store; any other
// (lookup, calculated, a column of another type) is computed into a column of its own, for the
// visible rows only. Nothing else is copied.
class TCopyPlan {
 public:
  TCopyPlan(TDataSet& Source, const std::vector<TField*>& Fields) {
    const TTableStore& In = *Source.Store();
    const size_t StoredRows = In.RowCount();
    FRows.resize(static_cast<size_t>(Source.RecordCount()));
    const int64_t Total = static_cast<int64_t>(FRows.size());
    for (size_t R = 0; R < FRows.size(); ++R) {
      FRows[R] = static_cast<uint32_t>(Source.RowAt(static_cast<int>(R)));
      if (R % kProgressRows == kProgressRows - 1) ReportProgress("Exportando", R + 1, Total);
    }
    std::vector<uint8_t> Visible;
    std::vector<TTableSlice::TPart> Parts;
    for (TField* F : Fields) {
      TTableSlice::TPart P;
      P.Def = {F->FieldName(), F->DataType(), F->Size(), F->Required()};
      const int No = F->FieldNo();
      if (F->FieldKind() == fkData && No >= 0 && No < static_cast<int>(In.Columns.size()) &&
          In.Columns[No].Type() == F->DataType()) {
        P.Column = &In.Columns[No];
      } else {
        if (Visible.empty()) {
          Visible.assign(StoredRows, 0);
          for (uint32_t R : FRows) Visible[R] = 1;
        }
        auto C = std::make_unique<TColumn>(F->DataType());
        C->Reserve(StoredRows);
        int64_t Done = 0;
        for (size_t R = 0; R < StoredRows; ++R) {
          if (Visible[R]) {
            C->AppendVariant(F->ValueAt(static_cast<TBookmark>(R)));
            // A computed field (a lookup) costs a search a row: the user sees it go on.
            if (++Done % kProgressRows == 0) ReportProgress("Exportando", Done, Total);
          } else {
            C->AppendNull();
          }
        }
        P.Column = C.get();
        FComputed.push_back(std::move(C));
      }
      Parts.push_back(std::move(P));
    }
    // The key survives when its fields lead the copy, in order; a query's result has no key of
    // its own, even when it shows a table's rows.
    std::vector<std::string> Key;
    if (!dynamic_cast<TQuery*>(&Source)) Key = In.PrimaryKey;
    for (size_t I = 0; I < Key.size(); ++I)
      if (I >= Parts.size() || !AnsiSameText(Parts[I].Def.Name, Key[I])) Key.clear();
    FSlice = std::make_unique<TTableSlice>(std::move(Parts), StoredRows, &FRows, std::move(Key));
  }
  const TTableSlice& Slice() const { return *FSlice; }
  size_t RowCount() const { return FRows.size(); }

 private:
  std::vector<uint32_t> FRows;
  std::vector<std::unique_ptr<TColumn>> FComputed;
  std::unique_ptr<TTableSlice> FSlice;
};

// The fields of a table's primary index.
std::vector<std::string> PrimaryIndexFields(TTable& T) {
  T.UpdateIndexDefs();
  for (int I = 0; I < T.IndexDefs().Count(); ++I)
    if (T.IndexDefs()[I].Options & ixPrimary) return SplitFieldNames(T.IndexDefs()[I].Fields);
  return {};
}

// The records of a dataset over a database as a source of rows for a table-file writer: read
// block after block, in the dataset's order, into one chunk of columns of the given fields (the
// primary key kept when its fields lead the copy, in order). The client holds one block and one
// chunk whatever the number of records. When every field is a value the cursor reads (data
// fields, lookups it reads with the rows), blocks are read past the cursor's windows and
// bookmarks; otherwise (a calculated field, a lookup into another database) the fields are
// asked record by record through the dataset. The writer reads the records twice; each chunk's
// values are summed up on the first pass and checked on the second, so records changed in the
// meantime fail the export instead of writing a file whose fields were sized for other values.
class TRecordSource final : public TRowSource {
 public:
  static constexpr int64_t kBlockRows = 4096;

  TRecordSource(TDataSet& Source, const std::vector<TField*>& Fields)
      : FSource(Source), FFields(Fields), FCursor(dynamic_cast<TDbCursor*>(Source.Cursor())) {
    for (const TField* F : Fields)
      FChunk.AddColumn({F->FieldName(), F->DataType(), F->Size(), false});
    if (auto* T = dynamic_cast<TTable*>(&Source)) FChunk.PrimaryKey = PrimaryIndexFields(*T);
    for (size_t I = 0; I < FChunk.PrimaryKey.size(); ++I)
      if (I >= Fields.size() || !AnsiSameText(Fields[I]->FieldName(), FChunk.PrimaryKey[I]))
        FChunk.PrimaryKey.clear();
    for (const TField* F : Fields) {
      const int Cell = FCursor ? FCursor->CellOf(*F) : -1;
      if (Cell < 0 || (F->FieldKind() == fkLookup && !FCursor->ReadsLookup(*F))) FCursor = nullptr;
      FCells.push_back(Cell);
    }
    FSlice = std::make_unique<TTableSlice>(FChunk);
    FTotal = static_cast<size_t>(std::max(0, Source.RecordCount()));
  }
  const TTableSlice& Layout() const override { return *FSlice; }
  size_t RowCount() override { return FTotal; }
  void Rewind() override {
    FDone = 0;
    FChunkNo = 0;
    FEnd = false;
    FLast.Reset(0);
    ++FPass;
  }
  const TTableSlice* Next() override {
    if (FEnd) return nullptr;
    // The first pass only reads (the writer sizes the fields); the second is told as written.
    if (FPass <= 1)
      ReportProgress("Leyendo registros", static_cast<int64_t>(FDone),
                     static_cast<int64_t>(FTotal));
    for (auto& C : FChunk.Columns) C = TColumn(C.Type());
    size_t N = 0;
    if (FCursor) {
      FCursor->ReadBlock(FLast, kBlockRows, FBlock);
      N = FBlock.RowCount();
      FEnd = N < static_cast<size_t>(kBlockRows);
      for (size_t C = 0; C < FFields.size(); ++C) {
        FChunk.Columns[C].Reserve(N);
        for (size_t R = 0; R < N; ++R)
          Append(C, FCursor->Value(FBlock, R, FCells[C], FFields[C]->DataType()));
      }
      if (N > 0) {
        // Where the next block starts.
        FLast.Reset(FBlock.ColumnCount());
        for (int C = 0; C < FBlock.ColumnCount(); ++C) FLast.Add(FBlock.At(N - 1, C));
      }
    } else {
      const int64_t Left = int64_t(FSource.RecordCount()) - static_cast<int64_t>(FDone);
      N = static_cast<size_t>(std::clamp<int64_t>(Left, 0, kBlockRows));
      FEnd = N < static_cast<size_t>(kBlockRows);
      for (auto& C : FChunk.Columns) C.Reserve(N);
      for (size_t R = 0; R < N; ++R) {
        const TBookmark B = FSource.RowAt(static_cast<int>(FDone + R));
        for (size_t C = 0; C < FFields.size(); ++C) Append(C, FFields[C]->ValueAt(B));
      }
    }
    if (N == 0) {
      FEnd = true;
      return nullptr;
    }
    CheckUnchanged(N);
    FSlice->SetRange(0, N);
    FSlice->SetRowBase(FDone);
    FDone += N;
    ++FChunkNo;
    return FSlice.get();
  }

 private:
  void Append(size_t C, const Variant& V) {
    // A database's whole numbers may need 64 bits; a table file's hold 32.
    if (V.IsOrdinal() && StorageKindOf(FFields[C]->DataType()) == TStorageKind::Int &&
        (V.AsInt64() < INT32_MIN || V.AsInt64() > INT32_MAX))
      throw EDatabaseError("El valor " + V.AsString() + " del campo '" + FFields[C]->FieldName() +
                           "' no cabe en un campo entero de un archivo de tabla");
    FChunk.Columns[C].AppendVariant(V);
  }
  // Sums up the chunk's values: kept on the first pass, compared on the next ones.
  void CheckUnchanged(size_t N) {
    uint64_t H = 1469598103934665603ull;
    auto Mix = [&H](const void* P, size_t Bytes) {
      for (size_t I = 0; I < Bytes; ++I)
        H = (H ^ static_cast<const uint8_t*>(P)[I]) * 1099511628211ull;
    };
    for (const TColumn& Col : FChunk.Columns)
      for (size_t R = 0; R < N; ++R) {
        const uint8_t Null = Col.IsNull(R);
        Mix(&Null, 1);
        if (Null) continue;
        if (Col.Kind() == TStorageKind::Int) {
          const int32_t V = Col.Int(R);
          Mix(&V, sizeof V);
        } else if (Col.Kind() == TStorageKind::Double) {
          const double V = Col.Double(R);
          Mix(&V, sizeof V);
        } else {
          const std::string_view S = Col.Str(R);
          const uint64_t Len = S.size();
          Mix(&Len, sizeof Len);
          Mix(S.data(), S.size());
        }
      }
    if (FPass <= 1) {
      FSums.push_back(H);
    } else if (FChunkNo >= FSums.size() || FSums[FChunkNo] != H) {
      throw EDatabaseError("Los registros cambiaron mientras se exportaban; vuelva a exportar");
    }
  }

  TDataSet& FSource;
  const std::vector<TField*>& FFields;
  TDbCursor* FCursor;  // null: the fields are asked through the dataset
  std::vector<int> FCells;
  TTableStore FChunk;
  std::unique_ptr<TTableSlice> FSlice;
  TDbRows FBlock, FLast;
  std::vector<uint64_t> FSums;
  size_t FTotal = 0, FDone = 0, FChunkNo = 0;
  int FPass = 0;
  bool FEnd = false;
};

}  // namespace

int TTable::BatchMove(TDataSet* Source, TBatchMode Mode) {
  if (!Source) throw EDatabaseError("BatchMove: no hay conjunto de datos de origen");
  if (!Source->Active()) Source->Open();
  std::vector<TField*> Fields;
  for (int I = 0; I < Source->FieldCount(); ++I) Fields.push_back(Source->Fields(I));
  return BatchMove(Source, Mode, Fields);
}

int TTable::BatchMove(TDataSet* Source, TBatchMode Mode, const std::vector<TField*>& Fields) {
  if (!Source) throw EDatabaseError("BatchMove: no hay conjunto de datos de origen");
  if (Mode != batCopy) throw EDatabaseError("BatchMove: solo se admite el modo de copia (batCopy)");
  if (FTableName.empty()) throw EDatabaseError("BatchMove: la tabla de destino no tiene nombre");
  Close();
  if (!Source->Active()) Source->Open();
  for (TField* F : Fields)
    if (!F || F->DataSet() != Source)
      throw EDatabaseError("BatchMove: un campo a copiar no es del conjunto de datos de origen");
  const TDatabaseRef Ref = ResolveDatabase(FDatabaseName);
  if (Ref.Kind != TDatabaseKind::Folder) {
    // Into a database: the table replaced in one transaction, keyed as the source is.
    std::vector<std::string> Key;
    if (auto* T = dynamic_cast<TTable*>(Source)) Key = PrimaryIndexFields(*T);
    return CopyIntoDatabase(*ConnectDatabase(Ref), FTableName, *Source, Fields, Key);
  }
  const std::string Path = TargetTablePath(FDatabaseName, FTableName);
  if (Source->Cursor()) {
    TRecordSource Records(*Source, Fields);
    SaveTableFile(Path, Records);
    ClearTableCache(Path);
    return static_cast<int>(Records.RowCount());
  }
  const TCopyPlan Plan(*Source, Fields);
  SaveTableFile(Path, Plan.Slice());
  ClearTableCache(Path);
  return static_cast<int>(Plan.RowCount());
}

TQuery::TQuery(TComponent* AOwner) : TDataSet(AOwner) {}
TQuery::~TQuery() = default;

void TQuery::InternalOpen() {
  const TDatabaseRef Ref = ResolveDatabase(FDatabaseName);
  if (Ref.Kind != TDatabaseKind::Folder) {
    std::shared_ptr<TDbConnection> Conn = ConnectDatabase(Ref);
    TDbRelation Relation = QueryRelation(*Conn, FSQL.Text(), &FSentSQL);
    FieldDefs().Clear();
    for (const auto& C : Relation.Columns)
      FieldDefs().Add(C.Def.Name, C.Def.DataType, C.Def.Size, false);
    SetCursor(std::make_unique<TDbCursor>(*this, std::move(Conn), std::move(Relation)));
    return;
  }
  FSentSQL.clear();
  TSelectResult R = OpenSelect(FSQL.Text(), FDatabaseName);
  FieldDefs().Clear();
  // A result's fields are never required, whether or not its values are a table's own.
  for (const auto& D : R.Store->Defs) FieldDefs().Add(D.Name, D.DataType, D.Size, false);
  FStoreRows = std::move(R.Rows);
  SetStore(R.Store);
}

void TQuery::InternalClose() {
  FStoreRows.reset();
  FPlaceOfRow.clear();
}

TBookmark TQuery::LookupRow(const std::vector<uint32_t>& Rows) const {
  if (!FStoreRows || Rows.empty()) return TDataSet::LookupRow(Rows);
  if (FPlaceOfRow.empty()) {
    FPlaceOfRow.assign(Store()->RowCount(), -1);
    for (size_t I = 0; I < FStoreRows->size(); ++I)
      FPlaceOfRow[(*FStoreRows)[I]] = static_cast<int32_t>(I);
  }
  TBookmark Found = NoBookmark;
  for (uint32_t R : Rows)
    if (FPlaceOfRow[R] >= 0 && (Found < 0 || FPlaceOfRow[R] < FPlaceOfRow[Found])) Found = R;
  return Found;
}

void TQuery::BuildBaseRows(std::vector<uint32_t>& Rows) {
  if (FStoreRows)
    Rows = *FStoreRows;
  else
    TDataSet::BuildBaseRows(Rows);
}

void TQuery::ExecSQL() {
  if (Trim(FSQL.Text()).empty()) throw EDatabaseError("La consulta no tiene sentencia SQL");
  const TDatabaseRef Ref = ResolveDatabase(FDatabaseName);
  if (Ref.Kind != TDatabaseKind::Folder)
    return ExecuteOnDatabase(*ConnectDatabase(Ref), FSQL.Text());
  ExecuteStatement(FSQL.Text(), FDatabaseName);
}

}  // namespace kv
