// Paradox ".db" tables: a header (field types, sizes, names, code page) followed by a chain of
// fixed-size data blocks holding fixed-size records. Numbers are big-endian with the sign bit
// flipped so that bytes sort like values; an all-zero field is empty. Every header field is
// checked against the file before use, so a damaged file is an error, never a crash.
#include "paradox/ParadoxFile.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "DB.h"
#include "IoUtil.h"
#include "SysUtils.h"

namespace kv {

namespace {

// Field type codes of the format.
enum : uint8_t {
  pxAlpha = 0x01,
  pxDate = 0x02,
  pxShort = 0x03,
  pxLong = 0x04,
  pxCurrency = 0x05,
  pxNumber = 0x06,
  pxLogical = 0x09,
  pxMemo = 0x0C,
  pxBlob = 0x0D,
  pxFmtMemo = 0x0E,
  pxOle = 0x0F,
  pxGraphic = 0x10,
  pxTime = 0x14,
  pxTimestamp = 0x15,
  pxAutoInc = 0x16,
  pxBcd = 0x17,
  pxBytes = 0x18,
};

constexpr size_t kBaseHeader = 0x58;  // common header
constexpr size_t kDataHeader = 0x78;  // with the extension of version 4 and later
constexpr size_t kBlockHeader = 6;    // next, previous, offset of the last record
constexpr int kVersion7 = 12;
// The format counts days from 0001-01-01 as day 1: this many days before the day numbers of
// TDateTime.
constexpr int64_t kPxDayOffset = 693594;
constexpr double kMsPerDay = MSecsPerDay;

inline uint16_t U16(const uint8_t* P) {
  return static_cast<uint16_t>(P[0] | (P[1] << 8));
}
inline uint32_t U32(const uint8_t* P) {
  return uint32_t(P[0]) | (uint32_t(P[1]) << 8) | (uint32_t(P[2]) << 16) | (uint32_t(P[3]) << 24);
}
inline uint16_t B16(const uint8_t* P) {
  return static_cast<uint16_t>((P[0] << 8) | P[1]);
}
inline uint32_t B32(const uint8_t* P) {
  return (uint32_t(P[0]) << 24) | (uint32_t(P[1]) << 16) | (uint32_t(P[2]) << 8) | uint32_t(P[3]);
}
inline uint64_t B64(const uint8_t* P) {
  return (uint64_t(B32(P)) << 32) | B32(P + 4);
}

inline void PutU16(uint8_t* P, uint32_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
}
inline void PutU32(uint8_t* P, uint32_t V) {
  PutU16(P, V & 0xFFFF);
  PutU16(P + 2, V >> 16);
}
inline void PutB16(uint8_t* P, uint16_t V) {
  P[0] = static_cast<uint8_t>(V >> 8);
  P[1] = static_cast<uint8_t>(V);
}
inline void PutB32(uint8_t* P, uint32_t V) {
  PutB16(P, static_cast<uint16_t>(V >> 16));
  PutB16(P + 2, static_cast<uint16_t>(V));
}
inline void PutB64(uint8_t* P, uint64_t V) {
  PutB32(P, static_cast<uint32_t>(V >> 32));
  PutB32(P + 4, static_cast<uint32_t>(V));
}

// Decodes an 8-byte number; false when the field is empty.
inline bool DecodeDouble(const uint8_t* P, double& V) {
  uint64_t Bits = B64(P);
  if (Bits == 0) return false;
  Bits = (Bits & 0x8000000000000000ull) ? (Bits & 0x7FFFFFFFFFFFFFFFull) : ~Bits;
  std::memcpy(&V, &Bits, 8);
  return true;
}

inline void EncodeDouble(uint8_t* P, double V) {
  uint64_t Bits;
  std::memcpy(&Bits, &V, 8);
  Bits = (Bits & 0x8000000000000000ull) ? ~Bits : (Bits | 0x8000000000000000ull);
  PutB64(P, Bits);
}

const char* TypeName(uint8_t T) {
  switch (T) {
    case pxAlpha:
      return "alfanumérico";
    case pxDate:
      return "fecha";
    case pxShort:
      return "entero corto";
    case pxLong:
      return "entero largo";
    case pxCurrency:
      return "moneda";
    case pxNumber:
      return "número";
    case pxLogical:
      return "lógico";
    case pxMemo:
      return "memo";
    case pxTime:
      return "hora";
    case pxTimestamp:
      return "fecha y hora";
    case pxAutoInc:
      return "autoincremento";
    default:
      return "desconocido";
  }
}

// Whether a field of type T may have size N.
bool ValidFieldSize(uint8_t T, unsigned N) {
  switch (T) {
    case pxAlpha:
    case pxBytes:
      return N >= 1 && N <= 255;
    case pxShort:
      return N == 2;
    case pxLong:
    case pxAutoInc:
    case pxDate:
    case pxTime:
      return N == 4;
    case pxNumber:
    case pxCurrency:
    case pxTimestamp:
      return N == 8;
    case pxLogical:
      return N == 1;
    case pxMemo:
    case pxBlob:
    case pxFmtMemo:
    case pxOle:
    case pxGraphic:
      return N >= 11 && N <= 250;
    case pxBcd:
      return N == 17;
    default:
      return false;
  }
}

TFieldType StoreTypeOf(uint8_t T) {
  switch (T) {
    case pxAlpha:
      return ftString;
    case pxDate:
      return ftDate;
    case pxShort:
      return ftSmallint;
    case pxLong:
      return ftInteger;
    case pxCurrency:
      return ftCurrency;
    case pxNumber:
      return ftFloat;
    case pxLogical:
      return ftBoolean;
    case pxMemo:
      return ftMemo;
    case pxBlob:
      return ftBlob;
    case pxFmtMemo:
      return ftFmtMemo;
    case pxOle:
      return ftParadoxOle;
    case pxGraphic:
      return ftGraphic;
    case pxTime:
      return ftTime;
    case pxTimestamp:
      return ftDateTime;
    case pxAutoInc:
      return ftAutoInc;
    case pxBcd:
      return ftBCD;
    case pxBytes:
      return ftBytes;
    default:
      return ftUnknown;
  }
}

std::string CodePageName(unsigned Cp) {
  switch (Cp) {
    case 437:
    case 737:
    case 775:
    case 850:
    case 852:
    case 855:
    case 857:
    case 860:
    case 861:
    case 862:
    case 863:
    case 864:
    case 865:
    case 866:
    case 869:
    case 874:
    case 1250:
    case 1251:
    case 1252:
    case 1253:
    case 1254:
    case 1255:
    case 1256:
    case 1257:
      return "CP" + std::to_string(Cp);
    default:
      return "CP1252";
  }
}

const TCodePage& CodePageFor(unsigned Cp) {
  try {
    return TCodePage::Get(CodePageName(Cp));
  } catch (const Exception&) {
    return TCodePage::Get("CP1252");
  }
}

struct TPxField {
  uint8_t Type;
  unsigned Size;
  size_t Offset;
  std::string Name;
};

// Text of a fixed-size field: up to the first NUL.
inline std::string_view FieldText(const uint8_t* P, size_t N) {
  const void* Z = std::memchr(P, 0, N);
  size_t Len = Z ? static_cast<size_t>(static_cast<const uint8_t*>(Z) - P) : N;
  return std::string_view(reinterpret_cast<const char*>(P), Len);
}

// The ".mb" file beside a table: memo texts longer than the part a record keeps. Blocks of
// 4 KB; a text lives alone in a block run (type 2, index 0xFF) or in one of 64 slots of a shared
// block (type 3). Mapped when the table is opened, together with it, so that both are of one
// version; a missing memo file is an error only for a text that needs it. Every offset is
// checked against the file.
class TMemoFile {
 public:
  explicit TMemoFile(const std::string& TablePath) : FTablePath(TablePath) {
    FPath = CompanionPath(TablePath, ".mb");
    if (::access(FPath.c_str(), F_OK) == 0) FFile = std::make_shared<TMappedFile>(FPath);
  }

