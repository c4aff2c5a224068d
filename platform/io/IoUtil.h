// Helpers shared by the table-file readers and writers: Spanish file errors, a read-only view
// of a whole file, temporary files renamed into place, code-page tables and number texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "DB.h"

namespace kv {

// Raises EDatabaseError "<What> '<Path>': <Detail>".
[[noreturn]] void RaiseFileError(const std::string& Path, const std::string& Detail);
// Raises EDatabaseError for a file that is damaged: names the file and the fault.
[[noreturn]] void RaiseCorrupt(const std::string& Path, const std::string& Detail);
// The one text for memory that ran out, wherever it did: "no hay memoria suficiente".
const char* OutOfMemoryText();
// The Spanish text of an errno value ("no existe", "permiso denegado", ...).
std::string ErrnoText(int Err);
// Whether A and B name one existing file (the same device and inode: any path to it, links
// included). False when either does not exist.
bool SameFile(const std::string& A, const std::string& B);

// The whole contents of a regular file, mapped read-only. Raises EDatabaseError naming the
// file when it is missing, unreadable or not a regular file. The file stays open while mapped,
// so that a reader decoding it later can tell whether it was changed in place meanwhile.
class TMappedFile {
 public:
  explicit TMappedFile(const std::string& Path);
  ~TMappedFile();
  TMappedFile(const TMappedFile&) = delete;
  TMappedFile& operator=(const TMappedFile&) = delete;
  const uint8_t* Data() const { return FData; }
  size_t Size() const { return FSize; }
  const std::string& Path() const { return FPath; }
  // Whether the file mapped was written to (or cut short) since it was mapped: its size or
  // modification time differ, or a read met pages it no longer has. A file replaced by renaming
  // another over its name is not changed: the mapping keeps the file it had.
  bool Changed() const;
  // Whether a read met pages past the end of the file as it is now (another program cut it
  // short): instead of a bus error ending the process, those pages and the rest of the mapping
  // read as zeros from then on. Readers that find this report the change (CheckUnchanged).
  bool Faulted() const;
  // Raises EDatabaseError "... ha cambiado desde que se abrió la tabla; vuelva a abrirla" naming
  // the file when Changed().
  void CheckUnchanged() const;
  // Lets go of the pages of the mapping read so far (they are read again from the file when
  // needed): a pass over a large table does not keep the whole file resident. Files of a few
  // megabytes stay resident.
  void Release() const;

 private:
  std::string FPath;
  const uint8_t* FData = nullptr;
  size_t FSize = 0;
  bool FMapped = false;
  int FFd = -1;
  int FSlot = -1;  // in the bus-error handler's table of mappings
  int64_t FMTimeNs = 0;
};

// Read()'s result, read from File's mapping: when the file changed meanwhile (cut short, or
// written in place), what was read is of no one version of it, and the change is raised instead
// of the result or of the error Read() raised.
template <class Fn>
auto WhileUnchanged(const TMappedFile& File, Fn&& Read) {
  try {
    auto Result = Read();
    File.CheckUnchanged();
    return Result;
  } catch (...) {
    File.CheckUnchanged();
    throw;
  }
}

class TFileColumns;

// The columns a caller is about to decode whole, one after the other (the columns of a table
// being written), while one lives on this thread: the pages of the files they come from stay
// mapped until it ends, instead of being read again for each column, and the first of them a
// file decodes whole is decoded in one pass together with the others of that file, where its
// format keeps the fields of a record together (the others are kept aside until their own
// decode asks for them, and dropped when this ends). Only the outermost one on a thread counts.
class TDecodingWhole {
 public:
  explicit TDecodingWhole(std::vector<const TColumn*> Columns);
  ~TDecodingWhole();
  TDecodingWhole(const TDecodingWhole&) = delete;
  TDecodingWhole& operator=(const TDecodingWhole&) = delete;

