// Datasets, fields, field definitions, data sources and data links: the data-access layer
// the search components are built on. A dataset over table files is a cursor over a row-index
// vector into a shared TTableStore, its bookmarks stored-row ids; a dataset over a database reads
// its records a window at a time through a TRecordCursor, its bookmarks standing for key values.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Classes.h"
#include "FieldTypes.h"
#include "SysUtils.h"
#include "TableStore.h"
#include "Variant.h"

#pragma GCC visibility push(default)
namespace kv {

class TDataSet;
class TDataSource;
class TField;
class TFilterProgram;

// Errors of the data-access layer.
class EDatabaseError : public Exception {
  using Exception::Exception;
};

// A stored-row id (a dataset over a database: the number it gave a row's key); -1 for none.
using TBookmark = int64_t;
constexpr TBookmark NoBookmark = -1;

using TFieldGetTextEvent = std::function<void(TField& Sender, std::string& Text, bool DisplayText)>;
using TFieldSetTextEvent = std::function<void(TField& Sender, const std::string& Text)>;
// Computes a calculated field's value for a stored row of its dataset.
using TFieldCalcEvent = std::function<Variant(const TDataSet& DataSet, TBookmark Row)>;

class TField {
 public:
  explicit TField(TFieldType DataType);
  virtual ~TField();
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  const std::string& FieldName() const { return FFieldName; }
  // A field of a dataset keeps being found under its new name.
  void SetFieldName(std::string V);
  // The column title; the field name unless set.
  const std::string& DisplayLabel() const {
    return FDisplayLabel.empty() ? FFieldName : FDisplayLabel;
  }
  void SetDisplayLabel(std::string V) { FDisplayLabel = std::move(V); }
  TFieldType DataType() const { return FDataType; }
  int Size() const { return FSize; }
  void SetSize(int V) { FSize = V; }
  bool Required() const { return FRequired; }
  void SetRequired(bool V) { FRequired = V; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool V) { FVisible = V; }
  // Width in characters for grids; derived from the type and size unless set.
  int DisplayWidth() const;
  void SetDisplayWidth(int V) { FDisplayWidth = V; }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment V) { FAlignment = V; }
  // A condition every value must meet, in the filter language with SQL's IS [NOT] NULL; any
  // name in it stands for the field's value ("X IS NOT NULL", "Value > 0").
  const std::string& CustomConstraint() const { return FCustomConstraint; }
  void SetCustomConstraint(std::string V) { FCustomConstraint = std::move(V); }
  // The message of a failed CustomConstraint; of a failed range when there is no constraint.
  const std::string& ConstraintErrorMessage() const { return FConstraintErrorMessage; }
  void SetConstraintErrorMessage(std::string V) { FConstraintErrorMessage = std::move(V); }
  // Checks a value this field would take: CustomConstraint, then Required, then the range of a
  // numeric field. Raises EDatabaseError with ConstraintErrorMessage, or a message naming the
  // field, on the first check that fails. Nothing is stored.
  void Validate(const Variant& Value) const;

  TFieldKind FieldKind() const { return FFieldKind; }
  void SetFieldKind(TFieldKind V) { FFieldKind = V; }
  bool Calculated() const { return FFieldKind == fkCalculated; }
  void SetCalculated(bool V) { FFieldKind = V ? fkCalculated : fkData; }
  bool Lookup() const { return FFieldKind == fkLookup; }
  void SetLookup(bool V) { FFieldKind = V ? fkLookup : fkData; }
  // The dataset a lookup field reads; null once that dataset has been destroyed (its field's
  // dataset is told and lets go of it).
  TDataSet* LookupDataSet() const { return FLookupDataSet; }
  void SetLookupDataSet(TDataSet* V);
  const std::string& KeyFields() const { return FKeyFields; }
  void SetKeyFields(std::string V) { FKeyFields = std::move(V); }
  const std::string& LookupKeyFields() const { return FLookupKeyFields; }
  void SetLookupKeyFields(std::string V) { FLookupKeyFields = std::move(V); }
  const std::string& LookupResultField() const { return FLookupResultField; }
  void SetLookupResultField(std::string V) { FLookupResultField = std::move(V); }

  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;
  TFieldCalcEvent OnCalcValue;

