// Buttons with pictures: TBitBtn (a push button of a kind: OK and Cancel close their form with
// mrOk and mrCancel) and TSpeedButton (a flat tool button with a glyph).
#pragma once

#include <QPixmap>
#include <QToolButton>
#include <string>

#include "StdCtrls.h"

#pragma GCC visibility push(default)
namespace kv {

enum TBitBtnKind { bkCustom, bkOK, bkCancel, bkHelp, bkClose };

class TBitBtn : public TButton {
  Q_OBJECT
  // Settable from Designer forms (a property with stdset="0"): the TBitBtnKind as a number.
  Q_PROPERTY(int kind READ KindNumber WRITE SetKindNumber)
 public:
  explicit TBitBtn(QWidget* Parent = nullptr);
  TBitBtnKind Kind() const { return FKind; }
  // Sets the kind: its glyph, its modal result (bkOK mrOk and Default, bkCancel mrCancel and
  // Cancel), and its caption when the button has none.
  void SetKind(TBitBtnKind V);
  QPixmap Glyph() const { return icon().pixmap(iconSize()); }
  void SetGlyph(const QPixmap& V) { setIcon(QIcon(V)); }

 private:
  int KindNumber() const { return FKind; }
  void SetKindNumber(int V) { SetKind(static_cast<TBitBtnKind>(V)); }
  TBitBtnKind FKind = bkCustom;
};

class TSpeedButton : public TControl<QToolButton> {
  Q_OBJECT
 public:
  explicit TSpeedButton(QWidget* Parent = nullptr);
  std::string Caption() const { return StdStr(text()); }
  // The caption shows beside the glyph; without one the glyph stands alone.
  void SetCaption(const std::string& V);
  QPixmap Glyph() const { return FGlyph; }
  void SetGlyph(const QPixmap& V);
  bool Flat() const { return autoRaise(); }
  void SetFlat(bool V) { setAutoRaise(V); }
  // Clicks the button from code (OnClick runs).
  void Click() { click(); }
  TNotifyEvent OnClick;

 private:
  void UpdateStyle();
  QPixmap FGlyph;
};

}  // namespace kv
#pragma GCC visibility pop
