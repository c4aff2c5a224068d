// Parser of the dataset filter language: a recursive descent over the tokens into a tree.
//   filter     := [ or-expr ] end
//   or-expr    := and-expr { OR and-expr }
//   and-expr   := not-expr { AND not-expr }
//   not-expr   := NOT not-expr | primary
//   primary    := '(' or-expr ')' | operand compare-op operand
//   operand    := name | [name] | 'text' | number | NULL | TRUE | FALSE
//   compare-op := = | <> | < | > | <= | >=
// At least one side of a comparison names a field; which names are fields is checked when the
// tree is compiled against a dataset.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "FilterLexer.h"

namespace kv {

enum class TFilterCompareOp { Eq, Ne, Lt, Gt, Le, Ge };

struct TFilterExpr {
  enum class TKind { Or, And, Not, Compare };
  TKind Kind = TKind::Compare;
  // Or/And: both sides; Not: Left only.
  std::unique_ptr<TFilterExpr> Left, Right;
  // Compare: the operator and its operands as tokens (Name, String, Number, Null, True, False).
  TFilterCompareOp Op = TFilterCompareOp::Eq;
  TFilterToken OpToken, LeftOperand, RightOperand;
};

// Parses Text into a tree; null for a text that holds only blanks. Raises EDatabaseError naming
// the position and the token where the text stops making sense.
std::unique_ptr<TFilterExpr> ParseFilter(std::string_view Text);

// A compact rendering of a tree, e.g. "(and (= Name 'x') (not (> Amount 5)))".
std::string FilterExprToString(const TFilterExpr& E);

// The operator's symbol ("=", "<>", ...).
const char* FilterCompareOpText(TFilterCompareOp Op);

}  // namespace kv