  TDataSet* DataSet() const { return FDataSet; }
  // Index of the store column behind a data field, -1 when not bound.
  int FieldNo() const { return FFieldNo; }

  // The value in the current record (Null when empty or when there is no record).
  Variant Value() const;
  // The value in a stored row, without moving the cursor.
  Variant ValueAt(TBookmark Row) const;
  bool IsNull() const { return Value().IsNullOrEmpty(); }
  std::string AsString() const;
  int AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;
  // Text for display (grids): OnGetText, else the type's formatting of the value.
  std::string DisplayText() const;
  std::string DisplayTextAt(TBookmark Row) const;
  // Text for editing (OnGetText with DisplayText false, else AsString).
  std::string Text() const;

  // Formats a value the way this field displays it (DisplayFormat, Currency, dates).
  virtual std::string FormatValue(const Variant& V, bool Display) const;

 protected:
  friend class TDataSet;
  friend class TFieldDef;
  // The message when a non-empty value is out of the field's range; empty when it is not.
  virtual std::string RangeError(const Variant&) const { return std::string(); }
  TFieldType FDataType;

 private:
  std::string FFieldName, FDisplayLabel, FCustomConstraint, FConstraintErrorMessage;
  int FSize = 0;
  bool FRequired = false;
  bool FVisible = true;
  int FDisplayWidth = -1;
  TAlignment FAlignment = taLeftJustify;
  TFieldKind FFieldKind = fkData;
  TDataSet* FLookupDataSet = nullptr;
  std::string FKeyFields, FLookupKeyFields, FLookupResultField;
  TDataSet* FDataSet = nullptr;
  int FFieldNo = -1;
};

class TStringField : public TField {
 public:
  TStringField() : TField(ftString) { SetSize(20); }
  explicit TStringField(TFieldType T) : TField(T) {}
};

class TBooleanField : public TField {
 public:
  TBooleanField() : TField(ftBoolean) {}
  std::string FormatValue(const Variant& V, bool Display) const override;
};

// Numbers: DisplayFormat in the float-pattern language, and a range of valid values.
class TNumericField : public TField {
 public:
  using TField::TField;
  // The display pattern. Its '%' is a sign written after the number, which is not scaled: a
  // field holds percentages as the numbers shown (a discount of 10 shows "10%" under "#%").
  const std::string& DisplayFormat() const { return FDisplayFormat; }
  void SetDisplayFormat(std::string V) { FDisplayFormat = std::move(V); }
  // The range Validate checks; none while both are 0.
  double MinValue() const { return FMinValue; }
  void SetMinValue(double V) { FMinValue = V; }
  double MaxValue() const { return FMaxValue; }
  void SetMaxValue(double V) { FMaxValue = V; }
  std::string FormatValue(const Variant& V, bool Display) const override;

 protected:
  std::string RangeError(const Variant& V) const override;

 private:
  std::string FDisplayFormat;
  double FMinValue = 0, FMaxValue = 0;
};

class TIntegerField : public TNumericField {
 public:
  TIntegerField() : TNumericField(ftInteger) { SetAlignment(taRightJustify); }
  explicit TIntegerField(TFieldType T) : TNumericField(T) { SetAlignment(taRightJustify); }
};
class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
};
class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
};
class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField() : TIntegerField(ftAutoInc) {}
};

class TFloatField : public TNumericField {
 public:
  TFloatField() : TNumericField(ftFloat) { SetAlignment(taRightJustify); }
  explicit TFloatField(TFieldType T) : TNumericField(T) { SetAlignment(taRightJustify); }
  // Display as money when no DisplayFormat is set.
  bool Currency() const { return FCurrency; }
  void SetCurrency(bool V) { FCurrency = V; }
  std::string FormatValue(const Variant& V, bool Display) const override;