  std::string_view Text(uint32_t Pointer, uint32_t Len, const std::string& Field) const {
    if (!FFile) RaiseCorrupt(FTablePath, "falta el archivo de memos '" + FPath + "'");
    const size_t Block = Pointer & 0xFFFFFF00u;
    const unsigned Index = Pointer & 0xFF;
    const uint8_t* D = FFile->Data();
    const size_t Size = FFile->Size();
    auto Bad = [&](const std::string& Why) {
      RaiseCorrupt(FFile->Path(), "el memo del campo '" + Field + "' " + Why);
    };
    if (Block == 0 || Block + 12 > Size) Bad("apunta fuera del archivo");
    if (Index == 0xFF) {
      if (D[Block] != 2) Bad("apunta a un bloque que no es de memos");
      if (U32(D + Block + 3) != Len || Block + 9 + size_t(Len) > Size)
        Bad("tiene una longitud que no coincide con el archivo");
      return std::string_view(reinterpret_cast<const char*>(D + Block + 9), Len);
    }
    if (D[Block] != 3 || Index >= 64) Bad("apunta a un bloque que no es de memos");
    const size_t Entry = Block + 12 + size_t(Index) * 5;
    if (Entry + 5 > Size) Bad("apunta fuera del archivo");
    const size_t Start = Block + size_t(D[Entry]) * 16;
    if (size_t(Len) > size_t(D[Entry + 1]) * 16 || Start + Len > Size || Start + Len > Block + 4096)
      Bad("tiene una longitud que no coincide con el archivo");
    return std::string_view(reinterpret_cast<const char*>(D + Start), Len);
  }

  // Checks, before texts are read from it, that the memo file was not written in place since
  // it was opened.
  void CheckUnchanged() const {
    if (FFile) FFile->CheckUnchanged();
  }

