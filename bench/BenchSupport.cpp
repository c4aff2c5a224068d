// Memory figures, the byte-scan floor, the SQLite copy of the data, peer processes and the
// summary lines of the benchmark program.
#include "BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "DB.h"
#include "SysUtils.h"

using namespace kv;

extern char** environ;

uint64_t ParseStatusBytes(std::string_view StatusText, std::string_view Key) {
  size_t Pos = 0;
  while (Pos < StatusText.size()) {
    size_t End = StatusText.find('\n', Pos);
    if (End == std::string_view::npos) End = StatusText.size();
    std::string_view Line = StatusText.substr(Pos, End - Pos);
    Pos = End + 1;
    if (Line.size() <= Key.size() || Line.substr(0, Key.size()) != Key || Line[Key.size()] != ':')
      continue;
    uint64_t Value = 0;
    bool Digits = false;
    size_t I = Key.size() + 1;
    while (I < Line.size() && (Line[I] == ' ' || Line[I] == '\t')) ++I;
    for (; I < Line.size() && Line[I] >= '0' && Line[I] <= '9'; ++I) {
      Value = Value * 10 + static_cast<uint64_t>(Line[I] - '0');
      Digits = true;
    }
    if (!Digits) return 0;
    std::string_view Unit = Line.substr(I);
    while (!Unit.empty() && Unit.front() == ' ') Unit.remove_prefix(1);
    if (Unit == "kB") return Value * 1024;
    if (Unit == "mB" || Unit == "MB") return Value * 1024 * 1024;
    return Value;
  }
  return 0;
}

uint64_t ProcessStatusBytes(std::string_view Key) {
  std::ifstream In("/proc/self/status");
  std::stringstream Text;
  Text << In.rdbuf();
  return ParseStatusBytes(Text.str(), Key);
}

std::string_view ColumnText(const TColumn& Column) {
  if (Column.Kind() != TStorageKind::String || Column.Size() == 0) return {};
  Column.Decode();  // whole, into one arena (not the chunks a first look decodes)
  // Values lie back to back in one arena, so the first value's start and the last value's end
  // delimit the whole text.
  const char* Begin = Column.Str(0).data();
  std::string_view Last = Column.Str(Column.Size() - 1);
  return std::string_view(Begin, static_cast<size_t>(Last.data() + Last.size() - Begin));
}

size_t CountOccurrences(std::string_view Text, std::string_view Needle) {
  if (Needle.empty()) return 0;
  size_t Count = 0;
  const char* P = Text.data();
  const char* End = Text.data() + Text.size();
  while (P < End) {
    const void* Hit = memmem(P, static_cast<size_t>(End - P), Needle.data(), Needle.size());
    if (!Hit) break;
    ++Count;
    P = static_cast<const char*>(Hit) + Needle.size();
  }
  return Count;
}

namespace {

struct TSqliteCloser {
  void operator()(sqlite3* Db) const { sqlite3_close(Db); }
};
struct TStmtFinalizer {
  void operator()(sqlite3_stmt* S) const { sqlite3_finalize(S); }
};
using TSqlitePtr = std::unique_ptr<sqlite3, TSqliteCloser>;
using TStmtPtr = std::unique_ptr<sqlite3_stmt, TStmtFinalizer>;

std::string Quoted(const std::string& Name) {
  std::string Out = "\"";
  for (char C : Name) {
    if (C == '"') Out += '"';
    Out += C;
  }
  return Out + "\"";
}

void Exec(sqlite3* Db, const std::string& Sql, const std::string& Path) {
  char* Err = nullptr;
  if (sqlite3_exec(Db, Sql.c_str(), nullptr, nullptr, &Err) != SQLITE_OK) {
    std::string Msg = Err ? Err : "error desconocido";
    sqlite3_free(Err);
    throw Exception("No se puede escribir '" + Path + "': " + Msg);
  }
}

}  // namespace

