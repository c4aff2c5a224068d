// dBase ".dbf" tables through shapelib. The header is checked against the file before shapelib
// sees it, shapelib's error callback is routed into our exceptions, and records are read and
// written as raw tuples formatted here, so every value's text is under our control.
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
#include "SysUtils.h"

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

// shapelib opens a table by its name with ".dbf" (then ".DBF") put in place of its extension,
// and looks for a ".cpg" beside it the same way: the table being opened is opened whatever the
// letter case of its extension, and the companion is found in any case.
thread_local const std::string* OpeningPath = nullptr;

SAFile OpenNamed(const char* Name, const char* Access) {
  static const SAHooks Default = Hooks();
  std::string Path = Name;
  const std::string Ext = LowerCase(ExtractFileExt(Path));
  if (OpeningPath && Ext == ".dbf") Path = *OpeningPath;
  if (OpeningPath && Ext == ".cpg") Path = CompanionPath(*OpeningPath, ".cpg");
  return Default.FOpen(Path.c_str(), Access);
}

// Opens Path for reading through shapelib, whatever the letter case of its extension.
DBFHandle OpenForReading(const std::string& Path) {
  SAHooks H = Hooks();
  H.FOpen = OpenNamed;
  OpeningPath = &Path;
  DBFHandle D = DBFOpenLL(Path.c_str(), "rb", &H);
  OpeningPath = nullptr;
  return D;
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

struct TDbfField {
  char Type;
  unsigned Width, Decimals;
};

// Checks the header against the file; returns the fields. Raises naming the file.
std::vector<TDbfField> CheckHeader(const TMappedFile& F, unsigned& Ldid) {
  const std::string& Path = F.Path();
  const uint8_t* D = F.Data();
  const size_t Size = F.Size();
  if (Size < 32)
    RaiseCorrupt(Path,
                 "está truncado (" + std::to_string(Size) + " bytes, la cabecera necesita 32)");
  const uint32_t Records = U32(D + 4);
  const unsigned HeaderLen = U16(D + 8);
  const unsigned RecordLen = U16(D + 10);
  Ldid = D[29];
  if ((D[0] & 0x07) == 4)
    RaiseCorrupt(Path, "es una tabla dBase de nivel 7, cuyo formato no se admite");
  if (HeaderLen < 33)
    RaiseCorrupt(Path, "tamaño de cabecera fuera de rango (" + std::to_string(HeaderLen) + ")");
  if (HeaderLen > Size)
    RaiseCorrupt(Path, "está truncado (la cabecera declara " + std::to_string(HeaderLen) +
                           " bytes y el archivo tiene " + std::to_string(Size) + ")");
  if (RecordLen < 1) RaiseCorrupt(Path, "tamaño de registro fuera de rango (0)");
  std::vector<TDbfField> Fields;
  unsigned Sum = 1;  // the deletion flag
  for (size_t P = 32; P + 32 <= HeaderLen && D[P] != 0x0D; P += 32) {
    TDbfField Fd;
    Fd.Type = static_cast<char>(D[P + 11]);
    Fd.Width = D[P + 16];
    Fd.Decimals = D[P + 17];
    if (Fd.Type == 'C') {  // long character fields keep the high byte of the width in "decimals"
      Fd.Width += Fd.Decimals * 256;
      Fd.Decimals = 0;
    }
    if (Fd.Width == 0)
      RaiseCorrupt(Path, "el campo " + std::to_string(Fields.size() + 1) + " tiene tamaño 0");
    Sum += Fd.Width;
    Fields.push_back(Fd);
  }
  if (Fields.empty()) RaiseCorrupt(Path, "la tabla no tiene campos");
  if (Sum != RecordLen)
    RaiseCorrupt(Path, "el tamaño de registro (" + std::to_string(RecordLen) +
                           ") no coincide con el de sus campos (" + std::to_string(Sum) + ")");
  const uint64_t Needed = uint64_t(HeaderLen) + uint64_t(Records) * RecordLen;
  if (Needed > Size)
    RaiseCorrupt(Path, "está truncado (declara " + std::to_string(Records) + " registros de " +
                           std::to_string(RecordLen) + " bytes y faltan " +
                           std::to_string(Needed - Size) + " bytes)");
  return Fields;
}

inline std::string_view TrimSpaces(std::string_view S) {
  while (!S.empty() && (S.front() == ' ' || S.front() == '\0')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == ' ' || S.back() == '\0')) S.remove_suffix(1);
  return S;
}

