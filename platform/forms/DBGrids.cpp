// TDBGrid: the model that reads the dataset through a data link, the title and indicator
// headers, the cell painting (colours, lines, picked rows), the columns and the picked rows.
#include "DBGrids.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <algorithm>
#include <optional>
#include <stdexcept>

#include "BusyWork.h"
#include "StdCtrls.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

// ------------------------------------------------------------------------------- the model

// The grid's rows are the dataset's visible records (a band of them past the grid's BandRows),
// its columns the grid's columns. Nothing is copied: each painted cell reads its display text
// from the dataset's store.
class TDBGridModel : public QAbstractTableModel {
 public:
  explicit TDBGridModel(TDBGrid* Grid) : QAbstractTableModel(Grid), FGrid(Grid) {}
  int rowCount(const QModelIndex& Parent = {}) const override {
    return Parent.isValid() ? 0 : FRows;
  }
  int columnCount(const QModelIndex& Parent = {}) const override {
    return Parent.isValid() ? 0 : FGrid->Columns().Count();
  }
  QVariant data(const QModelIndex& I, int Role) const override;
  QVariant headerData(int Section, Qt::Orientation O, int Role) const override;
  bool canFetchMore(const QModelIndex& Parent) const override {
    // More records are read as the view reaches the last of those read so far.
    return !Parent.isValid() && FGrid->FProvisional && FGrid->FBandFirst + FRows >= FGrid->FTotal;
  }
  void fetchMore(const QModelIndex& Parent) override {
    if (!Parent.isValid()) FGrid->FetchMore();
  }

  void BeginReset() { beginResetModel(); }
  void EndReset(int Rows) {
    FRows = Rows;
    endResetModel();
  }
  void BeginInsertColumns(int First, int Last) { beginInsertColumns({}, First, Last); }
  void EndInsertColumns() { endInsertColumns(); }
  void BeginRemoveColumns(int First, int Last) { beginRemoveColumns({}, First, Last); }
  void EndRemoveColumns() { endRemoveColumns(); }
  int Rows() const { return FRows; }
  // Rows added or taken at the end.
  void Resize(int Rows) {
    if (Rows > FRows) {
      beginInsertRows({}, FRows, Rows - 1);
      FRows = Rows;
      endInsertRows();
    } else if (Rows < FRows) {
      beginRemoveRows({}, Rows, FRows - 1);
      FRows = Rows;
      endRemoveRows();
    }
  }

 private:
  TDBGrid* FGrid;
  int FRows = 0;  // the dataset's records in the band
};

QVariant TDBGridModel::data(const QModelIndex& I, int Role) const {
  const TDataSet* DS = FGrid->DataSet();
  if (FGrid->FResetting || !I.isValid() || !DS || !DS->Active() || I.row() >= FRows ||
      I.column() >= columnCount())
    return {};
  const TGridColumn& C = *FGrid->Columns().Items(I.column());
  TField* F = FGrid->CachedField(I.column());
  switch (Role) {
    case Qt::DisplayRole:
      if (!F) return {};
      try {
        return QStr(F->DisplayTextAt(DS->RowAt(FGrid->FBandFirst + I.row())));
      } catch (const std::out_of_range&) {
        // Records gone from the database since they were counted show empty until the grid
        // hears of it.
        return {};
      } catch (const std::exception&) {
        return QStringLiteral("#Error");
      }
    case Qt::TextAlignmentRole:
      return static_cast<int>(ToQtAlignment(C.Alignment()));
    case Qt::BackgroundRole:
      return QBrush(ToQColor(C.Color(), FGrid->palette()));
    case Qt::ForegroundRole:
      return QBrush(ToQColor(C.Font().Color(), FGrid->palette()));
    case Qt::FontRole:
      return C.Font().Inherited() ? QVariant() : QVariant(C.Font().Apply(FGrid->font()));
    default:
      return {};
  }
}

QVariant TDBGridModel::headerData(int Section, Qt::Orientation O, int Role) const {
  if (O != Qt::Horizontal || Section < 0 || Section >= columnCount()) return {};
  const TColumnTitle& T = FGrid->Columns().Items(Section)->Title();
  switch (Role) {
    case Qt::DisplayRole:
      return QStr(T.Caption());
    case Qt::TextAlignmentRole:
      return static_cast<int>(ToQtAlignment(T.Alignment()));
    case Qt::BackgroundRole:
      return QBrush(ToQColor(T.Color(), FGrid->palette()));
    case Qt::ForegroundRole:
      return QBrush(ToQColor(T.Font().Color(), FGrid->palette()));
    case Qt::FontRole:
      return T.Font().Inherited() ? QVariant() : QVariant(T.Font().Apply(FGrid->font()));
    default:
      return {};
  }
}

class TDBGridLink : public TDataLink {
 public:
  explicit TDBGridLink(TDBGrid* Grid) : FGrid(Grid) {}
  void DataSetChanging() override { FGrid->LinkChanging(); }
  void ActiveChanged() override { FGrid->LinkAnswered(true); }
  void DataSetChanged() override { FGrid->LinkAnswered(false); }
  void DataSetScrolled() override { FGrid->LinkScrolled(); }

 private:
  TDBGrid* FGrid;
};

// ------------------------------------------------------------------------------ painting

namespace {
// Titles painted flat in their own colours (the style's gradient would change them).
class TTitleHeader : public QHeaderView {
 public:
  explicit TTitleHeader(QWidget* Parent) : QHeaderView(Qt::Horizontal, Parent) {
    setSectionsClickable(false);
    setHighlightSections(false);
  }

