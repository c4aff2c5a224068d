// TDateTimePicker (formats from the locale, user-only changes) and TAnimate.
#include "ComCtrls.h"

#include "Glyphs.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <cctype>

namespace kv {

// ------------------------------------------------------------------------ formats and values

namespace {
int RunOf(std::string_view P, size_t I) {
  const int C = std::tolower(static_cast<unsigned char>(P[I]));
  size_t J = I;
  while (J < P.size() && std::tolower(static_cast<unsigned char>(P[J])) == C) ++J;
  return static_cast<int>(J - I);
}

bool StartsWithNoCase(std::string_view P, size_t I, std::string_view W) {
  if (P.size() - I < W.size()) return false;
  for (size_t K = 0; K < W.size(); ++K)
    if (std::tolower(static_cast<unsigned char>(P[I + K])) != W[K]) return false;
  return true;
}

// Builds a Qt format: fields as they come, literal text gathered and quoted in one piece when
// it holds letters or quotes (Qt reads letters as fields and '' inside quotes as a quote).
class TQtFormat {
 public:
  void Field(const QString& F) {
    Flush();
    FOut += F;
  }
  void Literal(const QString& L) { FLit += L; }
  QString Take() {
    Flush();
    return FOut;
  }

 private:
  void Flush() {
    if (FLit.isEmpty()) return;
    bool Quote = false;
    for (QChar C : FLit) Quote = Quote || C.isLetter() || C == '\'';
    if (Quote)
      FOut += '\'' + QString(FLit).replace("'", "''") + '\'';
    else
      FOut += FLit;
    FLit.clear();
  }
  QString FOut, FLit;
};
}  // namespace

QString ToQtDateFormat(std::string_view P, const TFormatSettings& FS) {
  TQtFormat Out;
  bool AfterHour = false;  // an "m" after an hour (separators between) stands for minutes
  for (size_t I = 0; I < P.size();) {
    if (P[I] == '\'' || P[I] == '"') {
      size_t J = P.find(P[I], I + 1);
      if (J == std::string_view::npos) J = P.size();
      Out.Literal(QStr(P.substr(I + 1, J - I - 1)));
      I = J + 1;
      continue;
    }
    if (StartsWithNoCase(P, I, "am/pm") || StartsWithNoCase(P, I, "a/p")) {
      Out.Field("AP");
      I += StartsWithNoCase(P, I, "am/pm") ? 5 : 3;
      continue;
    }
    const int N = RunOf(P, I);
    switch (std::tolower(static_cast<unsigned char>(P[I]))) {
      case 'd':
        if (N == 5 || N == 6)
          Out.Field(ToQtDateFormat(N == 5 ? FS.ShortDateFormat : FS.LongDateFormat, FS));
        else
          Out.Field(QString(std::min(N, 4), 'd'));
        AfterHour = false;
        break;
      case 'm':
        Out.Field(AfterHour ? QString(std::min(N, 2), 'm') : QString(std::min(N, 4), 'M'));
        AfterHour = false;
        break;
      case 'y':
        Out.Field(N <= 2 ? "yy" : "yyyy");
        AfterHour = false;
        break;
      case 'n':
        Out.Field(QString(std::min(N, 2), 'm'));
        break;
      case 'h':
        Out.Field(QString(std::min(N, 2), 'h'));
        AfterHour = true;
        break;
      case 's':
        Out.Field(QString(std::min(N, 2), 's'));
        break;
      case 'z':
        Out.Field(N >= 3 ? "zzz" : "z");
        break;
      case '/':
        Out.Literal(QString(N, QChar(FS.DateSeparator)));
        break;
      case ':':
        Out.Literal(QString(N, QChar(FS.TimeSeparator)));
        break;
      default:
        Out.Literal(QStr(P.substr(I, static_cast<size_t>(N))));
        break;
    }
    I += static_cast<size_t>(N);
  }
  return Out.Take();
}

QDateTime ToQDateTime(TDateTime D) {
  int Y, M, Day, H, N, S, Ms;
  DecodeDate(D, Y, M, Day);
  DecodeTime(D, H, N, S, Ms);
  if (Y == 0) return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
  return QDateTime(QDate(Y, M, Day), QTime(H, N, S, Ms), Qt::UTC);
}

TDateTime ToTDateTime(const QDateTime& D) {
  const QDate Day = D.date();
  const QTime T = D.time();
  return ComposeDateTime(EncodeDate(Day.year(), Day.month(), Day.day()),
                         EncodeTime(T.hour(), T.minute(), T.second(), T.msec()));
}

// -------------------------------------------------------------------------- TDateTimePicker

namespace {
// The Qt locale whose day and month names are the locale's (Spanish unless the settings carry
// the English names).
QLocale NamesLocale(const TFormatSettings& FS) {
  if (FS.LongMonthNames[0] == "January") return QLocale(QLocale::English, QLocale::UnitedStates);
  return QLocale(QLocale::Spanish, QLocale::Spain);
}
}  // namespace

TDateTimePicker::TDateTimePicker(QWidget* Parent) : TControl<QDateTimeEdit>(Parent) {
  setTimeSpec(Qt::UTC);
  setMinimumDateTime(QDateTime(QDate(100, 1, 1), QTime(0, 0), Qt::UTC));
  setMaximumDateTime(QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC));
  Write(ToQDateTime(Now()));
  connect(this, &QDateTimeEdit::dateTimeChanged, this, [this] {
    FitText();
    if (!FWriting) Fire(OnChange, this);
  });
  UpdateFormat();
}