inline int Digits(std::string_view S, size_t At, size_t N) {
  int V = 0;
  for (size_t I = At; I < At + N; ++I) {
    if (S[I] < '0' || S[I] > '9') return -1;
    V = V * 10 + (S[I] - '0');
  }
  return V;
}

// The code page of the text: the language-driver byte, else a ".cpg" companion, else CP1252.
const TCodePage& CodePageOf(unsigned Ldid, DBFHandle Hd) {
  std::string CpName = CodePageOfLdid(Ldid);
  if (Ldid == 0) {
    if (const char* Cpg = DBFGetCodePage(Hd)) {
      std::string N = CodePageOfCpg(Cpg);
      if (!N.empty()) CpName = N;
    }
  }
  return CodePageOrDefault(CpName);
}

// Where a field lies in the record and how its text reads.
struct TDbfColumn {
  TFieldType Type;
  int Offset, Width;
};

// The fields as shapelib reads them, checked against the header check's; adds a column to Store
// for each.
std::vector<TDbfColumn> ReadLayout(DBFHandle Hd, const std::vector<TDbfField>& Checked,
                                   const std::string& Path, const TCodePage& Cp,
                                   TTableStore& Store) {
  const int NumFields = DBFGetFieldCount(Hd);
  std::vector<TDbfColumn> Layout(NumFields);
  for (int I = 0; I < NumFields; ++I) {
    char Name[XBASE_FLDNAME_LEN_READ + 1] = {0};
    int Width = 0, Dec = 0;
    DBFGetFieldInfo(Hd, I, Name, &Width, &Dec);
    TDbfColumn& L = Layout[I];
    L.Offset = Hd->panFieldOffset[I];
    L.Width = Hd->panFieldSize[I];
    if (L.Width != static_cast<int>(Checked[I].Width) || L.Offset < 1 ||
        L.Offset + L.Width > Hd->nRecordLength)
      RaiseCorrupt(Path, "la descripción del campo " + std::to_string(I + 1) + " es incoherente");
    switch (DBFGetNativeFieldType(Hd, I)) {
      case 'C':
        L.Type = ftString;
        break;
      case 'N':
        L.Type = Dec == 0 && Width <= 11 ? ftInteger : ftFloat;
        break;
      case 'F':
        L.Type = ftFloat;
        break;
      case 'L':
        L.Type = ftBoolean;
        break;
      case 'D':
        L.Type = ftDate;
        break;
      case 'M':
        L.Type = ftMemo;
        break;
      default:
        L.Type = ftBlob;
        break;  // binary kinds are not shown
    }
    TColumnDef Def;
    Cp.Decode(TrimSpaces(Name), Def.Name);
    if (Def.Name.empty()) Def.Name = "Field" + std::to_string(I + 1);
    Def.DataType = L.Type;
    Def.Size = L.Type == ftString ? Width : 0;
    Store.AddColumn(std::move(Def));
  }
  return Layout;
}