 protected:
  void paintSection(QPainter* P, const QRect& R, int Logical) const override {
    if (!R.isValid() || !model()) return;
    auto Role = [&](int Role) { return model()->headerData(Logical, Qt::Horizontal, Role); };
    const QBrush Back = Role(Qt::BackgroundRole).value<QBrush>();
    const QBrush Fore = Role(Qt::ForegroundRole).value<QBrush>();
    P->save();
    P->fillRect(R, Back.style() == Qt::NoBrush ? palette().button() : Back);
    P->setPen(palette().color(QPalette::Dark));
    P->drawLine(R.topRight(), R.bottomRight());
    P->drawLine(R.bottomLeft(), R.bottomRight());
    P->setPen(Fore.style() == Qt::NoBrush ? palette().color(QPalette::ButtonText) : Fore.color());
    const QVariant Font = Role(Qt::FontRole);
    if (Font.isValid()) P->setFont(Font.value<QFont>());
    const QRect Text = R.adjusted(4, 0, -5, 0);
    P->drawText(Text, Role(Qt::TextAlignmentRole).toInt(),
                P->fontMetrics().elidedText(Role(Qt::DisplayRole).toString(), Qt::ElideRight,
                                            Text.width()));
    P->restore();
  }

  // A press and release on the same title, without resizing it in between, is a click.
  void mousePressEvent(QMouseEvent* E) override {
    FPressed = E->button() == Qt::LeftButton ? logicalIndexAt(E->position().toPoint()) : -1;
    FPressedSize = FPressed >= 0 ? sectionSize(FPressed) : -1;
    QHeaderView::mousePressEvent(E);
  }
  void mouseReleaseEvent(QMouseEvent* E) override {
    QHeaderView::mouseReleaseEvent(E);
    const int Section = logicalIndexAt(E->position().toPoint());
    const bool Click = E->button() == Qt::LeftButton && Section >= 0 && Section == FPressed &&
                       sectionSize(Section) == FPressedSize;
    FPressed = -1;
    if (Click)
      if (auto* G = qobject_cast<TDBGrid*>(parentWidget())) G->TitleClicked(Section);
  }

 private:
  int FPressed = -1, FPressedSize = -1;
};

// The narrow column left of the rows with a marker on the current record.
class TIndicatorHeader : public QHeaderView {
 public:
  explicit TIndicatorHeader(QTableView* View) : QHeaderView(Qt::Vertical, View), FView(View) {
    setSectionsClickable(false);
  }
  QSize sizeHint() const override { return {14, defaultSectionSize()}; }

 protected:
  void paintSection(QPainter* P, const QRect& R, int Logical) const override {
    if (!R.isValid()) return;
    P->save();
    P->fillRect(R, palette().button());
    P->setPen(palette().color(QPalette::Dark));
    P->drawLine(R.topRight(), R.bottomRight());
    P->drawLine(R.bottomLeft(), R.bottomRight());
    if (Logical == FView->currentIndex().row()) {
      P->setRenderHint(QPainter::Antialiasing);
      const double H = std::min(R.height(), R.width()) * 0.5;
      const QPointF C = QRectF(R).center();
      QPainterPath Marker;
      Marker.moveTo(C.x() - H / 2, C.y() - H / 2);
      Marker.lineTo(C.x() + H / 2, C.y());
      Marker.lineTo(C.x() - H / 2, C.y() + H / 2);
      Marker.closeSubpath();
      P->fillPath(Marker, palette().color(QPalette::ButtonText));
    }
    P->restore();
  }

 private:
  QTableView* FView;
};
}  // namespace

// Cells: picked rows and the current cell as selected, and the grid lines the options ask for.
class TDBGridDelegate : public QStyledItemDelegate {
 public:
  explicit TDBGridDelegate(TDBGrid* Grid) : QStyledItemDelegate(Grid), FGrid(Grid) {}
  void paint(QPainter* P, const QStyleOptionViewItem& O, const QModelIndex& I) const override {
    QStyledItemDelegate::paint(P, O, I);
    P->save();
    P->setPen(FGrid->palette().color(QPalette::Mid));
    if (FGrid->Options() & dgColLines) P->drawLine(O.rect.topRight(), O.rect.bottomRight());
    if (FGrid->Options() & dgRowLines) P->drawLine(O.rect.bottomLeft(), O.rect.bottomRight());
    P->restore();
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* O, const QModelIndex& I) const override {
    QStyledItemDelegate::initStyleOption(O, I);
    if (FGrid->PaintSelected(I))
      O->state |= QStyle::State_Selected;
    else
      O->state &= ~QStyle::State_Selected;
  }

 private:
  TDBGrid* FGrid;
};

// ------------------------------------------------------------------------------- columns

TColumnTitle::TColumnTitle(TGridColumn* Column) : FColumn(Column) {
  FFont.OnChange = [this] { FColumn->Changed(false); };
}

std::string TColumnTitle::Caption() const {
  if (FCaptionSet) return FCaption;
  if (const TField* F = FColumn->Field()) return F->DisplayLabel();
  return FColumn->FieldName();
}

void TColumnTitle::SetCaption(std::string V) {
  FCaption = std::move(V);
  FCaptionSet = true;
  FColumn->Changed(false);
}

void TColumnTitle::SetColor(TColor V) {
  FColor = V;
  FColumn->Changed(false);
}

void TColumnTitle::SetAlignment(TAlignment V) {
  FAlignment = V;
  FColumn->Changed(false);
}

TGridColumn::TGridColumn(TGridColumns* Owner) : FOwner(Owner), FTitle(this) {
  FFont.OnChange = [this] { Changed(true); };
}

TDBGrid* TGridColumn::Grid() const {
  return FOwner->FGrid;
}

int TGridColumn::Index() const {
  const auto& Items = FOwner->FItems;
  for (size_t I = 0; I < Items.size(); ++I)
    if (Items[I].get() == this) return static_cast<int>(I);
  return -1;
}

void TGridColumn::Changed(bool Cells) {
  const int I = Index();
  if (I >= 0) Grid()->ColumnChanged(I, Cells);
}

void TGridColumn::SetFieldName(std::string V) {
  FFieldName = std::move(V);
  Changed(true);
  Changed(false);
}

