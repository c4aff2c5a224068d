// The tokenizer of the local SQL: words, quoted names, string and number constants and
// symbols, each with its 1-based character position for error messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// The error messages every piece of the SQL path raises (as ESQLError).
[[noreturn]] void RaiseSqlSyntaxError(std::string_view Sql, const TSqlToken& Tok);
[[noreturn]] void RaiseSqlError(const std::string& Message);
std::string SqlAtPosition(int Pos);
