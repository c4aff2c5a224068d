// dBase ".dbf" tables. Reading maps the one file, checks its header against it and decodes the
// records' texts here, column by column when first read; writing goes through shapelib for the
// header (its error callback routed into our exceptions) and formats the records here, so every
// value's text is under our control.
#include "dbase/DBaseFile.h"

#include <shapefil.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "DB.h"
#include "IoUtil.h"
#include "RowSource.h"
#include "SysUtils.h"

namespace kv {

namespace {

thread_local std::string LastShapelibError;

void OnShapelibError(const char* Message) {
  LastShapelibError = Message ? Message : "";
}

SAHooks Hooks() {
  SAHooks H;
  SASetupDefaultHooks(&H);
  H.Error = OnShapelibError;
  return H;
}

// Owns a DBFHandle.
class TDbfHandle {
 public:
  explicit TDbfHandle(DBFHandle H) : FH(H) {}
  ~TDbfHandle() {
    if (FH) DBFClose(FH);
  }
  TDbfHandle(const TDbfHandle&) = delete;
  TDbfHandle& operator=(const TDbfHandle&) = delete;
  DBFHandle Get() const { return FH; }
  // Closes now, so that the header is written before the file is checked.
  void Close() {
    if (FH) DBFClose(FH);
    FH = nullptr;
  }

 private:
  DBFHandle FH;
};

// Language-driver byte -> code page name for the conversion layer.
std::string CodePageOfLdid(unsigned Ldid) {
  switch (Ldid) {
    case 0x01:
      return "CP437";
    case 0x02:
      return "CP850";
    case 0x64:
      return "CP852";
    case 0x65:
      return "CP866";
    case 0x66:
      return "CP865";
    case 0x67:
      return "CP861";
    case 0x6A:
      return "CP737";
    case 0x6B:
      return "CP857";
    case 0x26:
      return "CP866";
    case 0x7D:
      return "CP1255";
    case 0x7E:
      return "CP1256";
    case 0xC8:
      return "CP1250";
    case 0xC9:
      return "CP1251";
    case 0xCA:
      return "CP1254";
    case 0xCB:
      return "CP1253";
    case 0xCC:
      return "CP1257";
    default:
      return "CP1252";  // 0x03, 0x57-0x59 and files that declare nothing
  }
}

// A ".cpg" companion's text -> code page name ("" when not understood).
std::string CodePageOfCpg(std::string Text) {
  Text = UpperCase(Trim(Text));
  if (Text == "UTF-8" || Text == "UTF8") return "UTF-8";
  if (Text.rfind("CP", 0) == 0) Text = Text.substr(2);
  if (Text.rfind("WINDOWS-", 0) == 0) Text = Text.substr(8);
  if (Text.rfind("ANSI ", 0) == 0) Text = Text.substr(5);
  if (!Text.empty() &&
      std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; }))
    return "CP" + Text;
  return "";
}

const TCodePage& CodePageOrDefault(const std::string& Name) {
  try {
    return TCodePage::Get(Name);
  } catch (const Exception&) {
    return TCodePage::Get("CP1252");
  }
}

inline uint16_t U16(const uint8_t* P) {
  return static_cast<uint16_t>(P[0] | (P[1] << 8));
}
inline uint32_t U32(const uint8_t* P) {
  return uint32_t(P[0]) | (uint32_t(P[1]) << 8) | (uint32_t(P[2]) << 16) | (uint32_t(P[3]) << 24);
}

// One field as the header describes it.
struct TDbfField {
  std::string Name;  // in the file's code page, blanks and zeros around it removed
  char Type;
  unsigned Width, Decimals;
};

inline std::string_view TrimSpaces(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\0')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\0')) S.remove_suffix(1);
  return S;
}

// What the header says, checked against the file.
struct TDbfHeader {
  uint32_t Records = 0;
  unsigned HeaderLen = 0, RecordLen = 0, Ldid = 0;
  std::vector<TDbfField> Fields;
};