 private:
  std::string FTablePath, FPath;
  std::shared_ptr<const TMappedFile> FFile;
};

// What the header says, each value checked against the file.
struct TPxHeader {
  unsigned RecordSize, HeaderSize, FileBlocks, FirstBlock, NumFields, KeyFields, Version;
  uint32_t NumRecords;
  size_t BlockSize, FieldInfo;
  unsigned CodePage;
};

TPxHeader CheckHeader(const TMappedFile& F) {
  const std::string& Path = F.Path();
  const uint8_t* D = F.Data();
  const size_t FileSize = F.Size();
  if (FileSize < kBaseHeader)
    RaiseCorrupt(Path, "está truncado (" + std::to_string(FileSize) +
                           " bytes, la cabecera necesita " + std::to_string(kBaseHeader) + ")");
  TPxHeader H;
  H.RecordSize = U16(D + 0x00);
  H.HeaderSize = U16(D + 0x02);
  const unsigned FileType = D[0x04];
  const unsigned MaxTableSize = D[0x05];
  H.NumRecords = U32(D + 0x06);
  H.FileBlocks = U16(D + 0x0C);
  H.FirstBlock = U16(D + 0x0E);
  H.NumFields = U16(D + 0x21);
  H.KeyFields = U16(D + 0x23);
  H.Version = D[0x39];

  if (FileType != 0 && FileType != 2)
    RaiseCorrupt(Path,
                 "no es una tabla de datos (tipo de archivo " + std::to_string(FileType) + ")");
  if (H.Version < 3 || H.Version > 12)
    RaiseCorrupt(Path, "versión de formato desconocida (" + std::to_string(H.Version) + ")");
  if (MaxTableSize != 1 && MaxTableSize != 2 && MaxTableSize != 3 && MaxTableSize != 4 &&
      MaxTableSize != 8 && MaxTableSize != 16 && MaxTableSize != 32)
    RaiseCorrupt(Path, "tamaño de bloque no válido (" + std::to_string(MaxTableSize) + ")");
  H.BlockSize = size_t(MaxTableSize) * 1024;
  if (H.NumFields == 0 || H.NumFields > 255)
    RaiseCorrupt(Path, "número de campos fuera de rango (" + std::to_string(H.NumFields) + ")");
  if (H.KeyFields > H.NumFields)
    RaiseCorrupt(Path, "la clave primaria declara " + std::to_string(H.KeyFields) +
                           " campos y la tabla tiene " + std::to_string(H.NumFields));
  if (H.RecordSize == 0 || H.RecordSize + kBlockHeader > H.BlockSize)
    RaiseCorrupt(Path, "tamaño de registro fuera de rango (" + std::to_string(H.RecordSize) + ")");
  const bool Extended = H.Version >= 5;
  H.FieldInfo = Extended ? kDataHeader : kBaseHeader;
  if (H.HeaderSize < H.FieldInfo + H.NumFields * 2)
    RaiseCorrupt(Path, "tamaño de cabecera fuera de rango (" + std::to_string(H.HeaderSize) + ")");
  if (H.HeaderSize > FileSize)
    RaiseCorrupt(Path, "está truncado (la cabecera declara " + std::to_string(H.HeaderSize) +
                           " bytes y el archivo tiene " + std::to_string(FileSize) + ")");
  if (Extended && U32(D + 0x5C) != 0) RaiseCorrupt(Path, "la tabla está cifrada");
  H.CodePage = Extended ? U16(D + 0x6A) : 437;
  return H;
}

// The fields' types, sizes and places in the record, then their names (which follow the
// table-name pointer, the name pointers and the table name).
std::vector<TPxField> ReadLayout(const TMappedFile& F, const TPxHeader& H, const TCodePage& Cp) {
  const std::string& Path = F.Path();
  const uint8_t* D = F.Data();
  std::vector<TPxField> Fields(H.NumFields);
  size_t Offset = 0;
  for (unsigned I = 0; I < H.NumFields; ++I) {
    TPxField& Fd = Fields[I];
    Fd.Type = D[H.FieldInfo + I * 2];
    Fd.Size = D[H.FieldInfo + I * 2 + 1];
    Fd.Offset = Offset;
    if (StoreTypeOf(Fd.Type) == ftUnknown)
      RaiseCorrupt(Path, "el campo " + std::to_string(I + 1) + " tiene un tipo desconocido (" +
                             std::to_string(Fd.Type) + ")");
    if (!ValidFieldSize(Fd.Type, Fd.Size))
      RaiseCorrupt(Path, "el campo " + std::to_string(I + 1) + " de tipo " + TypeName(Fd.Type) +
                             " tiene un tamaño no válido (" + std::to_string(Fd.Size) + ")");
    Offset += Fd.Size;
  }
  if (Offset != H.RecordSize)
    RaiseCorrupt(Path, "el tamaño de registro (" + std::to_string(H.RecordSize) +
                           ") no coincide con el de sus campos (" + std::to_string(Offset) + ")");

  size_t P =
      H.FieldInfo + H.NumFields * 2 + 4 + H.NumFields * 4 + (H.Version >= kVersion7 ? 261 : 79);
  for (unsigned I = 0; I < H.NumFields; ++I) {
    if (P >= H.HeaderSize) RaiseCorrupt(Path, "los nombres de campo exceden la cabecera");
    const void* Z = std::memchr(D + P, 0, H.HeaderSize - P);
    if (!Z) RaiseCorrupt(Path, "los nombres de campo exceden la cabecera");
    size_t Len = static_cast<size_t>(static_cast<const uint8_t*>(Z) - (D + P));
    Cp.Decode(std::string_view(reinterpret_cast<const char*>(D + P), Len), Fields[I].Name);
    if (Fields[I].Name.empty()) Fields[I].Name = "Field" + std::to_string(I + 1);
    P += Len + 1;
  }
  return Fields;
}

// The columns the fields become.
std::vector<TColumnDef> ColumnDefs(const std::vector<TPxField>& Fields) {
  std::vector<TColumnDef> Defs;
  for (const TPxField& Fd : Fields) {
    TColumnDef Def;
    Def.Name = Fd.Name;
    Def.DataType = StoreTypeOf(Fd.Type);
    Def.Size = Fd.Type == pxAlpha                            ? int(Fd.Size)
               : (Fd.Type == pxMemo || Fd.Type == pxFmtMemo) ? int(Fd.Size) - 10
                                                             : 0;
    Defs.push_back(std::move(Def));
  }
  return Defs;
}

// One data block of the chain: its records and the next block's number (0 at the end).
struct TPxBlock {
  const uint8_t* Records;
  size_t Count;
  unsigned Next;
};

// Walks the chain of data blocks, checking each against the header and the file: no block
// outside the file, none twice, none holding more records than fit or than the header counts.
class TBlockChain {
 public:
  TBlockChain(const TMappedFile& F, const TPxHeader& H, size_t Expected)
      : FFile(F), FH(H), FExpected(Expected), FVisited(size_t(H.FileBlocks) + 1, 0) {
    FBlock = H.NumRecords == 0 && H.FirstBlock == 0 ? 0 : H.FirstBlock;
  }
  // The next block, false after the last.
  bool Next(TPxBlock& Out) {
    if (FBlock == 0) return false;
    const std::string& Path = FFile.Path();
    const unsigned Block = FBlock;
    if (Block > FH.FileBlocks)
      RaiseCorrupt(Path, "la cadena de bloques apunta al bloque " + std::to_string(Block) +
                             ", fuera de los " + std::to_string(FH.FileBlocks) + " del archivo");
    if (FVisited[Block])
      RaiseCorrupt(Path,
                   "la cadena de bloques forma un ciclo en el bloque " + std::to_string(Block));
    FVisited[Block] = 1;
    const size_t Start = FH.HeaderSize + (size_t(Block) - 1) * FH.BlockSize;
    if (Start + kBlockHeader > FFile.Size())
      RaiseCorrupt(Path, "está truncado (falta el bloque " + std::to_string(Block) + ")");
    const uint8_t* B = FFile.Data() + Start;
    const int16_t AddSize = static_cast<int16_t>(U16(B + 4));
    size_t Count = 0;
    if (AddSize >= 0) {
      if (AddSize % FH.RecordSize != 0)
        RaiseCorrupt(Path,
                     "el bloque " + std::to_string(Block) + " tiene un tamaño de datos no válido");
      Count = size_t(AddSize) / FH.RecordSize + 1;
    }
    if (kBlockHeader + Count * FH.RecordSize > FH.BlockSize)
      RaiseCorrupt(
          Path, "el bloque " + std::to_string(Block) + " declara más registros de los que caben");
    if (Start + kBlockHeader + Count * FH.RecordSize > FFile.Size())
      RaiseCorrupt(Path, "está truncado (el bloque " + std::to_string(Block) + " está incompleto)");
    if (FTotal + Count > FExpected)
      RaiseCorrupt(Path, "los bloques contienen más registros de los " +
                             std::to_string(FH.NumRecords) + " que declara la cabecera");
    FTotal += Count;
    FBlock = U16(B);
    Out = {B + kBlockHeader, Count, FBlock};
    return true;
  }
  size_t Total() const { return FTotal; }

