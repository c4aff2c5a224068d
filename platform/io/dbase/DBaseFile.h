// Reader and writer of dBase ".dbf" tables (shapelib writes the header), with the code page
// declared in the file so that other readers decode accented text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IoUtil.h"
#include "RowSource.h"
#include "TableStore.h"

namespace kv {

// Reads a dBase table: the header and which records are rows now, the values when first read.
// Raises EDatabaseError naming the file and the fault.
std::shared_ptr<TTableStore> ReadDBaseFile(const std::string& Path);

// Writes the rows of Source as a dBase table at Path (which must end in ".dbf"), with text in
// CP1252 and that code page declared, field names cut to ten characters and kept apart. Errors
// name ErrName.
void WriteDBaseFile(const std::string& Path, const std::string& ErrName, TRowSource& Source);

}  // namespace kv
