// Message service: routes message boxes to the installed handler.
#include "Dialogs.h"

#include <cstdio>

namespace kv {

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

static void Deliver(const std::string& Msg, TMsgDlgType Kind, const std::string& Detail) {
  if (Handler()) {
    Handler()(Msg, Kind, Detail);
  } else {
    std::fprintf(stderr, "%s\n", Msg.c_str());
    if (!Detail.empty()) std::fprintf(stderr, "%s\n", Detail.c_str());
  }
}

void ShowMessage(const std::string& Msg, const std::string& Detail) {
  Deliver(Msg, mtCustom, Detail);
}

int MessageDlg(const std::string& Msg, TMsgDlgType Kind, const std::string& Detail) {
  Deliver(Msg, Kind, Detail);
  return 1;
}

}  // namespace kv
