// The search engine's export: the current result (or every record) written to a new table file
// with the chosen fields, never onto a table the search itself reads.
#include <unistd.h>

#include <set>

#include "Database.h"
#include "Dialogs.h"
#include "IoUtil.h"
#include "KVFind.h"
#include "Progress.h"
#include "ScopeExit.h"
#include "SqlEngine.h"
#include "SqlParser.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

namespace {

const char* const kExportMessage = "Ruta o nombre de archivo no válidos (no se permiten acentos)";

// The fields of Source an export writes, in Source's order: those Columns names (whole names
// separated by commas, in double quotes or not, in any letter case), every field when it is
// empty. A name that no field of Source has is an error naming it: nothing is written.
std::vector<TField*> ExportedFields(const TDataSet& Source, const std::string& Columns) {
  std::vector<std::string> Wanted;
  for (std::string& Name : SplitNames(Columns, ',')) {
    if (Name.size() >= 2 && Name.front() == '"' && Name.back() == '"')
      Name = Name.substr(1, Name.size() - 2);
    if (!Name.empty()) Wanted.push_back(Name);
  }
  std::string Unknown;
  int UnknownCount = 0;
  for (const auto& W : Wanted) {
    if (Source.FindField(W)) continue;
    Unknown += (UnknownCount++ ? ", '" : "'") + W + "'";
  }
  if (UnknownCount == 1)
    throw Exception("No se puede exportar: el resultado no tiene el campo " + Unknown);
  if (UnknownCount > 1)
    throw Exception("No se puede exportar: el resultado no tiene los campos " + Unknown);
  std::vector<TField*> Fields;
  for (int I = 0; I < Source.FieldCount(); ++I) {
    TField* F = Source.Fields(I);
    bool Keep = Wanted.empty();
    for (const auto& W : Wanted) Keep = Keep || AnsiSameText(W, F->FieldName());
    if (Keep) Fields.push_back(F);
  }
  return Fields;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> TKVFind::TablesRead() {
  std::vector<std::pair<std::string, std::string>> Read;
  auto Add = [&](const std::string& DatabaseName, const std::string& Name) {
    // A table of a SQLite file or a PostgreSQL database is no file an export could write over.
    if (ResolveDatabase(DatabaseName).Kind != TDatabaseKind::Folder) return;
    if (auto Path = TSqlTableSource(DatabaseName).ResolvePath(Name)) Read.emplace_back(Name, *Path);
  };
  // The searched dataset, its masters and every table a lookup field reads, at any depth.
  std::set<const TDataSet*> Seen;
  std::vector<TDataSet*> Pending{PDataSet};
  while (!Pending.empty()) {
    TDataSet* DS = Pending.back();
    Pending.pop_back();
    if (!DS || !Seen.insert(DS).second) continue;
    if (TTable* T = dynamic_cast<TTable*>(DS)) {
      if (!T->FilePath().empty())
        Read.emplace_back(T->TableName(), T->FilePath());
      else
        Add(T->DatabaseName(), T->TableName());
      if (T->MasterSource()) Pending.push_back(T->MasterSource()->DataSet());
    }
    for (int I = 0; I < DS->FieldCount(); ++I)
      if (DS->Fields(I)->Lookup()) Pending.push_back(DS->Fields(I)->LookupDataSet());
  }
  // And every table of the statement the result comes from (a query's own tables among them).
  const std::string Statement = ISQL->SQL().Text();
  if (!Trim(Statement).empty())
    if (const TSqlStatement St = ParseSql(Statement); St.Select)
      for (const TSqlTableRef& R : St.Select->From) Add(ISQL->DatabaseName(), R.Name);
  return Read;
}

bool TKVFind::ExportResults(const std::string& FileName, const std::string& Columns,
                            bool AllRecords) {
  BuildSearchAsSQL();

  // Every record of the searched dataset (within the current master when MasterSlave is
  // set): the same statement without a search condition, in a query of its own, so the
  // search's result stays in ISQL.
  std::unique_ptr<TQuery> All;
  TDataSet* Source = ISQL.get();
  if (AllRecords) {
    std::string Statement;
    {
      TScopeExit PutBack([this, Saved = PFilter] {
        PFilter = Saved;
        SeparaDatos(PFilter);
      });
      PFilter.clear();
      SeparaDatos(PFilter);
      if (dynamic_cast<TTable*>(PDataSet))
        Statement = TTAbleBuildSQL();
      else if (dynamic_cast<TQuery*>(PDataSet))
        Statement = TQueryBuildSQL();
    }
    All = std::make_unique<TQuery>();
    All->SetDatabaseName(ISQL->DatabaseName());
    All->SQL().Add(Statement);
    // The same layout as the search's result.
    std::swap(All, ISQL);
    {
      TScopeExit SwapBack([&] { std::swap(All, ISQL); });
      PrepareSQL();
    }
    Source = All.get();
  }
  // Only the chosen fields are written, once, straight from the result: no copy with every
  // field first, so fields the user did not choose can neither fail the export nor cost it.
  const std::vector<TField*> Fields = ExportedFields(*Source, Columns);

  bool Result = false;
  bool Stopped = false;  // the user stopped the export: no box, the caller is told by EAborted
  std::string Refused;   // the table the target would overwrite while the search reads it
  try {
    ITableForExport->Close();
    const std::string Target = TargetTablePath(ITableForExport->DatabaseName(), FileName);
    for (const auto& [Name, Path] : TablesRead())
      if (Refused.empty() && SameFile(Target, Path)) Refused = Name;
    if (Refused.empty()) {
      // A target the user may not write to is not replaced behind their back.
      if (access(Target.c_str(), F_OK) == 0 && access(Target.c_str(), W_OK) != 0)
        throw Exception("Error en el archivo '" + Target + "': permiso denegado");
      // The file is written beside the target and takes its name, with its schema or memo
      // file, only when complete.
      ITableForExport->SetTableName(Target);
      Result = ITableForExport->BatchMove(Source, batCopy, Fields) == Source->RecordCount();
    }
  } catch (const EAborted&) {
    // Nothing was written: the file takes its name only when complete.
    Stopped = true;
  } catch (const std::exception& E) {
    // The box keeps its one text; the cause goes with it for whoever looks at the details.
    Result = false;
    MessageDlg(kExportMessage, mtError, E.what());
  } catch (...) {
    Result = false;
    MessageDlg(kExportMessage, mtError, "error desconocido");
  }
  ITableForExport->Close();
  ITableForExport->SetTableName(FileName);
  if (Stopped) throw EAborted();
  if (!Refused.empty())
    throw Exception("No se puede exportar sobre la tabla '" + Refused +
                    "': la búsqueda la está leyendo");
  return Result;
}

}  // namespace kv
