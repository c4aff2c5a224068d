// Message service: routes message boxes to the installed handler.
#include "core/Dialogs.h"

#include <cstdio>

namespace {
TMessageHandler& Handler() {
  static TMessageHandler H;
  return H;
}
}  // namespace

TMessageHandler SetMessageHandler(TMessageHandler H) {
  TMessageHandler Old = std::move(Handler());
  Handler() = std::move(H);
  return Old;
}

static void Deliver(const std::string& Msg, TMsgDlgType Kind) {
  if (Handler()) {
    Handler()(Msg, Kind);
  } else {
    std::fprintf(stderr, "%s\n", Msg.c_str());
  }
}

void ShowMessage(const std::string& Msg) { Deliver(Msg, mtCustom); }

int MessageDlg(const std::string& Msg, TMsgDlgType Kind) {
  Deliver(Msg, Kind);
  return 1;
}
