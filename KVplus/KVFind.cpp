// The search engine: expression parsing and checking, field and value rewriting for the local
// SQL, the generated filter and SQL texts, search, navigation and export of the result.
#include "KVFind.h"

#include <unistd.h>

#include <cctype>
#include <optional>

#include "Database.h"
#include "Dialogs.h"
#include "KVUtil.h"
#include "ScopeExit.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace {

constexpr auto npos = std::string::npos;

// x without its first and its last character ("" when shorter than two).
std::string Strip(const std::string& X) {
  return X.size() < 2 ? std::string() : X.substr(1, X.size() - 2);
}

// Every Quote in S written twice, as both dialects read a quote inside a constant.
std::string DoubleQuote(const std::string& S, char Quote) {
  std::string R;
  R.reserve(S.size());
  for (char C : S) {
    R += C;
    if (C == Quote) R += C;
  }
  return R;
}

bool StartsWith(const std::string& S, const std::string& P) {
  return S.compare(0, P.size(), P) == 0;
}

// A constant for the dataset filter: a quoted literal with quotes inside gets them doubled;
// anything else is written as it stands.
std::string FilterConstant(const std::string& V) {
  const size_t B = V.find_first_not_of(" \t");
  const size_t E = V.find_last_not_of(" \t");
  if (B == npos || E <= B || V[B] != '\'' || V[E] != '\'') return V;
  const std::string Inner = V.substr(B + 1, E - B - 1);
  if (Inner.find('\'') == npos) return V;
  return V.substr(0, B) + "'" + DoubleQuote(Inner, '\'') + "'" + V.substr(E + 1);
}

bool IsWordChar(char C) {
  const unsigned char U = static_cast<unsigned char>(C);
  return std::isalnum(U) || C == '_' || U >= 0x80;
}

// Position of Keyword in L (lower case) as a whole word outside quoted texts; npos when absent.
size_t FindKeyword(const std::string& L, const std::string& Keyword) {
  char Quote = 0;
  for (size_t I = 0; I < L.size(); ++I) {
    const char C = L[I];
    if (Quote) {
      if (C == Quote) Quote = 0;
      continue;
    }
    if (C == '\'' || C == '"') {
      Quote = C;
      continue;
    }
    if (C == '[') {
      Quote = ']';
      continue;
    }
    if (L.compare(I, Keyword.size(), Keyword) == 0 && (I == 0 || !IsWordChar(L[I - 1])) &&
        (I + Keyword.size() >= L.size() || !IsWordChar(L[I + Keyword.size()])))
      return I;
  }
  return npos;
}

// Count characters of T from 1-based Index; out-of-range parts give nothing.
std::string Part(const std::string& T, long long Index, long long Count) {
  if (Index < 1) Index = 1;
  if (Count <= 0 || Index > static_cast<long long>(T.size())) return std::string();
  return T.substr(static_cast<size_t>(Index - 1), static_cast<size_t>(Count));
}

std::string SqlOperator(const std::string& Op) {
  if (Op == "==" || Op == "><") return " like ";
  return Op;
}

const char* const kSqlDate = "mm\"/\"dd\"/\"yyyy";
const char* const kSqlDateTime = "mm\"/\"dd\"/\"yyyy hh\":\"nn\":\"ss";
const char* const kSqlTime = "hh\":\"nn\":\"ss";

// A number written with a decimal point, as the SQL reads it.
std::string SqlNumber(double V) {
  TFormatSettings FS = FormatSettings();
  FS.DecimalSeparator = '.';
  FS.ThousandSeparator = ',';
  return FloatToStr(V, FS);
}

// The comparison of a field (its long name) with the current value of a master field: equal to
// the value as an SQL constant, or, for an empty value of any type, " IS NULL " as an empty
// constant is written (the detail then shows the records whose link is empty too).
std::string SqlMasterEquals(const std::string& LongName, const TField* F) {
  if (F->IsNull()) return LongName + " IS NULL ";
  const TFieldType T = F->DataType();
  switch (T) {
    case ftDate:
      return LongName + "=\"" + FormatDateTime(kSqlDate, F->AsDateTime()) + "\"";
    case ftTime:
      return LongName + "=\"" + FormatDateTime(kSqlTime, F->AsDateTime()) + "\"";
    case ftDateTime:
      return LongName + "=\"" + FormatDateTime(kSqlDateTime, F->AsDateTime()) + "\"";
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return LongName + "=" + SqlNumber(F->AsFloat());
    case ftString:
      return LongName + "=\"" + DoubleQuote(F->AsString(), '"') + "\"";
    default:
      return LongName + "=" + F->AsString();
  }
}

// Name of the K-th detail key field: the index fields, else the primary key, else the master
// field's own name (the fields the data layer links by).
std::string DetailKeyName(TTable* Detail, int K, const std::string& MasterName) {
  if (K < Detail->IndexFieldCount()) return Detail->IndexFields(K)->FieldName();
  if (const TTableStore* S = Detail->Store(); S && K < static_cast<int>(S->PrimaryKey.size()))
    return S->PrimaryKey[K];
  return MasterName;
}

