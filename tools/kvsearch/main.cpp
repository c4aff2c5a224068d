// kvsearch: searches a table file or a local-SQL query from the command line with the search
// engine, exactly as an application drives it, and prints, counts or exports the result.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "DBTables.h"
#include "Database.h"
#include "Dialogs.h"
#include "Explain.h"
#include "IoUtil.h"
#include "KVFind.h"
#include "Options.h"
#include "Output.h"
#include "SqlEngine.h"

#ifndef KV_VERSION
#define KV_VERSION "0"
#endif

using namespace kv;

namespace {

// A one-line status on standard error while slow steps run, only when a person watches it.
class TStatus {
 public:
  TStatus() : FShow(isatty(STDERR_FILENO) != 0) {}
  ~TStatus() { Clear(); }
  void Show(const std::string& Text) {
    if (!FShow) return;
    std::fprintf(stderr, "\r\033[Kkvsearch: %s…", Text.c_str());
    std::fflush(stderr);
    FShown = true;
  }
  void Clear() {
    if (!FShown) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    FShown = false;
  }

 private:
  bool FShow;
  bool FShown = false;
};

bool IsDatabaseName(const std::string& Name) {
  try {
    // A SQLite file or a server is tried when opened, and its error says what failed.
    if (ResolveDatabase(Name).Kind != TDatabaseKind::Folder) return true;
    DatabaseDirectory(Name);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Opens the searched dataset. Lookup fields need persistent fields: the dataset is opened once
// to learn its field definitions, closed, given one field per definition plus the lookups, and
// opened again.
void OpenSearched(TDataSet& DataSet, const TSearchOptions& Opt,
                  std::vector<std::unique_ptr<TTable>>& LookupTables) {
  DataSet.Open();
  if (Opt.Lookups.empty()) return;
  TFieldDefs Defs;
  Defs.Assign(DataSet.FieldDefs());
  DataSet.Close();
  DataSet.ClearFields();
  for (int I = 0; I < Defs.Count(); ++I) Defs.Items(I).CreateField(&DataSet);
  for (const TLookupSpec& L : Opt.Lookups) {
    if (DataSet.FindField(L.Name))
      throw EDatabaseError("El campo '" + L.Name + "' ya existe en la tabla");
    auto Source = std::make_unique<TTable>();
    Source->SetDatabaseName(Opt.Database);
    Source->SetTableName(L.Table);
    Source->Open();
    TField* Result = Source->FieldByName(L.Result);
    for (const std::string& K : SplitFieldNames(L.LookupKey)) Source->FieldByName(K);
    for (const std::string& K : SplitFieldNames(L.Key)) DataSet.FieldByName(K);
    DataSet.AddLookupField(L.Name, Result->DataType(), Source.get(), L.Key, L.LookupKey, L.Result,
                           Result->Size());
    LookupTables.push_back(std::move(Source));
  }
  DataSet.Open();
}

// Number of records in a table file, read back from disk.
int CountRecords(const std::string& Path) {
  TTable T;
  T.SetTableName(Path);
  T.Open();
  return T.RecordCount();
}

int Run(const TSearchOptions& Opt) {
  TStatus Status;
  std::ostream& Info = Opt.Format == TOutputFormat::Table ? std::cout : std::cerr;

  // A query's records shown only up to a limit are read only that far (one more tells whether
  // some were left): a result of millions of rows is never built to show a few. The search then
  // runs as SQL, with its own statement, so that it finds its records among all of the query's
  // and not only among those read. Counting, exporting and lookups need every record.
  const bool ReadPart = Opt.HasQuery && Opt.Limit >= 0 && !Opt.CountOnly &&
                        Opt.ExportFile.empty() && Opt.Lookups.empty();
  std::optional<TSqlRowLimit> RowLimit;
  if (ReadPart) RowLimit.emplace(static_cast<size_t>(Opt.Limit) + 1);

  if (Opt.Confine && ResolveDatabase(Opt.Database).Kind == TDatabaseKind::Folder)
    SetDatabaseConfined(Opt.Database, true);

  std::vector<std::unique_ptr<TTable>> LookupTables;
  std::unique_ptr<TDataSet> Searched;
  if (Opt.HasQuery) {
    auto Q = std::make_unique<TQuery>();
    Q->SetDatabaseName(Opt.Database);
    Q->SQL().SetText(Opt.Query);
    Searched = std::move(Q);
    Status.Show("ejecutando la consulta");
  } else {
    auto T = std::make_unique<TTable>();
    T->SetDatabaseName(Opt.Database);
    T->SetTableName(Opt.Table);
    Searched = std::move(T);
    Status.Show("abriendo " + Opt.Table);
  }
  OpenSearched(*Searched, Opt, LookupTables);

  // On a server, --explain records the statements the search sends, to ask for their plans.
  std::unique_ptr<TServerExplain> ServerPlans;
  if (Opt.Explain) {
    const TDatabaseRef Ref = ResolveDatabase(Opt.Database);
    if (Ref.Kind == TDatabaseKind::PostgreSQL)
      ServerPlans = std::make_unique<TServerExplain>(ConnectDatabase(Ref));
  }

  // The engine is configured the way the search dialog does before each search, then searched
  // and, like the search form's order button, ordered afterwards.
  Status.Show("buscando");
  TKVFind Find;
  TDataSource Source;
  Find.SetFiltered(false);
  Find.SetFilter("");
  Find.SetPDataSet(Searched.get());
  Find.SetpDataSource(&Source);
  Find.SetCaseSensitive(Opt.CaseSensitive);
  Find.SetAccentSensitive(!Opt.IgnoreAccents);
  Find.SetOrderBy("");
  Find.SetDescendant(Opt.Descendant);
  Find.SetForceSQL(Opt.ForceSQL || (ReadPart && !Opt.Expression.empty()));
  Find.SetFilter(Opt.Expression);
  Find.SetFiltered(true);
  if (!Opt.OrderBy.empty()) Find.SetOrderBy(Opt.OrderBy);
  Status.Clear();

  TDataSet* Results = Find.Results();
  if (!Results) throw Exception("La búsqueda no ha dado ningún resultado");
  if (Opt.Explain) {
    if (Results == Searched.get())
      Info << "filter: " << Searched->Filter() << '\n';
    else
      Info << "sql: " << Find.SQLQuery()->SQL().Text();
    if (Results != Searched.get() && !Find.SQLQuery()->SentSQL().empty())
      Info << "sent: " << Find.SQLQuery()->SentSQL() << '\n';
    if (ServerPlans) {
      // The count and the first records are what every output reads: their statements are
      // sent now (and kept for the output) so that their plans come before the records.
      Status.Show("consultando el plan");
      if (Results->RecordCount() > 0 && !Opt.CountOnly) Results->RowAt(0);
      ServerPlans->Write(Info);
      Status.Clear();
    }
    Info.flush();
  }

  if (Opt.CountOnly) {
    if (Opt.Format == TOutputFormat::Json)
      std::cout << "{\"count\": " << Results->RecordCount() << "}\n";
    else
      std::cout << CounterLine(Results->RecordCount()) << '\n';
  } else if (Opt.Format == TOutputFormat::Table) {
    WriteTable(std::cout, *Results, Opt.Limit, !ReadPart);
  } else if (Opt.Format == TOutputFormat::Csv) {
    WriteCsv(std::cout, *Results, Opt.Limit);
    std::cerr << TResultCount::Of(*Results, Opt.Limit, !ReadPart).Line() << '\n';
  } else {
    WriteJson(std::cout, *Results, Opt.Limit, !ReadPart);
  }
  std::cout.flush();

  if (!Opt.ExportFile.empty()) {
    // The layer gives a name without a table extension ".db"; report the file really written.
    std::string Target = TargetTablePath("", Opt.ExportFile);
    Status.Show("exportando a " + Target);
    bool Ok =
        Find.ExportResults(Opt.ExportFile, QuotedColumnList(Opt.ExportColumns), Opt.AllRecords);
    Status.Clear();
    if (!Ok) return 1;  // the engine has shown why
    // A successful export wrote every record of its source: the search's result, or every
    // record of the table, which only the file tells without searching again.
    const long long Written = Opt.AllRecords ? CountRecords(Target) : Find.Results()->RecordCount();
    Info << "Exportados " << Written << " registros a " << Target << '\n';
  }
  return 0;
}

}  // namespace

int main(int Argc, char** Argv) {
  SetMessageHandler([](const std::string& Msg, TMsgDlgType, const std::string& Detail) {
    std::fprintf(stderr, "kvsearch: %s\n", Msg.c_str());
    if (!Detail.empty()) std::fprintf(stderr, "kvsearch: %s\n", Detail.c_str());
  });

  std::vector<std::string> Args(Argv + 1, Argv + Argc);
  const char* Default = std::getenv("KV_DEFAULT_DATABASE");
  TSearchOptions Opt;
  std::string Error;
  switch (ParseSearchOptions(Args, Default ? Default : "", IsDatabaseName, Opt, Error)) {
    case TParseResult::Help:
      std::cout << UsageText();
      return 0;
    case TParseResult::Version:
      std::cout << "kvsearch " KV_VERSION "\n";
      return 0;
    case TParseResult::UsageError:
      std::cerr << "kvsearch: " << Error << "\n\n" << UsageText();
      return 2;
    case TParseResult::Ok:
      break;
  }
  try {
    return Run(Opt);
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::fprintf(stderr, "kvsearch: %s\n", OutOfMemoryText());
    return 1;
  } catch (const std::exception& E) {
    std::cout.flush();
    std::fprintf(stderr, "kvsearch: %s\n", E.what());
    return 1;
  }
}