// Reads and checks the header against the file. Raises naming the file.
TDbfHeader CheckHeader(const TMappedFile& F) {
  const std::string& Path = F.Path();
  const uint8_t* D = F.Data();
  const size_t Size = F.Size();
  if (Size < 32)
    RaiseCorrupt(Path,
                 "está truncado (" + std::to_string(Size) + " bytes, la cabecera necesita 32)");
  TDbfHeader H;
  H.Records = U32(D + 4);
  H.HeaderLen = U16(D + 8);
  H.RecordLen = U16(D + 10);
  H.Ldid = D[29];
  if ((D[0] & 0x07) == 4)
    RaiseCorrupt(Path, "es una tabla dBase de nivel 7, cuyo formato no se admite");
  if (H.HeaderLen < 33)
    RaiseCorrupt(Path, "tamaño de cabecera fuera de rango (" + std::to_string(H.HeaderLen) + ")");
  if (H.HeaderLen > Size)
    RaiseCorrupt(Path, "está truncado (la cabecera declara " + std::to_string(H.HeaderLen) +
                           " bytes y el archivo tiene " + std::to_string(Size) + ")");
  if (H.RecordLen < 1) RaiseCorrupt(Path, "tamaño de registro fuera de rango (0)");
  unsigned Sum = 1;  // the deletion flag
  for (size_t P = 32; P + 32 <= H.HeaderLen && D[P] != 0x0D; P += 32) {
    TDbfField Fd;
    const char* Name = reinterpret_cast<const char*>(D + P);
    Fd.Name = std::string(TrimSpaces(std::string_view(Name, strnlen(Name, 11))));
    Fd.Type = static_cast<char>(D[P + 11]);
    Fd.Width = D[P + 16];
    Fd.Decimals = D[P + 17];
    if (Fd.Type == 'C') {  // long character fields keep the high byte of the width in "decimals"
      Fd.Width += Fd.Decimals * 256;
      Fd.Decimals = 0;
    }
    if (Fd.Width == 0)
      RaiseCorrupt(Path, "el campo " + std::to_string(H.Fields.size() + 1) + " tiene tamaño 0");
    Sum += Fd.Width;
    H.Fields.push_back(std::move(Fd));
  }
  if (H.Fields.empty()) RaiseCorrupt(Path, "la tabla no tiene campos");
  if (Sum != H.RecordLen)
    RaiseCorrupt(Path, "el tamaño de registro (" + std::to_string(H.RecordLen) +
                           ") no coincide con el de sus campos (" + std::to_string(Sum) + ")");
  const uint64_t Needed = uint64_t(H.HeaderLen) + uint64_t(H.Records) * H.RecordLen;
  if (Needed > Size)
    RaiseCorrupt(Path, "está truncado (declara " + std::to_string(H.Records) + " registros de " +
                           std::to_string(H.RecordLen) + " bytes y faltan " +
                           std::to_string(Needed - Size) + " bytes)");
  return H;
}

inline int Digits(std::string_view S, size_t At, size_t N) {
  int V = 0;
  for (size_t I = At; I < At + N; ++I) {
    if (S[I] < '0' || S[I] > '9') return -1;
    V = V * 10 + (S[I] - '0');
  }
  return V;
}

// The code page of the text: the language-driver byte, else the first line of a ".cpg"
// companion (found in any letter case), else CP1252.
const TCodePage& CodePageOf(unsigned Ldid, const std::string& Path) {
  std::string CpName = CodePageOfLdid(Ldid);
  if (Ldid == 0) {
    const std::string Cpg = CompanionPath(Path, ".cpg");
    struct stat St;
    if (::stat(Cpg.c_str(), &St) == 0 && S_ISREG(St.st_mode)) {
      TMappedFile F(Cpg);
      std::string_view Text(reinterpret_cast<const char*>(F.Data()),
                            std::min<size_t>(F.Size(), 255));
      Text = Text.substr(0, Text.find_first_of(std::string_view("\n\r\0", 3)));
      std::string N = CodePageOfCpg(std::string(Text));
      if (!N.empty()) CpName = N;
    }
  }
  return CodePageOrDefault(CpName);
}

// Where a field lies in the record and how its text reads.
struct TDbfColumn {
  TFieldType Type;
  size_t Offset, Width;
  std::string Name;
};

// The column type of a field; a whole-number field may still become a float column (see
// WidensToFloat).
TFieldType ColumnTypeOf(const TDbfField& Fd) {
  switch (Fd.Type) {
    case 'C':
      return ftString;
    case 'N':
      return Fd.Decimals == 0 && Fd.Width <= 11 ? ftInteger : ftFloat;
    case 'F':
      return ftFloat;
    case 'L':
      return ftBoolean;
    case 'D':
      return ftDate;
    case 'M':
      return ftMemo;
    default:
      return ftBlob;  // binary kinds are not shown
  }
}

// Whether the text of a whole-number field makes its column a float column: a number that is
// not a 32-bit whole number (too wide, or with decimals). Most texts are at most nine digits with
// blanks and a sign, which read the same either way and are told at a glance.
bool WidensToFloat(const char* P, size_t Width) {
  unsigned DigitCount = 0;
  bool Other = false;
  for (size_t I = 0; I < Width; ++I) {
    const unsigned char C = static_cast<unsigned char>(P[I]);
    const bool Digit = static_cast<unsigned char>(C - '0') < 10;
    DigitCount += Digit;
    Other |= !Digit && C != ' ' && C != '\0' && C != '-' && C != '+';
  }
  if (!Other && DigitCount <= 9) return false;
  const std::string_view S = TrimSpaces(std::string_view(P, Width));
  int32_t I;
  double X;
  return !S.empty() && S[0] != '*' && !TextToInt(S, I) && TextToDouble(S, X);
}

// Field text without its trailing blanks (spaces and zeros); texts are mostly shorter than
// their fields, so the blanks are skipped eight at a time.
inline std::string_view TrimTrailing(std::string_view S) {
  size_t N = S.size();
  for (uint64_t W; N >= 8; N -= 8) {
    std::memcpy(&W, S.data() + N - 8, 8);
    if (W != 0x2020202020202020ull) break;
  }
  while (N > 0 && (S[N - 1] == ' ' || S[N - 1] == '\0')) --N;
  return S.substr(0, N);
}

// Where the first character that is not a space of S is (S.size() when none); numbers are
// written to the right of their fields, so the spaces are skipped eight at a time.
inline size_t SkipSpaces(std::string_view S) {
  size_t I = 0;
  for (uint64_t W; I + 8 <= S.size(); I += 8) {
    std::memcpy(&W, S.data() + I, 8);
    if (W != 0x2020202020202020ull) break;
  }
  while (I < S.size() && S[I] == ' ') ++I;
  return I;
}

