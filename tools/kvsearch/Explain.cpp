// kvsearch --explain on PostgreSQL: the plans the server would follow and the indexes it lacks.
#include "Explain.h"

#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "DB.h"
#include "Progress.h"
#include "SqlDialect.h"
#include "SysUtils.h"
#include "Unicode.h"

using namespace kv;

namespace {

// ---- A JSON value, as far as a plan needs one -----------------------------------------------

struct TJson {
  enum class TKind { Null, Bool, Number, String, Array, Object } Kind = TKind::Null;
  double Number = 0;
  std::string Text;
  std::vector<TJson> Items;
  std::vector<std::pair<std::string, TJson>> Members;
  const TJson* Member(std::string_view Name) const {
    for (const auto& [K, V] : Members)
      if (K == Name) return &V;
    return nullptr;
  }
};

class TJsonReader {
 public:
  explicit TJsonReader(std::string_view S) : FS(S) {}
  TJson Document() {
    TJson V = Value(0);
    Blanks();
    if (FI != FS.size()) Fail("texto tras el valor");
    return V;
  }

 private:
  std::string_view FS;
  size_t FI = 0;

  [[noreturn]] void Fail(const char* What) const {
    throw Exception(std::string("Plan del servidor no válido en la posición ") +
                    std::to_string(FI + 1) + ": " + What);
  }
  void Blanks() {
    while (FI < FS.size() && (FS[FI] == ' ' || FS[FI] == '\n' || FS[FI] == '\r' || FS[FI] == '\t'))
      ++FI;
  }
  bool Take(char C) {
    Blanks();
    if (FI < FS.size() && FS[FI] == C) {
      ++FI;
      return true;
    }
    return false;
  }
  bool Word(std::string_view W) {
    if (FS.substr(FI, W.size()) != W) return false;
    FI += W.size();
    return true;
  }
  std::string String() {
    if (!Take('"')) Fail("se esperaba un texto");
    std::string Out;
    while (FI < FS.size() && FS[FI] != '"') {
      char C = FS[FI++];
      if (C != '\\') {
        Out += C;
        continue;
      }
      if (FI >= FS.size()) break;
      C = FS[FI++];
      switch (C) {
        case 'n':
          Out += '\n';
          break;
        case 't':
          Out += '\t';
          break;
        case 'r':
          Out += '\r';
          break;
        case 'b':
          Out += '\b';
          break;
        case 'f':
          Out += '\f';
          break;
        case 'u': {
          if (FI + 4 > FS.size()) Fail("escape \\u incompleto");
          char32_t Cp = 0;
          for (int K = 0; K < 4; ++K) {
            const char H = FS[FI++];
            const int D = H >= '0' && H <= '9'   ? H - '0'
                          : H >= 'a' && H <= 'f' ? H - 'a' + 10
                          : H >= 'A' && H <= 'F' ? H - 'A' + 10
                                                 : -1;
            if (D < 0) Fail("escape \\u no válido");
            Cp = Cp * 16 + static_cast<char32_t>(D);
          }
          // A surrogate pair's halves come as two escapes.
          if (Cp >= 0xD800 && Cp <= 0xDBFF && FS.substr(FI, 2) == "\\u") {
            FI += 2;
            const std::string Low(FS.substr(FI, 4));
            FI += 4;
            const char32_t L = static_cast<char32_t>(std::strtoul(Low.c_str(), nullptr, 16));
            Cp = 0x10000 + ((Cp - 0xD800) << 10) + (L - 0xDC00);
          }
          AppendUtf8(Cp, Out);
          break;
        }
        default:
          Out += C;  // \" \\ \/
      }
    }
    if (!Take('"')) Fail("texto sin cerrar");
    return Out;
  }
  TJson Value(int Depth) {
    if (Depth > 200) Fail("demasiado anidado");
    Blanks();
    if (FI >= FS.size()) Fail("falta un valor");
    TJson V;
    const char C = FS[FI];
    if (C == '{') {
      ++FI;
      V.Kind = TJson::TKind::Object;
      if (Take('}')) return V;
      do {
        std::string K = String();
        if (!Take(':')) Fail("se esperaba ':'");
        V.Members.emplace_back(std::move(K), Value(Depth + 1));
      } while (Take(','));
      if (!Take('}')) Fail("se esperaba '}'");
    } else if (C == '[') {
      ++FI;
      V.Kind = TJson::TKind::Array;
      if (Take(']')) return V;
      do V.Items.push_back(Value(Depth + 1));
      while (Take(','));
      if (!Take(']')) Fail("se esperaba ']'");
    } else if (C == '"') {
      V.Kind = TJson::TKind::String;
      V.Text = String();
    } else if (Word("true") || Word("false")) {
      V.Kind = TJson::TKind::Bool;
      V.Number = FS[FI - 1] == 'e' && FS[FI - 2] == 'u' ? 1 : 0;
    } else if (Word("null")) {
      V.Kind = TJson::TKind::Null;
    } else {
      const std::string Digits(FS.substr(FI, 40));
      char* End = nullptr;
      V.Number = std::strtod(Digits.c_str(), &End);
      if (End == Digits.c_str()) Fail("valor no válido");
      V.Kind = TJson::TKind::Number;
      FI += static_cast<size_t>(End - Digits.c_str());
    }
    return V;
  }
};

TPlanNode NodeOf(const TJson& J) {
  TPlanNode N;
  auto Text = [&](const char* Name) {
    const TJson* M = J.Member(Name);
    return M && M->Kind == TJson::TKind::String ? M->Text : std::string();
  };
  auto Number = [&](const char* Name) {
    const TJson* M = J.Member(Name);
    return M && M->Kind == TJson::TKind::Number ? M->Number : 0.0;
  };
  N.Type = Text("Node Type");
  N.Schema = Text("Schema");
  N.Relation = Text("Relation Name");
  N.Alias = Text("Alias");
  N.Index = Text("Index Name");
  N.Rows = Number("Plan Rows");
  N.Cost = Number("Total Cost");
  N.Unbounded = (N.Type == "Index Scan" || N.Type == "Index Only Scan") && !J.Member("Index Cond");
  if (const TJson* Plans = J.Member("Plans"); Plans && Plans->Kind == TJson::TKind::Array)
    for (const TJson& P : Plans->Items) N.Children.push_back(NodeOf(P));
  return N;
}

// Marks the scans that read every row of their table: a sequential scan, or an index read in
// its order that no condition bounds, unless a limit above it stops it early.
void MarkWholeReads(TPlanNode& N, bool UnderLimit = false) {
  N.ReadsWhole = N.Type == "Seq Scan" || (N.Unbounded && !UnderLimit);
  for (TPlanNode& C : N.Children) MarkWholeReads(C, UnderLimit || N.Type == "Limit");
}

// ---- The statement's tokens ---------------------------------------------------------------

struct TToken {
  enum class TKind { Word, Quoted, String, Param, Number, Open, Close, Dot, Comma, Operator };
  TKind Kind;
  size_t Begin, End;  // in the statement's text
};

// The tokens of a statement as our PostgreSQL dialect writes it (standard strings, quoted names).
std::vector<TToken> Tokens(std::string_view S) {
  using K = TToken::TKind;
  std::vector<TToken> Out;
  auto IsWord = [](char C) {
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '_' ||
           static_cast<unsigned char>(C) >= 0x80;
  };
  for (size_t I = 0; I < S.size();) {
    const char C = S[I];
    const size_t B = I;
    if (C == ' ' || C == '\n' || C == '\t' || C == '\r') {
      ++I;
      continue;
    }
    if (C == '"' || C == '\'') {
      // A quote inside is written twice.
      for (++I; I < S.size(); ++I)
        if (S[I] == C) {
          if (I + 1 < S.size() && S[I + 1] == C)
            ++I;
          else
            break;
        }
      I = I < S.size() ? I + 1 : I;
      Out.push_back({C == '"' ? K::Quoted : K::String, B, I});
    } else if (C == '$' && I + 1 < S.size() && S[I + 1] >= '0' && S[I + 1] <= '9') {
      for (++I; I < S.size() && S[I] >= '0' && S[I] <= '9';) ++I;
      Out.push_back({K::Param, B, I});
    } else if (C >= '0' && C <= '9') {
      while (I < S.size() && (IsWord(S[I]) || S[I] == '.')) ++I;
      Out.push_back({K::Number, B, I});
    } else if (IsWord(C)) {
      while (I < S.size() && IsWord(S[I])) ++I;
      Out.push_back({K::Word, B, I});
    } else if (C == '(' || C == ')' || C == '.' || C == ',') {
      Out.push_back({C == '('   ? K::Open
                     : C == ')' ? K::Close
                     : C == '.' ? K::Dot
                                : K::Comma,
                     B, ++I});
    } else {
      static constexpr std::string_view Ops = "+-*/<>=~!@#%^&|`?:;[]";
      while (I < S.size() && Ops.find(S[I]) != std::string_view::npos) ++I;
      if (I == B) ++I;
      Out.push_back({K::Operator, B, I});
    }
  }
  return Out;
}

// A string constant's text, its quotes undone.
std::string Unquoted(std::string_view T) {
  std::string Out;
  if (T.size() < 2) return Out;
  const char Q = T.front();
  for (size_t I = 1; I + 1 < T.size(); ++I) {
    Out += T[I];
    if (T[I] == Q && T[I + 1] == Q) ++I;
  }
  return Out;
}

// What one operand (tokens [First, Last] of a parenthesized group) names: the one alias its
// qualified columns use, and its text with those columns unqualified. Nothing when it names no
// column, names another table too, or calls NULLIF (a comparison that lets the empty text in).
struct TOperand {
  std::string Alias, Text;
  bool Folded = false;
};

std::optional<TOperand> OperandOf(std::string_view S, const std::vector<TToken>& T, size_t First,
                                  size_t Last) {
  using K = TToken::TKind;
  auto Text = [&](size_t I) { return S.substr(T[I].Begin, T[I].End - T[I].Begin); };
  TOperand Op;
  bool HasColumn = false;
  size_t Copied = T[First].Begin;
  for (size_t I = First; I <= Last; ++I) {
    if (T[I].Kind == K::Word) {
      if (AnsiSameText(std::string(Text(I)), "NULLIF")) return std::nullopt;
      if (AnsiSameText(std::string(Text(I)), "translate")) Op.Folded = true;
    }
    if (T[I].Kind != K::Quoted) continue;
    if (I + 2 <= Last && T[I + 1].Kind == K::Dot && T[I + 2].Kind == K::Quoted) {
      // alias.column: the alias left out.
      const std::string Alias = Unquoted(Text(I));
      if (HasColumn && Alias != Op.Alias) return std::nullopt;
      if (I + 4 <= Last && T[I + 3].Kind == K::Dot) return std::nullopt;  // schema.table.column
      Op.Alias = Alias;
      Op.Text.append(S.substr(Copied, T[I].Begin - Copied));
      Copied = T[I + 2].Begin;
      HasColumn = true;
      I += 2;
    } else if (!(I > First && T[I - 1].Kind == K::Word &&
                 AnsiSameText(std::string(Text(I - 1)), "COLLATE"))) {
      HasColumn = true;  // a column of the one table the statement reads
    }
  }
  if (!HasColumn) return std::nullopt;
  Op.Text.append(S.substr(Copied, T[Last].End - Copied));
  return Op;
}

// The value of a pattern operand: a constant or a parameter given as text.
std::optional<std::string> PatternOf(std::string_view S, const TToken& T,
                                     const std::vector<TSqlParam>& Params) {
  const std::string_view Text = S.substr(T.Begin, T.End - T.Begin);
  if (T.Kind == TToken::TKind::String) return Unquoted(Text);
  if (T.Kind != TToken::TKind::Param) return std::nullopt;
  const size_t N = static_cast<size_t>(std::atoi(std::string(Text.substr(1)).c_str()));
  if (N == 0 || N > Params.size() || !Params[N - 1].Value.IsString()) return std::nullopt;
  return Params[N - 1].Value.AsString();
}

void Walk(const TPlanNode& N, const std::function<void(const TPlanNode&, int)>& F, int Depth = 0) {
  F(N, Depth);
  for (const TPlanNode& C : N.Children) Walk(C, F, Depth + 1);
}

std::string Number(double V) {
  return FormatFloat("0.##", V);
}

// Whether a statement reads rows only (EXPLAIN runs nothing, but it is asked only of those).
bool Reads(std::string_view Sql) {
  const std::string Head = UpperCase(TrimLeft(Sql).substr(0, 5));
  return Head.starts_with("SELEC") || Head.starts_with("WITH");
}

}  // namespace

