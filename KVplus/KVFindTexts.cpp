// The search engine's names and generated texts: the long names of fields and the SQL forms of
// values worked out into the condition model, the master restriction, and the texts written
// from the model: the dataset filter, the find condition, the SQL condition and the statements
// for a table and for a query (the query's own statement taken apart by the SQL parser).
#include <algorithm>
#include <cctype>
#include <cmath>

#include "KVFind.h"
#include "SqlLexer.h"
#include "SqlParser.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

namespace {

constexpr auto npos = std::string::npos;

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

// Fields whose values are text: searched with the text semantics (patterns, letter case) on
// both paths.
bool IsTextField(const TField* F) {
  const TFieldType T = F->DataType();
  return T == ftString || T == ftMemo || T == ftFmtMemo;
}

// A name the dataset filter reads bare: a word of letters, digits and "_" that is no keyword.
bool IsPlainFilterName(const std::string& Name) {
  if (Name.empty() || (Name[0] >= '0' && Name[0] <= '9')) return false;
  for (char C : Name) {
    const auto U = static_cast<unsigned char>(C);
    if (!(std::isalnum(U) || C == '_' || U >= 0x80)) return false;
  }
  const std::string L = LowerCase(Name);
  return L != "and" && L != "or" && L != "not" && L != "null" && L != "true" && L != "false";
}

// A field name written for the dataset filter: bare, or in brackets; one holding "]" has no way
// in (a search over it runs as SQL).
std::string FilterName(const std::string& Name) {
  if (IsPlainFilterName(Name)) return Name;
  if (Name.find(']') != npos)
    throw Exception("El campo '" + Name + "' no se puede usar en un filtro: su nombre lleva ']'");
  return "[" + Name + "]";
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

// The value of C as the dataset filter of a search reads it: an empty constant compared with a
// field that is not text stands for an empty field (NULL).
std::string FilterValue(const TKVCondition& C, TDataSet* DataSet) {
  if (C.EmptyConstant() && !IsTextField(DataSet->FieldByName(C.Field))) return "NULL";
  return C.Value;
}

// The dataset-filter text of E; Search: as a search applies it (empty constants of non-text
// fields as NULL), else as a find condition.
std::string FilterText(const TKVExpression& E, bool Search, TDataSet* DataSet) {
  std::string Text;
  for (const TKVCondition& C : E.Conditions) {
    Text += C.Opening + FilterName(C.Field);
    const std::string V = Search ? FilterValue(C, DataSet) : C.Value;
    if (C.Operator == "==")
      Text += " = '" + DoubleQuote(C.Constant(), '\'') + "*'";
    else if (C.Quoted() || V == "NULL" || Trim(V).empty() || IsPlainFilterName(Trim(V)))
      Text += " " + C.Operator + " " + FilterConstant(V);
    else
      Text += " " + C.Operator + " " + FilterName(Trim(V));
    Text += C.Closing + C.Connector;
  }
  return Text;
}

// Two filter texts that must both hold. Joined with a bare " and " unless one of them holds an
// " or ", which the bare join would bind to its neighbour instead of to the whole text.
std::string Conjoin(const std::string& A, const std::string& B) {
  if (LowerCase(A).find(" or ") == npos && LowerCase(B).find(" or ") == npos)
    return A + " and " + B;
  return "(" + A + ") and (" + B + ")";
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

// A string constant of the local SQL.
std::string SqlString(const std::string& S) {
  return "\"" + DoubleQuote(S, '"') + "\"";
}

// The qualified name of a table's field in the local SQL.
std::string SqlLongName(const std::string& Table, const std::string& Field) {
  return QuoteSqlName(Table) + "." + QuoteSqlName(Field);
}

// The comparison of a field (its long name) with the current value of a master field: equal to
// the value as an SQL constant, or, for an empty value of any type, " IS NULL " as an empty
// constant is written (the detail then shows the records whose link is empty too).
std::string SqlMasterEquals(const std::string& LongName, const TField* F) {
  if (F->IsNull()) return LongName + " IS NULL ";
  if (IsTextField(F)) return LongName + "=" + SqlString(F->AsString());
  switch (F->DataType()) {
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

// A time constant as the SQL reads it; one the locale cannot read is the conversion's error.
std::string SqlTime(const std::string& Text) {
  const TDateTime T = StrToTime(Text);
  const bool Millis = std::llround(T.Val * 86400000.0) % 1000 != 0;
  return "\"" + FormatDateTime(Millis ? "hh\":\"nn\":\"ss.zzz" : kSqlTime, T) + "\"";
}

// A LIKE pattern of Text: % and _ of the text itself stand for themselves.
std::string LikePattern(const std::string& Text, bool Leading, bool& Escaped) {
  Escaped = Text.find_first_of("%_") != npos;
  std::string P = Leading ? "%" : "";
  for (char C : Text) {
    if (Escaped && (C == '%' || C == '_' || C == '\\')) P += '\\';
    P += C;
  }
  return P + "%";
}

// The text of a span of the query's statement; the last clause keeps the blanks and line breaks
// that end the statement (comments and a ";" after it stay out).
std::string SpanText(const std::string& Sql, const TSqlSpan& Span, size_t From, bool Last) {
  size_t End = Span.End;
  if (Last)
    while (End < Sql.size() && std::isspace(static_cast<unsigned char>(Sql[End]))) ++End;
  return Sql.substr(From, End - From);
}

}  // namespace

// ---------------------------------------------------------------- names

std::string TKVFind::ExtractNameOfFile(const std::string& Name) {
  return Name;
}

void TKVFind::AddTabla(const std::string& Name) {
  for (const auto& T : FTables)
    if (AnsiSameText(T, Name)) return;
  FTables.push_back(Name);
  ITablas += (ITablas.empty() ? "" : ",") + QuoteSqlName(Name);
}

void TKVFind::AddUnion(const std::string& Condition) {
  for (const auto& J : FJoins)
    if (AnsiSameText(J, Condition)) return;
  FJoins.push_back(Condition);
  IUniones += (IUniones.empty() ? "" : " and ") + Condition;
}

std::string TKVFind::GetFieldLongName(const std::string& Name, TDataSet* DataSet) {
  const TField* F = DataSet->FieldByName(Name);
  std::string Result;
  if (TTable* T = dynamic_cast<TTable*>(DataSet))
    Result = SqlLongName(ExtractNameOfFile(T->TableName()), Name);
  else if (dynamic_cast<TQuery*>(DataSet))
    Result = LocalSqlName(Name);
  if (!F->Lookup()) return Result;
  const TField* Current = F;
  TDataSet* Owner = DataSet;
  TTable* LookupTable = nullptr;
  while (Current->Lookup()) {
    if (!Current->LookupDataSet())
      throw Exception("El campo lookup '" + Current->FieldName() + "' no tiene LookupDataSet");
    LookupTable = dynamic_cast<TTable*>(Current->LookupDataSet());
    if (!LookupTable) throw Exception("No se permiten campos lookup a SQL o StoreProc");
    const std::string LT = ExtractNameOfFile(LookupTable->TableName());
    AddTabla(LT);
    // The key stands bare, as people write a join, when its name is a plain word; else it is
    // qualified, since a quoted name alone would be read as a text.
    const std::string& Key = Current->KeyFields();
    const TTable* KeyTable = dynamic_cast<TTable*>(Owner);
    const std::string KeyName = KeyTable && LocalSqlName(Key) != Key
                                    ? SqlLongName(ExtractNameOfFile(KeyTable->TableName()), Key)
                                    : LocalSqlName(Key);
    AddUnion(KeyName + "=" + SqlLongName(LT, Current->LookupKeyFields()));
    const TField* Next = LookupTable->FieldByName(Current->LookupResultField());
    if (Next->Calculated())
      throw Exception("No se permiten campos lookup a campos calculados, campo:" + Name);
    Current = Next;
    Owner = LookupTable;
  }
  return SqlLongName(ExtractNameOfFile(LookupTable->TableName()), Current->FieldName());
}

std::string TKVFind::OperandName(const std::string& Value) {
  const std::string Name = Trim(Value);
  // A plain name of an ordinary field stays as written. A lookup field brings its table and
  // join; any other name is qualified, since a quoted name alone next to a field reads as a text.
  if (!PDataSet->FieldByName(Name)->Lookup() && LocalSqlName(Name) == Name) return Value;
  return GetFieldLongName(Name, PDataSet);
}

void TKVFind::NombresDeCampos() {
  FTables.clear();
  FJoins.clear();
  ITablas.clear();
  IUniones.clear();
  if (TTable* T = dynamic_cast<TTable*>(PDataSet)) AddTabla(ExtractNameOfFile(T->TableName()));
  if (!PFilter.empty()) {
    for (TKVCondition& C : FModel.Conditions) {
      const TField* F = PDataSet->FindField(C.Field);
      C.Type = F && IsTextField(F) ? "S" : "N";
      C.Name = GetFieldLongName(C.Field, PDataSet);
      // A right operand that is a lookup field needs its table and join like a left one.
      if (C.ValueIsField) C.Prepared = OperandName(C.Value);
    }
  }
  if (!POrderBy.empty()) IOrderBy = GetFieldLongName(POrderBy, PDataSet);
  if (PMasterSlave) MasterSource();
  ShowLists();
}

// ---------------------------------------------------------------- values

void TKVFind::PrepareData() {
  for (TKVCondition& C : FModel.Conditions) C.ValueIsField = false;
  if (FModel.Conditions.empty() || PFilter.empty()) return;
  for (TKVCondition& C : FModel.Conditions) {
    const TField* F = PDataSet->FieldByName(C.Field);
    if (!C.Quoted()) {
      // A field-to-field comparison.
      PDataSet->FieldByName(Trim(C.Value));
      C.ValueIsField = true;
      continue;
    }
    const TFieldType T = F->DataType();
    // Blanks after the operator are no part of the constant, on this path as on the filter's.
    const std::string Inner = C.Constant();
    std::string V;
    if (IsTextField(F)) {
      const std::string W = DoubleQuote(Inner, '"');
      bool Escaped = false;
      if (C.Operator == "==" || C.Operator == "><")
        V = "\"" + LikePattern(W, C.Operator == "><", Escaped) + "\"";
      else
        V = "\"" + W + "\"";
      if (!PAccentSensitive)
        V = FoldText(V, !PCaseSensitive);
      else if (!PCaseSensitive)
        V = AnsiLowerCase(V);
      if (Escaped) V += " ESCAPE \"\\\"";
    } else if (T == ftTime) {
      V = Inner.empty() ? std::string() : SqlTime(Trim(Inner));
    } else if (T == ftDate) {
      V = Inner.empty()
              ? std::string()
              : "\"" + FormatDateTime(kSqlDate, StrToDateTime(Inner + " 00:00:00")) + "\"";
    } else if (T == ftDateTime) {
      V = Inner.empty() ? std::string()
                        : "\"" + FormatDateTime(kSqlDateTime, StrToDateTime(Inner)) + "\"";
    } else {
      V = Inner;
      if (T == ftFloat || T == ftCurrency)
        if (const size_t Comma = V.find(','); Comma != npos) V[Comma] = '.';
      const bool Checked = T == ftFloat || T == ftCurrency || T == ftInteger || T == ftSmallint ||
                           T == ftWord || T == ftBoolean;
      if (!V.empty() && IsNumericType(T) && !Checked) {
        // Numbers the check does not read (counters, BCD) must still be numbers: only a
        // number may stand bare in the statement.
        TFormatSettings FS = FormatSettings();
        FS.DecimalSeparator = '.';
        double D;
        const bool Whole = V.find_first_not_of("+-0123456789 ") == npos;
        if (!TryStrToFloat(V, D, FS) || (T == ftAutoInc && !Whole))
          throw Exception("El valor:" + C.Value + " no es de tipo válido");
      } else if (!V.empty() && !Checked) {
        // Values of other kinds (blobs and the like) are constants, never names.
        V = SqlString(V);
      }
    }
    C.Prepared = V;
  }
  ShowLists();
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
    // A ";" that ends the list starts no further name.
    std::vector<std::string> Names = SplitNames(LowerCase(Detail->MasterFields()), ';');
    while (Names.size() > 1 && Names.back().empty()) Names.pop_back();
    int K = 0;
    for (const std::string& N : Names) {
      const TField* Value = Master->FieldByName(N);
      const std::string D = LowerCase(DetailKeyName(Detail, K++, N));
      std::string C = SqlMasterEquals(SqlLongName(DetailName, D), Value);
      if (Master->MasterSource()) C += " and " + SqlMasterEquals(SqlLongName(MasterName, N), Value);
      Conditions.push_back(C);
    }
    Detail = Master;
  }
  for (size_t I = 0; I + 1 < Tables.size(); ++I) AddTabla(Tables[I]);
  for (const auto& C : Conditions) AddUnion(C);
}

// ---------------------------------------------------------------- dataset-filter texts

void TKVFind::Buildfilter() {
  Use(FilterExpression());
  if (FModel.Conditions.empty()) return;
  const std::string Text = FilterText(FModel, true, PDataSet);
  for (TKVCondition& C : FModel.Conditions) C.Prepared = FilterValue(C, PDataSet);
  ShowLists();
  IActiveDataSet = true;
  PDataSet->SetFilter(!IOriginalFilter.empty() && IOriginalFiltered ? Conjoin(IOriginalFilter, Text)
                                                                    : Text);
  PDataSet->SetFiltered(true);
  if (PDataSource) PDataSource->SetDataSet(PDataSet);
}

std::string TKVFind::Buildcondition() {
  SeparaDatos(PCondition);
  if (FModel.Conditions.empty()) return std::string();
  RaiseSplitFault();
  RaiseParenthesesFault();
  return FilterText(FModel, false, PDataSet);
}

// ---------------------------------------------------------------- SQL texts

TKVStatement TKVFind::WhereStatement() const {
  TKVStatement W;
  for (size_t I = 0; I < FModel.Conditions.size(); ++I) {
    const TKVCondition& C = FModel.Conditions[I];
    std::string T = C.Opening;
    std::string Name = C.Name;
    if (C.Type == "S") {
      if (!PCaseSensitive) Name = "lower(" + Name + ")";
      if (!PAccentSensitive) Name = "unaccent(" + Name + ")";
    }
    T += Name;
    // The empty constant tests for an empty field, whatever the operator and the field's type;
    // a constant that is a percent sign is a percent sign.
    if (C.EmptyConstant() || C.Prepared.empty())
      T += C.Operator == "<>" ? " IS NOT NULL " : " IS NULL ";
    else
      T += SqlOperator(C.Operator) + C.Prepared;
    W.AddCondition(T + C.Closing, I);
    W += C.Connector;
  }
  return W;
}

std::string TKVFind::BuildWhereClausule() {
  return WhereStatement().Text;
}

TKVStatement TKVFind::TableStatement() {
  NombresDeCampos();
  if (ITablas.empty()) return {};
  const TKVStatement W = WhereStatement();
  TKVStatement S;
  S += "Select * From " + ITablas;
  if (!W.empty()) {
    S += " Where (";
    S += W;
    S += ")";
  }
  if (!IUniones.empty()) S += (W.empty() ? " Where (" : " and (") + IUniones + ")";
  if (!POrderBy.empty()) S += " Order by " + IOrderBy + (PDescendant ? " DESC" : " ASC");
  return S;
}

std::string TKVFind::TTAbleBuildSQL() {
  return TableStatement().Text;
}

// The query's statement is put together again from its clauses as the SQL parser found them:
// the search's conditions join its WHERE (its HAVING when it groups, where they see what the
// groups show), the lookup tables its FROM, the order chosen goes before its own, and every
// other clause stays where SQL wants it.
TKVStatement TKVFind::QueryStatement() {
  TQuery* Q = dynamic_cast<TQuery*>(PDataSet);
  if (!Q) return {};
  const std::string T = Q->SQL().Text();
  const TSqlStatement Parsed = ParseSql(T);
  if (!Parsed.Select) throw ESQLError("La consulta no es una consulta SELECT");
  const TSqlSelect& Sel = *Parsed.Select;
  NombresDeCampos();
  const TKVStatement Search = WhereStatement();

  // The clauses as written, each from the end of its keyword to its last token.
  const TSqlSpan* LastSpan = &Sel.FromSpan;
  for (const TSqlSpan* Sp : {&Sel.WhereSpan, &Sel.GroupBySpan, &Sel.HavingSpan, &Sel.OrderBySpan})
    if (Sp->Present()) LastSpan = Sp;
  auto Clause = [&](const TSqlSpan& Span, bool WithKeyword = false) {
    TKVStatement C;
    if (!Span.Present()) return C;
    const size_t From = WithKeyword ? Span.Keyword : Span.Begin;
    C.AddSource(SpanText(T, Span, From, &Span == LastSpan), From);
    return C;
  };
  TKVStatement Tables = Clause(Sel.FromSpan);
  for (const std::string& Name : FTables) {
    const bool Listed = std::any_of(Sel.From.begin(), Sel.From.end(), [&](const TSqlTableRef& R) {
      return AnsiSameText(R.Name, Name);
    });
    if (!Listed) Tables += "," + QuoteSqlName(Name);
  }
  // Both must hold; an " or " in either must not take the other into one of its branches.
  auto Both = [](const TKVStatement& A, const TKVStatement& B) {
    if (A.empty() || B.empty()) return A.empty() ? B : A;
    TKVStatement R;
    R += "(";
    R += A;
    R += ") and (";
    R += B;
    R += ")";
    return R;
  };
  TKVStatement Joins;
  Joins += IUniones;
  const bool Grouped = Sel.GroupBySpan.Present() || Sel.HavingSpan.Present();
  const TKVStatement Where = Grouped ? Joins : Both(Search, Joins);
  const TKVStatement Having = Grouped ? Search : TKVStatement();
  // The query's own condition of a clause joins the engine's, each in parentheses.
  auto Condition = [&](const char* Keyword, const TKVStatement& Ours, const TKVStatement& Own) {
    TKVStatement R;
    if (Ours.empty() && Own.empty()) return R;
    R += std::string(" ") + Keyword + " (";
    R += Ours.empty() ? Own : Ours;
    if (!Ours.empty() && !Own.empty()) {
      R += ") and (";
      R += Own;
    }
    R += ")";
    return R;
  };

  TKVStatement S;
  S += "Select ";
  S += Clause(Sel.ListSpan);
  S += " From ";
  S += Tables;
  S += Condition("Where", Where, Clause(Sel.WhereSpan));
  if (Sel.GroupBySpan.Present()) {
    S += " ";
    S += Clause(Sel.GroupBySpan, true);
  }
  S += Condition("Having", Having, Clause(Sel.HavingSpan));
  if (!POrderBy.empty()) {
    S += " Order by " + IOrderBy + (PDescendant ? " DESC" : " ASC");
    if (Sel.OrderBySpan.Present()) S += ",";
    S += Clause(Sel.OrderBySpan);
  } else if (Sel.OrderBySpan.Present()) {
    S += " ";
    S += Clause(Sel.OrderBySpan, true);
  }
  return S;
}

std::string TKVFind::TQueryBuildSQL() {
  return QueryStatement().Text;
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

}  // namespace kv
