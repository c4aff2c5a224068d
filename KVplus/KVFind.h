// TKVFind: the non-visual search engine. It reads a search expression into its conditions,
// checks it against the searched dataset and shows the matching records either as a filter on
// that dataset or through a generated local-SQL statement run in an internal query; it also
// steps through matches and exports the current result to a table file. The expression is read
// once into a model of its conditions (KVFindModel.h), of which the per-condition lists are
// views. Its work is spread over KVFind.cpp (the component), KVFindExpression.cpp (expressions
// and their check), KVFindTexts.cpp (names and generated texts), KVFindSearch.cpp (search and
// navigation) and KVFindExport.cpp (export).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Classes.h"
#include "DB.h"
#include "DBTables.h"
#include "KVFindModel.h"

#pragma GCC visibility push(default)
namespace kv {

class TKVFind : public TComponent {
 public:
  explicit TKVFind(TComponent* AOwner = nullptr);
  ~TKVFind() override;

  // ---- properties
  // The search expression.
  const std::string& Filter() const { return PFilter; }
  // Stores Value; a non-empty one is parsed and checked at once ("Filtro no válido").
  void SetFilter(const std::string& Value);
  // The navigation expression.
  const std::string& Condition() const { return PCondition; }
  void SetCondition(std::string Value) { PCondition = std::move(Value); }
  TDataSet* DataSet() const { return PDataSet; }
  // Attaches the searched dataset (it must have field objects); recreates the internal query.
  // Null detaches the engine, as does the destruction of the dataset.
  void SetPDataSet(TDataSet* Value);
  TDataSource* DataSource() const { return PDataSource; }
  // Stores Value and points it at the searched dataset; a destroyed data source reads as none.
  void SetpDataSource(TDataSource* Value);
  bool CaseSensitive() const { return PCaseSensitive; }
  // Stores Value and gives the searched dataset and the internal query matching filter options.
  void SetCaseSensitive(bool Value);
  // False: every comparison of text ignores accents (letters with diacritics as their base
  // letters, ñ apart), on the dataset filter and in the statements; true (the default) compares
  // them as written.
  bool AccentSensitive() const { return PAccentSensitive; }
  // Stores Value and gives the searched dataset and the internal query matching filter options.
  void SetAccentSensitive(bool Value);
  bool Filtered() const { return PFiltered; }
  // True runs the search of Filter; false ends it and gives the dataset its own filter back.
  void SetFiltered(bool Value);
  bool ForceSQL() const { return PForceSQL; }
  void SetForceSQL(bool Value) { PForceSQL = Value; }
  const std::string& OrderBy() const { return POrderBy; }
  // Stores the order field; with a dataset and a data source it shows the result ordered at once.
  void SetOrderBy(const std::string& Value);
  bool Descendant() const { return PDescendant; }
  void SetDescendant(bool Value) { PDescendant = Value; }
  bool MasterSlave() const { return PMasterSlave; }
  void SetMasterSlave(bool Value) { PMasterSlave = Value; }
  // The dataset holding the current result: the searched dataset or the internal query.
  TDataSet* Results() const { return PResults; }

  // ---- navigation and export
  // Moves to the first record that satisfies Condition within the current result.
  bool FindFirst();
  // Moves to the next record after the current one that satisfies Condition.
  bool FindNext();
  // Moves to the previous record before the current one that satisfies Condition.
  bool FindPrior();
  // Writes the current search's records (every record of the searched dataset when AllRecords)
  // to a new table file, keeping only the fields named in Columns (all when empty). True when
  // every record was copied; failures of the copy are reported in a message box. A name in
  // Columns that the result lacks, and a target that is a table the search reads (the searched
  // table, its masters, its lookup tables, a query's tables), raise, naming it, before anything
  // is written.
  bool ExportResults(const std::string& FileName, const std::string& Columns, bool AllRecords);

  // ---- parsing and checking
  // Reads an expression into the per-condition lists, replacing their contents.
  void SeparaDatos(const std::string& S);
  // Takes the parentheses off one part of a condition; returns them and leaves the rest in S.
  std::string QuitaParentesis(std::string& S);
  // Checks the lists against the searched dataset; raises for a condition that lacks its field
  // name or operator (naming where), for a constant without its closing quote ("Filtro no
  // válido") and for a value of the wrong type.
  bool ValidateFilter();

  // ---- names and values for SQL
  // The name under which a table file appears in generated SQL.
  std::string ExtractNameOfFile(const std::string& Name);
  // The qualified name of a field for SQL; a lookup field adds its table and join.
  std::string GetFieldLongName(const std::string& Name, TDataSet* DataSet);
  // Rebuilds the FROM list and joins, turns the field names into long names and sets the types.
  void NombresDeCampos();
  // Rewrites the values of the conditions into their SQL forms.
  void PrepareData();
  // Adds the conditions that keep a detail table within its master records.
  void MasterSource();

