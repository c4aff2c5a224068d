// TDataSet: the cursor over a row-index vector (or, over a database, over the records a
// TRecordCursor reads), with filter, find, locate, bookmarks and the notification of data
// sources; TDataSource and TDataLink; TMemDataSet.
#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "DB.h"
#include "Filter.h"
#include "Progress.h"
#include "Unicode.h"

namespace kv {

// ---------------------------------------------------------------- TDataLink / TDataSource

TDataLink::~TDataLink() {
  SetDataSource(nullptr);
}

void TDataLink::SetDataSource(TDataSource* V) {
  if (V == FDataSource) return;
  if (FDataSource) {
    auto& L = FDataSource->FLinks;
    L.erase(std::remove(L.begin(), L.end(), this), L.end());
  }
  FDataSource = V;
  if (V) V->FLinks.push_back(this);
  ActiveChanged();
}

TDataSet* TDataLink::DataSet() const {
  return FDataSource ? FDataSource->DataSet() : nullptr;
}

TDataSource::~TDataSource() {
  NotifyDataSetChanging();
  if (FDataSet) FDataSet->DetachDataSource(this);
  FDataSet = nullptr;
  std::vector<TDataLink*> Links;
  Links.swap(FLinks);
  for (TDataLink* L : Links) L->FDataSource = nullptr;
  for (TDataLink* L : Links) L->ActiveChanged();
}

void TDataSource::SetDataSet(TDataSet* V) {
  if (V == FDataSet) return;
  NotifyDataSetChanging();
  if (FDataSet) FDataSet->DetachDataSource(this);
  FDataSet = V;
  if (V) V->AttachDataSource(this);
  NotifyActiveChanged();
}

// Links may detach themselves while being told; iterate over a copy.
void TDataSource::NotifyDataSetChanging() {
  for (TDataLink* L : std::vector<TDataLink*>(FLinks)) L->DataSetChanging();
}
void TDataSource::NotifyActiveChanged() {
  for (TDataLink* L : std::vector<TDataLink*>(FLinks)) L->ActiveChanged();
}
void TDataSource::NotifyDataSetChanged() {
  for (TDataLink* L : std::vector<TDataLink*>(FLinks)) L->DataSetChanged();
}
void TDataSource::NotifyScrolled() {
  for (TDataLink* L : std::vector<TDataLink*>(FLinks)) L->DataSetScrolled();
}

// ---------------------------------------------------------------- TDataSet: fields

TRecordCursor::~TRecordCursor() = default;

TDataSet::TDataSet(TComponent* AOwner) : TComponent(AOwner) {}

TDataSet::~TDataSet() {
  for (TDataSource* DS : std::vector<TDataSource*>(FDataSources)) DS->SetDataSet(nullptr);
}

TField* TDataSet::FindField(std::string_view Name) const {
  if (FFieldIndexStale) {
    FFieldIndex.Clear();
    FFieldIndex.Reserve(FFields.size());
    for (size_t I = 0; I < FFields.size(); ++I)
      FFieldIndex.Add(FFields[I]->FieldName(), static_cast<int>(I));
    FFieldIndexStale = false;
  }
  const int I = FFieldIndex.Find(Name);
  return I < 0 ? nullptr : FFields[static_cast<size_t>(I)].get();
}

TField* TDataSet::FieldByName(std::string_view Name) const {
  TField* F = FindField(Name);
  if (!F) {
    std::string Who = this->Name().empty() ? std::string() : this->Name() + ": ";
    throw EDatabaseError(Who + "Campo '" + std::string(Name) + "' no encontrado");
  }
  return F;
}

TField* TDataSet::AddField(std::unique_ptr<TField> F) {
  if (F->FieldName().empty()) throw EDatabaseError("El campo no tiene nombre");
  if (FindField(F->FieldName()))
    throw EDatabaseError("Nombre de campo repetido: " + F->FieldName());
  F->FDataSet = this;
  if (FActive && F->FieldKind() == fkData && FStore)
    F->FFieldNo = FStore->ColumnIndex(F->FieldName());
  if (F->FLookupDataSet) F->FLookupDataSet->FreeNotification(this);
  FFields.push_back(std::move(F));
  if (!FFieldIndexStale) FFieldIndex.Add(FFields.back()->FieldName(), FieldCount() - 1);
  return FFields.back().get();
}

void TDataSet::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  for (auto& F : FFields)
    if (F->FLookupDataSet == AComponent) F->FLookupDataSet = nullptr;
}

