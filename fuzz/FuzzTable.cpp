// The table-file round trip shared by the reader fuzz targets.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzUtil.h"
#include "SysUtils.h"
#include "TableFile.h"

using namespace kv;

namespace {
// A value as its exact bytes: Nulls, numbers bit for bit (NaN included) and texts told apart.
std::string CellBytes(const TColumn& Col, size_t Row) {
  if (Col.IsNull(Row)) return "N";
  switch (Col.Kind()) {
    case TStorageKind::Int:
      return "I" + std::to_string(Col.Int(Row));
    case TStorageKind::Double: {
      const double V = Col.Double(Row);
      return "D" + std::string(reinterpret_cast<const char*>(&V), sizeof V);
    }
    case TStorageKind::String:
      return "S" + std::string(Col.Str(Row));
  }
  return "";
}
}  // namespace

void FuzzLoadTable(const std::string& Path) {
  std::shared_ptr<const TTableStore> Store;
  try {
    Store = LoadTableFile(Path);
    // Read every value, as a dataset over the store would: first a chunk at a time, as a grid
    // reads, then each column whole, as a scan does. What is found only on reading (a bad value,
    // a damaged memo) must end in an Exception too, and both ways must agree.
    for (const auto& Col : Store->Columns) {
      std::vector<std::string> Values;
      for (size_t R = 0; R < Col.Size(); ++R) Values.push_back(CellBytes(Col, R));
      Col.Decode();
      for (size_t R = 0; R < Col.Size(); ++R)
        if (CellBytes(Col, R) != Values[R]) {
          std::fprintf(stderr, "%s: row %zu reads differently whole and in chunks\n", Path.c_str(),
                       R);
          std::abort();
        }
    }
  } catch (const Exception&) {
    ClearTableCache(Path);
    return;
  }
  ClearTableCache(Path);
  const std::string Ext = Path.substr(Path.rfind('.'));
  const std::string Copy = FuzzScratchDir() + "/copy" + Ext;
  try {
    SaveTableFile(Copy, *Store);
  } catch (const Exception&) {
    // A value the format cannot hold is reported, not written.
    return;
  }
  try {
    auto Back = LoadTableFile(Copy);
    if (Back->RowCount() != Store->RowCount() || Back->Defs.size() != Store->Defs.size()) {
      std::fprintf(stderr, "copy of %s reads back with %zu rows, %zu fields (wrote %zu, %zu)\n",
                   Path.c_str(), Back->RowCount(), Back->Defs.size(), Store->RowCount(),
                   Store->Defs.size());
      std::abort();
    }
  } catch (const Exception& E) {
    std::fprintf(stderr, "a table we wrote does not read back: %s\n", E.what());
    std::abort();
  }
  ClearTableCache(Copy);
}