void TDateTimePicker::Write(const QDateTime& V) {
  const bool Was = FWriting;
  FWriting = true;
  setDateTime(V);
  FWriting = Was;
}

void TDateTimePicker::UpdateFormat() {
  FTyped.clear();
  FAutoSeparator = false;
  const TFormatSettings& FS = FormatSettings();
  const bool Was = FWriting;
  FWriting = true;
  const QDateTime Keep = dateTime();
  setLocale(NamesLocale(FS));
  if (FKind == dtkDate) {
    setDisplayFormat(
        ToQtDateFormat(FDateFormat == dfShort ? FS.ShortDateFormat : FS.LongDateFormat, FS));
    setCalendarPopup(true);
    if (calendarWidget()) calendarWidget()->setLocale(locale());
  } else {
    setDisplayFormat(ToQtDateFormat(FS.LongTimeFormat, FS));
    setCalendarPopup(false);
  }
  setDateTime(Keep);
  FWriting = Was;
  FitText();
}

void TDateTimePicker::SetKind(TDateTimeKind V) {
  FKind = V;
  UpdateFormat();
}

void TDateTimePicker::SetDateFormat(TDTDateFormat V) {
  FDateFormat = V;
  UpdateFormat();
}

TDateTime TDateTimePicker::DateTime() const {
  return ToTDateTime(dateTime());
}

TDateTime TDateTimePicker::Date() const {
  return DateOf(DateTime());
}

TDateTime TDateTimePicker::Time() const {
  return TimeOf(DateTime());
}

void TDateTimePicker::SetDateTime(TDateTime V) {
  Write(ToQDateTime(V));
}

void TDateTimePicker::SetDate(TDateTime V) {
  Write(QDateTime(ToQDateTime(V).date(), dateTime().time(), Qt::UTC));
}

void TDateTimePicker::SetTime(TDateTime V) {
  Write(QDateTime(dateTime().date(), ToQDateTime(V).time(), Qt::UTC));
}

// ---- typed values

