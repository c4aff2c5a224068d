// TScopeExit: puts state back when a scope ends, however it ends (a return or an exception), so
// that a routine which changes something for a while says once what undoes it.
#pragma once

#include <utility>

namespace kv {

template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F Undo) : FUndo(std::move(Undo)) {}
  // Runs the undo step unless it already ran; an exception it raises on the way out of a failed
  // scope is dropped, as the scope's own error is the one to report.
  ~TScopeExit() {
    if (!FDone) try {
        FUndo();
      } catch (...) {
      }
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  // Runs the undo step now, letting its errors through (the scope ended normally).
  void Run() {
    FDone = true;
    FUndo();
  }

 private:
  F FUndo;
  bool FDone = false;
};

}  // namespace kv
