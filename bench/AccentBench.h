// The searches that ignore accents against the same searches that do not, over the million
// orders: a plain comparison applied as the dataset filter, "contiene" run as SQL, and one
// character typed into an incremental search.
#pragma once

#include <string>

namespace kv {
class TDataSet;
}  // namespace kv

using namespace kv;

// Registers the pairs of benchmarks (accents distinguished, accents ignored) over Orders, an
// open table; City is the value the comparisons look for.
void RegisterAccentBench(TDataSet* Orders, const std::string& City);
// Prints one line per pair: the search ignoring accents against 1.5 times the same search
// distinguishing them, "ok" or "MISSED".
void PrintAccentSummary();
