// Helpers for the table-file tests: a scratch directory, a table holding every field type,
// comparison of stores, and running the independent Python readers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include "DateTime.h"
#include "TableStore.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>

#include "Variant.h"

using namespace kv;

// A fresh directory per test, removed afterwards.
class TScratchDir {
 public:
  TScratchDir();
  ~TScratchDir();
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& Name) const { return FPath + "/" + Name; }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string FPath;
};

// Limits the size of the files this process writes, for its lifetime: writes beyond it fail as
// on a full disk, also for the superuser (who may write anywhere else).
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t Bytes) {
    ::getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Limit = FOld;
    Limit.rlim_cur = Bytes;
    ::setrlimit(RLIMIT_FSIZE, &Limit);
  }
  ~TFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit FOld{};
  void (*FOldHandler)(int) = SIG_DFL;
};

inline std::string ReadFileBytes(const std::string& Path);
inline void WriteFileBytes(const std::string& Path, const std::string& Bytes);

inline double DateOfYmd(int Y, int M, int D);
inline double TimeOfHms(int H, int M, int S, int Ms = 0);

// A table with one column of each type (Name, Short, Long, Num, Money, Flag, Day, Clock, Stamp,
// Seq, Notes), accented text, extreme values and a row of empty values.
inline TTableStore AllTypesTable();

// Expects B to hold the same columns (names, types) and values as A; TypeOf maps A's type to
// the type B must have, TextOf (when set) gives the text B holds for a value A holds as a
// non-text type.
inline void ExpectSameTable(const TTableStore& A, const TTableStore& B,
                            TFieldType (*TypeOf)(TFieldType) = nullptr,
                            std::string (*TextOf)(const TColumn& Col, size_t Row) = nullptr);

// The value of a cell in the canonical text the Python dump scripts print: null, true/false,
// integers, %.17g floats, ISO dates, times as hh:mm:ss[.zzz], text as is.
inline std::string CanonicalCell(const TColumn& Col, size_t Row);

// Runs the system Python with a script of tests/io and returns its standard output; fails the
// test when the script fails.
inline std::string RunPythonScript(const std::string& Script, const std::vector<std::string>& Args);

// ---------------------------------------------------------------- implementation

inline TScratchDir::TScratchDir() {
  std::string Templ = (std::filesystem::temp_directory_path() / "kvio_test_XXXXXX").string();
  std::vector<char> Buf(Templ.begin(), Templ.end());
  Buf.push_back('\0');
  if (!::mkdtemp(Buf.data())) throw std::runtime_error("mkdtemp");
  FPath = Buf.data();
}

inline TScratchDir::~TScratchDir() {
  std::error_code Ec;
  std::filesystem::permissions(FPath, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, Ec);
  std::filesystem::remove_all(FPath, Ec);
}

inline std::vector<std::string> TScratchDir::Entries() const {
  std::vector<std::string> R;
  for (const auto& E : std::filesystem::directory_iterator(FPath))
    R.push_back(E.path().filename().string());
  std::sort(R.begin(), R.end());
  return R;
}

inline std::string ReadFileBytes(const std::string& Path) {
  std::ifstream F(Path, std::ios::binary);
  std::ostringstream S;
  S << F.rdbuf();
  return S.str();
}

inline void WriteFileBytes(const std::string& Path, const std::string& Bytes) {
  std::ofstream F(Path, std::ios::binary | std::ios::trunc);
  F << Bytes;
}

inline double DateOfYmd(int Y, int M, int D) {
  return EncodeDate(Y, M, D).Val;
}
inline double TimeOfHms(int H, int M, int S, int Ms) {
  return EncodeTime(H, M, S, Ms).Val;
}

inline TTableStore AllTypesTable() {
  TTableStore T;
  T.AddColumn({"Name", ftString, 30, false});
  T.AddColumn({"Short", ftSmallint, 0, false});
  T.AddColumn({"Long", ftInteger, 0, false});
  T.AddColumn({"Num", ftFloat, 0, false});
  T.AddColumn({"Money", ftCurrency, 0, false});
  T.AddColumn({"Flag", ftBoolean, 0, false});
  T.AddColumn({"Day", ftDate, 0, false});
  T.AddColumn({"Clock", ftTime, 0, false});
  T.AddColumn({"Stamp", ftDateTime, 0, false});
  T.AddColumn({"Seq", ftAutoInc, 0, false});
  T.AddColumn({"Notes", ftMemo, 0, false});
  auto Row = [&](const char* Name, Variant Short, Variant Long, Variant Num, Variant Money,
                 Variant Flag, Variant Day, Variant Clock, Variant Stamp, Variant Seq,
                 const char* Notes) {
    T.AppendRow({Name ? Variant(Name) : Null(), Short, Long, Num, Money, Flag, Day, Clock, Stamp,
                 Seq, Notes ? Variant(Notes) : Null()});
  };
  Row("Ángel Muñoz Peña", -3, 123456, -2.5, Variant::Currency(10.25), true,
      TDateTime(DateOfYmd(2000, 1, 2)), TDateTime(TimeOfHms(1, 0, 0)),
      TDateTime(DateOfYmd(2000, 1, 2) + TimeOfHms(0, 0, 1)), 1, "Línea con acentos: áéíóú ñ ¿?");
  Row(nullptr, Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), Null(), nullptr);
  Row("O'Brien \"el grande\", S.L.", 32767, 2147483647, 1e-5, Variant::Currency(0.0), false,
      TDateTime(DateOfYmd(1899, 12, 30)), TDateTime(TimeOfHms(23, 59, 59)),
      TDateTime(DateOfYmd(1970, 1, 1) + TimeOfHms(12, 30, 45)), 2, "çà€ y más");
  Row("Zoë", -32767, -2147483647, 3.14159265358979, Variant::Currency(-1234.5678), false,
      TDateTime(DateOfYmd(1, 1, 1)), TDateTime(TimeOfHms(0, 0, 0)),
      TDateTime(DateOfYmd(9999, 12, 31) + TimeOfHms(23, 59, 59)), 3, "x");
  Row("Ñandú", 0, 0, 12345.125, Variant::Currency(99999999.9999), true,
      TDateTime(DateOfYmd(2024, 2, 29)), TDateTime(TimeOfHms(12, 0, 0)),
      ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0)), 4, nullptr);
  T.PrimaryKey = {"Name"};
  return T;
}