 private:
  friend class TFileColumns;
  static TDecodingWhole* Current();
  std::vector<const TColumn*> FColumns;
  std::vector<std::shared_ptr<const TMappedFile>> FFiles;  // pages kept mapped
  std::vector<const TFileColumns*> FSetAside;              // decoders holding columns for it
  bool FOutermost;
};

// The columns of a table file, decoded from its mapping when first read (see TColumn). Each
// format's reader says how rows of a column decode (DecodeRows); this checks that the file was
// not changed in place since it was opened, turns any failure into an EDatabaseError naming
// the file, and lets go of the pages a pass read.
class TFileColumns : public TColumnDecoder {
 public:
  explicit TFileColumns(std::shared_ptr<const TMappedFile> File) : FFile(std::move(File)) {}
  void Decode(size_t Col, size_t First, size_t Count, TColumn& Out) const final;
  const TMappedFile& File() const { return *FFile; }
  // The store's columns this decodes (Count of them from Columns, Rows rows each), so that a
  // TDecodingWhole can name them; told by MakeFileStore.
  void SetColumns(const TColumn* Columns, size_t Count, size_t Rows);

 protected:
  // Appends rows [First, First + Count) of column Col to Out; raises naming the file.
  virtual void DecodeRows(size_t Col, size_t First, size_t Count, TColumn& Out) const = 0;
  // Appends every row of each column Cols[I] to Outs[I]; raises naming the file. One column
  // after the other unless the format reads a record once for all its fields.
  virtual void DecodeWhole(const std::vector<size_t>& Cols,
                           const std::vector<TColumn*>& Outs) const;
  size_t RowCount() const { return FRows; }

 private:
  friend class TDecodingWhole;
  // Runs Read over the mapping, failures named after the file; the pages are let go of after
  // it, or kept for Whole (when not null).
  template <class Fn>
  void Checked(TDecodingWhole* Whole, Fn&& Read) const;
  // Decodes Col with the other columns of Whole from this file, keeping those aside; false
  // (and Out empty again) when there are none or the pass failed.
  bool DecodeTogether(TDecodingWhole& Whole, size_t Col, TColumn& Out) const;
  // Moves into Out the column Col set aside; false when it is not.
  bool TakeSetAside(size_t Col, TColumn& Out) const;
  void DropSetAside() const;

  std::shared_ptr<const TMappedFile> FFile;
  const TColumn* FColumns = nullptr;
  size_t FColumnCount = 0, FRows = 0;
  mutable std::mutex FSetAsideLock;
  mutable std::vector<std::pair<size_t, std::unique_ptr<TColumn>>> FSetAside;
};

// A store of the columns Defs, each Rows long, that Columns decodes when they are first read;
// Key names the primary-key columns.
std::shared_ptr<TTableStore> MakeFileStore(std::vector<TColumnDef> Defs,
                                           std::vector<std::string> Key, size_t Rows,
                                           std::shared_ptr<TFileColumns> Columns);

// The rows a writer writes: every row of a store in order, or the chosen ones in the given order,
// or a run of either (a chunk).
class TRowSelection {
 public:
  TRowSelection(size_t RowCount, const std::vector<uint32_t>* Rows)
      : FList(Rows ? Rows->data() : nullptr), FCount(Rows ? Rows->size() : RowCount) {}
  // Count rows from the First-th of List (of all rows, in order, when List is null).
  TRowSelection(const uint32_t* List, size_t First, size_t Count)
      : FList(List ? List + First : nullptr), FFirst(First), FCount(Count) {}
  size_t Count() const { return FCount; }
  // The stored row written I-th.
  size_t operator[](size_t I) const { return FList ? FList[I] : FFirst + I; }
  // Calls Fn(Row) for each row written whose value in Col is not empty, in order.
  template <class F>
  void ForEachValue(const TColumn& Col, F&& Fn) const {
    for (size_t I = 0; I < FCount; ++I) {
      const size_t Row = (*this)[I];
      if (!Col.IsNull(Row)) Fn(Row);
    }
  }

