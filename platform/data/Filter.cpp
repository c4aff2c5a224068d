// Compiles a parsed filter against a dataset's fields into a tree of predicate nodes that read
// the store's columns directly, with every constant converted once to the field's type, so that
// testing a row allocates nothing (except for lookup and calculated fields, read as values).
#include "Filter.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>

#include "FilterParser.h"
#include "FilterValues.h"
#include "Progress.h"
#include "Unicode.h"

namespace kv {

struct TFilterNode {
  virtual ~TFilterNode() = default;
  virtual bool Eval(uint32_t Row, TFilterOptions Options) const = 0;
  // Index of the first of Rows[0..N) that satisfies the node, N when none. Nodes with a cheaper
  // loop than one Eval per row override it.
  virtual size_t FindFirst(const uint32_t* Rows, size_t N, TFilterOptions Options) const {
    for (size_t I = 0; I < N; ++I)
      if (Eval(Rows[I], Options)) return I;
    return N;
  }
};

namespace {

using TNodePtr = std::unique_ptr<TFilterNode>;
using K = TFilterTokenKind;

// How two values of a comparison are compared: numbers (integers, floats, dates, booleans as
// 0/1) or texts.
enum class TCmpKind { Number, Text };

bool TestOrder(TFilterCompareOp Op, int Cmp) {
  switch (Op) {
    case TFilterCompareOp::Eq:
      return Cmp == 0;
    case TFilterCompareOp::Ne:
      return Cmp != 0;
    case TFilterCompareOp::Lt:
      return Cmp < 0;
    case TFilterCompareOp::Gt:
      return Cmp > 0;
    case TFilterCompareOp::Le:
      return Cmp <= 0;
    case TFilterCompareOp::Ge:
      return Cmp >= 0;
  }
  return false;
}

inline bool TestNumbers(TFilterCompareOp Op, double A, double B) {
  return TestOrder(Op, A < B ? -1 : A > B ? 1 : 0);
}

// Byte order (which is code point order for UTF-8) or, ignoring case, the order of the
// case-folded texts.
inline int CompareTexts(std::string_view A, std::string_view B, bool IgnoreCase) {
  if (IgnoreCase) return AnsiCompareText(A, B);
  int C = A.compare(B);
  return C < 0 ? -1 : C > 0 ? 1 : 0;
}

inline bool TestTexts(TFilterCompareOp Op, std::string_view A, std::string_view B,
                      bool IgnoreCase) {
  // Equality has cheaper tests than the full order (lengths first when case matters).
  if (Op == TFilterCompareOp::Eq || Op == TFilterCompareOp::Ne)
    return (IgnoreCase ? AnsiSameText(A, B) : A == B) == (Op == TFilterCompareOp::Eq);
  return TestOrder(Op, CompareTexts(A, B, IgnoreCase));
}

// A comparison of a text with a constant: prefix match when the constant ended in '*' and the
// options allow partial comparison; otherwise an ordinary comparison with the whole constant.
// Ignoring case, the rows' texts are compared with the constant's lower-case forms, made once.
// Ignoring accents, the rows' folded texts are compared byte for byte with the constant's folded
// forms (Folded[1] and FoldedPrefix[1] also ignore case), made once.
struct TTextConst {
  std::string Whole, Lower;
  std::string Prefix, LowerPrefix;
  std::string Folded[2], FoldedPrefix[2];
  bool HasPrefix = false;