// The value of a whole number as numbers are mostly written: blanks, an optional minus, one to
// nine digits, blanks. False for any other text, which the general parse reads.
inline bool PlainInt(std::string_view S, int32_t& V) {
  const size_t N = S.size();
  size_t I = SkipSpaces(S);
  const bool Negative = I < N && S[I] == '-';
  I += Negative;
  const size_t First = I;
  // Unsigned: a longer run of digits wraps harmlessly before it is refused below.
  uint64_t X = 0;
  for (; I < N && static_cast<unsigned char>(S[I] - '0') < 10; ++I)
    X = X * 10 + static_cast<unsigned>(S[I] - '0');
  if (I == First || I - First > 9) return false;
  for (; I < N; ++I)
    if (S[I] != ' ') return false;
  const auto Value = static_cast<int32_t>(X);
  V = Negative ? -Value : Value;
  return true;
}

// The value of a decimal number as numbers are mostly written: blanks, an optional minus,
// digits, optionally a point and more digits, blanks; at most 15 digits in all. Such a number is
// an exact whole number divided by an exact power of ten, which one division rounds correctly,
// as the general parse rounds it. False for any other text, which the general parse reads.
inline bool PlainDecimal(std::string_view S, double& V) {
  static const double Pow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const size_t N = S.size();
  size_t I = SkipSpaces(S);
  const bool Negative = I < N && S[I] == '-';
  I += Negative;
  uint64_t M = 0;
  size_t Digits = 0, Decimals = 0;
  for (; I < N && static_cast<unsigned char>(S[I] - '0') < 10; ++I, ++Digits)
    M = M * 10 + static_cast<unsigned>(S[I] - '0');
  if (Digits == 0) return false;
  if (I < N && S[I] == '.') {
    for (++I; I < N && static_cast<unsigned char>(S[I] - '0') < 10; ++I, ++Decimals)
      M = M * 10 + static_cast<unsigned>(S[I] - '0');
    if (Decimals == 0) return false;
  }
  if (Digits + Decimals > 15) return false;
  for (; I < N; ++I)
    if (S[I] != ' ') return false;
  const double X = static_cast<double>(M) / Pow10[Decimals];
  V = Negative ? -X : X;
  return true;
}

// Appends the value of one field of one record, from its text Raw. Inlined into each column's
// loop, where Type is known.
[[gnu::always_inline]] inline void DecodeValue(TColumn& Col, TFieldType Type, std::string_view Raw,
                                               const TCodePage& Cp, std::string& Scratch) {
  switch (Type) {
    case ftString: {
      Cp.AppendTo(Col, TrimTrailing(Raw), Scratch);
      return;
    }
    case ftInteger: {
      // The column holds no text that reads as a float (else it would be one).
      int32_t V;
      if (PlainInt(Raw, V)) return Col.AppendInt(V);
      std::string_view S = TrimSpaces(Raw);
      if (!S.empty() && S[0] != '*' && TextToInt(S, V))
        Col.AppendInt(V);
      else
        Col.AppendNull();
      return;
    }
    case ftFloat: {
      double V;
      if (PlainDecimal(Raw, V)) return Col.AppendDouble(V);
      std::string_view S = TrimSpaces(Raw);
      if (!S.empty() && S[0] != '*' && TextToDouble(S, V))
        Col.AppendDouble(V);
      else
        Col.AppendNull();
      return;
    }
    case ftBoolean: {
      char C = TrimSpaces(Raw).empty() ? ' ' : TrimSpaces(Raw)[0];
      if (C == 'T' || C == 't' || C == 'Y' || C == 'y')
        Col.AppendInt(1);
      else if (C == 'F' || C == 'f' || C == 'N' || C == 'n')
        Col.AppendInt(0);
      else
        Col.AppendNull();
      return;
    }
    case ftDate: {
      std::string_view S = TrimSpaces(Raw);
      int Y = S.size() == 8 ? Digits(S, 0, 4) : -1, M = Y > 0 ? Digits(S, 4, 2) : -1,
          Dd = M > 0 ? Digits(S, 6, 2) : -1;
      if (IsValidDate(Y, M, Dd))
        Col.AppendDouble(double(DayNumberOf(Y, M, Dd)));
      else
        Col.AppendNull();
      return;
    }
    default:
      Col.AppendNull();
      return;
  }
}

// The columns of a dBase table, decoded from the mapped file: the records lie one after the
// other behind the header (the header check guarantees that every one lies inside the file);
// deleted records are not rows.
class TDBaseColumns : public TFileColumns {
 public:
  TDBaseColumns(std::shared_ptr<const TMappedFile> File, const TDbfHeader& H,
                std::vector<TDbfColumn> Layout, const TCodePage& Cp,
                std::vector<uint32_t> RecordOfRow)
      : TFileColumns(std::move(File)),
        FRecords(reinterpret_cast<const char*>(this->File().Data()) + H.HeaderLen),
        FRecordLen(H.RecordLen),
        FLayout(std::move(Layout)),
        FCp(Cp),
        FRecordOfRow(std::move(RecordOfRow)) {}

