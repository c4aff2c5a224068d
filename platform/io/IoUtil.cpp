// Helpers shared by the table-file readers and writers.
#include "IoUtil.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "Progress.h"
#include "RowSource.h"
#include "SysUtils.h"
#include "Unicode.h"

namespace kv {

void RaiseFileError(const std::string& Path, const std::string& Detail) {
  throw EDatabaseError("Error en el archivo '" + Path + "': " + Detail);
}

void RaiseCorrupt(const std::string& Path, const std::string& Detail) {
  throw EDatabaseError("El archivo '" + Path + "' está dañado: " + Detail);
}

bool SameFile(const std::string& A, const std::string& B) {
  struct stat SA, SB;
  if (::stat(A.c_str(), &SA) != 0 || ::stat(B.c_str(), &SB) != 0) return false;
  return SA.st_dev == SB.st_dev && SA.st_ino == SB.st_ino;
}

const char* OutOfMemoryText() {
  return "no hay memoria suficiente";
}

std::string ErrnoText(int Err) {
  switch (Err) {
    case ENOENT:
      return "no existe";
    case EACCES:
    case EPERM:
      return "permiso denegado";
    case EISDIR:
      return "es un directorio";
    case ENOTDIR:
      return "una parte de la ruta no es un directorio";
    case ENOSPC:
      return "no queda espacio en el disco";
    case EROFS:
      return "el sistema de archivos es de sólo lectura";
    case EEXIST:
      return "ya existe";
    case EIO:
      return "error de entrada/salida";
    case ENAMETOOLONG:
      return "el nombre es demasiado largo";
    case EMFILE:
    case ENFILE:
      return "demasiados archivos abiertos";
    case EFBIG:
      return "el archivo supera el tamaño máximo permitido";
    case ENOMEM:
      return OutOfMemoryText();
    default:
      return "error del sistema " + std::to_string(Err);
  }
}

// ---------------------------------------------------------------- TMappedFile

namespace {

// The mappings of table files, for the bus-error handler: a page of a mapped file that another
// program cut short no longer exists, and reading it raises SIGBUS. The handler maps zero pages
// over the rest of that mapping and marks it, so the read goes on and the reader, which checks
// the mark, reports the change instead of the process ending. Slots are plain atomics: the
// handler may run at any moment on any thread.
struct TMapSlot {
  std::atomic<uintptr_t> Begin{0};
  std::atomic<size_t> Size{0};
  std::atomic<int> Faulted{0};
};
constexpr size_t kMapSlots = 16384;
TMapSlot GMapSlots[kMapSlots];
std::atomic<size_t> GSlotHint{0};
struct sigaction GPreviousBusAction;
size_t GPageSize = 4096;

void OnBusError(int Sig, siginfo_t* Info, void* Context) {
  const uintptr_t At = reinterpret_cast<uintptr_t>(Info ? Info->si_addr : nullptr);
  for (TMapSlot& S : GMapSlots) {
    const uintptr_t Begin = S.Begin.load(std::memory_order_acquire);
    if (Begin == 0 || At < Begin) continue;
    const size_t Size = S.Size.load(std::memory_order_acquire);
    if (At - Begin >= Size) continue;
    const uintptr_t Page = At & ~(uintptr_t(GPageSize) - 1);
    const uintptr_t End = (Begin + Size + GPageSize - 1) & ~(uintptr_t(GPageSize) - 1);
    // A file is cut short at its end: every page from the faulting one on is gone too.
    if (::mmap(reinterpret_cast<void*>(Page), End - Page, PROT_READ,
               MAP_PRIVATE | MAP_FIXED | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
      S.Faulted.store(1, std::memory_order_release);
      return;
    }
    break;
  }
  // Not a table file's page (or no zero page could be had): whoever handled bus errors before.
  if (GPreviousBusAction.sa_flags & SA_SIGINFO) {
    if (GPreviousBusAction.sa_sigaction) return GPreviousBusAction.sa_sigaction(Sig, Info, Context);
  } else if (GPreviousBusAction.sa_handler != SIG_DFL && GPreviousBusAction.sa_handler != SIG_IGN &&
             GPreviousBusAction.sa_handler) {
    return GPreviousBusAction.sa_handler(Sig);
  }
  // The default action: the faulting instruction runs again and ends the process.
  ::signal(SIGBUS, SIG_DFL);
}

void InstallBusHandler() {
  static std::once_flag Once;
  std::call_once(Once, [] {
    const long Page = ::sysconf(_SC_PAGESIZE);
    if (Page > 0) GPageSize = static_cast<size_t>(Page);
    struct sigaction A;
    std::memset(&A, 0, sizeof A);
    A.sa_sigaction = OnBusError;
    A.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&A.sa_mask);
    ::sigaction(SIGBUS, &A, &GPreviousBusAction);
  });
}

// A free slot for the mapping [Data, Data + Size), or -1 when all are taken.
int RegisterMapping(const void* Data, size_t Size) {
  InstallBusHandler();
  const size_t Start = GSlotHint.load(std::memory_order_relaxed);
  for (size_t K = 0; K < kMapSlots; ++K) {
    const size_t I = (Start + K) % kMapSlots;
    TMapSlot& S = GMapSlots[I];
    if (S.Size.load(std::memory_order_relaxed) != 0) continue;
    size_t Free = 0;
    if (!S.Size.compare_exchange_strong(Free, Size, std::memory_order_acq_rel)) continue;
    S.Faulted.store(0, std::memory_order_relaxed);
    S.Begin.store(reinterpret_cast<uintptr_t>(Data), std::memory_order_release);
    GSlotHint.store(I + 1, std::memory_order_relaxed);
    return static_cast<int>(I);
  }
  return -1;
}

void UnregisterMapping(int Slot) {
  if (Slot < 0) return;
  GMapSlots[Slot].Begin.store(0, std::memory_order_release);
  GMapSlots[Slot].Size.store(0, std::memory_order_release);
}

}  // namespace

TMappedFile::TMappedFile(const std::string& Path) : FPath(Path) {
  FFd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (FFd < 0) RaiseFileError(Path, ErrnoText(errno));
  auto Fail = [&](const std::string& Why) {
    ::close(FFd);
    FFd = -1;
    RaiseFileError(Path, Why);
  };
  struct stat St;
  if (::fstat(FFd, &St) != 0) Fail(ErrnoText(errno));
  if (S_ISDIR(St.st_mode)) Fail("es un directorio, no un archivo de tabla");
  if (!S_ISREG(St.st_mode)) Fail("no es un archivo normal");
  FSize = static_cast<size_t>(St.st_size);
  FMTimeNs = int64_t(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
  if (FSize > 0) {
    void* P = ::mmap(nullptr, FSize, PROT_READ, MAP_PRIVATE, FFd, 0);
    if (P == MAP_FAILED) Fail(ErrnoText(errno));
    FData = static_cast<const uint8_t*>(P);
    FMapped = true;
    FSlot = RegisterMapping(FData, FSize);
  }
}

TMappedFile::~TMappedFile() {
  UnregisterMapping(FSlot);
  if (FMapped) ::munmap(const_cast<uint8_t*>(FData), FSize);
  if (FFd >= 0) ::close(FFd);
}

bool TMappedFile::Faulted() const {
  return FSlot >= 0 && GMapSlots[FSlot].Faulted.load(std::memory_order_acquire) != 0;
}

void TMappedFile::CheckUnchanged() const {
  if (Changed()) RaiseFileError(FPath, "ha cambiado desde que se abrió la tabla; vuelva a abrirla");
}

bool TMappedFile::Changed() const {
  if (Faulted()) return true;
  struct stat St;
  if (::fstat(FFd, &St) != 0) return true;
  return static_cast<size_t>(St.st_size) != FSize ||
         int64_t(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec != FMTimeNs;
}

void TMappedFile::Release() const {
  // The mapping is private and never written: dropping its pages loses nothing. A small file
  // stays mapped whole: dropping and reading its pages again for every column read (a table of
  // thousands of fields and few records) would cost far more than the pages themselves.
  constexpr size_t kKeptWhole = size_t(16) << 20;
  if (FMapped && FSize > kKeptWhole) ::madvise(const_cast<uint8_t*>(FData), FSize, MADV_DONTNEED);
}

// ---------------------------------------------------------------- TDecodingWhole

namespace {
thread_local TDecodingWhole* DecodingWhole = nullptr;
}  // namespace

TDecodingWhole::TDecodingWhole(std::vector<const TColumn*> Columns)
    : FColumns(std::move(Columns)), FOutermost(DecodingWhole == nullptr) {
  if (FOutermost) DecodingWhole = this;
}

TDecodingWhole::~TDecodingWhole() {
  if (!FOutermost) return;
  DecodingWhole = nullptr;
  for (const TFileColumns* C : FSetAside) C->DropSetAside();
  for (const auto& F : FFiles) F->Release();
}

TDecodingWhole* TDecodingWhole::Current() {
  return DecodingWhole;
}

// ---------------------------------------------------------------- TFileColumns

void TFileColumns::SetColumns(const TColumn* Columns, size_t Count, size_t Rows) {
  FColumns = Columns;
  FColumnCount = Count;
  FRows = Rows;
}

void TFileColumns::DecodeWhole(const std::vector<size_t>& Cols,
                               const std::vector<TColumn*>& Outs) const {
  for (size_t I = 0; I < Cols.size(); ++I) DecodeRows(Cols[I], 0, FRows, *Outs[I]);
}

template <class Fn>
void TFileColumns::Checked(TDecodingWhole* Whole, Fn&& Read) const {
  const std::string& Path = FFile->Path();
  // A file written in place after it was opened would mix two versions of the table.
  FFile->CheckUnchanged();
  try {
    Read();
  } catch (const EDatabaseError&) {
    FFile->Release();
    // What a file changed meanwhile holds (zeros where it was cut short) is no fault of it.
    FFile->CheckUnchanged();
    throw;
  } catch (const Exception& E) {
    FFile->Release();
    FFile->CheckUnchanged();
    RaiseFileError(Path, E.Message());
  } catch (const std::bad_alloc&) {
    FFile->Release();
    // Sizes read from a file changed meanwhile may ask for any amount of memory.
    FFile->CheckUnchanged();
    RaiseFileError(Path, OutOfMemoryText());
  } catch (...) {
    FFile->Release();
    FFile->CheckUnchanged();
    throw;
  }
  if (!Whole) {
    FFile->Release();
  } else if (std::find(Whole->FFiles.begin(), Whole->FFiles.end(), FFile) == Whole->FFiles.end()) {
    Whole->FFiles.push_back(FFile);
  }
  // The values read may be partly of another version of the file, or zeros.
  FFile->CheckUnchanged();
}

bool TFileColumns::TakeSetAside(size_t Col, TColumn& Out) const {
  std::lock_guard<std::mutex> G(FSetAsideLock);
  for (auto It = FSetAside.begin(); It != FSetAside.end(); ++It)
    if (It->first == Col) {
      Out = std::move(*It->second);
      FSetAside.erase(It);
      return true;
    }
  return false;
}

void TFileColumns::DropSetAside() const {
  std::lock_guard<std::mutex> G(FSetAsideLock);
  FSetAside.clear();
}

bool TFileColumns::DecodeTogether(TDecodingWhole& Whole, size_t Col, TColumn& Out) const {
  // The columns of Whole that are this file's, not decoded yet, Col first.
  std::vector<size_t> Cols{Col};
  const std::less<const TColumn*> Before;
  for (const TColumn* C : Whole.FColumns) {
    if (Before(C, FColumns) || !Before(C, FColumns + FColumnCount) || C->Decoded()) continue;
    const size_t I = static_cast<size_t>(C - FColumns);
    if (std::find(Cols.begin(), Cols.end(), I) == Cols.end()) Cols.push_back(I);
  }
  if (Cols.size() < 2) return false;
  std::vector<std::unique_ptr<TColumn>> Others;
  std::vector<TColumn*> Outs{&Out};
  for (size_t I = 1; I < Cols.size(); ++I) {
    Others.push_back(std::make_unique<TColumn>(FColumns[Cols[I]].Type()));
    Others.back()->Reserve(FRows);
    Outs.push_back(Others.back().get());
  }
  try {
    Checked(&Whole, [&] { DecodeWhole(Cols, Outs); });
  } catch (const EAborted&) {
    throw;
  } catch (...) {
    // Decoded alone, the column raises the failure that is its own (or none); the others do
    // when their turn comes.
    Out = TColumn(Out.Type());
    return false;
  }
  std::lock_guard<std::mutex> G(FSetAsideLock);
  for (size_t I = 1; I < Cols.size(); ++I)
    FSetAside.emplace_back(Cols[I], std::move(Others[I - 1]));
  if (std::find(Whole.FSetAside.begin(), Whole.FSetAside.end(), this) == Whole.FSetAside.end())
    Whole.FSetAside.push_back(this);
  return true;
}

void TFileColumns::Decode(size_t Col, size_t First, size_t Count, TColumn& Out) const {
  TDecodingWhole* Whole = TDecodingWhole::Current();
  if (Whole && First == 0 && Count == FRows && Col < FColumnCount) {
    if (TakeSetAside(Col, Out)) return;
    if (DecodeTogether(*Whole, Col, Out)) return;
  }
  Checked(Whole, [&] { DecodeRows(Col, First, Count, Out); });
}

std::shared_ptr<TTableStore> MakeFileStore(std::vector<TColumnDef> Defs,
                                           std::vector<std::string> Key, size_t Rows,
                                           std::shared_ptr<TFileColumns> Columns) {
  auto Store = std::make_shared<TTableStore>();
  for (TColumnDef& D : Defs) Store->AddColumn(std::move(D));
  for (size_t I = 0; I < Store->Columns.size(); ++I)
    Store->Columns[I] = TColumn(Store->Defs[I].DataType, Rows, Columns, I);
  Columns->SetColumns(Store->Columns.data(), Store->Columns.size(), Rows);
  Store->PrimaryKey = std::move(Key);
  return Store;
}

// ---------------------------------------------------------------- TTableSlice

TTableSlice::TTableSlice(const TTableStore& Data, const std::vector<uint32_t>* Rows)
    : FPrimaryKey(Data.PrimaryKey),
      FRowCount(Data.RowCount()),
      FRowList(Rows),
      FRows(Data.RowCount(), Rows) {
  for (size_t I = 0; I < Data.Columns.size() && I < Data.Defs.size(); ++I)
    FParts.push_back({Data.Defs[I], &Data.Columns[I]});
}

TTableSlice::TTableSlice(std::vector<TPart> Parts, size_t RowCount,
                         const std::vector<uint32_t>* Rows, std::vector<std::string> PrimaryKey)
    : FParts(std::move(Parts)),
      FPrimaryKey(std::move(PrimaryKey)),
      FRowCount(RowCount),
      FRowList(Rows),
      FRows(RowCount, Rows) {}

void ReportRowsWritten(size_t Done, size_t Total) {
  ReportProgress("Exportando", static_cast<int64_t>(Done), static_cast<int64_t>(Total));
}

// ---------------------------------------------------------------- TTempFile

namespace {

// An open directory stream, closed on destruction.
class TDirHandle {
 public:
  explicit TDirHandle(const std::string& Dir) : FDir(::opendir(Dir.empty() ? "." : Dir.c_str())) {}
  ~TDirHandle() {
    if (FDir) ::closedir(FDir);
  }
  TDirHandle(const TDirHandle&) = delete;
  TDirHandle& operator=(const TDirHandle&) = delete;
  // The next entry's name, or null at the end (or when the directory could not be opened).
  const char* Next() {
    const dirent* E = FDir ? ::readdir(FDir) : nullptr;
    return E ? E->d_name : nullptr;
  }

 private:
  DIR* FDir;
};

// Eight hex digits naming this machine, so that a temporary file of another machine sharing the
// folder is never taken for one of a dead process here.
const std::string& HostTag() {
  static const std::string Tag = [] {
    char Name[256] = {};
    ::gethostname(Name, sizeof Name - 1);
    uint32_t H = 2166136261u;  // FNV-1a
    for (const char* P = Name; *P; ++P) H = (H ^ static_cast<uint8_t>(*P)) * 16777619u;
    char Buf[9];
    std::snprintf(Buf, sizeof Buf, "%08x", H);
    return std::string(Buf);
  }();
  return Tag;
}

// The process id in a temporary name of this machine (".<name>.tmp<pid>-<host>_<n><ext>"), or 0
// when Name is not one.
pid_t TemporaryOwner(std::string_view Name) {
  if (Name.empty() || Name[0] != '.') return 0;
  const std::string Mark = "-" + HostTag() + "_";
  const char* const End = Name.data() + Name.size();
  for (size_t At = Name.rfind(".tmp"); At != std::string_view::npos && At > 0;
       At = Name.rfind(".tmp", At - 1)) {
    pid_t Pid = 0;
    const char* P = Name.data() + At + 4;
    auto Read = std::from_chars(P, End, Pid);
    if (Read.ec != std::errc() || Pid <= 0 ||
        std::string_view(Read.ptr, End - Read.ptr).substr(0, Mark.size()) != Mark)
      continue;
    unsigned Counter = 0;
    Read = std::from_chars(Read.ptr + Mark.size(), End, Counter);
    if (Read.ec == std::errc() && Read.ptr < End && *Read.ptr == '.') return Pid;
  }
  return 0;
}

}  // namespace

std::string SiblingName(const std::string& Target, const std::string& Ext) {
  static std::atomic<unsigned> Counter{0};
  const size_t Slash = Target.find_last_of('/');
  const std::string Dir = Slash == std::string::npos ? std::string() : Target.substr(0, Slash + 1);
  std::string Name = Slash == std::string::npos ? Target : Target.substr(Slash + 1);
  const std::string Tail =
      ".tmp" + std::to_string(::getpid()) + "-" + HostTag() + "_" + std::to_string(Counter++) + Ext;
  // A name the file system takes must get a temporary beside it: the copy of the name is cut to
  // fit the 255 bytes of one name (at a character's start); the tail alone keeps it unique.
  constexpr size_t MaxName = 255;
  if (1 + Name.size() + Tail.size() > MaxName) {
    size_t Keep = MaxName > 1 + Tail.size() ? MaxName - 1 - Tail.size() : 0;
    while (Keep > 0 && (static_cast<unsigned char>(Name[Keep]) & 0xC0) == 0x80) --Keep;
    Name.resize(Keep);
  }
  return Dir + "." + Name + Tail;
}

void RemoveStaleTemporaries(const std::string& Dir) {
  TDirHandle D(Dir);
  while (const char* Entry = D.Next()) {
    const pid_t Owner = TemporaryOwner(Entry);
    // Only a process that no longer exists leaves its files for good.
    if (Owner <= 0 || Owner == ::getpid() || ::kill(Owner, 0) == 0 || errno != ESRCH) continue;
    const std::string Full = JoinPath(Dir, Entry);
    struct stat St;
    if (::lstat(Full.c_str(), &St) == 0 && S_ISREG(St.st_mode)) ::unlink(Full.c_str());
  }
}

TFolderLock::TFolderLock(const std::string& Dir, bool Exclusive) {
  FFd = ::open(Dir.empty() ? "." : Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (FFd < 0) return;
  int Rc;
  do {
    Rc = ::flock(FFd, Exclusive ? LOCK_EX : LOCK_SH);
  } while (Rc != 0 && errno == EINTR);
  if (Rc != 0) {
    // A file system without locks: the files are still replaced whole, one at a time.
    ::close(FFd);
    FFd = -1;
  }
}

TFolderLock::~TFolderLock() {
  if (FFd >= 0) ::close(FFd);  // closing lets the lock go
}

TTempFile::TTempFile(const std::string& Target, const std::string& Ext) : FTarget(Target) {
  struct stat St;
  if (::stat(Target.c_str(), &St) == 0 && S_ISDIR(St.st_mode))
    RaiseFileError(Target, "es un directorio, no se puede escribir la tabla");
  RemoveStaleTemporaries(ExtractFilePath(Target));
  for (int Attempt = 0; Attempt < 100; ++Attempt) {
    std::string Candidate = SiblingName(Target, Ext);
    int Fd = ::open(Candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (Fd >= 0) {
      ::close(Fd);
      FPath = Candidate;
      return;
    }
    if (errno == ENOENT)
      RaiseFileError(Target, "no existe la carpeta '" + ExtractFilePath(Target) + "'");
    if (errno != EEXIST)
      RaiseFileError(Target, "no se puede crear el archivo temporal: " + ErrnoText(errno));
  }
  RaiseFileError(Target, "no se puede crear el archivo temporal");
}

TTempFile::~TTempFile() {
  if (!FDone && !FPath.empty()) ::unlink(FPath.c_str());
}

void TTempFile::Commit() {
  if (::rename(FPath.c_str(), FTarget.c_str()) != 0)
    RaiseFileError(FTarget, "no se puede reemplazar el archivo: " + ErrnoText(errno));
  FDone = true;
}

namespace {
// A second name for the file a target names now, so that it can be put back; nothing when the
// target does not exist (or the file system cannot give a file two names: then it cannot be put
// back, and a failed replacement keeps what it had already replaced).
std::unique_ptr<TTempFile> KeepPrevious(const std::string& Target) {
  struct stat St;
  if (::stat(Target.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return nullptr;
  auto Kept = std::make_unique<TTempFile>(Target, ExtractFileExt(Target));
  ::unlink(Kept->Path().c_str());
  if (::link(Target.c_str(), Kept->Path().c_str()) != 0) return nullptr;
  return Kept;
}
}  // namespace

void TTempFile::CommitAll(const std::vector<TTempFile*>& Files,
                          const std::vector<std::string>& Obsolete) {
  if (Files.empty()) return;
  // Other writers replace their files of the folder after this one's are all in place, and
  // readers of a table's pair read it before or after, never in between.
  TFolderLock Lock(ExtractFilePath(Files[0]->Target()), true);
  std::vector<std::unique_ptr<TTempFile>> Previous;
  std::vector<bool> Existed;
  for (TTempFile* F : Files) {
    Existed.push_back(::access(F->Target().c_str(), F_OK) == 0);
    Previous.push_back(Files.size() > 1 ? KeepPrevious(F->Target()) : nullptr);
  }
  for (size_t I = 0; I < Files.size(); ++I) {
    try {
      Files[I]->Commit();
    } catch (...) {
      for (size_t J = 0; J < I; ++J) {
        try {
          if (Previous[J])
            Previous[J]->Commit();
          else if (!Existed[J])
            ::unlink(Files[J]->Target().c_str());
        } catch (const Exception&) {
          // The original error is the one to report.
        }
      }
      throw;
    }
  }
  for (const std::string& Path : Obsolete) ::unlink(Path.c_str());
}

TFileWriter::TFileWriter(const std::string& Path, const std::string& ErrName) : FErrName(ErrName) {
  FFd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (FFd < 0) RaiseFileError(ErrName, ErrnoText(errno));
  FBuf.reserve(1 << 20);
}

TFileWriter::TFileWriter(const std::string& Path, const std::string& ErrName, uint64_t Offset)
    : FErrName(ErrName) {
  FFd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC);
  if (FFd < 0) RaiseFileError(ErrName, ErrnoText(errno));
  if (::ftruncate(FFd, static_cast<off_t>(Offset)) != 0 ||
      ::lseek(FFd, static_cast<off_t>(Offset), SEEK_SET) < 0)
    RaiseFileError(ErrName, "no se puede escribir: " + ErrnoText(errno));
  FBuf.reserve(1 << 20);
}

void TFileWriter::PatchAt(uint64_t Offset, const void* Data, size_t N) {
  Flush();
  if (::pwrite(FFd, Data, N, static_cast<off_t>(Offset)) != static_cast<ssize_t>(N))
    RaiseFileError(FErrName, "no se puede escribir: " + ErrnoText(errno));
}

TFileWriter::~TFileWriter() {
  if (FFd >= 0) ::close(FFd);
}

void TFileWriter::Write(const void* Data, size_t N) {
  if (FBuf.size() + N > (1u << 20)) Flush();
  // A block of a quarter of the buffer or more goes to the file as it is, not copied first.
  if (N >= (1u << 18)) return WriteAll(static_cast<const char*>(Data), N);
  FBuf.append(static_cast<const char*>(Data), N);
}

void TFileWriter::WriteAll(const char* Data, size_t Size) {
  size_t Done = 0;
  while (Done < Size) {
    ssize_t N = ::write(FFd, Data + Done, Size - Done);
    if (N < 0) {
      if (errno == EINTR) continue;
      RaiseFileError(FErrName, "no se puede escribir: " + ErrnoText(errno));
    }
    Done += static_cast<size_t>(N);
  }
}

void TFileWriter::Flush() {
  WriteAll(FBuf.data(), FBuf.size());
  FBuf.clear();
}

void TFileWriter::Close() {
  Flush();
  int Fd = FFd;
  FFd = -1;
  if (::close(Fd) != 0) RaiseFileError(FErrName, "no se puede escribir: " + ErrnoText(errno));
}

// ---------------------------------------------------------------- names in any letter case

namespace {
bool IsRegularFile(const std::string& Path) {
  struct stat St;
  return ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}
}  // namespace

std::string JoinPath(const std::string& Dir, const std::string& Name) {
  if (Dir.empty()) return Name;
  if (Dir.back() == '/') return Dir + Name;
  return Dir + "/" + Name;
}

std::string FindFileIgnoringCase(const std::string& Dir, const std::string& Name) {
  const std::string Exact = JoinPath(Dir, Name);
  if (IsRegularFile(Exact)) return Exact;
  const std::string Folded = FoldCase(Name);
  TDirHandle D(Dir);
  while (const char* Entry = D.Next()) {
    const std::string_view N(Entry);
    if (N == "." || N == ".." || FoldCase(N) != Folded) continue;
    const std::string Full = JoinPath(Dir, std::string(N));
    if (IsRegularFile(Full)) return Full;
  }
  return std::string();
}

std::string CompanionPath(const std::string& Path, const std::string& Ext) {
  const std::string Dir = ExtractFilePath(Path);
  const std::string Want = ChangeFileExt(ExtractFileName(Path), Ext);
  const std::string Found = FindFileIgnoringCase(Dir, Want);
  return Found.empty() ? Dir + Want : Found;
}

void WriteWholeFile(const std::string& Path, std::string_view Bytes) {
  int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (Fd < 0) RaiseFileError(Path, ErrnoText(errno));
  size_t Done = 0;
  while (Done < Bytes.size()) {
    ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (N < 0) {
      if (errno == EINTR) continue;
      int E = errno;
      ::close(Fd);
      RaiseFileError(Path, ErrnoText(E));
    }
    Done += static_cast<size_t>(N);
  }
  if (::close(Fd) != 0) RaiseFileError(Path, ErrnoText(errno));
}

// ---------------------------------------------------------------- TCodePage

const TCodePage& TCodePage::Get(const std::string& Name) {
  static std::mutex Lock;
  static std::map<std::string, std::unique_ptr<TCodePage>> Pages;
  std::lock_guard<std::mutex> G(Lock);
  auto It = Pages.find(Name);
  if (It != Pages.end()) return *It->second;
  auto P = std::unique_ptr<TCodePage>(new TCodePage(Name));
  const TCodePage& R = *P;
  Pages.emplace(Name, std::move(P));
  return R;
}

namespace {
// Decodes one UTF-8 sequence at S[I]; advances I; returns 0xFFFD for malformed input.
uint32_t NextCodePoint(std::string_view S, size_t& I) {
  uint8_t C = static_cast<uint8_t>(S[I++]);
  if (C < 0x80) return C;
  int Extra = C >= 0xF0 ? 3 : C >= 0xE0 ? 2 : C >= 0xC0 ? 1 : -1;
  if (Extra < 0) return 0xFFFD;
  uint32_t Cp = C & (0x3F >> Extra);
  for (int K = 0; K < Extra; ++K) {
    if (I >= S.size() || (static_cast<uint8_t>(S[I]) & 0xC0) != 0x80) return 0xFFFD;
    Cp = (Cp << 6) | (static_cast<uint8_t>(S[I++]) & 0x3F);
  }
  return Cp;
}
}  // namespace

const char* const TCodePage::kNotUtf8 = "el texto no es UTF-8 válido";

TCodePage::TCodePage(const std::string& Name) : FName(Name) {
  std::string U = UpperCase(Name);
  FUtf8 = U == "UTF-8" || U == "UTF8";
  if (FUtf8) return;
  for (int B = 0x80; B < 0x100; ++B) {
    char Ch = static_cast<char>(B);
    std::string S = ToUtf8(std::string_view(&Ch, 1), Name.c_str());
    FHigh[B - 0x80] = S;
    size_t I = 0;
    if (!S.empty()) {
      uint32_t Cp = NextCodePoint(S, I);
      if (Cp != 0xFFFD && Cp != '?' && I == S.size())
        FReverse.emplace_back(Cp, static_cast<uint8_t>(B));
    }
  }
  std::sort(FReverse.begin(), FReverse.end());
  for (const auto& [Cp, B] : FReverse)
    if (Cp < 0x800) FTwoByte[Cp] = B;
}

void TCodePage::AppendTo(TColumn& Col, std::string_view Bytes, std::string& Scratch) const {
  if (IsAscii(Bytes)) return Col.AppendString(Bytes);
  if (FUtf8) {
    if (!IsValidUtf8(Bytes)) throw Exception(kNotUtf8);
    return Col.AppendString(Bytes);
  }
  Scratch.clear();
  Decode(Bytes, Scratch);
  Col.AppendString(Scratch);
}

void TCodePage::Decode(std::string_view Bytes, std::string& Out) const {
  if (IsAscii(Bytes)) return static_cast<void>(Out.append(Bytes));
  if (FUtf8) {
    if (!IsValidUtf8(Bytes)) throw Exception(kNotUtf8);
    return static_cast<void>(Out.append(Bytes));
  }
  for (char Ch : Bytes) {
    uint8_t B = static_cast<uint8_t>(Ch);
    if (B < 0x80)
      Out.push_back(Ch);
    else
      Out.append(FHigh[B - 0x80]);
  }
}

void TCodePage::Encode(std::string_view Utf8, std::string& Out) const {
  if (FUtf8 || IsAscii(Utf8)) {
    Out.append(Utf8);
    return;
  }
  size_t I = 0;
  while (I < Utf8.size()) {
    uint32_t Cp = NextCodePoint(Utf8, I);
    if (Cp < 0x80) {
      Out.push_back(static_cast<char>(Cp));
      continue;
    }
    if (Cp < 0x800) {
      Out.push_back(FTwoByte[Cp] ? static_cast<char>(FTwoByte[Cp]) : '?');
      continue;
    }
    auto It = std::lower_bound(FReverse.begin(), FReverse.end(), std::make_pair(Cp, uint8_t(0)));
    Out.push_back(It != FReverse.end() && It->first == Cp ? static_cast<char>(It->second) : '?');
  }
}

size_t Utf8Length(std::string_view S) {
  size_t N = 0;
  for (char C : S) N += (static_cast<uint8_t>(C) & 0xC0) != 0x80;
  return N;
}

size_t LongestText(const TColumn& Col, const TRowSelection& Rows, size_t Floor) {
  size_t Longest = 0;
  Rows.ForEachValue(Col, [&](size_t Row) {
    const std::string_view S = Col.Str(Row);
    if (S.size() > std::max(Longest, Floor)) Longest = std::max(Longest, Utf8Length(S));
  });
  return Longest;
}

bool IsAscii(std::string_view S) {
  // Eight bytes at a time: every text of every row goes through here when a table is written.
  size_t I = 0;
  for (; I + 8 <= S.size(); I += 8) {
    uint64_t W;
    std::memcpy(&W, S.data() + I, 8);
    if (W & 0x8080808080808080ull) return false;
  }
  for (; I < S.size(); ++I)
    if (static_cast<uint8_t>(S[I]) >= 0x80) return false;
  return true;
}

// ---------------------------------------------------------------- date-time texts

int FormatIsoDateTime(char (&Buf)[40], double Value, TFieldType Type, bool WithMs) {
  int64_t Days, Ms;
  SplitDateTime(TDateTime(Value), Days, Ms);
  char* P = Buf;
  if (Type != ftTime) {
    int Y, M, D;
    DateOfDayNumber(Days, Y, M, D);
    P = PutDigits(P, Y, 4);
    *P++ = '-';
    P = PutDigits(P, M, 2);
    *P++ = '-';
    P = PutDigits(P, D, 2);
    if (Type == ftDate) return static_cast<int>(P - Buf);
    *P++ = ' ';
  }
  P = PutDigits(P, int(Ms / 3600000), 2);
  *P++ = ':';
  P = PutDigits(P, int(Ms / 60000 % 60), 2);
  *P++ = ':';
  P = PutDigits(P, int(Ms / 1000 % 60), 2);
  if (WithMs) {
    *P++ = '.';
    P = PutDigits(P, int(Ms % 1000), 3);
  }
  return static_cast<int>(P - Buf);
}

bool AnyMilliseconds(const TColumn& Col, const TRowSelection& Rows) {
  bool Any = false;
  Rows.ForEachValue(Col, [&](size_t Row) {
    int64_t Days, Ms;
    SplitDateTime(TDateTime(Col.Double(Row)), Days, Ms);
    Any = Any || Ms % 1000 != 0;
  });
  return Any;
}

// ---------------------------------------------------------------- numbers

static std::string_view TrimBlanks(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\t' || S.back() == '\0'))
    S.remove_suffix(1);
  return S;
}

bool TextToDouble(std::string_view S, double& V) {
  S = TrimBlanks(S);
  if (!S.empty() && S.front() == '+') S.remove_prefix(1);
  if (S.empty()) return false;
  auto R = std::from_chars(S.data(), S.data() + S.size(), V);
  return R.ec == std::errc() && R.ptr == S.data() + S.size();
}

bool TextToInt(std::string_view S, int32_t& V) {
  S = TrimBlanks(S);
  if (!S.empty() && S.front() == '+') S.remove_prefix(1);
  if (S.empty()) return false;
  auto R = std::from_chars(S.data(), S.data() + S.size(), V);
  return R.ec == std::errc() && R.ptr == S.data() + S.size();
}

bool SameTextAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I) {
    char X = A[I], Y = B[I];
    if (X >= 'a' && X <= 'z') X = static_cast<char>(X - 32);
    if (Y >= 'a' && Y <= 'z') Y = static_cast<char>(Y - 32);
    if (X != Y) return false;
  }
  return true;
}

}  // namespace kv
