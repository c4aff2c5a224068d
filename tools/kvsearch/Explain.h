// kvsearch --explain on a PostgreSQL database: the statements the search sent, the server's plan
// for each (asked with EXPLAIN and the same parameters, never run), and the index that would
// serve a text search which scans a large table for want of one.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "DbConnection.h"

using namespace kv;

// A table holding more rows than this (as the planner estimates them) is worth an index for a
// search that would read all of it.
inline constexpr double LargeTableRows = 10000;

// One node of a plan, as far as the summary tells it.
struct TPlanNode {
  std::string Type;         // "Seq Scan", "Index Scan", "Aggregate", ...
  std::string Schema;       // the table a scan reads, when it reads one
  std::string Relation;     // its name
  std::string Alias;        // the name the statement gives it
  std::string Index;        // the index a scan uses
  double Rows = 0;          // estimated rows
  double Cost = 0;          // estimated total cost
  bool Unbounded = false;   // an index scan without an index condition
  bool ReadsWhole = false;  // a scan reading every row of its table
  std::vector<TPlanNode> Children;
};

// The plan of EXPLAIN (FORMAT JSON): the top node. Raises Exception for a text of another shape.
TPlanNode ParsePlanJson(std::string_view Json);

// A text condition of a statement that an index over one table could serve.
struct TIndexableCondition {
  enum class TKind { Contains, Prefix, Compare };
  TKind Kind = TKind::Compare;
  std::string Alias;       // the table's name in the statement
  std::string Expression;  // the compared expression over the table's row, names unqualified
  // For a text folded without its accents: the text folded (names unqualified), which the
  // index reads through UnaccentFunction.
  bool Folded = false;
  std::string FoldedArgument;
};

// The name of the function (in the table's schema) an index over a text without its accents
// calls: an expression as long as the folding cannot be an index's own.
inline constexpr const char* UnaccentFunction = "kv_unaccent";
// The statement that creates it in Schema (quoted): a SQL function of one text whose body is
// the folding our statements write, immutable, so that the planner unfolds it in the index and
// finds there the expression of the search.
std::string UnaccentFunctionStatement(const std::string& Schema);

// The text conditions of a statement of the PostgreSQL dialect that an expression index could
// serve: LIKE with a pattern, and comparisons of texts folded without their accents. Params
// gives the values of the statement's $n.
std::vector<TIndexableCondition> IndexableConditions(std::string_view Sql,
                                                     const std::vector<TSqlParam>& Params);

// The statement that creates the index serving Condition on Table (quoted, with its schema):
// a trigram GIN index for "contains", a btree in code point order otherwise.
std::string IndexStatement(const std::string& Schema, const std::string& Table,
                           const TIndexableCondition& Condition);

// Records every statement a connection sends while it lives (each text once, with the
// parameters it was first sent with) and explains them afterwards.
class TServerExplain {
 public:
  explicit TServerExplain(std::shared_ptr<TDbConnection> Conn);
  ~TServerExplain();
  TServerExplain(const TServerExplain&) = delete;
  TServerExplain& operator=(const TServerExplain&) = delete;
  // Prints each statement sent so far, its plan summary, then the indexes that would serve the
  // searches that scan large tables.
  void Write(std::ostream& Out);

 private:
  struct TSent {
    std::string Sql;
    std::vector<TSqlParam> Params;
  };
  std::shared_ptr<TDbConnection> FConn;
  std::vector<TSent> FSent;
  TPlanNode Explain(const TSent& S);
  double TableRows(const std::string& Table);
};