  void Set(std::string Text, bool AllowPrefix) {
    Whole = std::move(Text);
    Lower = AnsiLowerCase(Whole);
    HasPrefix = AllowPrefix && !Whole.empty() && Whole.back() == '*';
    if (HasPrefix) {
      Prefix = Whole.substr(0, Whole.size() - 1);
      LowerPrefix = AnsiLowerCase(Prefix);
    }
    for (int C = 0; C < 2; ++C) {
      Folded[C] = FoldText(Whole, C == 1);
      if (HasPrefix) FoldedPrefix[C] = FoldText(Prefix, C == 1);
    }
  }
  bool Partial(TFilterOptions Options) const {
    return HasPrefix && (Options & foNoPartialCompare) == 0;
  }
  // The test of a text V already folded as Options say (FoldText).
  bool TestFolded(TFilterCompareOp Op, std::string_view V, TFilterOptions Options) const {
    const int C = (Options & foCaseInsensitive) ? 1 : 0;
    if (Partial(Options)) {
      const bool Starts = V.starts_with(FoldedPrefix[C]);
      return Op == TFilterCompareOp::Eq ? Starts : !Starts;
    }
    return TestTexts(Op, V, Folded[C], false);
  }
  bool Test(TFilterCompareOp Op, std::string_view V, TFilterOptions Options) const {
    const bool IgnoreCase = (Options & foCaseInsensitive) != 0;
    if (Options & foAccentInsensitive) {
      thread_local std::string F;
      FoldTextInto(V, IgnoreCase, F);
      return TestFolded(Op, F, Options);
    }
    if (Partial(Options)) {
      bool Starts = IgnoreCase ? StartsWithLower(V, LowerPrefix) : V.starts_with(Prefix);
      return Op == TFilterCompareOp::Eq ? Starts : !Starts;
    }
    if (!IgnoreCase) return TestTexts(Op, V, Whole, false);
    if (Op == TFilterCompareOp::Eq || Op == TFilterCompareOp::Ne)
      return SameLowerText(V, Lower) == (Op == TFilterCompareOp::Eq);
    return TestOrder(Op, CompareLowerText(V, Lower));
  }
};

// Where one side of a comparison comes from.
struct TSource {
  enum class TWhere { IntColumn, DoubleColumn, TextColumn, Computed };
  TWhere Where = TWhere::Computed;
  const TColumn* Col = nullptr;
  int ColNo = -1;  // Col's index in its store
  const TField* Field = nullptr;
  TCmpKind Kind = TCmpKind::Number;
};

// One row's value of a source; Buf keeps the text of a computed field alive.
struct TCell {
  double Num = 0;
  std::string_view Str;
  std::string Buf;
};

double VariantToNumber(const Variant& V) {
  switch (V.VarType()) {
    case varBoolean:
      return V.AsBoolean() ? 1 : 0;
    case varDate:
      return V.AsDateTime().Val;
    default:
      return V.AsDouble();
  }
}

// Reads Row's value; false when it is empty (Null).
inline bool Fetch(const TSource& S, uint32_t Row, TCell& C) {
  switch (S.Where) {
    case TSource::TWhere::IntColumn:
      if (S.Col->IsNull(Row)) return false;
      C.Num = S.Col->Int(Row);
      return true;
    case TSource::TWhere::DoubleColumn:
      if (S.Col->IsNull(Row)) return false;
      C.Num = S.Col->Double(Row);
      return true;
    case TSource::TWhere::TextColumn:
      if (S.Col->IsNull(Row)) return false;
      C.Str = S.Col->Str(Row);
      return true;
    case TSource::TWhere::Computed: {
      Variant V = S.Field->ValueAt(Row);
      if (V.IsNullOrEmpty()) return false;
      if (S.Kind == TCmpKind::Number) {
        C.Num = VariantToNumber(V);
        return true;
      }
      C.Buf = V.AsString();
      C.Str = C.Buf;
      // Empty texts count as empty values, as they do in stored columns.
      return !C.Buf.empty();
    }
  }
  return false;
}

inline bool IsNullAt(const TSource& S, uint32_t Row) {
  if (S.Where != TSource::TWhere::Computed) return S.Col->IsNull(Row);
  TCell C;
  return !Fetch(S, Row, C);
}

// ---- nodes

struct TConstNode : TFilterNode {
  bool Value;
  explicit TConstNode(bool V) : Value(V) {}
  bool Eval(uint32_t, TFilterOptions) const override { return Value; }
};

struct TAndNode : TFilterNode {
  TNodePtr L, R;
  bool Eval(uint32_t Row, TFilterOptions O) const override {
    return L->Eval(Row, O) && R->Eval(Row, O);
  }
  size_t FindFirst(const uint32_t* Rows, size_t N, TFilterOptions O) const override;

