// Helpers for the command-line tool tests: running a built program as a child process with its
// output captured, a scratch folder per test, and the sample database generated once per run.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace tooltest {

namespace fs = std::filesystem;

inline const std::string GensamplePath = KV_BINARY_DIR "/demo/gensample";
inline const std::string KvsearchPath = KV_BINARY_DIR "/tools/kvsearch/kvsearch";

struct TRunResult {
  int Status = -1;  // exit status; -1 when the program did not exit normally
  std::string Out, Err;
  // Standard output split into lines (without their line breaks).
  std::vector<std::string> Lines() const {
    std::vector<std::string> L;
    std::istringstream In(Out);
    for (std::string S; std::getline(In, S);) {
      if (!S.empty() && S.back() == '\r') S.pop_back();
      L.push_back(S);
    }
    return L;
  }
};

inline std::string ReadFile(const fs::path& P) {
  std::ifstream In(P, std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

// A folder of its own for the running test, removed afterwards.
class TScratch {
 public:
  TScratch() {
    const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string Name =
        "kvtools-" + std::to_string(getpid()) + "-" + Info->test_suite_name() + "-" + Info->name();
    for (char& C : Name)
      if (C == '/') C = '_';  // parameterized tests have slashes in their names
    Dir = fs::temp_directory_path() / Name;
    fs::remove_all(Dir);
    fs::create_directories(Dir);
  }
  ~TScratch() { fs::remove_all(Dir); }
  fs::path Dir;
};

// Runs Program with Args, no shell involved; its output goes to files of Scratch.
inline TRunResult RunProgram(const std::string& Program, const std::vector<std::string>& Args,
                             const fs::path& Scratch) {
  fs::path OutPath = Scratch / "stdout.txt", ErrPath = Scratch / "stderr.txt";
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 1, OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&Actions, 2, ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> All{Program};
  All.insert(All.end(), Args.begin(), Args.end());
  std::vector<char*> Argv;
  for (auto& A : All) Argv.push_back(A.data());
  Argv.push_back(nullptr);
  pid_t Pid = 0;
  TRunResult R;
  int Rc = posix_spawn(&Pid, Program.c_str(), &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Rc != 0) {
    R.Err = "cannot start " + Program;
    return R;
  }
  int WStatus = 0;
  waitpid(Pid, &WStatus, 0);
  if (WIFEXITED(WStatus)) R.Status = WEXITSTATUS(WStatus);
  R.Out = ReadFile(OutPath);
  R.Err = ReadFile(ErrPath);
  return R;
}

// The default-size sample database, generated once per test process.
inline const fs::path& SampleDb() {
  static const fs::path Dir = [] {
    fs::path D = fs::temp_directory_path() / ("kvtools-sample-" + std::to_string(getpid()));
    fs::remove_all(D);
    fs::create_directories(D);
    TRunResult R = RunProgram(GensamplePath, {"--out", D.string()}, D);
    if (R.Status != 0) ADD_FAILURE() << "gensample failed: " << R.Err;
    fs::remove(D / "stdout.txt");
    fs::remove(D / "stderr.txt");
    return D;
  }();
  static const struct TCleanup {
    ~TCleanup() { fs::remove_all(Dir); }
  } Cleanup;
  return Dir;
}

}  // namespace tooltest