 private:
  const TMappedFile& FFile;
  const TPxHeader& FH;
  size_t FExpected;
  std::vector<uint8_t> FVisited;
  unsigned FBlock;
  size_t FTotal = 0;
};

bool IsMemoType(uint8_t T) {
  return T == pxMemo || T == pxFmtMemo;
}

// Appends Count values of one field, RecordSize apart from V on, to Col. Memos is the table's
// memo file (null when the table has no memo field).
void DecodeField(const TPxField& Fd, TColumn& Col, const uint8_t* V, size_t Count,
                 size_t RecordSize, const TCodePage& Cp, const TMemoFile* Memos,
                 std::string& Scratch) {
  switch (Fd.Type) {
    case pxAlpha:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        Cp.AppendTo(Col, FieldText(V, Fd.Size), Scratch);
      }
      break;
    case pxMemo:
    case pxFmtMemo:
      // The record keeps the first Size-10 bytes of the text and the text's length.
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        uint32_t Len = U32(V + Fd.Size - 6);
        if (Len == 0) {
          Col.AppendNull();
          continue;
        }
        std::string_view S = Len <= Fd.Size - 10 ? FieldText(V, Len)
                                                 : Memos->Text(U32(V + Fd.Size - 10), Len, Fd.Name);
        Cp.AppendTo(Col, S, Scratch);
      }
      break;
    case pxShort:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        uint16_t X = B16(V);
        if (X == 0)
          Col.AppendNull();
        else
          Col.AppendInt(static_cast<int16_t>(X ^ 0x8000));
      }
      break;
    case pxLong:
    case pxAutoInc:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        uint32_t X = B32(V);
        if (X == 0)
          Col.AppendNull();
        else
          Col.AppendInt(static_cast<int32_t>(X ^ 0x80000000u));
      }
      break;
    case pxDate:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        uint32_t X = B32(V);
        if (X == 0)
          Col.AppendNull();
        else
          Col.AppendDouble(double(int64_t(int32_t(X ^ 0x80000000u)) - kPxDayOffset));
      }
      break;
    case pxTime:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        uint32_t X = B32(V);
        if (X == 0)
          Col.AppendNull();
        else
          Col.AppendDouble(double(int32_t(X ^ 0x80000000u)) / kMsPerDay);
      }
      break;
    case pxNumber:
    case pxCurrency:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        double X;
        if (DecodeDouble(V, X))
          Col.AppendDouble(X);
        else
          Col.AppendNull();
      }
      break;
    case pxTimestamp:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        double X = 0;
        double Days = DecodeDouble(V, X) && std::isfinite(X) ? std::floor(X / kMsPerDay) : 0;
        // Only days of years 1 to 9999 are dates; anything else reads as no date.
        if (Days < double(MinDayNumber + kPxDayOffset) ||
            Days > double(MaxDayNumber + kPxDayOffset)) {
          Col.AppendNull();
          continue;
        }
        const int64_t Ms = std::llround(X - Days * kMsPerDay);
        Col.AppendDouble(JoinDateTime(int64_t(Days) - kPxDayOffset, Ms).Val);
      }
      break;
    case pxLogical:
      for (size_t R = 0; R < Count; ++R, V += RecordSize) {
        if (*V == 0)
          Col.AppendNull();
        else
          Col.AppendInt(*V != 0x80 ? 1 : 0);
      }
      break;
    default:
      // Binary kinds (blob, graphic, OLE, bytes, BCD) are not shown as text.
      for (size_t R = 0; R < Count; ++R) Col.AppendNull();
      break;
  }
}

// A run of the table's records in row order: the records of one data block.
struct TPxRun {
  size_t FirstRow;
  const uint8_t* Records;
  size_t Count;
};

// The columns of a Paradox table, decoded from the mapped file a block's records at a time.
class TParadoxColumns : public TFileColumns {
 public:
  TParadoxColumns(std::shared_ptr<const TMappedFile> File, std::vector<TPxField> Fields,
                  size_t RecordSize, const TCodePage& Cp, std::vector<TPxRun> Runs,
                  std::unique_ptr<TMemoFile> Memos)
      : TFileColumns(std::move(File)),
        FFields(std::move(Fields)),
        FRecordSize(RecordSize),
        FCp(Cp),
        FRuns(std::move(Runs)),
        FMemos(std::move(Memos)) {}