 private:
  template <bool IsInt>
  bool RangeScan(const uint32_t* Rows, size_t N, size_t& Found) const;
};

struct TOrNode : TFilterNode {
  TNodePtr L, R;
  bool Eval(uint32_t Row, TFilterOptions O) const override {
    return L->Eval(Row, O) || R->Eval(Row, O);
  }
};

struct TNotNode : TFilterNode {
  TNodePtr E;
  bool Eval(uint32_t Row, TFilterOptions O) const override { return !E->Eval(Row, O); }
};

// field = NULL (WantNull) or field <> NULL.
struct TNullTestNode : TFilterNode {
  TSource S;
  bool WantNull = true;
  bool Eval(uint32_t Row, TFilterOptions) const override { return IsNullAt(S, Row) == WantNull; }
};

// A stored integer or float column against a number.
template <bool IsInt>
struct TColumnNumberNode : TFilterNode {
  const TColumn* Col = nullptr;
  TFilterCompareOp Op = TFilterCompareOp::Eq;
  double Value = 0;
  bool Eval(uint32_t Row, TFilterOptions) const override {
    if (Col->IsNull(Row)) return false;
    const double V = IsInt ? static_cast<double>(Col->Int(Row)) : Col->Double(Row);
    return TestNumbers(Op, V, Value);
  }
  size_t FindFirst(const uint32_t* Rows, size_t N, TFilterOptions) const override {
    return Scan(Rows, N, nullptr);
  }
  // Index of the first of Rows[0..N) whose value passes this test and, when given, Also's (a
  // test of the same column); N when none does.
  size_t Scan(const uint32_t* Rows, size_t N, const TColumnNumberNode* Also) const {
    for (size_t I = 0; I < N; ++I) {
      const uint32_t Row = Rows[I];
      if (Col->IsNull(Row)) continue;
      const double V = IsInt ? static_cast<double>(Col->Int(Row)) : Col->Double(Row);
      if (TestNumbers(Op, V, Value) && (!Also || TestNumbers(Also->Op, V, Also->Value))) return I;
    }
    return N;
  }
};

// A range of one number column ("X >= a and X < b", what a number typed into a search becomes)
// is scanned in one loop, without two calls per row.
size_t TAndNode::FindFirst(const uint32_t* Rows, size_t N, TFilterOptions O) const {
  size_t Found;
  if (RangeScan<false>(Rows, N, Found) || RangeScan<true>(Rows, N, Found)) return Found;
  return TFilterNode::FindFirst(Rows, N, O);
}

template <bool IsInt>
bool TAndNode::RangeScan(const uint32_t* Rows, size_t N, size_t& Found) const {
  const auto* A = dynamic_cast<const TColumnNumberNode<IsInt>*>(L.get());
  const auto* B = dynamic_cast<const TColumnNumberNode<IsInt>*>(R.get());
  if (!A || !B || A->Col != B->Col) return false;
  Found = A->Scan(Rows, N, B);
  return true;
}

// A stored text column against a text.
struct TColumnTextNode : TFilterNode {
  const TColumn* Col = nullptr;
  const TTableStore* Store = nullptr;
  int ColNo = -1;
  TFilterCompareOp Op = TFilterCompareOp::Eq;
  TTextConst Value;
  // The store's folded copies of the column (without and with case), looked up once.
  mutable std::atomic<const TColumn*> FoldedCols[2] = {nullptr, nullptr};

  const TColumn& Folded(TFilterOptions O) const {
    const int C = (O & foCaseInsensitive) ? 1 : 0;
    const TColumn* F = FoldedCols[C].load(std::memory_order_acquire);
    if (!F) {
      F = &Store->FoldedColumn(ColNo, C == 1);
      FoldedCols[C].store(F, std::memory_order_release);
    }
    return *F;
  }
  bool Eval(uint32_t Row, TFilterOptions O) const override {
    if (O & foAccentInsensitive) {
      const TColumn& F = Folded(O);
      return !F.IsNull(Row) && Value.TestFolded(Op, F.Str(Row), O);
    }
    if (Col->IsNull(Row)) return false;
    return Value.Test(Op, Col->Str(Row), O);
  }
  // Equality and "starts with" get loops of their own, without a call per row: with letter
  // case only values of the constant's length are compared, and the length comes from the
  // offsets, so most rows never touch the text; ignoring case most rows are told apart by their
  // first letters. Ignoring accents the same loops run over the store's folded copy.
  size_t FindFirst(const uint32_t* Rows, size_t N, TFilterOptions O) const override {
    if (O & foAccentInsensitive) return FindFolded(Rows, N, O);
    if (Op != TFilterCompareOp::Eq) return TFilterNode::FindFirst(Rows, N, O);
    const bool IgnoreCase = (O & foCaseInsensitive) != 0;
    if (Value.Partial(O)) {
      if (!IgnoreCase) return TFilterNode::FindFirst(Rows, N, O);
      return Scan(Rows, N,
                  [&](std::string_view V) { return StartsWithLower(V, Value.LowerPrefix); });
    }
    if (IgnoreCase)
      return Scan(Rows, N, [&](std::string_view V) { return SameLowerText(V, Value.Lower); });
    if (Value.Whole.empty()) return TFilterNode::FindFirst(Rows, N, O);
    const std::string_view Want = Value.Whole;
    for (size_t I = 0; I < N; ++I) {
      const std::string_view V = Col->Str(Rows[I]);
      if (V.size() == Want.size() && std::memcmp(V.data(), Want.data(), Want.size()) == 0 &&
          !Col->IsNull(Rows[I]))
        return I;
    }
    return N;
  }

