// The busy cursor and the progress window of long work run from a form.
#include "BusyWork.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
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
  static int Ms = 150;
  return Ms;
}

std::function<void(TProgressWindow&)>& ShownHook() {
  static std::function<void(TProgressWindow&)> H;
  return H;
}

std::function<void(TBusyIndicator&)>& IndicatorHook() {
  static std::function<void(TBusyIndicator&)> H;
  return H;
}

TBusyWork*& Innermost() {
  static TBusyWork* W = nullptr;
  return W;
}

// Keys that edit the text of the control taking input during work in place; any other key
// (Enter, Tab, shortcuts, function keys) is meant for the form.
bool EditsText(const QKeyEvent& K) {
  if (K.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  switch (K.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
      return true;
    default:
      return !K.text().isEmpty() && K.text().at(0).isPrint();
  }
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

// --------------------------------------------------------------------------- the indicator

TBusyIndicator::TBusyIndicator(QWidget* Parent) : QFrame(Parent) {
  setObjectName("BusyIndicator");
  // Coloured as a tooltip: it floats over the form and covers part of it for a while.
  setFrameShape(QFrame::Box);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::ToolTipBase);
  setForegroundRole(QPalette::ToolTipText);
  auto* Layout = new QHBoxLayout(this);
  Layout->setContentsMargins(6, 3, 6, 3);
  FText = new QLabel(QStringLiteral("Buscando..."), this);
  FText->setObjectName("BusyText");
  FBar = new QProgressBar(this);
  FBar->setObjectName("BusyBar");
  FBar->setRange(0, 0);
  FBar->setTextVisible(false);
  FBar->setFixedWidth(80);
  FCancel = new QPushButton(QStringLiteral("Cancelar"), this);
  FCancel->setObjectName("BusyCancel");
  FCancel->setCursor(Qt::ArrowCursor);
  FCancel->setFocusPolicy(Qt::NoFocus);  // the typing goes on where it was
  Layout->addWidget(FText);
  Layout->addWidget(FBar);
  Layout->addWidget(FCancel);
  connect(FCancel, &QPushButton::clicked, this, [this] { Cancel(); });
}

void TBusyIndicator::Cancel() {
  FCancelled = true;
  FCancel->setEnabled(false);
  FText->setText(QStringLiteral("Cancelando..."));
}

// ------------------------------------------------------------------------ the busy work

TBusyWork::TBusyWork(QWidget* Parent, QWidget* Live)
    : FForm(Parent ? Parent->window() : nullptr),
      FLive(Live),
      FOuter(Innermost()),
      FStart(std::chrono::steady_clock::now()) {
  FPrevious = SetProgressHandler([this](const TProgress& P) { return Report(P); });
  Innermost() = this;
  if (FLive && FForm) {
    // The user goes on typing: the cursor changes only if the indicator shows.
    qApp->installEventFilter(this);
  } else {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    FCursor = true;
  }
}

TBusyWork::~TBusyWork() {
  qApp->removeEventFilter(this);
  Innermost() = FOuter;
  SetProgressHandler(std::move(FPrevious));
  for (const QPointer<QWidget>& V : FFrozen)
    if (V) V->setUpdatesEnabled(true);
  if (FWindow) FWindow->hide();
  FWindow.reset();
  delete FIndicator.data();
  if (FCursor) QApplication::restoreOverrideCursor();
  // What the user did meanwhile reaches the form now, outside the work.
  for (auto& [Receiver, Event] : FDeferred)
    if (Receiver) QCoreApplication::postEvent(Receiver, Event.release());
  if (FCloseAfter && FForm) QMetaObject::invokeMethod(FForm.data(), "close", Qt::QueuedConnection);
}

TBusyWork* TBusyWork::Current() {
  return Innermost();
}

bool TBusyWork::Cancelled() const {
  return FCancelled || (FWindow && FWindow->Cancelled()) || (FIndicator && FIndicator->Cancelled());
}

void TBusyWork::Cancel() {
  FCancelled = true;
  if (FIndicator) FIndicator->Cancel();
}

void TBusyWork::SetOnIndicatorShown(std::function<void(TBusyIndicator&)> Hook) {
  IndicatorHook() = std::move(Hook);
}

void TBusyWork::FreezeViews() {
  if (!FForm || !FFrozen.empty()) return;
  for (QAbstractItemView* V : FForm->findChildren<QAbstractItemView*>()) {
    if (!V->updatesEnabled()) continue;
    // The grid reads its cells from the dataset the work is using: it keeps its last picture.
    V->setUpdatesEnabled(false);
    FFrozen.emplace_back(V);
  }
  if (FFrozen.empty()) FFrozen.emplace_back(nullptr);  // looked once
}

void TBusyWork::ShowIndicator() {
  auto* I = new TBusyIndicator(FForm);
  FIndicator = I;
  I->adjustSize();
  // Just under the control being typed into, inside the form.
  QPoint At = FLive->mapTo(FForm, QPoint(0, FLive->height() + 2));
  At.setX(std::clamp(At.x(), 0, std::max(0, FForm->width() - I->width())));
  At.setY(std::clamp(At.y(), 0, std::max(0, FForm->height() - I->height())));
  I->move(At);
  I->raise();
  I->show();
  if (FCancelled) I->Cancel();
}

bool TBusyWork::eventFilter(QObject* Watched, QEvent* E) {
  if (!FForm || !Watched->isWidgetType()) return false;
  auto* W = static_cast<QWidget*>(Watched);
  if (W->window() != FForm) return false;
  if (FIndicator && (W == FIndicator || FIndicator->isAncestorOf(W))) return false;
  const bool InLive = FLive && (W == FLive || FLive->isAncestorOf(W));
  auto Defer = [&] {
    FDeferred.emplace_back(Watched, E->clone());
    Cancel();
    return true;
  };
  switch (E->type()) {
    case QEvent::Close:
      if (W != FForm) return false;
      // The form closes once the work has stopped.
      E->ignore();
      FCloseAfter = true;
      Cancel();
      return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      const auto* K = static_cast<QKeyEvent*>(E);
      if (K->key() == Qt::Key_Escape) {
        // Escape stops the work, not the form.
        if (E->type() == QEvent::KeyPress) Cancel();
        return true;
      }
      if (InLive && FDeferred.empty() && EditsText(*K)) return false;
      return Defer();
    }
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::InputMethod:
      if (InLive && FDeferred.empty()) return false;
      return Defer();
    case QEvent::MouseMove:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return !InLive;
    default:
      return false;
  }
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
  const bool Due = std::chrono::steady_clock::now() - FStart >= std::chrono::milliseconds(Delay());
  if (FLive && FForm) {
    // In place: the form answers from the first report; the indicator shows once the work lasts.
    FreezeViews();
    if (!FIndicator && Due) {
      ShowIndicator();
      QApplication::setOverrideCursor(Qt::BusyCursor);
      FCursor = true;
      if (IndicatorHook()) IndicatorHook()(*FIndicator);
    }
    // Once stopped, the form still paints while the work unwinds (a server ending a cancelled
    // statement); what the user does then waits in the queue for the form.
    QApplication::processEvents(
        Cancelled() ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents, 10);
    return !Cancelled();
  }
  if (!FWindow) {
    if (!Due) return true;
    FWindow = std::make_unique<TProgressWindow>(FForm);
    FreezeViews();
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
  return !Cancelled();
}

}  // namespace kv
