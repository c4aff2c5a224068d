// How SQL is written for one kind of database: quoted names, numbered parameters, and the
// expressions that give texts, Nulls and order the meaning they have over table files. The
// filter's WHERE emitter, the local SQL's emitter and the database cursors write through it, so
// a value never becomes part of a statement's text and a name is always quoted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "FieldTypes.h"
#include "Variant.h"

namespace kv {

// Expr without its accents (StripAccents) in PostgreSQL's own functions; see Unaccent.
std::string PortableUnaccent(const std::string& Expr);

class TSqlDialect {
 public:
  virtual ~TSqlDialect();
  // The kind of database, for messages ("SQLite", "PostgreSQL").
  virtual const char* Name() const = 0;
  // A name as a quoted identifier, double quotes doubled.
  virtual std::string QuoteName(std::string_view Name) const;
  // The N-th (1-based) parameter of a statement.
  virtual std::string Parameter(int N) const = 0;
  // A text's lower-case form, the one AnsiLowerCase gives.
  virtual std::string Lower(const std::string& Expr) const = 0;
  // A text without its accents, as StripAccents gives it (see Unicode.h). By default an
  // expression of PostgreSQL's own functions (replace, translate over the accent table,
  // char_length, octet_length, ~), which needs no extension or function of ours on the server.
  virtual std::string Unaccent(const std::string& Expr) const;
  // A text in the form FoldText gives (accents ignored, case too when IgnoreCase), compared in
  // code point order.
  std::string Folded(const std::string& Expr, bool IgnoreCase) const {
    return InByteOrder(Unaccent(IgnoreCase ? Lower(Expr) : Expr));
  }
  // A text expression compared in code point order (byte order of UTF-8), as the platform
  // compares texts when letter case counts.
  virtual std::string InByteOrder(const std::string& Expr) const { return Expr; }
  // A column (quoted) of type T as a term of the records' order and of the keyset predicates
  // that read it, so that both go by the order the platform gives that type.
  virtual std::string SortColumn(const std::string& Quoted, TFieldType T) const {
    (void)T;
    return Quoted;
  }
  // Whether the text Expr starts with Prefix (not empty), as a condition; Prefix is added to
  // Params through Add.
  virtual std::string StartsWith(const std::string& Expr, const std::string& Prefix,
                                 class TSqlParams& Params) const = 0;
  // One term of ORDER BY: Nulls come first ascending and last descending, as they do over table
  // files.
  virtual std::string OrderTerm(const std::string& Expr, bool Desc) const;
  // A condition true where Condition is false or unknown (a comparison with Null): the filter's
  // "not" has two values.
  virtual std::string NotTrue(const std::string& Condition) const;
  // A scalar function of the local SQL (name in capitals) and a [NOT] LIKE, with the meaning
  // they have over table files; Plain is the call as the local SQL writes it.
  virtual std::string Call(const std::string& Name, const std::vector<std::string>& Args,
                           const std::string& Plain) const {
    (void)Name;
    (void)Args;
    return Plain;
  }
  virtual std::string Like(const std::string& Expr, const std::string& Pattern, bool Not,
                           const std::string& Escape, const std::string& Plain) const {
    (void)Expr;
    (void)Pattern;
    (void)Not;
    (void)Escape;
    return Plain;
  }
  // Reads only the first N rows of a statement ending in ORDER BY (and skips Offset).
  virtual std::string Limit(int64_t N, int64_t Offset) const;
};

// A statement's parameters, in order, each with the field type its value is compared as (the
// database stores each type its own way: see the backends).
struct TSqlParam {
  Variant Value;
  TFieldType Type = ftUnknown;
};

class TSqlParams {
 public:
  explicit TSqlParams(const TSqlDialect& Dialect) : FDialect(Dialect) {}
  // Adds a parameter; returns its place in the statement's text.
  std::string Add(Variant Value, TFieldType Type);
  const TSqlDialect& Dialect() const { return FDialect; }
  std::vector<TSqlParam> Items;

 private:
  const TSqlDialect& FDialect;
};

}  // namespace kv
