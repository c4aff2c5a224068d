// Direct evaluation of the search statements over table stores. The statement the translator wrote
// is parsed back into its tree; the key equalities between two tables become the joins and every
// other condition one step of a column program whose steps fill a truth vector (false, true or
// unknown, as SQL's Null logic has it) over the joined rows, combined by NOT, AND and OR. A step
// reads one table: it runs over that table's rows and its truth reaches the joined rows through
// their row numbers. No step allocates per row: a text search runs memmem over the column's
// whole text and maps each hit to its row.
#include "DirectQuery.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "Progress.h"
#include "SqlEngine.h"
#include "SqlParser.h"
#include "Unicode.h"

namespace kv {

namespace {

// The three truth values of a condition on one row.
constexpr uint8_t kFalse = 0, kTrue = 1, kUnknown = 2;
// No row: a joined row's table without a match.
constexpr uint32_t kNoRow = UINT32_MAX;

enum class TCmp { Eq, Ne, Lt, Gt, Le, Ge };

struct TStep {
  enum class TKind { And, Or, Not, Compare, Like, IsNull, Unknown } Kind = TKind::Unknown;
  int A = -1, B = -1;  // operands of And, Or, Not (indexes of steps)
  size_t Table = 0;    // the FROM entry whose column the step reads
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

// A column of a FROM entry as the translated statement names it ("t2"."Name"): its entry and
// column; false for anything else.
bool ColumnOf(const TSqlExpr& E, const std::vector<const TTableStore*>& Stores, size_t& Table,
              int& Column) {
  if (E.Kind != TSqlExprKind::Column) return false;
  for (size_t T = 0; T < Stores.size(); ++T) {
    if (E.Qualifier != SqlTableName(T)) continue;
    const TTableStore& S = *Stores[T];
    for (size_t I = 0; I < S.Defs.size() && I < S.Columns.size(); ++I)
      if (S.Defs[I].Name == E.Text) {
        Table = T;
        Column = static_cast<int>(I);
        return true;
      }
    return false;
  }
  return false;
}

// Compiles the tree of a translated condition into steps; -1 when some part is outside the
// family, for SQLite to run the statement.
class TCompiler {
 public:
  TCompiler(const std::vector<const TTableStore*>& Stores, std::vector<TStep>& Steps)
      : FStores(Stores), FSteps(Steps) {}

  int Compile(const TSqlExpr& E) {
    if (E.Height > 200) return -1;
    switch (E.Kind) {
      case TSqlExprKind::Binary:
        if (E.Op == "AND" || E.Op == "OR") {
          const int A = Compile(*E.Args[0]);
          const int B = A < 0 ? -1 : Compile(*E.Args[1]);
          if (B < 0) return -1;
          return Combine(E.Op == "AND" ? TStep::TKind::And : TStep::TKind::Or, A, B);
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
        if (!Operand(*E.Args[0], S, Lowered)) return -1;
        return Add(std::move(S));
      }
      default:
        return -1;
    }
  }

  int Combine(TStep::TKind Kind, int A, int B) {
    TStep S;
    S.Kind = Kind;
    S.A = A;
    S.B = B;
    return Add(std::move(S));
  }

 private:
  const std::vector<const TTableStore*>& FStores;
  std::vector<TStep>& FSteps;

  int Add(TStep S) {
    FSteps.push_back(std::move(S));
    return static_cast<int>(FSteps.size() - 1);
  }

  // A column of one of the tables, or lower(), unaccent() or unaccent(lower()) of a text column:
  // the column whose values the condition reads (the store's lowered or folded copy).
  bool Operand(const TSqlExpr& E, TStep& S, bool& Lowered) {
    Lowered = false;
    bool Unaccented = false;
    const TSqlExpr* C = &E;
    if (IsCallOf(*C, "UNACCENT")) {
      C = C->Args[0].get();
      Unaccented = true;
    }
    if (IsCallOf(*C, "LOWER")) {
      C = C->Args[0].get();
      Lowered = true;
    }
    if (C->Kind == TSqlExprKind::Function) return false;
    int Index = -1;
    if (!ColumnOf(*C, FStores, S.Table, Index)) return false;
    const TTableStore& Store = *FStores[S.Table];
    const TColumn& Column = Store.Columns[Index];
    if (Lowered || Unaccented) {
      if (Column.Kind() != TStorageKind::String) return false;
      S.Col = Unaccented ? &Store.FoldedColumn(Index, Lowered) : &Store.LoweredColumn(Index);
    } else {
      S.Col = &Column;
    }
    return true;
  }