// Enables a dataset's controls once when the step that disabled them ends, however it ends.
class TControlsGuard {
 public:
  explicit TControlsGuard(TDataSet* DS) : FDataSet(DS) { FDataSet->DisableControls(); }
  ~TControlsGuard() { FDataSet->EnableControls(); }
  TControlsGuard(const TControlsGuard&) = delete;
  TControlsGuard& operator=(const TControlsGuard&) = delete;

 private:
  TDataSet* FDataSet;
};

// Two filter texts that must both hold. Joined with a bare " and " unless one of them holds an
// " or ", which the bare join would bind to its neighbour instead of to the whole text.
std::string Conjoin(const std::string& A, const std::string& B) {
  if (LowerCase(A).find(" or ") == npos && LowerCase(B).find(" or ") == npos)
    return A + " and " + B;
  return "(" + A + ") and (" + B + ")";
}

// Holds Value in Slot, asking to be told when it is destroyed (and no longer about the old one).
template <class T>
void Watch(TComponent* Holder, T*& Slot, T* Value) {
  if (Slot == Value) return;
  if (Slot) Holder->RemoveFreeNotification(Slot);
  Slot = Value;
  if (Value) Value->FreeNotification(Holder);
}

// "Filtro no válido en la posición N (token): What", N counting the characters of the
// expression S from 1 up to byte Offset, as the dataset filter's own messages do.
std::string SplitFault(const std::string& S, size_t Offset, const std::string& Token,
                       const std::string& What) {
  size_t N = 1;
  for (size_t I = 0; I < Offset && I < S.size(); ++I)
    N += (static_cast<unsigned char>(S[I]) & 0xC0) != 0x80;
  return "Filtro no válido en la posición " + std::to_string(N) + " " +
         (Token.empty() ? std::string("(fin del texto)") : "('" + Token + "')") + ": " + What;
}

const char* const kExportMessage = "Ruta o nombre de archivo no válidos (no se permiten acentos)";

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
  const TFilterOptions Options = Value ? 0u : static_cast<TFilterOptions>(foCaseInsensitive);
  if (PDataSet) PDataSet->SetFilterOptions(Options);
  ISQL->SetFilterOptions(Options);
}

void TKVFind::SetFilter(const std::string& Value) {
  PFilter = Value;
  if (Value.empty()) return;
  SeparaDatos(Value);
  // Without a dataset there is nothing to check against yet; the search checks again.
  if (PDataSet && !ValidateFilter()) throw Exception("Filtro no válido");
}

void TKVFind::SetFiltered(bool Value) {
  if (!Value) {
    IActiveDataSet = true;
    if (PDataSource) PDataSource->SetDataSet(PDataSet);
    if (PDataSet) RestoreOwnFilter();
    PResults = PDataSet;
    PFiltered = false;
    return;
  }
  ITablas.clear();
  IUniones.clear();
  FUnionEntries.clear();
  // Views of the searched dataset hear the search as one change, however many steps it takes.
  std::optional<TControlsGuard> Controls;
  if (PDataSet) Controls.emplace(PDataSet);
  // Without MasterSlave a detail table is searched whole; its link comes back afterwards, also
  // when the search raises.
  std::optional<TMasterLinkCut> Cut;
  if (TTable* Detail = PMasterSlave ? nullptr : dynamic_cast<TTable*>(PDataSet))
    Cut.emplace(Detail);
  SetCaseSensitive(PCaseSensitive);
  SetFilter(PFilter);
  BuildSearch();
  if (Cut) Cut->Restore();
  PFiltered = true;
}

// Runs the search as SQL whatever NeedSQL would choose; ForceSQL reads as before afterwards,
// also when the search raises.
void TKVFind::RestoreOwnFilter() {
  // Views hear the whole restore as one change.
  TControlsGuard Controls(PDataSet);
  PDataSet->SetFiltered(false);
  PDataSet->SetFilterOptions(IOriginalFilterOptions);
  PDataSet->SetFilter(IOriginalFilter);
  PDataSet->SetFiltered(IOriginalFiltered);
}

void TKVFind::BuildSearchAsSQL() {
  TScopeExit PutBack([this, Old = PForceSQL] { PForceSQL = Old; });
  PForceSQL = true;
  BuildSearch();
}

void TKVFind::SetOrderBy(const std::string& Value) {
  POrderBy = Value;
  if (!Value.empty() && PDataSet) IOrderBy = GetFieldLongName(Value, PDataSet);
  if (!PDataSet || !PDataSource || Value.empty()) return;
  BuildSearchAsSQL();
}

// ---------------------------------------------------------------- expressions

