// The search engine's expressions: reading an expression once into the condition model, the
// six per-condition lists shown from it, and the check of an expression against the searched
// dataset.
#include <cassert>
#include <charconv>
#include <cstdint>

#include "KVFind.h"
#include "SysUtils.h"

namespace kv {

namespace {

constexpr auto npos = std::string::npos;

// The operators, in the order the split tries them: a longer token before its prefix.
const char* const kOperators[] = {"><", "<>", "==", ">=", "<=", "=", "<", ">"};

// A whole decimal number (blanks around it allowed) in the 32-bit range: the one way both search
// paths read an integer constant ("0x10" and "$10" are no numbers here).
bool IsWholeNumber(const std::string& Text) {
  const std::string T = Trim(Text);
  const char* B = T.data();
  const char* E = B + T.size();
  if (B != E && *B == '+') ++B;
  if (B == E || !((*B >= '0' && *B <= '9') || *B == '-')) return false;
  int64_t V = 0;
  const auto [Ptr, Ec] = std::from_chars(B, E, V);
  return Ec == std::errc() && Ptr == E && V >= INT32_MIN && V <= INT32_MAX;
}

}  // namespace

// ---------------------------------------------------------------- the model

bool TKVCondition::Quoted() const {
  return Value.find('\'') != npos;
}

bool TKVCondition::EmptyConstant() const {
  return Trim(Value) == "''";
}

std::string TKVCondition::Constant() const {
  const std::string T = Trim(Value);
  return T.size() < 2 ? std::string() : T.substr(1, T.size() - 2);
}

void TKVCondition::Reset() {
  Name = Field;
  Prepared = Value;
  Type = "X";
  ValueIsField = false;
}

std::string TakeParentheses(std::string& S) {
  std::string Result;
  if (S.find('(') != npos) {
    size_t N = 0;
    while (N < S.size() && (S[N] == ' ' || S[N] == '(')) ++N;
    Result = S.substr(0, N);
    S.erase(0, N);
  }
  const size_t Close = S.find(')');
  if (Close != npos) {
    Result = S.substr(Close);
    S.erase(Close);
  }
  return Result;
}

std::string ExpressionFault(const std::string& S, size_t Offset, const std::string& Token,
                            const std::string& What) {
  size_t N = 1;
  for (size_t I = 0; I < Offset && I < S.size(); ++I)
    N += (static_cast<unsigned char>(S[I]) & 0xC0) != 0x80;
  return "Filtro no válido en la posición " + std::to_string(N) + " " +
         (Token.empty() ? std::string("(fin del texto)") : "('" + Token + "')") + ": " + What;
}

TKVExpression ReadExpression(const std::string& S) {
  TKVExpression E;
  E.Text = S;
  if (S.empty()) return E;
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
    TKVCondition C;
    std::string Cond;
    if (AndAt == npos && OrAt == npos) {
      Cond = All.substr(Pos);
      Pos = All.size();
    } else if (OrAt == npos || (AndAt != npos && AndAt < OrAt)) {
      Cond = All.substr(Pos, AndAt - Pos);
      Pos = AndAt + 5;
      C.Connector = " and ";
    } else {
      Cond = All.substr(Pos, OrAt - Pos);
      Pos = OrAt + 4;
      C.Connector = " or ";
    }

    size_t At = npos;
    for (const char* Token : kOperators) {
      At = Cond.find(Token);
      if (At != npos) {
        C.Operator = Token;
        break;
      }
    }
    std::string FieldPart, ValuePart;
    // Where the condition's own text starts (after its opening parentheses), for the messages.
    const size_t Own = std::min(Cond.find_first_not_of(" ("), Cond.size());
    C.Offset = Lead + Start + Own;
    if (C.Operator.empty()) {
      // Only the first condition may lack an operator: it records empty parts, which the
      // check then refuses; a later one makes the expression unreadable.
      const std::string Rest = Cond.substr(Own);
      const std::string Name = Trim(Rest.substr(0, Rest.find(')')));
      C.Fault = Name.empty()
                    ? ExpressionFault(S, C.Offset, Rest, "falta la condición")
                    : ExpressionFault(S, C.Offset, Name, "falta el operador de comparación");
      if (!E.Conditions.empty()) throw Exception(C.Fault);
    } else {
      FieldPart = Cond.substr(0, At);
      ValuePart = Cond.substr(At + C.Operator.size());
      if (FieldPart.find_first_not_of(" (") == npos)
        C.Fault = ExpressionFault(S, Lead + Start + At, C.Operator, "falta el nombre del campo");
    }

    const size_t FieldAt = FieldPart.find_first_not_of(' ');
    C.Opening = Trim(TakeParentheses(FieldPart));
    if (!C.Opening.empty()) C.OpeningAt = Lead + Start + Cond.find(C.Opening[0], FieldAt);
    // A quoted constant runs to its last quote, so a quote or ")" inside it stays in the value.
    const size_t ValueAt = Lead + Start + At + C.Operator.size();
    const size_t First = ValuePart.find_first_not_of(' ');
    const size_t Last = ValuePart.rfind('\'');
    if (First != npos && ValuePart[First] == '\'' && Last != npos && Last > First) {
      std::string Tail = ValuePart.substr(Last + 1);
      C.ClosingAt = ValueAt + Last + 1 + Tail.find(')');
      C.Closing = Trim(TakeParentheses(Tail));
      ValuePart = ValuePart.substr(0, Last + 1) + Tail;
    } else {
      C.ClosingAt = ValueAt + ValuePart.find(')');
      C.Closing = Trim(TakeParentheses(ValuePart));
    }
    C.Field = std::move(FieldPart);
    C.Value = std::move(ValuePart);
    C.Reset();
    E.Conditions.push_back(std::move(C));
  }
  return E;
}