TField* TDataSet::AddLookupField(std::string Name, TFieldType T, TDataSet* Source, std::string Key,
                                 std::string LookupKey, std::string Result, int Size) {
  auto F = CreateFieldForType(T);
  F->SetFieldName(std::move(Name));
  if (Size > 0) F->SetSize(Size);
  F->SetFieldKind(fkLookup);
  F->SetLookupDataSet(Source);
  F->SetKeyFields(std::move(Key));
  F->SetLookupKeyFields(std::move(LookupKey));
  F->SetLookupResultField(std::move(Result));
  return AddField(std::move(F));
}

void TDataSet::ClearFields() {
  DropFields();
}

void TDataSet::DropFields() {
  FFields.clear();
  FFieldIndexStale = true;
}

void TDataSet::RemoveField(TField* F) {
  FFields.erase(std::remove_if(FFields.begin(), FFields.end(),
                               [F](const std::unique_ptr<TField>& P) { return P.get() == F; }),
                FFields.end());
  FFieldIndexStale = true;
}

void TDataSet::BindFields() {
  if (FFields.empty()) {
    FDefaultFields = true;
    for (int I = 0; I < FFieldDefs.Count(); ++I)
      std::as_const(FFieldDefs).Items(I).CreateField(this);
  }
  for (auto& F : FFields) {
    if (F->FieldKind() != fkData) continue;
    F->FFieldNo =
        FCursor ? FCursor->ColumnIndex(F->FieldName()) : FStore->ColumnIndex(F->FieldName());
    if (F->FFieldNo < 0) throw EDatabaseError("Campo '" + F->FieldName() + "' no encontrado");
    if (F->Size() == 0)
      F->SetSize(FCursor ? FFieldDefs.Items(F->FFieldNo).Size : FStore->Defs[F->FFieldNo].Size);
  }
}

// ---------------------------------------------------------------- TDataSet: state

void TDataSet::CheckActive() const {
  if (!FActive)
    throw EDatabaseError("No se puede realizar esta operación con un conjunto de datos cerrado");
}

void TDataSet::Open() {
  if (FActive) return;
  DataSetChanging();
  try {
    InternalOpen();
    if (!FStore && !FCursor) throw EDatabaseError("No se ha podido abrir el conjunto de datos");
    BindFields();
    FFilterProg.reset();
    CompileFilter(FFilterText, FFiltered, FFilterOptions);
    FActive = true;
    if (FCursor) {
      PrepareCursor();
      FCursor->Invalidate();
    } else {
      BuildRows(FRows);
    }
    FRowPos.clear();
    FCur = 0;
    FFromEnd = false;
    FBof = true;
    FEof = IsEmpty();
  } catch (...) {
    FActive = false;
    FRows.clear();
    if (FDefaultFields) DropFields();
    FDefaultFields = false;
    FStore.reset();
    FCursor.reset();
    ActiveChangedNotify();
    throw;
  }
  ActiveChangedNotify();
}

void TDataSet::Close() {
  if (!FActive) return;
  DataSetChanging();
  FActive = false;
  FRows.clear();
  FRowPos.clear();
  FCur = 0;
  FFromEnd = false;
  FBof = FEof = true;
  FFilterProg.reset();
  if (FDefaultFields) {
    DropFields();
    FDefaultFields = false;
  }
  for (auto& F : FFields) F->FFieldNo = -1;
  InternalClose();
  FStore.reset();
  FCursor.reset();
  ActiveChangedNotify();
}

void TDataSet::ReplaceStore(std::shared_ptr<const TTableStore> S) {
  FStore = std::move(S);
  // The compiled filter reads the columns of the store it was compiled against.
  if (FFilterProg) FFilterProg = TFilterProgram::Compile(FFilterText, *this);
}

void TDataSet::Refresh() {
  CheckActive();
  Resync(false);
}

TBookmark TDataSet::LookupRow(const std::vector<uint32_t>& Rows) const {
  return Rows.empty() ? NoBookmark : Rows.front();
}

void TDataSet::BuildBaseRows(std::vector<uint32_t>& Rows) {
  const size_t N = FStore ? FStore->RowCount() : 0;
  Rows.resize(N);
  for (size_t I = 0; I < N; ++I) Rows[I] = static_cast<uint32_t>(I);
}

bool TDataSet::MatchesFilter(uint32_t Row) const {
  return !FFilterProg || FFilterProg->Matches(Row, FFilterOptions);
}

void TDataSet::BuildRows(std::vector<uint32_t>& Rows) {
  BuildBaseRows(Rows);
  if (FFiltered && FFilterProg) FFilterProg->Apply(Rows, FFilterOptions);
}