void TKVFind::SeparaDatos(const std::string& S) {
  IFields->Clear();
  IConditions->Clear();
  IValues->Clear();
  IUnions->Clear();
  IParentesis->Clear();
  IFieldTypes->Clear();
  FValueIsField.clear();
  FFaults.clear();
  if (S.empty()) return;
  static const char* const Operators[] = {"><", "<>", "==", ">=", "<=", "=", "<", ">"};
  // One lower-cased copy and a moving start: copying and lower-casing the rest once per
  // condition made long expressions quadratic.
  const std::string All = Trim(S);
  const std::string Lower = LowerCase(All);  // byte for byte, so positions carry over
  const size_t Lead = S.size() - TrimLeft(S).size();
  size_t Pos = 0;
  size_t AndAt = Lower.find(" and ");
  size_t OrAt = Lower.find(" or ");
  while (Pos < All.size()) {
    if (AndAt != npos && AndAt < Pos) AndAt = Lower.find(" and ", Pos);
    if (OrAt != npos && OrAt < Pos) OrAt = Lower.find(" or ", Pos);
    const size_t Start = Pos;
    std::string Cond;
    if (AndAt == npos && OrAt == npos) {
      Cond = All.substr(Pos);
      Pos = All.size();
    } else if (OrAt == npos || (AndAt != npos && AndAt < OrAt)) {
      Cond = All.substr(Pos, AndAt - Pos);
      Pos = AndAt + 5;
      IUnions->Add(" and ");
    } else {
      Cond = All.substr(Pos, OrAt - Pos);
      Pos = OrAt + 4;
      IUnions->Add(" or ");
    }

    std::string Op;
    size_t At = npos;
    for (const char* Token : Operators) {
      At = Cond.find(Token);
      if (At != npos) {
        Op = Token;
        break;
      }
    }
    std::string FieldPart, ValuePart;
    // Where the condition's own text starts (after its opening parentheses), for the messages.
    const size_t Own = std::min(Cond.find_first_not_of(" ("), Cond.size());
    std::string Fault;
    if (Op.empty()) {
      // Only the first condition may lack an operator: it records empty parts, which the
      // check then refuses; a later one makes the expression unreadable.
      std::string Rest = Cond.substr(Own);
      const size_t Close = Rest.find(')');
      const std::string Name = Trim(Rest.substr(0, Close));
      Fault = Name.empty()
                  ? SplitFault(S, Lead + Start + Own, Rest, "falta la condición")
                  : SplitFault(S, Lead + Start + Own, Name, "falta el operador de comparación");
      if (IFields->Count() > 0) throw Exception(Fault);
    } else {
      FieldPart = Cond.substr(0, At);
      ValuePart = Cond.substr(At + Op.size());
      if (FieldPart.find_first_not_of(" (") == npos)
        Fault = SplitFault(S, Lead + Start + At, Op, "falta el nombre del campo");
    }

    const std::string Opening = Trim(QuitaParentesis(FieldPart));
    std::string Closing;
    // A quoted constant runs to its last quote, so a quote or ")" inside it stays in the value.
    const size_t First = ValuePart.find_first_not_of(' ');
    const size_t Last = ValuePart.rfind('\'');
    if (First != npos && ValuePart[First] == '\'' && Last != npos && Last > First) {
      std::string Tail = ValuePart.substr(Last + 1);
      Closing = Trim(QuitaParentesis(Tail));
      ValuePart = ValuePart.substr(0, Last + 1) + Tail;
    } else {
      Closing = Trim(QuitaParentesis(ValuePart));
    }

    IParentesis->Add(Opening + "/" + Closing);
    IFields->Add(FieldPart);
    IFieldTypes->Add("X");
    IConditions->Add(Op);
    IValues->Add(ValuePart);
    FFaults.push_back(Fault);
  }
}

void TKVFind::RaiseSplitFault() const {
  for (const std::string& F : FFaults)
    if (!F.empty()) throw Exception(F);
}

std::string TKVFind::QuitaParentesis(std::string& S) {
  std::string Result;
  if (S.find('(') != npos) {
    while (!S.empty() && (S[0] == ' ' || S[0] == '(')) {
      Result += S[0];
      S.erase(0, 1);
    }
  }
  const size_t Close = S.find(')');
  if (Close != npos) {
    Result = S.substr(Close);
    S.erase(Close);
  }
  return Result;
}

