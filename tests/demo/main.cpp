// The demo tests' program: one offscreen Qt application, the toolkit initialised as the demo
// initialises it, a message recorder so that no test blocks on a box, and DBDEMOS naming a
// sample database generated for this run (set before anything reads the aliases).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "DialogTestSupport.h"
#include "Forms.h"
#include "MessageBoxes.h"
#include "tools/ToolTestUtil.h"

namespace {

class TSampleDatabase : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string Dir = tooltest::SampleDb().string();
    setenv("KV_ALIASES", ("DBDEMOS=" + Dir).c_str(), 1);
  }
};

void QuietOffscreen(QtMsgType Type, const QMessageLogContext& Context, const QString& Msg) {
  if (Msg.startsWith("This plugin does not support")) return;
  qt_message_output(Type, Context, Msg);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  qInstallMessageHandler(QuietOffscreen);
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new TSampleDatabase);
  QApplication App(argc, argv);
  Application->Initialize();
  TMessageRecorder Messages;
  dialogtest::Messages = &Messages;
  const int Result = RUN_ALL_TESTS();
  dialogtest::RemoveDatabase();
  return Result;
}