void TDataSet::Resync(bool KeepPosition) {
  if (!FActive) return;
  if (FCursor) {
    // The records are read again from the database: views are told of a change, as comparing
    // them would mean reading them all.
    const TBookmark Old = KeepPosition ? CurrentRow() : NoBookmark;
    DataSetChanging();
    PrepareCursor();
    FCursor->Invalidate();
    FCur = 0;
    FFromEnd = false;
    if (Old != NoBookmark) FCur = std::max(IndexOfRow(Old), 0);
    FBof = FCur == 0;
    FEof = IsEmpty();
    DataSetChanged();
    return;
  }
  const TBookmark Old = CurrentRow();
  const int OldCur = FCur;
  std::vector<uint32_t> Rows;
  BuildRows(Rows);
  const bool Same = Rows == FRows;
  if (!Same) {
    DataSetChanging();
    FRows.swap(Rows);
    FRowPos.clear();
  }
  FCur = 0;
  if (KeepPosition && Old >= 0) {
    int I = IndexOfRow(Old);
    if (I >= 0) FCur = I;
  }
  FBof = FCur == 0;
  FEof = FRows.empty();
  if (!Same)
    DataSetChanged();
  else if (FCur != OldCur)
    Scrolled();
}

void TDataSet::RowAppended(uint32_t Row) {
  if (!FActive) return;
  if (FFiltered && !MatchesFilter(Row)) return;
  DataSetChanging();
  FRows.push_back(Row);
  FRowPos.clear();
  FCur = static_cast<int>(FRows.size()) - 1;
  FBof = false;
  FEof = true;
  DataSetChanged();
}

// ---------------------------------------------------------------- moving

int TDataSet::RecordCount() const {
  if (FCursor) return FActive ? static_cast<int>(FCursor->Count()) : 0;
  return static_cast<int>(FRows.size());
}

int TDataSet::KnownRecordCount() const {
  if (FCursor) return FActive ? static_cast<int>(FCursor->KnownCount()) : 0;
  return static_cast<int>(FRows.size());
}

std::vector<double> TDataSet::SumRecords(const std::vector<const TField*>& Fields, int From,
                                         int To) const {
  if (From > To) std::swap(From, To);
  std::vector<double> Sums(Fields.size(), 0.0);
  if (!FActive || Fields.empty() || From < 0 || !HasRecord(From)) return Sums;
  if (FCursor && FCursor->SumRecords(Fields, From, To, Sums)) return Sums;
  std::fill(Sums.begin(), Sums.end(), 0.0);
  for (long I = From; I <= To && HasRecord(I); ++I) {
    const TBookmark Row = FCursor ? FCursor->RowAt(I) : FRows[static_cast<size_t>(I)];
    for (size_t K = 0; K < Fields.size(); ++K) {
      const Variant V = Fields[K]->ValueAt(Row);
      if (!V.IsNullOrEmpty()) Sums[K] += V.AsDouble();
    }
  }
  return Sums;
}

bool TDataSet::HasRecord(long Index) const {
  if (Index < 0) return false;
  if (FCursor) return FActive && FCursor->RowAt(Index) != NoBookmark;
  return Index < static_cast<long>(FRows.size());
}

TBookmark TDataSet::CurrentRow() const {
  if (FCursor) {
    if (!FActive) return NoBookmark;
    return FFromEnd ? FCursor->RowFromEnd(FCur) : FCursor->RowAt(FCur);
  }
  return FRows.empty() ? NoBookmark : FRows[FCur];
}

TBookmark TDataSet::RowAt(int Index) const {
  if (!FCursor) return FRows.at(Index);
  const TBookmark Row = FActive && Index >= 0 ? FCursor->RowAt(Index) : NoBookmark;
  if (Row == NoBookmark) throw std::out_of_range("TDataSet::RowAt");
  return Row;
}

int TDataSet::Cur() const {
  if (FFromEnd) {
    const int Count = RecordCount();
    FCur = std::max(0, Count - 1 - FCur);
    FFromEnd = false;
  }
  return FCur;
}

void TDataSet::SetCur(int Index) {
  bool Moved = FFromEnd || Index != FCur;
  FCur = Index;
  FFromEnd = false;
  FBof = FEof = false;
  if (Moved) Scrolled();
}

void TDataSet::First() {
  CheckActive();
  const bool Moved = FFromEnd || FCur != 0;
  FCur = 0;
  FFromEnd = false;
  FBof = true;
  FEof = IsEmpty();
  if (Moved) Scrolled();
}