 private:
  template <class F>
  size_t Scan(const uint32_t* Rows, size_t N, F&& Match) const {
    return ScanColumn(*Col, Rows, N, Match);
  }
  template <class F>
  static size_t ScanColumn(const TColumn& C, const uint32_t* Rows, size_t N, F&& Match) {
    for (size_t I = 0; I < N; ++I)
      if (!C.IsNull(Rows[I]) && Match(C.Str(Rows[I]))) return I;
    return N;
  }
  size_t FindFolded(const uint32_t* Rows, size_t N, TFilterOptions O) const {
    const TColumn& F = Folded(O);
    const int C = (O & foCaseInsensitive) ? 1 : 0;
    if (Op == TFilterCompareOp::Eq && Value.Partial(O)) {
      const std::string_view P = Value.FoldedPrefix[C];
      return ScanColumn(F, Rows, N, [&](std::string_view V) { return V.starts_with(P); });
    }
    if (Op == TFilterCompareOp::Eq) {
      const std::string_view Want = Value.Folded[C];
      return ScanColumn(F, Rows, N, [&](std::string_view V) {
        return V.size() == Want.size() && std::memcmp(V.data(), Want.data(), Want.size()) == 0;
      });
    }
    return ScanColumn(F, Rows, N, [&](std::string_view V) { return Value.TestFolded(Op, V, O); });
  }
};

// A computed (lookup or calculated) field against a constant.
struct TComputedConstNode : TFilterNode {
  TSource S;
  TFilterCompareOp Op = TFilterCompareOp::Eq;
  double Number = 0;
  TTextConst Text;
  bool Eval(uint32_t Row, TFilterOptions O) const override {
    TCell C;
    if (!Fetch(S, Row, C)) return false;
    return S.Kind == TCmpKind::Number ? TestNumbers(Op, C.Num, Number) : Text.Test(Op, C.Str, O);
  }
};

// Two fields of the row.
struct TFieldFieldNode : TFilterNode {
  TSource L, R;
  TFilterCompareOp Op = TFilterCompareOp::Eq;
  bool Eval(uint32_t Row, TFilterOptions O) const override {
    TCell A, B;
    if (!Fetch(L, Row, A) || !Fetch(R, Row, B)) return false;
    if (L.Kind == TCmpKind::Number) return TestNumbers(Op, A.Num, B.Num);
    if (O & foAccentInsensitive) {
      thread_local std::string FA, FB;
      FoldTextInto(A.Str, (O & foCaseInsensitive) != 0, FA);
      FoldTextInto(B.Str, (O & foCaseInsensitive) != 0, FB);
      return TestTexts(Op, FA, FB, false);
    }
    return TestTexts(Op, A.Str, B.Str, (O & foCaseInsensitive) != 0);
  }
};

// ---- compiling

class TFilterCompiler {
 public:
  TFilterCompiler(const TDataSet& DS, const TTableStore* Store) : FDataSet(DS), FStore(Store) {}
  // The stored columns the compiled filter reads.
  const std::vector<const TColumn*>& Columns() const { return FColumns; }

