// Reader and writer of Paradox ".db" table files (the block format), straight into and out of
// the columnar store.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IoUtil.h"
#include "RowSource.h"
#include "TableStore.h"

namespace kv {

// Reads a Paradox table: the header and the chain of data blocks now, the values when first
// read. Raises EDatabaseError naming the file and the fault for a missing, unreadable, truncated
// or corrupt file (a damaged memo file when a text that needs it is read).
std::shared_ptr<TTableStore> ReadParadoxFile(const std::string& Path);

// Writes the rows of Source as a Paradox 7 table at Path, with alpha text in CP1252; memo texts
// longer than the record keeps go to a memo file at MemoPath. Returns whether the memo file was
// written. Errors name ErrName (the final file name). The primary key columns must be the first
// columns.
bool WriteParadoxFile(const std::string& Path, const std::string& MemoPath,
                      const std::string& ErrName, TRowSource& Source);

}  // namespace kv
