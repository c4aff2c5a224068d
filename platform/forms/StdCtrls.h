// The standard controls: labels, static texts, edits, combo boxes, check boxes, radio buttons,
// push buttons and group boxes. Each is its Qt widget with the members the forms call; change and
// click events run only on the user's own edits and clicks (writing Text, Checked or ItemIndex
// from code fires nothing).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <string>
#include <string_view>

#include "Classes.h"
#include "Controls.h"
#include "FieldTypes.h"

#pragma GCC visibility push(default)
namespace kv {

// Qt alignment flags of a text alignment (vertically centred).
Qt::Alignment ToQtAlignment(TAlignment A);

class TLabel : public TControl<QLabel> {
  Q_OBJECT
 public:
  explicit TLabel(QWidget* Parent = nullptr);
  std::string Caption() const { return StdStr(text()); }
  void SetCaption(const std::string& V) { setText(QStr(V)); }
  TAlignment Alignment() const { return FAlignment; }
  void SetAlignment(TAlignment V);
  // Long captions break into lines.
  bool WordWrap() const { return wordWrap(); }
  void SetWordWrap(bool V) { setWordWrap(V); }

 private:
  TAlignment FAlignment = taLeftJustify;
};

enum TStaticBorderStyle { sbsNone, sbsSingle, sbsSunken };

// A label with a border (sunken by choice) and colours, for counters and status lines.
class TStaticText : public TLabel {
  Q_OBJECT
 public:
  explicit TStaticText(QWidget* Parent = nullptr);
  TStaticBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TStaticBorderStyle V);

 private:
  TStaticBorderStyle FBorderStyle = sbsNone;
};

class TEdit : public TControl<QLineEdit> {
  Q_OBJECT
 public:
  explicit TEdit(QWidget* Parent = nullptr);
  std::string Text() const { return StdStr(text()); }
  // Writes the text; OnChange does not fire.
  void SetText(const std::string& V) { setText(QStr(V)); }
  bool ReadOnly() const { return isReadOnly(); }
  void SetReadOnly(bool V) { setReadOnly(V); }
  // Runs when the user edits the text.
  TNotifyEvent OnChange;
};

class TComboBox;

// The items of a combo box, read and written in place.
class TComboItems {
 public:
  explicit TComboItems(TComboBox* Combo) : FCombo(Combo) {}
  int Count() const;
  // Adds an item at the end; the combo's text stays as it is.
  void Add(const std::string& S);
  void Insert(int Index, const std::string& S);
  void Delete(int Index);
  // Removes every item and empties the text.
  void Clear();
  // Index of the first item equal to S ignoring case, -1 when none.
  int IndexOf(std::string_view S) const;
  // The item at Index; raises Exception when out of range.
  std::string operator[](int Index) const { return Strings(Index); }
  std::string Strings(int Index) const;
  // Replaces the items with those of a string list.
  void Assign(const TStringList& List);

 private:
  TComboBox* FCombo;
};

// csDropDown: an editable text with a list; csDropDownList: a choice from the list only.
enum TComboBoxStyle { csDropDown, csDropDownList };

// An editable combo box (by default) whose text completes inline as the user types: typing a
// prefix of an item leaves the whole item, the completed part selected, so typing on refines it.
class TComboBox : public TControl<QComboBox> {
  Q_OBJECT
 public:
  explicit TComboBox(QWidget* Parent = nullptr);
  TComboItems& Items() { return FItems; }
  const TComboItems& Items() const { return FItems; }
  std::string Text() const { return StdStr(currentText()); }
  // Writes the text (it need not be an item); OnChange does not fire.
  void SetText(const std::string& V);
  // Index of the item equal to the text (exactly), -1 when the text is no item.
  int ItemIndex() const;
  // Makes item V current (its text the combo's); -1 empties the text. OnChange does not fire.
  void SetItemIndex(int V);
  TComboBoxStyle Style() const { return isEditable() ? csDropDown : csDropDownList; }
  void SetStyle(TComboBoxStyle V);
  // Runs when the user types (after the inline completion) or picks an item from the list.
  TNotifyEvent OnChange;

 protected:
  bool eventFilter(QObject* Watched, QEvent* E) override;
  void keyPressEvent(QKeyEvent* E) override;
  void resizeEvent(QResizeEvent* E) override;

 public:
  // The list drops down at least as wide as its longest item.
  void showPopup() override;

 private:
  // A text longer than the box shows whole in a smaller font.
  void FitText();
  void NoteKey(const QKeyEvent* E);
  void TextEdited(const QString& Typed);
  void ConnectEditor();
  TComboItems FItems{this};
  bool FTyping = false;  // the edit under way comes from a typed character
};

class TCheckBox : public TControl<QCheckBox> {
  Q_OBJECT
 public:
  explicit TCheckBox(QWidget* Parent = nullptr);
  std::string Caption() const { return StdStr(text()); }
  void SetCaption(const std::string& V) { setText(QStr(V)); }
  bool Checked() const { return isChecked(); }
  // Writes the state; OnClick does not fire.
  void SetChecked(bool V) { setChecked(V); }
  // Runs when the user clicks the box (or presses space on it).
  TNotifyEvent OnClick;

 protected:
  // A caption longer than the box shows whole in a smaller font.
  void resizeEvent(QResizeEvent* E) override;
};

class TRadioButton : public TControl<QRadioButton> {
  Q_OBJECT
 public:
  explicit TRadioButton(QWidget* Parent = nullptr);
  std::string Caption() const { return StdStr(text()); }
  void SetCaption(const std::string& V) { setText(QStr(V)); }
  bool Checked() const { return isChecked(); }
  // Writes the state (the other buttons of the group clear); OnClick does not fire.
  void SetChecked(bool V) { setChecked(V); }
  TNotifyEvent OnClick;
};

// A push button. A button with a modal result closes its form with that result when clicked;
// a Default button answers Enter, a Cancel button Escape.
class TButton : public TControl<QPushButton> {
  Q_OBJECT
  // Settable from Designer forms (as properties with stdset="0").
  Q_PROPERTY(int modalResult READ ModalResult WRITE SetModalResult)
  Q_PROPERTY(bool cancel READ Cancel WRITE SetCancel)
 public:
  explicit TButton(QWidget* Parent = nullptr);
  std::string Caption() const { return StdStr(text()); }
  void SetCaption(const std::string& V) { setText(QStr(V)); }
  int ModalResult() const { return FModalResult; }
  void SetModalResult(int V) { FModalResult = V; }
  bool Default() const { return isDefault(); }
  void SetDefault(bool V) { setDefault(V); }
  bool Cancel() const { return FCancel; }
  void SetCancel(bool V) { FCancel = V; }
  // Clicks the button from code: the form gets the modal result and OnClick runs.
  void Click() { click(); }
  TNotifyEvent OnClick;

 private:
  void Clicked();
  int FModalResult = 0;
  bool FCancel = false;
};

class TGroupBox : public TControl<QGroupBox> {
  Q_OBJECT
 public:
  explicit TGroupBox(QWidget* Parent = nullptr);
  std::string Caption() const { return StdStr(title()); }
  void SetCaption(const std::string& V) { setTitle(QStr(V)); }
};

}  // namespace kv
#pragma GCC visibility pop
