// The form tests' program: one offscreen Qt application for every test, the toolkit initialised
// as a program would, and a message recorder installed so that no test ever blocks on a box.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "Forms.h"
#include "MessageBoxes.h"

namespace {
// The offscreen platform's notes on what it cannot do (raise a window, size hints) say nothing
// about the toolkit; everything else Qt says is kept.
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
  TMessageRecorder Messages;
  return RUN_ALL_TESTS();
}