namespace {
// The widths of the fields typed into a picker of Kind, in the order they are typed: the
// locale's short date order (day and month two digits, the year four), or hours, minutes and
// (when the long time format shows them) seconds.
std::vector<size_t> TypedFields(TDateTimeKind Kind, const TFormatSettings& FS) {
  std::vector<size_t> W;
  if (Kind == dtkTime) {
    W = {2, 2};
    for (char C : FS.LongTimeFormat)
      if (C == 's' || C == 'S') return {2, 2, 2};
    return W;
  }
  std::string Seen;
  for (char C : FS.ShortDateFormat) {
    const char L = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
    if ((L == 'd' || L == 'm' || L == 'y') && Seen.find(L) == std::string::npos) Seen += L;
  }
  if (Seen.size() != 3) Seen = "dmy";
  for (char L : Seen) W.push_back(L == 'y' ? 4 : 2);
  return W;
}

bool IsSeparatorKey(char C, const TFormatSettings& FS) {
  return C == '/' || C == '-' || C == '.' || C == ',' || C == ':' || C == ' ' ||
         C == FS.DateSeparator || C == FS.TimeSeparator;
}
}  // namespace

bool TDateTimePicker::TypeChar(char C) {
  const TFormatSettings& FS = FormatSettings();
  const char Sep = FKind == dtkDate ? FS.DateSeparator : FS.TimeSeparator;
  const std::vector<size_t> Widths = TypedFields(FKind, FS);
  const size_t Field = static_cast<size_t>(std::count(FTyped.begin(), FTyped.end(), Sep));
  const size_t Start = FTyped.rfind(Sep) == std::string::npos ? 0 : FTyped.rfind(Sep) + 1;
  const size_t Digits = FTyped.size() - Start;
  if (std::isdigit(static_cast<unsigned char>(C))) {
    if (Digits >= Widths[Field]) {
      // A full field moves on by itself; a separator typed next is the same step.
      if (Field + 1 >= Widths.size()) return true;
      FTyped += Sep;
      FAutoSeparator = true;
    } else {
      FAutoSeparator = false;
    }
    FTyped += C;
  } else if (IsSeparatorKey(C, FS)) {
    if (FTyped.empty()) return false;
    if (FAutoSeparator) {
      FAutoSeparator = false;
      return true;
    }
    if (Digits == 0 || Field + 1 >= Widths.size()) return true;
    FTyped += Sep;
  } else {
    return false;
  }
  ShowTyped();
  if (TypedComplete()) EndTyping();
  return true;
}

bool TDateTimePicker::TypedComplete() const {
  const TFormatSettings& FS = FormatSettings();
  const char Sep = FKind == dtkDate ? FS.DateSeparator : FS.TimeSeparator;
  const std::vector<size_t> Widths = TypedFields(FKind, FS);
  const size_t Field = static_cast<size_t>(std::count(FTyped.begin(), FTyped.end(), Sep));
  const size_t Start = FTyped.rfind(Sep) == std::string::npos ? 0 : FTyped.rfind(Sep) + 1;
  return Field + 1 == Widths.size() && FTyped.size() - Start == Widths.back();
}

bool TDateTimePicker::ParseTyped(TDateTime& V) const {
  const TFormatSettings& FS = FormatSettings();
  TDateTime Part;
  QDateTime Result;
  if (FKind == dtkDate) {
    if (!TryStrToDate(FTyped, Part, FS)) return false;
    Result = QDateTime(ToQDateTime(Part).date(), dateTime().time(), Qt::UTC);
  } else {
    std::string T = FTyped;
    if (T.find(FS.TimeSeparator) == std::string::npos) T += std::string(1, FS.TimeSeparator) + "00";
    if (!TryStrToTime(T, Part, FS)) return false;
    Result = QDateTime(dateTime().date(), ToQDateTime(Part).time(), Qt::UTC);
  }
  if (!Result.isValid() || Result < minimumDateTime() || Result > maximumDateTime()) return false;
  V = ToTDateTime(Result);
  return true;
}

bool TDateTimePicker::EndTyping() {
  if (FTyped.empty()) return true;
  TDateTime V;
  const bool Ok = ParseTyped(V);
  FTyped.clear();
  FAutoSeparator = false;
  if (Ok)
    setDateTime(ToQDateTime(V));  // the user's change: OnChange runs when the value moved
  else
    QApplication::beep();
  ShowValue();
  return Ok;
}

