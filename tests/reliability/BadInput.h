// Helpers of the bad-input tests: a scratch directory, whole-file bytes, and the check that an
// operation ends either normally or in one of our exceptions whose message names the culprit.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "DB.h"
#include "SysUtils.h"

using namespace kv;

// A fresh directory per test, removed afterwards.
class TBadInputDir {
 public:
  TBadInputDir() {
    std::string Templ = (std::filesystem::temp_directory_path() / "kvbad_XXXXXX").string();
    std::vector<char> Buf(Templ.begin(), Templ.end());
    Buf.push_back('\0');
    if (!::mkdtemp(Buf.data())) throw std::runtime_error("mkdtemp");
    FPath = Buf.data();
  }
  ~TBadInputDir() {
    std::error_code Ec;
    std::filesystem::remove_all(FPath, Ec);
  }
  TBadInputDir(const TBadInputDir&) = delete;
  TBadInputDir& operator=(const TBadInputDir&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return FPath + "/" + Name; }

 private:
  std::string FPath;
};

inline std::string FileBytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::ostringstream S;
  S << F.rdbuf();
  return S.str();
}

inline void PutFileBytes(const std::string& Path, const std::string& Bytes) {
  std::ofstream F(Path, std::ios::binary | std::ios::trunc);
  F << Bytes;
}

// The message of the Exception Fn raises; "" when it returns normally. Any other exception
// type fails the test: bad input must end in one of ours, with a message.
inline std::string ErrorOf(const std::function<void()>& Fn) {
  try {
    Fn();
  } catch (const Exception& E) {
    EXPECT_FALSE(E.Message().empty());
    return E.Message();
  } catch (const std::exception& E) {
    ADD_FAILURE() << "foreign exception: " << E.what();
    return E.what();
  }
  return "";
}

// Runs Fn, which must raise an Exception whose message contains every one of Parts.
inline void ExpectErrorNaming(const std::function<void()>& Fn,
                              const std::vector<std::string>& Parts,
                              const std::string& Context = "") {
  const std::string M = ErrorOf(Fn);
  ASSERT_FALSE(M.empty()) << Context << ": no error";
  for (const auto& P : Parts) EXPECT_NE(M.find(P), std::string::npos) << Context << ": " << M;
}
