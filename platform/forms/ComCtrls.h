// Common controls: the date-time picker (date or time, the locale's short or long date format,
// a drop-down calendar) and the search animation.
#pragma once

#include <QDateTimeEdit>
#include <QTimer>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

#include "Controls.h"
#include "DateTime.h"
#include "SysUtils.h"

#pragma GCC visibility push(default)
namespace kv {

// The Qt display format of a date/time pattern of the locale's language (d, m, y, h, n, s, z,
// am/pm, "/" and ":" for the locale's separators, quoted literals).
QString ToQtDateFormat(std::string_view Pattern, const TFormatSettings& FS);
// Conversions between TDateTime and Qt's date-times (UTC, so no local-time gap alters a time).
QDateTime ToQDateTime(TDateTime D);
TDateTime ToTDateTime(const QDateTime& D);

enum TDateTimeKind { dtkDate, dtkTime };
enum TDTDateFormat { dfShort, dfLong };

class TDateTimePicker : public TControl<QDateTimeEdit> {
  Q_OBJECT
 public:
  explicit TDateTimePicker(QWidget* Parent = nullptr);
  TDateTimeKind Kind() const { return FKind; }
  // Date kind: the date in the DateFormat, with a drop-down calendar; time kind: the time in the
  // locale's long time format. The value is kept whole either way.
  void SetKind(TDateTimeKind V);
  TDTDateFormat DateFormat() const { return FDateFormat; }
  void SetDateFormat(TDTDateFormat V);
  // The date part (whole days), the time part (fraction of a day), or both.
  TDateTime Date() const;
  TDateTime Time() const;
  TDateTime DateTime() const;
  // Writers; the other part stays. OnChange does not fire.
  void SetDate(TDateTime V);
  void SetTime(TDateTime V);
  void SetDateTime(TDateTime V);
  // Reads the locale's formats again (after the process locale changed).
  void UpdateFormat();
  // Runs when the user changes the value (typing, arrows, the calendar).
  TNotifyEvent OnChange;
  // The whole value being typed, as typed ("" when the user is not typing one).
  const std::string& Typed() const { return FTyped; }

 protected:
  // Digits and separators typed from the keyboard make a whole value in the locale's short date
  // (or long time) order, field by field, whatever the display format; the value is taken when
  // the last field is complete, on Enter and when the box is left. A value that is no date or
  // time is never taken: the box shows its last value again.
  void keyPressEvent(QKeyEvent* E) override;
  void focusOutEvent(QFocusEvent* E) override;
  void mousePressEvent(QMouseEvent* E) override;
  // A value longer than the box (a long date) shows whole in a smaller font.
  void resizeEvent(QResizeEvent* E) override;

 private:
  void Write(const QDateTime& V);
  // The typed value, its fields' widths and the parse of it.
  bool TypeChar(char C);
  bool ParseTyped(TDateTime& V) const;
  bool TypedComplete() const;
  // Takes the typed value when it is one (Accept) or drops it; shows the value again.
  bool EndTyping();
  void DropTyped();
  void ShowTyped();
  void ShowValue();
  void FitText();
  std::string FTyped;
  bool FAutoSeparator = false;  // the last separator was put by a full field, not typed
  TDateTimeKind FKind = dtkDate;
  TDTDateFormat FDateFormat = dfShort;
  bool FWriting = false;
};

enum TCommonAVI { aviNone, aviFindComputer };

// An animation of our own drawing: a magnifier moving over a little table. While Active it plays
// frames StartFrame..StopFrame over and over (Repetitions times when not 0); stopped, it rests
// on StopFrame. Starting paints the first frame at once, so a search that keeps the event loop
// busy still shows it.
class TAnimate : public TControl<QWidget> {
  Q_OBJECT
 public:
  explicit TAnimate(QWidget* Parent = nullptr);
  bool Active() const { return FTimer.isActive(); }
  void SetActive(bool V);
  TCommonAVI CommonAVI() const { return FCommonAVI; }
  void SetCommonAVI(TCommonAVI V);
  // Frames of the animation (0 without one); frames are numbered from 1.
  int FrameCount() const { return FCommonAVI == aviNone ? 0 : 16; }
  int StartFrame() const { return FStartFrame; }
  void SetStartFrame(int V);
  int StopFrame() const { return FStopFrame; }
  void SetStopFrame(int V);
  int Repetitions() const { return FRepetitions; }
  void SetRepetitions(int V) { FRepetitions = V; }
  // The frame shown now.
  int CurrentFrame() const { return FFrame; }
  // Shows a frame without playing.
  void Seek(int Frame);
  QSize sizeHint() const override { return {80, 50}; }

 protected:
  void paintEvent(QPaintEvent* E) override;

 private:
  void Tick();
  int Clamp(int Frame) const;
  TCommonAVI FCommonAVI = aviNone;
  int FStartFrame = 1, FStopFrame = 1, FFrame = 1, FRepetitions = 0, FPlayed = 0;
  QTimer FTimer;
};

}  // namespace kv
#pragma GCC visibility pop