bool TKVFind::ValidateFilter() {
  const int N = IFields->Count();
  if (N != IConditions->Count() || N != IValues->Count()) return false;
  if (N == 0 || PFilter.empty()) return true;
  if (!PDataSet) return false;
  RaiseSplitFault();
  bool Result = true;
  for (int I = 0; I < N; ++I) {
    const TField* F = PDataSet->FindField((*IFields)[I]);
    if (!F || F->Calculated()) Result = false;
  }
  static const char* const Valid[] = {"=", ">", "<", "==", ">=", "<=", "><", "<>"};
  for (int I = 0; I < N; ++I) {
    bool Known = false;
    for (const char* Op : Valid) Known = Known || (*IConditions)[I] == Op;
    if (!Known) Result = false;
  }
  for (int I = 0; I < N; ++I) {
    const std::string Trimmed = Trim((*IValues)[I]);
    const std::string Text = Strip(Trimmed);
    const TField* F = PDataSet->FieldByName((*IFields)[I]);
    // The empty constant tests for an empty field of any type.
    if (Trimmed == "''") continue;
    bool Ok = true;
    switch (F->DataType()) {
      case ftCurrency:
      case ftFloat: {
        double D;
        Ok = TryStrToFloat(Text, D);
        break;
      }
      case ftInteger:
      case ftSmallint:
      case ftWord: {
        int Code = 0;
        Val(Text, Code);
        Ok = Code == 0;
        break;
      }
      case ftBoolean: {
        const std::string B = LowerCase(Text);
        Ok = B == "true" || B == "false";
        break;
      }
      default:
        break;
    }
    if (!Ok) throw Exception("El valor:" + (*IValues)[I] + " no es de tipo válido");
  }
  // A constant runs whole from its opening to its closing quote: one without its closing quote
  // (or with text after it) would lose a character on one path and not on the other.
  for (int I = 0; I < N; ++I) {
    const std::string V = Trim((*IValues)[I]);
    if (V.find('\'') != npos && (V.size() < 2 || V.front() != '\'' || V.back() != '\''))
      throw Exception("Filtro no válido");
  }
  return Result;
}

// ---------------------------------------------------------------- names and values

std::string TKVFind::ExtractNameOfFile(const std::string& Name) {
  return Name;
}

void TKVFind::AddTabla(const std::string& Name) {
  const std::string Entry = "\"" + Name + "\"";
  if (ITablas.empty()) {
    ITablas = Entry;
    return;
  }
  size_t Start = 0;
  while (Start <= ITablas.size()) {
    size_t End = ITablas.find(',', Start);
    if (End == npos) End = ITablas.size();
    if (AnsiSameText(ITablas.substr(Start, End - Start), Entry)) return;
    Start = End + 1;
  }
  ITablas += "," + Entry;
}

void TKVFind::AddUnion(const std::string& Condition) {
  if (IUniones.empty()) {
    FUnionEntries.assign(1, Condition);
    IUniones = Condition;
    return;
  }
  for (const auto& E : FUnionEntries)
    if (AnsiSameText(E, Condition)) return;
  FUnionEntries.push_back(Condition);
  IUniones += " and " + Condition;
}

std::string TKVFind::GetFieldLongName(const std::string& Name, TDataSet* DataSet) {
  const TField* F = DataSet->FieldByName(Name);
  std::string Result;
  if (TTable* T = dynamic_cast<TTable*>(DataSet))
    Result = "\"" + ExtractNameOfFile(T->TableName()) + "\".\"" + Name + "\"";
  else if (dynamic_cast<TQuery*>(DataSet))
    Result = Name;
  if (!F->Lookup()) return Result;
  const TField* Current = F;
  TTable* LookupTable = nullptr;
  while (Current->Lookup()) {
    if (!Current->LookupDataSet())
      throw Exception("El campo lookup '" + Current->FieldName() + "' no tiene LookupDataSet");
    LookupTable = dynamic_cast<TTable*>(Current->LookupDataSet());
    if (!LookupTable) throw Exception("No se permiten campos lookup a SQL o StoreProc");
    const std::string LT = ExtractNameOfFile(LookupTable->TableName());
    AddTabla(LT);
    AddUnion(Current->KeyFields() + "=\"" + LT + "\".\"" + Current->LookupKeyFields() + "\"");
    const TField* Next = LookupTable->FieldByName(Current->LookupResultField());
    if (Next->Calculated())
      throw Exception("No se permiten campos lookup a campos calculados, campo:" + Name);
    Current = Next;
  }
  return "\"" + ExtractNameOfFile(LookupTable->TableName()) + "\".\"" + Current->FieldName() + "\"";
}

void TKVFind::NombresDeCampos() {
  if (TTable* T = dynamic_cast<TTable*>(PDataSet))
    ITablas = "\"" + ExtractNameOfFile(T->TableName()) + "\"";
  else
    ITablas.clear();
  IUniones.clear();
  FUnionEntries.clear();
  if (IFields->Count() > 0 && !PFilter.empty()) {
    for (int I = 0; I < IFields->Count(); ++I) {
      const TField* F = PDataSet->FindField((*IFields)[I]);
      (*IFieldTypes)[I] = F && F->DataType() == ftString ? "S" : "N";
      (*IFields)[I] = GetFieldLongName((*IFields)[I], PDataSet);
      // A right operand that is a lookup field needs its table and join like a left one.
      if (I < static_cast<int>(FValueIsField.size()) && FValueIsField[I]) {
        const TField* R = PDataSet->FindField((*IValues)[I]);
        if (R && R->Lookup()) (*IValues)[I] = GetFieldLongName((*IValues)[I], PDataSet);
      }
    }
  }
  if (!POrderBy.empty()) IOrderBy = GetFieldLongName(POrderBy, PDataSet);
  if (PMasterSlave) MasterSource();
}

