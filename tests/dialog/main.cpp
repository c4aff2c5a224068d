// The search-dialog tests' program: one offscreen Qt application for every test, the toolkit
// initialised as a program would, and a message recorder installed so that no box ever blocks.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "DialogTestSupport.h"
#include "Forms.h"

namespace {
void QuietOffscreen(QtMsgType Type, const QMessageLogContext& Context, const QString& Msg) {
  if (Msg.startsWith("This plugin does not support")) return;
  qt_message_output(Type, Context, Msg);
}
}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  qInstallMessageHandler(QuietOffscreen);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication App(argc, argv);
  Application->Initialize();
  TMessageRecorder Recorder;
  dialogtest::Messages = &Recorder;
  const int Result = RUN_ALL_TESTS();
  dialogtest::RemoveDatabase();
  return Result;
}