 private:
  bool FCurrency = false;
};
class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) { SetCurrency(true); }
};
class TBCDField : public TFloatField {
 public:
  TBCDField() : TFloatField(ftBCD) {}
};

class TDateTimeField : public TField {
 public:
  TDateTimeField() : TField(ftDateTime) {}
  explicit TDateTimeField(TFieldType T) : TField(T) {}
  const std::string& DisplayFormat() const { return FDisplayFormat; }
  void SetDisplayFormat(std::string V) { FDisplayFormat = std::move(V); }
  std::string FormatValue(const Variant& V, bool Display) const override;

 private:
  std::string FDisplayFormat;
};
class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
};
class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
};

class TMemoField : public TStringField {
 public:
  TMemoField() : TStringField(ftMemo) {}
};
class TBlobField : public TStringField {
 public:
  explicit TBlobField(TFieldType T = ftBlob) : TStringField(T) {}
};

// Creates a field object of the class that matches a data type.
std::unique_ptr<TField> CreateFieldForType(TFieldType T);

class TFieldDef {
 public:
  TFieldDef() = default;
  TFieldDef(std::string Name, TFieldType T, int Size, bool Required)
      : Name(std::move(Name)), DataType(T), Size(Size), Required(Required) {}
  std::string Name;
  TFieldType DataType = ftUnknown;
  int Size = 0;
  bool Required = false;
  // Creates the field for this definition, appended as the dataset's last field.
  TField* CreateField(TDataSet* DataSet) const;
};

class TFieldDefs {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  // A definition handed out to be changed may be renamed: the names are looked up afresh.
  TFieldDef& Items(int Index) {
    FIndexStale = true;
    return FItems.at(Index);
  }
  const TFieldDef& Items(int Index) const { return FItems.at(Index); }
  TFieldDef& operator[](int Index) { return Items(Index); }
  void Add(std::string Name, TFieldType T, int Size = 0, bool Required = false);
  void Assign(const TFieldDefs& Other) {
    FItems = Other.FItems;
    FIndexStale = true;
  }
  // Index of the first definition named Name ignoring case, -1 when absent.
  int IndexOf(std::string_view Name) const;
  void Delete(int Index) {
    FItems.erase(FItems.begin() + Index);
    FIndexStale = true;
  }
  void Clear() {
    FItems.clear();
    FIndexStale = true;
  }

 private:
  std::vector<TFieldDef> FItems;
  // The names of FItems, built on the first IndexOf after a change other than Add.
  mutable TNameIndex FIndex;
  mutable bool FIndexStale = true;
};

// Receives a dataset's notifications through a data source. The order a view can rely on:
// DataSetChanging comes before the visible rows (or the dataset behind the source) change, and
// is answered by exactly one ActiveChanged or DataSetChanged once they have changed; a link may
// be told DataSetChanging again before that answer (treat it as idempotent), and may receive an
// answer without a preceding DataSetChanging (when it was attached in between). DataSetScrolled
// means only the current record moved: the rows are as they were.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;
  TDataSource* DataSource() const { return FDataSource; }
  // Attaches the link to V (detaching it from its old source) and calls ActiveChanged.
  void SetDataSource(TDataSource* V);
  // The data source's dataset, or null.
  TDataSet* DataSet() const;
  // The visible rows are about to change (open, close, filter, order, refresh, master move, or
  // the data source is about to name another dataset).
  virtual void DataSetChanging() {}
  // The dataset was opened or closed, or the data source now names another dataset.
  virtual void ActiveChanged() {}
  // The visible rows changed (filter, order, refresh, master move, appended record): everything
  // shown must be read again.
  virtual void DataSetChanged() {}
  // The current record moved; the rows did not change.
  virtual void DataSetScrolled() {}

 private:
  friend class TDataSource;
  TDataSource* FDataSource = nullptr;
};

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
  ~TDataSource() override;
  TDataSet* DataSet() const { return FDataSet; }
  // Points the data source at another dataset; links are told at once.
  void SetDataSet(TDataSet* V);
  // Dispatches a dataset notification to the links (called by the dataset).
  void NotifyDataSetChanging();
  void NotifyActiveChanged();
  void NotifyDataSetChanged();
  void NotifyScrolled();

 private:
  friend class TDataLink;
  TDataSet* FDataSet = nullptr;
  std::vector<TDataLink*> FLinks;
};

