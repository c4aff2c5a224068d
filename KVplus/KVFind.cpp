// The search engine as a component: construction, the properties and their setters. The rest
// of TKVFind lives in the files named at the top of KVFind.h.
#include "KVFind.h"

namespace kv {

namespace {

// Holds Value in Slot, asking to be told when it is destroyed (and no longer about the old one).
template <class T>
void Watch(TComponent* Holder, T*& Slot, T* Value) {
  if (Slot == Value) return;
  if (Slot) Holder->RemoveFreeNotification(Slot);
  Slot = Value;
  if (Value) Value->FreeNotification(Holder);
}

}  // namespace

// ---------------------------------------------------------------- construction

TKVFind::TKVFind(TComponent* AOwner) : TComponent(AOwner) {
  ISQL = std::make_unique<TQuery>(this);
  ITableForExport = std::make_unique<TTable>(this);
  IFields = std::make_unique<TStringList>();
  IFieldTypes = std::make_unique<TStringList>();
  IConditions = std::make_unique<TStringList>();
  IValues = std::make_unique<TStringList>();
  IUnions = std::make_unique<TStringList>();
  IParentesis = std::make_unique<TStringList>();
}

TKVFind::~TKVFind() {
  ISQL.reset();
  IFields.reset();
  IFieldTypes.reset();
  IConditions.reset();
  IValues.reset();
  IUnions.reset();
  IParentesis.reset();
  ITableForExport.reset();
}

// ---------------------------------------------------------------- properties

void TKVFind::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == PDataSet) {
    PDataSet = nullptr;
    PResults = nullptr;
    IActiveDataSet = false;
    IOriginalSQL = nullptr;
  }
  if (AComponent == PResults) PResults = nullptr;
  if (AComponent == PDataSource) PDataSource = nullptr;
}

void TKVFind::SetPDataSet(TDataSet* Value) {
  if (!Value) {
    Watch(this, PDataSet, static_cast<TDataSet*>(nullptr));
    PResults = nullptr;
    IActiveDataSet = false;
    IOriginalSQL = nullptr;
    ISQL = std::make_unique<TQuery>(this);
    return;
  }
  if (Value->FieldCount() == 0)
    throw Exception("El DataSet no tiene campos estáticos o no esta abierto");
  IOriginalFilter = Value->Filter();
  IOriginalFilterOptions = Value->FilterOptions();
  IOriginalFiltered = Value->Filtered();
  TQuery* Q = dynamic_cast<TQuery*>(Value);
  IOriginalSQL = Q ? &Q->SQL() : nullptr;
  IActiveDataSet = true;
  Watch(this, PDataSet, Value);
  PResults = Value;
  ISQL = std::make_unique<TQuery>(this);
  if (TTable* T = dynamic_cast<TTable*>(Value)) ISQL->SetDatabaseName(T->DatabaseName());
  if (Q) ISQL->SetDatabaseName(Q->DatabaseName());
}

void TKVFind::SetpDataSource(TDataSource* Value) {
  Watch(this, PDataSource, Value);
  if (PDataSet && Value) Value->SetDataSet(PDataSet);
}

void TKVFind::SetCaseSensitive(bool Value) {
  PCaseSensitive = Value;
  const TFilterOptions Options =
      (Value ? 0u : static_cast<TFilterOptions>(foCaseInsensitive)) |
      (PAccentSensitive ? 0u : static_cast<TFilterOptions>(foAccentInsensitive));
  if (PDataSet) PDataSet->SetFilterOptions(Options);
  ISQL->SetFilterOptions(Options);
}

void TKVFind::SetAccentSensitive(bool Value) {
  PAccentSensitive = Value;
  SetCaseSensitive(PCaseSensitive);
}

void TKVFind::SetFilter(const std::string& Value) {
  PFilter = Value;
  if (Value.empty()) return;
  SeparaDatos(Value);
  // Without a dataset there is nothing to check against yet; the search checks again.
  if (PDataSet && !ValidateFilter()) throw Exception("Filtro no válido");
}

}  // namespace kv
