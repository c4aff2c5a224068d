// TDBGrid: a read-only grid over a data source's dataset. It is a QTableView over a model that
// reads the dataset through a data link, row by row without moving its cursor and without copying
// (RowAt and DisplayTextAt per painted cell), so a million rows show and scroll at once and a
// filter or order change repaints at once. The current row follows the dataset's record and
// moving in the grid moves the dataset. Past a million records the view holds a band of them
// around the record it shows (the view keeps a few bytes for each of its rows): the scroll bar
// the user sees spans every record and moves the band, which follows the keys and the wheel.
// Rows picked with ctrl+click, shift+click and shift+arrows are kept as bookmarks of the dataset
// in the order they were picked (SelectedRows).
//
// Columns are TGridColumn items (the name TColumn belongs to the table store): without any added
// the grid shows one per visible field (the default columns); Add replaces those by the chosen
// ones. A column's title shows its caption, colour and font colour; the cells its colour, font
// colour and the field's alignment and display texts.
#pragma once

#include <QScrollBar>
#include <QTableView>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Controls.h"
#include "DB.h"

#pragma GCC visibility push(default)
namespace kv {

class TDBGrid;
class TGridColumns;
class TGridColumn;

enum TDBGridOption : unsigned {
  dgEditing = 1u << 0,  // kept for the forms' settings: the grid never edits
  dgAlwaysShowEditor = 1u << 1,
  dgTitles = 1u << 2,
  dgIndicator = 1u << 3,
  dgColumnResize = 1u << 4,
  dgColLines = 1u << 5,
  dgRowLines = 1u << 6,
  dgTabs = 1u << 7,
  dgRowSelect = 1u << 8,
  dgAlwaysShowSelection = 1u << 9,
  dgConfirmDelete = 1u << 10,
  dgCancelOnExit = 1u << 11,
  dgMultiSelect = 1u << 12,
};
using TDBGridOptions = unsigned;
constexpr TDBGridOptions DefaultDBGridOptions = dgEditing | dgTitles | dgIndicator |
                                                dgColumnResize | dgColLines | dgRowLines | dgTabs |
                                                dgConfirmDelete | dgCancelOnExit;

// The title of a column.
class TColumnTitle {
 public:
  // The caption set, else the field's display label, else the field name.
  std::string Caption() const;
  void SetCaption(std::string V);
  TColor Color() const { return FColor; }
  void SetColor(TColor V);
  TFont& Font() { return FFont; }
  const TFont& Font() const { return FFont; }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment V);

 private:
  friend class TGridColumn;
  explicit TColumnTitle(TGridColumn* Column);
  TGridColumn* FColumn;
  std::string FCaption;
  bool FCaptionSet = false;
  TColor FColor = clBtnFace;
  TFont FFont;
  TAlignment FAlignment = taLeftJustify;
};

class TGridColumn {
 public:
  TGridColumn(const TGridColumn&) = delete;
  TGridColumn& operator=(const TGridColumn&) = delete;
  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(std::string V);
  // The field of the grid's dataset named FieldName (any letter case), null when none.
  TField* Field() const;
  TColumnTitle& Title() { return FTitle; }
  const TColumnTitle& Title() const { return FTitle; }
  // The cells' colour: the grid's until set.
  TColor Color() const;
  void SetColor(TColor V);
  TFont& Font() { return FFont; }
  const TFont& Font() const { return FFont; }
  // The field's alignment until set.
  TAlignment Alignment() const;
  void SetAlignment(TAlignment V);
  // Width in pixels (from the field's display width and the title until set or resized).
  int Width() const;
  void SetWidth(int V);
  int Index() const;
  TDBGrid* Grid() const;