// The records of a dataset kept in a database, which stay there: a cursor reads them a window
// at a time, in the dataset's order, by statements the database runs (see platform/db).
// Positions count from 0 among the records the master restriction and the filter let through.
// A row is named by a bookmark that stands for its key values, valid while the dataset is open
// whether or not the row is among the records at the moment.
class TRecordCursor {
 public:
  virtual ~TRecordCursor();
  // The index of the data column Name (any letter case), -1 when the records have none.
  virtual int ColumnIndex(std::string_view Name) const = 0;
  // Checks Text (the filter language) against the dataset's fields and keeps it, with Options,
  // as the filter of the records when Active; raises EDatabaseError, keeping the previous one,
  // for a text that is wrong or cannot be run by the database.
  virtual void SetFilter(const std::string& Text, bool Active, TFilterOptions Options) = 0;
  // Forgets the records read: what restricts or orders them changed.
  virtual void Invalidate() = 0;
  // The number of records.
  virtual int64_t Count() = 0;
  // The number of records when it is known without a statement, -1 otherwise.
  virtual int64_t KnownCount() const { return -1; }
  // The sums of Fields' values (Null and empty values left out) over the records at positions
  // From to To (inclusive, From <= To) into Sums, one per field; false when the database cannot
  // compute one of them (the caller then reads the rows).
  virtual bool SumRecords(const std::vector<const TField*>& Fields, int64_t From, int64_t To,
                          std::vector<double>& Sums) {
    (void)Fields, (void)From, (void)To, (void)Sums;
    return false;
  }
  // The record at Index, NoBookmark when there is none.
  virtual TBookmark RowAt(int64_t Index) = 0;
  // The record Back places before the last one (0: the last), NoBookmark when there is none. A
  // cursor that reads the last records without counting them all does so here.
  virtual TBookmark RowFromEnd(int64_t Back) {
    const int64_t N = Count();
    return Back >= 0 && Back < N ? RowAt(N - 1 - Back) : NoBookmark;
  }
  // How many records follow Row when that is known without a statement, -1 otherwise.
  virtual int64_t KnownPlaceFromEnd(TBookmark Row) const {
    (void)Row;
    return -1;
  }
  // The position of a row among the records, -1 when it is not one of them.
  virtual int64_t IndexOf(TBookmark Row) = 0;
  // The value of a data field of this dataset, or of a lookup field it reads (ReadsLookup), in
  // a row (Null for NoBookmark).
  virtual Variant Value(const TField& Field, TBookmark Row) = 0;
  // Whether the cursor reads a lookup field's values with the records (a lookup into the same
  // database); other lookups are resolved by the field.
  virtual bool ReadsLookup(const TField& Field) const = 0;
  // The first record from index From on (Forward) or from From back that Text (a filter text,
  // under the filter options) accepts; NoBookmark when none. Raises for a bad Text.
  virtual TBookmark Find(const std::string& Text, int64_t From, bool Forward) = 0;
  // Where LocateRow looks: among the records; among every row the filter lets through (the
  // master restriction aside); among every row.
  enum class TScope { Records, Unlinked, AllRows };
  // The first row in order whose KeyFields hold Values (one per name), compared as Locate
  // does; NoBookmark when none.
  virtual TBookmark LocateRow(const std::vector<std::string>& KeyFields,
                              const std::vector<Variant>& Values, TLocateOptions Options,
                              TScope Scope) = 0;
};

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* AOwner = nullptr);
  ~TDataSet() override;

  // ---- fields
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  TField* Fields(int Index) const { return FFields.at(Index).get(); }
  // The field named Name (any letter case); raises EDatabaseError when absent.
  TField* FieldByName(std::string_view Name) const;
  // The field named Name (any letter case), or null.
  TField* FindField(std::string_view Name) const;
  TFieldDefs& FieldDefs() { return FFieldDefs; }
  const TFieldDefs& FieldDefs() const { return FFieldDefs; }
  // Adds a persistent field (declared before Open), appended last; the dataset owns it.
  TField* AddField(std::unique_ptr<TField> F);
  template <class T>
  T* AddField(std::string Name) {
    auto F = std::make_unique<T>();
    F->SetFieldName(std::move(Name));
    return static_cast<T*>(AddField(std::move(F)));
  }
  // Adds a lookup field: Key (this dataset's field) = LookupKey (in Source); shows Result.
  TField* AddLookupField(std::string Name, TFieldType T, TDataSet* Source, std::string Key,
                         std::string LookupKey, std::string Result, int Size = 0);
  // Removes and destroys every field.
  void ClearFields();
  void RemoveField(TField* F);

  // ---- state
  void Open();
  void Close();
  bool Active() const { return FActive; }
  void SetActive(bool V) { V ? Open() : Close(); }
  bool IsEmpty() const { return !HasRecord(0); }
  // Records visible through master restriction and filter.
  int RecordCount() const;
  // RecordCount when it is known without asking the database (always for table files), -1
  // when counting would take a statement.
  int KnownRecordCount() const;
  // The sums of Fields' values (Null and empty values left out) over the records at positions
  // From to To (0-based, inclusive, in either order), one per field: over a database by one
  // statement when the database can compute every field.
  std::vector<double> SumRecords(const std::vector<const TField*>& Fields, int From, int To) const;
  // Re-reads the rows (restriction, order, filter) and goes to the first record.
  void Refresh();

  // ---- moving
  void First();
  void Last();
  void Next();
  void Prior();
  int MoveBy(int Distance);
  bool Bof() const { return FBof; }
  bool Eof() const { return FEof; }
  // 1-based number of the current record among the visible ones, 0 when none.
  int RecNo() const { return IsEmpty() ? 0 : Cur() + 1; }
  void SetRecNo(int V);

  // ---- filter
  const std::string& Filter() const { return FFilterText; }
  // Sets and compiles the filter text; raises EDatabaseError (position and token) for a bad
  // text, keeping the previous filter.
  void SetFilter(const std::string& V);
  bool Filtered() const { return FFiltered; }
  void SetFiltered(bool V);
  TFilterOptions FilterOptions() const { return FFilterOptions; }
  void SetFilterOptions(TFilterOptions V);
  // Move to the first/last/next/previous record that satisfies the Filter text, whether or not
  // Filtered is set; true when one was found (and made current).
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();
  // The same with Text (a filter text) in place of the Filter text, which stays as it is, as do
  // Filtered and the records shown: a search steps through matches this way while views see
  // nothing but the record moving. Raises EDatabaseError for a bad Text, without moving.
  bool FindFirst(const std::string& Text);
  bool FindNext(const std::string& Text);
  bool FindPrior(const std::string& Text);

  // ---- locate and bookmarks
  // KeyFields ";"-joined; KeyValues one value or a variant array (one per name).
  bool Locate(const std::string& KeyFields, const Variant& KeyValues, TLocateOptions Options);
  // Like Locate, without moving: the value of ResultFields in the found record (Null if none).
  Variant Lookup(const std::string& KeyFields, const Variant& KeyValues,
                 const std::string& ResultFields);
  TBookmark GetBookmark() const { return CurrentRow(); }
  // Moves to a bookmarked row; raises EDatabaseError when it is not visible.
  void GotoBookmark(TBookmark B);
  bool BookmarkValid(TBookmark B) const;

  // ---- controls
  // While controls are disabled, notifications are held back: on the last EnableControls the
  // links get one ActiveChanged or DataSetChanged when the rows changed meanwhile, else one
  // DataSetScrolled when only the record moved, else nothing. DataSetChanging is never held
  // back (a view must hear it before the rows change).
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return FDisableCount > 0; }

  // ---- row access for controls and the engine
  // The stored-row id of the current record, -1 when none.
  TBookmark CurrentRow() const;
  // The stored-row id of the Index-th visible record (0-based); raises std::out_of_range when
  // there is none.
  TBookmark RowAt(int Index) const;
  // Index among the visible records of a stored row, -1 when not visible.
  int IndexOfRow(TBookmark Row) const;
  // The store behind the records (null while closed, and over a database, whose records are
  // read through Cursor()); shared with other datasets and never changed while they may read it
  // (see TTableStore).
  const TTableStore* Store() const { return FStore.get(); }
  // The cursor of a dataset open over a database, else null.
  TRecordCursor* Cursor() const { return FCursor.get(); }
  const std::shared_ptr<const TTableStore>& StorePtr() const { return FStore; }

  // Of Rows (the stored rows a lookup into this dataset matched, in stored order), the one the
  // lookup finds, -1 for none: the first. A dataset whose records are only some rows of its
  // store, or in an order of its own (a query's result seen over a table's store), finds the
  // first of its own records, as it would in a store of its own.
  virtual TBookmark LookupRow(const std::vector<uint32_t>& Rows) const;

  // Data sources pointing at this dataset (maintained by TDataSource).
  void AttachDataSource(TDataSource* DS);
  void DetachDataSource(TDataSource* DS);

 protected:
  // Loads the store and fills FieldDefs; called by Open.
  virtual void InternalOpen() = 0;
  virtual void InternalClose() {}
  // The rows before filtering, in order: all rows by default. Subclasses restrict (master
  // link) or order (index) them.
  virtual void BuildBaseRows(std::vector<uint32_t>& Rows);
  // Drops the references to a component being destroyed: lookup fields reading it.
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void SetStore(std::shared_ptr<const TTableStore> S) { FStore = std::move(S); }
  // Over a database: the cursor that reads the records (InternalOpen sets it instead of a
  // store, with the FieldDefs).
  void SetCursor(std::unique_ptr<TRecordCursor> C) { FCursor = std::move(C); }
  // Over a database: sets what restricts and orders the records on the cursor, before they are
  // read again (the counterpart of BuildBaseRows).
  virtual void PrepareCursor() {}
  // Replaces the store of an open dataset by one with the same columns and at least the same
  // rows (a private copy about to grow); the records shown stay as they are.
  void ReplaceStore(std::shared_ptr<const TTableStore> S);
  // Rebuilds the visible rows keeping the current record if still visible (else first). Views
  // are told of a change only when the visible rows differ, else of a scroll when the current
  // record moved.
  void Resync(bool KeepPosition);
  // A row was appended to the store: shows it last (when it passes the filter) and goes to it.
  void RowAppended(uint32_t Row);
  // Notifications to data sources (answers held back while controls are disabled).
  void DataSetChanging();
  void DataSetChanged();
  void ActiveChangedNotify();
  void Scrolled();
  // Raises EDatabaseError unless open.
  void CheckActive() const;
  // Over a database: the first row Locate would find in Scope, NoBookmark when none. Raises as
  // Locate.
  TBookmark LocateCursor(const std::string& KeyFields, const Variant& KeyValues,
                         TLocateOptions Options, TRecordCursor::TScope Scope) const;
  // The first of Rows[0..N) (stored-row ids; every stored row in stored order when Rows is null)
  // that Locate(KeyFields, KeyValues, Options) would accept and, while Filtered, the filter
  // passes; NoBookmark when none. The rows need not be visible; nothing moves. Raises as Locate.
  TBookmark LocateIn(const uint32_t* Rows, size_t N, const std::string& KeyFields,
                     const Variant& KeyValues, TLocateOptions Options) const;

 private:
  void BindFields();
  // The visible rows from the store, master restriction, order and filter, into Rows.
  void BuildRows(std::vector<uint32_t>& Rows);
  bool MatchesFilter(uint32_t Row) const;
  // Moves to the first record from index From on (Forward) or from From back that Prog accepts
  // (every record when Prog is null); false when none does.
  bool Seek(const TFilterProgram* Prog, long From, bool Forward);
  // The same over a database, for a filter text (blank: every record).
  bool SeekCursor(const std::string& Text, long From, bool Forward);

  // Runs Change, which sets the filter text, Filtered or the options and shows the rows they
  // give; when the user stops it (EAborted) the filter is put back as it was, with the rows,
  // the record and the order as they were.
  void ChangeFilter(const std::function<void()>& Change);
  // Compiles a filter text (checks it, over a database) for the dataset as it is open.
  void CompileFilter(const std::string& Text, bool Filtered, TFilterOptions Options);
  void SetCur(int Index);
  // The current record's position from the first (a place kept from the end is counted now).
  int Cur() const;
  // Whether there is a record at Index.
  bool HasRecord(long Index) const;

  friend class TField;
  // Destroys every field.
  void DropFields();
  std::vector<std::unique_ptr<TField>> FFields;
  // The names of FFields, built on the first FindField after a field was removed or renamed.
  mutable TNameIndex FFieldIndex;
  mutable bool FFieldIndexStale = true;
  bool FDefaultFields = false;
  TFieldDefs FFieldDefs;
  bool FActive = false;
  std::shared_ptr<const TTableStore> FStore;
  std::unique_ptr<TRecordCursor> FCursor;
  std::vector<uint32_t> FRows;
  mutable std::vector<int32_t> FRowPos;  // position of each stored row in FRows, -1 when hidden
  // The current record's position; with FFromEnd over a cursor, how many records follow it (a
  // jump to the last record counts none), counted from the first once something asks (Cur).
  mutable int FCur = 0;
  mutable bool FFromEnd = false;
  bool FBof = true, FEof = true;
  std::string FFilterText;
  std::shared_ptr<TFilterProgram> FFilterProg;  // shared with a change that may be undone
  bool FFiltered = false;
  TFilterOptions FFilterOptions = 0;
  int FDisableCount = 0;
  bool FChangingSent = false;  // a DataSetChanging is out, not yet answered
  bool FPendingActive = false, FPendingChange = false, FPendingScroll = false;
  std::vector<TDataSource*> FDataSources;
};