void TDataSet::Last() {
  CheckActive();
  if (FCursor && FCursor->KnownCount() < 0) {
    // The last record is read without counting the records: the place is kept from the end
    // until something asks for it from the first.
    const bool Moved = !FFromEnd || FCur != 0;
    const bool Any = FCursor->RowFromEnd(0) != NoBookmark;
    FCur = 0;
    FFromEnd = Any;
    FEof = true;
    FBof = !Any;
    if (Moved) Scrolled();
    return;
  }
  const int Old = Cur();
  const int Count = RecordCount();
  FCur = Count == 0 ? 0 : Count - 1;
  FEof = true;
  FBof = Count == 0;
  if (Old != FCur) Scrolled();
}

void TDataSet::Next() {
  CheckActive();
  if (FFromEnd) {
    if (FCur == 0) {
      FEof = true;
      return;
    }
    --FCur;
    FBof = FEof = false;
    Scrolled();
    return;
  }
  if (HasRecord(FCur + 1L)) {
    SetCur(FCur + 1);
  } else {
    FEof = true;
  }
}

void TDataSet::Prior() {
  CheckActive();
  if (FFromEnd) {
    if (FCursor->RowFromEnd(FCur + 1L) == NoBookmark) {
      FBof = true;
      return;
    }
    ++FCur;
    FBof = FEof = false;
    Scrolled();
    return;
  }
  if (FCur > 0 && !IsEmpty()) {
    SetCur(FCur - 1);
  } else {
    FBof = true;
  }
}

int TDataSet::MoveBy(int Distance) {
  CheckActive();
  if (IsEmpty()) return 0;
  long Target = std::max(0L, static_cast<long>(Cur()) + Distance);
  // Past the end the count says where the last record is (only then is it needed).
  if (Distance > 0 && !HasRecord(Target)) Target = RecordCount() - 1L;
  int Moved = static_cast<int>(Target - FCur);
  SetCur(static_cast<int>(Target));
  if (Distance > 0 && Moved < Distance) FEof = true;
  if (Distance < 0 && Moved > Distance) FBof = true;
  return Moved;
}

void TDataSet::SetRecNo(int V) {
  CheckActive();
  if (V >= 1 && HasRecord(V - 1L)) SetCur(V - 1);
}

int TDataSet::IndexOfRow(TBookmark Row) const {
  if (Row < 0) return -1;
  if (FCursor) return FActive ? static_cast<int>(FCursor->IndexOf(Row)) : -1;
  if (FCur < static_cast<int>(FRows.size()) && FRows[FCur] == Row) return FCur;
  // Bookmark walks (a grid's picked rows, a column sum) ask many times: after the first miss the
  // positions of every stored row are kept until the rows change.
  if (FRowPos.empty() && !FRows.empty()) {
    size_t Size = 0;
    for (uint32_t R : FRows) Size = std::max<size_t>(Size, R + size_t{1});
    FRowPos.assign(Size, -1);
    for (size_t I = 0; I < FRows.size(); ++I) FRowPos[FRows[I]] = static_cast<int32_t>(I);
  }
  return static_cast<size_t>(Row) < FRowPos.size() ? FRowPos[static_cast<size_t>(Row)] : -1;
}

void TDataSet::GotoBookmark(TBookmark B) {
  CheckActive();
  // A row read among the last records, while their count is not known, keeps its place from
  // the end.
  if (FCursor && B >= 0 && FCursor->KnownCount() < 0) {
    if (const int64_t Back = FCursor->KnownPlaceFromEnd(B); Back >= 0) {
      const bool Moved = !FFromEnd || FCur != Back;
      FCur = static_cast<int>(Back);
      FFromEnd = true;
      FBof = FEof = false;
      if (Moved) Scrolled();
      return;
    }
  }
  int I = IndexOfRow(B);
  if (I < 0) throw EDatabaseError("Registro no encontrado: el marcador no es válido");
  SetCur(I);
}

bool TDataSet::BookmarkValid(TBookmark B) const {
  if (FActive && FCursor && B >= 0 && FCursor->KnownPlaceFromEnd(B) >= 0) return true;
  return FActive && IndexOfRow(B) >= 0;
}

// ---------------------------------------------------------------- filter and find

void TDataSet::CompileFilter(const std::string& Text, bool Filtered, TFilterOptions Options) {
  if (FCursor) return FCursor->SetFilter(Text, Filtered, Options);
  std::unique_ptr<TFilterProgram> Prog;
  if (!Trim(Text).empty()) Prog = TFilterProgram::Compile(Text, *this);
  FFilterProg = std::move(Prog);
}