void TDateTimePicker::DropTyped() {
  FTyped.clear();
  FAutoSeparator = false;
  ShowValue();
}

void TDateTimePicker::ShowValue() {
  const QSignalBlocker Block(lineEdit());
  lineEdit()->setText(textFromDateTime(dateTime()));
  FitText();
}

void TDateTimePicker::FitText() {
  QLineEdit* E = lineEdit();
  FitFont(E, [E] { return ShowsWholeText(E); });
}

void TDateTimePicker::resizeEvent(QResizeEvent* E) {
  TControl<QDateTimeEdit>::resizeEvent(E);
  FitText();
}

void TDateTimePicker::ShowTyped() {
  const QSignalBlocker Block(lineEdit());
  lineEdit()->setText(QStr(FTyped));
  lineEdit()->setCursorPosition(static_cast<int>(FTyped.size()));
  FitText();
}

void TDateTimePicker::keyPressEvent(QKeyEvent* E) {
  const QString T = E->text();
  const bool Plain = !(E->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  if (Plain && T.size() == 1 && T[0].unicode() < 0x80 && TypeChar(T[0].toLatin1())) {
    E->accept();
    return;
  }
  if (!FTyped.empty()) {
    switch (E->key()) {
      case Qt::Key_Backspace:
        FTyped.pop_back();
        FAutoSeparator = false;
        if (FTyped.empty())
          DropTyped();
        else
          ShowTyped();
        E->accept();
        return;
      case Qt::Key_Escape:
        // Escape drops what was typed, and only that.
        DropTyped();
        E->accept();
        return;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        // An impossible value keeps the user in the box; a good one is taken and Enter goes on.
        if (!EndTyping()) {
          E->accept();
          return;
        }
        break;
      default:
        EndTyping();
        break;
    }
  }
  TControl<QDateTimeEdit>::keyPressEvent(E);
}

void TDateTimePicker::focusOutEvent(QFocusEvent* E) {
  EndTyping();
  TControl<QDateTimeEdit>::focusOutEvent(E);
}

void TDateTimePicker::mousePressEvent(QMouseEvent* E) {
  EndTyping();
  TControl<QDateTimeEdit>::mousePressEvent(E);
}

// --------------------------------------------------------------------------------- TAnimate

TAnimate::TAnimate(QWidget* Parent) : TControl<QWidget>(Parent) {
  FTimer.setInterval(80);
  connect(&FTimer, &QTimer::timeout, this, &TAnimate::Tick);
}

int TAnimate::Clamp(int Frame) const {
  return std::clamp(Frame, 1, std::max(1, FrameCount()));
}

void TAnimate::SetCommonAVI(TCommonAVI V) {
  FCommonAVI = V;
  FStartFrame = 1;
  FStopFrame = std::max(1, FrameCount());
  FFrame = FStopFrame;
  update();
}

void TAnimate::SetStartFrame(int V) {
  FStartFrame = Clamp(V);
}

void TAnimate::SetStopFrame(int V) {
  FStopFrame = Clamp(V);
  if (!Active()) Seek(FStopFrame);
}

void TAnimate::Seek(int Frame) {
  FFrame = Clamp(Frame);
  update();
}

void TAnimate::SetActive(bool V) {
  if (V == Active()) return;
  if (V) {
    FPlayed = 0;
    FFrame = std::min(FStartFrame, FStopFrame);
    FTimer.start();
    if (isVisible()) repaint();
  } else {
    FTimer.stop();
    FFrame = FStopFrame;
    if (isVisible()) repaint();
  }
}

void TAnimate::Tick() {
  if (++FFrame > FStopFrame) {
    FFrame = std::min(FStartFrame, FStopFrame);
    if (FRepetitions > 0 && ++FPlayed >= FRepetitions) {
      SetActive(false);
      return;
    }
  }
  update();
}

void TAnimate::paintEvent(QPaintEvent*) {
  if (FCommonAVI == aviNone) return;
  QPainter P(this);
  DrawSearchFrame(P, rect(), FFrame - 1, FrameCount());
}

}  // namespace kv
