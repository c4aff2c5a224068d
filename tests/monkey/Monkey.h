// The monkey: a seeded generator of user actions over TSearchDialog on the sample database, and
// the checks run after every action. Actions are lines of text ("click BTFiltrarY", "cell 3 2
// ctrl", "type ETValor \"Ana\""), so a failing run prints the list that replays it and a fault
// stays as a short replay list in the regression tests.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace kv {
class TSearchDialogBox;
}  // namespace kv

using namespace kv;

namespace monkey {

// One user action: a verb and its arguments.
struct TAction {
  std::string Verb;
  std::vector<std::string> Args;
};

// The action as one line: the verb, then each argument bare when it is a plain word, else in
// double quotes with C escapes; a long text made of one repeated piece is written "piece"*N.
std::string FormatAction(const TAction& A);
// Reads a line written by FormatAction; raises Exception for a malformed line.
TAction ParseAction(const std::string& Line);

// splitmix64: the same sequence on every machine and library, so a seed replays anywhere.
class TRandom {
 public:
  explicit TRandom(uint64_t Seed) : FState(Seed) {}
  uint64_t Next();
  // A whole number in [0, N) (0 when N <= 0).
  int Below(int N);
  // True with the given chance in percent.
  bool Chance(int Percent) { return Below(100) < Percent; }

 private:
  uint64_t FState;
};

// How a run ended: Ok, or the broken check (a short name such as "counter"), what was seen, and
// the actions done up to and including the one after which the check failed.
struct TResult {
  bool Ok = true;
  std::string Check;
  std::string Detail;
  std::vector<std::string> Actions;
  int Sessions = 0;  // search forms shown
};

class TWorld;

class TMonkey {
 public:
  // Writes the sample database (with the gensample program at GensamplePath) and the monkey's
  // own table of odd values into a fresh temporary folder, removed with the monkey.
  explicit TMonkey(const std::string& GensamplePath);
  ~TMonkey();
  TMonkey(const TMonkey&) = delete;
  TMonkey& operator=(const TMonkey&) = delete;

  // Generates Actions actions from Seed over a fresh set of datasets and dialogs; stops at the
  // first broken check. Each action is written to Journal (when given) before it runs, so a
  // crash leaves the replay behind.
  TResult Run(uint64_t Seed, int Actions, std::ostream* Journal = nullptr);
  // Runs a list of action lines over a fresh set of datasets and dialogs.
  TResult Replay(const std::vector<std::string>& Lines);
  // A shorter list that still breaks the same check as Failed (Failed itself when none is
  // found); at most Budget replays are tried.
  std::vector<std::string> Shrink(const TResult& Failed, int Budget = 300);

  // For the monkey's own tests: runs after every action on the open search form (to plant a
  // fault the checks must see).
  std::function<void(TSearchDialogBox& Form, int Action)> AfterAction;

  const std::string& Folder() const { return FFolder; }

 private:
  std::string FFolder;
};

// Runs a monkey from the command line: [ACTIONS] [SEED], or --replay FILE. Prints the failure,
// the replay list and a shortened one; returns the process's exit status.
int MonkeyMain(int Argc, char** Argv, const std::string& GensamplePath);

}  // namespace monkey
