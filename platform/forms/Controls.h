// What every control of the form toolkit shares: colours in blue-green-red order with their
// names, fonts, key codes and shift states, the event types, text conversion between UTF-8 and
// Qt, the guard that turns an exception escaping an event handler into an error box, and the
// TControl layer that gives a Qt widget the members the forms call.
//
// Conventions of the toolkit: a property is a getter Name() and a setter SetName(); events are
// std::function members named as the system names them (OnClick, OnChange, ...), and change
// events run only on the user's own edits, never when code writes a value. Visible() and
// Enabled() are the control's own flags (a control on a hidden form still reports Visible()).
#pragma once

#include <QColor>
#include <QFont>
#include <QObject>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

class QLineEdit;

#pragma GCC visibility push(default)
namespace kv {

// ---- colours

// A colour as $00BBGGRR (blue-green-red, red in the low byte), or one of the system colours
// below (the high byte set), resolved against the widget's palette when drawn.
using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
// The pale yellow of hint windows and information panels.
constexpr TColor clInfoBk = 0xE1FFFF;
// System colours: the palette's roles.
constexpr TColor clWindow = 0xFF000005;
constexpr TColor clWindowText = 0xFF000008;
constexpr TColor clBtnFace = 0xFF00000F;
constexpr TColor clBtnText = 0xFF000012;
constexpr TColor clHighlight = 0xFF00000D;
constexpr TColor clHighlightText = 0xFF00000E;
// "Not set": the control keeps its parent's or the style's colour.
constexpr TColor clDefault = 0x20000000;

// The Qt colour of C (system colours from Palette).
QColor ToQColor(TColor C, const QPalette& Palette);
// The Qt colour of a plain (non-system) colour.
QColor ToQColor(TColor C);
// The TColor of a Qt colour (alpha dropped).
TColor ToTColor(const QColor& C);

// ---- fonts

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = unsigned;

// A font as the forms set it: name and size (empty / 0 keep the inherited ones), styles and
// colour. Whoever shows the font listens through OnChange.
class TFont {
 public:
  const std::string& Name() const { return FName; }
  void SetName(std::string V);
  // Size in points; 0 keeps the inherited size.
  int Size() const { return FSize; }
  void SetSize(int V);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles V);
  TColor Color() const { return FColor; }
  void SetColor(TColor V);
  // Base with this font's name, size and styles applied.
  QFont Apply(QFont Base) const;
  // Whether name, size and styles are all left as inherited.
  bool Inherited() const { return FName.empty() && FSize == 0 && FStyle == 0; }
  // Called after every change.
  std::function<void()> OnChange;

 private:
  void Changed() {
    if (OnChange) OnChange();
  }
  std::string FName;
  int FSize = 0;
  TFontStyles FStyle = 0;
  TColor FColor = clWindowText;
};

// ---- events

using TObject = QObject;
using Word = uint16_t;

enum TShiftStateFlag : unsigned {
  ssShift = 1,
  ssAlt = 2,
  ssCtrl = 4,
  ssLeft = 8,
  ssRight = 16,
  ssMiddle = 32,
  ssDouble = 64
};
using TShiftState = unsigned;

// Key codes of key events (letters and digits are their upper-case character codes).
constexpr Word VK_BACK = 8, VK_TAB = 9, VK_RETURN = 13, VK_SHIFT = 16, VK_CONTROL = 17,
               VK_MENU = 18, VK_ESCAPE = 27, VK_SPACE = 32, VK_PRIOR = 33, VK_NEXT = 34,
               VK_END = 35, VK_HOME = 36, VK_LEFT = 37, VK_UP = 38, VK_RIGHT = 39, VK_DOWN = 40,
               VK_INSERT = 45, VK_DELETE = 46, VK_F1 = 112, VK_F12 = 123;

// The key code of a Qt key (0 for keys without one).
Word KeyCodeOf(int QtKey);
// The shift state of Qt keyboard modifiers (and mouse buttons).
TShiftState ShiftStateOf(Qt::KeyboardModifiers Modifiers, Qt::MouseButtons Buttons = Qt::NoButton);

using TNotifyEvent = std::function<void(TObject* Sender)>;
// Key handlers may change Key (setting it to 0 swallows the key).
using TKeyEvent = std::function<void(TObject* Sender, Word& Key, TShiftState Shift)>;

// Shows an exception that escaped an event handler: the error box with its message (Qt must
// never see an exception pass through it).
void HandleException(const std::exception& E);
// Runs F; an exception it raises is shown by HandleException instead of propagating.
template <class F>
void SafeCall(F&& Fn) {
  try {
    Fn();
  } catch (const std::exception& E) {
    HandleException(E);
  } catch (...) {
    HandleException(std::runtime_error("Error desconocido"));
  }
}
// Raises Handler(Args...) when assigned, under SafeCall.
template <class Event, class... Args>
void Fire(const Event& Handler, Args&&... A) {
  if (Handler) SafeCall([&] { Handler(std::forward<Args>(A)...); });
}

// ---- text

inline QString QStr(std::string_view S) {
  return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size()));
}
inline std::string StdStr(const QString& S) {
  return S.toStdString();
}

// ---- controls

// Applies a background colour to a widget (clDefault gives the parent's back).
void ApplyWidgetColor(QWidget* W, TColor C);
// Shrinks W's font, from the size it first had, until Fits() holds or the size is down to three
// quarters of it: a control of a fixed width then shows its whole text (a long date, a long item).
void FitFont(QWidget* W, const std::function<bool()>& Fits);
// Whether the line edit E shows its whole text.
bool ShowsWholeText(const QLineEdit* E);
// Applies a font and its colour to a widget, starting from Base.
void ApplyWidgetFont(QWidget* W, const TFont& F, const QFont& Base);

// The members every control has, added to a Qt widget class. The control stays an ordinary Qt
// widget (usable in layouts and as a promoted widget in Designer forms).
template <class QtWidget>
class TControl : public QtWidget {
 public:
  explicit TControl(QWidget* Parent = nullptr) : QtWidget(Parent) {
    FFont.OnChange = [this] { ApplyWidgetFont(this, FFont, FBaseFont); };
  }

  // The control's own visibility (true on a form not shown yet when the control is not hidden).
  bool Visible() const { return !this->isHidden(); }
  void SetVisible(bool V) { this->setVisible(V); }
  // The control's own enabled flag.
  bool Enabled() const { return !this->testAttribute(Qt::WA_ForceDisabled); }
  void SetEnabled(bool V) { this->setEnabled(V); }
  // Background colour; clDefault (the start) keeps the parent's.
  TColor Color() const { return FColor; }
  void SetColor(TColor V) {
    FColor = V;
    ApplyWidgetColor(this, V);
  }
  // Font and text colour; changes apply at once.
  TFont& Font() {
    if (!FBaseSet) {
      FBaseFont = this->font();
      FBaseSet = true;
    }
    return FFont;
  }
  std::string Hint() const { return StdStr(this->toolTip()); }
  void SetHint(const std::string& V) { this->setToolTip(QStr(V)); }
  // Paints the control now (a long action that keeps the event loop busy still shows it).
  void Repaint() { this->repaint(); }

 private:
  TColor FColor = clDefault;
  TFont FFont;
  QFont FBaseFont;
  bool FBaseSet = false;
};

}  // namespace kv
#pragma GCC visibility pop