void WriteSqliteFile(const std::string& Path, const std::vector<TSqliteTable>& Tables) {
  std::remove(Path.c_str());
  sqlite3* Raw = nullptr;
  int Rc = sqlite3_open(Path.c_str(), &Raw);
  TSqlitePtr Db(Raw);
  if (Rc != SQLITE_OK)
    throw Exception("No se puede crear '" + Path +
                    "': " + (Raw ? sqlite3_errmsg(Raw) : "sin memoria"));
  Exec(Db.get(), "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN", Path);
  for (const TSqliteTable& T : Tables) {
    const TTableStore& S = *T.Store;
    std::string Create = "CREATE TABLE " + Quoted(T.Name) + " (";
    std::string Insert = "INSERT INTO " + Quoted(T.Name) + " VALUES (";
    for (size_t C = 0; C < S.Columns.size(); ++C) {
      const char* Type = "TEXT";
      if (S.Columns[C].Kind() == TStorageKind::Int) Type = "INTEGER";
      if (S.Columns[C].Kind() == TStorageKind::Double) Type = "REAL";
      Create += (C ? ", " : "") + Quoted(S.Defs[C].Name) + " " + Type;
      Insert += C ? ", ?" : "?";
    }
    Exec(Db.get(), Create + ")", Path);
    sqlite3_stmt* RawStmt = nullptr;
    if (sqlite3_prepare_v2(Db.get(), (Insert + ")").c_str(), -1, &RawStmt, nullptr) != SQLITE_OK)
      throw Exception("No se puede escribir '" + Path + "': " + sqlite3_errmsg(Db.get()));
    TStmtPtr Stmt(RawStmt);
    for (size_t R = 0; R < S.RowCount(); ++R) {
      for (size_t C = 0; C < S.Columns.size(); ++C) {
        const TColumn& Col = S.Columns[C];
        int P = static_cast<int>(C) + 1;
        if (Col.IsNull(R))
          sqlite3_bind_null(Stmt.get(), P);
        else if (Col.Kind() == TStorageKind::Int)
          sqlite3_bind_int64(Stmt.get(), P, Col.Int(R));
        else if (Col.Kind() == TStorageKind::Double)
          sqlite3_bind_double(Stmt.get(), P, Col.Double(R));
        else
          sqlite3_bind_text(Stmt.get(), P, Col.Str(R).data(), static_cast<int>(Col.Str(R).size()),
                            SQLITE_STATIC);
      }
      if (sqlite3_step(Stmt.get()) != SQLITE_DONE)
        throw Exception("No se puede escribir la fila " + std::to_string(R + 1) + " de '" + T.Name +
                        "' en '" + Path + "': " + sqlite3_errmsg(Db.get()));
      sqlite3_reset(Stmt.get());
    }
  }
  Exec(Db.get(), "COMMIT", Path);
}

namespace {

// Spawns Argv with standard output on OutFd and waits; returns the wall time.
double Spawn(const std::vector<std::string>& Argv, int OutFd) {
  std::vector<char*> Args;
  for (const std::string& A : Argv) Args.push_back(const_cast<char*>(A.c_str()));
  Args.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, OutFd, STDOUT_FILENO);
  auto Start = std::chrono::steady_clock::now();
  pid_t Pid = 0;
  int Rc = posix_spawnp(&Pid, Args[0], &Actions, nullptr, Args.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Rc != 0) throw Exception("No se puede ejecutar '" + Argv[0] + "': " + strerror(Rc));
  int Status = 0;
  while (waitpid(Pid, &Status, 0) < 0) {
    if (errno != EINTR) throw Exception("No se puede esperar a '" + Argv[0] + "'");
  }
  double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0)
    throw Exception("'" + Argv[0] + "' terminó con error (estado " + std::to_string(Status) + ")");
  return Seconds;
}

// A file descriptor closed when it goes out of scope.
struct TFd {
  int Fd = -1;
  ~TFd() {
    if (Fd >= 0) close(Fd);
  }
};

}  // namespace

double RunProcessSeconds(const std::vector<std::string>& Argv, const std::string& OutPath) {
  TFd Out;
  Out.Fd = OutPath.empty() ? open("/dev/null", O_WRONLY | O_CLOEXEC)
                           : open(OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Out.Fd < 0)
    throw Exception("No se puede abrir '" + (OutPath.empty() ? "/dev/null" : OutPath) + "'");
  return Spawn(Argv, Out.Fd);
}

std::string RunProcessOutput(const std::vector<std::string>& Argv) {
  char Name[] = "/tmp/kvbench-outXXXXXX";
  TFd Out;
  Out.Fd = mkstemp(Name);
  if (Out.Fd < 0) throw Exception("No se puede crear un archivo temporal en /tmp");
  unlink(Name);
  Spawn(Argv, Out.Fd);
  std::string Text;
  lseek(Out.Fd, 0, SEEK_SET);
  char Buf[4096];
  ssize_t N;
  while ((N = read(Out.Fd, Buf, sizeof Buf)) > 0) Text.append(Buf, static_cast<size_t>(N));
  return Text;
}