TField* TGridColumn::Field() const {
  const TDataSet* DS = Grid()->DataSet();
  return DS && !FFieldName.empty() ? DS->FindField(FFieldName) : nullptr;
}

TColor TGridColumn::Color() const {
  if (FColor != clDefault) return FColor;
  const TColor G = Grid()->TControl<QTableView>::Color();
  return G != clDefault ? G : clWindow;
}

void TGridColumn::SetColor(TColor V) {
  FColor = V;
  Changed(true);
}

TAlignment TGridColumn::Alignment() const {
  if (FAlignmentSet) return FAlignment;
  const int I = Index();
  const TField* F = I >= 0 ? Grid()->CachedField(I) : nullptr;
  return F ? F->Alignment() : taLeftJustify;
}

void TGridColumn::SetAlignment(TAlignment V) {
  FAlignment = V;
  FAlignmentSet = true;
  Changed(true);
}

int TGridColumn::Width() const {
  const int I = Index();
  const QHeaderView* H = Grid()->horizontalHeader();
  if (I >= 0 && I < H->count()) return H->sectionSize(I);
  return FWidth >= 0 ? FWidth : Grid()->DefaultWidth(*this);
}

void TGridColumn::SetWidth(int V) {
  FWidth = std::max(0, V);
  Grid()->ApplyWidths();
}

TGridColumn* TGridColumns::Items(int Index) const {
  if (Index < 0 || Index >= Count())
    throw Exception("Índice de columna fuera de rango: " + IntToStr(Index));
  return FItems[static_cast<size_t>(Index)].get();
}

TGridColumn* TGridColumns::Add() {
  if (FState == csDefault) {
    RemoveAll();
    FState = csCustomized;
  }
  const int N = Count();
  FGrid->ColumnsInserting(N, N);
  FItems.push_back(std::unique_ptr<TGridColumn>(new TGridColumn(this)));
  FGrid->ColumnsInserted();
  return FItems.back().get();
}

void TGridColumns::Clear() {
  FState = csCustomized;
  RemoveAll();
}

void TGridColumns::RemoveAll() {
  if (FItems.empty()) return;
  FGrid->ColumnsRemoving(0, Count() - 1);
  FItems.clear();
  FGrid->ColumnsRemoved();
}

void TGridColumns::AddDefaults(const TDataSet* DS) {
  std::vector<std::string> Names;
  for (int I = 0; I < DS->FieldCount(); ++I)
    if (DS->Fields(I)->Visible()) Names.push_back(DS->Fields(I)->FieldName());
  if (Names.empty()) return;
  const int N = Count();
  FGrid->ColumnsInserting(N, N + static_cast<int>(Names.size()) - 1);
  for (auto& Name : Names) {
    FItems.push_back(std::unique_ptr<TGridColumn>(new TGridColumn(this)));
    FItems.back()->FFieldName = std::move(Name);
  }
  FGrid->ColumnsInserted();
}

void TGridColumns::RestoreDefaults() {
  FState = csDefault;
  RemoveAll();
  const TDataSet* DS = FGrid->DataSet();
  if (DS && DS->Active()) AddDefaults(DS);
}

// ---------------------------------------------------------------------------- picked rows

TBookmark TBookmarkList::Items(int Index) const {
  if (Index < 0 || Index >= Count())
    throw Exception("Índice de marcador fuera de rango: " + IntToStr(Index));
  const size_t Run =
      static_cast<size_t>(std::upper_bound(FEnds.begin(), FEnds.end(), Index) - FEnds.begin());
  const TRun& R = FRuns[Run];
  if (R.Mark != NoBookmark) return R.Mark;
  const int64_t Offset = Index - (Run == 0 ? 0 : FEnds[Run - 1]);
  const int64_t Position = R.First <= R.Last ? R.First + Offset : R.First - Offset;
  const TDataSet* DS = FGrid->DataSet();
  if (!DS || !DS->Active())
    throw Exception("Índice de marcador fuera de rango: " + IntToStr(Index));
  return DS->RowAt(static_cast<int>(Position));
}

int TBookmarkList::RunAt(int64_t Position) const {
  // The runs are disjoint: the one starting last at or before Position is the only candidate.
  auto It = std::upper_bound(FByPosition.begin(), FByPosition.end(), Position,
                             [this](int64_t P, size_t Run) { return P < FRuns[Run].Low(); });
  if (It == FByPosition.begin()) return -1;
  const size_t Run = *--It;
  return Position <= FRuns[Run].High() ? static_cast<int>(Run) : -1;
}

bool TBookmarkList::ContainsPosition(int64_t Position) const {
  return Position >= 0 && RunAt(Position) >= 0;
}

bool TBookmarkList::Contains(TBookmark B) const {
  if (B < 0) return false;
  if (static_cast<size_t>(B) < FMember.size() && FMember[static_cast<size_t>(B)]) return true;
  const bool Ranges =
      std::any_of(FRuns.begin(), FRuns.end(), [](const TRun& R) { return R.Mark == NoBookmark; });
  const TDataSet* DS = FGrid->DataSet();
  return Ranges && DS && DS->Active() && ContainsPosition(DS->IndexOfRow(B));
}

void TBookmarkList::Changed() {
  FEnds.resize(FRuns.size());
  int64_t Total = 0;
  for (size_t I = 0; I < FRuns.size(); ++I) FEnds[I] = Total += FRuns[I].Count();
  FByPosition.resize(FRuns.size());
  for (size_t I = 0; I < FRuns.size(); ++I) FByPosition[I] = I;
  std::sort(FByPosition.begin(), FByPosition.end(),
            [this](size_t A, size_t B) { return FRuns[A].Low() < FRuns[B].Low(); });
}

void TBookmarkList::Add(TBookmark B, int64_t Position) {
  if (B < 0 || Position < 0 || ContainsPosition(Position)) return;
  const size_t At = static_cast<size_t>(B);
  if (At >= FMember.size()) FMember.resize(std::max(At + 1, FMember.size() * 2));
  FMember[At] = true;
  FRuns.push_back({Position, Position, B});
  Changed();
}