 protected:
  void DecodeRows(size_t Col, size_t First, size_t Count, TColumn& Out) const override {
    const TDbfColumn& L = FLayout[Col];
    // One loop per type: the type is told once, not once a row.
    switch (L.Type) {
      case ftString:
        return DecodeAs<ftString>(L, First, Count, Out);
      case ftInteger:
        return DecodeAs<ftInteger>(L, First, Count, Out);
      case ftFloat:
        return DecodeAs<ftFloat>(L, First, Count, Out);
      default:
        return DecodeAs<ftUnknown>(L, First, Count, Out);
    }
  }
  // The records are read a block at a time, each block once for all the columns: a block of
  // records stays in the cache while its fields are decoded column after column.
  void DecodeWhole(const std::vector<size_t>& Cols,
                   const std::vector<TColumn*>& Outs) const override {
    const size_t Rows = RowCount();
    const size_t Block = std::max<size_t>(64, (size_t(256) << 10) / FRecordLen);
    for (size_t First = 0; First < Rows; First += Block) {
      const size_t Count = std::min(Block, Rows - First);
      for (size_t I = 0; I < Cols.size(); ++I) DecodeRows(Cols[I], First, Count, *Outs[I]);
    }
  }

 private:
  // Appends the values of rows [First, First + Count) of the field L, of type Type (ftUnknown:
  // L's own type, told for each value).
  template <TFieldType Type>
  void DecodeAs(const TDbfColumn& L, size_t First, size_t Count, TColumn& Out) const {
    const char* Field = FRecords + L.Offset;
    std::string Scratch;
    // A column's values lie a record apart: the ones a few records on are asked for early, so
    // that reading them does not wait on memory one after the other.
    constexpr size_t Ahead = 12;
    const size_t End = First + Count;
    for (size_t Row = First; Row < End; ++Row) {
      const size_t Record = FRecordOfRow.empty() ? Row : FRecordOfRow[Row];
      if (Row + Ahead < End)
        __builtin_prefetch(
            Field + (FRecordOfRow.empty() ? Row + Ahead : FRecordOfRow[Row + Ahead]) * FRecordLen);
      try {
        DecodeValue(Out, Type == ftUnknown ? L.Type : Type,
                    std::string_view(Field + Record * FRecordLen, L.Width), FCp, Scratch);
      } catch (const Exception& E) {
        RaiseCorrupt(File().Path(), "registro " + std::to_string(Record + 1) + ", campo '" +
                                        L.Name + "': " + E.Message());
      }
    }
  }

  const char* FRecords;
  size_t FRecordLen;
  std::vector<TDbfColumn> FLayout;
  const TCodePage& FCp;
  std::vector<uint32_t> FRecordOfRow;  // empty when no record is deleted
};

}  // namespace

std::shared_ptr<TTableStore> ReadDBaseFile(const std::string& Path) {
  // One file, mapped once: the header and the records are of the same version of it.
  auto File = std::make_shared<TMappedFile>(Path);
  return WhileUnchanged(*File, [&] {
    const TDbfHeader H = CheckHeader(*File);
    const TCodePage& Cp = CodePageOf(H.Ldid, Path);
    std::vector<TColumnDef> Defs;
    std::vector<TDbfColumn> Layout;
    size_t Offset = 1;  // after the deletion flag
    for (size_t I = 0; I < H.Fields.size(); ++I) {
      const TDbfField& Fd = H.Fields[I];
      TColumnDef Def;
      try {
        Cp.Decode(Fd.Name, Def.Name);
      } catch (const Exception& E) {
        RaiseCorrupt(Path, "el nombre del campo " + std::to_string(I + 1) + ": " + E.Message());
      }
      if (Def.Name.empty()) Def.Name = "Field" + std::to_string(I + 1);
      Def.DataType = ColumnTypeOf(Fd);
      Def.Size = Def.DataType == ftString ? static_cast<int>(Fd.Width) : 0;
      Defs.push_back(std::move(Def));
      Layout.push_back({Defs.back().DataType, Offset, Fd.Width, Defs.back().Name});
      Offset += Fd.Width;
    }
    // One pass over the records tells the rows (deleted records are none) and the type of the
    // whole-number columns; the values are decoded when first read.
    std::vector<size_t> WholeNumbers;
    for (size_t I = 0; I < Layout.size(); ++I)
      if (Layout[I].Type == ftInteger) WholeNumbers.push_back(I);
    const char* Records = reinterpret_cast<const char*>(File->Data()) + H.HeaderLen;
    std::vector<uint32_t> RecordOfRow;  // kept once a deleted record is met
    bool AnyDeleted = false;
    size_t Rows = 0;
    for (uint32_t R = 0; R < H.Records; ++R) {
      const char* Rec = Records + size_t(R) * H.RecordLen;
      if (Rec[0] == '*') {
        if (!AnyDeleted) {
          AnyDeleted = true;
          RecordOfRow.resize(R);
          for (uint32_t K = 0; K < R; ++K) RecordOfRow[K] = K;
        }
        continue;
      }
      if (AnyDeleted) RecordOfRow.push_back(R);
      ++Rows;
      for (size_t K = 0; K < WholeNumbers.size();) {
        TDbfColumn& L = Layout[WholeNumbers[K]];
        if (WidensToFloat(Rec + L.Offset, L.Width)) {
          L.Type = ftFloat;
          Defs[WholeNumbers[K]].DataType = ftFloat;
          WholeNumbers.erase(WholeNumbers.begin() + static_cast<long>(K));
        } else {
          ++K;
        }
      }
    }
    File->Release();
    auto Columns =
        std::make_shared<TDBaseColumns>(File, H, std::move(Layout), Cp, std::move(RecordOfRow));
    return MakeFileStore(std::move(Defs), {}, Rows, std::move(Columns));
  });
}

