// The monkey tests' program: one offscreen Qt application for every test, the toolkit initialised
// as a program would, and a message recorder so that no box ever blocks.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>

#include "Forms.h"
#include "MessageBoxes.h"

using namespace kv;

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication App(argc, argv);
  Application->Initialize();
  TMessageRecorder Recorder;
  return RUN_ALL_TESTS();
}
