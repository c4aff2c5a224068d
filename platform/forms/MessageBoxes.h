// Message boxes on Qt: the handler that shows the message service's boxes (ShowMessage: a plain
// box with one OK button and no icon; MessageDlg: the kind's icon and one OK button; modal, titled
// with the application's title, the detail under the details button), and the recorder that
// tests install instead so that no test ever blocks on a box.
#pragma once

#include <string>
#include <vector>

#include "Dialogs.h"

#pragma GCC visibility push(default)
namespace kv {

// Installs the Qt message boxes as the message service's handler (Application->Initialize does).
void InstallMessageBoxes();

// The Qt message handler itself, for callers that chain handlers.
void ShowQtMessageBox(const std::string& Msg, TMsgDlgType Kind, const std::string& Detail);

struct TRecordedMessage {
  std::string Msg;
  TMsgDlgType Kind = mtCustom;  // mtCustom for ShowMessage
  std::string Detail;
};

// Records every message instead of showing it, for as long as it lives; the previous handler
// comes back when it is destroyed. Not copyable.
class TMessageRecorder {
 public:
  TMessageRecorder();
  ~TMessageRecorder();
  TMessageRecorder(const TMessageRecorder&) = delete;
  TMessageRecorder& operator=(const TMessageRecorder&) = delete;
  const std::vector<TRecordedMessage>& Messages() const { return FMessages; }
  int Count() const { return static_cast<int>(FMessages.size()); }
  // The last message; raises Exception when none was recorded.
  const TRecordedMessage& Last() const;
  void Clear() { FMessages.clear(); }

 private:
  std::vector<TRecordedMessage> FMessages;
  TMessageHandler FPrevious;
};

}  // namespace kv
#pragma GCC visibility pop
