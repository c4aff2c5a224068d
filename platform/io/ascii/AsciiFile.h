// Reader and writer of ASCII tables: a delimited text file (".txt") plus a schema file (".sch")
// naming each field's name, type and size. The layout is described in io/FORMATS.md.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IoUtil.h"
#include "RowSource.h"
#include "TableStore.h"

namespace kv {

// The schema file beside a text table: an existing one in any letter case, else Path with ".sch".
std::string SchemaPathOf(const std::string& TextPath);

// Reads an ASCII table and its schema. Raises EDatabaseError naming the file, and the line for
// a bad value.
std::shared_ptr<TTableStore> ReadAsciiFile(const std::string& TextPath);

// Writes the rows of Source as text at TextPath and its schema at SchemaPath, naming the table (the
// schema's section) after ErrName, the final text file. Errors name ErrName.
void WriteAsciiFile(const std::string& TextPath, const std::string& SchemaPath,
                    const std::string& ErrName, TRowSource& Source);

}  // namespace kv