 protected:
  void DecodeRows(size_t Col, size_t First, size_t Count, TColumn& Out) const override {
    const TPxField& Fd = FFields[Col];
    if (!FMemos || !IsMemoType(Fd.Type)) return DecodeRuns(Fd, First, Count, Out);
    FMemos->CheckUnchanged();
    try {
      DecodeRuns(Fd, First, Count, Out);
    } catch (const Exception&) {
      // A memo file cut short meanwhile reads as zeros: that is the change, not damage.
      FMemos->CheckUnchanged();
      throw;
    }
    FMemos->CheckUnchanged();
  }
  // The records are read a block at a time, each block once for all the columns: a block of
  // records stays in the cache while its fields are decoded column after column.
  void DecodeWhole(const std::vector<size_t>& Cols,
                   const std::vector<TColumn*>& Outs) const override {
    const size_t Rows = RowCount();
    const size_t Block =
        std::max<size_t>(64, (size_t(256) << 10) / std::max<size_t>(FRecordSize, 1));
    for (size_t First = 0; First < Rows; First += Block) {
      const size_t N = std::min(Block, Rows - First);
      for (size_t I = 0; I < Cols.size(); ++I) {
        TColumn& Out = *Outs[I];
        DecodeRows(Cols[I], First, N, Out);
        // One reservation for the text, sized from the first block, as a pass over one column
        // makes it.
        if (First == 0 && N < Rows && Out.Kind() == TStorageKind::String && N > 0) {
          size_t Used = 0;
          for (size_t R = 0; R < N; ++R) Used += Out.Str(R).size();
          Out.Reserve(Rows, size_t(double(Used) / double(N) * double(Rows) * 1.1) + 64);
        }
      }
    }
  }

 private:
  void DecodeRuns(const TPxField& Fd, size_t First, size_t Count, TColumn& Out) const {
    // The run holding the first row wanted: the last that starts at or before it.
    auto Run = std::upper_bound(FRuns.begin(), FRuns.end(), First,
                                [](size_t Row, const TPxRun& R) { return Row < R.FirstRow; });
    if (Run == FRuns.begin()) return;
    --Run;
    const bool Text = Fd.Type == pxAlpha || IsMemoType(Fd.Type);
    std::string Scratch;
    for (size_t Row = First, End = First + Count; Row < End && Run != FRuns.end(); ++Run) {
      const size_t Skip = Row - Run->FirstRow;
      const size_t N = std::min(Run->Count - Skip, End - Row);
      DecodeField(Fd, Out, Run->Records + Skip * FRecordSize + Fd.Offset, N, FRecordSize, FCp,
                  FMemos.get(), Scratch);
      // One reservation for the text, sized from the first run, keeps the arena from doubling
      // again and again over a long pass.
      if (Text && Row == First && End - Row > N) {
        size_t Used = 0;
        for (size_t R = 0; R < N; ++R) Used += Out.Str(R).size();
        Out.Reserve(Count, size_t(double(Used) / double(N) * double(Count) * 1.1) + 64);
      }
      Row += N;
    }
  }

  std::vector<TPxField> FFields;
  size_t FRecordSize;
  const TCodePage& FCp;
  std::vector<TPxRun> FRuns;
  std::unique_ptr<TMemoFile> FMemos;
};

}  // namespace

std::shared_ptr<TTableStore> ReadParadoxFile(const std::string& Path) {
  auto F = std::make_shared<TMappedFile>(Path);
  return WhileUnchanged(*F, [&] {
    const TPxHeader H = CheckHeader(*F);
    const TCodePage& Cp = CodePageFor(H.CodePage);
    std::vector<TPxField> Fields = ReadLayout(*F, H, Cp);
    // Never trust the claimed count further than the file could hold.
    const size_t Expected =
        std::min<size_t>(H.NumRecords, (F->Size() - H.HeaderSize) / H.RecordSize);
    // The chain is walked now, so that a damaged one is found on opening and every row has its
    // place; the values are decoded when first read.
    std::vector<TPxRun> Runs;
    TBlockChain Chain(*F, H, Expected);
    for (TPxBlock B; Chain.Next(B);)
      if (B.Count > 0) Runs.push_back({Chain.Total() - B.Count, B.Records, B.Count});
    F->Release();
    if (Chain.Total() != H.NumRecords)
      RaiseCorrupt(Path, "la cabecera declara " + std::to_string(H.NumRecords) +
                             " registros y los bloques contienen " + std::to_string(Chain.Total()));
    std::vector<std::string> Key;
    for (unsigned I = 0; I < H.KeyFields; ++I) Key.push_back(Fields[I].Name);
    std::vector<TColumnDef> Defs = ColumnDefs(Fields);
    std::unique_ptr<TMemoFile> Memos;
    if (std::any_of(Fields.begin(), Fields.end(),
                    [](const TPxField& Fd) { return IsMemoType(Fd.Type); }))
      Memos = std::make_unique<TMemoFile>(Path);
    auto Columns = std::make_shared<TParadoxColumns>(F, std::move(Fields), H.RecordSize, Cp,
                                                     std::move(Runs), std::move(Memos));
    return MakeFileStore(std::move(Defs), std::move(Key), H.NumRecords, std::move(Columns));
  });
}

// ------------------------------------------------------------------------------------ writer

namespace {

struct TOutField {
  uint8_t Type;
  unsigned Size;
  size_t Offset;
  int Col;
};

// Writes the memo file: a header block, then each long text alone in a run of 4 KB blocks.
class TMemoWriter {
 public:
  TMemoWriter(const std::string& Path, const std::string& ErrName)
      : FPath(Path), FErrName(ErrName) {}

