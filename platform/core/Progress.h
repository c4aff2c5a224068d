// Long work (an export, a search, an order) reports how far it has come through one process-wide
// hook, so that a user interface can show it and let the user stop it. The work calls
// ReportProgress now and then (per chunk of rows, not per row); without a handler that costs a
// test of one pointer. A handler that answers false stops the work: ReportProgress then raises
// EAborted, which unwinds the work like any other failure (files written under a temporary name
// are removed, results put back as they were).
#pragma once

#include <cstdint>
#include <functional>

#include "SysUtils.h"

#pragma GCC visibility push(default)
namespace kv {

// The work was stopped by the user. Message: "Operación cancelada por el usuario".
class EAborted : public Exception {
 public:
  EAborted();
};

// Mixed into the exceptions of a store that can fail under the work for reasons of its own (a
// database server stopped, a session ended, a statement the server cancelled), as opposed to
// work refused for what the user asked: a form shows such a failure's own message, which names
// the store and what went wrong, instead of its answer to bad input.
class TStoreFailure {
 public:
  virtual ~TStoreFailure() = default;
  // Whether this failure is the store's (some exception classes carry both kinds).
  virtual bool StoreFailed() const { return true; }
};

// Whether E is a failure of the store (see TStoreFailure).
bool IsStoreFailure(const std::exception& E);

// How far a piece of work has come: Done of Total units (rows), Total -1 when not known.
struct TProgress {
  const char* What = "";  // what the work is, in Spanish ("Exportando", "Buscando", ...)
  int64_t Done = 0;
  int64_t Total = -1;
};

// Answers whether the work may go on. Runs on the thread doing the work.
using TProgressHandler = std::function<bool(const TProgress&)>;

// Installs Handler (an empty one removes it) and returns the previous one.
TProgressHandler SetProgressHandler(TProgressHandler Handler);
// Whether a handler is installed.
bool ProgressHandled();
// Tells the handler how far the work has come, at most about every 20 ms of the work; raises
// EAborted when the handler answers false.
void ReportProgress(const char* What, int64_t Done, int64_t Total = -1);

}  // namespace kv
#pragma GCC visibility pop