void TKVFind::PrepareData() {
  FValueIsField.assign(IFields->Count(), false);
  if (IFields->Count() == 0 || PFilter.empty()) return;
  for (int I = 0; I < IFields->Count(); ++I) {
    std::string V = (*IValues)[I];
    const TField* F = PDataSet->FieldByName((*IFields)[I]);
    if (V.find('\'') == npos) {
      // A field-to-field comparison.
      PDataSet->FieldByName(V);
      FValueIsField[I] = true;
      continue;
    }
    const TFieldType T = F->DataType();
    const std::string Inner = Strip(V);
    bool Final = false;  // the value is complete: no further quote stripping
    switch (T) {
      case ftString: {
        std::string W = DoubleQuote(Inner, '"');
        const std::string& Op = (*IConditions)[I];
        // In a pattern, % and _ of the text itself stand for themselves.
        const bool Escape = (Op == "==" || Op == "><") && W.find_first_of("%_") != npos;
        if (Escape) {
          std::string E;
          for (char C : W) {
            if (C == '%' || C == '_' || C == '\\') E += '\\';
            E += C;
          }
          W = E;
        }
        if (Op == "==")
          V = "\"" + W + "%\"";
        else if (Op == "><")
          V = "\"%" + W + "%\"";
        else
          V = "\"" + W + "\"";
        if (!PCaseSensitive) V = AnsiLowerCase(V);
        if (Escape) V += " ESCAPE \"\\\"";
        Final = true;
        break;
      }
      case ftTime:
        V = "\"" + DoubleQuote(Inner, '"') + "\"";
        Final = true;
        break;
      case ftDate:
        V = Inner.empty()
                ? std::string()
                : "\"" + FormatDateTime(kSqlDate, StrToDateTime(Inner + " 00:00:00")) + "\"";
        Final = true;
        break;
      case ftDateTime:
        V = Inner.empty() ? std::string()
                          : "\"" + FormatDateTime(kSqlDateTime, StrToDateTime(Inner)) + "\"";
        Final = true;
        break;
      case ftFloat:
      case ftCurrency:
        if (const size_t C = V.find(','); C != npos) V[C] = '.';
        break;
      default:
        break;
    }
    if (!Final && V.find('\'') != npos) V = Strip(V);
    if (!Final && !V.empty()) {
      const bool Checked = T == ftFloat || T == ftCurrency || T == ftInteger || T == ftSmallint ||
                           T == ftWord || T == ftBoolean;
      if (IsNumericType(T) && !Checked) {
        // Numbers the check does not read (counters, BCD) must still be numbers: only a
        // number may stand bare in the statement.
        TFormatSettings FS = FormatSettings();
        FS.DecimalSeparator = '.';
        double D;
        if (!TryStrToFloat(V, D, FS))
          throw Exception("El valor:" + (*IValues)[I] + " no es de tipo válido");
      } else if (!Checked) {
        // Text of other kinds (memos and the like) is a constant, never a name.
        V = "\"" + DoubleQuote(V, '"') + "\"";
      }
    }
    (*IValues)[I] = V;
  }
}

void TKVFind::MasterSource() {
  TTable* Detail = dynamic_cast<TTable*>(PDataSet);
  if (!Detail) return;
  std::vector<std::string> Tables, Conditions;
  while (Detail->MasterSource()) {
    TTable* Master = dynamic_cast<TTable*>(Detail->MasterSource()->DataSet());
    if (!Master) throw Exception("Tabla SQL como maestra no permitida");
    const std::string MasterName = ExtractNameOfFile(Master->TableName());
    const std::string DetailName = ExtractNameOfFile(Detail->TableName());
    Tables.push_back(LowerCase(MasterName));
    std::string M = Trim(LowerCase(Detail->MasterFields()));
    int K = 0;
    do {
      std::string N;
      const size_t Semi = M.find(';');
      if (Semi == npos) {
        N = M;
        M.clear();
      } else {
        N = M.substr(0, Semi);
        M = M.substr(Semi + 1);
      }
      N = Trim(N);
      const TField* Value = Master->FieldByName(N);
      const std::string D = LowerCase(DetailKeyName(Detail, K, N));
      std::string C = SqlMasterEquals("\"" + DetailName + "\".\"" + D + "\"", Value);
      if (Master->MasterSource())
        C += " and " + SqlMasterEquals("\"" + MasterName + "\".\"" + N + "\"", Value);
      Conditions.push_back(C);
      ++K;
    } while (!M.empty());
    Detail = Master;
  }
  if (Tables.size() > 1)
    for (size_t I = 0; I + 1 < Tables.size(); ++I) AddTabla(Tables[I]);
  for (const auto& C : Conditions) AddUnion(C);
}

// ---------------------------------------------------------------- generated texts