void TBookmarkList::Remove(int64_t Position) {
  const int Found = RunAt(Position);
  if (Found < 0) return;
  const size_t I = static_cast<size_t>(Found);
  const TRun R = FRuns[I];
  if (R.Mark != NoBookmark) FMember[static_cast<size_t>(R.Mark)] = false;
  // What is left of the run on either side of Position, in the order it was picked.
  const int64_t Step = R.First <= R.Last ? 1 : -1;
  std::vector<TRun> Parts;
  if (Position != R.First) Parts.push_back({R.First, Position - Step, NoBookmark});
  if (Position != R.Last) Parts.push_back({Position + Step, R.Last, NoBookmark});
  FRuns.erase(FRuns.begin() + Found);
  FRuns.insert(FRuns.begin() + Found, Parts.begin(), Parts.end());
  if (I < FBase) FBase = FBase + Parts.size() - 1;
  Changed();
}

void TBookmarkList::AddRange(int64_t From, int64_t To) {
  const int64_t Low = std::min(From, To), High = std::max(From, To);
  // The gaps between the runs picked already, low to high.
  std::vector<TRun> Gaps;
  int64_t Next = Low;
  for (size_t Run : FByPosition) {
    const TRun& R = FRuns[Run];
    if (R.High() < Next) continue;
    if (R.Low() > High) break;
    if (R.Low() > Next) Gaps.push_back({Next, R.Low() - 1, NoBookmark});
    Next = R.High() + 1;
  }
  if (Next <= High) Gaps.push_back({Next, High, NoBookmark});
  if (From > To) {
    std::reverse(Gaps.begin(), Gaps.end());
    for (TRun& G : Gaps) std::swap(G.First, G.Last);
  }
  FRuns.insert(FRuns.end(), Gaps.begin(), Gaps.end());
  Changed();
}

void TBookmarkList::TruncateTo(size_t N) {
  if (N >= FRuns.size()) return;
  for (size_t I = N; I < FRuns.size(); ++I)
    if (FRuns[I].Mark != NoBookmark) FMember[static_cast<size_t>(FRuns[I].Mark)] = false;
  FRuns.resize(N);
  FBase = std::min(FBase, N);
  Changed();
}

void TBookmarkList::Clear() {
  TruncateTo(0);
  FGrid->SelectionChanged();
}

bool TBookmarkList::CurrentRowSelected() const {
  const TDataSet* DS = FGrid->DataSet();
  return DS && DS->Active() && !DS->IsEmpty() && ContainsPosition(DS->RecNo() - 1);
}

void TBookmarkList::SetCurrentRowSelected(bool V) {
  const TDataSet* DS = FGrid->DataSet();
  if (!DS || !DS->Active() || DS->IsEmpty()) return;
  V ? Add(DS->CurrentRow(), DS->RecNo() - 1) : Remove(DS->RecNo() - 1);
  FBase = FRuns.size();
  FGrid->SelectionChanged();
}

// -------------------------------------------------------------------------------- TDBGrid

TDBGrid::TDBGrid(QWidget* Parent)
    : TControl<QTableView>(Parent),
      FLink(std::make_unique<TDBGridLink>(this)),
      FModel(new TDBGridModel(this)) {
  setHorizontalHeader(new TTitleHeader(this));
  setVerticalHeader(new TIndicatorHeader(this));
  setItemDelegate(new TDBGridDelegate(this));
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Uniform row heights: positions are computed, never measured row by row.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setMinimumSectionSize(8);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  // Rows scroll whole: the view's bar counts rows, which the bar over every record adds to.
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setModel(FModel);
  FRecordsBar = new QScrollBar(Qt::Vertical, this);
  FRecordsBar->hide();
  connect(FRecordsBar, &QScrollBar::valueChanged, this, [this](int V) { RecordsBarMoved(V); });
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { UpdateRecordsBar(); });
  // The bar over every record takes the place of the view's own, whose room the view keeps.
  verticalScrollBar()->parentWidget()->installEventFilter(this);
  connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int I, int, int Size) {
    // A width the user drags stays with the column.
    if (!FApplyingWidths && I < FColumns.Count()) FColumns.Items(I)->FWidth = Size;
  });
  SetOptions(DefaultDBGridOptions);
}

TDBGrid::~TDBGrid() {
  FLink.reset();
}

TDataSource* TDBGrid::DataSource() const {
  return FLink->DataSource();
}

void TDBGrid::SetDataSource(TDataSource* V) {
  FLink->SetDataSource(V);
}

TDataSet* TDBGrid::DataSet() const {
  return FLink ? FLink->DataSet() : nullptr;
}

void TDBGrid::SetOptions(TDBGridOptions V) {
  const bool DropPicks = (FOptions & dgMultiSelect) && !(V & dgMultiSelect);
  FOptions = V;
  horizontalHeader()->setVisible(V & dgTitles);
  verticalHeader()->setVisible(V & dgIndicator);
  horizontalHeader()->setSectionResizeMode(V & dgColumnResize ? QHeaderView::Interactive
                                                              : QHeaderView::Fixed);
  setTabKeyNavigation(V & dgTabs);
  if (DropPicks) FSelectedRows.Clear();
  viewport()->update();
}

int TDBGrid::SelectedIndex() const {
  if (FColumns.Count() == 0) return -1;
  return std::clamp(FSelectedIndex, 0, FColumns.Count() - 1);
}

void TDBGrid::SetSelectedIndex(int V) {
  if (V < 0 || V >= FColumns.Count()) return;
  if (FModel->Rows() > 0 && !FResetting) {
    int Row = currentIndex().row();
    if (Row < 0) Row = std::clamp(DataSet()->RecNo() - 1 - FBandFirst, 0, FModel->Rows() - 1);
    const QModelIndex I = FModel->index(Row, V);
    selectionModel()->setCurrentIndex(I, QItemSelectionModel::NoUpdate);
    scrollTo(I);
  } else if (V != FSelectedIndex) {
    FSelectedIndex = V;
    Fire(OnColEnter, this);
  }
}

