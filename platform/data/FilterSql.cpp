// The filter tree written as SQL (see FilterSql.h). Each comparison is written so that it is
// true in SQL exactly where the filter over table files accepts the row; "and" and "or" then
// agree too, and "not" is written as "is not true".
#include "FilterSql.h"

#include "FilterParser.h"
#include "FilterValues.h"
#include "Unicode.h"

namespace kv {

namespace {

using K = TFilterTokenKind;
using TOp = TFilterCompareOp;

bool IsText(const TField& F) {
  return StorageKindOf(F.DataType()) == TStorageKind::String;
}

const char* const kFalse = "(1 = 0)";

// A text field is empty when it is Null or holds an empty text: table files store both as Null.
std::string TextIsEmpty(const std::string& E) {
  return "(" + E + " IS NULL OR " + E + " = '')";
}
std::string TextNotEmpty(const std::string& E) {
  return "(" + E + " <> '')";
}

std::string EmptyTest(const TField& F, const std::string& E, bool WantEmpty) {
  if (IsText(F)) return WantEmpty ? TextIsEmpty(E) : TextNotEmpty(E);
  return "(" + E + (WantEmpty ? " IS NULL)" : " IS NOT NULL)");
}

// The value a number, date or boolean field compares with Number, typed for binding.
Variant TypedNumber(TFieldType T, double Number) {
  if (IsDateTimeType(T)) return Variant(TDateTime(Number));
  if (T == ftBoolean) return Variant(Number != 0);
  return Variant(Number);
}

// The value a locate compares with a field of type Type, read as Locate reads it over table
// files (a whole number as it is: a database's may need 64 bits).
Variant LocateValue(TFieldType Type, const std::string& Name, const Variant& Value) {
  if (Value.IsOrdinal() && StorageKindOf(Type) == TStorageKind::Int && Type != ftBoolean)
    return Value;
  try {
    TColumn Tmp(Type);
    Tmp.AppendVariant(Value);
    return Tmp.Value(0);
  } catch (const Exception&) {
    throw EDatabaseError("Locate: el valor '" + Value.AsString() + "' no es válido para el campo " +
                         Name);
  }
}

class TFilterEmitter {
 public:
  TFilterEmitter(const TDataSet& DS, TFilterOptions Options, const TFieldSql& FieldSql,
                 TSqlParams& Params)
      : FDataSet(DS),
        FOptions(Options),
        FFieldSql(FieldSql),
        FParams(Params),
        FDialect(Params.Dialect()) {}

  std::string Emit(const TFilterExpr& E) {
    switch (E.Kind) {
      case TFilterExpr::TKind::And:
        return "(" + Emit(*E.Left) + " AND " + Emit(*E.Right) + ")";
      case TFilterExpr::TKind::Or:
        return "(" + Emit(*E.Left) + " OR " + Emit(*E.Right) + ")";
      case TFilterExpr::TKind::Not:
        return FDialect.NotTrue(Emit(*E.Left));
      case TFilterExpr::TKind::Compare:
        break;
    }
    return Comparison(E);
  }

 private:
  const TDataSet& FDataSet;
  const TFilterOptions FOptions;
  const TFieldSql& FFieldSql;
  TSqlParams& FParams;
  const TSqlDialect& FDialect;

  bool IgnoreCase() const { return (FOptions & foCaseInsensitive) != 0; }
  bool IgnoreAccents() const { return (FOptions & foAccentInsensitive) != 0; }
  // A constant in the form TextForm compares it as.
  std::string ConstantForm(const std::string& C) const {
    if (IgnoreAccents()) return FoldText(C, IgnoreCase());
    return IgnoreCase() ? AnsiLowerCase(C) : C;
  }

  const TField& ResolveField(const TFilterToken& T) const {
    const TField* F = FDataSet.FindField(T.Value);
    if (!F)
      throw EDatabaseError("Campo '" + T.Value + "' no encontrado (posición " +
                           std::to_string(T.Pos) + ")");
    return *F;
  }

  // The expression a text is compared as: its lower-case form, or in code point order.
  std::string TextForm(const std::string& E) const {
    if (IgnoreAccents()) return FDialect.Folded(E, IgnoreCase());
    return IgnoreCase() ? FDialect.Lower(E) : FDialect.InByteOrder(E);
  }

  // A text field E against a text constant C (not empty): an ordinary comparison.
  std::string TextCompare(const std::string& E, TOp Op, const std::string& C) {
    const std::string P = FParams.Add(ConstantForm(C), ftString);
    const std::string Test = "(" + TextForm(E) + " " + FilterCompareOpText(Op) + " " + P + ")";
    // An empty text is less than any other in SQL, and no value at all over table files.
    if (Op == TOp::Ne || Op == TOp::Lt || Op == TOp::Le)
      return "(" + Test + " AND " + TextNotEmpty(E) + ")";
    return Test;
  }