  TNodePtr Compile(const TFilterExpr& E) {
    switch (E.Kind) {
      case TFilterExpr::TKind::And: {
        auto N = std::make_unique<TAndNode>();
        N->L = Compile(*E.Left);
        N->R = Compile(*E.Right);
        return N;
      }
      case TFilterExpr::TKind::Or: {
        auto N = std::make_unique<TOrNode>();
        N->L = Compile(*E.Left);
        N->R = Compile(*E.Right);
        return N;
      }
      case TFilterExpr::TKind::Not: {
        auto N = std::make_unique<TNotNode>();
        N->E = Compile(*E.Left);
        return N;
      }
      case TFilterExpr::TKind::Compare:
        break;
    }
    return Comparison(E);
  }

 private:
  const TDataSet& FDataSet;
  const TTableStore* FStore;
  std::vector<const TColumn*> FColumns;

  const TField& ResolveField(const TFilterToken& T) {
    const TField* F = FDataSet.FindField(T.Value);
    if (!F)
      throw EDatabaseError("Campo '" + T.Value + "' no encontrado (posición " +
                           std::to_string(T.Pos) + ")");
    return *F;
  }

  TSource SourceOf(const TField& F) {
    TSource S;
    S.Field = &F;
    if (F.FieldKind() == fkData && FStore && F.FieldNo() >= 0 &&
        F.FieldNo() < static_cast<int>(FStore->Columns.size())) {
      S.Col = &FStore->Columns[F.FieldNo()];
      S.ColNo = F.FieldNo();
      if (std::find(FColumns.begin(), FColumns.end(), S.Col) == FColumns.end())
        FColumns.push_back(S.Col);
      switch (S.Col->Kind()) {
        case TStorageKind::Int:
          S.Where = TSource::TWhere::IntColumn;
          break;
        case TStorageKind::Double:
          S.Where = TSource::TWhere::DoubleColumn;
          break;
        case TStorageKind::String:
          S.Where = TSource::TWhere::TextColumn;
          break;
      }
      S.Kind = S.Where == TSource::TWhere::TextColumn ? TCmpKind::Text : TCmpKind::Number;
    } else {
      S.Where = TSource::TWhere::Computed;
      S.Kind =
          StorageKindOf(F.DataType()) == TStorageKind::String ? TCmpKind::Text : TCmpKind::Number;
    }
    return S;
  }

  static TNodePtr NullTest(const TSource& S, TFilterCompareOp Op) {
    // Only equality asks about emptiness; ordering against an empty value is never true.
    if (Op != TFilterCompareOp::Eq && Op != TFilterCompareOp::Ne)
      return std::make_unique<TConstNode>(false);
    auto N = std::make_unique<TNullTestNode>();
    N->S = S;
    N->WantNull = Op == TFilterCompareOp::Eq;
    return N;
  }

