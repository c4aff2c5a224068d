// The Qt message boxes behind the message service, and the recording handler of tests.
#include "MessageBoxes.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <cstdio>

#include "Controls.h"
#include "Forms.h"
#include "SysUtils.h"

namespace kv {

namespace {
QMessageBox::Icon IconOf(TMsgDlgType Kind) {
  switch (Kind) {
    case mtError:
      return QMessageBox::Critical;
    case mtWarning:
      return QMessageBox::Warning;
    case mtInformation:
      return QMessageBox::Information;
    case mtConfirmation:
      return QMessageBox::Question;
    case mtCustom:
      break;
  }
  return QMessageBox::NoIcon;
}
// A box is as narrow as its text; a title bar that narrow elides the title. The box is made wide
// enough for the title and the title bar's buttons.
void KeepTitleWhole(QMessageBox& Box) {
  auto* Layout = qobject_cast<QGridLayout*>(Box.layout());
  if (!Layout) return;
  QFont TitleFont = QApplication::font("QMdiSubWindowTitleBar");
  TitleFont.setBold(true);
  const int Width = QFontMetrics(TitleFont).horizontalAdvance(Box.windowTitle()) + 160;
  Layout->addItem(new QSpacerItem(Width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                  Layout->rowCount(), 0, 1, Layout->columnCount());
}
}  // namespace

void ShowQtMessageBox(const std::string& Msg, TMsgDlgType Kind, const std::string& Detail) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    // No widgets to show a box with: the message goes where the console handler puts it.
    std::fprintf(stderr, "%s\n", Msg.c_str());
    if (!Detail.empty()) std::fprintf(stderr, "%s\n", Detail.c_str());
    return;
  }
  QWidget* Parent = QApplication::activeModalWidget();
  if (!Parent) Parent = QApplication::activeWindow();
  QMessageBox Box(IconOf(Kind), QStr(Application->Title()), QStr(Msg), QMessageBox::Ok, Parent);
  Box.setTextFormat(Qt::PlainText);
  KeepTitleWhole(Box);
  if (!Detail.empty()) Box.setDetailedText(QStr(Detail));
  // A box raised from long work (an export that fails, under its busy cursor) waits for the
  // user: it shows the arrow, and the work's cursor comes back when it closes.
  struct TArrowWhileShown {
    const bool Busy = QApplication::overrideCursor() != nullptr;
    TArrowWhileShown() {
      if (Busy) QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~TArrowWhileShown() {
      if (Busy) QApplication::restoreOverrideCursor();
    }
  } Arrow;
  Box.exec();
}

void InstallMessageBoxes() {
  SetMessageHandler(ShowQtMessageBox);
}

TMessageRecorder::TMessageRecorder() {
  FPrevious = SetMessageHandler(
      [this](const std::string& Msg, TMsgDlgType Kind, const std::string& Detail) {
        FMessages.push_back({Msg, Kind, Detail});
      });
}

TMessageRecorder::~TMessageRecorder() {
  SetMessageHandler(std::move(FPrevious));
}

const TRecordedMessage& TMessageRecorder::Last() const {
  if (FMessages.empty()) throw Exception("No se ha registrado ningún mensaje");
  return FMessages.back();
}

}  // namespace kv
