// Pieces of the benchmark program that are worth testing on their own: reading the process's
// memory figures, the byte-scan floor over a column's text, copying stores into an SQLite file
// for the sqlite3 shell, running a peer process, reading a Paradox file through pxlib and the
// summary lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TableStore.h"

namespace kv {
class TDataSet;
}

using namespace kv;

// The value of a "Key:   123 kB" line of a /proc status text, in bytes; 0 when absent.
uint64_t ParseStatusBytes(std::string_view StatusText, std::string_view Key);
// The current process's figure for Key ("VmRSS", "VmHWM") in bytes; 0 when unreadable.
uint64_t ProcessStatusBytes(std::string_view Key);

// The contiguous text of a string column (all its values back to back); empty for another kind.
std::string_view ColumnText(const TColumn& Column);
// Occurrences of Needle in Text found with memmem, not overlapping: the physical floor of any
// scan of a column for a value.
size_t CountOccurrences(std::string_view Text, std::string_view Needle);

// A table copied into the SQLite file: its name there and its rows.
struct TSqliteTable {
  std::string Name;
  const TTableStore* Store = nullptr;
};
// Writes Tables into a new SQLite database at Path (replacing it): one table each with the
// store's columns (INTEGER, REAL or TEXT; Null for empty values). Raises Exception on failure.
void WriteSqliteFile(const std::string& Path, const std::vector<TSqliteTable>& Tables);

// Runs Argv with standard output sent to /dev/null (or to OutPath when given); returns the wall
// time in seconds. Raises Exception when the program cannot start or exits with an error.
double RunProcessSeconds(const std::vector<std::string>& Argv, const std::string& OutPath = "");
// Runs Argv and returns what it printed on standard output; raises Exception as above.
std::string RunProcessOutput(const std::vector<std::string>& Argv);

// Reads every record of a Paradox file through pxlib, decoding every field; returns the number of
// records read and a checksum of the values, or nothing when pxlib is not built in. Raises
// Exception when the file cannot be opened.
struct TPxReadResult {
  int64_t Records = 0;
  double Checksum = 0;
};
std::optional<TPxReadResult> PxlibReadAll(const std::string& Path);
// Whether the benchmark was built with pxlib.
bool PxlibAvailable();

// The Qt peer: QSortFilterProxyModel over a QStandardItemModel holding Values in one column,
// filtered for rows equal to Value. Build is the model's construction (done once); Filter times
// one application of the filter and returns the rows that passed. Unavailable without Qt.
class TQtFilterPeer {
 public:
  explicit TQtFilterPeer(const std::vector<std::string>& Values);
  ~TQtFilterPeer();
  TQtFilterPeer(const TQtFilterPeer&) = delete;
  TQtFilterPeer& operator=(const TQtFilterPeer&) = delete;
  static bool Available();
  // Applies the filter "column = Value" and returns the number of accepted rows.
  int Filter(const std::string& Value);
  // Index of the first accepted row for "column = Value" scanning from the top, -1 when none:
  // what a find-as-you-type over the proxy costs.
  int FindFirst(const std::string& Value);

 private:
  struct TImpl;
  TImpl* FImpl = nullptr;
};

// One peer's figure for a target: its name and seconds (nothing when it could not be measured).
struct TPeerFigure {
  std::string Name;
  std::optional<double> Seconds;
};

// What a target line holds: the operation, our figure, the target and the peers.
struct TTargetLine {
  std::string Operation;
  std::optional<double> Seconds;  // our figure; nothing when not measured
  std::string Target;             // e.g. "<= 30 ms", "<= sqlite3"
  std::optional<double> Limit;    // the limit in seconds when the target is a time
  std::vector<TPeerFigure> Peers;
  // For a target relative to a peer: the index of that peer (our figure must not exceed
  // PeerFactor times its figure). With a Limit too, both must hold.
  int RelativeToPeer = -1;
  std::string Note;
  double PeerFactor = 1.0;
};

// Formats seconds for people: "812 µs", "14.2 ms", "1.34 s"; "n/a" for nothing.
std::string FormatSeconds(std::optional<double> Seconds);
// "ratio" of ours to a peer as "0.42×"; "n/a" when either is missing or the peer is zero.
std::string FormatRatio(std::optional<double> Ours, std::optional<double> Peer);
// Whether the line meets its target: "ok", "MISSED", or "?" when it cannot be told.
std::string TargetVerdict(const TTargetLine& Line);
// The summary line: verdict, figure, operation, target, then "vs <peer> <ratio> (<time>)" each.
std::string FormatTargetLine(const TTargetLine& Line);
// The memory line: resident growth over the file size against the allowed factor, with the
// store's own count and the sizes in MB; What says when it was measured.
std::string FormatMemoryLine(uint64_t RssGrowth, uint64_t StoreBytes, uint64_t FileBytes,
                             double AllowedFactor, const std::string& What = "loaded ORDERS.DB");

// The median of V (0 for none).
double Median(std::vector<double> V);
// S without the line ends and spaces a program's output ends with.
std::string Trimmed(std::string S);
// Reads the display texts of Rows records from the current one on, as the grid does for a
// screen, and goes back to the current record; raises when the screen is empty.
void ShowScreen(TDataSet& T, int Rows = 50);
