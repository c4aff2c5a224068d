// Fields: values of the current or any stored row, lookups, calculated values and display text.
#include <algorithm>
#include <cmath>

#include "DB.h"
#include "Filter.h"
#include "FilterLexer.h"
#include "Unicode.h"

namespace kv {

std::string FieldTypeName(TFieldType T) {
  static const char* const Names[] = {
      "ftUnknown", "ftString",     "ftSmallint", "ftInteger",     "ftWord",  "ftBoolean",
      "ftFloat",   "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",  "ftDateTime",
      "ftBytes",   "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",  "ftGraphic",
      "ftFmtMemo", "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor"};
  return (T >= 0 && T <= ftCursor) ? Names[T] : "ftUnknown";
}

bool IsNumericType(TFieldType T) {
  return T == ftSmallint || T == ftInteger || T == ftWord || T == ftAutoInc || T == ftFloat ||
         T == ftCurrency || T == ftBCD;
}
bool IsFloatType(TFieldType T) {
  return T == ftFloat || T == ftCurrency || T == ftBCD;
}
bool IsDateTimeType(TFieldType T) {
  return T == ftDate || T == ftTime || T == ftDateTime;
}

TField::TField(TFieldType DataType) : FDataType(DataType) {}
TField::~TField() = default;

void TField::SetFieldName(std::string V) {
  FFieldName = std::move(V);
  if (FDataSet) FDataSet->FFieldIndexStale = true;
}

void TField::SetLookupDataSet(TDataSet* V) {
  FLookupDataSet = V;
  // The field's dataset hears when the lookup dataset dies and clears the reference.
  if (V && FDataSet) V->FreeNotification(FDataSet);
}

int TField::DisplayWidth() const {
  if (FDisplayWidth >= 0) return FDisplayWidth;
  switch (FDataType) {
    case ftString:
    case ftMemo:
      return FSize > 0 ? FSize : 20;
    case ftBoolean:
      return 5;
    case ftDate:
    case ftTime:
      return 10;
    case ftDateTime:
      return 19;
    default:
      return 10;
  }
}

std::vector<std::string> SplitFieldNames(const std::string& S) {
  return SplitNames(S, ';');
}

Variant TField::ValueAt(TBookmark Row) const {
  if (!FDataSet || Row < 0) return Variant::Null();
  // Over a database the cursor has the row's values, lookups included.
  if (TRecordCursor* C = FDataSet->Cursor();
      C && (FFieldKind == fkData || (FFieldKind == fkLookup && C->ReadsLookup(*this))))
    return C->Value(*this, Row);
  switch (FFieldKind) {
    case fkData: {
      const TTableStore* S = FDataSet->Store();
      if (!S || FFieldNo < 0 || static_cast<size_t>(Row) >= S->RowCount()) return Variant::Null();
      return S->Columns[FFieldNo].Value(static_cast<size_t>(Row));
    }
    case fkCalculated:
      return OnCalcValue ? OnCalcValue(*FDataSet, Row) : Variant::Null();
    case fkLookup: {
      if (!FLookupDataSet || !FLookupDataSet->Active()) return Variant::Null();
      std::vector<std::string> Keys = SplitFieldNames(FKeyFields);
      std::vector<std::string> LKeys = SplitFieldNames(FLookupKeyFields);
      if (Keys.size() != LKeys.size()) return Variant::Null();
      std::vector<Variant> Vals;
      std::vector<int> Cols;
      const TTableStore* LS = FLookupDataSet->Store();
      for (size_t I = 0; I < Keys.size(); ++I) {
        TField* K = FDataSet->FindField(Keys[I]);
        TField* LK = FLookupDataSet->FindField(LKeys[I]);
        if (!K || !LK || LK->FieldKind() != fkData || LK->FieldNo() < 0) return Variant::Null();
        Variant V = K->ValueAt(Row);
        if (V.IsNullOrEmpty()) return Variant::Null();
        Vals.push_back(V);
        Cols.push_back(LK->FieldNo());
      }
      if (TRecordCursor* C = FLookupDataSet->Cursor()) {
        // A lookup into a dataset over a database asks it, among all its rows.
        const TBookmark Hit = C->LocateRow(LKeys, Vals, 0, TRecordCursor::TScope::AllRows);
        TField* Result = FLookupDataSet->FindField(FLookupResultField);
        return Hit < 0 || !Result ? Variant::Null() : Result->ValueAt(Hit);
      }
      const TBookmark Hit =
          FLookupDataSet->LookupRow(LS->HashIndex(Cols).Find(LS->KeyOfValues(Vals, Cols)));
      if (Hit < 0) return Variant::Null();
      TField* Result = FLookupDataSet->FindField(FLookupResultField);
      return Result ? Result->ValueAt(Hit) : Variant::Null();
    }
  }
  return Variant::Null();
}

Variant TField::Value() const {
  return FDataSet ? ValueAt(FDataSet->CurrentRow()) : Variant::Null();
}

std::string TField::FormatValue(const Variant& V, bool) const {
  if (V.IsNullOrEmpty()) return std::string();
  return V.AsString();
}

std::string TField::AsString() const {
  return FormatValue(Value(), false);
}
int TField::AsInteger() const {
  Variant V = Value();
  return V.IsNullOrEmpty() ? 0 : V.AsInteger();
}
double TField::AsFloat() const {
  Variant V = Value();
  return V.IsNullOrEmpty() ? 0.0 : V.AsDouble();
}
bool TField::AsBoolean() const {
  Variant V = Value();
  return V.IsNullOrEmpty() ? false : V.AsBoolean();
}
TDateTime TField::AsDateTime() const {
  Variant V = Value();
  return V.IsNullOrEmpty() ? TDateTime(0) : V.AsDateTime();
}

std::string TField::DisplayTextAt(TBookmark Row) const {
  std::string Text = FormatValue(ValueAt(Row), true);
  if (OnGetText) OnGetText(const_cast<TField&>(*this), Text, true);
  return Text;
}
std::string TField::DisplayText() const {
  return FDataSet ? DisplayTextAt(FDataSet->CurrentRow()) : std::string();
}
std::string TField::Text() const {
  std::string T = AsString();
  if (OnGetText) OnGetText(const_cast<TField&>(*this), T, false);
  return T;
}

// ---- validation

namespace {

// The constraint as a filter over a field named Field: SQL's "IS [NOT] NULL" becomes "= NULL"
// or "<> NULL", and every name stands for the field. Empty when the value is empty and the
// constraint tests no NULL: as in SQL, comparing nothing is unknown, which a check lets pass.
std::string ConstraintAsFilter(const std::string& Constraint, const std::string& Field,
                               bool EmptyValue) {
  const std::vector<TFilterToken> Tokens = TokenizeFilter(Constraint);
  if (EmptyValue && std::none_of(Tokens.begin(), Tokens.end(), [](const TFilterToken& T) {
        return T.Kind == TFilterTokenKind::Null;
      }))
    return std::string();
  auto IsWord = [&](size_t I, const char* Word) {
    return I < Tokens.size() && Tokens[I].Kind == TFilterTokenKind::Name &&
           AnsiSameText(Tokens[I].Value, Word);
  };
  std::string Out;
  for (size_t I = 0; I < Tokens.size() && Tokens[I].Kind != TFilterTokenKind::End; ++I) {
    if (!Out.empty()) Out += ' ';
    if (IsWord(I, "IS")) {
      const bool Not = I + 1 < Tokens.size() && Tokens[I + 1].Kind == TFilterTokenKind::Not;
      if (Not) ++I;
      Out += Not ? "<>" : "=";
    } else if (Tokens[I].Kind == TFilterTokenKind::Name) {
      Out += "[" + Field + "]";
    } else {
      Out += Tokens[I].Source;
    }
  }
  return Out;
}

}  // namespace

void TField::Validate(const Variant& Value) const {
  const bool Empty = Value.IsNullOrEmpty();
  if (!Trim(FCustomConstraint).empty()) {
    // The value alone, in a one-record dataset, against the constraint as a filter.
    TMemDataSet One;
    One.FieldDefs().Add(FFieldName, FDataType, FSize);
    One.CreateDataSet();
    One.AppendRecord({Value});
    std::unique_ptr<TFilterProgram> Check;
    try {
      const std::string Filter = ConstraintAsFilter(FCustomConstraint, FFieldName, Empty);
      if (!Filter.empty()) Check = TFilterProgram::Compile(Filter, One);
    } catch (const EDatabaseError& E) {
      throw EDatabaseError("La restricción '" + FCustomConstraint + "' del campo '" + FFieldName +
                           "' no es válida: " + E.what());
    }
    if (Check && !Check->Matches(static_cast<uint32_t>(One.CurrentRow()), 0))
      throw EDatabaseError(!FConstraintErrorMessage.empty()
                               ? FConstraintErrorMessage
                               : "El valor del campo '" + FFieldName +
                                     "' no cumple la restricción '" + FCustomConstraint + "'");
  }
  if (Empty) {
    if (FRequired) throw EDatabaseError("El campo '" + FFieldName + "' necesita un valor");
    return;
  }
  const std::string Range = RangeError(Value);
  if (!Range.empty())
    throw EDatabaseError(!FConstraintErrorMessage.empty() && Trim(FCustomConstraint).empty()
                             ? FConstraintErrorMessage
                             : Range);
}

std::string TNumericField::RangeError(const Variant& V) const {
  if (FMinValue == 0 && FMaxValue == 0) return std::string();
  const double D = V.AsDouble();
  if (D >= FMinValue && D <= FMaxValue) return std::string();
  return "El valor " + FloatToStr(D) + " del campo '" + FieldName() +
         "' está fuera del intervalo de " + FloatToStr(FMinValue) + " a " + FloatToStr(FMaxValue);
}

// ---- display

std::string TBooleanField::FormatValue(const Variant& V, bool) const {
  if (V.IsNullOrEmpty()) return std::string();
  return V.AsBoolean() ? "True" : "False";
}

std::string TNumericField::FormatValue(const Variant& V, bool Display) const {
  if (V.IsNullOrEmpty()) return std::string();
  if (Display && !FDisplayFormat.empty()) return FormatFloat(FDisplayFormat, V.AsDouble());
  if (V.IsOrdinal()) return IntToStr(V.AsInt64());
  return FloatToStr(V.AsDouble());
}

std::string TFloatField::FormatValue(const Variant& V, bool Display) const {
  if (Display && !V.IsNullOrEmpty() && DisplayFormat().empty() && FCurrency)
    return CurrToStrF(V.AsDouble());
  return TNumericField::FormatValue(V, Display);
}

std::string TDateTimeField::FormatValue(const Variant& V, bool Display) const {
  if (V.IsNullOrEmpty()) return std::string();
  TDateTime D = V.AsDateTime();
  if (Display && !FDisplayFormat.empty()) return FormatDateTime(FDisplayFormat, D);
  switch (FDataType) {
    case ftDate:
      return DateToStr(D);
    case ftTime:
      return TimeToStr(D);
    default:
      return DateTimeToStr(D);
  }
}

std::unique_ptr<TField> CreateFieldForType(TFieldType T) {
  switch (T) {
    case ftString:
      return std::make_unique<TStringField>();
    case ftSmallint:
      return std::make_unique<TSmallintField>();
    case ftInteger:
      return std::make_unique<TIntegerField>();
    case ftWord:
      return std::make_unique<TWordField>();
    case ftAutoInc:
      return std::make_unique<TAutoIncField>();
    case ftBoolean:
      return std::make_unique<TBooleanField>();
    case ftFloat:
      return std::make_unique<TFloatField>();
    case ftCurrency:
      return std::make_unique<TCurrencyField>();
    case ftBCD:
      return std::make_unique<TBCDField>();
    case ftDate:
      return std::make_unique<TDateField>();
    case ftTime:
      return std::make_unique<TTimeField>();
    case ftDateTime:
      return std::make_unique<TDateTimeField>();
    case ftMemo:
    case ftFmtMemo:
      return std::make_unique<TMemoField>();
    default:
      return std::make_unique<TBlobField>(T);
  }
}

TField* TFieldDef::CreateField(TDataSet* DataSet) const {
  auto F = CreateFieldForType(DataType);
  F->SetFieldName(Name);
  if (DataType == ftString || Size > 0) F->SetSize(Size);
  F->SetRequired(Required);
  return DataSet->AddField(std::move(F));
}

void TFieldDefs::Add(std::string Name, TFieldType T, int Size, bool Required) {
  FItems.emplace_back(std::move(Name), T, Size, Required);
  if (!FIndexStale) FIndex.Add(FItems.back().Name, Count() - 1);
}

int TFieldDefs::IndexOf(std::string_view Name) const {
  if (FIndexStale) {
    FIndex.Clear();
    FIndex.Reserve(FItems.size());
    for (size_t I = 0; I < FItems.size(); ++I) FIndex.Add(FItems[I].Name, static_cast<int>(I));
    FIndexStale = false;
  }
  return FIndex.Find(Name);
}

}  // namespace kv
