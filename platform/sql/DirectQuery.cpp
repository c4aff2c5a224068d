// Direct evaluation of the search statements over a table store. The statement the translator
// wrote is parsed back into its tree; each condition becomes one step of a column program whose
// steps fill a truth vector over every row (false, true or unknown, as SQL's Null logic has it),
// combined by NOT, AND and OR. No step allocates per row: a text search runs memmem over the
// column's whole text and maps each hit to its row.
#include "DirectQuery.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "SqlParser.h"
#include "Unicode.h"

namespace {

// The three truth values of a condition on one row.
constexpr uint8_t kFalse = 0, kTrue = 1, kUnknown = 2;

enum class TCmp { Eq, Ne, Lt, Gt, Le, Ge };

struct TStep {
  enum class TKind { And, Or, Not, Compare, Like, IsNull, Unknown } Kind = TKind::Unknown;
  int A = -1, B = -1;  // operands of And, Or, Not (indexes of steps)
  const TColumn* Col = nullptr;
  TCmp Op = TCmp::Eq;
  bool Not = false;  // NOT LIKE, IS NOT NULL
  // A number constant: as an integer when written as one, else as a double.
  bool IsInt = false;
  int64_t Int = 0;
  double Num = 0;
  std::string Text;  // a text constant, or a LIKE pattern's literal
  bool Lead = false, Trail = false;
};

bool TestOrder(TCmp Op, int D) {
  switch (Op) {
    case TCmp::Eq:
      return D == 0;
    case TCmp::Ne:
      return D != 0;
    case TCmp::Lt:
      return D < 0;
    case TCmp::Gt:
      return D > 0;
    case TCmp::Le:
      return D <= 0;
    case TCmp::Ge:
      return D >= 0;
  }
  return false;
}

bool ReadCmp(const std::string& Op, TCmp& Out) {
  static const std::pair<const char*, TCmp> Ops[] = {{"=", TCmp::Eq},  {"<>", TCmp::Ne},
                                                     {"<", TCmp::Lt},  {">", TCmp::Gt},
                                                     {"<=", TCmp::Le}, {">=", TCmp::Ge}};
  for (const auto& [S, C] : Ops)
    if (Op == S) {
      Out = C;
      return true;
    }
  return false;
}

// Compiles the tree of a translated WHERE into steps; false when some part is outside the
// family, for SQLite to run the statement.
class TCompiler {
 public:
  TCompiler(const TTableStore& S, std::vector<TStep>& Steps) : FStore(S), FSteps(Steps) {}

  int Compile(const TSqlExpr& E) {
    if (E.Height > 200) return -1;
    switch (E.Kind) {
      case TSqlExprKind::Binary:
        if (E.Op == "AND" || E.Op == "OR") {
          const int A = Compile(*E.Args[0]);
          const int B = A < 0 ? -1 : Compile(*E.Args[1]);
          if (B < 0) return -1;
          TStep S;
          S.Kind = E.Op == "AND" ? TStep::TKind::And : TStep::TKind::Or;
          S.A = A;
          S.B = B;
          return Add(std::move(S));
        }
        if (E.Op == "LIKE") return Like(E);
        return Compare(E);
      case TSqlExprKind::Unary: {
        if (E.Op != "NOT") return -1;
        const int A = Compile(*E.Args[0]);
        if (A < 0) return -1;
        TStep S;
        S.Kind = TStep::TKind::Not;
        S.A = A;
        return Add(std::move(S));
      }
      case TSqlExprKind::IsNull: {
        TStep S;
        S.Kind = TStep::TKind::IsNull;
        S.Not = E.Not;
        bool Lowered;
        if (!Operand(*E.Args[0], S.Col, Lowered)) return -1;
        return Add(std::move(S));
      }
      default:
        return -1;
    }
  }

 private:
  const TTableStore& FStore;
  std::vector<TStep>& FSteps;

  int Add(TStep S) {
    FSteps.push_back(std::move(S));
    return static_cast<int>(FSteps.size() - 1);
  }

  // A column of the one table ("t1"."Name"), or lower() of a text column: the column whose
  // values the condition reads (the store's lowered copy for lower()).
  bool Operand(const TSqlExpr& E, const TColumn*& Col, bool& Lowered) {
    Lowered = false;
    const TSqlExpr* C = &E;
    if (E.Kind == TSqlExprKind::Function) {
      if (E.Op != "LOWER" || E.Args.size() != 1 || E.Star || E.Distinct) return false;
      C = E.Args[0].get();
      Lowered = true;
    }
    if (C->Kind != TSqlExprKind::Column || C->Qualifier != SqlTableName(0)) return false;
    int Index = -1;
    for (size_t I = 0; I < FStore.Defs.size(); ++I)
      if (FStore.Defs[I].Name == C->Text) Index = static_cast<int>(I);
    if (Index < 0 || static_cast<size_t>(Index) >= FStore.Columns.size()) return false;
    const TColumn& Column = FStore.Columns[Index];
    if (Lowered) {
      if (Column.Kind() != TStorageKind::String) return false;
      Col = &FStore.LoweredColumn(Index);
    } else {
      Col = &Column;
    }
    return true;
  }

