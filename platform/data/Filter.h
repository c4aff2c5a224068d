// The dataset filter language: tokenizer -> parser -> compiled predicate over stored rows.
//   comparisons  field op constant | field op field | constant op field, op in = <> < > <= >=
//   connectors   and, or, not, parentheses
//   names        Name or [Name With Blanks]
//   constants    'text' (a doubled quote stands for one), numbers, NULL, true/false
//   prefix       field = 'abc*' matches values starting with abc (unless foNoPartialCompare)
// Quoted constants are converted to the field's type through the locale ('1500,5',
// '31/12/1998', 'true'). Evaluation allocates nothing per row.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/DB.h"

struct TFilterNode;

class TFilterProgram {
 public:
  // Compiles Text against the fields of DataSet (which must be open). Raises EDatabaseError
  // whose message names the position (1-based) and the token that is wrong.
  static std::unique_ptr<TFilterProgram> Compile(const std::string& Text, const TDataSet& DataSet);
  ~TFilterProgram();
  // Whether stored row Row satisfies the filter under Options.
  bool Matches(uint32_t Row, TFilterOptions Options) const;

 private:
  TFilterProgram();
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};
