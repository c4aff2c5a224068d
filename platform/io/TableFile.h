// Table files: loading into the shared store and writing, in the format the extension names
// (".db" Paradox, ".dbf" dBase, ".txt" ASCII with a ".sch" schema).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DB.h"
#include "IoUtil.h"
#include "RowSource.h"
#include "TableStore.h"

namespace kv {

enum class TTableFormat { Paradox, DBase, Ascii };

// The format an extension names (any letter case); raises EDatabaseError for another one.
TTableFormat TableFormatOf(const std::string& Path);

// Loads a table file once per process and returns the shared store; reloaded only when the
// file's size or modification time changes. Loading maps the file and checks its layout; each
// column is decoded when first read (see TColumn), from the same mapping. Raises
// EDatabaseError naming the file and what is wrong (missing, unreadable, truncated, corrupt);
// what only reading the values finds (a missing or damaged memo file, a file written in place
// since it was opened) is raised by the read that finds it, naming the file the same way.
std::shared_ptr<const TTableStore> LoadTableFile(const std::string& Path);

// Writes Rows (all rows when null) of Data as a new table file at Path. The file is written
// under a temporary name beside the target and renamed over it only when complete, together with
// its schema or memo file, so a failure leaves the existing files untouched. Raises
// EDatabaseError naming the file and the cause (including a column type the format cannot hold).
void SaveTableFile(const std::string& Path, const TTableStore& Data,
                   const std::vector<uint32_t>* Rows = nullptr);
// The same for some rows of some columns (a copy of chosen fields, read where they are).
void SaveTableFile(const std::string& Path, const TTableSlice& Data);
// The same for the rows of Source, pulled a chunk at a time (twice: to size the fields, then to
// write them), so that they need never be in memory together. The progress hook is told
// "Exportando" after each chunk written; a cancel there (EAborted) leaves nothing written and
// the existing files as they were.
void SaveTableFile(const std::string& Path, TRowSource& Source);

// Forgets cached stores (all, or the one of Path).
void ClearTableCache(const std::string& Path = std::string());

}  // namespace kv