std::string FormatSeconds(std::optional<double> Seconds) {
  if (!Seconds || !std::isfinite(*Seconds)) return "n/a";
  char Buf[32];
  double S = *Seconds;
  if (S < 1e-3)
    std::snprintf(Buf, sizeof Buf, "%.0f µs", S * 1e6);
  else if (S < 1)
    std::snprintf(Buf, sizeof Buf, S < 0.1 ? "%.1f ms" : "%.0f ms", S * 1e3);
  else
    std::snprintf(Buf, sizeof Buf, "%.2f s", S);
  return Buf;
}

std::string FormatRatio(std::optional<double> Ours, std::optional<double> Peer) {
  if (!Ours || !Peer || !std::isfinite(*Ours) || !std::isfinite(*Peer) || *Peer <= 0) return "n/a";
  double R = *Ours / *Peer;
  char Buf[32];
  std::snprintf(Buf, sizeof Buf, R < 0.01 ? "%.4f×" : (R < 10 ? "%.2f×" : "%.0f×"), R);
  return Buf;
}

std::string TargetVerdict(const TTargetLine& Line) {
  if (!Line.Seconds || (Line.RelativeToPeer < 0 && !Line.Limit)) return "?";
  bool Met = !Line.Limit || *Line.Seconds <= *Line.Limit;
  if (Line.RelativeToPeer >= 0) {
    const auto& P = Line.Peers.at(static_cast<size_t>(Line.RelativeToPeer)).Seconds;
    if (!P) return "?";
    Met = Met && *Line.Seconds <= Line.PeerFactor * *P;
  }
  return Met ? "ok" : "MISSED";
}

std::string FormatTargetLine(const TTargetLine& Line) {
  char Head[160];
  std::snprintf(Head, sizeof Head, "%-6s %10s  %-44s target %-12s", TargetVerdict(Line).c_str(),
                FormatSeconds(Line.Seconds).c_str(), Line.Operation.c_str(), Line.Target.c_str());
  std::string Out = Head;
  for (const TPeerFigure& P : Line.Peers)
    Out += "  vs " + P.Name + " " + FormatRatio(Line.Seconds, P.Seconds) + " (" +
           FormatSeconds(P.Seconds) + ")";
  if (!Line.Note.empty()) Out += "  [" + Line.Note + "]";
  return Out;
}

std::string FormatMemoryLine(uint64_t RssGrowth, uint64_t StoreBytes, uint64_t FileBytes,
                             double AllowedFactor, const std::string& What) {
  const std::string Label = "resident memory of " + What;
  auto Mb = [](uint64_t B) { return static_cast<double>(B) / (1024.0 * 1024.0); };
  char Buf[256];
  if (FileBytes == 0) {
    std::snprintf(Buf, sizeof Buf, "%-6s %10s  %-44s target <= %.1f× file", "?", "n/a",
                  Label.c_str(), AllowedFactor);
    return Buf;
  }
  double Factor = static_cast<double>(RssGrowth) / static_cast<double>(FileBytes);
  char Figure[32];
  std::snprintf(Figure, sizeof Figure, "%.2f× file", Factor);
  std::snprintf(Buf, sizeof Buf,
                "%-6s %10s  %-44s target <= %.1f× file  (resident +%.0f MB, store %.0f MB = %.2f×, "
                "file %.0f MB)",
                Factor <= AllowedFactor ? "ok" : "MISSED", Figure, Label.c_str(), AllowedFactor,
                Mb(RssGrowth), Mb(StoreBytes),
                static_cast<double>(StoreBytes) / static_cast<double>(FileBytes), Mb(FileBytes));
  return Buf;
}

double Median(std::vector<double> V) {
  if (V.empty()) return 0;
  std::sort(V.begin(), V.end());
  return V[V.size() / 2];
}

std::string Trimmed(std::string S) {
  while (!S.empty() && (S.back() == '\n' || S.back() == ' ')) S.pop_back();
  return S;
}

void ShowScreen(TDataSet& T, int Rows) {
  size_t Bytes = 0;
  const TBookmark Here = T.GetBookmark();
  for (int R = 0; R < Rows && !T.Eof(); ++R, T.Next())
    for (int F = 0; F < T.FieldCount(); ++F) Bytes += T.Fields(F)->DisplayText().size();
  T.GotoBookmark(Here);
  if (Bytes == 0) throw Exception("la pantalla está vacía");
}
