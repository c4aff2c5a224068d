// TBusyWork: what a form shows while long work runs in one of its handlers (a search, an order,
// an export). A busy cursor from the start; once the work has lasted DelayMs and reports how far
// it has come (ReportProgress), a window over the form with what it is doing, a bar of the
// records done and "Cancelar". From then on each report lets the toolkit handle its events, so
// the window paints and answers between two reports; the form under it stays still (it neither
// takes input nor paints a half-built result). "Cancelar", Escape or closing the window stops
// the work at its next report: ReportProgress raises EAborted, which the handler catches to put
// things back as they were.
#pragma once

#include <QDialog>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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

// The text of a report: what, then the records done (and of how many) when there are any.
std::string ProgressText(const TProgress& P);

class TBusyWork {
 public:
  // Parent: the form the work runs for (the window shows over it). Installs itself as the
  // progress handler until it ends, then puts the previous one back.
  explicit TBusyWork(QWidget* Parent);
  ~TBusyWork();
  TBusyWork(const TBusyWork&) = delete;
  TBusyWork& operator=(const TBusyWork&) = delete;

  // Whether the user asked to stop.
  bool Cancelled() const;
  // The progress window, once shown (null before).
  TProgressWindow* Window() const { return FWindow.get(); }
  // The currently running busy work of the process (the innermost), or null.
  static TBusyWork* Current();

  // How long work runs before its window shows (300 ms; tests set 0).
  static int DelayMs();
  static void SetDelayMs(int Ms);
  // Runs each time a progress window has just been shown, before the work goes on (tests look
  // at it and cancel from there); empty removes it.
  static void SetOnWindowShown(std::function<void(TProgressWindow&)> Hook);

 private:
  bool Report(const TProgress& P);
  QPointer<QWidget> FParent;
  TProgressHandler FPrevious;
  TBusyWork* FOuter;
  std::chrono::steady_clock::time_point FStart;
  std::unique_ptr<TProgressWindow> FWindow;
  bool FFrozen = false;  // the parent's painting stopped while the window shows
};

}  // namespace kv
#pragma GCC visibility pop