  static bool IsCallOf(const TSqlExpr& E, std::string_view Name) {
    return E.Kind == TSqlExprKind::Function && E.Op == Name && E.Args.size() == 1 && !E.Star &&
           !E.Distinct;
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
    if (!Operand(*E.Args[0], S, Lowered)) return -1;
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
    if (!Operand(*E.Args[0], S, Lowered) || S.Col->Kind() != TStorageKind::String) return -1;
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
    // The row holding the hit: the last one that starts at or before it. Hits tend to lie near
    // each other, so the search gallops forward from the last row before halving.
    size_t Step = 1;
    const uint32_t* Hi = Row + 1;
    while (Hi < End && *Hi <= At) {
      Row = Hi;
      Hi = Step < static_cast<size_t>(End - Row) ? Row + Step : End;
      Step *= 2;
    }
    Row = std::upper_bound(Row, Hi, At) - 1;
    const size_t R = static_cast<size_t>(Row - Off);
    if (At + Needle.size() <= Row[1]) {
      Out[R] = kTrue;
      From = Row[1];  // the rest of this row no longer matters
    } else {
      From = At + 1;  // the hit runs into the next row: look again further on
    }
  }
}

// The joined rows: one row number per table for each of them, in the order the joins produce
// them (the first table's rows in row order, each table's matches in row order after it).
struct TTuples {
  size_t Count = 0;
  // Of[K][I]: the row of table K in joined row I (kNoRow: no match, the joined row is dropped).
  // Null for the first table while joined row I is its row I. It points into Own[K], or into
  // the kept map of a lookup of the first table's rows (no copy).
  std::vector<const uint32_t*> Of;
  std::vector<std::vector<uint32_t>> Own;
  explicit TTuples(size_t Tables) : Of(Tables, nullptr), Own(Tables) {}
  uint32_t Row(size_t K, size_t I) const { return Of[K] ? Of[K][I] : static_cast<uint32_t>(I); }
  void SetOwn(size_t K, std::vector<uint32_t> Rows) {
    Own[K] = std::move(Rows);
    Of[K] = Own[K].data();
  }
};

// A number that is not a number reaches SQL as Null.
bool IsNullValue(const TColumn& C, size_t R) {
  if (C.IsNull(R)) return true;
  return C.Kind() == TStorageKind::Double && std::isnan(C.Double(R));
}

double NumberAt(const TColumn& C, size_t R) {
  return C.Kind() == TStorageKind::Int ? C.Int(R) : C.Double(R);
}

class TProgram {
 public:
  TProgram(std::vector<TStep> Steps, const TTuples& Tuples)
      : FSteps(std::move(Steps)), FTuples(Tuples) {
    for (const TStep& S : FSteps)
      if (S.Col) FTotal += static_cast<int64_t>(S.Col->Size());
  }