TPlanNode ParsePlanJson(std::string_view Json) {
  const TJson Doc = TJsonReader(Json).Document();
  // [{"Plan": {...}}]
  if (Doc.Kind != TJson::TKind::Array || Doc.Items.empty())
    throw Exception("Plan del servidor no válido: se esperaba una lista");
  const TJson* Plan = Doc.Items[0].Member("Plan");
  if (!Plan || Plan->Kind != TJson::TKind::Object)
    throw Exception("Plan del servidor no válido: falta \"Plan\"");
  TPlanNode Top = NodeOf(*Plan);
  MarkWholeReads(Top);
  return Top;
}

std::vector<TIndexableCondition> IndexableConditions(std::string_view S,
                                                     const std::vector<TSqlParam>& Params) {
  using K = TToken::TKind;
  const std::vector<TToken> T = Tokens(S);
  auto Is = [&](size_t I, std::string_view W) {
    return I < T.size() && T[I].Kind != K::String && T[I].Kind != K::Quoted &&
           AnsiSameText(std::string(S.substr(T[I].Begin, T[I].End - T[I].Begin)), std::string(W));
  };
  // The opening parenthesis of each closing one.
  std::vector<size_t> OpenOf(T.size(), SIZE_MAX), CloseOf(T.size(), SIZE_MAX), Stack;
  for (size_t I = 0; I < T.size(); ++I) {
    if (T[I].Kind == K::Open) Stack.push_back(I);
    if (T[I].Kind == K::Close && !Stack.empty()) {
      OpenOf[I] = Stack.back();
      CloseOf[Stack.back()] = I;
      Stack.pop_back();
    }
  }
  // The text a folding expression over [First, Last] folds: the operand of its first
  // octet_length((text)), when folding that text gives the expression again.
  auto FoldedText = [&](size_t First, size_t Last, const std::string& Folding) {
    for (size_t I = First; I + 2 <= Last; ++I) {
      if (!Is(I, "octet_length") || T[I + 1].Kind != K::Open || T[I + 2].Kind != K::Open ||
          CloseOf[I + 2] == SIZE_MAX || CloseOf[I + 2] > Last)
        continue;
      const std::optional<TOperand> E = OperandOf(S, T, I + 2, CloseOf[I + 2]);
      if (!E || E->Text.size() < 2) return std::string();
      std::string Text = E->Text.substr(1, E->Text.size() - 2);
      return Folding.find(PortableUnaccent(Text)) == std::string::npos ? std::string() : Text;
    }
    return std::string();
  };
  std::vector<TIndexableCondition> Out;
  // Every text comparison our dialect writes has the form (operand) COLLATE "C" op ...
  for (size_t I = 1; I + 3 < T.size(); ++I) {
    if (!Is(I, "COLLATE") || T[I - 1].Kind != K::Close || OpenOf[I - 1] == SIZE_MAX) continue;
    if (S.substr(T[I + 1].Begin, T[I + 1].End - T[I + 1].Begin) != "\"C\"") continue;
    const size_t Open = OpenOf[I - 1];
    // A function's arguments are no operand of their own.
    if (Open > 0 && T[Open - 1].Kind == K::Word && !Is(Open - 1, "AND") && !Is(Open - 1, "OR") &&
        !Is(Open - 1, "NOT") && !Is(Open - 1, "WHERE") && !Is(Open - 1, "WHEN") &&
        !Is(Open - 1, "THEN") && !Is(Open - 1, "ELSE") && !Is(Open - 1, "ON"))
      continue;
    std::optional<TOperand> Op = OperandOf(S, T, Open, I - 1);
    if (!Op) continue;
    TIndexableCondition C;
    C.Alias = Op->Alias;
    C.Expression = Op->Text;
    if (Op->Folded) {
      // A folding of another shape than ours is too long for an index's own expression.
      C.FoldedArgument = FoldedText(Open, I - 1, Op->Text);
      if (C.FoldedArgument.empty()) continue;
      C.Folded = true;
    }
    const size_t OpAt = I + 2;
    if (Is(OpAt, "LIKE")) {
      const std::optional<std::string> Pattern = PatternOf(S, T[OpAt + 1], Params);
      if (!Pattern || Pattern->empty()) continue;
      C.Kind = Pattern->front() == '%' || Pattern->front() == '_'
                   ? TIndexableCondition::TKind::Contains
                   : TIndexableCondition::TKind::Prefix;
    } else if (T[OpAt].Kind == K::Operator && C.Folded) {
      const std::string_view O = S.substr(T[OpAt].Begin, T[OpAt].End - T[OpAt].Begin);
      if (O != "=" && O != "<" && O != ">" && O != "<=" && O != ">=") continue;
      C.Kind = TIndexableCondition::TKind::Compare;
    } else {
      continue;
    }
    Out.push_back(std::move(C));
  }
  return Out;
}

