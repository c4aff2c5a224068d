// Fuzz target: the ASCII table reader. The input is the ".sch" schema, a NUL byte, then the
// ".txt" data (no NUL: all schema, empty data). A table that loads is written back and must read
// back; anything else must end in an Exception naming the file.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "FuzzUtil.h"

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const std::string Base = FuzzScratchDir() + "/t";
  const uint8_t* Sep = static_cast<const uint8_t*>(std::memchr(Data, 0, Size));
  const size_t SchemaSize = Sep ? static_cast<size_t>(Sep - Data) : Size;
  FuzzWriteFile(Base + ".sch", Data, SchemaSize);
  const size_t TextStart = Sep ? SchemaSize + 1 : Size;
  FuzzWriteFile(Base + ".txt", Data + TextStart, Size - TextStart);
  FuzzLoadTable(Base + ".txt");
  return 0;
}
