// The message service: message boxes raised by non-visual code. The UI installs a handler that
// shows real boxes, the command-line tool one that writes to standard error, tests one that
// records the texts. Without a handler, messages go to standard error.
#pragma once

#include <functional>
#include <string>

#pragma GCC visibility push(default)
namespace kv {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Receives a message: its text, its kind (mtCustom for a plain ShowMessage box) and an optional
// detail (the underlying cause, e.g. the system's error for a failed write; empty when none).
// A box shows the text as it stands and offers the detail apart (a details button); a console
// prints the detail on the next line.
using TMessageHandler =
    std::function<void(const std::string& Msg, TMsgDlgType Kind, const std::string& Detail)>;

// Installs Handler (an empty one restores the default) and returns the previous one.
TMessageHandler SetMessageHandler(TMessageHandler Handler);
// A plain message box.
void ShowMessage(const std::string& Msg, const std::string& Detail = {});
// A message box of the given kind with one OK button; returns the OK result (1).
int MessageDlg(const std::string& Msg, TMsgDlgType Kind, const std::string& Detail = {});

}  // namespace kv
#pragma GCC visibility pop
