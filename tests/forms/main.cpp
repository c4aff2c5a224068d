// The form tests' program: one offscreen Qt application for every test, the toolkit initialised
// as a program would, and a message recorder installed so that no test ever blocks on a box.
#include <gtest/gtest.h>

#include <QApplication>

#include "Forms.h"
#include "MessageBoxes.h"
#include "forms/OffscreenPlatform.h"

using namespace kv;

int main(int argc, char** argv) {
  formstest::UseOffscreenPlatform();
  ::testing::InitGoogleTest(&argc, argv);
  QApplication App(argc, argv);
  Application->Initialize();
  TMessageRecorder Messages;
  return RUN_ALL_TESTS();
}