void TDataSet::ChangeFilter(const std::function<void()>& Change) {
  if (!FActive) return Change();
  const std::string Text = FFilterText;
  const bool Filtered = FFiltered;
  const TFilterOptions Options = FFilterOptions;
  std::shared_ptr<TFilterProgram> Prog = FFilterProg;
  try {
    Change();
  } catch (const EAborted&) {
    // The user stopped the scan: the rows shown are still the old filter's (Resync changes
    // nothing until they are built), so the filter that gave them is put back with them. Other
    // failures keep the new filter, for the next Refresh to apply (a connection to reopen).
    FFilterText = Text;
    FFiltered = Filtered;
    FFilterOptions = Options;
    FFilterProg = std::move(Prog);
    if (FCursor) FCursor->SetFilter(Text, Filtered, Options);
    throw;
  }
}

void TDataSet::SetFilter(const std::string& V) {
  ChangeFilter([&] {
    if (FActive) CompileFilter(V, FFiltered, FFilterOptions);
    FFilterText = V;
    if (FActive && FFiltered) Resync(false);
  });
}

void TDataSet::SetFiltered(bool V) {
  if (V == FFiltered) return;
  ChangeFilter([&] {
    // Without a filter text the rows stay as they are.
    const bool HasFilter = !Trim(FFilterText).empty();
    if (FActive && FCursor && HasFilter) CompileFilter(FFilterText, V, FFilterOptions);
    FFiltered = V;
    if (FActive && (FFilterProg || (FCursor && HasFilter))) Resync(false);
  });
}

void TDataSet::SetFilterOptions(TFilterOptions V) {
  if (V == FFilterOptions) return;
  ChangeFilter([&] {
    const bool HasFilter = !Trim(FFilterText).empty();
    if (FActive && FCursor) CompileFilter(FFilterText, FFiltered, V);
    FFilterOptions = V;
    if (FActive && FFiltered && (FFilterProg || (FCursor && HasFilter))) Resync(false);
  });
}

bool TDataSet::SeekCursor(const std::string& Text, long From, bool Forward) {
  if (From < 0) return false;
  const TBookmark Row = FCursor->Find(Text, From, Forward);
  const int Index = IndexOfRow(Row);
  if (Index < 0) return false;
  SetCur(Index);
  return true;
}

bool TDataSet::Seek(const TFilterProgram* Prog, long From, bool Forward) {
  const long N = static_cast<long>(FRows.size());
  if (Forward) {
    if (From >= N) return false;
    const size_t I = Prog ? Prog->FindFirst(FRows, static_cast<size_t>(From), FFilterOptions)
                          : static_cast<size_t>(From);
    if (I >= FRows.size()) return false;
    SetCur(static_cast<int>(I));
    return true;
  }
  for (long I = std::min(From, N - 1); I >= 0; --I)
    if (!Prog || Prog->Matches(FRows[I], FFilterOptions)) {
      SetCur(static_cast<int>(I));
      return true;
    }
  return false;
}

bool TDataSet::FindFirst() {
  CheckActive();
  if (FCursor) return SeekCursor(FFilterText, 0, true);
  return Seek(FFilterProg.get(), 0, true);
}

bool TDataSet::FindLast() {
  CheckActive();
  if (FCursor) return SeekCursor(FFilterText, RecordCount() - 1L, false);
  return Seek(FFilterProg.get(), static_cast<long>(FRows.size()) - 1, false);
}

bool TDataSet::FindNext() {
  CheckActive();
  if (FCursor ? SeekCursor(FFilterText, Cur() + 1L, true)
              : Seek(FFilterProg.get(), FCur + 1L, true))
    return true;
  FEof = true;
  return false;
}

bool TDataSet::FindPrior() {
  CheckActive();
  if (FCursor ? SeekCursor(FFilterText, Cur() - 1L, false)
              : Seek(FFilterProg.get(), FCur - 1L, false))
    return true;
  FBof = true;
  return false;
}

bool TDataSet::FindFirst(const std::string& Text) {
  CheckActive();
  if (FCursor) return SeekCursor(Text, 0, true);
  return Seek(TFilterProgram::Compile(Text, *this).get(), 0, true);
}

bool TDataSet::FindNext(const std::string& Text) {
  CheckActive();
  if (FCursor ? SeekCursor(Text, Cur() + 1L, true)
              : Seek(TFilterProgram::Compile(Text, *this).get(), FCur + 1L, true))
    return true;
  FEof = true;
  return false;
}

