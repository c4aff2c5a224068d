// TTable over table files (index order, master-detail through a hash index, batch moves) and
// TQuery over the local SQL.
#include "DBTables.h"

#include <algorithm>

#include "Database.h"
#include "LocalSQL.h"
#include "TableFile.h"
#include "Unicode.h"

void TIndexDefs::Add(std::string Name, std::string Fields, TIndexOptions Options) {
  FItems.push_back({std::move(Name), std::move(Fields), Options});
}

// Follows the master data source: any change or move of the master re-reads the detail rows.
class TTable::TMasterLink : public TDataLink {
 public:
  explicit TMasterLink(TTable* Owner) : FOwner(Owner) {}
  void ActiveChanged() override { FOwner->MasterChanged(); }
  void DataSetChanged() override { FOwner->MasterChanged(); }
  void DataSetScrolled() override { FOwner->MasterChanged(); }

 private:
  TTable* FOwner;
};

TTable::TTable(TComponent* AOwner)
    : TDataSet(AOwner), FMasterLink(std::make_unique<TMasterLink>(this)) {}

TTable::~TTable() {
  FMasterLink->SetDataSource(nullptr);
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
  if (Active()) Resync(false);
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

void TTable::UpdateIndexDefs() {
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
  if (Active()) Resync(false);
}

void TTable::InternalOpen() {
  if (FTableName.empty()) throw EDatabaseError("La tabla no tiene nombre (TableName vacío)");
  FFilePath = ResolveTablePath(FDatabaseName, FTableName);
  std::shared_ptr<const TTableStore> S = LoadTableFile(FFilePath);
  FieldDefs().Clear();
  for (const auto& D : S->Defs) FieldDefs().Add(D.Name, D.DataType, D.Size, D.Required);
  SetStore(S);
  UpdateIndexDefs();
}

// Column indexes of ";"-joined names in the store; raises naming the first one missing.
static std::vector<int> ColumnsOf(const TTableStore& S, const std::vector<std::string>& Names,
                                  const std::string& Table) {
  std::vector<int> Cols;
  for (const auto& N : Names) {
    int C = S.ColumnIndex(N);
    if (C < 0) throw EDatabaseError("Campo '" + N + "' no encontrado en la tabla " + Table);
    Cols.push_back(C);
  }
  return Cols;
}

void TTable::BuildBaseRows(std::vector<uint32_t>& Rows) {
  const TTableStore& S = *Store();
  std::vector<std::string> IndexNames;
  if (!FIndexFieldNames.empty()) IndexNames = SplitFieldNames(FIndexFieldNames);
  TDataSet* Master = MasterSource() ? MasterSource()->DataSet() : nullptr;
  if (Master && Master->Active() && !FMasterFields.empty()) {
    std::vector<std::string> MasterNames = SplitFieldNames(FMasterFields);
    // The detail side of the link: the leading index fields, else the primary key, else
    // fields named like the master's.
    std::vector<std::string> DetailNames = IndexNames.empty() ? S.PrimaryKey : IndexNames;
    if (DetailNames.size() < MasterNames.size()) DetailNames = MasterNames;
    DetailNames.resize(MasterNames.size());
    std::vector<int> Cols = ColumnsOf(S, DetailNames, FTableName);
    Rows.clear();
    if (Master->IsEmpty()) return;
    std::vector<Variant> Values;
    for (const auto& N : MasterNames) Values.push_back(Master->FieldByName(N)->Value());
    Rows = S.HashIndex(Cols).Find(S.KeyOfValues(Values, Cols));
    if (IndexNames.size() > MasterNames.size()) {
      std::vector<int> All = ColumnsOf(S, IndexNames, FTableName);
      const auto& Order = S.SortedRows(All);
      if (Rows.size() > 1) {
        // Rank the bucket's rows by their place in the full index order.
        std::vector<uint32_t> Rank(S.RowCount());
        for (uint32_t I = 0; I < Order.size(); ++I) Rank[Order[I]] = I;
        std::sort(Rows.begin(), Rows.end(),
                  [&](uint32_t A, uint32_t B) { return Rank[A] < Rank[B]; });
      }
    }
    return;
  }
  if (!IndexNames.empty()) {
    Rows = S.SortedRows(ColumnsOf(S, IndexNames, FTableName));
    return;
  }
  TDataSet::BuildBaseRows(Rows);
}

namespace {

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
    for (size_t R = 0; R < FRows.size(); ++R)
      FRows[R] = static_cast<uint32_t>(Source.RowAt(static_cast<int>(R)));
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
        for (size_t R = 0; R < StoredRows; ++R) {
          if (Visible[R])
            C->AppendVariant(F->ValueAt(static_cast<TBookmark>(R)));
          else
            C->AppendNull();
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
  const std::string Path = TargetTablePath(FDatabaseName, FTableName);
  const TCopyPlan Plan(*Source, Fields);
  SaveTableFile(Path, Plan.Slice());
  ClearTableCache(Path);
  return static_cast<int>(Plan.RowCount());
}

TQuery::TQuery(TComponent* AOwner) : TDataSet(AOwner) {}
TQuery::~TQuery() = default;

void TQuery::InternalOpen() {
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
  ExecuteStatement(FSQL.Text(), FDatabaseName);
}
