// kvsearch's result writers: an aligned text table for people, CSV and JSON for programs.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

class TDataSet;

// Width of a UTF-8 text in terminal columns (one per character).
size_t TextWidth(std::string_view S);

// The counter line shown under the results (no blank after the colon).
std::string CounterLine(long long Count);

// Writes up to Limit records (-1: all) of DataSet's visible fields as a table: display labels,
// a rule, display texts aligned as the fields are, then a blank line and the counter line.
void WriteTable(std::ostream& Out, TDataSet& DataSet, long long Limit);

// Writes the same records as CSV (RFC 4180): display labels, then display texts.
void WriteCsv(std::ostream& Out, TDataSet& DataSet, long long Limit);

// Writes {"count": N, "records": [{field name: value, ...}, ...]} with typed values: numbers,
// true/false, null for empty fields, dates as "yyyy-mm-ddThh:nn:ss" text.
void WriteJson(std::ostream& Out, TDataSet& DataSet, long long Limit);

// The JSON form of a text, quotes included.
std::string JsonString(std::string_view S);