  // A number as SQLite reads the constant: an integer when written without a point or an
  // exponent, a double otherwise. False for what does not read exactly.
  static bool Number(const TSqlExpr& E, TStep& S) {
    bool Negative = false;
    const TSqlExpr* N = &E;
    if (E.Kind == TSqlExprKind::Unary && E.Op == "-" && E.Args[0]->Kind == TSqlExprKind::Number) {
      Negative = true;
      N = E.Args[0].get();
    }
    if (N->Kind != TSqlExprKind::Number) return false;
    const std::string& T = N->Text;
    const char* B = T.data();
    const char* End = T.data() + T.size();
    if (T.find_first_of(".eE") == std::string::npos) {
      auto [P, Ec] = std::from_chars(B, End, S.Int);
      // Beyond 2^53 a double comparison with the column's values would not be exact.
      if (Ec != std::errc() || P != End || S.Int > (int64_t(1) << 53)) return false;
      if (Negative) S.Int = -S.Int;
      S.IsInt = true;
      S.Num = static_cast<double>(S.Int);
      return true;
    }
    auto [P, Ec] = std::from_chars(B, End, S.Num);
    if (Ec != std::errc() || P != End || !std::isfinite(S.Num)) return false;
    if (Negative) S.Num = -S.Num;
    return true;
  }

  int Compare(const TSqlExpr& E) {
    TStep S;
    if (!ReadCmp(E.Op, S.Op) || E.Args.size() != 2) return -1;
    bool Lowered;
    if (!Operand(*E.Args[0], S.Col, Lowered)) return -1;
    const TSqlExpr& R = *E.Args[1];
    if (R.Kind == TSqlExprKind::Null) {
      S.Kind = TStep::TKind::Unknown;  // a comparison with Null is never true nor false
      return Add(std::move(S));
    }
    S.Kind = TStep::TKind::Compare;
    if (S.Col->Kind() == TStorageKind::String) {
      if (R.Kind != TSqlExprKind::String) return -1;
      S.Text = R.Text;
    } else if (!Number(R, S)) {
      return -1;
    }
    return Add(std::move(S));
  }

  int Like(const TSqlExpr& E) {
    if (E.Args.size() != 2) return -1;  // an ESCAPE goes to SQLite
    TStep S;
    S.Kind = TStep::TKind::Like;
    S.Not = E.Not;
    bool Lowered;
    if (!Operand(*E.Args[0], S.Col, Lowered) || S.Col->Kind() != TStorageKind::String) return -1;
    const TSqlExpr& R = *E.Args[1];
    if (R.Kind == TSqlExprKind::Null) {
      S.Kind = TStep::TKind::Unknown;
      return Add(std::move(S));
    }
    if (R.Kind != TSqlExprKind::String) return -1;
    // Literal text with '%' only at its ends, tested on the bytes as the SQL like does.
    std::string_view P = R.Text;
    S.Lead = !P.empty() && P.front() == '%';
    if (S.Lead) P.remove_prefix(1);
    S.Trail = !P.empty() && P.back() == '%';
    if (S.Trail) P.remove_suffix(1);
    if (P.find_first_of("%_") != std::string_view::npos || !IsValidUtf8(P)) return -1;
    S.Text = P;
    return Add(std::move(S));
  }
};

// Every row that a text of Col contains Needle marks true in Out (its other non-Null rows false).
void ContainsScan(const TColumn& Col, std::string_view Needle, std::vector<uint8_t>& Out) {
  const std::string_view Arena = Col.TextArena();
  const uint32_t* Off = Col.TextOffsets();
  const size_t N = Col.Size();
  const uint32_t* End = Off + N + 1;
  size_t From = 0;
  const uint32_t* Row = Off;  // the row searched from: Off[R] <= From
  while (From + Needle.size() <= Arena.size()) {
    const void* Hit =
        memmem(Arena.data() + From, Arena.size() - From, Needle.data(), Needle.size());
    if (!Hit) break;
    const auto At = static_cast<uint32_t>(static_cast<const char*>(Hit) - Arena.data());
    // The row holding the hit: the last one that starts at or before it.
    Row = std::upper_bound(Row, End, At) - 1;
    const size_t R = static_cast<size_t>(Row - Off);
    if (At + Needle.size() <= Row[1]) {
      Out[R] = kTrue;
      From = Row[1];  // the rest of this row no longer matters
    } else {
      From = At + 1;  // the hit runs into the next row: look again further on
    }
  }
}

class TProgram {
 public:
  TProgram(std::vector<TStep> Steps, size_t Rows) : FSteps(std::move(Steps)), FRows(Rows) {}