std::string UnaccentFunctionStatement(const std::string& Schema) {
  return "CREATE OR REPLACE FUNCTION " + Schema + "." + UnaccentFunction +
         "(text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $kv$SELECT " +
         PortableUnaccent("$1") + "$kv$;";
}

std::string IndexStatement(const std::string& Schema, const std::string& Table,
                           const TIndexableCondition& C) {
  const std::string Expr =
      C.Folded ? "(" + Schema + "." + UnaccentFunction + "(" + C.FoldedArgument + "))"
               : C.Expression;
  if (C.Kind == TIndexableCondition::TKind::Contains)
    return "CREATE INDEX ON " + Table + " USING gin (" + Expr + " COLLATE \"C\" gin_trgm_ops);";
  return "CREATE INDEX ON " + Table + " (" + Expr + " COLLATE \"C\");";
}

TServerExplain::TServerExplain(std::shared_ptr<TDbConnection> Conn) : FConn(std::move(Conn)) {
  FConn->SetStatementTrace([this](const std::string& Sql, const std::vector<TSqlParam>& Params) {
    for (const TSent& S : FSent)
      if (S.Sql == Sql) return;
    FSent.push_back({Sql, Params});
  });
}

TServerExplain::~TServerExplain() {
  FConn->SetStatementTrace(nullptr);
}