TField* TDBGrid::SelectedField() const {
  const int I = SelectedIndex();
  return I < 0 ? nullptr : FColumns.Items(I)->Field();
}

void TDBGrid::SetSelectedField(TField* Field) {
  if (!Field) return;
  for (int I = 0; I < FColumns.Count(); ++I) {
    const TGridColumn* C = FColumns.Items(I);
    if (C->Field() == Field || AnsiSameText(C->FieldName(), Field->FieldName())) {
      SetSelectedIndex(I);
      return;
    }
  }
}

TField* TDBGrid::CachedField(int Column) const {
  if (!FFieldCacheValid) {
    FFieldCache.clear();
    for (int I = 0; I < FColumns.Count(); ++I) FFieldCache.push_back(FColumns.Items(I)->Field());
    FFieldCacheValid = true;
  }
  return Column >= 0 && Column < static_cast<int>(FFieldCache.size())
             ? FFieldCache[static_cast<size_t>(Column)]
             : nullptr;
}

// ---- data link

void TDBGrid::LinkChanging() {
  FFieldCacheValid = false;
  if (FResetting) return;
  FResetting = true;
  FModel->BeginReset();
}

void TDBGrid::LinkAnswered(bool Active) {
  if (!FResetting) {
    FResetting = true;
    FModel->BeginReset();
  }
  TDataSet* DS = DataSet();
  const bool Open = DS && DS->Active();
  // Default columns follow the dataset's fields; chosen columns stay (bound by name).
  if (Active && FColumns.State() == csDefault) {
    FColumns.RemoveAll();
    if (Open) FColumns.AddDefaults(DS);
  }
  FFieldCacheValid = false;
  // Picks are bookmarks of the rows shown: new rows, or another dataset, drop them.
  FSelectedRows.TruncateTo(0);
  FAnchor = -1;
  FSelectedIndex = std::clamp(FSelectedIndex, 0, std::max(0, FColumns.Count() - 1));
  FProvisional = false;
  FTotal = Open ? RowsFor(DS, DS->RecNo()) : 0;
  FBandFirst = Open ? BandStartFor(DS->RecNo() - 1) : 0;
  FResetting = false;
  FModel->EndReset(BandSize());
  ApplyWidths();
  UpdateRecordsBar();
  SyncCurrent();
}

void TDBGrid::LinkScrolled() {
  // A move after a change was announced means the change was given up (a search stopped half
  // way): the rows are read again rather than left blank.
  if (FResetting)
    LinkAnswered(false);
  else
    SyncCurrent();
}

namespace {
// The rows shown ahead of a count, and read ahead as the grid is scrolled to their end.
constexpr int ProvisionalRows = 100;

// The number of records among the first Limit of DS, reading only what that takes (over a
// database the window holding them).
int RecordsUpTo(const TDataSet* DS, int From, int Limit) {
  auto Has = [DS](int Index) {
    try {
      (void)DS->RowAt(Index);
      return true;
    } catch (const std::out_of_range&) {
      return false;
    }
  };
  if (Limit <= From || Has(Limit - 1)) return std::max(Limit, From);
  // Records From-1 and before exist, Limit-1 does not.
  int Low = From, High = Limit - 1;
  while (Low < High) {
    const int Mid = Low + (High - Low) / 2;
    Has(Mid) ? Low = Mid + 1 : High = Mid;
  }
  return Low;
}
}  // namespace

int TDBGrid::KnownRecordCount() const {
  const TDataSet* DS = DataSet();
  if (!DS || !DS->Active()) return 0;
  return DS->KnownRecordCount();
}

int TDBGrid::RowsFor(TDataSet* DS, int Wanted) {
  const int Known = KnownRecordCount();
  if (Known >= 0) {
    FProvisional = false;
    return Known;
  }
  // Not counted yet: the first records, or as many as the dataset's current record needs.
  const int Limit = std::max(ProvisionalRows, Wanted);
  const int Rows = RecordsUpTo(DS, 0, Limit);
  // Fewer records than asked for are all of them.
  FProvisional = Rows == Limit;
  return Rows;
}

void TDBGrid::SetRows(int Rows) {
  if (Rows == FTotal) return;
  FTotal = Rows;
  if (FAnchor >= Rows) FAnchor = -1;
  const int First = std::min(FBandFirst, std::max(0, FTotal - FBandRows));
  if (First != FBandFirst) {
    ShowBand(First);
  } else {
    FModel->Resize(BandSize());
    ApplyWidths();
  }
  UpdateRecordsBar();
}

void TDBGrid::RefreshRowCount() {
  TDataSet* DS = DataSet();
  if (FResetting || !DS || !DS->Active() || !FProvisional) return;
  const int Known = KnownRecordCount();
  if (Known >= 0) {
    FProvisional = false;
    SetRows(Known);
  } else if (DS->RecNo() > FTotal) {
    // The dataset went past the rows read so far (a search found a record further on).
    SetRows(DS->RecNo());
  }
}

void TDBGrid::FetchMore() {
  TDataSet* DS = DataSet();
  // Never inside other work: its statement may be running on the same connection.
  if (FResetting || !DS || !DS->Active() || !FProvisional || TBusyWork::Current()) return;
  if (KnownRecordCount() >= 0) return RefreshRowCount();
  const int Have = FTotal;
  int Rows = Have;
  try {
    TBusyWork Work(this);
    Rows = RecordsUpTo(DS, Have, Have + ProvisionalRows);
  } catch (const EAborted&) {
    // Stopped by the user: the rows read so far stay, and the next scroll down asks again.
    return;
  }
  if (Rows < Have + ProvisionalRows) FProvisional = false;  // the last record is among them
  SetRows(Rows);
}