  void Run(int Step, std::vector<uint8_t>& Out) const {
    const TStep& S = FSteps[Step];
    Out.assign(FRows, kFalse);
    switch (S.Kind) {
      case TStep::TKind::And:
      case TStep::TKind::Or: {
        Run(S.A, Out);
        std::vector<uint8_t> Other;
        Run(S.B, Other);
        const bool And = S.Kind == TStep::TKind::And;
        for (size_t R = 0; R < FRows; ++R) {
          const uint8_t X = Out[R], Y = Other[R];
          if (And)
            Out[R] = (X == kFalse || Y == kFalse) ? kFalse
                     : (X == kTrue && Y == kTrue) ? kTrue
                                                  : kUnknown;
          else
            Out[R] = (X == kTrue || Y == kTrue)     ? kTrue
                     : (X == kFalse && Y == kFalse) ? kFalse
                                                    : kUnknown;
        }
        return;
      }
      case TStep::TKind::Not:
        Run(S.A, Out);
        for (uint8_t& V : Out) V = V == kUnknown ? kUnknown : V == kTrue ? kFalse : kTrue;
        return;
      case TStep::TKind::Unknown:
        std::fill(Out.begin(), Out.end(), kUnknown);
        return;
      case TStep::TKind::IsNull:
        for (size_t R = 0; R < FRows; ++R) Out[R] = IsNull(*S.Col, R) != S.Not ? kTrue : kFalse;
        return;
      case TStep::TKind::Compare:
        return Compare(S, Out);
      case TStep::TKind::Like:
        return Like(S, Out);
    }
  }

 private:
  std::vector<TStep> FSteps;
  size_t FRows;

  // A number that is not a number reaches SQL as Null.
  static bool IsNull(const TColumn& C, size_t R) {
    if (C.IsNull(R)) return true;
    return C.Kind() == TStorageKind::Double && std::isnan(C.Double(R));
  }

  static void Compare(const TStep& S, std::vector<uint8_t>& Out) {
    const TColumn& C = *S.Col;
    const size_t N = C.Size();
    for (size_t R = 0; R < N; ++R) {
      if (IsNull(C, R)) {
        Out[R] = kUnknown;
        continue;
      }
      int D;
      switch (C.Kind()) {
        case TStorageKind::Int: {
          const int64_t V = C.Int(R);
          D = S.IsInt ? (V < S.Int ? -1 : V > S.Int) : (V < S.Num ? -1 : V > S.Num);
          break;
        }
        case TStorageKind::Double: {
          const double V = C.Double(R);
          D = V < S.Num ? -1 : V > S.Num;
          break;
        }
        case TStorageKind::String:
        default:
          D = C.Str(R).compare(S.Text);
          break;
      }
      Out[R] = TestOrder(S.Op, D) ? kTrue : kFalse;
    }
  }

  static void Like(const TStep& S, std::vector<uint8_t>& Out) {
    const TColumn& C = *S.Col;
    const size_t N = C.Size();
    for (size_t R = 0; R < N; ++R)
      if (C.IsNull(R)) Out[R] = kUnknown;
    if (S.Lead && S.Trail) {
      if (S.Text.empty()) {
        for (size_t R = 0; R < N; ++R)
          if (Out[R] != kUnknown) Out[R] = kTrue;
      } else {
        ContainsScan(C, S.Text, Out);
      }
    } else {
      for (size_t R = 0; R < N; ++R) {
        if (Out[R] == kUnknown) continue;
        const std::string_view V = C.Str(R);
        const bool M = S.Lead ? V.ends_with(S.Text) : S.Trail ? V.starts_with(S.Text) : V == S.Text;
        Out[R] = M ? kTrue : kFalse;
      }
    }
    if (S.Not)
      for (uint8_t& V : Out) V = V == kUnknown ? kUnknown : V == kTrue ? kFalse : kTrue;
  }
};

}  // namespace

std::optional<std::vector<uint32_t>> DirectSelectRows(const TSqlTranslation& T,
                                                      const TTableStore& Store) {
  if (T.RowText.empty() || T.Tables.size() != 1) return std::nullopt;
  TSqlStatement St;
  try {
    St = ParseSql(T.Text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  if (!St.Select) return std::nullopt;
  const TSqlSelect& Sel = *St.Select;
  if (Sel.Distinct || Sel.From.size() != 1 || !Sel.GroupBy.empty() || Sel.Having)
    return std::nullopt;
  const size_t N = Store.RowCount();
  std::vector<uint32_t> Rows;
  if (!Sel.Where) {
    Rows.resize(N);
    for (uint32_t R = 0; R < N; ++R) Rows[R] = R;
    return Rows;
  }
  std::vector<TStep> Steps;
  int Root;
  {
    TCompiler C(Store, Steps);
    Root = C.Compile(*Sel.Where);
  }
  if (Root < 0) return std::nullopt;
  for (const TStep& S : Steps)
    if (S.Col) S.Col->Decode();
  const TProgram Program(std::move(Steps), N);
  std::vector<uint8_t> Truth;
  Program.Run(Root, Truth);
  for (uint32_t R = 0; R < N; ++R)
    if (Truth[R] == kTrue) Rows.push_back(R);
  return Rows;
}