// A dataset filled row by row by code and tests: define FieldDefs (or persistent fields),
// CreateDataSet, then AppendRecord. Its records live in a store of its own; opened over a shared
// store it copies that store before its first change, so nobody else sees the change.
class TMemDataSet : public TDataSet {
 public:
  explicit TMemDataSet(TComponent* AOwner = nullptr) : TDataSet(AOwner) {}
  // Creates an empty store from FieldDefs (or the persistent data fields) and opens.
  void CreateDataSet();
  // Appends a record: one value per data field in field order; stays on the new record.
  void AppendRecord(const std::vector<Variant>& Values);
  // Opens over an existing store (shared; copied only when this dataset changes it).
  void OpenStore(std::shared_ptr<const TTableStore> S);
  // Names the primary-key fields of the records (kept when they are copied to a table file).
  void SetPrimaryKey(std::vector<std::string> Names);

 protected:
  void InternalOpen() override;

 private:
  // The store, made this dataset's own first when anyone else may read it.
  TTableStore& OwnStore();
  std::shared_ptr<const TTableStore> FShared;  // opened over; never changed here
  std::shared_ptr<TTableStore> FOwn;           // created or copied here
};

// Splits a ";"-joined list of field names (blanks around names trimmed).
std::vector<std::string> SplitFieldNames(const std::string& Names);
// Type classes: integer and float kinds; float kinds; date and time kinds.
bool IsNumericType(TFieldType T);
bool IsFloatType(TFieldType T);
bool IsDateTimeType(TFieldType T);

}  // namespace kv
#pragma GCC visibility pop