// ------------------------------------------------------------------------------------ writer

namespace {

struct TDbfOut {
  char Type;  // C N F L D
  int Width, Decimals;
  int Col;
  bool WithMs = false;  // times written with milliseconds
};

// "00" to "99": numbers are written two digits at a time.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes V in decimal ending just before End; returns where its first digit is.
inline char* PutDecimalBackwards(char* End, uint64_t V) {
  while (V >= 100) {
    const uint64_t Q = V / 100;
    End -= 2;
    std::memcpy(End, kDigitPairs + 2 * (V - Q * 100), 2);
    V = Q;
  }
  if (V >= 10) {
    End -= 2;
    std::memcpy(End, kDigitPairs + 2 * V, 2);
  } else {
    *--End = static_cast<char>('0' + V);
  }
  return End;
}

// The text of X with exactly Decimals decimals (correctly rounded, as std::to_chars writes it)
// into Buf, which holds at least 40 characters; returns its length. Most values are scaled to a
// whole number and written digit by digit; those the scaling cannot decide (beyond 2^53 once
// scaled, or too near a half) go through std::to_chars.
int FormatFixed(char* Buf, double X, int Decimals) {
  static const double Scale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  if (Decimals >= 0 && Decimals <= 8 && std::isfinite(X)) {
    const double Y = std::fabs(X) * Scale[Decimals];
    const double Whole = Y < 9007199254740992.0 ? static_cast<double>(static_cast<uint64_t>(Y)) : Y;
    const double Fraction = Y - Whole;
    // Y is within Y * 2^-53 of the exact scaled value: far enough from a half, it rounds the
    // same way.
    if (Y < 9007199254740992.0 && std::fabs(Fraction - 0.5) > Y * 4.5e-16 + 1e-12) {
      char Tmp[24];
      char* const End = Tmp + sizeof Tmp;
      char* First = PutDecimalBackwards(End, static_cast<uint64_t>(Whole) + (Fraction > 0.5));
      while (End - First <= Decimals) *--First = '0';  // a digit before the point, at least
      const int Len = static_cast<int>(End - First), IntLen = Len - Decimals;
      char* P = Buf;
      if (std::signbit(X)) *P++ = '-';
      std::memcpy(P, First, static_cast<size_t>(IntLen));
      P += IntLen;
      if (Decimals > 0) {
        *P++ = '.';
        std::memcpy(P, First + IntLen, static_cast<size_t>(Decimals));
        P += Decimals;
      }
      return static_cast<int>(P - Buf);
    }
  }
  return static_cast<int>(std::to_chars(Buf, Buf + 40, X, std::chars_format::fixed, Decimals).ptr -
                          Buf);
}

// The digits of V.
inline int DecimalDigits(uint64_t V) {
  int N = 1;
  for (; V >= 10; V /= 10) ++N;
  return N;
}

// The characters before the point (a minus included) and the decimals of the shortest text that
// reads back as the finite X, which is no whole number, in fixed notation (std::to_chars's).
// Found without writing the text for the values that a whole number below 2^50 divided by a
// power of ten gives back exactly, the fewest decimals that do: that text is the shortest.
// Others go through std::to_chars; false when it fails.
bool ShortestFixedShape(double X, int& IntChars, int& Decimals) {
  static const double Pow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const double A = std::fabs(X);
  if (A < 1e15) {
    for (int K = 1; K <= 15; ++K) {
      const double Scaled = A * Pow10[K];
      if (Scaled >= 1125899906842624.0) break;  // 2^50
      // Rounded to the nearest whole number (how halves go does not matter: a text with K
      // decimals that reads back as A lies within an eighth of Scaled).
      const double M = static_cast<double>(static_cast<int64_t>(Scaled + 0.5));
      if (M / Pow10[K] == A) {
        IntChars = DecimalDigits(static_cast<uint64_t>(A)) + (X < 0);
        Decimals = K;
        return true;
      }
    }
  }
  char Buf[512];
  auto Res = std::to_chars(Buf, Buf + sizeof Buf, X, std::chars_format::fixed);
  if (Res.ec != std::errc()) return false;
  std::string_view S(Buf, static_cast<size_t>(Res.ptr - Buf));
  size_t Dot = S.find('.');
  IntChars = static_cast<int>(Dot == std::string_view::npos ? S.size() : Dot);
  Decimals = Dot == std::string_view::npos ? 0 : static_cast<int>(S.size() - Dot - 1);
  return true;
}

// The dBase names of the fields: at most 10 bytes in the file's code page, none empty, no two
// alike in any letter case. A name that its cut makes equal to an earlier one ends in "_" and a
// number instead ("ShipToAddr1", "ShipToAddr2": "ShipToAddr", "ShipToAd_1"), as dBase tools do.
std::vector<std::string> FieldNames(const TTableSlice& Data, const TCodePage& Cp,
                                    const std::string& ErrName) {
  std::vector<std::string> Names(Data.ColumnCount());
  auto Taken = [&](size_t Upto, const std::string& Name) {
    for (size_t J = 0; J < Upto; ++J)
      if (SameTextAscii(Names[J], Name)) return true;
    return false;
  };
  for (size_t I = 0; I < Names.size(); ++I) {
    std::string Encoded;
    Cp.Encode(Data.Def(I).Name, Encoded);
    if (Encoded.empty())
      RaiseFileError(ErrName, "el campo " + std::to_string(I + 1) + " no tiene nombre");
    Names[I] = Encoded.substr(0, XBASE_FLDNAME_LEN_WRITE);
    for (size_t N = 1; Taken(I, Names[I]); ++N) {
      const std::string Suffix = "_" + std::to_string(N);
      Names[I] = Encoded.substr(0, XBASE_FLDNAME_LEN_WRITE - Suffix.size()) + Suffix;
    }
  }
  return Names;
}

// What the values of a column need of its dBase field, gathered chunk after chunk.
struct TDbfStats {
  size_t MaxLen = 0;                // texts: the longest value, in characters
  int IntDigits = 1, Decimals = 0;  // numbers: digits before and after the point
  bool WithMs = false;              // times: some value has a fraction of a second
};

// Whether the format has a field for a column of type T.
bool DbfHolds(TFieldType T) {
  switch (T) {
    case ftString:
    case ftMemo:
    case ftFmtMemo:
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftBoolean:
    case ftCurrency:
    case ftFloat:
    case ftBCD:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return true;
    default:
      return false;
  }
}

// Adds the rows of one chunk of column I to St. Raises naming the field and the row for a value
// the format cannot hold.
void ScanField(TDbfStats& St, const TTableSlice& Data, size_t I, const std::string& ErrName) {
  const TColumnDef& Def = Data.Def(I);
  const TColumn& Col = Data.Column(I);
  const TRowSelection& Rows = Data.Rows();
  auto TooWide = [&](size_t Row) {
    RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Data.RowNumber(Row)) +
                                " del campo '" + Def.Name +
                                "' no cabe en un campo numérico de dBase");
  };
  auto RequireDatesInRange = [&] {
    Rows.ForEachValue(Col, [&](size_t Row) {
      if (!IsInCalendar(TDateTime(Col.Double(Row))))
        RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Data.RowNumber(Row)) +
                                    " del campo '" + Def.Name + "' está fuera del rango de fechas");
    });
  };
  char Buf[512];
  switch (Col.Type()) {
    case ftString:
    case ftMemo:
    case ftFmtMemo:
      St.MaxLen = std::max(
          St.MaxLen,
          LongestText(
              Col, Rows,
              std::max(St.MaxLen, std::min<size_t>(Def.Size > 0 ? size_t(Def.Size) : 1, 254))));
      break;
    case ftCurrency:
      Rows.ForEachValue(Col, [&](size_t Row) {
        const double X = Col.Double(Row);
        if (std::fabs(X) < 1e14) return;  // surely fits: 14 digits, a point and 4 decimals
        auto Res = std::to_chars(Buf, Buf + sizeof Buf, X, std::chars_format::fixed, 4);
        if (!std::isfinite(X) || Res.ec != std::errc() || Res.ptr - Buf > 20) TooWide(Row);
      });
      break;
    case ftFloat:
    case ftBCD:
      // As many decimals as the values need to read back unchanged, within 20 characters.
      Rows.ForEachValue(Col, [&](size_t Row) {
        const double X = Col.Double(Row);
        if (std::fabs(X) < 1e15 && static_cast<double>(static_cast<int64_t>(X)) == X) {
          // A whole number needs no decimals (and is written without the formatting below).
          St.IntDigits =
              std::max(St.IntDigits, DecimalDigits(static_cast<uint64_t>(std::fabs(X))) + (X < 0));
          return;
        }
        int Ip = 0, Dp = 0;
        if (!std::isfinite(X) || !ShortestFixedShape(X, Ip, Dp)) TooWide(Row);
        if (Ip > 20) TooWide(Row);
        St.IntDigits = std::max(St.IntDigits, Ip);
        St.Decimals = std::max(St.Decimals, Dp);
      });
      break;
    case ftDate:
      RequireDatesInRange();
      break;
    case ftTime:
    case ftDateTime:
      RequireDatesInRange();
      St.WithMs = St.WithMs || AnyMilliseconds(Col, Rows);
      break;
    default:
      break;
  }
}