std::string TKVFind::FilterText(bool Search) {
  std::string Text;
  for (int I = 0; I < IFields->Count(); ++I) {
    const std::string& Par = (*IParentesis)[I];
    const size_t Slash = Par.find('/');
    Text += Par.substr(0, Slash);
    const std::string& Name = (*IFields)[I];
    Text += Name.find(' ') != npos ? "[" + Name + "]" : Name;
    if (Search && (*IValues)[I] == "''" && PDataSet->FieldByName(Name)->DataType() != ftString)
      (*IValues)[I] = "NULL";
    const std::string& V = (*IValues)[I];
    const std::string& Op = (*IConditions)[I];
    if (Op == "==")
      Text += " = '" + DoubleQuote(Strip(Trim(V)), '\'') + "*'";
    else
      Text += " " + Op + " " + FilterConstant(V);
    if (Slash != npos) Text += Par.substr(Slash + 1);
    if (I < IUnions->Count()) Text += (*IUnions)[I];
  }
  return Text;
}

void TKVFind::Buildfilter() {
  SeparaDatos(PFilter);
  if (IFields->Count() == 0) return;
  const std::string Text = FilterText(true);
  IActiveDataSet = true;
  PDataSet->SetFilter(!IOriginalFilter.empty() && IOriginalFiltered ? Conjoin(IOriginalFilter, Text)
                                                                    : Text);
  PDataSet->SetFiltered(true);
  if (PDataSource) PDataSource->SetDataSet(PDataSet);
}

std::string TKVFind::Buildcondition() {
  SeparaDatos(PCondition);
  if (IFields->Count() == 0) return std::string();
  RaiseSplitFault();
  return FilterText(false);
}

std::string TKVFind::BuildWhereClausule() {
  std::string W;
  for (int I = 0; I < IFields->Count(); ++I) {
    const std::string& Par = (*IParentesis)[I];
    const size_t Slash = Par.find('/');
    W += Par.substr(0, Slash);
    if (!PCaseSensitive && (*IFieldTypes)[I] == "S")
      W += "lower(" + (*IFields)[I] + ")";
    else
      W += (*IFields)[I];
    const std::string& V = (*IValues)[I];
    const std::string& Op = (*IConditions)[I];
    // An empty constant (any type) tests for an empty field.
    if (V.empty() || V == "\"\"" || V == "\"%\"" || V == "\"%%\"")
      W += Op == "<>" ? " IS NOT NULL " : " IS NULL ";
    else
      W += SqlOperator(Op) + V;
    if (Slash != npos) W += Par.substr(Slash + 1);
    if (I < IUnions->Count()) W += (*IUnions)[I];
  }
  return W;
}

std::string TKVFind::TTAbleBuildSQL() {
  NombresDeCampos();
  if (ITablas.empty()) return std::string();
  const std::string W = BuildWhereClausule();
  std::string S = "Select * From " + ITablas;
  if (!W.empty()) S += " Where (" + W + ")";
  if (!IUniones.empty()) S += (W.empty() ? " Where (" : " and (") + IUniones + ")";
  if (!POrderBy.empty()) S += " Order by " + IOrderBy + (PDescendant ? " DESC" : " ASC");
  return S;
}

std::string TKVFind::TQueryBuildSQL() {
  TQuery* Q = dynamic_cast<TQuery*>(PDataSet);
  if (!Q) return std::string();
  const std::string T = Q->SQL().Text();
  const std::string L = LowerCase(T);
  // 1-based positions right after each keyword, as whole words outside quoted texts.
  auto After = [&](const char* Keyword, long long Length) -> long long {
    const size_t At = FindKeyword(L, Keyword);
    return (At == npos ? 0 : static_cast<long long>(At) + 1) + Length;
  };
  const long long a = After("from", 4);
  const long long w = After("where", 5);
  const long long s = After("select", 6);
  const std::string Columns = Part(T, s, a - 5 - s);
  std::string Tables, Cond;
  if (w == 5) {
    Tables = Part(T, a, static_cast<long long>(T.size()));
  } else {
    Tables = Part(T, a, w - 6 - a);
    Cond = Part(T, w, static_cast<long long>(T.size()));
  }

  NombresDeCampos();
  std::string W = BuildWhereClausule();

  std::string Entry;
  size_t Start = 0;
  while (Start <= ITablas.size()) {
    size_t End = ITablas.find(',', Start);
    if (End == npos) End = ITablas.size();
    Entry = ITablas.substr(Start, End - Start);
    if (!Entry.empty() && LowerCase(Tables).find(LowerCase(Entry)) == npos) Tables += "," + Entry;
    Start = End + 1;
  }
  ITablas = Entry;

  // The joins hold for the whole search: an " or " in it must not take them into one branch.
  if (!IUniones.empty()) W = W.empty() ? IUniones : "(" + W + ") and (" + IUniones + ")";
  std::string S = "Select " + Columns + " From " + Tables;
  if (!W.empty() && !Cond.empty())
    S += " Where (" + W + ") and (" + Cond + ")";
  else if (!W.empty())
    S += " Where (" + W + ")";
  else if (!Cond.empty())
    S += " Where (" + Cond + ")";
  if (!POrderBy.empty()) S += " Order by " + IOrderBy + (PDescendant ? " DESC" : " ASC");
  return S;
}