bool TDataSet::FindPrior(const std::string& Text) {
  CheckActive();
  if (FCursor ? SeekCursor(Text, Cur() - 1L, false)
              : Seek(TFilterProgram::Compile(Text, *this).get(), FCur - 1L, false))
    return true;
  FBof = true;
  return false;
}

// ---------------------------------------------------------------- locate

namespace {
// One key of a locate, converted once to the field's kind of value.
struct TLocateKey {
  const TField* Field = nullptr;
  const TColumn* Column = nullptr;  // data fields: read the store directly
  bool IsNull = false;
  TStorageKind Kind = TStorageKind::String;
  double Number = 0;
  std::string Text;
};

bool KeyMatches(const TLocateKey& K, uint32_t Row, TLocateOptions Options) {
  const bool CaseInsensitive = Options & loCaseInsensitive, Partial = Options & loPartialKey;
  if (K.Column) {
    if (K.Column->IsNull(Row)) return K.IsNull;
    if (K.IsNull) return false;
    switch (K.Kind) {
      case TStorageKind::Int:
        return K.Column->Int(Row) == K.Number;
      case TStorageKind::Double:
        return K.Column->Double(Row) == K.Number;
      case TStorageKind::String: {
        std::string_view S = K.Column->Str(Row);
        // Ignoring accents the column is the store's folded copy and the key is folded alike.
        if (Options & loAccentInsensitive) return Partial ? S.starts_with(K.Text) : S == K.Text;
        if (Partial) return AnsiStartsWith(S, K.Text, CaseInsensitive);
        return CaseInsensitive ? AnsiSameText(S, K.Text) : S == K.Text;
      }
    }
    return false;
  }
  Variant V = K.Field->ValueAt(Row);
  if (V.IsNullOrEmpty()) return K.IsNull;
  if (K.IsNull) return false;
  if (K.Kind == TStorageKind::String) {
    std::string S = V.AsString();
    if (Options & loAccentInsensitive) {
      S = FoldText(S, CaseInsensitive);
      return Partial ? std::string_view(S).starts_with(K.Text) : S == K.Text;
    }
    if (Partial) return AnsiStartsWith(S, K.Text, CaseInsensitive);
    return CaseInsensitive ? AnsiSameText(S, K.Text) : S == K.Text;
  }
  try {
    return (V.VarType() == varDate ? V.AsDateTime().Val : V.AsDouble()) == K.Number;
  } catch (const Exception&) {
    return false;
  }
}

bool AllKeysMatch(const std::vector<TLocateKey>& Keys, uint32_t Row, TLocateOptions Options) {
  for (const auto& K : Keys)
    if (!KeyMatches(K, Row, Options)) return false;
  return true;
}

// The values of a locate, one per name of KeyFields; raises when the numbers differ.
std::vector<Variant> LocateValues(const std::vector<std::string>& Names,
                                  const std::string& KeyFields, const Variant& KeyValues) {
  std::vector<Variant> Values;
  if (KeyValues.IsArray()) {
    for (int I = KeyValues.ArrayLowBound(); I <= KeyValues.ArrayHighBound(); ++I)
      Values.push_back(KeyValues[I]);
  } else {
    Values.push_back(KeyValues);
  }
  if (Values.size() != Names.size())
    throw EDatabaseError("Locate: se han dado " + std::to_string(Values.size()) + " valores para " +
                         std::to_string(Names.size()) + " campos (" + KeyFields + ")");
  return Values;
}

std::vector<TLocateKey> PrepareKeys(const TDataSet& DS, const std::string& KeyFields,
                                    const Variant& KeyValues, TLocateOptions Options) {
  const bool Fold = Options & loAccentInsensitive, CaseInsensitive = Options & loCaseInsensitive;
  std::vector<std::string> Names = SplitFieldNames(KeyFields);
  const std::vector<Variant> Values = LocateValues(Names, KeyFields, KeyValues);
  std::vector<TLocateKey> Keys;
  for (size_t I = 0; I < Names.size(); ++I) {
    TLocateKey K;
    K.Field = DS.FieldByName(Names[I]);
    K.Kind = StorageKindOf(K.Field->DataType());
    if (K.Field->FieldKind() == fkData && K.Field->FieldNo() >= 0 && DS.Store())
      K.Column = &DS.Store()->Columns[K.Field->FieldNo()];
    const Variant& V = Values[I];
    K.IsNull = V.IsNullOrEmpty() || (V.IsString() && V.AsString().empty());
    if (!K.IsNull) {
      try {
        if (K.Kind == TStorageKind::String) {
          K.Text = Fold ? FoldText(V.AsString(), CaseInsensitive) : V.AsString();
        } else {
          TColumn Tmp(K.Field->DataType());
          Tmp.AppendVariant(V);
          K.Number = K.Kind == TStorageKind::Int ? Tmp.Int(0) : Tmp.Double(0);
        }
      } catch (const Exception& E) {
        throw EDatabaseError("Locate: el valor '" + V.AsString() + "' no es válido para el campo " +
                             K.Field->FieldName());
      }
    }
    if (Fold && K.Column && K.Kind == TStorageKind::String)
      K.Column = &DS.Store()->FoldedColumn(K.Field->FieldNo(), CaseInsensitive);
    // A scan over more rows than a chunk reads the key columns in one pass each.
    if (K.Column && DS.RecordCount() > static_cast<int>(kColumnChunkRows)) K.Column->Decode();
    Keys.push_back(std::move(K));
  }
  return Keys;
}
}  // namespace

