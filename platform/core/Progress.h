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
