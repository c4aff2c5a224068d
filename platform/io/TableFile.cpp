// Table files: the format chosen by extension, a process-wide cache of loaded stores keyed by
// the file's identity, and saving through a temporary file renamed into place.
#include "TableFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include "IoUtil.h"
#include "SysUtils.h"
#include "ascii/AsciiFile.h"
#include "dbase/DBaseFile.h"
#include "paradox/ParadoxFile.h"

TTableFormat TableFormatOf(const std::string& Path) {
  std::string Ext = LowerCase(ExtractFileExt(Path));
  if (Ext == ".db") return TTableFormat::Paradox;
  if (Ext == ".dbf") return TTableFormat::DBase;
  if (Ext == ".txt") return TTableFormat::Ascii;
  throw EDatabaseError("El archivo '" + Path + "' no es una tabla: la extensión '" + Ext +
                       "' no es .db, .dbf ni .txt");
}

namespace {

// What identifies one version of a file on disk.
struct TFileStamp {
  dev_t Dev = 0;
  ino_t Ino = 0;
  off_t Size = 0;
  int64_t MTimeNs = 0;
  bool operator==(const TFileStamp&) const = default;
};

struct TCacheEntry {
  TFileStamp Data, Schema;
  std::shared_ptr<const TTableStore> Store;
};

std::mutex CacheLock;
std::map<std::string, TCacheEntry>& Cache() {
  static std::map<std::string, TCacheEntry> M;
  return M;
}

// Stamps Path; raises EDatabaseError naming it when it cannot be read as a file.
TFileStamp StampOf(const std::string& Path) {
  struct stat St;
  if (::stat(Path.c_str(), &St) != 0) RaiseFileError(Path, ErrnoText(errno));
  if (S_ISDIR(St.st_mode)) RaiseFileError(Path, "es un directorio, no un archivo de tabla");
  TFileStamp S;
  S.Dev = St.st_dev;
  S.Ino = St.st_ino;
  S.Size = St.st_size;
  S.MTimeNs = int64_t(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
  return S;
}

std::string CanonicalPath(const std::string& Path) {
  char Buf[PATH_MAX];
  if (::realpath(Path.c_str(), Buf)) return Buf;
  return Path;
}

std::shared_ptr<TTableStore> ReadTable(const std::string& Path, TTableFormat Format) {
  try {
    switch (Format) {
      case TTableFormat::Paradox:
        return ReadParadoxFile(Path);
      case TTableFormat::DBase:
        return ReadDBaseFile(Path);
      case TTableFormat::Ascii:
        return ReadAsciiFile(Path);
    }
  } catch (const EDatabaseError&) {
    throw;
  } catch (const Exception& E) {
    RaiseFileError(Path, E.Message());
  } catch (const std::bad_alloc&) {
    RaiseFileError(Path, "no hay memoria suficiente para cargar la tabla");
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<const TTableStore> LoadTableFile(const std::string& Path) {
  const TTableFormat Format = TableFormatOf(Path);
  const TFileStamp Stamp = StampOf(Path);
  TFileStamp SchemaStamp;
  if (Format == TTableFormat::Ascii) {
    struct stat St;
    std::string Sch = SchemaPathOf(Path);
    if (::stat(Sch.c_str(), &St) == 0) SchemaStamp = StampOf(Sch);
  }
  const std::string Key = CanonicalPath(Path);
  {
    std::lock_guard<std::mutex> G(CacheLock);
    auto It = Cache().find(Key);
    if (It != Cache().end() && It->second.Data == Stamp && It->second.Schema == SchemaStamp)
      return It->second.Store;
  }
  std::shared_ptr<const TTableStore> Store = ReadTable(Path, Format);
  std::lock_guard<std::mutex> G(CacheLock);
  TCacheEntry& E = Cache()[Key];
  // Another thread may have loaded the same version meanwhile: keep one store per version.
  if (E.Store && E.Data == Stamp && E.Schema == SchemaStamp) return E.Store;
  E.Data = Stamp;
  E.Schema = SchemaStamp;
  E.Store = Store;
  return Store;
}

void SaveTableFile(const std::string& Path, const TTableStore& Data,
                   const std::vector<uint32_t>* Rows) {
  const TTableFormat Format = TableFormatOf(Path);
  const size_t Count = Data.RowCount();
  if (Data.Columns.size() != Data.Defs.size())
    RaiseFileError(Path, "la definición de los campos no coincide con sus columnas");
  for (const TColumn& C : Data.Columns)
    if (C.Size() != Count)
      RaiseFileError(Path, "las columnas de la tabla tienen distinto número de filas");
  if (Rows)
    for (uint32_t R : *Rows)
      if (R >= Count)
        RaiseFileError(Path, "la fila " + std::to_string(R) + " no existe en los datos a guardar");
  try {
    switch (Format) {
      case TTableFormat::Paradox: {
        TTempFile Tmp(Path, ".db");
        TTempFile TmpMemo(CompanionPath(Path, ".mb"), ".mb");
        if (WriteParadoxFile(Tmp.Path(), TmpMemo.Path(), Path, Data, Rows))
          TTempFile::CommitAll({&TmpMemo, &Tmp});
        else
          Tmp.Commit();
        break;
      }
      case TTableFormat::DBase: {
        TTempFile Tmp(Path, ".dbf");
        WriteDBaseFile(Tmp.Path(), Path, Data, Rows);
        Tmp.Commit();
        break;
      }
      case TTableFormat::Ascii: {
        const std::string Sch = SchemaPathOf(Path);
        TTempFile Tmp(Path, ".txt");
        TTempFile TmpSch(Sch, ".sch");
        WriteAsciiFile(Tmp.Path(), TmpSch.Path(), Path, Data, Rows);
        TTempFile::CommitAll({&TmpSch, &Tmp});
        break;
      }
    }
  } catch (const EDatabaseError&) {
    throw;
  } catch (const Exception& E) {
    RaiseFileError(Path, E.Message());
  } catch (const std::bad_alloc&) {
    RaiseFileError(Path, "no hay memoria suficiente para guardar la tabla");
  }
  ClearTableCache(Path);
}

namespace {
// The file that goes with a table file: an ASCII table's schema, a Paradox table's memo file
// (whether or not it exists); "" for a dBase table.
std::string CompanionOf(const std::string& Path) {
  switch (TableFormatOf(Path)) {
    case TTableFormat::Paradox:
      return CompanionPath(Path, ".mb");
    case TTableFormat::Ascii:
      return SchemaPathOf(Path);
    case TTableFormat::DBase:
      break;
  }
  return std::string();
}

// Removes a table file and its companion file; files that do not exist are no error.
void DeleteTableFile(const std::string& Path) {
  const std::string Companion = CompanionOf(Path);
  ::unlink(Path.c_str());
  if (!Companion.empty()) ::unlink(Companion.c_str());
  ClearTableCache(Path);
}
}  // namespace

TPassingTable::TPassingTable(std::string Target) : FTarget(std::move(Target)) {
  TableFormatOf(FTarget);  // a name the layer cannot write is refused before any work
  struct stat St;
  if (::stat(FTarget.c_str(), &St) == 0 && S_ISDIR(St.st_mode))
    RaiseFileError(FTarget, "es un directorio, no se puede escribir la tabla");
  for (int Attempt = 0; FFolder.empty(); ++Attempt) {
    const std::string Candidate = SiblingName(FTarget, ".dir");
    if (::mkdir(Candidate.c_str(), 0755) == 0) {
      FFolder = Candidate;
    } else if (errno == ENOENT) {
      RaiseFileError(FTarget, "no existe la carpeta '" + ExtractFilePath(FTarget) + "'");
    } else if (errno != EEXIST || Attempt == 100) {
      RaiseFileError(FTarget, "no se puede crear la carpeta de paso: " + ErrnoText(errno));
    }
  }
  FPath = JoinPath(FFolder, ExtractFileName(FTarget));
}

TPassingTable::~TPassingTable() {
  DeleteTableFile(FPath);
  ::rmdir(FFolder.c_str());
}

void TPassingTable::Commit() {
  std::vector<std::unique_ptr<TTempFile>> Files;
  const std::string Companion = CompanionOf(FPath);
  if (!Companion.empty() && ::access(Companion.c_str(), F_OK) == 0)
    Files.push_back(TTempFile::Adopt(Companion, CompanionOf(FTarget)));
  Files.push_back(TTempFile::Adopt(FPath, FTarget));
  std::vector<TTempFile*> All;
  for (auto& F : Files) All.push_back(F.get());
  TTempFile::CommitAll(All);
  ClearTableCache(FPath);
  ClearTableCache(FTarget);
}

void ClearTableCache(const std::string& Path) {
  std::lock_guard<std::mutex> G(CacheLock);
  if (Path.empty()) {
    Cache().clear();
    return;
  }
  Cache().erase(CanonicalPath(Path));
  Cache().erase(Path);
}
