// What every backend shares: the block of rows read, the catalog's lookups, and the one
// connection per database of the process.
#include "DbConnection.h"

#include <map>
#include <mutex>

#include "PgDatabase.h"
#include "ScopeExit.h"
#include "SqliteDatabase.h"
#include "Unicode.h"

namespace kv {

void TDbRows::Reset(int Columns) {
  FColumns = Columns;
  FCells.clear();
  FArena.clear();
}

TDbValueRef TDbRows::At(size_t Row, int Col) const {
  const TCell& C = FCells[Row * FColumns + Col];
  TDbValueRef V;
  V.Type = C.Type;
  switch (C.Type) {
    case TDbType::Integer:
      V.Int = C.Int;
      break;
    case TDbType::Float:
      V.Float = C.Float;
      break;
    case TDbType::Text:
    case TDbType::Blob:
      V.Text = std::string_view(FArena).substr(C.Offset, C.Length);
      break;
    case TDbType::Null:
      break;
  }
  return V;
}

void TDbRows::AddInt(int64_t V) {
  TCell C;
  C.Type = TDbType::Integer;
  C.Int = V;
  FCells.push_back(C);
}

void TDbRows::AddFloat(double V) {
  TCell C;
  C.Type = TDbType::Float;
  C.Float = V;
  FCells.push_back(C);
}

void TDbRows::AddText(std::string_view V, bool Blob) {
  TCell C;
  C.Type = Blob ? TDbType::Blob : TDbType::Text;
  C.Offset = FArena.size();
  C.Length = static_cast<uint32_t>(V.size());
  FArena.append(V);
  FCells.push_back(C);
}

void TDbRows::Add(const TDbValueRef& V) {
  switch (V.Type) {
    case TDbType::Integer:
      return AddInt(V.Int);
    case TDbType::Float:
      return AddFloat(V.Float);
    case TDbType::Text:
    case TDbType::Blob:
      return AddText(V.Text, V.Type == TDbType::Blob);
    case TDbType::Null:
      return AddNull();
  }
}

int TDbTableInfo::ColumnIndex(std::string_view Name) const {
  for (size_t I = 0; I < Columns.size(); ++I)
    if (AnsiSameText(Columns[I].Def.Name, Name)) return static_cast<int>(I);
  return -1;
}

TDbConnection::~TDbConnection() = default;

TSqlParam TDbConnection::Raw(const TDbValueRef& V) {
  switch (V.Type) {
    case TDbType::Integer:
      return {Variant(V.Int), ftUnknown};
    case TDbType::Float:
      return {Variant(V.Float), ftUnknown};
    case TDbType::Text:
      return {Variant(V.Text), ftUnknown};
    case TDbType::Blob:
      return {Variant(V.Text), ftBlob};
    case TDbType::Null:
      break;
  }
  return {Variant::Null(), ftUnknown};
}

void TDbConnection::Traced(const std::string& Sql, const std::vector<TSqlParam>& Params) {
  if (!FTrace || FInTrace) return;
  FInTrace = true;
  const TScopeExit Reset([this] { FInTrace = false; });
  FTrace(Sql, Params);
}

std::shared_ptr<TDbConnection> ConnectDatabase(const TDatabaseRef& Ref) {
  static std::mutex Lock;
  static std::map<std::string, std::weak_ptr<TDbConnection>> Open;
  const std::string Key = std::to_string(static_cast<int>(Ref.Kind)) + ":" + Ref.Target;
  std::lock_guard<std::mutex> Guard(Lock);
  if (std::shared_ptr<TDbConnection> C = Open[Key].lock()) return C;
  std::shared_ptr<TDbConnection> C;
  switch (Ref.Kind) {
    case TDatabaseKind::SQLite:
      C = OpenSqliteDatabase(Ref);
      break;
    case TDatabaseKind::PostgreSQL:
      C = OpenPgDatabase(Ref);
      break;
    case TDatabaseKind::Folder:
      throw EDatabaseError("'" + Ref.Shown + "' es un directorio de archivos de tabla, no una " +
                           "base de datos");
  }
  Open[Key] = C;
  return C;
}

}  // namespace kv