  // Stores Text; returns the pointer the record keeps (block offset, index 0xFF).
  uint32_t Add(const std::string& Text) {
    if (!FFile) {
      FFile = std::make_unique<TFileWriter>(FPath, FErrName);
      uint8_t Head[kMemoBlock] = {0x00, 0x01, 0x00, 0x01, 0x00, 0x82, 0x73, 0x02, 0x00, 0x29, 0x00,
                                  0x00, 0x10, 0x00, 0x10, 0x00, 0x10, 0x40, 0x00, 0x00, 0x08};
      FFile->Write(Head, sizeof Head);
      FNext = kMemoBlock;
    }
    const size_t Blocks = (9 + Text.size() + kMemoBlock - 1) / kMemoBlock;
    if (FNext + Blocks * kMemoBlock > 0xFFFFFF00u || Blocks > 0xFFFF)
      RaiseFileError(FErrName, "los memos no caben en el archivo de memos");
    uint8_t Head[9] = {0x02};
    PutU16(Head + 1, static_cast<uint32_t>(Blocks));
    PutU32(Head + 3, static_cast<uint32_t>(Text.size()));
    PutU16(Head + 7, 1);
    static const char Zeros[kMemoBlock] = {};
    FFile->Write(Zeros, FPadding);
    FFile->Write(Head, sizeof Head);
    FFile->Write(Text);
    // The last run stays unpadded: a memo file whose size is a whole number of blocks makes
    // some readers fail.
    FPadding = Blocks * kMemoBlock - 9 - Text.size();
    const uint32_t Pointer = static_cast<uint32_t>(FNext) | 0xFF;
    FNext += Blocks * kMemoBlock;
    return Pointer;
  }

  // Finishes the file; false when no text needed it (and no file was made).
  bool Close() {
    if (!FFile) return false;
    FFile->Close();
    return true;
  }

 private:
  static constexpr size_t kMemoBlock = 4096;
  std::string FPath, FErrName;
  std::unique_ptr<TFileWriter> FFile;
  size_t FNext = 0;
  size_t FPadding = 0;
};

uint8_t PxTypeFor(TFieldType T) {
  switch (T) {
    case ftString:
      return pxAlpha;
    case ftSmallint:
      return pxShort;
    case ftInteger:
    case ftWord:
      return pxLong;
    case ftAutoInc:
      return pxAutoInc;
    case ftFloat:
    case ftBCD:
      return pxNumber;
    case ftCurrency:
      return pxCurrency;
    case ftBoolean:
      return pxLogical;
    case ftDate:
      return pxDate;
    case ftTime:
      return pxTime;
    case ftDateTime:
      return pxTimestamp;
    case ftMemo:
    case ftFmtMemo:
      return pxMemo;
    default:
      return 0;
  }
}

// What the values of a column need of its field, gathered chunk after chunk.
struct TPxStats {
  size_t MaxLen = 0;  // texts: the longest value, in characters
};

// The limit of a text column's part in the record.
size_t TextLimit(uint8_t Type) {
  return Type == pxAlpha ? 255 : 240;
}

// The Paradox type of a column; raises naming the field for a type the format lacks.
uint8_t FieldTypeOf(const TColumnDef& Def, TFieldType T, const std::string& ErrName) {
  const uint8_t Type = PxTypeFor(T);
  if (Type == 0)
    RaiseFileError(ErrName, "el campo '" + Def.Name + "' es de tipo " + FieldTypeName(T) +
                                ", que una tabla Paradox no puede guardar");
  return Type;
}

// Adds the rows of one chunk of column I to St (and the largest autoincrement value to
// MaxAutoInc). Raises naming the field for a value the format cannot hold.
void ScanField(TPxStats& St, const TTableSlice& Data, size_t I, uint8_t Type,
               const std::string& ErrName, int32_t& MaxAutoInc) {
  const TColumnDef& Def = Data.Def(I);
  const TColumn& Col = Data.Column(I);
  const TRowSelection& Rows = Data.Rows();
  switch (Type) {
    case pxAlpha:
    case pxMemo:
      St.MaxLen = std::max(
          St.MaxLen,
          LongestText(Col, Rows,
                      std::max(St.MaxLen, std::min<size_t>(Def.Size > 0 ? size_t(Def.Size) : 1,
                                                           TextLimit(Type)))));
      break;
    case pxShort:
      Rows.ForEachValue(Col, [&](size_t Row) {
        if (Col.Int(Row) < -32767 || Col.Int(Row) > 32767)
          RaiseFileError(ErrName, "el valor " + std::to_string(Col.Int(Row)) + " del campo '" +
                                      Def.Name + "' no cabe en un entero corto");
      });
      break;
    case pxLong:
    case pxAutoInc:
      Rows.ForEachValue(Col, [&](size_t Row) {
        if (Col.Int(Row) == std::numeric_limits<int32_t>::min())
          RaiseFileError(ErrName, "el valor " + std::to_string(Col.Int(Row)) + " del campo '" +
                                      Def.Name + "' no cabe en un entero largo");
        if (Type == pxAutoInc) MaxAutoInc = std::max(MaxAutoInc, Col.Int(Row));
      });
      break;
    case pxNumber:
    case pxCurrency:
    case pxDate:
    case pxTime:
    case pxTimestamp:
      Rows.ForEachValue(Col, [&](size_t Row) {
        const double X = Col.Double(Row);
        bool Ok = std::isfinite(X);
        if (Ok && Type != pxNumber && Type != pxCurrency) Ok = IsInCalendar(TDateTime(X));
        if (!Ok)
          RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Data.RowNumber(Row)) +
                                      " del campo '" + Def.Name +
                                      "' está fuera del rango que admite la tabla");
      });
      break;
    default:
      break;
  }
}

// The field a column becomes once every row was scanned: its type, its size in the record
// (texts as long as their longest value, up to the limit; a memo keeps the rest in the memo
// file). Raises naming the field for an alpha text too long.
TOutField PlanField(const TColumnDef& Def, uint8_t Type, const TPxStats& St,
                    const std::string& ErrName) {
  TOutField O;
  O.Type = Type;
  if (O.Type == pxAlpha || O.Type == pxMemo) {
    const size_t Limit = TextLimit(O.Type);
    const size_t MaxLen = St.MaxLen;
    if (MaxLen > Limit && O.Type == pxAlpha)
      RaiseFileError(ErrName, "un valor del campo '" + Def.Name + "' tiene " +
                                  std::to_string(MaxLen) + " caracteres y el máximo es " +
                                  std::to_string(Limit));
    size_t Size = std::max<size_t>({MaxLen, Def.Size > 0 ? size_t(Def.Size) : 0, 1});
    if (MaxLen > Limit) Size = Def.Size > 0 ? size_t(Def.Size) : 40;  // the rest: memo file
    O.Size = static_cast<unsigned>(std::min(Size, Limit));
    if (O.Type == pxMemo) O.Size += 10;
  } else {
    O.Size = O.Type == pxShort                                                       ? 2
             : O.Type == pxLogical                                                   ? 1
             : (O.Type == pxNumber || O.Type == pxCurrency || O.Type == pxTimestamp) ? 8
                                                                                     : 4;
  }
  return O;
}