  // ---- generated texts
  // Applies Filter as a filter on the searched dataset.
  void Buildfilter();
  // The dataset-filter text of Condition (empty when there is none).
  std::string Buildcondition();
  // The SQL condition of the prepared lists.
  std::string BuildWhereClausule();
  // The statement for a searched table.
  std::string TTAbleBuildSQL();
  // The statement for a searched query, built around its own SQL.
  std::string TQueryBuildSQL();
  // Gives the internal query fields that look like the searched dataset's.
  void PrepareSQL();

  // ---- search
  // Runs the search of Filter, as a dataset filter or as SQL.
  void BuildSearch();
  // Whether the prepared search has to run as SQL.
  bool NeedSQL();

  // ---- read access for tests and tools
  const TStringList& IFieldsList() const { return *IFields; }
  const TStringList& IConditionsList() const { return *IConditions; }
  const TStringList& IValuesList() const { return *IValues; }
  const TStringList& IUnionsList() const { return *IUnions; }
  const TStringList& IParentesisList() const { return *IParentesis; }
  const TStringList& IFieldTypesList() const { return *IFieldTypes; }
  const std::string& Tablas() const { return ITablas; }
  const std::string& Uniones() const { return IUniones; }
  const std::string& OrderByLongName() const { return IOrderBy; }
  bool ActiveDataSet() const { return IActiveDataSet; }
  TQuery* SQLQuery() const { return ISQL.get(); }
  TTable* TableForExport() const { return ITableForExport.get(); }

 protected:
  // Lets go of the searched dataset or the data source when it is destroyed.
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  // The lists show the model; Use makes E the model.
  void ShowLists();
  void Use(const TKVExpression& E);
  // PFilter read into conditions, once while PFilter stays the same.
  const TKVExpression& FilterExpression();
  // Raises what the reading found missing in a condition (a name, an operator), if anything;
  // and parentheses that do not close in order, or text after those that close a condition.
  void RaiseSplitFault() const;
  void RaiseParenthesesFault() const;

  void AddTabla(const std::string& Name);
  void AddUnion(const std::string& Condition);
  // The name of a field that is a right operand, for SQL.
  std::string OperandName(const std::string& Name);
  // The statements, with where their parts came from (the public builders return their text).
  TKVStatement WhereStatement() const;
  TKVStatement TableStatement();
  TKVStatement QueryStatement();
  // Runs Statement in ISQL; an error the SQL layer finds in it is told against the expression
  // or the query the user wrote, in a short message.
  void OpenStatement(const TKVStatement& Statement);

  void BuildSearchAsSQL();
  // Gives the searched dataset back the filter, options and flag it had when it was assigned.
  void RestoreOwnFilter();
  bool Navigate(int Direction);
  // The files of the tables the search reads, with the name each is known by.
  std::vector<std::pair<std::string, std::string>> TablesRead();

  std::string PFilter;
  std::string PCondition;
  TDataSet* PDataSet = nullptr;
  TDataSource* PDataSource = nullptr;
  bool PCaseSensitive = false;
  bool PAccentSensitive = true;
  bool PFiltered = false;
  bool PForceSQL = false;
  std::string POrderBy;
  bool PDescendant = false;
  TDataSet* PResults = nullptr;
  bool PMasterSlave = false;
  std::unique_ptr<TStringList> IFields;
  std::unique_ptr<TStringList> IConditions;
  std::unique_ptr<TStringList> IValues;
  std::unique_ptr<TStringList> IUnions;
  std::unique_ptr<TStringList> IParentesis;
  std::unique_ptr<TStringList> IFieldTypes;
  std::unique_ptr<TTable> ITableForExport;
  bool IActiveDataSet = false;
  std::unique_ptr<TQuery> ISQL;
  TFilterOptions IOriginalFilterOptions = 0;
  std::string IOriginalFilter;
  bool IOriginalFiltered = false;
  const TStringList* IOriginalSQL = nullptr;
  std::string ITablas;
  std::string IUniones;
  std::string IOrderBy;

  // The expression the lists show, with what the search worked out for it.
  TKVExpression FModel;
  // PFilter as last read.
  std::optional<TKVExpression> FFilterRead;
  // The entries of ITablas and IUniones, whole, for the duplicate tests and the query's FROM.
  std::vector<std::string> FTables;
  std::vector<std::string> FJoins;
};

}  // namespace kv
#pragma GCC visibility pop
