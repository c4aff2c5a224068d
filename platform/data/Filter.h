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

#include "DB.h"

namespace kv {

struct TFilterNode;

class TFilterProgram {
 public:
  // Compiles Text against the fields of DataSet (which must be open). Raises EDatabaseError
  // whose message names the position (1-based) and the token that is wrong. The program reads
  // the columns of the dataset's present store: use it while the dataset stays open on it.
  static std::unique_ptr<TFilterProgram> Compile(const std::string& Text, const TDataSet& DataSet);
  ~TFilterProgram();
  // Whether stored row Row satisfies the filter under Options.
  bool Matches(uint32_t Row, TFilterOptions Options) const;
  // Index of the first of Rows[From..] (stored-row ids) that satisfies the filter; Rows.size()
  // when none does. One call scans a whole row vector without a call per row.
  size_t FindFirst(const std::vector<uint32_t>& Rows, size_t From, TFilterOptions Options) const;
  // Keeps in Rows, in order, only the rows that satisfy the filter.
  void Apply(std::vector<uint32_t>& Rows, TFilterOptions Options) const;
  // Both scans report how far they have come ("Buscando") every kScanProgressRows rows, and
  // raise EAborted when the progress handler stops them (Apply leaves Rows unspecified then).

 private:
  TFilterProgram();
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace kv