TBookmark TDataSet::LocateCursor(const std::string& KeyFields, const Variant& KeyValues,
                                 TLocateOptions Options, TRecordCursor::TScope Scope) const {
  const std::vector<std::string> Names = SplitFieldNames(KeyFields);
  return FCursor->LocateRow(Names, LocateValues(Names, KeyFields, KeyValues), Options, Scope);
}

bool TDataSet::Locate(const std::string& KeyFields, const Variant& KeyValues,
                      TLocateOptions Options) {
  CheckActive();
  if (FCursor) {
    const int Index =
        IndexOfRow(LocateCursor(KeyFields, KeyValues, Options, TRecordCursor::TScope::Records));
    if (Index < 0) return false;
    SetCur(Index);
    return true;
  }
  std::vector<TLocateKey> Keys = PrepareKeys(*this, KeyFields, KeyValues, Options);
  // A leading key of a stored number column (a position usually begins with one) is tested
  // inline first; the other keys are read only on the rows it lets through.
  const TLocateKey* Lead =
      !Keys.empty() && Keys[0].Column && !Keys[0].IsNull && Keys[0].Kind != TStorageKind::String
          ? &Keys[0]
          : nullptr;
  auto LeadMatches = [Lead](uint32_t Row) {
    if (Lead->Column->IsNull(Row)) return false;
    const double V =
        Lead->Kind == TStorageKind::Int ? Lead->Column->Int(Row) : Lead->Column->Double(Row);
    return V == Lead->Number;
  };
  for (size_t I = 0; I < FRows.size(); ++I) {
    const uint32_t Row = FRows[I];
    if ((Lead && !LeadMatches(Row)) || !AllKeysMatch(Keys, Row, Options)) continue;
    SetCur(static_cast<int>(I));
    return true;
  }
  return false;
}

TBookmark TDataSet::LocateIn(const uint32_t* Rows, size_t N, const std::string& KeyFields,
                             const Variant& KeyValues, TLocateOptions Options) const {
  CheckActive();
  const std::vector<TLocateKey> Keys = PrepareKeys(*this, KeyFields, KeyValues, Options);
  const bool Filter = FFiltered && FFilterProg;
  for (size_t I = 0; I < N; ++I) {
    const uint32_t Row = Rows ? Rows[I] : static_cast<uint32_t>(I);
    if (AllKeysMatch(Keys, Row, Options) && (!Filter || FFilterProg->Matches(Row, FFilterOptions)))
      return Row;
  }
  return NoBookmark;
}

Variant TDataSet::Lookup(const std::string& KeyFields, const Variant& KeyValues,
                         const std::string& ResultFields) {
  CheckActive();
  const std::vector<std::string> Results = SplitFieldNames(ResultFields);
  auto ValuesAt = [&](TBookmark Row) {
    if (Results.size() == 1) return FieldByName(Results[0])->ValueAt(Row);
    Variant A = VarArrayCreate(0, static_cast<int>(Results.size()) - 1);
    for (size_t J = 0; J < Results.size(); ++J)
      A[static_cast<int>(J)] = FieldByName(Results[J])->ValueAt(Row);
    return A;
  };
  if (FCursor) {
    const TBookmark Row = LocateCursor(KeyFields, KeyValues, 0, TRecordCursor::TScope::Records);
    return Row == NoBookmark ? Variant::Null() : ValuesAt(Row);
  }
  std::vector<TLocateKey> Keys = PrepareKeys(*this, KeyFields, KeyValues, 0);
  for (uint32_t Row : FRows)
    if (AllKeysMatch(Keys, Row, 0)) return ValuesAt(Row);
  return Variant::Null();
}

