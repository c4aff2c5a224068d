// Record positions: field-name/value snapshots of the current record and the locates that bring
// a dataset, and the masters of a detail table, back to such a record.
#include "KVUtil.h"

#include <typeinfo>
#include <vector>

#include "SysUtils.h"

namespace kv {

namespace {

// Only plain data fields of these types identify a record: dates, booleans, currency and blobs
// compare unreliably or not at all in a locate.
bool IsPositionField(const TField* F) {
  const TFieldType T = F->DataType();
  return (T == ftString || T == ftInteger || T == ftFloat) && !F->Lookup() && !F->Calculated();
}

// The field list of the table's primary index (the last one marked so), "" when it has none.
std::string PrimaryIndexFields(TTable* Table) {
  {
    TStringList Names;  // refreshes the index definitions
    Table->GetIndexNames(Names);
  }
  std::string Fields;
  TIndexDefs& Defs = Table->IndexDefs();
  for (int I = 0; I < Defs.Count(); ++I)
    if (Defs[I].Options & ixPrimary) Fields = Defs[I].Fields;
  return Fields;
}

// Element Index of a position's values; a bare value stands for a one-element list.
Variant PosValue(const Variant& Values, int Index) {
  if (!Values.IsArray()) return Index == 0 ? Values : Variant();
  if (Index > Values.ArrayHighBound()) return Variant();
  return Values[Values.ArrayLowBound() + Index];
}

}  // namespace

TMasterLinkCut::TMasterLinkCut(TTable* Table)
    : FTable(Table), FSource(Table->MasterSource()), FFields(Table->MasterFields()) {
  FTable->SetMasterSource(nullptr);
  FTable->SetMasterFields("");
}

TMasterLinkCut::~TMasterLinkCut() {
  try {
    Restore();
  } catch (...) {
    // Only reached while another error leaves the scope: that one is reported.
  }
}

void TMasterLinkCut::Restore() {
  if (FRestored) return;
  FRestored = true;
  FTable->SetMasterSource(FSource);
  FTable->SetMasterFields(FFields);
}

void GetAllFields(TPos& Pos, TDataSet* DataSet) {
  const int Count = DataSet->FieldCount();
  if (Count == 0) throw Exception("La tabla no tiene campos estáticos");
  Pos.values = VarArrayCreate(0, Count - 1, varVariant);
  Pos.Fields.clear();
  int Kept = 0;
  for (int I = 0; I < Count; ++I) {
    const TField* F = DataSet->Fields(I);
    if (!IsPositionField(F)) continue;
    if (Kept > 0) Pos.Fields += ';';
    Pos.Fields += F->FieldName();
    Pos.values[Kept++] = F->Value();
  }
  VarArrayRedim(Pos.values, Kept - 1);
  if (Pos.Fields.empty()) throw Exception("La tabla no tiene campos por los que se pueda igualar");
  if (Count == 1) {
    Variant Single = Pos.values[0];
    Pos.values = Single;
  }
}

namespace {
// The values of the named fields (see GetFieldsValues) in stored row Row, or in the current
// record when Row is NoBookmark.
Variant FieldsValuesAt(const std::string& FieldNames, TDataSet* DataSet, TBookmark Row) {
  const std::vector<std::string> Names = SplitNames(FieldNames, ';');
  Variant A = VarArrayCreate(0, static_cast<int>(Names.size()) - 1, varVariant);
  for (size_t I = 0; I < Names.size(); ++I)
    if (TField* F = DataSet->FindField(Names[I]))
      A[static_cast<int>(I)] = Row == NoBookmark ? F->Value() : F->ValueAt(Row);
  if (Names.size() == 1) return A[0];
  return A;
}
}  // namespace

void GetFieldsValues(const std::string& FieldNames, TDataSet* DataSet, Variant& Values) {
  Values = FieldsValuesAt(FieldNames, DataSet, NoBookmark);
}

bool GetPos(TPos& Pos, TDataSet* DataSet) {
  GetAllFields(Pos, DataSet);
  return true;
}

bool GotoPos(const TPos& Pos, TDataSet* DataSet, bool MasterSlave) {
  const std::vector<std::string> Names = SplitNames(Pos.Fields, ';');
  Variant Work = VarArrayCreate(0, static_cast<int>(Names.size()) - 1, varVariant);
  std::string KeptNames;
  int Kept = 0;
  for (size_t N = 0; N < Names.size(); ++N) {
    if (!DataSet->FindField(Names[N])) continue;
    if (Kept > 0) KeptNames += ';';
    KeptNames += Names[N];
    Work[Kept++] = PosValue(Pos.values, static_cast<int>(N));
  }
  // No field in common: the record cannot be found here.
  if (Kept == 0) return false;
  VarArrayRedim(Work, Kept - 1);
  const Variant Key = Kept == 1 ? Variant(Work[0]) : Work;
  if (MasterSlave || typeid(*DataSet) != typeid(TTable)) return DataSet->Locate(KeptNames, Key, 0);
  return locateKV(static_cast<TTable*>(DataSet), KeptNames, Key, 0);
}

Variant GetKeyValues(TDataSet* DataSet) {
  Variant A;
  if (auto* Table = dynamic_cast<TTable*>(DataSet)) {
    const std::string Fields = PrimaryIndexFields(Table);
    if (Fields.empty()) return Null();
    const std::vector<std::string> Names = SplitNames(Fields, ';');
    A = VarArrayCreate(0, static_cast<int>(Names.size()) - 1, varVariant);
    for (size_t I = 0; I < Names.size(); ++I)
      A[static_cast<int>(I)] = Table->FieldByName(Names[I])->Value();
  } else if (dynamic_cast<TQuery*>(DataSet) && DataSet->FieldCount() > 0) {
    A = VarArrayCreate(0, DataSet->FieldCount() - 1, varVariant);
    for (int I = 0; I < DataSet->FieldCount(); ++I) A[I] = DataSet->Fields(I)->Value();
  } else {
    return Null();
  }
  if (VarArrayHighBound(A) != 0) return A;
  return A[0];
}

std::string GetKeyFields(TDataSet* DataSet) {
  if (auto* Table = dynamic_cast<TTable*>(DataSet)) return PrimaryIndexFields(Table);
  std::string Fields;
  if (dynamic_cast<TQuery*>(DataSet)) {
    for (int I = 0; I < DataSet->FieldCount(); ++I) {
      if (I > 0) Fields += ';';
      Fields += DataSet->Fields(I)->FieldName();
    }
  }
  return Fields;
}

void Iguala_posicion(TDataSet* target, TDataSet* source) {
  // The record is taken first: moving the masters sends a detail source (the target itself,
  // when it shows its own records) back to its first record.
  TPos Pos;
  GetPos(Pos, source);
  auto* Table = dynamic_cast<TTable*>(target);
  TDataSet* Master = Table && Table->MasterSource() ? Table->MasterSource()->DataSet() : nullptr;
  if (Master && !Table->MasterFields().empty()) {
    if (dynamic_cast<TQuery*>(Master))
      throw Exception("No se puede igualar tablas con maestros Query");
    // The master's file is opened afresh so its own master link does not hide the record.
    auto* MasterTable = dynamic_cast<TTable*>(Master);
    if (!MasterTable) throw Exception("No se permiten maestros de tablas que no sean TTable");
    TTable Temp;
    Temp.SetDatabaseName(MasterTable->DatabaseName());
    Temp.SetTableName(MasterTable->TableName());
    Variant Values;
    GetFieldsValues(Table->MasterFields(), source, Values);
    Temp.Open();
    // Without the master record there is nothing to move the master to.
    if (Temp.Locate(Table->MasterFields(), Values, 0)) Iguala_posicion(MasterTable, &Temp);
  }
  GotoPos(Pos, target, false);
}

bool locateKV(TTable* Table, const std::string& KeyFields, const Variant& KeyValues,
              TLocateOptions Options) {
  // A data source that names no dataset links to nothing.
  TDataSource* MasterSource = Table->MasterSource();
  if (Table->MasterFields().empty() || !MasterSource || !MasterSource->DataSet())
    return Table->Locate(KeyFields, KeyValues, Options);
  const std::string MasterFields = Table->MasterFields();
  // The record is looked for over the whole table without cutting the link, so views of the
  // table see nothing while the master stays. Where a locate fails the table ends on its first
  // record, as it would after the link came back.
  auto ToFirst = [Table] {
    if (Table->Active()) Table->First();
  };
  try {
    const TBookmark Row = Table->LocateUnlinked(KeyFields, KeyValues, Options);
    // A record missing from the whole table is missing under every master: leave the
    // masters where they are.
    if (Row == NoBookmark) {
      ToFirst();
      return false;
    }
    const Variant MasterValues = FieldsValuesAt(MasterFields, Table, Row);
    auto* MasterTable = dynamic_cast<TTable*>(MasterSource->DataSet());
    if (!MasterTable) throw Exception("No se permiten maestros de tablas que no sean TTable");
    locateKV(MasterTable, MasterFields, MasterValues, 0);
    if (Table->Locate(KeyFields, KeyValues, Options)) return true;
  } catch (...) {
    ToFirst();
    throw;
  }
  ToFirst();
  return false;
}

}  // namespace kv