// Appends the value of one field of one record, from its text Raw. A whole number too wide for
// 32 bits is appended empty and sets Overflow, so that the column is read again as floats.
void DecodeValue(TColumn& Col, TFieldType Type, std::string_view Raw, const TCodePage& Cp,
                 std::string& Scratch, uint8_t& Overflow) {
  switch (Type) {
    case ftString: {
      std::string_view S = Raw;
      while (!S.empty() && (S.back() == ' ' || S.back() == '\0')) S.remove_suffix(1);
      if (IsAscii(S)) {
        Col.AppendString(S);
      } else {
        Scratch.clear();
        Cp.Decode(S, Scratch);
        Col.AppendString(Scratch);
      }
      return;
    }
    case ftInteger: {
      std::string_view S = TrimSpaces(Raw);
      int32_t V;
      double X;
      if (!S.empty() && S[0] != '*' && TextToInt(S, V)) {
        Col.AppendInt(V);
      } else {
        if (!S.empty() && S[0] != '*' && TextToDouble(S, X)) Overflow = 1;
        Col.AppendNull();
      }
      return;
    }
    case ftFloat: {
      std::string_view S = TrimSpaces(Raw);
      double V;
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

// The records of the file, straight from the mapping (the header check guarantees that every
// one lies inside it); deleted records are skipped.
class TDbfRecords {
 public:
  TDbfRecords(const TMappedFile& F, DBFHandle Hd)
      : FData(reinterpret_cast<const char*>(F.Data()) + Hd->nHeaderLength),
        FLen(Hd->nRecordLength),
        FCount(DBFGetRecordCount(Hd)) {}
  // Calls Fn(Record) for each record that is not deleted, in order.
  template <class F>
  void ForEach(F&& Fn) const {
    for (int R = 0; R < FCount; ++R) {
      const char* Rec = FData + size_t(R) * FLen;
      if (Rec[0] != '*') Fn(Rec);
    }
  }
  int Count() const { return FCount; }

 private:
  const char* FData;
  size_t FLen;
  int FCount;
};

// Reads column I again as floats: its whole numbers do not all fit 32 bits.
void WidenToFloats(TTableStore& Store, size_t I, const TDbfColumn& L, const TDbfRecords& Records) {
  TColumn Floats(ftFloat);
  Floats.Reserve(Store.Columns[I].Size());
  Records.ForEach([&](const char* Rec) {
    std::string_view S = TrimSpaces(std::string_view(Rec + L.Offset, L.Width));
    double X;
    if (!S.empty() && S[0] != '*' && TextToDouble(S, X))
      Floats.AppendDouble(X);
    else
      Floats.AppendNull();
  });
  Store.Columns[I] = std::move(Floats);
  Store.Defs[I].DataType = ftFloat;
}

}  // namespace

std::shared_ptr<TTableStore> ReadDBaseFile(const std::string& Path) {
  unsigned Ldid = 0;
  TMappedFile File(Path);
  std::vector<TDbfField> Checked = CheckHeader(File, Ldid);

  LastShapelibError.clear();
  TDbfHandle Dbf(OpenForReading(Path));
  if (!Dbf.Get())
    RaiseCorrupt(Path, LastShapelibError.empty() ? "shapelib no puede abrirlo" : LastShapelibError);
  DBFHandle Hd = Dbf.Get();
  const int NumRecords = DBFGetRecordCount(Hd);
  if (DBFGetFieldCount(Hd) != static_cast<int>(Checked.size()) || NumRecords < 0 ||
      uint32_t(NumRecords) != U32(File.Data() + 4) || Hd->nHeaderLength != U16(File.Data() + 8) ||
      Hd->nRecordLength != U16(File.Data() + 10))
    RaiseCorrupt(Path, "la descripción de los campos es incoherente");

  const TCodePage& Cp = CodePageOf(Ldid, Hd);
  auto Store = std::make_shared<TTableStore>();
  const std::vector<TDbfColumn> Layout = ReadLayout(Hd, Checked, Path, Cp, *Store);
  const TDbfRecords Records(File, Hd);
  for (TColumn& C : Store->Columns) C.Reserve(NumRecords);
  std::vector<uint8_t> Overflow(Layout.size(), 0);
  std::string Scratch;
  Records.ForEach([&](const char* Rec) {
    for (size_t I = 0; I < Layout.size(); ++I)
      DecodeValue(Store->Columns[I], Layout[I].Type,
                  std::string_view(Rec + Layout[I].Offset, Layout[I].Width), Cp, Scratch,
                  Overflow[I]);
  });
  for (size_t I = 0; I < Layout.size(); ++I)
    if (Overflow[I]) WidenToFloats(*Store, I, Layout[I], Records);
  return Store;
}

// ------------------------------------------------------------------------------------ writer

namespace {

struct TDbfOut {
  char Type;  // C N F L D
  int Width, Decimals;
  int Col;
  bool WithMs = false;  // times written with milliseconds
};

void AppendPadded(std::string& Rec, std::string_view S, size_t Width, bool Right) {
  if (Right) Rec.append(Width - std::min(Width, S.size()), ' ');
  Rec.append(S.substr(0, Width));
  if (!Right) Rec.append(Width - std::min(Width, S.size()), ' ');
}

// The text of X with exactly Decimals decimals (correctly rounded, as std::to_chars writes it)
// into Buf, which holds at least 40 characters; returns its length. Most values are scaled to a
// whole number and written digit by digit; those the scaling cannot decide (beyond 2^53 once
// scaled, or too near a half) go through std::to_chars.
int FormatFixed(char* Buf, double X, int Decimals) {
  static const double Scale[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};
  if (Decimals >= 0 && Decimals <= 8 && std::isfinite(X)) {
    const double Y = std::fabs(X) * Scale[Decimals];
    const double Whole = std::floor(Y), Fraction = Y - Whole;
    // Y is within Y * 2^-53 of the exact scaled value: far enough from a half, it rounds the
    // same way.
    if (Y < 9007199254740992.0 && std::fabs(Fraction - 0.5) > Y * 4.5e-16 + 1e-12) {
      uint64_t Digits = static_cast<uint64_t>(Whole) + (Fraction > 0.5);
      char Tmp[24];
      int Len = 0;
      do {
        Tmp[Len++] = static_cast<char>('0' + Digits % 10);
        Digits /= 10;
      } while (Digits || Len <= Decimals);
      char* P = Buf;
      if (std::signbit(X)) *P++ = '-';
      while (Len > Decimals) *P++ = Tmp[--Len];
      if (Decimals > 0) *P++ = '.';
      while (Len > 0) *P++ = Tmp[--Len];
      return static_cast<int>(P - Buf);
    }
  }
  return static_cast<int>(std::to_chars(Buf, Buf + 40, X, std::chars_format::fixed, Decimals).ptr -
                          Buf);
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

// The dBase field a column becomes: texts as wide as their longest value, numbers with as many
// decimals as they need to read back unchanged, times and timestamps as text. Raises naming the
// field for a type the format lacks or a value it cannot hold.
TDbfOut PlanField(const TColumnDef& Def, const TColumn& Col, const TRowSelection& Rows,
                  const std::string& ErrName) {
  TDbfOut O;
  O.Decimals = 0;
  auto TooWide = [&](size_t Row) {
    RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Row + 1) + " del campo '" +
                                Def.Name + "' no cabe en un campo numérico de dBase");
  };
  auto RequireDatesInRange = [&] {
    Rows.ForEachValue(Col, [&](size_t Row) {
      if (!IsInCalendar(TDateTime(Col.Double(Row))))
        RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Row + 1) + " del campo '" +
                                    Def.Name + "' está fuera del rango de fechas");
    });
  };
  char Buf[512];
  switch (Col.Type()) {
    case ftString:
    case ftMemo:
    case ftFmtMemo: {
      const size_t MaxLen =
          LongestText(Col, Rows, std::min<size_t>(Def.Size > 0 ? size_t(Def.Size) : 1, 254));
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
      Rows.ForEachValue(Col, [&](size_t Row) {
        const double X = Col.Double(Row);
        if (std::fabs(X) < 1e14) return;  // surely fits: 14 digits, a point and 4 decimals
        auto Res = std::to_chars(Buf, Buf + sizeof Buf, X, std::chars_format::fixed, 4);
        if (!std::isfinite(X) || Res.ec != std::errc() || Res.ptr - Buf > 20) TooWide(Row);
      });
      break;
    case ftFloat:
    case ftBCD: {
      // As many decimals as the values need to read back unchanged, within 20 characters.
      int IntDigits = 1, Decimals = 0;
      Rows.ForEachValue(Col, [&](size_t Row) {
        const double X = Col.Double(Row);
        if (X == std::trunc(X) && std::fabs(X) < 1e15) {
          // A whole number needs no decimals (and is written without the formatting below).
          int Digits = 1;
          for (double A = std::fabs(X); A >= 10; A /= 10) ++Digits;
          IntDigits = std::max(IntDigits, Digits + (X < 0));
          return;
        }
        auto Res = std::isfinite(X)
                       ? std::to_chars(Buf, Buf + sizeof Buf, X, std::chars_format::fixed)
                       : std::to_chars_result{Buf, std::errc::value_too_large};
        if (Res.ec != std::errc()) TooWide(Row);
        std::string_view S(Buf, Res.ptr - Buf);
        size_t Dot = S.find('.');
        int Ip = static_cast<int>(Dot == std::string_view::npos ? S.size() : Dot);
        int Dp = Dot == std::string_view::npos ? 0 : static_cast<int>(S.size() - Dot - 1);
        if (Ip > 20) TooWide(Row);
        IntDigits = std::max(IntDigits, Ip);
        Decimals = std::max(Decimals, Dp);
      });
      Decimals = std::min({Decimals, 15, 19 - IntDigits});
      O.Type = 'F';
      O.Width = 20;
      O.Decimals = std::max(Decimals, 0);
      break;
    }
    case ftDate:
      RequireDatesInRange();
      O.Type = 'D';
      O.Width = 8;
      break;
    case ftTime:
    case ftDateTime:
      RequireDatesInRange();
      O.WithMs = AnyMilliseconds(Col, Rows);
      O.Type = 'C';
      O.Width = (Col.Type() == ftTime ? 8 : 19) + (O.WithMs ? 4 : 0);
      break;
    default:
      RaiseFileError(ErrName, "el campo '" + Def.Name + "' es de tipo " +
                                  FieldTypeName(Col.Type()) +
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

// Appends to Rec the text of stored row Row: each field padded to its width (numbers to the
// right), empty fields blank ("?" for logicals).
void AppendRecordText(std::string& Rec, const TTableSlice& Data, const std::vector<TDbfOut>& Out,
                      size_t Row, const TCodePage& Cp, const std::string& ErrName) {
  for (const TDbfOut& O : Out) {
    const TColumn& Col = Data.Column(O.Col);
    if (Col.IsNull(Row)) {
      Rec.append(O.Width, O.Type == 'L' ? '?' : ' ');
      continue;
    }
    char Buf[40];
    int N = 0;
    switch (Col.Type()) {
      case ftString:
      case ftMemo:
      case ftFmtMemo: {
        // Encoded straight into the record, then cut or padded to the field's width.
        const size_t At = Rec.size();
        Cp.Encode(Col.Str(Row), Rec);
        Rec.resize(At + O.Width, ' ');
        continue;
      }
      case ftBoolean:
        Rec.push_back(Col.Int(Row) ? 'T' : 'F');
        continue;
      case ftSmallint:
      case ftInteger:
      case ftWord:
      case ftAutoInc:
        N = static_cast<int>(std::to_chars(Buf, Buf + sizeof Buf, Col.Int(Row)).ptr - Buf);
        break;
      case ftCurrency:
      case ftFloat:
      case ftBCD:
        N = FormatFixed(Buf, Col.Double(Row), O.Decimals);
        break;
      case ftDate: {
        int64_t Days, Ms;
        SplitDateTime(TDateTime(Col.Double(Row)), Days, Ms);
        int Y, M, D;
        DateOfDayNumber(Days, Y, M, D);
        N = PutDigits(PutDigits(PutDigits(Buf, Y, 4), M, 2), D, 2) - Buf;
        break;
      }
      case ftTime:
      case ftDateTime:
        N = FormatIsoDateTime(Buf, Col.Double(Row), Col.Type(), O.WithMs);
        break;
      default:
        break;
    }
    if (N < 0 || N > O.Width)
      RaiseFileError(ErrName, "el valor de la fila " + std::to_string(Row + 1) + " del campo '" +
                                  Data.Def(O.Col).Name + "' no cabe en su campo dBase");
    AppendPadded(Rec, std::string_view(Buf, N), O.Width, O.Type == 'N' || O.Type == 'F');
  }
}

}  // namespace

void WriteDBaseFile(const std::string& Path, const std::string& ErrName, const TTableSlice& Data) {
  const size_t NumFields = Data.ColumnCount();
  if (NumFields == 0) RaiseFileError(ErrName, "una tabla dBase necesita al menos un campo");
  if (NumFields > 255) RaiseFileError(ErrName, "una tabla dBase admite como mucho 255 campos");
  const TRowSelection& Selected = Data.Rows();
  const size_t RowCount = Selected.Count();
  const TCodePage& Cp = TCodePage::Get("CP1252");

  const std::vector<std::string> Names = FieldNames(Data, Cp, ErrName);
  std::vector<TDbfOut> Out(NumFields);
  int RecordLen = 1;  // the deletion flag
  for (size_t I = 0; I < NumFields; ++I) {
    Out[I] = PlanField(Data.Def(I), Data.Column(I), Selected, ErrName);
    Out[I].Col = static_cast<int>(I);
    RecordLen += Out[I].Width;
  }

  // shapelib writes the header; the records follow it through one buffered stream, since
  // shapelib seeks before every record it writes.
  const uint64_t HeaderLen = CreateWithHeader(Path, ErrName, Data, Names, Out);
  TFileWriter W(Path, ErrName, HeaderLen);
  std::string Rec;
  Rec.reserve(RecordLen);
  for (size_t R = 0; R < RowCount; ++R) {
    Rec.assign(1, ' ');
    AppendRecordText(Rec, Data, Out, Selected[R], Cp, ErrName);
    W.Write(Rec);
  }
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