// How the records are laid out in blocks.
struct TBlockPlan {
  unsigned MaxTableSize = 0;  // block size in KB
  size_t BlockSize = 0, PerBlock = 0, NumBlocks = 0;
};

// The smallest block size that holds a record and keeps the block count in 16 bits.
TBlockPlan PlanBlocks(size_t RecordSize, size_t RowCount, const std::string& ErrName) {
  TBlockPlan P;
  for (unsigned Kb : {4u, 8u, 16u, 32u}) {
    const size_t Bs = size_t(Kb) * 1024;
    if (RecordSize + kBlockHeader > Bs) continue;
    P.PerBlock = (Bs - kBlockHeader) / RecordSize;
    P.NumBlocks = (RowCount + P.PerBlock - 1) / P.PerBlock;
    if (P.NumBlocks <= 65535) {
      P.MaxTableSize = Kb;
      P.BlockSize = Bs;
      return P;
    }
  }
  RaiseFileError(ErrName, RecordSize + kBlockHeader > 32 * 1024
                              ? "el registro es demasiado largo para una tabla Paradox"
                              : "demasiados registros para una tabla Paradox");
}

// The header: fixed part, field descriptions, table name, field names, field numbers, sort
// order, in CP1252, padded to whole 2 KB.
std::vector<uint8_t> BuildHeader(const TTableSlice& Data, const std::vector<TOutField>& Out,
                                 size_t RecordSize, const TBlockPlan& Plan, size_t RowCount,
                                 int32_t MaxAutoInc, const std::string& ErrName,
                                 const TCodePage& Cp) {
  const size_t NumFields = Out.size();
  std::string TableEnc;
  Cp.Encode(ExtractFileName(ErrName), TableEnc);
  if (TableEnc.size() > 260) TableEnc.resize(260);
  std::vector<std::string> Names(NumFields);
  size_t NamesBytes = 0;
  for (size_t I = 0; I < NumFields; ++I) {
    Cp.Encode(Data.Def(I).Name, Names[I]);
    if (Names[I].empty() || Names[I].find('\0') != std::string::npos)
      RaiseFileError(ErrName, "el campo " + std::to_string(I + 1) + " no tiene un nombre válido");
    NamesBytes += Names[I].size() + 1;
  }
  static const char kSortOrder[] = "ANSIINTL";
  const size_t Needed = kDataHeader + NumFields * 2 + 4 + NumFields * 4 + 261 + NamesBytes +
                        NumFields * 2 + sizeof kSortOrder;
  const size_t HeaderSize = (Needed + 0x7FF) / 0x800 * 0x800;
  if (HeaderSize > 0xF800) RaiseFileError(ErrName, "la cabecera de la tabla es demasiado grande");

  const uint32_t NumBlocks = static_cast<uint32_t>(Plan.NumBlocks);
  std::vector<uint8_t> H(HeaderSize, 0);
  PutU16(&H[0x00], static_cast<uint32_t>(RecordSize));
  PutU16(&H[0x02], static_cast<uint32_t>(HeaderSize));
  H[0x04] = Data.PrimaryKey().empty() ? 2 : 0;
  H[0x05] = static_cast<uint8_t>(Plan.MaxTableSize);
  PutU32(&H[0x06], static_cast<uint32_t>(RowCount));
  PutU16(&H[0x0A], NumBlocks);
  PutU16(&H[0x0C], NumBlocks);
  PutU16(&H[0x0E], NumBlocks ? 1 : 0);
  PutU16(&H[0x10], NumBlocks);
  PutU16(&H[0x21], static_cast<uint32_t>(NumFields));
  PutU16(&H[0x23], static_cast<uint32_t>(Data.PrimaryKey().size()));
  H[0x26] = 0xFF;
  H[0x28] = 0xFF;
  H[0x29] = 0x62;  // sort order
  H[0x2D] = 0x02;
  H[0x2E] = 0x01;
  H[0x39] = kVersion7;
  PutU16(&H[0x3A], NumBlocks);
  H[0x3E] = 0x1F;
  H[0x3F] = 0x0F;
  PutU32(&H[0x49], static_cast<uint32_t>(MaxAutoInc));
  H[0x55] = 0xF0;
  H[0x56] = 0x20;
  PutU16(&H[0x58], 0x010C);
  PutU16(&H[0x5A], 0x010C);
  PutU16(&H[0x64], static_cast<uint32_t>(NumFields + 1));
  PutU16(&H[0x6A], 1252);
  size_t P = kDataHeader;
  for (const TOutField& O : Out) {
    H[P++] = O.Type;
    H[P++] = static_cast<uint8_t>(O.Size);
  }
  P += 4 + NumFields * 4;
  std::memcpy(&H[P], TableEnc.data(), TableEnc.size());
  P += 261;
  for (const std::string& N : Names) {
    std::memcpy(&H[P], N.data(), N.size());
    P += N.size() + 1;
  }
  for (size_t I = 0; I < NumFields; ++I, P += 2) PutU16(&H[P], static_cast<uint32_t>(I + 1));
  std::memcpy(&H[P], kSortOrder, sizeof kSortOrder);
  return H;
}