void TDBGrid::scrollContentsBy(int DX, int DY) {
  QTableView::scrollContentsBy(DX, DY);
  TDataSet* DS = DataSet();
  if (DY != 0 && !FScrollingBack && !FResetting && DS && DS->Active() && DS->Cursor() &&
      !TBusyWork::Current()) {
    // The records now in view are read before they are painted: the first and the last hold
    // the windows of all of them.
    const int Top = rowAt(0), Bottom = rowAt(viewport()->height() - 1);
    try {
      TBusyWork Work(this);
      for (int Row : {Top, Bottom})
        if (Row >= 0) (void)DS->RowAt(FBandFirst + Row);
    } catch (const EAborted&) {
      // Stopped by the user: the grid goes back to the records it showed.
      FScrollStopped = true;
      FScrollingBack = true;
      verticalScrollBar()->setValue(FTopRow);
      FScrollingBack = false;
    } catch (const std::out_of_range&) {
      // Fewer records than rows shown: painting shows them empty.
    }
  }
  FTopRow = verticalScrollBar()->value();
  if (!Banded()) return;
  UpdateRecordsBar();
  // Scrolled from inside the view's own work (a current cell made visible): the band moves
  // once that work is over.
  if (!FBandCheckQueued) {
    FBandCheckQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          FBandCheckQueued = false;
          KeepBandAround();
        },
        Qt::QueuedConnection);
  }
}

void TDBGrid::SyncCurrent() {
  viewport()->update();
  verticalHeader()->viewport()->update();
  const TDataSet* DS = DataSet();
  if (!FResetting && FProvisional) RefreshRowCount();
  if (FResetting || !DS || !DS->Active() || FModel->Rows() == 0 || FColumns.Count() == 0) return;
  const int Position = std::clamp(DS->RecNo() - 1, 0, FTotal - 1);
  if (!InBand(Position)) ShowBand(BandStartFor(Position));
  const QModelIndex I = FModel->index(Position - FBandFirst, SelectedIndex());
  if (currentIndex() != I) {
    FSyncing = true;
    selectionModel()->setCurrentIndex(I, QItemSelectionModel::NoUpdate);
    FSyncing = false;
  }
  scrollTo(I);
}

// ---- the band of records in the view

void TDBGrid::SetBandRows(int V) {
  V = std::max(V, 16);
  if (V == FBandRows) return;
  FBandRows = V;
  // Read afresh as a new band: the record shown stays current.
  const TDataSet* DS = DataSet();
  if (FResetting || !DS || !DS->Active()) return;
  FModel->BeginReset();
  FBandFirst = BandStartFor(DS->RecNo() - 1);
  FModel->EndReset(BandSize());
  ApplyWidths();
  UpdateRecordsBar();
  SyncCurrent();
}

int TDBGrid::BandStartFor(int Position) const {
  if (FTotal <= FBandRows) return 0;
  return std::clamp(Position - FBandRows / 2, 0, FTotal - FBandRows);
}

bool TDBGrid::InBand(int Position) const {
  return Position >= FBandFirst && Position < FBandFirst + FModel->Rows();
}

void TDBGrid::BackToRecord() {
  const TDataSet* DS = DataSet();
  if (Banded() && DS && DS->Active() && !InBand(DS->RecNo() - 1)) SyncCurrent();
}

int TDBGrid::CurrentPosition() const {
  const QModelIndex I = currentIndex();
  return I.isValid() ? FBandFirst + I.row() : -1;
}

void TDBGrid::ShowBand(int First) {
  First = std::clamp(First, 0, std::max(0, FTotal - FBandRows));
  const TDataSet* DS = DataSet();
  if (First == FBandFirst || FResetting || !DS || !DS->Active()) return;
  // Nothing is read for the rows the view lands on meanwhile: the caller scrolls next.
  const bool Reading = !FScrollingBack;
  FScrollingBack = true;
  FModel->BeginReset();
  FBandFirst = First;
  FModel->EndReset(BandSize());
  ApplyWidths();
  // The view's own bar takes the band's rows now, not when the view next lays itself out, and
  // the rows shown follow its value.
  executeDelayedItemsLayout();
  verticalHeader()->setOffsetToSectionPosition(verticalScrollBar()->value());
  FScrollingBack = !Reading;
  const int Position = DS->RecNo() - 1;
  if (InBand(Position) && FColumns.Count() > 0) {
    FSyncing = true;
    selectionModel()->setCurrentIndex(FModel->index(Position - FBandFirst, SelectedIndex()),
                                      QItemSelectionModel::NoUpdate);
    FSyncing = false;
  }
}

void TDBGrid::KeepBandAround() {
  if (!Banded() || FResetting) return;
  QScrollBar* Own = verticalScrollBar();
  const int Top = FBandFirst + Own->value(), Page = std::max(1, Own->pageStep());
  const int Margin = std::max(FBandRows / 8, 2 * Page);
  const bool NearTop = FBandFirst > 0 && Own->value() < Margin;
  const bool NearEnd =
      FBandFirst + FModel->Rows() < FTotal && FBandFirst + FModel->Rows() - (Top + Page) < Margin;
  if (!NearTop && !NearEnd) return;
  ShowBand(BandStartFor(Top + Page / 2));
  Own->setValue(Top - FBandFirst);
}

QScrollBar* TDBGrid::RecordsScrollBar() const {
  return Banded() ? FRecordsBar : verticalScrollBar();
}

