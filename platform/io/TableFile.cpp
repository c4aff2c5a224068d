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
#include "Progress.h"
#include "SysUtils.h"
#include "ascii/AsciiFile.h"
#include "dbase/DBaseFile.h"
#include "paradox/ParadoxFile.h"

namespace kv {

TTableFormat TableFormatOf(const std::string& Path) {
  std::string Ext = LowerCase(ExtractFileExt(Path));
  if (Ext == ".db") return TTableFormat::Paradox;
  if (Ext == ".dbf") return TTableFormat::DBase;
  if (Ext == ".txt") return TTableFormat::Ascii;
  throw EDatabaseError("El archivo '" + Path + "' no es una tabla: la extensión '" + Ext +
                       "' no es .db, .dbf ni .txt");
}

namespace {

// Runs Work; a failure that is not already a database error (nor the user's cancel) is reported
// as a failure of the file at Path, running out of memory included.
template <class F>
auto NamingTheFile(const std::string& Path, F&& Work) -> decltype(Work()) {
  try {
    return Work();
  } catch (const EDatabaseError&) {
    throw;
  } catch (const EAborted&) {
    throw;
  } catch (const Exception& E) {
    RaiseFileError(Path, E.Message());
  } catch (const std::bad_alloc&) {
    RaiseFileError(Path, OutOfMemoryText());
  }
}

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
  return NamingTheFile(Path, [&]() -> std::shared_ptr<TTableStore> {
    switch (Format) {
      case TTableFormat::Paradox:
        return ReadParadoxFile(Path);
      case TTableFormat::DBase:
        return ReadDBaseFile(Path);
      case TTableFormat::Ascii:
        return ReadAsciiFile(Path);
    }
    return nullptr;
  });
}

}  // namespace

std::shared_ptr<const TTableStore> LoadTableFile(const std::string& Path) {
  const TTableFormat Format = TableFormatOf(Path);
  // A table's files are stamped and read while no writer is putting a new pair of them in place.
  TFolderLock Lock(ExtractFilePath(Path), false);
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
  if (Data.Columns.size() != Data.Defs.size())
    RaiseFileError(Path, "la definición de los campos no coincide con sus columnas");
  SaveTableFile(Path, TTableSlice(Data, Rows));
}

void SaveTableFile(const std::string& Path, const TTableSlice& Data) {
  TableFormatOf(Path);
  const size_t Count = Data.RowCount();
  for (size_t I = 0; I < Data.ColumnCount(); ++I)
    if (Data.Column(I).Size() != Count)
      RaiseFileError(Path, "las columnas de la tabla tienen distinto número de filas");
  if (const std::vector<uint32_t>* Rows = Data.RowList())
    for (uint32_t R : *Rows)
      if (R >= Count)
        RaiseFileError(Path, "la fila " + std::to_string(R) + " no existe en los datos a guardar");
  // Each column is read whole as it is written: decoded first, those of one file together.
  NamingTheFile(Path, [&] {
    std::vector<const TColumn*> Columns;
    for (size_t I = 0; I < Data.ColumnCount(); ++I)
      if (!Data.Column(I).Decoded()) Columns.push_back(&Data.Column(I));
    TDecodingWhole Whole(std::move(Columns));
    for (size_t I = 0; I < Data.ColumnCount(); ++I) Data.Column(I).Decode();
  });
  TSliceSource Source(Data);
  SaveTableFile(Path, Source);
}

void SaveTableFile(const std::string& Path, TRowSource& Source) {
  const TTableFormat Format = TableFormatOf(Path);
  NamingTheFile(Path, [&] {
    switch (Format) {
      case TTableFormat::Paradox: {
        const std::string Memo = CompanionPath(Path, ".mb");
        TTempFile Tmp(Path, ".db");
        TTempFile TmpMemo(Memo, ".mb");
        if (WriteParadoxFile(Tmp.Path(), TmpMemo.Path(), Path, Source))
          TTempFile::CommitAll({&TmpMemo, &Tmp});
        else  // a memo file left by the table replaced would not belong to the new one
          TTempFile::CommitAll({&Tmp}, {Memo});
        break;
      }
      case TTableFormat::DBase: {
        TTempFile Tmp(Path, ".dbf");
        WriteDBaseFile(Tmp.Path(), Path, Source);
        Tmp.Commit();
        break;
      }
      case TTableFormat::Ascii: {
        const std::string Sch = SchemaPathOf(Path);
        TTempFile Tmp(Path, ".txt");
        TTempFile TmpSch(Sch, ".sch");
        WriteAsciiFile(Tmp.Path(), TmpSch.Path(), Path, Source);
        TTempFile::CommitAll({&TmpSch, &Tmp});
        break;
      }
    }
  });
  ClearTableCache(Path);
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

}  // namespace kv