  TNodePtr Comparison(const TFilterExpr& E) {
    const TFilterToken* L = &E.LeftOperand;
    const TFilterToken* R = &E.RightOperand;
    TFilterCompareOp Op = E.Op;
    if (L->Kind != K::Name) {
      // constant op field reads as field op' constant.
      std::swap(L, R);
      Op = MirrorCompareOp(Op);
    }
    const TField& LF = ResolveField(*L);
    const TSource LS = SourceOf(LF);

    if (R->Kind == K::Name) {
      const TField& RF = ResolveField(*R);
      const TSource RS = SourceOf(RF);
      if (LS.Kind != RS.Kind)
        throw EDatabaseError("Filtro no válido en la posición " + std::to_string(E.OpToken.Pos) +
                             ": no se puede comparar el campo " + LF.FieldName() +
                             " con el campo " + RF.FieldName());
      auto N = std::make_unique<TFieldFieldNode>();
      N->L = LS;
      N->R = RS;
      N->Op = Op;
      return N;
    }
    if (R->Kind == K::Null || (R->Kind == K::String && R->Value.empty())) return NullTest(LS, Op);

    double Number = 0;
    TTextConst Text;
    if (LS.Kind == TCmpKind::Text) {
      if (R->Kind == K::True || R->Kind == K::False) RaiseFilterValueError(*R, LF);
      Text.Set(R->Kind == K::String ? R->Value : R->Source,
               R->Kind == K::String && (Op == TFilterCompareOp::Eq || Op == TFilterCompareOp::Ne));
    } else {
      Number = FilterConstantNumber(*R, LF);
    }

    switch (LS.Where) {
      case TSource::TWhere::IntColumn: {
        auto N = std::make_unique<TColumnNumberNode<true>>();
        N->Col = LS.Col;
        N->Op = Op;
        N->Value = Number;
        return N;
      }
      case TSource::TWhere::DoubleColumn: {
        auto N = std::make_unique<TColumnNumberNode<false>>();
        N->Col = LS.Col;
        N->Op = Op;
        N->Value = Number;
        return N;
      }
      case TSource::TWhere::TextColumn: {
        auto N = std::make_unique<TColumnTextNode>();
        N->Col = LS.Col;
        N->Store = FStore;
        N->ColNo = LS.ColNo;
        N->Op = Op;
        N->Value = std::move(Text);
        return N;
      }
      case TSource::TWhere::Computed:
        break;
    }
    auto N = std::make_unique<TComputedConstNode>();
    N->S = LS;
    N->Op = Op;
    N->Number = Number;
    N->Text = std::move(Text);
    return N;
  }
};

}  // namespace

struct TFilterProgram::TImpl {
  // Null: the filter is blank and every row matches.
  TNodePtr Root;
  std::vector<const TColumn*> Columns;  // the stored columns it reads
  // Decodes the columns a scan over Rows rows reads in one pass each, rather than chunk by
  // chunk; a scan of a few rows decodes only their chunks.
  void PrepareScan(size_t Rows) const {
    if (Rows > kColumnChunkRows)
      for (const TColumn* C : Columns) C->Decode();
  }
};

TFilterProgram::TFilterProgram() : FImpl(std::make_unique<TImpl>()) {}
TFilterProgram::~TFilterProgram() = default;

std::unique_ptr<TFilterProgram> TFilterProgram::Compile(const std::string& Text,
                                                        const TDataSet& DataSet) {
  std::unique_ptr<TFilterExpr> Tree = ParseFilter(Text);
  std::unique_ptr<TFilterProgram> P(new TFilterProgram());
  if (!Tree) return P;
  if (!DataSet.Store())
    throw EDatabaseError("No se puede aplicar el filtro: el conjunto de datos no está abierto");
  TFilterCompiler Compiler(DataSet, DataSet.Store());
  P->FImpl->Root = Compiler.Compile(*Tree);
  P->FImpl->Columns = Compiler.Columns();
  return P;
}

bool TFilterProgram::Matches(uint32_t Row, TFilterOptions Options) const {
  return !FImpl->Root || FImpl->Root->Eval(Row, Options);
}

size_t TFilterProgram::FindFirst(const std::vector<uint32_t>& Rows, size_t From,
                                 TFilterOptions Options) const {
  const size_t N = Rows.size();
  if (From >= N) return N;
  if (!FImpl->Root) return From;
  FImpl->PrepareScan(N - From);
  // A chunk of rows at a time, telling how far the scan has come at the end of each chunk (the
  // chunks are fixed positions of Rows, so that a scan resumed after each match, as Apply does,
  // reports as often as one that runs through).
  for (size_t At = From;;) {
    const size_t End = std::min(N, (At / kScanProgressRows + 1) * kScanProgressRows);
    const size_t Found = At + FImpl->Root->FindFirst(Rows.data() + At, End - At, Options);
    if (Found < End || End == N) return Found;
    At = End;
    ReportProgress("Buscando", static_cast<int64_t>(At), static_cast<int64_t>(N));
  }
}

void TFilterProgram::Apply(std::vector<uint32_t>& Rows, TFilterOptions Options) const {
  size_t Kept = 0;
  size_t NextReport = kScanProgressRows;
  for (size_t I = FindFirst(Rows, 0, Options); I < Rows.size();
       I = FindFirst(Rows, I + 1, Options)) {
    Rows[Kept++] = Rows[I];
    // Matches close together end FindFirst's scans before its chunks do.
    if (I >= NextReport) {
      NextReport = (I / kScanProgressRows + 1) * kScanProgressRows;
      ReportProgress("Buscando", static_cast<int64_t>(I), static_cast<int64_t>(Rows.size()));
    }
  }
  Rows.resize(Kept);
}

}  // namespace kv
