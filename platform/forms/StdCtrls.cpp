// The standard controls: user-only change events, inline completion of combo boxes, modal
// results of buttons.
#include "StdCtrls.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QScrollBar>

#include "Forms.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

Qt::Alignment ToQtAlignment(TAlignment A) {
  switch (A) {
    case taRightJustify:
      return Qt::AlignRight | Qt::AlignVCenter;
    case taCenter:
      return Qt::AlignCenter;
    case taLeftJustify:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

// ------------------------------------------------------------------------ labels and texts

TLabel::TLabel(QWidget* Parent) : TControl<QLabel>(Parent) {
  setAlignment(ToQtAlignment(FAlignment));
}

void TLabel::SetAlignment(TAlignment V) {
  FAlignment = V;
  setAlignment(ToQtAlignment(V));
}

TStaticText::TStaticText(QWidget* Parent) : TLabel(Parent) {}

void TStaticText::SetBorderStyle(TStaticBorderStyle V) {
  FBorderStyle = V;
  setFrameShape(V == sbsNone ? QFrame::NoFrame : QFrame::Panel);
  setFrameShadow(V == sbsSunken ? QFrame::Sunken : QFrame::Plain);
  setLineWidth(1);
}

// ----------------------------------------------------------------------------------- TEdit

TEdit::TEdit(QWidget* Parent) : TControl<QLineEdit>(Parent) {
  connect(this, &QLineEdit::textEdited, this, [this] { Fire(OnChange, this); });
}

// ------------------------------------------------------------------------------- TComboBox

int TComboItems::Count() const {
  return FCombo->count();
}

void TComboItems::Add(const std::string& S) {
  Insert(Count(), S);
}

void TComboItems::Insert(int Index, const std::string& S) {
  // Qt makes the first item added current, which would overwrite the text: keep the text (or,
  // for a pick-only list, the item picked).
  const QString Text = FCombo->currentText();
  const int Picked = FCombo->currentIndex();
  const QSignalBlocker Block(FCombo);
  FCombo->insertItem(Index, QStr(S));
  if (FCombo->isEditable()) {
    FCombo->setCurrentIndex(FCombo->findText(Text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    FCombo->setEditText(Text);
  } else {
    FCombo->setCurrentIndex(Picked < 0 ? -1 : (Picked >= Index ? Picked + 1 : Picked));
  }
}

void TComboItems::Delete(int Index) {
  if (Index < 0 || Index >= Count())
    throw Exception("Índice de elemento fuera de rango: " + IntToStr(Index));
  const QString Text = FCombo->currentText();
  const QSignalBlocker Block(FCombo);
  FCombo->removeItem(Index);
  if (FCombo->isEditable()) FCombo->setEditText(Text);
}

void TComboItems::Clear() {
  const QSignalBlocker Block(FCombo);
  FCombo->clear();
  if (FCombo->isEditable()) FCombo->setEditText(QString());
}

int TComboItems::IndexOf(std::string_view S) const {
  const std::string Folded = FoldCase(S);
  for (int I = 0; I < Count(); ++I)
    if (FoldCase(StdStr(FCombo->itemText(I))) == Folded) return I;
  return -1;
}

std::string TComboItems::Strings(int Index) const {
  if (Index < 0 || Index >= Count())
    throw Exception("Índice de elemento fuera de rango: " + IntToStr(Index));
  return StdStr(FCombo->itemText(Index));
}

void TComboItems::Assign(const TStringList& List) {
  Clear();
  for (int I = 0; I < List.Count(); ++I) Add(List[I]);
}

TComboBox::TComboBox(QWidget* Parent) : TControl<QComboBox>(Parent) {
  SetStyle(csDropDown);
  setInsertPolicy(QComboBox::NoInsert);
  // Picking an item from the list is a user's change.
  connect(this, &QComboBox::activated, this, [this] { Fire(OnChange, this); });
  connect(this, &QComboBox::editTextChanged, this, [this] { FitText(); });
}

void TComboBox::FitText() {
  if (QLineEdit* E = lineEdit()) FitFont(E, [E] { return ShowsWholeText(E); });
}

void TComboBox::resizeEvent(QResizeEvent* E) {
  TControl<QComboBox>::resizeEvent(E);
  FitText();
}

void TComboBox::showPopup() {
  int Longest = 0;
  const QFontMetrics FM = view()->fontMetrics();
  for (int I = 0; I < count(); ++I) Longest = std::max(Longest, FM.horizontalAdvance(itemText(I)));
  // The items' own margins, the frame and room for a scroll bar.
  view()->setMinimumWidth(Longest + 24 + view()->verticalScrollBar()->sizeHint().width());
  TControl<QComboBox>::showPopup();
}

void TComboBox::SetStyle(TComboBoxStyle V) {
  setEditable(V == csDropDown);
  ConnectEditor();
}

void TComboBox::ConnectEditor() {
  QLineEdit* E = lineEdit();
  if (!E) return;
  // Qt's own completer completes after textEdited is emitted; the completion here happens
  // before OnChange runs, so the handler sees the completed item.
  setCompleter(nullptr);
  E->installEventFilter(this);
  connect(E, &QLineEdit::textEdited, this, &TComboBox::TextEdited, Qt::UniqueConnection);
}

// Keys reach the editor through the combo box (which hands them on) or directly.
void TComboBox::NoteKey(const QKeyEvent* E) {
  FTyping = !E->text().isEmpty() && E->text().at(0).isPrint();
}

void TComboBox::keyPressEvent(QKeyEvent* E) {
  NoteKey(E);
  TControl<QComboBox>::keyPressEvent(E);
}

bool TComboBox::eventFilter(QObject* Watched, QEvent* E) {
  if (Watched == lineEdit() && E->type() == QEvent::KeyPress) NoteKey(static_cast<QKeyEvent*>(E));
  return TControl<QComboBox>::eventFilter(Watched, E);
}

void TComboBox::TextEdited(const QString& Typed) {
  QLineEdit* E = lineEdit();
  // Complete only after a typed character with the cursor at the end (not after deleting, nor
  // when editing inside the text).
  const bool Complete = FTyping && E->cursorPosition() == Typed.size() && !Typed.isEmpty();
  FTyping = false;
  if (Complete) {
    for (int I = 0; I < count(); ++I) {
      const QString Item = itemText(I);
      if (Item.startsWith(Typed, Qt::CaseInsensitive)) {
        E->setText(Item);
        // Cursor after the typed part, the completion selected: the next key replaces it.
        E->setSelection(static_cast<int>(Item.size()),
                        static_cast<int>(Typed.size() - Item.size()));
        break;
      }
    }
  }
  Fire(OnChange, this);
}

void TComboBox::SetText(const std::string& V) {
  const QSignalBlocker Block(this);
  const QString T = QStr(V);
  const int I = findText(T, Qt::MatchExactly | Qt::MatchCaseSensitive);
  setCurrentIndex(I);
  if (!isEditable()) return;
  setEditText(T);
  // A text written by code shows from its start; while the user is in the box it is selected,
  // so the next key replaces it.
  if (hasFocus())
    lineEdit()->selectAll();
  else
    lineEdit()->setCursorPosition(0);
}

int TComboBox::ItemIndex() const {
  return findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void TComboBox::SetItemIndex(int V) {
  const QSignalBlocker Block(this);
  setCurrentIndex(V >= 0 && V < count() ? V : -1);
  if (isEditable() && currentIndex() < 0) setEditText(QString());
}

// ------------------------------------------------------------------ check and radio buttons

TCheckBox::TCheckBox(QWidget* Parent) : TControl<QCheckBox>(Parent) {
  connect(this, &QAbstractButton::clicked, this, [this] { Fire(OnClick, this); });
}

void TCheckBox::resizeEvent(QResizeEvent* E) {
  TControl<QCheckBox>::resizeEvent(E);
  FitFont(this, [this] { return sizeHint().width() <= width(); });
}

TRadioButton::TRadioButton(QWidget* Parent) : TControl<QRadioButton>(Parent) {
  connect(this, &QAbstractButton::clicked, this, [this] { Fire(OnClick, this); });
}

// --------------------------------------------------------------------------------- TButton

TButton::TButton(QWidget* Parent) : TControl<QPushButton>(Parent) {
  setAutoDefault(false);
  connect(this, &QAbstractButton::clicked, this, &TButton::Clicked);
}

void TButton::Clicked() {
  if (FModalResult != mrNone)
    if (auto* F = qobject_cast<TForm*>(window())) F->SetModalResult(FModalResult);
  Fire(OnClick, this);
}

TGroupBox::TGroupBox(QWidget* Parent) : TControl<QGroupBox>(Parent) {}

}  // namespace kv