 private:
  friend class TGridColumns;
  friend class TColumnTitle;
  friend class TDBGrid;
  explicit TGridColumn(TGridColumns* Owner);
  // Tells the grid that this column's cells (Cells) or title (!Cells) must be shown again.
  void Changed(bool Cells);
  TGridColumns* FOwner;
  std::string FFieldName;
  TColumnTitle FTitle;
  TColor FColor = clDefault;
  TFont FFont;
  TAlignment FAlignment = taLeftJustify;
  bool FAlignmentSet = false;
  int FWidth = -1;  // explicit width, -1 when derived
};

enum TDBGridColumnsState { csDefault, csCustomized };

class TGridColumns {
 public:
  int Count() const { return static_cast<int>(FItems.size()); }
  // The column at Index; raises Exception when out of range.
  TGridColumn* Items(int Index) const;
  TGridColumn* operator[](int Index) const { return Items(Index); }
  // Adds a column at the end (the default columns give way first).
  TGridColumn* Add();
  // Removes every column; the grid then shows none until columns are added.
  void Clear();
  // Default: one column per visible field, rebuilt when the dataset changes.
  TDBGridColumnsState State() const { return FState; }
  void RestoreDefaults();

 private:
  friend class TDBGrid;
  friend class TGridColumn;
  explicit TGridColumns(TDBGrid* Grid) : FGrid(Grid) {}
  void RemoveAll();
  void AddDefaults(const TDataSet* DS);
  TDBGrid* FGrid;
  std::vector<std::unique_ptr<TGridColumn>> FItems;
  TDBGridColumnsState FState = csDefault;
};

// The rows picked in a multi-select grid, in the order picked. A row picked alone (ctrl+click,
// ctrl+space) is kept as its bookmark; a shift range is kept as the positions it spans and read
// only when asked for (Items), so that picking a hundred thousand rows of a database reads none
// of them. Positions count among the dataset's records as the grid shows them; any change of the
// records drops every pick, so they stay true while the picks last.
class TBookmarkList {
 public:
  // A run of picked records: positions First to Last (0-based, inclusive, First > Last for a
  // range picked upwards), in the order picked; Mark is the bookmark of a row picked alone
  // (First == Last), NoBookmark for the records of a range.
  struct TRun {
    int64_t First = 0, Last = 0;
    TBookmark Mark = NoBookmark;
    int64_t Count() const { return (First <= Last ? Last - First : First - Last) + 1; }
    int64_t Low() const { return First <= Last ? First : Last; }
    int64_t High() const { return First <= Last ? Last : First; }
  };

  int Count() const { return FEnds.empty() ? 0 : static_cast<int>(FEnds.back()); }
  // The Index-th bookmark picked (a range's record is read now); raises Exception when out of
  // range.
  TBookmark Items(int Index) const;
  TBookmark operator[](int Index) const { return Items(Index); }
  // Whether a row is picked (constant time for rows picked alone; the row's position is looked
  // for when a range is picked).
  bool Contains(TBookmark B) const;
  // Whether the record at Position (0-based among the dataset's records) is picked, without
  // reading it.
  bool ContainsPosition(int64_t Position) const;
  // The picks as runs, in the order picked; every record is in one run at most.
  const std::vector<TRun>& Runs() const { return FRuns; }
  // Drops every picked row.
  void Clear();
  // Whether the dataset's current record is picked; setting picks or drops it.
  bool CurrentRowSelected() const;
  void SetCurrentRowSelected(bool V);

 private:
  friend class TDBGrid;
  explicit TBookmarkList(TDBGrid* Grid) : FGrid(Grid) {}
  // Picks the record at Position, whose bookmark is B (nothing when picked already).
  void Add(TBookmark B, int64_t Position);
  // Drops the record at Position (a range it lies in is split round it).
  void Remove(int64_t Position);
  // Picks the records from position From to To (either order) not picked yet, in that order.
  void AddRange(int64_t From, int64_t To);
  // Drops the runs after the first N.
  void TruncateTo(size_t N);
  // The run holding Position, -1 when none.
  int RunAt(int64_t Position) const;
  void Changed();
  TDBGrid* FGrid;
  std::vector<TRun> FRuns;
  std::vector<int64_t> FEnds;  // picks up to the end of each run
  // The runs by position (index into FRuns, by Low), for ContainsPosition.
  std::vector<size_t> FByPosition;
  // The bookmarks of the rows picked alone.
  std::vector<bool> FMember;
  size_t FBase = 0;  // runs kept when a shift range is redrawn
};

