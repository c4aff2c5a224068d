// The parse tree of the local SQL: expressions, SELECT and ALTER TABLE statements.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kv {

enum class TSqlExprKind {
  Number,  // Text: the number as written; IsFloat tells its kind
  String,  // 'text'
  Quoted,  // a lone "text": a field when a listed table has it, else a string constant
  Null,
  Boolean,   // TRUE / FALSE in Text ("1" / "0")
  Column,    // [Qualifier.]Name
  Unary,     // Op: "NOT", "-", "+"
  Binary,    // Op: "OR", "AND", "=", "<>", "<", ">", "<=", ">=", "+", "-", "*", "/", "%", "||",
             // "LIKE"; a long run of one AND or one OR is halved into a balanced tree, so a
             // list of thousands of alternatives stays a few dozen levels high
  IsNull,    // Args[0] IS [NOT] NULL
  Between,   // Args[0] [NOT] BETWEEN Args[1] AND Args[2]
  InList,    // Args[0] [NOT] IN (Args[1..])
  Function,  // Op: upper-case name; Star for COUNT(*); Distinct for aggregates
  Case,      // CASE [Args[0] when HasOperand] WHEN a THEN b ... [ELSE e] END
};

struct TSqlExpr {
  TSqlExprKind Kind = TSqlExprKind::Null;
  int Pos = 0;       // 1-based position of the expression's first token
  size_t Begin = 0;  // byte range of the expression as written
  size_t End = 0;
  std::string Op;
  std::string Text;  // constant value, or the field name of a Column
  bool IsFloat = false;
  std::string Qualifier;  // table part of a Column ("" when unqualified)
  int QualifierPos = 0;
  int NamePos = 0;          // position of a Column's field name
  bool Not = false;         // NOT LIKE, IS NOT NULL, NOT BETWEEN, NOT IN
  bool Distinct = false;    // COUNT(DISTINCT x)
  bool Star = false;        // COUNT(*)
  bool HasOperand = false;  // CASE x WHEN ...
  bool HasElse = false;
  int Height = 1;  // levels of the subtree, bounded so that no walk overflows the stack
  std::vector<std::unique_ptr<TSqlExpr>> Args;
};
using TSqlExprPtr = std::unique_ptr<TSqlExpr>;

struct TSqlSelectItem {
  TSqlExprPtr Expr;  // null for * and table.*
  bool Star = false;
  std::string StarQualifier;  // table of table.* ("" for a plain *)
  int Pos = 0;
  std::string Alias;
};

enum class TSqlJoinKind { List, Inner, Left };

struct TSqlTableRef {
  std::string Name;  // the table as written, quotes removed
  bool Quoted = false;
  int Pos = 0;
  std::string Alias;
  TSqlJoinKind Join = TSqlJoinKind::List;  // how it joins the tables before it
  TSqlExprPtr On;
};

struct TSqlOrderItem {
  TSqlExprPtr Expr;
  bool Desc = false;
};

// Where a clause of a SELECT lies in the statement as written, in bytes: its keyword starts at
// Keyword, its own text runs from just after the keyword(s) (Begin) to the end of its last token
// (End). All zero when the statement has no such clause.
struct TSqlSpan {
  size_t Keyword = 0;
  size_t Begin = 0;
  size_t End = 0;
  bool Present() const { return End > 0; }
};

struct TSqlSelect {
  bool Distinct = false;
  std::vector<TSqlSelectItem> Items;
  std::vector<TSqlTableRef> From;
  TSqlExprPtr Where;
  std::vector<TSqlExprPtr> GroupBy;
  TSqlExprPtr Having;
  std::vector<TSqlOrderItem> OrderBy;
  // The clauses as written (the select list's span includes DISTINCT or ALL), so a statement
  // can be put together again around them.
  TSqlSpan ListSpan, FromSpan, WhereSpan, GroupBySpan, HavingSpan, OrderBySpan;
};

struct TSqlDropColumn {
  std::string Qualifier;  // "" when the field is written alone
  int QualifierPos = 0;
  std::string Field;
  int Pos = 0;
};

struct TSqlAlterTable {
  std::string Table;
  int Pos = 0;
  std::vector<TSqlDropColumn> Drops;
};

struct TSqlStatement {
  std::string Source;  // the statement as written
  int Pos = 1;         // position of its first word
  std::unique_ptr<TSqlSelect> Select;
  std::unique_ptr<TSqlAlterTable> Alter;
};

}  // namespace kv