  void Run(int Step, std::vector<uint8_t>& Out) const {
    const TStep& S = FSteps[Step];
    const size_t N = FTuples.Count;
    switch (S.Kind) {
      case TStep::TKind::And:
      case TStep::TKind::Or: {
        Run(S.A, Out);
        std::vector<uint8_t> Other;
        Run(S.B, Other);
        const bool And = S.Kind == TStep::TKind::And;
        for (size_t R = 0; R < N; ++R) {
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
        Out.assign(N, kUnknown);
        return;
      default:
        break;
    }
    // A condition on one table: its truth over that table's rows, taken by each joined row.
    const uint32_t* Rows = FTuples.Of[S.Table];
    if (!Rows) return Leaf(S, Out);
    std::vector<uint8_t> Own;
    Leaf(S, Own);
    Out.resize(N);
    for (size_t I = 0; I < N; ++I) Out[I] = Rows[I] == kNoRow ? kFalse : Own[Rows[I]];
  }

 private:
  std::vector<TStep> FSteps;
  const TTuples& FTuples;
  // How far the program has come: rows tested by its leaves, of the rows of all of them.
  mutable int64_t FDone = 0;
  int64_t FTotal = 0;

  // A leaf's truth over its column, a chunk of rows at a time, telling how far the program has
  // come after each chunk.
  void Leaf(const TStep& S, std::vector<uint8_t>& Out) const {
    const TColumn& C = *S.Col;
    const size_t N = C.Size();
    Out.assign(N, kFalse);
    if (S.Kind == TStep::TKind::Like && S.Lead && S.Trail && !S.Text.empty()) {
      Contains(S, Out);
      Done(N);
      return;
    }
    for (size_t Begin = 0; Begin < N; Begin += kScanProgressRows) {
      const size_t End = std::min(N, Begin + kScanProgressRows);
      if (S.Kind == TStep::TKind::IsNull) {
        for (size_t R = Begin; R < End; ++R) Out[R] = IsNullValue(C, R) != S.Not ? kTrue : kFalse;
      } else if (S.Kind == TStep::TKind::Compare) {
        Compare(S, Out, Begin, End);
      } else {
        Like(S, Out, Begin, End);
      }
      Done(End - Begin);
    }
  }

  void Done(size_t Rows) const {
    FDone += static_cast<int64_t>(Rows);
    ReportProgress("Buscando", FDone, std::max(FTotal, FDone));
  }

  static void Compare(const TStep& S, std::vector<uint8_t>& Out, size_t Begin, size_t End) {
    const TColumn& C = *S.Col;
    for (size_t R = Begin; R < End; ++R) {
      if (IsNullValue(C, R)) {
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

  // A pattern other than '%text%' over rows [Begin, End).
  static void Like(const TStep& S, std::vector<uint8_t>& Out, size_t Begin, size_t End) {
    const TColumn& C = *S.Col;
    for (size_t R = Begin; R < End; ++R) {
      if (C.IsNull(R)) {
        Out[R] = kUnknown;
        continue;
      }
      const std::string_view V = C.Str(R);
      const bool M = S.Lead && S.Trail ? true
                     : S.Lead          ? V.ends_with(S.Text)
                     : S.Trail         ? V.starts_with(S.Text)
                                       : V == S.Text;
      Out[R] = M != S.Not ? kTrue : kFalse;
    }
  }

  // '%text%': one search through the column's whole text.
  static void Contains(const TStep& S, std::vector<uint8_t>& Out) {
    const TColumn& C = *S.Col;
    const size_t N = C.Size();
    for (size_t R = 0; R < N; ++R)
      if (C.IsNull(R)) Out[R] = kUnknown;
    ContainsScan(C, S.Text, Out);
    if (S.Not)
      for (uint8_t& V : Out) V = V == kUnknown ? kUnknown : V == kTrue ? kFalse : kTrue;
  }
};

// ---------------------------------------------------------------------------------------------
// What the joins keep between statements: per pair of stores and key columns, the rows of one
// that each row of the other finds; per store and columns, each row's place among the groups of
// equal values of its sorted order. Kept while both stores live, shared by every statement.

template <class TValue>
class TStoreCache {
 public:
  using TBuild = std::shared_ptr<const TValue> (*)(const std::vector<const TTableStore*>&,
                                                   const std::vector<std::vector<int>>&);
  std::shared_ptr<const TValue> Get(const std::vector<std::shared_ptr<const TTableStore>>& Stores,
                                    const std::vector<std::vector<int>>& Cols, TBuild Build) {
    std::vector<const TTableStore*> Raw;
    for (const auto& S : Stores) Raw.push_back(S.get());
    std::lock_guard<std::mutex> Lock(FMutex);
    // An entry whose store is gone can never be asked for again (its address may be reused).
    std::erase_if(FEntries, [](const TEntry& E) {
      return std::any_of(E.Stores.begin(), E.Stores.end(),
                         [](const auto& W) { return W.expired(); });
    });
    for (const TEntry& E : FEntries)
      if (E.Raw == Raw && E.Cols == Cols) return E.Value;
    TEntry E;
    for (const auto& S : Stores) E.Stores.push_back(S);
    E.Raw = Raw;
    E.Cols = Cols;
    E.Value = Build(Raw, Cols);
    FEntries.push_back(E);
    return E.Value;
  }

 private:
  struct TEntry {
    std::vector<std::weak_ptr<const TTableStore>> Stores;
    std::vector<const TTableStore*> Raw;
    std::vector<std::vector<int>> Cols;
    std::shared_ptr<const TValue> Value;
  };
  std::mutex FMutex;
  std::vector<TEntry> FEntries;
};

// The rows of a lookup table that each row of the table before it finds by key equality (as
// SQL's = has it: numbers by value, texts by their bytes, Null never equal), in row order.
struct TJoinMap {
  // Matches of row R: Rows[Start[R]] .. Rows[Start[R + 1] - 1]. When no row has more than one
  // match, Start is empty and Rows[R] is the match of row R (kNoRow when none).
  std::vector<uint32_t> Start, Rows;
};

bool SameKey(const TColumn& A, size_t RA, const TColumn& B, size_t RB) {
  if (IsNullValue(A, RA) || IsNullValue(B, RB)) return false;
  if (A.Kind() == TStorageKind::String) return A.Str(RA) == B.Str(RB);
  return NumberAt(A, RA) == NumberAt(B, RB);
}

// Stores: the table before, the lookup table; Cols: their key columns, pair by pair.
std::shared_ptr<const TJoinMap> BuildJoinMap(const std::vector<const TTableStore*>& Stores,
                                             const std::vector<std::vector<int>>& Cols) {
  const TTableStore& P = *Stores[0];
  const TTableStore& C = *Stores[1];
  const TColumn& PK = P.Columns[Cols[0][0]];
  const TColumn& CK = C.Columns[Cols[1][0]];
  for (int K : Cols[0]) P.Columns[K].Decode();
  for (int K : Cols[1]) C.Columns[K].Decode();
  // The lookup table's rows by the value of the first key column: the runs of equal values of
  // its sorted order, each in row order.
  const std::vector<uint32_t>& Sorted = C.SortedRows({Cols[1][0]});
  struct TRun {
    uint32_t Begin, End;
  };
  std::vector<TRun> Runs;
  std::vector<double> Keys;  // of the runs, for number keys
  std::unordered_map<std::string_view, uint32_t> ByText;
  const bool Text = CK.Kind() == TStorageKind::String;
  for (size_t I = 0; I < Sorted.size();) {
    size_t J = I + 1;
    if (IsNullValue(CK, Sorted[I])) {
      I = J;
      continue;
    }
    while (J < Sorted.size() && SameKey(CK, Sorted[I], CK, Sorted[J])) ++J;
    if (Text) {
      ByText.emplace(CK.Str(Sorted[I]), static_cast<uint32_t>(Runs.size()));
    } else {
      const double V = NumberAt(CK, Sorted[I]);
      Keys.push_back(V == 0 ? 0.0 : V);  // -0 and 0 are one key
    }
    Runs.push_back({static_cast<uint32_t>(I), static_cast<uint32_t>(J)});
    I = J;
  }
  // Whole numbers of a compact range (the usual keys) are found by their place in it; other
  // numbers through a hash map.
  bool Dense = !Text && !Keys.empty();
  double Low = 0;
  std::vector<uint32_t> Slots;
  if (Dense) {
    Low = Keys.front();
    const double Span = Keys.back() - Low;
    Dense = Span < 4.0 * static_cast<double>(Keys.size()) + 1024 && Span < double(1 << 26);
    for (size_t I = 0; I < Keys.size() && Dense; ++I) Dense = Keys[I] == std::floor(Keys[I]);
    if (Dense) {
      Slots.assign(static_cast<size_t>(Span) + 1, kNoRow);
      for (size_t I = 0; I < Keys.size(); ++I)
        Slots[static_cast<size_t>(Keys[I] - Low)] = static_cast<uint32_t>(I);
    }
  }
  std::unordered_map<double, uint32_t> ByNumber;
  if (!Text && !Dense)
    for (size_t I = 0; I < Keys.size(); ++I) ByNumber.emplace(Keys[I], static_cast<uint32_t>(I));
  auto Map = std::make_shared<TJoinMap>();
  const size_t N = P.RowCount();
  Map->Start.resize(N + 1);
  Map->Rows.reserve(N);
  bool Functional = true;
  for (size_t R = 0; R < N; ++R) {
    Map->Start[R] = static_cast<uint32_t>(Map->Rows.size());
    if (IsNullValue(PK, R)) continue;
    uint32_t Found = kNoRow;
    if (Text) {
      auto It = ByText.find(PK.Str(R));
      if (It != ByText.end()) Found = It->second;
    } else if (Dense) {
      const double At = NumberAt(PK, R) - Low;
      if (At >= 0 && At < static_cast<double>(Slots.size()) && At == std::floor(At))
        Found = Slots[static_cast<size_t>(At)];
    } else {
      const double V = NumberAt(PK, R);
      auto It = ByNumber.find(V == 0 ? 0.0 : V);
      if (It != ByNumber.end()) Found = It->second;
    }
    const TRun* Run = Found == kNoRow ? nullptr : &Runs[Found];
    if (!Run) continue;
    const size_t Before = Map->Rows.size();
    for (uint32_t I = Run->Begin; I < Run->End; ++I) {
      bool All = true;
      for (size_t K = 1; K < Cols[0].size() && All; ++K)
        All = SameKey(P.Columns[Cols[0][K]], R, C.Columns[Cols[1][K]], Sorted[I]);
      if (All) Map->Rows.push_back(Sorted[I]);
    }
    Functional &= Map->Rows.size() - Before <= 1;
  }
  Map->Start[N] = static_cast<uint32_t>(Map->Rows.size());
  if (Functional) {
    std::vector<uint32_t> Flat(N, kNoRow);
    for (size_t R = 0; R < N; ++R)
      if (Map->Start[R + 1] > Map->Start[R]) Flat[R] = Map->Rows[Map->Start[R]];
    Map->Rows = std::move(Flat);
    Map->Start = {};
  }
  Map->Rows.shrink_to_fit();
  return Map;
}

// Each row's group among the groups of equal values of the sorted order of some columns.
struct TRanks {
  std::vector<uint32_t> Rank;
  uint32_t Groups = 0;
};

std::shared_ptr<const TRanks> BuildRanks(const std::vector<const TTableStore*>& Stores,
                                         const std::vector<std::vector<int>>& Cols) {
  const TTableStore& S = *Stores[0];
  const std::vector<uint32_t>& Sorted = S.SortedRows(Cols[0]);
  auto R = std::make_shared<TRanks>();
  R->Rank.resize(S.RowCount());
  for (size_t I = 0; I < Sorted.size(); ++I) {
    if (I == 0 || S.CompareRows(Sorted[I - 1], Sorted[I], Cols[0]) != 0) ++R->Groups;
    R->Rank[Sorted[I]] = R->Groups - 1;
  }
  return R;
}

TStoreCache<TJoinMap>& JoinMaps() {
  static TStoreCache<TJoinMap> Cache;
  return Cache;
}

TStoreCache<TRanks>& RankCache() {
  static TStoreCache<TRanks> Cache;
  return Cache;
}

// Reorders Sel (joined rows) stably by Key(I) in [0, Keys).
template <class TKey>
void CountingSort(std::vector<uint32_t>& Sel, size_t Keys, TKey Key) {
  std::vector<uint32_t> Count(Keys + 1, 0);
  for (uint32_t I : Sel) ++Count[Key(I) + 1];
  for (size_t K = 0; K < Keys; ++K) Count[K + 1] += Count[K];
  std::vector<uint32_t> Out(Sel.size());
  for (uint32_t I : Sel) Out[Count[Key(I)]++] = I;
  Sel = std::move(Out);
}

// The order of the loops SQLite runs the statement in (FROM entries, outermost first), when
// its plan is nested scans and key lookups of the tables, each once; an ORDER BY sorts what
// they found. Nothing for any other plan.
std::optional<std::vector<size_t>> LoopOrder(TSqliteDatabase& Db, const std::string& Sql,
                                             size_t Tables, bool Ordered) {
  try {
    TSqliteStatement Plan(Db, "EXPLAIN QUERY PLAN " + Sql, Sql);
    std::vector<size_t> Order;
    bool Sorted = false;
    while (Plan.Step()) {
      const auto* D = reinterpret_cast<const char*>(sqlite3_column_text(Plan.Handle(), 3));
      const std::string_view Detail = D ? D : "";
      if (Ordered && !Sorted && Detail == "USE TEMP B-TREE FOR ORDER BY") {
        Sorted = true;
        continue;
      }
      std::string_view Name;
      if (Detail.starts_with("SCAN "))
        Name = Detail.substr(5);
      else if (Detail.starts_with("SEARCH "))
        Name = Detail.substr(7);
      else
        return std::nullopt;
      Name = Name.substr(0, Name.find(' '));
      size_t K = 0;
      while (K < Tables && SqlTableName(K) != Name) ++K;
      if (K == Tables || std::find(Order.begin(), Order.end(), K) != Order.end())
        return std::nullopt;
      Order.push_back(K);
    }
    if (Order.size() != Tables || Sorted != Ordered) return std::nullopt;
    return Order;
  } catch (const EAborted&) {
    throw;
  } catch (const std::exception&) {
    // No plan: the statement goes to SQLite, which reports what is wrong with it.
    return std::nullopt;
  }
}

// The result columns read from the joined tables through the rows found, a chunk at a time when
// first read (the values copied as they are stored, Null for a table without a match).
class TJoinedColumns : public TColumnDecoder {
 public:
  struct TSource {
    std::shared_ptr<const TTableStore> Store;
    size_t Table = 0;
    int Column = -1;
  };
  TJoinedColumns(std::vector<TSource> Sources, std::vector<std::vector<uint32_t>> Rows)
      : FSources(std::move(Sources)), FRows(std::move(Rows)) {}
  void Decode(size_t Col, size_t First, size_t Count, TColumn& Out) const override {
    const TSource& S = FSources.at(Col);
    const TColumn& Src = S.Store->Columns.at(static_cast<size_t>(S.Column));
    const std::vector<uint32_t>& Rows = FRows.at(S.Table);
    for (size_t I = First; I < First + Count && I < Rows.size(); ++I) {
      const uint32_t R = Rows[I];
      if (R == kNoRow || R >= Src.Size() || Src.IsNull(R)) {
        Out.AppendNull();
        continue;
      }
      switch (Src.Kind()) {
        case TStorageKind::Int:
          Out.AppendInt(Src.Int(R));
          break;
        case TStorageKind::Double:
          Out.AppendDouble(Src.Double(R));
          break;
        case TStorageKind::String:
          Out.AppendString(Src.Str(R));
          break;
      }
    }
  }

 private:
  std::vector<TSource> FSources;
  std::vector<std::vector<uint32_t>> FRows;
};

// The conditions joined by AND at the top of a condition.
void Conjuncts(const TSqlExpr& E, std::vector<const TSqlExpr*>& Out) {
  if (E.Kind == TSqlExprKind::Binary && E.Op == "AND" && E.Args.size() == 2 && Out.size() < 256) {
    Conjuncts(*E.Args[0], Out);
    Conjuncts(*E.Args[1], Out);
  } else {
    Out.push_back(&E);
  }
}

// A join condition: a column of one table equal to a column of another, both numbers or both
// texts.
struct TEdge {
  size_t A = 0, B = 0;
  int ColA = -1, ColB = -1;
};

bool ReadEdge(const TSqlExpr& E, const std::vector<const TTableStore*>& Stores, TEdge& Out) {
  if (E.Kind != TSqlExprKind::Binary || E.Op != "=" || E.Args.size() != 2) return false;
  if (!ColumnOf(*E.Args[0], Stores, Out.A, Out.ColA) ||
      !ColumnOf(*E.Args[1], Stores, Out.B, Out.ColB) || Out.A == Out.B)
    return false;
  const bool TextA = Stores[Out.A]->Columns[Out.ColA].Kind() == TStorageKind::String;
  const bool TextB = Stores[Out.B]->Columns[Out.ColB].Kind() == TStorageKind::String;
  return TextA == TextB;
}

// The joined rows of a statement and the program of its other conditions.
struct TJoinPlan {
  std::vector<const TTableStore*> Stores;
  std::vector<TStep> Steps;
  int Root = -1;  // -1: no condition besides the joins
  // The tables in the order the joins reach them from the first, each after its parent, with
  // the parent and the key columns (parent's, own) pair by pair.
  struct TLink {
    size_t Table = 0, Parent = 0;
    std::vector<int> ParentCols, Cols;
  };
  std::vector<TLink> Links;
};

// Reads the WHERE of a statement over several tables into joins and conditions; false when
// it is not a search over a table and its lookup tables.
bool ReadJoin(const TSqlSelect& Sel, TJoinPlan& Plan) {
  const size_t NT = Plan.Stores.size();
  std::vector<const TSqlExpr*> Parts;
  if (Sel.Where) Conjuncts(*Sel.Where, Parts);
  std::vector<TEdge> Edges;
  TCompiler C(Plan.Stores, Plan.Steps);
  for (const TSqlExpr* P : Parts) {
    TEdge E;
    if (ReadEdge(*P, Plan.Stores, E)) {
      Edges.push_back(E);
      continue;
    }
    const int S = C.Compile(*P);
    if (S < 0) return false;
    Plan.Root = Plan.Root < 0 ? S : C.Combine(TStep::TKind::And, Plan.Root, S);
  }
  // The joins must make a tree over the tables: from the first, each other table reached once.
  std::vector<bool> Reached(NT, false);
  Reached[0] = true;
  std::vector<size_t> Queue{0};
  std::vector<bool> Used(Edges.size(), false);
  for (size_t Q = 0; Q < Queue.size(); ++Q) {
    const size_t From = Queue[Q];
    for (size_t To = 0; To < NT; ++To) {
      if (Reached[To]) continue;
      TJoinPlan::TLink L;
      L.Table = To;
      L.Parent = From;
      for (size_t I = 0; I < Edges.size(); ++I) {
        const TEdge& E = Edges[I];
        if (E.A == From && E.B == To) {
          L.ParentCols.push_back(E.ColA);
          L.Cols.push_back(E.ColB);
        } else if (E.A == To && E.B == From) {
          L.ParentCols.push_back(E.ColB);
          L.Cols.push_back(E.ColA);
        } else {
          continue;
        }
        Used[I] = true;
      }
      if (L.Cols.empty()) continue;
      Reached[To] = true;
      Queue.push_back(To);
      Plan.Links.push_back(std::move(L));
    }
  }
  // A table no join reaches, or a join between tables already joined otherwise: SQLite's.
  return Queue.size() == NT && std::all_of(Used.begin(), Used.end(), [](bool U) { return U; });
}

// The joined rows (see TTuples) of the links of Plan, before any condition; Maps keeps the maps
// they point into.
TTuples JoinRows(const TJoinPlan& Plan, const std::vector<std::shared_ptr<const TTableStore>>& S,
                 std::vector<std::shared_ptr<const TJoinMap>>& Maps) {
  const size_t NT = Plan.Stores.size();
  TTuples T(NT);
  T.Count = Plan.Stores[0]->RowCount();
  for (const TJoinPlan::TLink& L : Plan.Links) {
    Maps.push_back(
        JoinMaps().Get({S[L.Parent], S[L.Table]}, {L.ParentCols, L.Cols}, &BuildJoinMap));
    const TJoinMap& Map = *Maps.back();
    if (Map.Start.empty()) {
      // At most one match each: the joined rows stay, those without a match are dropped later.
      if (!T.Of[L.Parent]) {
        T.Of[L.Table] = Map.Rows.data();
        continue;
      }
      std::vector<uint32_t> Own(T.Count);
      for (size_t I = 0; I < T.Count; ++I) {
        const uint32_t P = T.Of[L.Parent][I];
        Own[I] = P == kNoRow ? kNoRow : Map.Rows[P];
      }
      T.SetOwn(L.Table, std::move(Own));
      continue;
    }
    // Several matches: each joined row becomes one per match, in the match's row order.
    std::vector<std::vector<uint32_t>> Next(NT);
    size_t Count = 0;
    for (size_t I = 0; I < T.Count; ++I) {
      const uint32_t P = T.Row(L.Parent, I);
      if (P == kNoRow) continue;
      for (uint32_t M = Map.Start[P]; M < Map.Start[P + 1]; ++M) {
        for (size_t K = 0; K < NT; ++K)
          if (K != L.Table && (K == 0 || T.Of[K])) Next[K].push_back(T.Row(K, I));
        Next[L.Table].push_back(Map.Rows[M]);
        // Joined rows are numbered by 32 bits, as a store's rows are: more go to SQLite.
        if (++Count >= kNoRow) throw std::length_error("demasiadas filas unidas");
      }
    }
    TTuples Joined(NT);
    Joined.Count = Count;
    for (size_t K = 0; K < NT; ++K)
      if (K == 0 || K == L.Table || T.Of[K]) Joined.SetOwn(K, std::move(Next[K]));
    T = std::move(Joined);
  }
  return T;
}

std::shared_ptr<TTableStore> SelectJoin(const TSqlTranslation& T, TSqlTableSource& Tables) {
  const size_t NT = T.Tables.size();
  if (NT < 2 || T.RowText.empty()) return nullptr;
  std::vector<std::shared_ptr<const TTableStore>> Stores(NT);
  TJoinPlan Plan;
  for (size_t K = 0; K < NT; ++K) {
    Stores[K] = Tables.Store(T.Tables[K].Path);
    if (!Stores[K] || Stores[K]->Columns.size() != Stores[K]->Defs.size() ||
        Stores[K]->RowCount() >= kNoRow)
      return nullptr;
    Plan.Stores.push_back(Stores[K].get());
  }
  for (const TSqlResultColumn& R : T.Columns)
    if (R.SourceTable < 0 || R.SourceTable >= static_cast<int>(NT) || R.SourceColumn < 0 ||
        R.SourceColumn >= static_cast<int>(Stores[R.SourceTable]->Columns.size()) ||
        R.Def.DataType == ftUnknown || (R.Def.DataType == ftString && R.Def.Size <= 0))
      return nullptr;
  // An order by columns of one table, all one way.
  const bool Ordered = !T.OrderTerms.empty();
  std::vector<int> OrderCols;
  if (Ordered) {
    if (T.OrderKeys.size() != T.OrderTerms.size()) return nullptr;
    for (const auto& K : T.OrderKeys) {
      if (K.Table != T.OrderKeys.front().Table || K.Desc != T.OrderKeys.front().Desc)
        return nullptr;
      OrderCols.push_back(K.Column);
    }
  }
  TSqlStatement St;
  try {
    St = ParseSql(T.Text);
  } catch (const std::exception&) {
    return nullptr;  // not of the family: SQLite runs it
  }
  if (!St.Select) return nullptr;
  const TSqlSelect& Sel = *St.Select;
  if (Sel.Distinct || Sel.From.size() != NT || !Sel.GroupBy.empty() || Sel.Having) return nullptr;
  for (const TSqlTableRef& R : Sel.From)
    if (R.Join != TSqlJoinKind::List || R.On) return nullptr;
  if (!ReadJoin(Sel, Plan)) return nullptr;

  TSqliteDatabase Db;
  for (size_t K = 0; K < NT; ++K) Db.AttachStore(SqlTableName(K), Stores[K]);
  const auto Loops = LoopOrder(Db, T.RowText, NT, Ordered);
  if (!Loops) return nullptr;

  for (const TStep& S : Plan.Steps)
    if (S.Col) S.Col->Decode();
  std::vector<std::shared_ptr<const TJoinMap>> Maps;
  const TTuples Tuples = JoinRows(Plan, Stores, Maps);
  std::vector<uint8_t> Truth;
  if (Plan.Root >= 0) {
    const TProgram Program(std::move(Plan.Steps), Tuples);
    Program.Run(Plan.Root, Truth);
  }
  std::vector<uint32_t> Found;
  for (size_t I = 0; I < Tuples.Count; ++I) {
    if (!Truth.empty() && Truth[I] != kTrue) continue;
    bool All = true;
    for (size_t K = 1; K < NT && All; ++K) All = Tuples.Of[K][I] != kNoRow;
    if (All) Found.push_back(static_cast<uint32_t>(I));
  }
  // SQLite's loops find the joined rows in the order of their rows, outermost table first:
  // sorted by the innermost table's rows, then stably by each one further out. The joins made
  // them in the order of the links, which is that order when the loops run the same way.
  std::vector<size_t> Made{0};
  for (const auto& L : Plan.Links) Made.push_back(L.Table);
  if (*Loops != Made)
    for (auto It = Loops->rbegin(); It != Loops->rend(); ++It) {
      const size_t K = *It;
      auto Key = [&](uint32_t I) { return Tuples.Row(K, I); };
      if (std::is_sorted(Found.begin(), Found.end(),
                         [&](uint32_t A, uint32_t B) { return Key(A) < Key(B); }))
        continue;
      CountingSort(Found, Stores[K]->RowCount(), Key);
    }
  // SQLite's sort keeps rows with equal keys in the order it found them; descending reverses
  // the groups of equal keys, not the rows within them.
  if (Ordered) {
    const size_t K = static_cast<size_t>(T.OrderKeys.front().Table);
    const bool Desc = T.OrderKeys.front().Desc;
    const auto Ranks = RankCache().Get({Stores[K]}, {OrderCols}, &BuildRanks);
    CountingSort(Found, Ranks->Groups, [&](uint32_t I) {
      const uint32_t G = Ranks->Rank[Tuples.Row(K, I)];
      return Desc ? Ranks->Groups - 1 - G : G;
    });
  }

  // The result as SQLite's run builds it: every column read through the rows found.
  const size_t Rows = Found.size();
  std::vector<std::vector<uint32_t>> RowsOf(NT);
  for (size_t K = 0; K < NT; ++K) {
    RowsOf[K].resize(Rows);
    for (size_t I = 0; I < Rows; ++I) RowsOf[K][I] = Tuples.Row(K, Found[I]);
  }
  auto Result = std::make_shared<TTableStore>();
  std::vector<TJoinedColumns::TSource> Sources;
  std::vector<TColumnDef> Defs;
  for (const TSqlResultColumn& R : T.Columns) {
    TColumnDef D = R.Def;
    if (D.DataType == ftString) D.Size = std::max(D.Size, 1);
    D.Required = false;
    Result->AddColumn(D);
    Defs.push_back(D);
    Sources.push_back({Stores[R.SourceTable], static_cast<size_t>(R.SourceTable), R.SourceColumn});
  }
  if (Rows == 0) {
    for (size_t C = 0; C < Defs.size(); ++C) Result->Columns[C] = TColumn(Defs[C].DataType);
    return Result;
  }
  auto Decoder = std::make_shared<TJoinedColumns>(std::move(Sources), std::move(RowsOf));
  for (size_t C = 0; C < Defs.size(); ++C)
    Result->Columns[C] = TColumn(Defs[C].DataType, Rows, Decoder, C);
  return Result;
}

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
  const std::vector<const TTableStore*> Stores{&Store};
  std::vector<TStep> Steps;
  int Root;
  {
    TCompiler C(Stores, Steps);
    Root = C.Compile(*Sel.Where);
  }
  if (Root < 0) return std::nullopt;
  for (const TStep& S : Steps)
    if (S.Col) S.Col->Decode();
  TTuples Tuples(1);
  Tuples.Count = N;
  const TProgram Program(std::move(Steps), Tuples);
  std::vector<uint8_t> Truth;
  Program.Run(Root, Truth);
  for (uint32_t R = 0; R < N; ++R)
    if (Truth[R] == kTrue) Rows.push_back(R);
  return Rows;
}

std::shared_ptr<TTableStore> DirectSelectJoin(const TSqlTranslation& T, TSqlTableSource& Tables) {
  try {
    return SelectJoin(T, Tables);
  } catch (const EAborted&) {
    throw;  // the user stopped the search: nothing to hand to SQLite
  } catch (const std::exception&) {
    // Whatever went wrong (a column that cannot be decoded, memory) SQLite meets again and
    // reports as it does for every statement.
    return nullptr;
  }
}

}  // namespace kv