// The dBase field a column becomes once every row was scanned: texts as wide as their longest
// value, numbers with as many decimals as they need to read back unchanged, times and
// timestamps as text. Raises naming the field for a type the format lacks or a text too long.
TDbfOut PlanField(const TColumnDef& Def, TFieldType Type, const TDbfStats& St,
                  const std::string& ErrName) {
  TDbfOut O;
  O.Decimals = 0;
  switch (Type) {
    case ftString:
    case ftMemo:
    case ftFmtMemo: {
      const size_t MaxLen = St.MaxLen;
      if (MaxLen > 254)
        RaiseFileError(ErrName, "un valor del campo '" + Def.Name + "' tiene " +
                                    std::to_string(MaxLen) +
                                    " caracteres y el máximo de dBase es 254");
      O.Type = 'C';
      O.Width = static_cast<int>(
          std::clamp<size_t>(std::max<size_t>(MaxLen, Def.Size > 0 ? Def.Size : 1), 1, 254));
      break;
    }
    case ftSmallint:
      O.Type = 'N';
      O.Width = 6;
      break;
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      O.Type = 'N';
      O.Width = 11;
      break;
    case ftBoolean:
      O.Type = 'L';
      O.Width = 1;
      break;
    case ftCurrency:
      O.Type = 'N';
      O.Width = 20;
      O.Decimals = 4;
      break;
    case ftFloat:
    case ftBCD: {
      const int Decimals = std::min({St.Decimals, 15, 19 - St.IntDigits});
      O.Type = 'F';
      O.Width = 20;
      O.Decimals = std::max(Decimals, 0);
      break;
    }
    case ftDate:
      O.Type = 'D';
      O.Width = 8;
      break;
    case ftTime:
    case ftDateTime:
      O.WithMs = St.WithMs;
      O.Type = 'C';
      O.Width = (Type == ftTime ? 8 : 19) + (O.WithMs ? 4 : 0);
      break;
    default:
      RaiseFileError(ErrName, "el campo '" + Def.Name + "' es de tipo " + FieldTypeName(Type) +
                                  ", que una tabla dBase no puede guardar");
  }
  return O;
}

