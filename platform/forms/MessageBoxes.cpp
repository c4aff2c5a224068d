// The Qt message boxes behind the message service, and the recording handler of tests.
#include "MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>

#include "Controls.h"
#include "Forms.h"
#include "SysUtils.h"

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
  if (!Detail.empty()) Box.setDetailedText(QStr(Detail));
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
