// The process-wide progress hook of long work.
#include "Progress.h"

#include <chrono>
#include <utility>

namespace kv {

namespace {
TProgressHandler& Handler() {
  static TProgressHandler H;
  return H;
}
std::chrono::steady_clock::time_point& LastReport() {
  static std::chrono::steady_clock::time_point T;
  return T;
}
}  // namespace

EAborted::EAborted() : Exception("Operación cancelada por el usuario") {}

bool IsStoreFailure(const std::exception& E) {
  const auto* F = dynamic_cast<const TStoreFailure*>(&E);
  return F && F->StoreFailed();
}

TProgressHandler SetProgressHandler(TProgressHandler H) {
  LastReport() = {};
  return std::exchange(Handler(), std::move(H));
}

bool ProgressHandled() {
  return static_cast<bool>(Handler());
}

void ReportProgress(const char* What, int64_t Done, int64_t Total) {
  TProgressHandler& H = Handler();
  if (!H) return;
  const auto Now = std::chrono::steady_clock::now();
  if (Now - LastReport() < std::chrono::milliseconds(20)) return;
  LastReport() = Now;
  if (!H(TProgress{What, Done, Total})) throw EAborted();
}

}  // namespace kv