  // A text field E against a prefix: starts with it (Eq) or does not (Ne).
  std::string PrefixTest(const std::string& E, TOp Op, const std::string& Prefix) {
    // Every text that is there starts with the empty prefix.
    if (Prefix.empty()) return Op == TOp::Eq ? TextNotEmpty(E) : kFalse;
    const std::string Starts = FDialect.StartsWith(TextForm(E), ConstantForm(Prefix), FParams);
    if (Op == TOp::Eq) return Starts;
    return "(" + TextNotEmpty(E) + " AND " + FDialect.NotTrue(Starts) + ")";
  }

  std::string Comparison(const TFilterExpr& E) {
    const TFilterToken* L = &E.LeftOperand;
    const TFilterToken* R = &E.RightOperand;
    TOp Op = E.Op;
    if (L->Kind != K::Name) {
      std::swap(L, R);
      Op = MirrorCompareOp(Op);
    }
    const TField& LF = ResolveField(*L);
    const std::string LE = FFieldSql(LF);

    if (R->Kind == K::Name) {
      const TField& RF = ResolveField(*R);
      if (IsText(LF) != IsText(RF))
        throw EDatabaseError("Filtro no válido en la posición " + std::to_string(E.OpToken.Pos) +
                             ": no se puede comparar el campo " + LF.FieldName() +
                             " con el campo " + RF.FieldName());
      const std::string RE = FFieldSql(RF);
      const std::string OpText = FilterCompareOpText(Op);
      if (!IsText(LF)) return "(" + LE + " " + OpText + " " + RE + ")";
      return "(" + TextForm(LE) + " " + OpText + " " + TextForm(RE) + " AND " + TextNotEmpty(LE) +
             " AND " + TextNotEmpty(RE) + ")";
    }
    if (R->Kind == K::Null || (R->Kind == K::String && R->Value.empty())) {
      // Only equality asks about emptiness; ordering against an empty value is never true.
      if (Op != TOp::Eq && Op != TOp::Ne) return kFalse;
      return EmptyTest(LF, LE, Op == TOp::Eq);
    }

    if (IsText(LF)) {
      if (R->Kind == K::True || R->Kind == K::False) RaiseFilterValueError(*R, LF);
      const std::string C = R->Kind == K::String ? R->Value : R->Source;
      const bool Prefix = R->Kind == K::String && (Op == TOp::Eq || Op == TOp::Ne) &&
                          C.back() == '*' && (FOptions & foNoPartialCompare) == 0;
      if (Prefix) return PrefixTest(LE, Op, C.substr(0, C.size() - 1));
      return TextCompare(LE, Op, C);
    }
    const double Number = FilterConstantNumber(*R, LF);
    return "(" + LE + " " + FilterCompareOpText(Op) + " " +
           FParams.Add(TypedNumber(LF.DataType(), Number), LF.DataType()) + ")";
  }
};

}  // namespace

std::string FilterToSql(const std::string& Text, const TDataSet& DataSet, TFilterOptions Options,
                        const TFieldSql& FieldSql, TSqlParams& Params) {
  const std::unique_ptr<TFilterExpr> Tree = ParseFilter(Text);
  if (!Tree) return std::string();
  return TFilterEmitter(DataSet, Options, FieldSql, Params).Emit(*Tree);
}

std::string LocateToSql(const TField& Field, const std::string& Expr, const Variant& Value,
                        TLocateOptions Options, TSqlParams& Params) {
  return LocateToSql(Field.DataType(), Field.FieldName(), Expr, Value, Options, Params);
}

std::string LocateToSql(TFieldType Type, const std::string& Name, const std::string& Expr,
                        const Variant& Value, TLocateOptions Options, TSqlParams& Params) {
  const bool Text = StorageKindOf(Type) == TStorageKind::String;
  if (Value.IsNullOrEmpty() || (Value.IsString() && Value.AsString().empty()))
    return Text ? TextIsEmpty(Expr) : "(" + Expr + " IS NULL)";
  const TSqlDialect& D = Params.Dialect();
  if (Text) {
    const bool IgnoreCase = (Options & loCaseInsensitive) != 0;
    const bool IgnoreAccents = (Options & loAccentInsensitive) != 0;
    const std::string S = IgnoreAccents ? FoldText(Value.AsString(), IgnoreCase)
                          : IgnoreCase  ? AnsiLowerCase(Value.AsString())
                                        : Value.AsString();
    const std::string E = IgnoreAccents ? D.Folded(Expr, IgnoreCase)
                          : IgnoreCase  ? D.Lower(Expr)
                                        : D.InByteOrder(Expr);
    if (Options & loPartialKey) return D.StartsWith(E, S, Params);
    return "(" + E + " = " + Params.Add(S, ftString) + ")";
  }
  return "(" + Expr + " = " + Params.Add(LocateValue(Type, Name, Value), Type) + ")";
}

}  // namespace kv
