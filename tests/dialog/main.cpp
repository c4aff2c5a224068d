// The search-dialog tests' program: one offscreen Qt application for every test, the toolkit
// initialised as a program would, and a message recorder installed so that no box ever blocks.
#include <gtest/gtest.h>

#include <QApplication>

#include "DialogTestSupport.h"
#include "Forms.h"
#include "forms/OffscreenPlatform.h"

using namespace kv;

int main(int argc, char** argv) {
  formstest::UseOffscreenPlatform();
  ::testing::InitGoogleTest(&argc, argv);
  QApplication App(argc, argv);
  Application->Initialize();
  TMessageRecorder Recorder;
  dialogtest::Messages = &Recorder;
  const int Result = RUN_ALL_TESTS();
  dialogtest::RemoveDatabase();
  return Result;
}