 private:
  const uint32_t* FList;
  size_t FFirst = 0;
  size_t FCount;
};

// What a writer writes: chosen rows (stored-row ids, in order) of chosen columns, each column
// under a definition of its own (its name and size in the new file). The columns need not come
// from one store, but all have the same row count. Nothing is copied: the columns must outlive
// the slice.
class TTableSlice {
 public:
  struct TPart {
    TColumnDef Def;
    const TColumn* Column = nullptr;
  };
  // Rows (all when null) of every column of Data, with Data's definitions and primary key.
  explicit TTableSlice(const TTableStore& Data, const std::vector<uint32_t>* Rows = nullptr);
  // Rows (all when null) of Parts, each RowCount rows long; PrimaryKey names the leading
  // columns that form the key (may be empty).
  TTableSlice(std::vector<TPart> Parts, size_t RowCount, const std::vector<uint32_t>* Rows,
              std::vector<std::string> PrimaryKey);
  size_t ColumnCount() const { return FParts.size(); }
  const TColumnDef& Def(size_t I) const { return FParts[I].Def; }
  const TColumn& Column(size_t I) const { return *FParts[I].Column; }
  const std::vector<std::string>& PrimaryKey() const { return FPrimaryKey; }
  size_t RowCount() const { return FRowCount; }
  const TRowSelection& Rows() const { return FRows; }
  const std::vector<uint32_t>* RowList() const { return FRowList; }
  // Narrows the rows written to Count of them from the First-th (of the list, or of all rows).
  void SetRange(size_t First, size_t Count) {
    FRows = TRowSelection(FRowList ? FRowList->data() : nullptr, First, Count);
  }
  // Messages number stored row Row of this slice as RowNumber(Row): a chunk of a longer run of
  // rows counts from the rows before it (Base).
  void SetRowBase(size_t Base) { FRowBase = Base; }
  size_t RowNumber(size_t Row) const { return FRowBase + Row + 1; }

 private:
  std::vector<TPart> FParts;
  std::vector<std::string> FPrimaryKey;
  size_t FRowCount;
  const std::vector<uint32_t>* FRowList;
  TRowSelection FRows;
  size_t FRowBase = 0;
};

// A name for a passing file beside Target, ending in Ext, that no file has yet:
// ".<name>.tmp<pid>-<host>_<n><ext>", where the process id, a tag of this machine and a counter
// keep it apart from other writers.
std::string SiblingName(const std::string& Target, const std::string& Ext);
// Removes from Dir ("" for the current folder) the passing files that processes of this machine
// which no longer exist left behind (killed while writing).
void RemoveStaleTemporaries(const std::string& Dir);

// An advisory lock on a folder, held while it lives: exclusive for replacing the files of a
// table together, shared for reading them. Where the file system has no locks it holds nothing.
class TFolderLock {
 public:
  TFolderLock(const std::string& Dir, bool Exclusive);
  ~TFolderLock();
  TFolderLock(const TFolderLock&) = delete;
  TFolderLock& operator=(const TFolderLock&) = delete;

 private:
  int FFd = -1;
};

// A file written under a temporary name beside its target; Commit renames it over the target,
// the destructor removes it when not committed.
class TTempFile {
 public:
  // Target: the final path; Ext: the extension the temporary name must end with (".dbf").
  // Creates the temporary file empty; raises EDatabaseError naming the target when it cannot.
  TTempFile(const std::string& Target, const std::string& Ext);
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  const std::string& Path() const { return FPath; }
  const std::string& Target() const { return FTarget; }
  // Renames the temporary file over the target; raises EDatabaseError naming the target.
  void Commit();
  // Renames several temporary files (of one folder) over their targets, all or none: when one
  // rename fails, the targets replaced before it get their previous files back (or are removed
  // when they had none) and the error is raised. Once all are in place the Obsolete files (a
  // memo file the new table does not need) are removed. The files of a table (data and schema,
  // data and memos) are replaced together this way, under the folder's lock.
  static void CommitAll(const std::vector<TTempFile*>& Files,
                        const std::vector<std::string>& Obsolete = {});

 private:
  std::string FTarget, FPath;
  bool FDone = false;
};

// A file written sequentially through a large buffer; errors name ErrName (the target).
class TFileWriter {
 public:
  TFileWriter(const std::string& Path, const std::string& ErrName);
  // Continues an existing file from Offset (what follows is cut off).
  TFileWriter(const std::string& Path, const std::string& ErrName, uint64_t Offset);
  ~TFileWriter();
  TFileWriter(const TFileWriter&) = delete;
  TFileWriter& operator=(const TFileWriter&) = delete;
  void Write(const void* Data, size_t N);
  void Write(std::string_view S) { Write(S.data(), S.size()); }
  // Overwrites bytes at Offset (after flushing what is buffered).
  void PatchAt(uint64_t Offset, const void* Data, size_t N);
  // Flushes and closes; raises EDatabaseError when the data did not reach the disk.
  void Close();