void TDBGrid::UpdateRecordsBar() {
  const bool Band = Banded();
  const Qt::ScrollBarPolicy Policy = Band ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded;
  if (verticalScrollBarPolicy() != Policy) setVerticalScrollBarPolicy(Policy);
  PlaceRecordsBar();
  if (!Band) return;
  const QScrollBar* Own = verticalScrollBar();
  const QSignalBlocker Quiet(FRecordsBar);
  FRecordsBar->setRange(0, std::max(0, FTotal - FModel->Rows() + Own->maximum()));
  FRecordsBar->setPageStep(Own->pageStep());
  FRecordsBar->setSingleStep(1);
  FRecordsBar->setValue(FBandFirst + Own->value());
  // Over a database each place reached reads its records: the view follows the bar when it is
  // let go; records in memory show as it moves.
  const TDataSet* DS = DataSet();
  FRecordsBar->setTracking(!(DS && DS->Cursor()));
}

void TDBGrid::PlaceRecordsBar() {
  const QWidget* Room = verticalScrollBar()->parentWidget();
  const bool Show = Banded() && !Room->isHidden();
  if (Show) {
    FRecordsBar->setGeometry(Room->geometry());
    FRecordsBar->raise();
  }
  FRecordsBar->setVisible(Show);
}

bool TDBGrid::eventFilter(QObject* O, QEvent* E) {
  if (O == verticalScrollBar()->parentWidget() &&
      (E->type() == QEvent::Move || E->type() == QEvent::Resize || E->type() == QEvent::Show ||
       E->type() == QEvent::Hide))
    PlaceRecordsBar();
  return TControl<QTableView>::eventFilter(O, E);
}

void TDBGrid::RecordsBarMoved(int Top) {
  if (!Banded() || FResetting) return;
  QScrollBar* Own = verticalScrollBar();
  const int OldFirst = FBandFirst, OldTop = Own->value();
  if (Top < FBandFirst || Top - FBandFirst > Own->maximum())
    ShowBand(BandStartFor(Top + Own->pageStep() / 2));
  FScrollStopped = false;
  Own->setValue(Top - FBandFirst);
  if (FScrollStopped) {
    // Stopped while the records there were read: the records shown before, in their band.
    ShowBand(OldFirst);
    FScrollingBack = true;
    Own->setValue(OldTop);
    FScrollingBack = false;
    FTopRow = OldTop;
    UpdateRecordsBar();
    return;
  }
  KeepBandAround();
}

// ---- columns

void TDBGrid::ColumnsInserting(int First, int Last) {
  if (!FResetting) FModel->BeginInsertColumns(First, Last);
}

void TDBGrid::ColumnsInserted() {
  FFieldCacheValid = false;
  if (FResetting) return;
  FModel->EndInsertColumns();
  ApplyWidths();
  SyncCurrent();
}

void TDBGrid::ColumnsRemoving(int First, int Last) {
  if (!FResetting) FModel->BeginRemoveColumns(First, Last);
}

void TDBGrid::ColumnsRemoved() {
  FFieldCacheValid = false;
  FSelectedIndex = 0;
  if (!FResetting) FModel->EndRemoveColumns();
}

void TDBGrid::ColumnChanged(int Index, bool Cells) {
  if (Cells) FFieldCacheValid = false;
  if (FResetting) return;
  if (!Cells) {
    emit FModel->headerDataChanged(Qt::Horizontal, Index, Index);
    horizontalHeader()->viewport()->update();
    return;
  }
  if (FModel->Rows() > 0)
    emit FModel->dataChanged(FModel->index(0, Index), FModel->index(FModel->Rows() - 1, Index));
  ApplyWidths();
}

int TDBGrid::DefaultWidth(const TGridColumn& C) const {
  const QFontMetrics FM(font());
  const TField* F = C.Field();
  // Digits are wider than the average letter: dates and numbers must fit whole.
  const int Unit = std::max(FM.averageCharWidth(), FM.horizontalAdvance(QLatin1Char('0')));
  const int Cells = F ? F->DisplayWidth() * Unit : 64;
  return std::max(Cells, FM.horizontalAdvance(QStr(C.Title().Caption()))) + 10;
}

void TDBGrid::ApplyWidths() {
  FApplyingWidths = true;
  QHeaderView* H = horizontalHeader();
  for (int I = 0; I < FColumns.Count() && I < H->count(); ++I) {
    const TGridColumn& C = *FColumns.Items(I);
    H->resizeSection(I, C.FWidth >= 0 ? C.FWidth : DefaultWidth(C));
  }
  FApplyingWidths = false;
}

// ---- picking rows

bool TDBGrid::PaintSelected(const QModelIndex& I) const {
  const TDataSet* DS = DataSet();
  if (FResetting || !DS || !DS->Active() || I.row() >= FModel->Rows()) return false;
  if ((FOptions & dgMultiSelect) && FSelectedRows.ContainsPosition(FBandFirst + I.row()))
    return true;
  if (!hasFocus() && !(FOptions & dgAlwaysShowSelection)) return false;
  const QModelIndex C = currentIndex();
  return I.row() == C.row() && ((FOptions & dgRowSelect) || I.column() == C.column());
}

void TDBGrid::SelectionChanged() {
  viewport()->update();
}

void TDBGrid::TogglePosition(int Position) {
  const TDataSet* DS = DataSet();
  if (!DS || !DS->Active() || Position < 0 || Position >= FTotal) return;
  if (FSelectedRows.ContainsPosition(Position)) {
    FSelectedRows.Remove(Position);
  } else {
    TBookmark B = NoBookmark;
    try {
      B = DS->RowAt(Position);
    } catch (const std::out_of_range&) {
      return;  // gone from the database since the grid read it
    }
    FSelectedRows.Add(B, Position);
  }
  FSelectedRows.FBase = FSelectedRows.FRuns.size();
  FAnchor = Position;
  SelectionChanged();
}

void TDBGrid::ExtendTo(int Position) {
  const TDataSet* DS = DataSet();
  if (!DS || !DS->Active() || Position < 0 || Position >= FTotal) return;
  if (FAnchor < 0 || FAnchor >= FTotal) FAnchor = Position;
  // The previous range from the anchor gives way to the new one; earlier picks stay. The range
  // is kept as its ends: nothing of it is read here.
  FSelectedRows.TruncateTo(FSelectedRows.FBase);
  FSelectedRows.AddRange(FAnchor, Position);
  SelectionChanged();
}

