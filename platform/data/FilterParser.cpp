// Recursive-descent parser of the dataset filter language (grammar in FilterParser.h).
#include "FilterParser.h"

#include <vector>

namespace kv {

namespace {

using K = TFilterTokenKind;

bool IsOperand(K Kind) {
  return Kind == K::Name || Kind == K::String || Kind == K::Number || Kind == K::Null ||
         Kind == K::True || Kind == K::False;
}

bool IsCompareOp(K Kind, TFilterCompareOp& Op) {
  switch (Kind) {
    case K::Eq:
      Op = TFilterCompareOp::Eq;
      return true;
    case K::Ne:
      Op = TFilterCompareOp::Ne;
      return true;
    case K::Lt:
      Op = TFilterCompareOp::Lt;
      return true;
    case K::Gt:
      Op = TFilterCompareOp::Gt;
      return true;
    case K::Le:
      Op = TFilterCompareOp::Le;
      return true;
    case K::Ge:
      Op = TFilterCompareOp::Ge;
      return true;
    default:
      return false;
  }
}

class TFilterParser {
 public:
  explicit TFilterParser(std::vector<TFilterToken> Tokens) : FTokens(std::move(Tokens)) {}

  std::unique_ptr<TFilterExpr> Run() {
    if (Peek().Kind == K::End) return nullptr;
    auto E = OrExpr();
    if (Peek().Kind != K::End) {
      RaiseFilterError(Peek(), Peek().Kind == K::RParen
                                   ? "sobra el paréntesis de cierre"
                                   : "se esperaba 'and', 'or' o el fin del texto");
    }
    return E;
  }

 private:
  std::vector<TFilterToken> FTokens;
  size_t FAt = 0;
  int FDepth = 0;

  const TFilterToken& Peek() const { return FTokens[FAt]; }
  const TFilterToken& Take() { return FTokens[FAt < FTokens.size() - 1 ? FAt++ : FAt]; }

  // A deeply nested text must end in an error, not in a stack overflow.
  void Enter() {
    if (++FDepth > 200) RaiseFilterError(Peek(), "demasiados niveles de anidamiento");
  }

  static std::unique_ptr<TFilterExpr> Join(TFilterExpr::TKind Kind, std::unique_ptr<TFilterExpr> L,
                                           std::unique_ptr<TFilterExpr> R) {
    auto E = std::make_unique<TFilterExpr>();
    E->Kind = Kind;
    E->Left = std::move(L);
    E->Right = std::move(R);
    return E;
  }

  // A run of one connector becomes a balanced tree (the same grouping for two or three
  // operands): compiling, testing and freeing a tree recurse, so a long "a or b or c ..." must
  // not make a tree as deep as the run is long.
  static std::unique_ptr<TFilterExpr> Balance(TFilterExpr::TKind Kind,
                                              std::vector<std::unique_ptr<TFilterExpr>>& Items,
                                              size_t From, size_t To) {
    if (To - From == 1) return std::move(Items[From]);
    const size_t Mid = From + (To - From + 1) / 2;
    auto L = Balance(Kind, Items, From, Mid);
    return Join(Kind, std::move(L), Balance(Kind, Items, Mid, To));
  }

  std::unique_ptr<TFilterExpr> OrExpr() {
    std::vector<std::unique_ptr<TFilterExpr>> Items;
    Items.push_back(AndExpr());
    while (Peek().Kind == K::Or) {
      Take();
      Items.push_back(AndExpr());
    }
    return Balance(TFilterExpr::TKind::Or, Items, 0, Items.size());
  }

  std::unique_ptr<TFilterExpr> AndExpr() {
    std::vector<std::unique_ptr<TFilterExpr>> Items;
    Items.push_back(NotExpr());
    while (Peek().Kind == K::And) {
      Take();
      Items.push_back(NotExpr());
    }
    return Balance(TFilterExpr::TKind::And, Items, 0, Items.size());
  }

  std::unique_ptr<TFilterExpr> NotExpr() {
    if (Peek().Kind == K::Not) {
      Enter();
      Take();
      auto E = Join(TFilterExpr::TKind::Not, NotExpr(), nullptr);
      --FDepth;
      return E;
    }
    return Primary();
  }

  std::unique_ptr<TFilterExpr> Primary() {
    if (Peek().Kind == K::LParen) {
      Enter();
      Take();
      auto E = OrExpr();
      if (Peek().Kind != K::RParen) RaiseFilterError(Peek(), "se esperaba 'and', 'or' o ')'");
      Take();
      --FDepth;
      return E;
    }
    return Comparison();
  }

  std::unique_ptr<TFilterExpr> Comparison() {
    auto E = std::make_unique<TFilterExpr>();
    E->Kind = TFilterExpr::TKind::Compare;
    if (!IsOperand(Peek().Kind)) RaiseFilterError(Peek(), "se esperaba un campo o un valor");
    E->LeftOperand = Take();
    if (!IsCompareOp(Peek().Kind, E->Op))
      RaiseFilterError(Peek(), "se esperaba un operador de comparación");
    E->OpToken = Take();
    if (!IsOperand(Peek().Kind)) RaiseFilterError(Peek(), "se esperaba un campo o un valor");
    E->RightOperand = Take();
    if (E->LeftOperand.Kind != K::Name && E->RightOperand.Kind != K::Name)
      RaiseFilterError(E->RightOperand, "se esperaba un nombre de campo");
    return E;
  }
};

void Render(const TFilterExpr& E, std::string& Out) {
  switch (E.Kind) {
    case TFilterExpr::TKind::Or:
    case TFilterExpr::TKind::And:
      Out += E.Kind == TFilterExpr::TKind::Or ? "(or " : "(and ";
      Render(*E.Left, Out);
      Out += ' ';
      Render(*E.Right, Out);
      Out += ')';
      break;
    case TFilterExpr::TKind::Not:
      Out += "(not ";
      Render(*E.Left, Out);
      Out += ')';
      break;
    case TFilterExpr::TKind::Compare:
      Out += '(';
      Out += FilterCompareOpText(E.Op);
      for (const TFilterToken* T : {&E.LeftOperand, &E.RightOperand}) {
        Out += ' ';
        if (T->Kind == K::Name)
          Out += T->Value.find(' ') == std::string::npos ? T->Value : "[" + T->Value + "]";
        else
          Out += T->Source;
      }
      Out += ')';
      break;
  }
}

}  // namespace

std::unique_ptr<TFilterExpr> ParseFilter(std::string_view Text) {
  return TFilterParser(TokenizeFilter(Text)).Run();
}

std::string FilterExprToString(const TFilterExpr& E) {
  std::string Out;
  Render(E, Out);
  return Out;
}

const char* FilterCompareOpText(TFilterCompareOp Op) {
  switch (Op) {
    case TFilterCompareOp::Eq:
      return "=";
    case TFilterCompareOp::Ne:
      return "<>";
    case TFilterCompareOp::Lt:
      return "<";
    case TFilterCompareOp::Gt:
      return ">";
    case TFilterCompareOp::Le:
      return "<=";
    case TFilterCompareOp::Ge:
      return ">=";
  }
  return "?";
}

}  // namespace kv
