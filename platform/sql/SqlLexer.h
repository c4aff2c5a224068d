// The tokenizer of the local SQL: words, quoted names, string and number constants and
// symbols, each with its 1-based character position for error messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "LocalSQL.h"

namespace kv {

enum class TSqlTokenKind {
  End,          // past the last token
  Ident,        // a bare word: keyword or name
  QuotedIdent,  // "text": a table file, a field, or a string constant
  String,       // 'text'
  Integer,
  Float,
  Symbol,  // ( ) , . ; * + - / % = <> < > <= >= ||
};

struct TSqlToken {
  TSqlTokenKind Kind = TSqlTokenKind::End;
  std::string Text;   // the value: quotes removed and doubled quotes undone; symbols normalised
  int Pos = 0;        // 1-based character position in the statement
  size_t Offset = 0;  // byte offset and length of the token as written
  size_t Length = 0;

  // Whether this is the bare word W (any letter case).
  bool IsWord(std::string_view W) const;
  bool IsSymbol(std::string_view S) const { return Kind == TSqlTokenKind::Symbol && Text == S; }
};

// Splits a statement into tokens, ending with one End token. Raises ESQLError for an
// unterminated quote or a character that cannot start a token.
std::vector<TSqlToken> TokenizeSql(std::string_view Sql);

// The 1-based character position of a byte offset in UTF-8 text.
int SqlCharPosition(std::string_view Sql, size_t Offset);

// Whether W is a reserved word of the dialect (never a bare name or alias).
bool IsSqlReservedWord(std::string_view W);

// An identifier / a string constant written safely for SQLite; the local SQL reads a quoted
// name the same way (a doubled quote inside stands for one).
std::string QuoteSqlName(std::string_view Name);
std::string QuoteSqlString(std::string_view Text);
// A name written into a local-SQL statement by a program: as it stands when it is a plain word
// that no keyword takes (so statements read as people write them), else quoted.
std::string LocalSqlName(std::string_view Name);

// An error at one place of a statement. The message names the place; Reason is the message
// without it and Position the 1-based character position, for a caller that wrote the
// statement from a text of its own and points into that text instead.
class ESQLPositionError : public ESQLError {
 public:
  ESQLPositionError(const std::string& Message, std::string Reason, int Position)
      : ESQLError(Message), FReason(std::move(Reason)), FPosition(Position) {}
  const std::string& Reason() const { return FReason; }
  int Position() const { return FPosition; }

 private:
  std::string FReason;
  int FPosition;
};

// The error messages every piece of the SQL path raises: a syntax error at a token, an error
// at a place (Reason + " (posición N)"), and one that belongs to no place.
[[noreturn]] void RaiseSqlSyntaxError(std::string_view Sql, const TSqlToken& Tok);
[[noreturn]] void RaiseSqlErrorAt(const std::string& Reason, int Pos);
[[noreturn]] void RaiseSqlError(const std::string& Message);
std::string SqlAtPosition(int Pos);

}  // namespace kv