inline void ExpectSameTable(const TTableStore& A, const TTableStore& B,
                            TFieldType (*TypeOf)(TFieldType),
                            std::string (*TextOf)(const TColumn& Col, size_t Row)) {
  ASSERT_EQ(A.Defs.size(), B.Defs.size());
  ASSERT_EQ(A.RowCount(), B.RowCount());
  for (size_t C = 0; C < A.Defs.size(); ++C) {
    const TColumn& Ca = A.Columns[C];
    const TColumn& Cb = B.Columns[C];
    EXPECT_EQ(A.Defs[C].Name, B.Defs[C].Name);
    TFieldType Want = TypeOf ? TypeOf(Ca.Type()) : Ca.Type();
    EXPECT_EQ(Want, Cb.Type()) << A.Defs[C].Name;
    if (Want != Cb.Type()) continue;
    for (size_t R = 0; R < A.RowCount(); ++R) {
      if (Cb.Type() != Ca.Type() && Cb.Kind() == TStorageKind::String && TextOf) {
        EXPECT_EQ(Ca.IsNull(R) ? std::string() : TextOf(Ca, R), std::string(Cb.Str(R)))
            << A.Defs[C].Name << " row " << R;
        continue;
      }
      EXPECT_EQ(CanonicalCell(Ca, R), CanonicalCell(Cb, R)) << A.Defs[C].Name << " row " << R;
    }
  }
}

inline std::string CanonicalCell(const TColumn& Col, size_t Row) {
  if (Col.IsNull(Row)) return "null";
  char Buf[64];
  switch (Col.Type()) {
    case ftBoolean:
      return Col.Int(Row) ? "true" : "false";
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return std::to_string(Col.Int(Row));
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      std::snprintf(Buf, sizeof Buf, "%.17g", Col.Double(Row));
      return Buf;
    case ftDate:
    case ftTime:
    case ftDateTime: {
      int64_t Days, Ms;
      SplitDateTime(TDateTime(Col.Double(Row)), Days, Ms);
      int Y, M, D, H, N, S, Z;
      DateOfDayNumber(Days, Y, M, D);
      H = int(Ms / 3600000), N = int(Ms / 60000 % 60), S = int(Ms / 1000 % 60), Z = int(Ms % 1000);
      int Len = 0;
      if (Col.Type() == ftDate)
        Len = std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d", Y, M, D);
      else if (Col.Type() == ftTime)
        Len = std::snprintf(Buf, sizeof Buf, "%02d:%02d:%02d", H, N, S);
      else
        Len = std::snprintf(Buf, sizeof Buf, "%04d-%02d-%02d %02d:%02d:%02d", Y, M, D, H, N, S);
      if (Col.Type() != ftDate && Z) std::snprintf(Buf + Len, sizeof Buf - Len, ".%03d", Z);
      return Buf;
    }
    default:
      return std::string(Col.Str(Row));
  }
}

inline std::string RunPythonScript(const std::string& Script,
                                   const std::vector<std::string>& Args) {
  // The system interpreter is the one the distribution's packages (dbfread) belong to.
  std::string Python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  std::string Cmd = Python + " '" + std::string(KV_SOURCE_DIR) + "/tests/io/" + Script + "'";
  for (const auto& A : Args) Cmd += " '" + A + "'";
  Cmd += " 2>&1";
  FILE* P = ::popen(Cmd.c_str(), "r");
  if (!P) {
    ADD_FAILURE() << "cannot run " << Cmd;
    return {};
  }
  std::string Out;
  std::array<char, 4096> Buf;
  size_t N;
  while ((N = fread(Buf.data(), 1, Buf.size(), P)) > 0) Out.append(Buf.data(), N);
  int Status = ::pclose(P);
  EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Cmd << "\n" << Out;
  return Out;
}

// Each file of the folder with its size and hash (FNV-1a), a line each: what a test compares to
// say that files were written byte for byte as before.
inline std::string FolderHashes(const TScratchDir& Dir) {
  std::string S;
  for (const auto& Name : Dir.Entries()) {
    const std::string B = ReadFileBytes(Dir.File(Name));
    uint64_t H = 1469598103934665603ull;
    for (unsigned char C : B) H = (H ^ C) * 1099511628211ull;
    char Line[128];
    std::snprintf(Line, sizeof Line, "%s %zu %016llx\n", Name.c_str(), B.size(),
                  static_cast<unsigned long long>(H));
    S += Line;
  }
  return S;
}
