// ALTER TABLE ... DROP: rewrites a table file without the named columns.
#include <algorithm>

#include "LocalSQL.h"
#include "SqlEngine.h"
#include "SqlLexer.h"
#include "TableFile.h"

namespace kv {

void RunAlterTable(const TSqlAlterTable& A, TSqlTableSource& Tables) {
  auto Schema = Tables.Find(A.Table);
  if (!Schema) RaiseSqlErrorAt("Tabla desconocida '" + A.Table + "'", A.Pos);
  auto Source = Tables.Store(Schema->Path);
  std::vector<bool> Drop(Source->Defs.size(), false);
  for (const auto& D : A.Drops) {
    if (!D.Qualifier.empty() &&
        !SqlQualifierMatches(D.Qualifier, A.Table, "", Schema->Path, Tables.Lookup()))
      RaiseSqlErrorAt("Tabla desconocida '" + D.Qualifier + "'", D.QualifierPos);
    const int Col = Source->ColumnIndex(D.Field);
    if (Col < 0) RaiseSqlErrorAt("Campo desconocido '" + D.Field + "'", D.Pos);
    Drop[Col] = true;
  }
  if (std::all_of(Drop.begin(), Drop.end(), [](bool B) { return B; }))
    RaiseSqlErrorAt("No se pueden eliminar todos los campos de la tabla '" + A.Table + "'", A.Pos);

  TTableStore Result;
  std::vector<size_t> Kept;
  for (size_t C = 0; C < Drop.size(); ++C) {
    if (Drop[C]) continue;
    Result.AddColumn(Source->Defs[C]);
    Kept.push_back(C);
  }
  for (size_t K = 0; K < Kept.size(); ++K) Result.Columns[K] = Source->Columns[Kept[K]];
  // The key survives only whole.
  bool KeyKept = !Source->PrimaryKey.empty();
  for (const auto& Name : Source->PrimaryKey) KeyKept &= Result.ColumnIndex(Name) >= 0;
  if (KeyKept) Result.PrimaryKey = Source->PrimaryKey;

  SaveTableFile(Schema->Path, Result);
  ClearTableCache(Schema->Path);
}

}  // namespace kv
