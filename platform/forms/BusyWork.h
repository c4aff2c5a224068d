// TBusyWork: what a form shows while long work runs in one of its handlers (a search, an order,
// an export). A busy cursor from the start; once the work has lasted DelayMs and reports how far
// it has come (ReportProgress), a window over the form with what it is doing, a bar of the
// records done and "Cancelar". From then on each report lets the toolkit handle its events, so
// the window and the form paint and answer between two reports; the form takes no input (the
// window is modal) and its data views (grids) keep the picture they had, since the data they
// read is what the work is changing. "Cancelar", Escape or closing the window stops the work at
// its next report: ReportProgress raises EAborted, which the handler catches to put things back
// as they were.
//
// Work in place (a search run as the user types) names the control that keeps taking input:
// there is no window, and no busy cursor at first, but an indicator in the form ("Buscando..."
// and "Cancelar", with the busy cursor) once the work has lasted DelayMs; events are handled at
// every report. Text typed into that control goes
// in at once (its handler may ask the running work to stop, Cancel); Escape and the
// indicator's button stop the work; any other input to the form (a click on a button, a key
// elsewhere, closing the form) stops it too and is delivered once the work has ended, in the
// order it came. So no handler of the form ever runs inside the work it would disturb.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

#pragma GCC visibility push(default)
namespace kv {

// The window of a long piece of work: its text, its bar and its cancel button.
class TProgressWindow : public QDialog {
  Q_OBJECT
 public:
  explicit TProgressWindow(QWidget* Parent);
  // Shows how far the work has come: "Exportando: 12.000 de 50.000 registros".
  void Show(const TProgress& P);
  bool Cancelled() const { return FCancelled; }
  QLabel* Text() const { return FText; }
  QProgressBar* Bar() const { return FBar; }
  QPushButton* CancelButton() const { return FCancel; }

 protected:
  // Escape and closing the window cancel, as the button does.
  void reject() override;

 private:
  QLabel* FText;
  QProgressBar* FBar;
  QPushButton* FCancel;
  bool FCancelled = false;
};

// The indicator of work in place: "Buscando..." with a moving bar and "Cancelar".
class TBusyIndicator : public QFrame {
  Q_OBJECT
 public:
  explicit TBusyIndicator(QWidget* Parent);
  bool Cancelled() const { return FCancelled; }
  void Cancel();
  QLabel* Text() const { return FText; }
  QProgressBar* Bar() const { return FBar; }
  QPushButton* CancelButton() const { return FCancel; }

 private:
  QLabel* FText;
  QProgressBar* FBar;
  QPushButton* FCancel;
  bool FCancelled = false;
};

// The text of a report: what, then the records done (and of how many) when there are any.
std::string ProgressText(const TProgress& P);

class TBusyWork : public QObject {
  Q_OBJECT
 public:
  // Parent: the form the work runs for (the window shows over it). Live: for work in place, the
  // control of the form that keeps taking input (null: a progress window). Installs itself as
  // the progress handler until it ends, then puts the previous one back.
  explicit TBusyWork(QWidget* Parent, QWidget* Live = nullptr);
  ~TBusyWork() override;
  TBusyWork(const TBusyWork&) = delete;
  TBusyWork& operator=(const TBusyWork&) = delete;

  // Whether the user asked to stop.
  bool Cancelled() const;
  // Stops the work at its next report (a newer request replaces it).
  void Cancel();
  // The progress window, once shown (null before).
  TProgressWindow* Window() const { return FWindow.get(); }
  // The indicator of work in place, once shown (null before).
  TBusyIndicator* Indicator() const { return FIndicator; }
  // The currently running busy work of the process (the innermost), or null.
  static TBusyWork* Current();

  // How long work runs before its window or indicator shows (150 ms; tests set 0).
  static int DelayMs();
  static void SetDelayMs(int Ms);
  // Runs each time a progress window has just been shown, before the work goes on (tests look
  // at it and cancel from there); empty removes it.
  static void SetOnWindowShown(std::function<void(TProgressWindow&)> Hook);
  // The same for the indicator of work in place.
  static void SetOnIndicatorShown(std::function<void(TBusyIndicator&)> Hook);

 protected:
  // Work in place: sorts the form's input into what goes in now and what waits for the end.
  bool eventFilter(QObject* Watched, QEvent* E) override;

 private:
  bool Report(const TProgress& P);
  void ShowIndicator();
  // Stops the painting of the form's data views until the work ends.
  void FreezeViews();
  QPointer<QWidget> FForm;  // the parent's window
  QPointer<QWidget> FLive;
  TProgressHandler FPrevious;
  TBusyWork* FOuter;
  std::chrono::steady_clock::time_point FStart;
  std::unique_ptr<TProgressWindow> FWindow;
  QPointer<TBusyIndicator> FIndicator;
  std::vector<QPointer<QWidget>> FFrozen;  // data views whose painting waits for the end
  bool FCancelled = false;
  bool FCursor = false;      // the busy cursor is shown (and goes with the work)
  bool FCloseAfter = false;  // the form was asked to close during the work
  // Input that came during work in place, for after it.
  std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> FDeferred;
};

}  // namespace kv
#pragma GCC visibility pop