// ---------------------------------------------------------------- controls and notification

void TDataSet::DisableControls() {
  ++FDisableCount;
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0 || --FDisableCount > 0) return;
  const bool Active = FPendingActive, Change = FPendingChange, Scroll = FPendingScroll;
  FPendingActive = FPendingChange = FPendingScroll = false;
  if (Active)
    ActiveChangedNotify();
  else if (Change)
    DataSetChanged();
  else if (Scroll)
    Scrolled();
}

void TDataSet::DataSetChanging() {
  if (FChangingSent) return;
  FChangingSent = true;
  for (TDataSource* DS : std::vector<TDataSource*>(FDataSources)) DS->NotifyDataSetChanging();
}

void TDataSet::DataSetChanged() {
  if (FDisableCount > 0) {
    FPendingChange = true;
    return;
  }
  FChangingSent = false;
  FPendingScroll = false;
  for (TDataSource* DS : std::vector<TDataSource*>(FDataSources)) DS->NotifyDataSetChanged();
}

void TDataSet::ActiveChangedNotify() {
  if (FDisableCount > 0) {
    FPendingActive = true;
    return;
  }
  FChangingSent = false;
  FPendingChange = FPendingScroll = false;
  for (TDataSource* DS : std::vector<TDataSource*>(FDataSources)) DS->NotifyActiveChanged();
}

void TDataSet::Scrolled() {
  if (FDisableCount > 0) {
    FPendingScroll = true;
    return;
  }
  for (TDataSource* DS : std::vector<TDataSource*>(FDataSources)) DS->NotifyScrolled();
}

void TDataSet::AttachDataSource(TDataSource* DS) {
  if (std::find(FDataSources.begin(), FDataSources.end(), DS) == FDataSources.end())
    FDataSources.push_back(DS);
}

void TDataSet::DetachDataSource(TDataSource* DS) {
  FDataSources.erase(std::remove(FDataSources.begin(), FDataSources.end(), DS), FDataSources.end());
}

// ---------------------------------------------------------------- TMemDataSet

void TMemDataSet::CreateDataSet() {
  Close();
  auto S = std::make_shared<TTableStore>();
  if (FieldDefs().Count() == 0) {
    for (int I = 0; I < FieldCount(); ++I) {
      TField* F = Fields(I);
      if (F->FieldKind() == fkData)
        FieldDefs().Add(F->FieldName(), F->DataType(), F->Size(), F->Required());
    }
  }
  for (int I = 0; I < FieldDefs().Count(); ++I) {
    const TFieldDef& D = FieldDefs().Items(I);
    S->AddColumn({D.Name, D.DataType, D.Size, D.Required});
  }
  FShared.reset();
  FOwn = std::move(S);
  Open();
}

void TMemDataSet::OpenStore(std::shared_ptr<const TTableStore> S) {
  Close();
  FOwn.reset();
  FShared = std::move(S);
  Open();
}

void TMemDataSet::InternalOpen() {
  const TTableStore* S = FOwn ? FOwn.get() : FShared.get();
  if (!S) throw EDatabaseError("El conjunto de datos en memoria no se ha creado");
  FieldDefs().Clear();
  for (const auto& D : S->Defs) FieldDefs().Add(D.Name, D.DataType, D.Size, D.Required);
  if (FOwn)
    SetStore(FOwn);
  else
    SetStore(FShared);
}

TTableStore& TMemDataSet::OwnStore() {
  CheckActive();
  // Held here and as the open store, by nobody else: safe to change in place.
  if (FOwn && FOwn.get() == Store() && FOwn.use_count() <= 2) return *FOwn;
  FOwn = std::make_shared<TTableStore>(*Store());
  FShared.reset();
  ReplaceStore(FOwn);
  return *FOwn;
}

void TMemDataSet::SetPrimaryKey(std::vector<std::string> Names) {
  OwnStore().PrimaryKey = std::move(Names);
}

void TMemDataSet::AppendRecord(const std::vector<Variant>& Values) {
  TTableStore& S = OwnStore();
  std::vector<Variant> Row(S.Columns.size());
  size_t V = 0;
  for (int I = 0; I < FieldCount() && V < Values.size(); ++I) {
    TField* F = Fields(I);
    if (F->FieldKind() != fkData || F->FieldNo() < 0) continue;
    Row[F->FieldNo()] = Values[V++];
  }
  S.AppendRow(Row);
  RowAppended(static_cast<uint32_t>(S.RowCount() - 1));
}

}  // namespace kv
