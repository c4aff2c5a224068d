// Colours, fonts, key codes and the exception guard shared by the controls.
#include "Controls.h"

#include <QLineEdit>
#include <QVariant>

#include <QPalette>

#include "Dialogs.h"

namespace kv {

namespace {
constexpr TColor SystemFlag = 0xFF000000;

QPalette::ColorRole RoleOf(TColor C) {
  switch (C) {
    case clWindow:
      return QPalette::Base;
    case clWindowText:
      return QPalette::Text;
    case clBtnText:
      return QPalette::ButtonText;
    case clHighlight:
      return QPalette::Highlight;
    case clHighlightText:
      return QPalette::HighlightedText;
    default:
      return QPalette::Button;
  }
}
}  // namespace

QColor ToQColor(TColor C) {
  return QColor(static_cast<int>(C & 0xFF), static_cast<int>((C >> 8) & 0xFF),
                static_cast<int>((C >> 16) & 0xFF));
}

QColor ToQColor(TColor C, const QPalette& Palette) {
  if ((C & SystemFlag) == SystemFlag) return Palette.color(RoleOf(C));
  return ToQColor(C);
}

// Sets a role for the active and inactive states only: a disabled control keeps its greyed look.
static void SetEnabledColor(QPalette& P, QPalette::ColorRole Role, const QColor& C) {
  P.setColor(QPalette::Active, Role, C);
  P.setColor(QPalette::Inactive, Role, C);
}

TColor ToTColor(const QColor& C) {
  return static_cast<TColor>(C.red()) | (static_cast<TColor>(C.green()) << 8) |
         (static_cast<TColor>(C.blue()) << 16);
}

void TFont::SetName(std::string V) {
  FName = std::move(V);
  Changed();
}
void TFont::SetSize(int V) {
  FSize = V;
  Changed();
}
void TFont::SetStyle(TFontStyles V) {
  FStyle = V;
  Changed();
}
void TFont::SetColor(TColor V) {
  FColor = V;
  Changed();
}

QFont TFont::Apply(QFont Base) const {
  if (!FName.empty()) Base.setFamily(QStr(FName));
  if (FSize > 0) Base.setPointSize(FSize);
  Base.setBold(FStyle & fsBold);
  Base.setItalic(FStyle & fsItalic);
  Base.setUnderline(FStyle & fsUnderline);
  Base.setStrikeOut(FStyle & fsStrikeOut);
  return Base;
}

Word KeyCodeOf(int K) {
  if (K >= Qt::Key_A && K <= Qt::Key_Z) return static_cast<Word>('A' + (K - Qt::Key_A));
  if (K >= Qt::Key_0 && K <= Qt::Key_9) return static_cast<Word>('0' + (K - Qt::Key_0));
  if (K >= Qt::Key_F1 && K <= Qt::Key_F12) return static_cast<Word>(VK_F1 + (K - Qt::Key_F1));
  switch (K) {
    case Qt::Key_Backspace:
      return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return VK_RETURN;
    case Qt::Key_Shift:
      return VK_SHIFT;
    case Qt::Key_Control:
      return VK_CONTROL;
    case Qt::Key_Alt:
      return VK_MENU;
    case Qt::Key_Escape:
      return VK_ESCAPE;
    case Qt::Key_Space:
      return VK_SPACE;
    case Qt::Key_PageUp:
      return VK_PRIOR;
    case Qt::Key_PageDown:
      return VK_NEXT;
    case Qt::Key_End:
      return VK_END;
    case Qt::Key_Home:
      return VK_HOME;
    case Qt::Key_Left:
      return VK_LEFT;
    case Qt::Key_Up:
      return VK_UP;
    case Qt::Key_Right:
      return VK_RIGHT;
    case Qt::Key_Down:
      return VK_DOWN;
    case Qt::Key_Insert:
      return VK_INSERT;
    case Qt::Key_Delete:
      return VK_DELETE;
    default:
      return 0;
  }
}

TShiftState ShiftStateOf(Qt::KeyboardModifiers M, Qt::MouseButtons B) {
  TShiftState S = 0;
  if (M & Qt::ShiftModifier) S |= ssShift;
  if (M & Qt::AltModifier) S |= ssAlt;
  if (M & Qt::ControlModifier) S |= ssCtrl;
  if (B & Qt::LeftButton) S |= ssLeft;
  if (B & Qt::RightButton) S |= ssRight;
  if (B & Qt::MiddleButton) S |= ssMiddle;
  return S;
}

void HandleException(const std::exception& E) {
  MessageDlg(E.what(), mtError);
}

void ApplyWidgetColor(QWidget* W, TColor C) {
  QPalette P = W->palette();
  if (C == clDefault) {
    W->setAutoFillBackground(false);
    P.setBrush(QPalette::Window,
               W->parentWidget() ? W->parentWidget()->palette().window() : QPalette().window());
    P.setBrush(QPalette::Base, QPalette().base());
  } else {
    const QColor Q = ToQColor(C, P);
    W->setAutoFillBackground(true);
    SetEnabledColor(P, QPalette::Window, Q);
    SetEnabledColor(P, QPalette::Base, Q);
  }
  W->setPalette(P);
}

void FitFont(QWidget* W, const std::function<bool()>& Fits) {
  const char* Key = "kvFitFontSize";
  QVariant Base = W->property(Key);
  if (!Base.isValid()) {
    Base = W->font().pointSizeF();
    W->setProperty(Key, Base);
  }
  const double Full = Base.toDouble();
  if (Full <= 0) return;
  QFont F = W->font();
  for (double Size = Full; Size >= Full * 0.75; Size -= 0.5) {
    F.setPointSizeF(Size);
    W->setFont(F);
    if (Fits()) return;
  }
}

bool ShowsWholeText(const QLineEdit* E) {
  const QMargins M = E->textMargins();
  // QLineEdit keeps two pixels on each side of its text.
  const int Room = E->contentsRect().width() - M.left() - M.right() - 4;
  return E->fontMetrics().horizontalAdvance(E->text()) <= Room;
}

void ApplyWidgetFont(QWidget* W, const TFont& F, const QFont& Base) {
  W->setFont(F.Apply(Base));
  QPalette P = W->palette();
  const QColor Q = ToQColor(F.Color(), QPalette());
  for (auto Role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    SetEnabledColor(P, Role, Q);
  W->setPalette(P);
}

}  // namespace kv