TPlanNode TServerExplain::Explain(const TSent& S) {
  TDbRows R;
  FConn->Query("EXPLAIN (VERBOSE, FORMAT JSON) " + S.Sql, S.Params, R, "Consultando el plan");
  if (R.RowCount() != 1 || R.ColumnCount() != 1)
    throw Exception("El servidor no ha dado el plan de la sentencia");
  return ParsePlanJson(R.At(0, 0).Text);
}

double TServerExplain::TableRows(const std::string& Table) {
  TDbRows R;
  FConn->Query("EXPLAIN (FORMAT JSON) SELECT * FROM " + Table, {}, R, "Consultando el plan");
  if (R.RowCount() != 1 || R.ColumnCount() != 1) return 0;
  return ParsePlanJson(R.At(0, 0).Text).Rows;
}

void TServerExplain::Write(std::ostream& Out) {
  // The plans are asked for after the statements ran, and are no statements of the search.
  const std::vector<TSent> Sent = FSent;
  FConn->SetStatementTrace(nullptr);
  const TSqlDialect& Q = FConn->Dialect();
  std::vector<std::string> Hints;
  std::ostringstream Advice;             // the indexes missing, after every plan
  std::map<std::string, double> RowsOf;  // the tables' estimated rows, asked once
  for (const TSent& S : Sent) {
    if (!Reads(S.Sql)) continue;
    Out << "servidor: " << S.Sql << '\n';
    TPlanNode Plan;
    try {
      Plan = Explain(S);
    } catch (const EAborted&) {
      throw;
    } catch (const std::exception& E) {
      // The search itself ran: a plan the server will not give (a permission, a statement
      // EXPLAIN does not take) is told and the results are shown all the same.
      Out << "plan: no disponible (" << E.what() << ")\n";
      continue;
    }
    // Where each alias is read whole: the schema and the table it names.
    std::map<std::string, std::pair<std::string, std::string>> ReadWhole;
    Walk(Plan, [&](const TPlanNode& N, int Depth) {
      Out << "plan: " << std::string(static_cast<size_t>(Depth) * 2, ' ') << N.Type;
      if (!N.Relation.empty()) {
        Out << " sobre " << (N.Schema.empty() ? "" : N.Schema + ".") << N.Relation;
        if (!N.Alias.empty() && N.Alias != N.Relation) Out << " (" << N.Alias << ")";
      }
      if (!N.Index.empty()) Out << " con el índice " << N.Index;
      Out << ": filas estimadas " << Number(N.Rows) << ", coste " << Number(N.Cost) << '\n';
      if (N.ReadsWhole && !N.Relation.empty())
        ReadWhole[N.Alias] = {Q.QuoteName(N.Schema.empty() ? "public" : N.Schema),
                              Q.QuoteName(N.Relation)};
    });
    for (const TIndexableCondition& C : IndexableConditions(S.Sql, S.Params)) {
      auto Whole = ReadWhole.find(C.Alias);
      if (Whole == ReadWhole.end() && C.Alias.empty() && ReadWhole.size() == 1)
        Whole = ReadWhole.begin();  // the statement reads one table, its names unqualified
      if (Whole == ReadWhole.end()) continue;
      const auto& [Schema, Name] = Whole->second;
      const std::string Table = Schema + "." + Name;
      auto Rows = RowsOf.find(Table);
      if (Rows == RowsOf.end()) Rows = RowsOf.emplace(Table, TableRows(Table)).first;
      if (Rows->second <= LargeTableRows) continue;
      const std::string Index = IndexStatement(Schema, Table, C);
      bool Known = false;
      for (const std::string& H : Hints) Known = Known || H == Index;
      if (Known) continue;
      Hints.push_back(Index);
      const bool Trigrams = C.Kind == TIndexableCondition::TKind::Contains;
      Advice << "índice: la búsqueda lee entera la tabla " << Table << " (" << Number(Rows->second)
             << " filas estimadas) por falta de un índice"
             << (C.Folded ? " sobre el texto sin acentos" : "") << "; la serviría"
             << (Trigrams && C.Folded ? " (con la extensión pg_trgm y la función " +
                                            std::string(UnaccentFunction) + ")"
                 : Trigrams ? " (con la extensión pg_trgm)"
                 : C.Folded ? " (con la función " + std::string(UnaccentFunction) + ")"
                            : std::string())
             << ":\n";
      if (Trigrams) Advice << "índice:   CREATE EXTENSION IF NOT EXISTS pg_trgm;\n";
      if (C.Folded) Advice << "índice:   " << UnaccentFunctionStatement(Schema) << '\n';
      Advice << "índice:   " << Index << '\n';
    }
  }
  Out << Advice.str();
}