// Creates the file with its header (the code page declared) through shapelib; returns the
// header's length, where the records start.
uint64_t CreateWithHeader(const std::string& Path, const std::string& ErrName,
                          const TTableSlice& Data, const std::vector<std::string>& Names,
                          const std::vector<TDbfOut>& Out) {
  SAHooks H = Hooks();
  LastShapelibError.clear();
  TDbfHandle Dbf(DBFCreateLL(Path.c_str(), "LDID/87", &H));  // 0x57: Windows ANSI (CP1252)
  if (!Dbf.Get())
    RaiseFileError(ErrName,
                   "no se puede crear" +
                       (LastShapelibError.empty() ? std::string() : ": " + LastShapelibError));
  for (size_t I = 0; I < Out.size(); ++I) {
    if (DBFAddNativeFieldType(Dbf.Get(), Names[I].c_str(), Out[I].Type, Out[I].Width,
                              Out[I].Decimals) < 0)
      RaiseFileError(ErrName,
                     "no se puede definir el campo '" + Data.Def(I).Name + "'" +
                         (LastShapelibError.empty() ? std::string() : ": " + LastShapelibError));
  }
  Dbf.Close();
  if (!LastShapelibError.empty())
    RaiseFileError(ErrName, "no se puede crear: " + LastShapelibError);
  TMappedFile Header(Path);
  if (Header.Size() < 32) RaiseFileError(ErrName, "shapelib no escribió la cabecera");
  return U16(Header.Data() + 8);
}

// Writes into Records (RecordLen bytes each, the deletion flag and the fields) the records of
// Count rows of Chunk from the First-th, field after field: each value padded to its width
// (numbers to the right), empty fields blank ("?" for logicals). Scratch is working room for
// texts the code page changes. A value that its field cannot hold raises naming the first row
// (and of it the first field) that has one, as writing the records one by one finds it.
void FormatRecords(char* Records, size_t RecordLen, const TTableSlice& Chunk, size_t First,
                   size_t Count, const std::vector<TDbfOut>& Out, const TCodePage& Cp,
                   const std::string& ErrName, std::string& Scratch) {
  const TRowSelection& Selected = Chunk.Rows();
  // Blank first: the deletion flags, the padding and the empty fields need nothing more.
  std::memset(Records, ' ', Count * RecordLen);
  size_t BadRow = SIZE_MAX, BadField = 0;
  size_t Offset = 1;
  for (size_t F = 0; F < Out.size(); ++F) {
    const TDbfOut& O = Out[F];
    const TColumn& Col = Chunk.Column(O.Col);
    const size_t Width = static_cast<size_t>(O.Width);
    const char Empty = O.Type == 'L' ? '?' : ' ';
    const bool Right = O.Type == 'N' || O.Type == 'F';
    char* Field = Records + Offset;
    Offset += Width;
    // Puts the N characters of Text in the field of record R, padded.
    auto Put = [&](size_t R, const char* Text, size_t N) {
      char* P = Field + R * RecordLen;
      if (N > Width) {
        if (R < BadRow) BadRow = R, BadField = F;
        return;
      }
      std::memcpy(Right ? P + Width - N : P, Text, N);
    };
    // Calls Fn(R, Row) for each record whose value is not empty; blanks the others.
    auto EachValue = [&](auto&& Fn) {
      for (size_t R = 0; R < Count; ++R) {
        const size_t Row = Selected[First + R];
        if (!Col.IsNull(Row))
          Fn(R, Row);
        else if (Empty != ' ')
          std::memset(Field + R * RecordLen, Empty, Width);
      }
    };
    char Buf[40];
    switch (Col.Type()) {
      case ftString:
      case ftMemo:
      case ftFmtMemo:
        // Encoded, then cut or padded to the field's width.
        EachValue([&](size_t R, size_t Row) {
          std::string_view S = Col.Str(Row);
          if (!IsAscii(S)) {
            Scratch.clear();
            Cp.Encode(S, Scratch);
            S = Scratch;
          }
          std::memcpy(Field + R * RecordLen, S.data(), std::min(S.size(), Width));
        });
        break;
      case ftBoolean:
        EachValue([&](size_t R, size_t Row) {
          const char C = Col.Int(Row) ? 'T' : 'F';
          Put(R, &C, 1);
        });
        break;
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
        EachValue([&](size_t R, size_t Row) {
          Put(R, Buf,
              static_cast<size_t>(std::to_chars(Buf, Buf + sizeof Buf, Col.Int(Row)).ptr - Buf));
        });
        break;
      case ftCurrency:
      case ftFloat:
      case ftBCD:
        EachValue([&](size_t R, size_t Row) {
          const int N = FormatFixed(Buf, Col.Double(Row), O.Decimals);
          Put(R, Buf, static_cast<size_t>(N));
        });
        break;
      case ftDate:
        EachValue([&](size_t R, size_t Row) {
          int64_t Days, Ms;
          SplitDateTime(TDateTime(Col.Double(Row)), Days, Ms);
          int Y, M, D;
          DateOfDayNumber(Days, Y, M, D);
          Put(R, Buf,
              static_cast<size_t>(PutDigits(PutDigits(PutDigits(Buf, Y, 4), M, 2), D, 2) - Buf));
        });
        break;
      case ftTime:
      case ftDateTime:
        EachValue([&](size_t R, size_t Row) {
          const int N = FormatIsoDateTime(Buf, Col.Double(Row), Col.Type(), O.WithMs);
          Put(R, Buf, static_cast<size_t>(N));
        });
        break;
      default:
        EachValue([&](size_t R, size_t) { Put(R, Buf, 0); });
        break;
    }
  }
  if (BadRow != SIZE_MAX)
    RaiseFileError(ErrName, "el valor de la fila " +
                                std::to_string(Chunk.RowNumber(Selected[First + BadRow])) +
                                " del campo '" + Chunk.Def(Out[BadField].Col).Name +
                                "' no cabe en su campo dBase");
}

}  // namespace

