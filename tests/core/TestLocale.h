// Test helper: switches the process locale for one scope and restores the previous one.
#pragma once

#include "SysUtils.h"

using namespace kv;

class TLocaleScope {
 public:
  explicit TLocaleScope(const TFormatSettings& FS) : FSaved(FormatSettings()) {
    FormatSettings() = FS;
  }
  ~TLocaleScope() { FormatSettings() = FSaved; }
  TLocaleScope(const TLocaleScope&) = delete;
  TLocaleScope& operator=(const TLocaleScope&) = delete;

 private:
  TFormatSettings FSaved;
};
