// The condition model of the search engine: a search expression read once into its conditions,
// each with what was written and what a search works out for it against the searched dataset,
// and the statements the engine writes, with where their parts came from. TKVFind's six
// per-condition lists are views of this model.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#pragma GCC visibility push(default)
namespace kv {

struct TKVCondition {
  // As written.
  std::string Field;      // the field name, its opening parentheses taken off
  std::string Operator;   // one of the eight tokens; "" when the condition has none
  std::string Value;      // the value text, its closing parentheses taken off
  std::string Opening;    // the parentheses before the condition, trimmed
  std::string Closing;    // the parentheses after it, trimmed
  std::string Connector;  // " and " or " or " after it; "" after the last condition
  size_t Offset = 0;      // byte offset of its own text (past its parentheses) in the expression
  size_t OpeningAt = 0;   // byte offsets of the first character of Opening and of Closing
  size_t ClosingAt = 0;
  std::string Fault;  // what it lacks (a name, an operator) as the message to raise, or ""

  // What a search works out for it, as the lists show it.
  std::string Name;           // IFields: the field name, then its long name for SQL
  std::string Prepared;       // IValues: the value text, then its SQL or dataset-filter form
  std::string Type = "X";     // IFieldTypes: "X", then "S" for a text field and "N" otherwise
  bool ValueIsField = false;  // the right operand names a field (known once prepared)

  // The value is a quoted constant, not the name of a field.
  bool Quoted() const;
  // The value is the empty constant '', which tests for an empty field.
  bool EmptyConstant() const;
  // The value, trimmed, without its first and last characters: a constant without its quotes.
  std::string Constant() const;
  // Forgets what a search worked out: the lists show what was written again.
  void Reset();
};

struct TKVExpression {
  std::string Text;  // the expression as given
  std::vector<TKVCondition> Conditions;
};

// Reads an expression into its conditions (connectors, operators, values and parentheses are
// found as the lists have always been split). A condition after the first that has no operator
// makes the expression unreadable: raises Exception saying so, with its position.
TKVExpression ReadExpression(const std::string& S);

// Takes the parentheses off one part of a condition: returns them and leaves the rest in S.
std::string TakeParentheses(std::string& S);

// "Filtro no válido en la posición N ('Token'): What", N counting the characters of S from 1 up
// to byte Offset, as the dataset filter's own messages count.
std::string ExpressionFault(const std::string& S, size_t Offset, const std::string& Token,
                            const std::string& What);

// A statement the engine writes, with where its borrowed parts lie: the text of a condition of
// the expression, or a clause of the searched query's own SQL. An error the SQL layer finds at
// a place is then told against what the user wrote.
struct TKVStatement {
  static constexpr size_t kNone = static_cast<size_t>(-1);
  struct TPart {
    size_t Begin = 0, End = 0;  // bytes of Text
    size_t Condition = kNone;   // index of the condition it writes
    size_t Source = kNone;      // byte offset in the query's SQL of what it copies
  };
  std::string Text;
  std::vector<TPart> Parts;

  TKVStatement& operator+=(const std::string& S);
  TKVStatement& operator+=(const TKVStatement& S);
  void AddCondition(const std::string& S, size_t Condition);
  void AddSource(const std::string& S, size_t SourceOffset);
  bool empty() const { return Text.empty(); }
  // The part that holds byte Offset of Text, or null.
  const TPart* PartAt(size_t Offset) const;
};

}  // namespace kv
#pragma GCC visibility pop
