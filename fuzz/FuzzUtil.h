// Helpers shared by the fuzz targets: a scratch directory that lives for the whole run and
// whole-file writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "SysUtils.h"

using namespace kv;

// Runs Fn and tells whether it returned. An Exception is an outcome every target accepts (the
// input was refused with a message); anything else, a crash among them, reaches the fuzzer.
template <class F>
bool FuzzTry(F&& Fn) {
  try {
    Fn();
    return true;
  } catch (const Exception&) {
    return false;
  }
}

// A private directory under the temporary directory, created on first use and removed at exit.
const std::string& FuzzScratchDir();

// Replaces the file at Path with Size bytes of Data; aborts when the file cannot be written
// (a broken harness must not look like a clean run).
void FuzzWriteFile(const std::string& Path, const uint8_t* Data, size_t Size);

// Loads the table file at Path; when it loads, writes the store back in the same format beside
// it and loads that copy, which must succeed (a file we write has to read back). Forgets both
// in the load cache afterwards. Aborts on anything but a clean load or an Exception.
void FuzzLoadTable(const std::string& Path);