void TKVFind::PrepareSQL() {
  ISQL->ClearFields();
  TFieldDefs& Defs = ISQL->FieldDefs();
  Defs.Assign(PDataSet->FieldDefs());
  for (int I = 0; I < PDataSet->FieldCount(); ++I) {
    TField* F = PDataSet->Fields(I);
    if (F->Lookup() || F->Calculated()) continue;
    const int Index = PDataSet->FieldDefs().IndexOf(F->FieldName());
    if (Index < 0) continue;
    TField* N = Defs.Items(Index).CreateField(ISQL.get());
    auto* FN = dynamic_cast<TNumericField*>(F);
    auto* NN = dynamic_cast<TNumericField*>(N);
    if (FN && NN) NN->SetDisplayFormat(FN->DisplayFormat());
    auto* FF = dynamic_cast<TFloatField*>(F);
    auto* NF = dynamic_cast<TFloatField*>(N);
    if (FF && NF) NF->SetCurrency(FF->Currency());
    if (F->OnGetText) N->OnGetText = F->OnGetText;
    if (F->OnSetText) N->OnSetText = F->OnSetText;
    N->SetDisplayLabel(F->DisplayLabel());
    N->SetVisible(F->Visible());
    N->SetDisplayWidth(F->DisplayWidth());
    N->SetAlignment(F->Alignment());
  }
  for (int I = 0; I < PDataSet->FieldCount(); ++I) {
    TField* F = PDataSet->Fields(I);
    if (!F->Lookup()) continue;
    Defs.Add(F->FieldName(), F->DataType(), F->Size(), F->Required());
    TField* N = Defs.Items(Defs.Count() - 1).CreateField(ISQL.get());
    N->SetVisible(F->Visible());
    N->SetDisplayWidth(F->DisplayWidth());
    N->SetAlignment(F->Alignment());
    N->SetDisplayLabel(F->DisplayLabel());
    N->SetLookupResultField(F->LookupResultField());
    N->SetKeyFields(F->KeyFields());
    N->SetLookupDataSet(F->LookupDataSet());
    N->SetLookupKeyFields(F->LookupKeyFields());
    N->SetLookup(true);
    Defs.Delete(Defs.Count() - 1);
  }
}

// ---------------------------------------------------------------- search

void TKVFind::BuildSearch() {
  if (!PDataSet) throw Exception("No se ha asignado el DataSet de la búsqueda");
  ISQL->Close();
  ISQL->SQL().Clear();
  SeparaDatos(PFilter);
  if (!ValidateFilter()) throw Exception("No valid filter");
  PrepareData();
  if (NeedSQL()) {
    // A filter search run before left its filter on the dataset: the result now lies in ISQL,
    // and the dataset shows its own records again, where Find looks for the chosen one.
    if (PDataSet->Filter() != IOriginalFilter || PDataSet->Filtered() != IOriginalFiltered)
      RestoreOwnFilter();
    IActiveDataSet = false;
    PResults = ISQL.get();
    if (dynamic_cast<TTable*>(PDataSet))
      ISQL->SQL().Add(TTAbleBuildSQL());
    else if (dynamic_cast<TQuery*>(PDataSet))
      ISQL->SQL().Add(TQueryBuildSQL());
    PrepareSQL();
    ISQL->Open();
    if (PDataSource) PDataSource->SetDataSet(ISQL.get());
  } else {
    Buildfilter();
    PResults = PDataSet;
  }
}

bool TKVFind::NeedSQL() {
  bool Result = PForceSQL;
  if (IFields->Count() == 0 || PFilter.empty()) return Result;
  for (int I = 0; I < IFields->Count(); ++I)
    if (PDataSet->FieldByName((*IFields)[I])->Lookup()) Result = true;
  for (int I = 0; I < IFields->Count(); ++I) {
    const std::string& Op = (*IConditions)[I];
    if (Op == "><") Result = true;
    // A prepared "starts with" constant no longer begins with a single quote (an apostrophe
    // inside the text does not count).
    if (Op == "==" && !StartsWith(TrimLeft((*IValues)[I]), "'")) Result = true;
  }
  return Result;
}

bool TKVFind::Navigate(int Direction) {
  if (!PDataSet) return false;
  // Taken for its check: a dataset without fields that identify a record is refused here.
  TPos Pos;
  GetPos(Pos, PDataSet);
  // Views hear the step once, when it ends. New filter options re-read a filtered dataset's rows
  // and put it on its first record: the step starts from the record that was current.
  TControlsGuard Controls(PDataSet);
  const TBookmark Start = PDataSet->GetBookmark();
  SetCaseSensitive(PCaseSensitive);
  if (PDataSet->GetBookmark() != Start && PDataSet->BookmarkValid(Start))
    PDataSet->GotoBookmark(Start);
  const std::string Condition = Buildcondition();
  if (Condition.empty()) return false;

  if (!IActiveDataSet) {
    ISQL->SetFilter(Condition);
    if (Direction == 0) return ISQL->FindFirst();
    return Direction > 0 ? ISQL->FindNext() : ISQL->FindPrior();
  }
  // The condition is looked for among the records the dataset shows (which already satisfy its
  // own filter when it is filtered), without switching its filter: the rows a view shows stay
  // as they are and only the record moves, or stays when nothing matches.
  if (Direction == 0) return PDataSet->FindFirst(Condition);
  return Direction > 0 ? PDataSet->FindNext(Condition) : PDataSet->FindPrior(Condition);
}

