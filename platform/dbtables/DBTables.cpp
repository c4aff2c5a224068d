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

// Copies the visible records of Source, every field, into a new store.
static std::shared_ptr<TTableStore> CopyRecords(TDataSet& Source) {
  auto Out = std::make_shared<TTableStore>();
  std::vector<TField*> Fields;
  for (int I = 0; I < Source.FieldCount(); ++I) {
    TField* F = Source.Fields(I);
    Fields.push_back(F);
    Out->AddColumn({F->FieldName(), F->DataType(), F->Size(), F->Required()});
  }
  const int N = Source.RecordCount();
  const TTableStore* In = Source.Store();
  for (size_t C = 0; C < Fields.size(); ++C) {
    TField* F = Fields[C];
    TColumn& Col = Out->Columns[C];
    Col.Reserve(N);
    const bool Direct = F->FieldKind() == fkData && F->FieldNo() >= 0 && In &&
                        In->Columns[F->FieldNo()].Type() == F->DataType();
    for (int R = 0; R < N; ++R) {
      const uint32_t Row = static_cast<uint32_t>(Source.RowAt(R));
      if (!Direct) {
        Col.AppendVariant(F->ValueAt(Row));
        continue;
      }
      const TColumn& Src = In->Columns[F->FieldNo()];
      if (Src.IsNull(Row)) {
        Col.AppendNull();
      } else if (Src.Kind() == TStorageKind::Int) {
        Col.AppendInt(Src.Int(Row));
      } else if (Src.Kind() == TStorageKind::Double) {
        Col.AppendDouble(Src.Double(Row));
      } else {
        Col.AppendString(Src.Str(Row));
      }
    }
  }
  if (Fields.empty()) Out->SetRowCountNoColumns(N);
  // Keep the primary key when its fields lead the copy in order.
  if (In && !In->PrimaryKey.empty() && In->PrimaryKey.size() <= Out->Defs.size()) {
    bool Leading = true;
    for (size_t I = 0; I < In->PrimaryKey.size(); ++I)
      Leading = Leading && AnsiSameText(Out->Defs[I].Name, In->PrimaryKey[I]);
    if (Leading) Out->PrimaryKey = In->PrimaryKey;
  }
  return Out;
}

// Whether Source shows its store's columns as they are, in order (no lookup or calculated field,
// no other name, type or size): the file can then be written straight from the store.
static bool ShowsStoreAsIs(const TDataSet& Source) {
  const TTableStore* In = Source.Store();
  if (!In || Source.FieldCount() != static_cast<int>(In->Columns.size())) return false;
  for (int I = 0; I < Source.FieldCount(); ++I) {
    const TField* F = Source.Fields(I);
    const TColumnDef& D = In->Defs[static_cast<size_t>(I)];
    if (F->FieldKind() != fkData || F->FieldNo() != I || F->DataType() != D.DataType ||
        F->FieldName() != D.Name || F->Size() != D.Size || F->Required() != D.Required)
      return false;
  }
  return true;
}

int TTable::BatchMove(TDataSet* Source, TBatchMode Mode) {
  if (!Source) throw EDatabaseError("BatchMove: no hay conjunto de datos de origen");
  if (Mode != batCopy) throw EDatabaseError("BatchMove: solo se admite el modo de copia (batCopy)");
  if (FTableName.empty()) throw EDatabaseError("BatchMove: la tabla de destino no tiene nombre");
  Close();
  if (!Source->Active()) Source->Open();
  const std::string Path = TargetTablePath(FDatabaseName, FTableName);
  if (ShowsStoreAsIs(*Source)) {
    // The visible rows are written from the shared store: no copy of a million records first.
    std::vector<uint32_t> Rows(static_cast<size_t>(Source->RecordCount()));
    for (size_t R = 0; R < Rows.size(); ++R)
      Rows[R] = static_cast<uint32_t>(Source->RowAt(static_cast<int>(R)));
    SaveTableFile(Path, *Source->Store(), &Rows);
    ClearTableCache(Path);
    return static_cast<int>(Rows.size());
  }
  std::shared_ptr<TTableStore> Data = CopyRecords(*Source);
  SaveTableFile(Path, *Data);
  ClearTableCache(Path);
  return static_cast<int>(Data->RowCount());
}

TQuery::TQuery(TComponent* AOwner) : TDataSet(AOwner) {}
TQuery::~TQuery() = default;

void TQuery::InternalOpen() {
  std::shared_ptr<TTableStore> S = ExecuteSelect(FSQL.Text(), FDatabaseName);
  FieldDefs().Clear();
  for (const auto& D : S->Defs) FieldDefs().Add(D.Name, D.DataType, D.Size, D.Required);
  SetStore(S);
}

void TQuery::ExecSQL() {
  if (Trim(FSQL.Text()).empty()) throw EDatabaseError("La consulta no tiene sentencia SQL");
  ExecuteStatement(FSQL.Text(), FDatabaseName);
}
