// kvsearch's result writers: an aligned text table for people, CSV and JSON for programs.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace kv {
class TDataSet;
}  // namespace kv

using namespace kv;

// Width of a UTF-8 text in terminal columns (one per character).
size_t TextWidth(std::string_view S);

// The counter line shown under the results (no blank after the colon).
std::string CounterLine(long long Count);

// How many records a result has, as far as it was read: a result read only up to one record
// more than the Limit shown (ReadWhole false) has an exact count only when it has no more than
// Limit; otherwise it has "more than Limit".
struct TResultCount {
  long long Count;
  long long MoreThan = -1;  // >= 0: the count is not known, only that it exceeds this
  static TResultCount Of(const TDataSet& DataSet, long long Limit, bool ReadWhole);
  std::string Line() const;  // the counter line
  std::string Json() const;  // "count": N, or "count": null, "more_than": Limit
};

// Writes up to Limit records (-1: all) of DataSet's visible fields as a table: display labels,
// a rule, display texts aligned as the fields are, then a blank line and the counter line.
void WriteTable(std::ostream& Out, TDataSet& DataSet, long long Limit, bool ReadWhole = true);

// Writes the same records as CSV (RFC 4180): display labels, then display texts.
void WriteCsv(std::ostream& Out, TDataSet& DataSet, long long Limit);

// Writes {"count": N, "records": [{field name: value, ...}, ...]} with typed values: numbers,
// true/false, null for empty fields, dates as "yyyy-mm-ddThh:nn:ss" text. A result not read
// whole past its Limit has "count": null, "more_than": Limit.
void WriteJson(std::ostream& Out, TDataSet& DataSet, long long Limit, bool ReadWhole = true);

// S with every byte that starts no valid UTF-8 sequence replaced by U+FFFD.
std::string ValidUtf8(std::string_view S);

// The JSON form of a text, quotes included, always valid JSON: control characters escaped,
// bytes that are not UTF-8 replaced by U+FFFD.
std::string JsonString(std::string_view S);
