// Table files: loading into the shared store and writing, in the format the extension names
// (".db" Paradox, ".dbf" dBase, ".txt" ASCII with a ".sch" schema).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DB.h"
#include "TableStore.h"

enum class TTableFormat { Paradox, DBase, Ascii };

// The format an extension names (any letter case); raises EDatabaseError for another one.
TTableFormat TableFormatOf(const std::string& Path);

// Loads a table file once per process and returns the shared store; reloaded only when the
// file's size or modification time changes. Raises EDatabaseError naming the file and what
// is wrong (missing, unreadable, truncated, corrupt).
std::shared_ptr<const TTableStore> LoadTableFile(const std::string& Path);

// Writes Rows (all rows when null) of Data as a new table file at Path. The file is written
// under a temporary name beside the target and renamed over it only when complete, so a failure
// leaves an existing file untouched. Raises EDatabaseError naming the file and the cause
// (including a column type the format cannot hold).
void SaveTableFile(const std::string& Path, const TTableStore& Data,
                   const std::vector<uint32_t>* Rows = nullptr);

// Forgets cached stores (all, or the one of Path).
void ClearTableCache(const std::string& Path = std::string());

// A table file made in a passing folder beside its target, under the target's own name (which
// the formats write into their headers), for work that must be complete before the target
// changes (a copy whose columns are dropped afterwards). Commit moves the passing file and its
// companion over the target's, all or none; the destructor removes the passing folder with
// whatever was made in it.
class TPassingTable {
 public:
  // Creates the passing folder; raises EDatabaseError naming the target when it cannot.
  explicit TPassingTable(std::string Target);
  ~TPassingTable();
  TPassingTable(const TPassingTable&) = delete;
  TPassingTable& operator=(const TPassingTable&) = delete;
  const std::string& Path() const { return FPath; }
  // Raises EDatabaseError naming the target when the files cannot be moved; the target's files
  // are then as they were.
  void Commit();

 private:
  std::string FTarget, FFolder, FPath;
};
