// TTable (table files, indexes, master-detail, batch moves) and TQuery (local SQL), over a
// folder of table files or over a database (see Database.h): there the records stay in the
// database, which runs every search, and the dataset reads them a window at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DB.h"

#pragma GCC visibility push(default)
namespace kv {

class TIndexDef {
 public:
  std::string Name;
  // Field names joined by ";".
  std::string Fields;
  TIndexOptions Options = 0;
};

class TIndexDefs {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TIndexDef& Items(int I) { return FItems.at(I); }
  const TIndexDef& Items(int I) const { return FItems.at(I); }
  TIndexDef& operator[](int I) { return FItems.at(I); }
  void Add(std::string Name, std::string Fields, TIndexOptions Options);
  void Clear() { FItems.clear(); }
  // Whether the definitions reflect the table (set by Update).
  bool Updated = false;

 private:
  std::vector<TIndexDef> FItems;
};

class TTable : public TDataSet {
 public:
  explicit TTable(TComponent* AOwner = nullptr);
  ~TTable() override;

  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(std::string V);
  const std::string& TableName() const { return FTableName; }
  void SetTableName(std::string V);

  // Fields that order the table and link it to its master, joined by ";".
  const std::string& IndexFieldNames() const { return FIndexFieldNames; }
  void SetIndexFieldNames(std::string V);
  int IndexFieldCount() const;
  // The Index-th index field (the table must be open).
  TField* IndexFields(int Index) const;
  TIndexDefs& IndexDefs() { return FIndexDefs; }
  // Reads the table's index definitions (the primary key from the file header; over a database
  // the catalog's indexes, the primary key first and named "").
  void UpdateIndexDefs();
  // Names of the table's indexes ("" stands for the primary index).
  void GetIndexNames(TStringList& List);

  // The data source of the master link (read from the link itself, so a destroyed data source
  // reads as none).
  TDataSource* MasterSource() const;
  void SetMasterSource(TDataSource* V);
  const std::string& MasterFields() const { return FMasterFields; }
  void SetMasterFields(std::string V);

  // Creates the file named by DatabaseName/TableName in the format its extension names and
  // copies every record of Source (batCopy); returns the number of records copied. The file
  // appears under its name only when complete. Over a database the table is replaced in one
  // transaction.
  int BatchMove(TDataSet* Source, TBatchMode Mode);
  // The same, copying only Fields (fields of Source, in the order given). Each value is read
  // once, where it is: nothing of Source is copied before it is written.
  int BatchMove(TDataSet* Source, TBatchMode Mode, const std::vector<TField*>& Fields);

  // The stored row Locate would find with the master link cut: the first match over every record
  // in index order, the filter applied while Filtered; NoBookmark when none. The link, the records
  // shown and the current record stay as they are. Raises as Locate does.
  TBookmark LocateUnlinked(const std::string& KeyFields, const Variant& KeyValues,
                           TLocateOptions Options) const;

  // The file behind the table (resolved at Open).
  const std::string& FilePath() const { return FFilePath; }

 protected:
  void InternalOpen() override;
  void BuildBaseRows(std::vector<uint32_t>& Rows) override;
  void PrepareCursor() override;

 private:
  class TMasterLink;
  // Column indexes of names in the table; raises naming the first one missing.
  std::vector<int> ColumnsOf(const std::vector<std::string>& Names) const;
  void MasterChanged();
  // The master the rows are restricted to: the link's dataset when it is open and MasterFields
  // is set, else null.
  TDataSet* LinkedMaster() const;
  // Store columns of the detail side of the link, one per master field.
  std::vector<int> LinkColumns(const std::vector<std::string>& MasterNames) const;
  // The rows of the link's hash index bucket that hold every match of a locate, when the key
  // fixes all the link's columns exactly; nothing otherwise.
  std::optional<std::vector<uint32_t>> LinkBucket(const std::string& KeyFields,
                                                  const Variant& KeyValues,
                                                  TLocateOptions Options) const;
  std::string FDatabaseName, FTableName, FIndexFieldNames, FMasterFields, FFilePath;
  TIndexDefs FIndexDefs;
  std::unique_ptr<TMasterLink> FMasterLink;
  bool FLinkedRows = false;  // the rows were last built restricted to a master record
};

// The open table of this process whose file is Path (the same file by identity: any letter
// case or path that names it, links included), or null.
TTable* FindOpenTableOnFile(const std::string& Path);
// Every open table of this process.
std::vector<TTable*> OpenTables();

class TQuery : public TDataSet {
 public:
  explicit TQuery(TComponent* AOwner = nullptr);
  ~TQuery() override;
  const std::string& DatabaseName() const { return FDatabaseName; }
  void SetDatabaseName(std::string V) { FDatabaseName = std::move(V); }
  // The statement's lines.
  TStringList& SQL() { return FSQL; }
  const TStringList& SQL() const { return FSQL; }
  // The statement last sent to the database for SQL (in its dialect); empty over table files.
  const std::string& SentSQL() const { return FSentSQL; }
  // Runs a statement that returns no rows.
  void ExecSQL();
  TBookmark LookupRow(const std::vector<uint32_t>& Rows) const override;

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  void BuildBaseRows(std::vector<uint32_t>& Rows) override;

 private:
  std::string FDatabaseName;
  TStringList FSQL;
  std::string FSentSQL;
  // The rows of a table's own store the result consists of, in order, when the statement
  // selected rows of that one table with its columns as they are: the result shows them instead
  // of a copy of their values.
  std::optional<std::vector<uint32_t>> FStoreRows;
  // The place of each stored row among FStoreRows (-1: not in the result), made for the first
  // lookup into the result.
  mutable std::vector<int32_t> FPlaceOfRow;
};

}  // namespace kv
#pragma GCC visibility pop
