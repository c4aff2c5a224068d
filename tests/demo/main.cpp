// The demo tests' program: one offscreen Qt application, the toolkit initialised as the demo
// initialises it, a message recorder so that no test blocks on a box, and DBDEMOS naming a
// sample database generated for this run (set before anything reads the aliases).
#include <gtest/gtest.h>

#include <QApplication>

#include "DialogTestSupport.h"
#include "Forms.h"
#include "MessageBoxes.h"
#include "forms/OffscreenPlatform.h"
#include "tools/ToolTestUtil.h"

using namespace kv;

namespace {

class TSampleDatabase : public ::testing::Environment {
 public:
  void SetUp() override {
    const std::string Dir = tooltest::SampleDb().string();
    setenv("KV_ALIASES", ("DBDEMOS=" + Dir).c_str(), 1);
  }
};

}  // namespace

int main(int argc, char** argv) {
  formstest::UseOffscreenPlatform();
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