class TDBGridModel;
class TDBGridLink;

class TDBGrid : public TControl<QTableView> {
  Q_OBJECT
 public:
  explicit TDBGrid(QWidget* Parent = nullptr);
  ~TDBGrid() override;

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* V);
  // The data source's dataset, null when none.
  TDataSet* DataSet() const;
  TGridColumns& Columns() { return FColumns; }
  const TGridColumns& Columns() const { return FColumns; }
  TDBGridOptions Options() const { return FOptions; }
  // Applies the options; dropping dgMultiSelect drops the picked rows.
  void SetOptions(TDBGridOptions V);
  // The current column (0-based) and its field; setting moves the current column (OnColEnter
  // runs whenever the current column changes, by the user or by code).
  int SelectedIndex() const;
  void SetSelectedIndex(int V);
  TField* SelectedField() const;
  // Makes current the first column showing Field (nothing when none does).
  void SetSelectedField(TField* Field);
  TBookmarkList& SelectedRows() { return FSelectedRows; }
  const TBookmarkList& SelectedRows() const { return FSelectedRows; }
  // Over a database whose records have not been counted, the grid shows the records read so far
  // (more as it is scrolled down); once the dataset knows their number (KnownRecordCount) it
  // shows them all. Takes that number when it has become known; the grid also looks whenever
  // the dataset moves.
  void RefreshRowCount();
  // The number of the dataset's records when known without a statement, -1 otherwise.
  int KnownRecordCount() const;
  // Whether the rows shown stand for records not counted yet.
  bool RowsProvisional() const { return FProvisional; }
  // The records the view holds at once (1,048,576 unless set, at least 16): past that many the
  // model's rows are a band of the records, and model row R shows the record at position
  // BandFirst() + R (0-based).
  int BandRows() const { return FBandRows; }
  void SetBandRows(int V);
  int BandFirst() const { return FBandFirst; }
  // The vertical scroll bar the user sees: over every record when they are more than the band
  // (the view's own bar then scrolls the band and stays hidden), the view's own otherwise.
  QScrollBar* RecordsScrollBar() const;
  // Kept for the forms' settings: the grid never edits.
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool V) { FReadOnly = V; }

  // A cell was clicked (after the current row and column moved to it).
  std::function<void(TGridColumn* Column)> OnCellClick;
  TNotifyEvent OnColEnter;
  TKeyEvent OnKeyUp;
  // A data cell was double-clicked.
  TNotifyEvent OnDblClick;
  // A column title was clicked (not dragged to resize); the column is current by then.
  std::function<void(TGridColumn* Column)> OnTitleClick;
  // What a click on the title of column Section does: that column becomes current (the record
  // stays), then OnTitleClick runs.
  void TitleClicked(int Section);

 protected:
  void currentChanged(const QModelIndex& Current, const QModelIndex& Previous) override;
  void mousePressEvent(QMouseEvent* E) override;
  void mouseReleaseEvent(QMouseEvent* E) override;
  void mouseDoubleClickEvent(QMouseEvent* E) override;
  void keyPressEvent(QKeyEvent* E) override;
  void keyReleaseEvent(QKeyEvent* E) override;
  void focusInEvent(QFocusEvent* E) override;
  void focusOutEvent(QFocusEvent* E) override;
  void wheelEvent(QWheelEvent* E) override;
  bool eventFilter(QObject* O, QEvent* E) override;
  // Over a database the records about to show are read first, inside busy work (the window
  // shows when it lasts, "Cancelar" puts the grid back where it was).
  void scrollContentsBy(int DX, int DY) override;

 private:
  friend class TDBGridModel;
  friend class TDBGridLink;
  friend class TGridColumns;
  friend class TGridColumn;
  friend class TBookmarkList;
  friend class TDBGridDelegate;
  // Data link notifications.
  void LinkChanging();
  void LinkAnswered(bool Active);
  void LinkScrolled();
  // Column changes, told to the model (nothing while a reset is under way).
  void ColumnsInserting(int First, int Last);
  void ColumnsInserted();
  void ColumnsRemoving(int First, int Last);
  void ColumnsRemoved();
  void ColumnChanged(int Index, bool Cells);
  // Whether a cell paints as selected (picked row, or the current cell / row).
  bool PaintSelected(const QModelIndex& I) const;
  // Puts the view's current cell on the dataset's record and the current column (the band
  // moved round the record when it lies outside), and scrolls to it.
  void SyncCurrent();
  // Makes the model's rows the band of records starting at position First (clamped), the
  // current cell on the dataset's record when it lies in the band; the view is not scrolled.
  void ShowBand(int First);
  // The start of the band centred on the record at Position.
  int BandStartFor(int Position) const;
  bool Banded() const { return FTotal > FBandRows; }
  // The model's rows for the band starting at FBandFirst.
  int BandSize() const { return std::min(FTotal - FBandFirst, FBandRows); }
  bool InBand(int Position) const;
  // Brings the band back round the dataset's record when the bar over every record left it.
  void BackToRecord();
  // The position of the current cell's record, -1 when there is no current cell.
  int CurrentPosition() const;
  // Moves the band when the rows in view come near either end of it (more records beyond).
  void KeepBandAround();
  // The scroll bar over every record: shown or hidden, range, value and place.
  void UpdateRecordsBar();
  void PlaceRecordsBar();
  // The user moved the scroll bar over every record to the record at position Top.
  void RecordsBarMoved(int Top);
  int DefaultWidth(const TGridColumn& C) const;
  void ApplyWidths();
  // Picks: toggles a record, or picks the range from the anchor to Position over the kept picks
  // (positions among the dataset's records).
  void TogglePosition(int Position);
  void ExtendTo(int Position);
  void SelectionChanged();
  TField* CachedField(int Column) const;
  // The rows to show for the dataset now: its record count when known, else the records read so
  // far, at least Wanted of them when there are.
  int RowsFor(TDataSet* DS, int Wanted);
  // Stands for Rows records, keeping the current cell (rows inserted or removed at the end).
  void SetRows(int Rows);
  // More rows, as the view is scrolled to the end of those shown while not counted.
  void FetchMore();

  std::unique_ptr<TDBGridLink> FLink;
  TDBGridModel* FModel;
  TGridColumns FColumns{this};
  TBookmarkList FSelectedRows{this};
  TDBGridOptions FOptions = 0;
  int FSelectedIndex = 0;
  int FAnchor = -1;    // position where a shift range starts, -1 for none
  int FTotal = 0;      // the records the grid stands for (shown or provisional)
  int FBandFirst = 0;  // the position of the record in the model's first row
  int FBandRows = 1 << 20;
  QScrollBar* FRecordsBar = nullptr;
  bool FBandCheckQueued = false;
  bool FProvisional = false;  // rows shown before the records were counted
  int FTopRow = 0;            // the first model row shown, to go back to when a scroll is stopped
  bool FScrollingBack = false;
  bool FScrollStopped = false;  // the last scroll was stopped by the user
  bool FSyncing = false, FResetting = false, FReadOnly = false, FApplyingWidths = false;
  QPersistentModelIndex FPressed;
  mutable std::vector<TField*> FFieldCache;
  mutable bool FFieldCacheValid = false;
};

}  // namespace kv
#pragma GCC visibility pop