void WriteDBaseFile(const std::string& Path, const std::string& ErrName, TRowSource& Source) {
  const TTableSlice& Layout = Source.Layout();
  const size_t NumFields = Layout.ColumnCount();
  if (NumFields == 0) RaiseFileError(ErrName, "una tabla dBase necesita al menos un campo");
  if (NumFields > 255) RaiseFileError(ErrName, "una tabla dBase admite como mucho 255 campos");
  const TCodePage& Cp = TCodePage::Get("CP1252");

  const std::vector<std::string> Names = FieldNames(Layout, Cp, ErrName);
  for (size_t I = 0; I < NumFields; ++I)
    if (!DbfHolds(Layout.Column(I).Type()))
      PlanField(Layout.Def(I), Layout.Column(I).Type(), {}, ErrName);  // raises
  // The fields' widths come from every value: a first pass over the rows sizes them.
  std::vector<TDbfStats> Stats(NumFields);
  ForEachChunk(Source, ErrName, false, [&](const TTableSlice& Chunk) {
    for (size_t I = 0; I < NumFields; ++I) ScanField(Stats[I], Chunk, I, ErrName);
  });
  std::vector<TDbfOut> Out(NumFields);
  int RecordLen = 1;  // the deletion flag
  for (size_t I = 0; I < NumFields; ++I) {
    Out[I] = PlanField(Layout.Def(I), Layout.Column(I).Type(), Stats[I], ErrName);
    Out[I].Col = static_cast<int>(I);
    RecordLen += Out[I].Width;
  }

  // shapelib writes the header; the records follow it through one buffered stream, since
  // shapelib seeks before every record it writes. The count is put in the header at the end.
  const uint64_t HeaderLen = CreateWithHeader(Path, ErrName, Layout, Names, Out);
  TFileWriter W(Path, ErrName, HeaderLen);
  // The records of a chunk are formatted a few hundred at a time into one block, written whole.
  const size_t BlockRecords = std::max<size_t>(1, (size_t(256) << 10) / size_t(RecordLen));
  std::vector<char> Block(BlockRecords * size_t(RecordLen));
  std::string Scratch;
  size_t RowCount = 0;
  ForEachChunk(Source, ErrName, true, [&](const TTableSlice& Chunk) {
    const size_t Rows = Chunk.Rows().Count();
    for (size_t First = 0; First < Rows; First += BlockRecords) {
      const size_t N = std::min(BlockRecords, Rows - First);
      FormatRecords(Block.data(), size_t(RecordLen), Chunk, First, N, Out, Cp, ErrName, Scratch);
      W.Write(Block.data(), N * size_t(RecordLen));
    }
    RowCount += Rows;
  });
  W.Write("\x1A", 1);  // end-of-file mark
  uint8_t Count[4] = {uint8_t(RowCount), uint8_t(RowCount >> 8), uint8_t(RowCount >> 16),
                      uint8_t(RowCount >> 24)};
  W.PatchAt(4, Count, 4);
  W.Close();

  // shapelib reports a failed write only through its callback: check the result on disk.
  struct stat St;
  const uint64_t Expected = HeaderLen + uint64_t(RowCount) * RecordLen + 1;
  if (::stat(Path.c_str(), &St) != 0 || uint64_t(St.st_size) < Expected ||
      !LastShapelibError.empty())
    RaiseFileError(ErrName,
                   "no se pudo escribir completo" +
                       (LastShapelibError.empty() ? std::string() : ": " + LastShapelibError));
}

}  // namespace kv