// ---------------------------------------------------------------- statements

TKVStatement& TKVStatement::operator+=(const std::string& S) {
  Text += S;
  return *this;
}

TKVStatement& TKVStatement::operator+=(const TKVStatement& S) {
  const size_t Shift = Text.size();
  Text += S.Text;
  for (TPart P : S.Parts) {
    P.Begin += Shift;
    P.End += Shift;
    Parts.push_back(P);
  }
  return *this;
}

void TKVStatement::AddCondition(const std::string& S, size_t Condition) {
  Parts.push_back({Text.size(), Text.size() + S.size(), Condition, kNone});
  Text += S;
}

void TKVStatement::AddSource(const std::string& S, size_t SourceOffset) {
  Parts.push_back({Text.size(), Text.size() + S.size(), kNone, SourceOffset});
  Text += S;
}

const TKVStatement::TPart* TKVStatement::PartAt(size_t Offset) const {
  for (const TPart& P : Parts)
    if (Offset >= P.Begin && Offset < P.End) return &P;
  return nullptr;
}

// ---------------------------------------------------------------- the lists

void TKVFind::ShowLists() {
  IFields->Clear();
  IConditions->Clear();
  IValues->Clear();
  IUnions->Clear();
  IParentesis->Clear();
  IFieldTypes->Clear();
  for (const TKVCondition& C : FModel.Conditions) {
    IFields->Add(C.Name);
    IConditions->Add(C.Operator);
    IValues->Add(C.Prepared);
    IParentesis->Add(C.Opening + "/" + C.Closing);
    IFieldTypes->Add(C.Type);
    if (!C.Connector.empty()) IUnions->Add(C.Connector);
  }
}

void TKVFind::Use(const TKVExpression& E) {
  FModel = E;
  ShowLists();
}

const TKVExpression& TKVFind::FilterExpression() {
  if (!FFilterRead || FFilterRead->Text != PFilter) {
    FFilterRead.reset();
    FFilterRead = ReadExpression(PFilter);
  }
  return *FFilterRead;
}

void TKVFind::SeparaDatos(const std::string& S) {
  FModel = TKVExpression();
  ShowLists();
  Use(S == PFilter ? FilterExpression() : ReadExpression(S));
}

std::string TKVFind::QuitaParentesis(std::string& S) {
  return TakeParentheses(S);
}

void TKVFind::RaiseSplitFault() const {
  for (const TKVCondition& C : FModel.Conditions)
    if (!C.Fault.empty()) throw Exception(C.Fault);
}

// The parentheses close in the order they open, and only blanks follow those that close a
// condition: otherwise the texts written from the expression would be refused at a place in
// them, which the user never saw.
void TKVFind::RaiseParenthesesFault() const {
  const std::string& S = FModel.Text;
  std::vector<size_t> Open;  // where each parenthesis still open stands
  for (const TKVCondition& C : FModel.Conditions) {
    for (size_t K = 0; K < C.Opening.size(); ++K) {
      if (C.Opening[K] == '(') Open.push_back(C.OpeningAt + K);
      if (C.Opening[K] == ')')
        throw Exception(ExpressionFault(S, C.OpeningAt + K, ")", "paréntesis de cierre sin abrir"));
    }
    for (size_t K = 0; K < C.Closing.size(); ++K) {
      if (C.Closing[K] == ' ') continue;
      if (C.Closing[K] != ')')
        throw Exception(ExpressionFault(S, C.ClosingAt + K, C.Closing.substr(K),
                                        "texto de más tras el paréntesis"));
      if (Open.empty())
        throw Exception(ExpressionFault(S, C.ClosingAt + K, ")", "paréntesis de cierre sin abrir"));
      Open.pop_back();
    }
  }
  if (!Open.empty())
    throw Exception(ExpressionFault(S, Open.back(), "(", "falta el paréntesis de cierre"));
}

// ---------------------------------------------------------------- the check

bool TKVFind::ValidateFilter() {
  const auto& Conditions = FModel.Conditions;
  if (Conditions.empty() || PFilter.empty()) return true;
  if (!PDataSet) return false;
  RaiseSplitFault();
  bool Result = true;
  for (const TKVCondition& C : Conditions) {
    const TField* F = PDataSet->FindField(C.Field);
    if (!F || F->Calculated()) Result = false;
    // The split only ever finds one of the eight tokens; a condition without one has a fault.
    assert(!C.Operator.empty());
  }
  for (const TKVCondition& C : Conditions) {
    const TField* F = PDataSet->FieldByName(C.Field);
    if (C.EmptyConstant()) continue;  // an empty field, of any type
    const std::string Text = C.Constant();
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
      case ftWord:
        Ok = IsWholeNumber(Text);
        break;
      case ftBoolean: {
        const std::string B = LowerCase(Text);
        Ok = B == "true" || B == "false";
        break;
      }
      default:
        break;
    }
    if (!Ok) throw Exception("El valor:" + C.Value + " no es de tipo válido");
  }
  // A constant runs whole from its opening to its closing quote: one without its closing quote
  // (or with text after it) would lose a character on one path and not on the other.
  for (const TKVCondition& C : Conditions) {
    const std::string V = Trim(C.Value);
    if (C.Quoted() && (V.size() < 2 || V.front() != '\'' || V.back() != '\''))
      throw Exception("Filtro no válido");
  }
  RaiseParenthesesFault();
  return Result;
}

}  // namespace kv
