// Tokens of the dataset filter language, each with its 1-based character position in the text,
// and the error that names a position and a token.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kv {

enum class TFilterTokenKind {
  Name,    // Amount, [Last Name]
  String,  // 'text' with a doubled quote standing for one
  Number,  // 123, 12.5, -3 (always '.' as the decimal point)
  Null,
  True,
  False,
  And,
  Or,
  Not,
  LParen,
  RParen,
  Eq,
  Ne,
  Lt,
  Gt,
  Le,
  Ge,
  End,
};

struct TFilterToken {
  TFilterTokenKind Kind = TFilterTokenKind::End;
  // Names without brackets, texts without quotes (doubled quotes resolved), numbers as written.
  std::string Value;
  // The token exactly as written in the filter text (empty for End).
  std::string Source;
  // 1-based position in characters (not bytes) of the token's first character.
  int Pos = 0;
};

// Splits Text into tokens, the last one End (at the position after the last character).
// Raises EDatabaseError naming the position and the offending text for an unclosed quote or
// bracket, an unknown character or an operator the language lacks ("><", "==", "!=").
std::vector<TFilterToken> TokenizeFilter(std::string_view Text);

// The token as messages show it: ('and'), 'text' for constants, (fin del texto) for End.
std::string DescribeFilterToken(const TFilterToken& Tok);

// Raises EDatabaseError "Filtro no válido en la posición P (token): What".
[[noreturn]] void RaiseFilterError(const TFilterToken& Tok, std::string_view What);

}  // namespace kv
