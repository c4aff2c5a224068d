// The busy cursor and the progress window of long work run from a form.
#include "BusyWork.h"

#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "Controls.h"
#include "Forms.h"

namespace kv {

namespace {

int& Delay() {
  static int Ms = 300;
  return Ms;
}

std::function<void(TProgressWindow&)>& ShownHook() {
  static std::function<void(TProgressWindow&)> H;
  return H;
}

TBusyWork*& Innermost() {
  static TBusyWork* W = nullptr;
  return W;
}

// A count with a point between thousands: 1234567 gives "1.234.567".
std::string Grouped(int64_t N) {
  std::string Digits = std::to_string(N < 0 ? -N : N), Out;
  for (size_t I = 0; I < Digits.size(); ++I) {
    if (I > 0 && (Digits.size() - I) % 3 == 0) Out += '.';
    Out += Digits[I];
  }
  return (N < 0 ? "-" : "") + Out;
}

}  // namespace

std::string ProgressText(const TProgress& P) {
  std::string T = P.What && *P.What ? P.What : "Trabajando";
  if (P.Done <= 0 && P.Total < 0) return T + "...";
  T += ": " + Grouped(std::max<int64_t>(P.Done, 0));
  if (P.Total >= 0) T += " de " + Grouped(P.Total);
  return T + " registros";
}

// ------------------------------------------------------------------------- the window

TProgressWindow::TProgressWindow(QWidget* Parent) : QDialog(Parent) {
  setObjectName("ProgressWindow");
  setWindowTitle(QStr(Application ? Application->Title() : std::string()));
  // Over everything of the program: nothing else takes input while the work runs.
  setWindowModality(Qt::ApplicationModal);
  auto* Layout = new QVBoxLayout(this);
  FText = new QLabel(this);
  FText->setObjectName("ProgressText");
  FText->setMinimumWidth(360);
  FBar = new QProgressBar(this);
  FBar->setObjectName("ProgressBar");
  FBar->setRange(0, 0);
  FCancel = new QPushButton(QStringLiteral("Cancelar"), this);
  FCancel->setObjectName("ProgressCancel");
  FCancel->setDefault(true);
  // An arrow over the button, whatever cursor the program shows while it is busy.
  FCancel->setCursor(Qt::ArrowCursor);
  auto* Buttons = new QHBoxLayout;
  Buttons->addStretch();
  Buttons->addWidget(FCancel);
  Layout->addWidget(FText);
  Layout->addWidget(FBar);
  Layout->addLayout(Buttons);
  connect(FCancel, &QPushButton::clicked, this, [this] { reject(); });
}

void TProgressWindow::Show(const TProgress& P) {
  FText->setText(QStr(ProgressText(P)));
  if (P.Total > 0) {
    // The bar counts in thousandths, so a count beyond an int's range still fits.
    FBar->setRange(0, 1000);
    FBar->setValue(static_cast<int>(std::clamp<int64_t>(P.Done * 1000 / P.Total, 0, 1000)));
  } else {
    FBar->setRange(0, 0);  // moving, without an end known
  }
}

void TProgressWindow::reject() {
  FCancelled = true;
  FCancel->setEnabled(false);
  FText->setText(QStringLiteral("Cancelando..."));
}

// ------------------------------------------------------------------------ the busy work

TBusyWork::TBusyWork(QWidget* Parent)
    : FParent(Parent), FOuter(Innermost()), FStart(std::chrono::steady_clock::now()) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  FPrevious = SetProgressHandler([this](const TProgress& P) { return Report(P); });
  Innermost() = this;
}

TBusyWork::~TBusyWork() {
  Innermost() = FOuter;
  SetProgressHandler(std::move(FPrevious));
  if (FFrozen && FParent) FParent->setUpdatesEnabled(true);
  if (FWindow) FWindow->hide();
  FWindow.reset();
  QApplication::restoreOverrideCursor();
}

TBusyWork* TBusyWork::Current() {
  return Innermost();
}

bool TBusyWork::Cancelled() const {
  return FWindow && FWindow->Cancelled();
}

int TBusyWork::DelayMs() {
  return Delay();
}

void TBusyWork::SetDelayMs(int Ms) {
  Delay() = std::max(Ms, 0);
}

void TBusyWork::SetOnWindowShown(std::function<void(TProgressWindow&)> Hook) {
  ShownHook() = std::move(Hook);
}

bool TBusyWork::Report(const TProgress& P) {
  if (!FWindow) {
    if (std::chrono::steady_clock::now() - FStart < std::chrono::milliseconds(Delay())) return true;
    FWindow = std::make_unique<TProgressWindow>(FParent ? FParent->window() : nullptr);
    if (FParent) {
      // The form's result is half built while the work runs: it is not painted until the end.
      FParent->window()->setUpdatesEnabled(false);
      FParent = FParent->window();
      FFrozen = true;
    }
    // The busy cursor says the program works but still answers (the window does).
    QApplication::changeOverrideCursor(Qt::BusyCursor);
    FWindow->Show(P);
    FWindow->show();
    FWindow->raise();
    if (ShownHook()) ShownHook()(*FWindow);
  } else if (!FWindow->Cancelled()) {
    FWindow->Show(P);
  }
  QApplication::processEvents(QEventLoop::AllEvents, 10);
  return !FWindow->Cancelled();
}

}  // namespace kv
