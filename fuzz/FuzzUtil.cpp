// Helpers shared by the fuzz targets.
#include "FuzzUtil.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace kv;

namespace {

struct TScratch {
  std::string Path;
  TScratch() {
    std::string Templ = (std::filesystem::temp_directory_path() / "kvfuzz_XXXXXX").string();
    std::vector<char> Buf(Templ.begin(), Templ.end());
    Buf.push_back('\0');
    if (!::mkdtemp(Buf.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    Path = Buf.data();
  }
  ~TScratch() {
    std::error_code Ec;
    std::filesystem::remove_all(Path, Ec);
  }
};

}  // namespace

const std::string& FuzzScratchDir() {
  static TScratch Dir;
  return Dir.Path;
}

void FuzzWriteFile(const std::string& Path, const uint8_t* Data, size_t Size) {
  FILE* F = std::fopen(Path.c_str(), "wb");
  if (!F || (Size && std::fwrite(Data, 1, Size, F) != Size) || std::fclose(F) != 0) {
    std::perror(Path.c_str());
    std::abort();
  }
}
