// Finding the demo's sample database and making the alias DBDEMOS name it.
#include "DemoDatabase.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "DB.h"
#include "Database.h"
#include "SysUtils.h"
#include "Unicode.h"

using namespace kv;

namespace fs = std::filesystem;

std::string DemoAliasIn(const char* Aliases) {
  if (!Aliases) return std::string();
  // The first one given, as the data layer reads KV_ALIASES.
  for (const std::string& Item : SplitFieldNames(Aliases)) {
    const size_t Eq = Item.find('=');
    if (Eq != std::string::npos && AnsiSameText(Trim(Item.substr(0, Eq)), DemoAlias))
      return Trim(Item.substr(Eq + 1));
  }
  return std::string();
}

std::vector<std::string> DemoDatabaseCandidates(const std::string& ExeDir) {
  std::vector<std::string> Out;
  for (const std::string& Base : {ExeDir, std::string(KV_SOURCE_DIR), std::string(KV_BINARY_DIR)}) {
    if (Base.empty()) continue;
    const std::string Dir = (fs::path(Base) / "sample-db").lexically_normal().string();
    if (std::find(Out.begin(), Out.end(), Dir) == Out.end()) Out.push_back(Dir);
  }
  return Out;
}

namespace {

bool HoldsSampleTables(const std::string& Folder) {
  std::error_code Ec;
  if (!fs::is_directory(Folder, Ec)) return false;
  try {
    for (const char* Table : {"customer", "orders", "items", "parts"})
      ResolveTablePath(Folder, Table);
    return true;
  } catch (const EDatabaseError&) {
    // A table missing: this folder is not the sample database, the next one is looked at and
    // the final message names every folder.
    return false;
  }
}

}  // namespace

std::string FindDemoDatabase(const std::vector<std::string>& Folders) {
  for (const std::string& Folder : Folders)
    if (HoldsSampleTables(Folder)) return Folder;
  std::string Looked;
  for (const std::string& Folder : Folders) Looked += (Looked.empty() ? "'" : ", '") + Folder + "'";
  throw Exception(
      "No se encuentra la base de datos de ejemplo " + std::string(DemoAlias) +
      ": KV_ALIASES no la nombra y ninguna de estas carpetas tiene las tablas CUSTOMER, ORDERS, "
      "ITEMS y PARTS: " +
      Looked + ". Genérela con 'gensample --out CARPETA' o indique KV_ALIASES=" + DemoAlias +
      "=CARPETA");
}

std::string UseDemoDatabase() {
  if (!DemoAliasIn(std::getenv("KV_ALIASES")).empty()) {
    // A SQLite file or a PostgreSQL server is opened by the tables themselves, which name it
    // when it cannot be reached; a folder must exist.
    const TDatabaseRef Ref = ResolveDatabase(DemoAlias);
    if (Ref.Kind != TDatabaseKind::Folder) return Ref.Shown;
    return DatabaseDirectory(DemoAlias);
  }
  std::error_code Ec;
  const fs::path Exe = fs::read_symlink("/proc/self/exe", Ec);
  const std::string Folder =
      FindDemoDatabase(DemoDatabaseCandidates(Ec ? std::string() : Exe.parent_path().string()));
  RegisterAlias(DemoAlias, Folder);
  return Folder;
}

std::string DemoTableName(const std::string& File) {
  if (ResolveDatabase(DemoAlias).Kind == TDatabaseKind::Folder) return File;
  // A database names its tables without the file's extension ("ORDERS.DB" is "ORDERS").
  return File.substr(0, File.rfind('.'));
}
