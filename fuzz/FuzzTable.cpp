// The table-file round trip shared by the reader fuzz targets.
#include <cstdio>
#include <cstdlib>

#include "FuzzUtil.h"
#include "SysUtils.h"
#include "TableFile.h"

void FuzzLoadTable(const std::string& Path) {
  std::shared_ptr<const TTableStore> Store;
  try {
    Store = LoadTableFile(Path);
  } catch (const Exception&) {
    ClearTableCache(Path);
    return;
  }
  ClearTableCache(Path);
  // Touch every value, as a dataset over the store would.
  for (const auto& Col : Store->Columns)
    for (size_t R = 0; R < Col.Size(); ++R) (void)Col.Value(R);
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