bool TKVFind::FindFirst() {
  return Navigate(0);
}
bool TKVFind::FindNext() {
  return Navigate(1);
}
bool TKVFind::FindPrior() {
  return Navigate(-1);
}

// ---------------------------------------------------------------- export

namespace {

// The fields of Source an export writes, in Source's order: those Columns names (whole names
// separated by commas, in double quotes or not, in any letter case), every field when it is
// empty. A name that no field of Source has is an error naming it: nothing is written.
std::vector<TField*> ExportedFields(const TDataSet& Source, const std::string& Columns) {
  std::vector<TField*> Fields;
  std::vector<std::string> Wanted;
  size_t Start = 0;
  while (!Columns.empty() && Start <= Columns.size()) {
    size_t End = Columns.find(',', Start);
    if (End == npos) End = Columns.size();
    std::string Name = Trim(Columns.substr(Start, End - Start));
    if (Name.size() >= 2 && Name.front() == '"' && Name.back() == '"') Name = Strip(Name);
    if (!Name.empty()) Wanted.push_back(Name);
    Start = End + 1;
  }
  std::string Unknown;
  int UnknownCount = 0;
  for (const auto& W : Wanted) {
    if (Source.FindField(W)) continue;
    Unknown += (UnknownCount++ ? ", '" : "'") + W + "'";
  }
  if (UnknownCount == 1)
    throw Exception("No se puede exportar: el resultado no tiene el campo " + Unknown);
  if (UnknownCount > 1)
    throw Exception("No se puede exportar: el resultado no tiene los campos " + Unknown);
  for (int I = 0; I < Source.FieldCount(); ++I) {
    TField* F = Source.Fields(I);
    bool Keep = Wanted.empty();
    for (const auto& W : Wanted) Keep = Keep || AnsiSameText(W, F->FieldName());
    if (Keep) Fields.push_back(F);
  }
  return Fields;
}

}  // namespace

bool TKVFind::ExportResults(const std::string& FileName, const std::string& Columns,
                            bool AllRecords) {
  BuildSearchAsSQL();

  // Every record of the searched dataset (within the current master when MasterSlave is
  // set): the same statement without a search condition, in a query of its own, so the
  // search's result stays in ISQL.
  std::unique_ptr<TQuery> All;
  TDataSet* Source = ISQL.get();
  if (AllRecords) {
    std::string Statement;
    {
      TScopeExit PutBack([this, Saved = PFilter] {
        PFilter = Saved;
        SeparaDatos(PFilter);
      });
      PFilter.clear();
      SeparaDatos(PFilter);
      if (dynamic_cast<TTable*>(PDataSet))
        Statement = TTAbleBuildSQL();
      else if (dynamic_cast<TQuery*>(PDataSet))
        Statement = TQueryBuildSQL();
    }
    All = std::make_unique<TQuery>();
    All->SetDatabaseName(ISQL->DatabaseName());
    All->SQL().Add(Statement);
    // The same layout as the search's result.
    std::swap(All, ISQL);
    {
      TScopeExit SwapBack([&] { std::swap(All, ISQL); });
      PrepareSQL();
    }
    Source = All.get();
  }
  // Only the chosen fields are written, once, straight from the result: no copy with every
  // field first, so fields the user did not choose can neither fail the export nor cost it.
  const std::vector<TField*> Fields = ExportedFields(*Source, Columns);

  bool Result = false;
  try {
    ITableForExport->Close();
    const std::string Target = TargetTablePath(ITableForExport->DatabaseName(), FileName);
    // A target the user may not write to is not replaced behind their back.
    if (access(Target.c_str(), F_OK) == 0 && access(Target.c_str(), W_OK) != 0)
      throw Exception("Error en el archivo '" + Target + "': permiso denegado");
    // The file is written beside the target and takes its name, with its schema or memo file,
    // only when complete.
    ITableForExport->SetTableName(Target);
    Result = ITableForExport->BatchMove(Source, batCopy, Fields) == Source->RecordCount();
  } catch (const std::exception& E) {
    // The box keeps its one text; the cause goes with it for whoever looks at the details.
    Result = false;
    MessageDlg(kExportMessage, mtError, E.what());
  } catch (...) {
    Result = false;
    MessageDlg(kExportMessage, mtError, "error desconocido");
  }
  ITableForExport->Close();
  try {
    ITableForExport->SetTableName(FileName);
  } catch (const Exception&) {
  }
  return Result;
}