// ---- user input

void TDBGrid::currentChanged(const QModelIndex& Current, const QModelIndex& Previous) {
  QTableView::currentChanged(Current, Previous);
  viewport()->update();
  verticalHeader()->viewport()->update();
  if (!Current.isValid()) return;
  // The column first: the record's move puts the current cell back on the selected column
  // (and scrolls to it), which must already be the clicked one.
  const bool ColumnChanged = Current.column() != FSelectedIndex;
  FSelectedIndex = Current.column();
  if (!FSyncing) {
    TDataSet* DS = DataSet();
    const int Position = FBandFirst + Current.row();
    if (DS && DS->Active() && DS->RecNo() != Position + 1) {
      bool Stopped = false;
      FSyncing = true;
      SafeCall([&] {
        try {
          // Over a database the move may read a window: inside busy work, unless other work
          // runs already.
          std::optional<TBusyWork> Work;
          if (DS->Cursor() && !TBusyWork::Current()) Work.emplace(this);
          DS->SetRecNo(Position + 1);
        } catch (const EAborted&) {
          // Stopped by the user: the dataset stays on its record and the grid goes back to it.
          Stopped = true;
        }
      });
      FSyncing = false;
      if (Stopped) SyncCurrent();
    }
  }
  if (ColumnChanged) Fire(OnColEnter, this);
}

void TDBGrid::mousePressEvent(QMouseEvent* E) {
  const QModelIndex I = indexAt(E->position().toPoint());
  const int Old = CurrentPosition(), Clicked = I.isValid() ? FBandFirst + I.row() : -1;
  FPressed = I;
  QTableView::mousePressEvent(E);
  if (!I.isValid() || E->button() != Qt::LeftButton || !(FOptions & dgMultiSelect)) return;
  if (E->modifiers() & Qt::ControlModifier) {
    TogglePosition(Clicked);
  } else if (E->modifiers() & Qt::ShiftModifier) {
    if (FAnchor < 0) FAnchor = Old >= 0 ? Old : Clicked;
    ExtendTo(Clicked);
  } else {
    FSelectedRows.Clear();
    FAnchor = Clicked;
  }
}

void TDBGrid::mouseReleaseEvent(QMouseEvent* E) {
  QTableView::mouseReleaseEvent(E);
  const QModelIndex I = indexAt(E->position().toPoint());
  const bool Click = E->button() == Qt::LeftButton && I.isValid() && I == FPressed;
  FPressed = QPersistentModelIndex();
  if (Click) Fire(OnCellClick, FColumns.Items(I.column()));
}

void TDBGrid::TitleClicked(int Section) {
  if (Section < 0 || Section >= FColumns.Count()) return;
  SetSelectedIndex(Section);
  Fire(OnTitleClick, FColumns.Items(Section));
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* E) {
  const QModelIndex I = indexAt(E->position().toPoint());
  QTableView::mouseDoubleClickEvent(E);
  if (I.isValid() && E->button() == Qt::LeftButton) Fire(OnDblClick, this);
}

void TDBGrid::keyPressEvent(QKeyEvent* E) {
  // Tab moves between the columns; Ctrl+Tab (and Ctrl+Shift+Tab) leaves the grid.
  if ((E->key() == Qt::Key_Tab || E->key() == Qt::Key_Backtab) &&
      (E->modifiers() & Qt::ControlModifier)) {
    const bool Back = E->key() == Qt::Key_Backtab || (E->modifiers() & Qt::ShiftModifier);
    QWidget::focusNextPrevChild(!Back);
    return;
  }
  // Keys move from the dataset's record, which the bar over every record may have left.
  BackToRecord();
  const int Old = CurrentPosition();
  const bool Multi = FOptions & dgMultiSelect;
  if (Multi && E->key() == Qt::Key_Space && (E->modifiers() & Qt::ControlModifier)) {
    TogglePosition(Old);
    return;
  }
  const bool Ends = (E->key() == Qt::Key_Home || E->key() == Qt::Key_End) &&
                    (E->modifiers() & Qt::ControlModifier);
  if (Ends && Banded() && FColumns.Count() > 0) {
    // The first or the last record, which the band may not hold yet.
    const int Target = E->key() == Qt::Key_End ? FTotal - 1 : 0;
    ShowBand(BandStartFor(Target));
    const QModelIndex I = FModel->index(Target - FBandFirst, SelectedIndex());
    selectionModel()->setCurrentIndex(I, QItemSelectionModel::NoUpdate);
    scrollTo(I);
  } else {
    QTableView::keyPressEvent(E);
  }
  const int New = CurrentPosition();
  if (Multi && New >= 0 && New != Old) {
    if (E->modifiers() & Qt::ShiftModifier) {
      if (FAnchor < 0) FAnchor = Old >= 0 ? Old : New;
      ExtendTo(New);
    } else {
      FSelectedRows.Clear();
      FAnchor = New;
    }
  }
  KeepBandAround();
}

void TDBGrid::wheelEvent(QWheelEvent* E) {
  QTableView::wheelEvent(E);
  KeepBandAround();
}

void TDBGrid::keyReleaseEvent(QKeyEvent* E) {
  if (!E->isAutoRepeat()) {
    Word Key = KeyCodeOf(E->key());
    Fire(OnKeyUp, this, Key, ShiftStateOf(E->modifiers()));
  }
  QTableView::keyReleaseEvent(E);
}

void TDBGrid::focusInEvent(QFocusEvent* E) {
  // Without a current cell the view would make its first row current (and move the dataset).
  BackToRecord();
  QTableView::focusInEvent(E);
  viewport()->update();
}

void TDBGrid::focusOutEvent(QFocusEvent* E) {
  QTableView::focusOutEvent(E);
  viewport()->update();
}

}  // namespace kv
