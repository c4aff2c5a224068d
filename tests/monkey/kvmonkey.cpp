// kvmonkey: the monkey run long from the command line (./run monkey [ACTIONS] [SEED]), or a
// replay list run again (kvmonkey --replay FILE). Draws offscreen unless a display is named.
#include <stdlib.h>

#include <QApplication>
#include <cstdio>

#include "Forms.h"
#include "MessageBoxes.h"
#include "Monkey.h"

using namespace kv;

int main(int Argc, char** Argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication App(Argc, Argv);
  Application->Initialize();
  // No box ever waits for a person: every message is recorded (and checked by the monkey).
  TMessageRecorder Recorder;
  try {
    return monkey::MonkeyMain(Argc, Argv, KV_BINARY_DIR "/demo/gensample");
  } catch (const std::exception& E) {
    fprintf(stderr, "kvmonkey: %s\n", E.what());
    return 2;
  }
}
