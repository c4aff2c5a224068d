// Opening a table of the sample database on its own, apart from the data module, to check what
// the program shows against.
#pragma once

#include <memory>

#include "DBTables.h"

using namespace kv;

// The sample database's table File (a name such as "orders", in any letter case), open.
inline std::unique_ptr<TTable> SampleTable(const char* File) {
  auto T = std::make_unique<TTable>();
  T->SetDatabaseName("DBDEMOS");
  T->SetTableName(File);
  T->Open();
  return T;
}
