// The export targets of kvbench: the million orders exported through the search engine, as the
// search form and kvsearch export them, to each table format, timed, with the peak of the
// anonymous memory the export adds (not the pages of files mapped) measured against the size
// of the source file.
#pragma once

#include <string>

namespace kv {
class TDataSet;
}  // namespace kv

using namespace kv;

// Registers one benchmark per format (".db", ".dbf", ".txt") that exports every record of
// Orders (an open table over SourcePath) with TKVFind::ExportResults into ScratchDir.
void RegisterExportBench(TDataSet* Orders, const std::string& SourcePath,
                         const std::string& ScratchDir);
// Prints one summary line per format: the time against 2 s and the peak memory against 1.5 times
// the source file; "n/a" for a format that was not run.
void PrintExportSummary();