// Writes stored row Row into the record at Rec (all zeros: empty fields stay so).
void EncodeRecord(uint8_t* Rec, const TTableSlice& Data, const std::vector<TOutField>& Out,
                  size_t Row, const TCodePage& Cp, TMemoWriter& Memos, std::string& Enc) {
  for (const TOutField& O : Out) {
    const TColumn& Col = Data.Column(O.Col);
    if (Col.IsNull(Row)) continue;
    uint8_t* V = Rec + O.Offset;
    switch (O.Type) {
      case pxAlpha:
      case pxMemo: {
        Enc.clear();
        Cp.Encode(Col.Str(Row), Enc);
        size_t N = std::min<size_t>(Enc.size(), O.Type == pxMemo ? O.Size - 10 : O.Size);
        std::memcpy(V, Enc.data(), N);
        if (O.Type == pxMemo) {
          // The record keeps the first part; a longer text goes whole to the memo file.
          if (Enc.size() > N) PutU32(V + O.Size - 10, Memos.Add(Enc));
          PutU32(V + O.Size - 6, static_cast<uint32_t>(Enc.size()));
          PutU16(V + O.Size - 2, 1);
        }
        break;
      }
      case pxShort:
        PutB16(V, static_cast<uint16_t>(Col.Int(Row)) ^ 0x8000);
        break;
      case pxLong:
      case pxAutoInc:
        PutB32(V, static_cast<uint32_t>(Col.Int(Row)) ^ 0x80000000u);
        break;
      case pxLogical:
        *V = Col.Int(Row) ? 0x81 : 0x80;
        break;
      case pxNumber:
      case pxCurrency:
        EncodeDouble(V, Col.Double(Row));
        break;
      case pxDate:
      case pxTime:
      case pxTimestamp: {
        int64_t Days, Ms;
        SplitDateTime(TDateTime(Col.Double(Row)), Days, Ms);
        if (O.Type == pxDate)
          PutB32(V, static_cast<uint32_t>(Days + kPxDayOffset) ^ 0x80000000u);
        else if (O.Type == pxTime)
          PutB32(V, static_cast<uint32_t>(Ms) ^ 0x80000000u);
        else
          EncodeDouble(V, double(Days + kPxDayOffset) * kMsPerDay + double(Ms));
        break;
      }
    }
  }
}

}  // namespace

bool WriteParadoxFile(const std::string& Path, const std::string& MemoPath,
                      const std::string& ErrName, TRowSource& Source) {
  const TTableSlice& Layout = Source.Layout();
  const size_t NumFields = Layout.ColumnCount();
  if (NumFields == 0) RaiseFileError(ErrName, "una tabla Paradox necesita al menos un campo");
  if (NumFields > 255)
    RaiseFileError(ErrName, "una tabla Paradox admite como mucho 255 campos (hay " +
                                std::to_string(NumFields) + ")");
  const TCodePage& Cp = TCodePage::Get("CP1252");

  // Key fields must lead the record.
  const std::vector<std::string>& Key = Layout.PrimaryKey();
  for (size_t K = 0; K < Key.size(); ++K)
    if (K >= NumFields || !SameTextAscii(Key[K], Layout.Def(K).Name))
      RaiseFileError(
          ErrName,
          "los campos de la clave primaria deben ser los primeros de la tabla ('" + Key[K] + "')");

  std::vector<uint8_t> Types(NumFields);
  for (size_t I = 0; I < NumFields; ++I)
    Types[I] = FieldTypeOf(Layout.Def(I), Layout.Column(I).Type(), ErrName);
  // The fields' sizes come from every value: a first pass over the rows sizes them.
  std::vector<TPxStats> Stats(NumFields);
  int32_t MaxAutoInc = 0;
  ForEachChunk(Source, ErrName, false, [&](const TTableSlice& Chunk) {
    for (size_t I = 0; I < NumFields; ++I)
      ScanField(Stats[I], Chunk, I, Types[I], ErrName, MaxAutoInc);
  });
  std::vector<TOutField> Out(NumFields);
  size_t RecordSize = 0;
  for (size_t I = 0; I < NumFields; ++I) {
    Out[I] = PlanField(Layout.Def(I), Types[I], Stats[I], ErrName);
    Out[I].Col = static_cast<int>(I);
    Out[I].Offset = RecordSize;
    RecordSize += Out[I].Size;
  }
  const size_t RowCount = Source.RowCount();
  const TBlockPlan Plan = PlanBlocks(RecordSize, RowCount, ErrName);
  const std::vector<uint8_t> H =
      BuildHeader(Layout, Out, RecordSize, Plan, RowCount, MaxAutoInc, ErrName, Cp);

  TMemoWriter Memos(MemoPath, ErrName);
  TFileWriter W(Path, ErrName);
  W.Write(H.data(), H.size());
  std::vector<uint8_t> B(Plan.BlockSize);
  std::string Enc;
  // Blocks are filled across chunks; the source gives exactly RowCount rows (or raises), so
  // the blocks the header counts are the blocks written.
  size_t Blk = 0, InBlock = 0;
  auto Flush = [&] {
    PutU16(&B[0], Blk + 1 < Plan.NumBlocks ? static_cast<uint32_t>(Blk + 2) : 0);
    PutU16(&B[2], static_cast<uint32_t>(Blk));
    PutU16(&B[4], static_cast<uint32_t>((InBlock - 1) * RecordSize));
    W.Write(B.data(), B.size());
    std::fill(B.begin(), B.end(), 0);
    ++Blk;
    InBlock = 0;
  };
  ForEachChunk(Source, ErrName, true, [&](const TTableSlice& Chunk) {
    const TRowSelection& Selected = Chunk.Rows();
    for (size_t R = 0; R < Selected.Count(); ++R) {
      EncodeRecord(&B[kBlockHeader + InBlock * RecordSize], Chunk, Out, Selected[R], Cp, Memos,
                   Enc);
      if (++InBlock == Plan.PerBlock) Flush();
    }
  });
  if (InBlock > 0) Flush();
  W.Close();
  return Memos.Close();
}

}  // namespace kv
