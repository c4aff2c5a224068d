// Offscreen Qt for the UI test programs: the offscreen platform unless another is chosen, with
// its notes on what it cannot do (raise a window, size hints) kept out of the output; everything
// else Qt says is kept.
#pragma once

#include <QtGlobal>
#include <cstdlib>

namespace formstest {

inline void QuietOffscreen(QtMsgType Type, const QMessageLogContext& Context, const QString& Msg) {
  if (Msg.startsWith("This plugin does not support")) return;
  qt_message_output(Type, Context, Msg);
}

// Call first in main, before the QApplication exists.
inline void UseOffscreenPlatform() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  qInstallMessageHandler(QuietOffscreen);
}

}  // namespace formstest
