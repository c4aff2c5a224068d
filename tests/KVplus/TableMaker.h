// Writes small keyed table files for the engine, utility and dialog tests.
#pragma once

#include <string>
#include <vector>

#include "DB.h"
#include "DBTables.h"

using namespace kv;

namespace kvtest {

struct TCol {
  const char* Name;
  TFieldType Type;
  int Size;
};

// Writes table Name in folder Dir with the columns Defs, the primary key Key and Rows.
inline void MakeTable(const std::string& Dir, const std::string& Name,
                      const std::vector<TCol>& Defs, const std::vector<std::string>& Key,
                      const std::vector<std::vector<Variant>>& Rows) {
  TMemDataSet M;
  for (const auto& D : Defs) M.FieldDefs().Add(D.Name, D.Type, D.Size);
  M.CreateDataSet();
  M.SetPrimaryKey(Key);
  for (const auto& R : Rows) M.AppendRecord(R);
  TTable T;
  T.SetDatabaseName(Dir);
  T.SetTableName(Name);
  T.BatchMove(&M, batCopy);
}

}  // namespace kvtest
