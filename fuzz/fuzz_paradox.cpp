// Fuzz target: the .db table reader fed arbitrary bytes. A file that loads is written back and
// must read back; anything else must end in an Exception naming the file.
#include <cstddef>
#include <cstdint>

#include "FuzzUtil.h"

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const std::string Path = FuzzScratchDir() + "/t.db";
  FuzzWriteFile(Path, Data, Size);
  FuzzLoadTable(Path);
  return 0;
}