 private:
  void Flush();
  void WriteAll(const char* Data, size_t Size);
  int FFd = -1;
  std::string FErrName;
  std::string FBuf;
};

// The regular file of directory Dir ("" for the current one) named Name in any letter case
// (Unicode case folding; the exact name wins), as Dir joined with the name found; "" when none.
// Files copied from other systems come in any case.
std::string FindFileIgnoringCase(const std::string& Dir, const std::string& Name);
// The file beside Path that has Path's name with extension Ext (".mb", ".sch"): an existing one
// in any letter case, else the name as written.
std::string CompanionPath(const std::string& Path, const std::string& Ext);
// Dir and Name joined by one "/" (Name alone when Dir is empty).
std::string JoinPath(const std::string& Dir, const std::string& Name);

// Writes Bytes to Path (created or truncated), raising EDatabaseError naming the file.
void WriteWholeFile(const std::string& Path, std::string_view Bytes);

// Conversion between UTF-8 and a single-byte code page through tables built once per code page.
class TCodePage {
 public:
  // Name as the conversion layer knows it ("CP1252", "CP850", "CP437"); "UTF-8" passes through.
  static const TCodePage& Get(const std::string& Name);
  const std::string& Name() const { return FName; }
  bool IsUtf8() const { return FUtf8; }
  // Appends the UTF-8 form of Bytes to Out. Text said to be UTF-8 that is not is never passed
  // on: it raises Exception(kNotUtf8), for the reader to name the file, record and field.
  void Decode(std::string_view Bytes, std::string& Out) const;
  static const char* const kNotUtf8;  // "el texto no es UTF-8 válido"
  // Appends the code-page form of Utf8 to Out; characters it lacks become '?'.
  void Encode(std::string_view Utf8, std::string& Out) const;
  // Appends Bytes, read in this code page, to Col as one text; Scratch is the caller's working
  // room, kept across the rows of a column so that decoding does not allocate per row. Raises
  // like Decode.
  void AppendTo(TColumn& Col, std::string_view Bytes, std::string& Scratch) const;

 private:
  explicit TCodePage(const std::string& Name);
  std::string FName;
  bool FUtf8 = false;
  std::string FHigh[128];                              // UTF-8 of bytes 0x80..0xFF
  std::vector<std::pair<uint32_t, uint8_t>> FReverse;  // code point -> byte, sorted
  uint8_t FTwoByte[0x800] = {};                        // code points 0x80..0x7FF -> byte (0: none)
};

// Characters in a UTF-8 text: its length once encoded in a single-byte code page.
size_t Utf8Length(std::string_view S);
// The length in characters of the longest value written of a text column. Only values longer in
// bytes than Floor are counted (no shorter one can matter to a caller that makes room for Floor
// characters anyway), so the result is exact whenever it exceeds Floor.
size_t LongestText(const TColumn& Col, const TRowSelection& Rows, size_t Floor);
// True when every byte is ASCII (no conversion needed).
bool IsAscii(std::string_view S);

// Writes V (not negative) with exactly Width digits, zero-padded, at P; returns the end. The
// writers format values of every row this way: printf costs more than the rest of a record.
inline char* PutDigits(char* P, int V, int Width) {
  for (int I = Width - 1; I >= 0; --I, V /= 10) P[I] = static_cast<char>('0' + V % 10);
  return P + Width;
}
// The ISO text of a date, time or date-time value of the calendar (years 1 to 9999; per Type:
// 2024-01-31, 13:45:00, 2024-01-31 13:45:00), with ".zzz" milliseconds when WithMs, into Buf;
// returns its length.
int FormatIsoDateTime(char (&Buf)[40], double Value, TFieldType Type, bool WithMs);
// Whether any value written of a date-time column has a fraction of a second (so that the text
// formats write milliseconds for the whole column).
bool AnyMilliseconds(const TColumn& Col, const TRowSelection& Rows);

// Parses a decimal number ("." point, blanks around allowed); false when not a number.
bool TextToDouble(std::string_view S, double& V);
// Parses a whole number that fits 32 bits; false when not one.
bool TextToInt(std::string_view S, int32_t& V);
// ASCII-only case-insensitive equality.
bool SameTextAscii(std::string_view A, std::string_view B);

}  // namespace kv
