// Paradox tables against an independent implementation (pxlib) both ways, and damaged files.
extern "C" {
#include <paradox.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "DB.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

// Days from 0001-01-01 (day 1) to 1899-12-30.
constexpr long kPxDaysTo1899 = 693594;

struct TPxDoc {
  pxdoc_t* P;
  TPxDoc() : P(PX_new()) {}
  ~TPxDoc() {
    PX_close(P);
    PX_delete(P);
  }
};

// The canonical text of a field pxlib decodes from a raw record, through a one-value column of
// the type our reader gives the field.
std::string PxCell(pxdoc_t* Px, char* Data, const pxfield_t* Fd) {
  auto Of = [](TFieldType T, auto Fill) {
    TColumn C(T);
    Fill(C);
    return CanonicalCell(C, 0);
  };
  const int Len = Fd->px_flen;
  long L = 0;
  double D = 0;
  short S = 0;
  char B = 0;
  char* Str = nullptr;
  // pxlib tests 4-byte fields for emptiness through an 8-byte load on 64-bit machines, so an
  // empty field followed by data decodes as a value there: emptiness (all bytes zero, as the
  // format defines it) is checked here, the values themselves are pxlib's.
  if (std::all_of(Data, Data + Len, [](char C) { return C == 0; })) return "null";
  switch (Fd->px_ftype) {
    case pxfAlpha: {
      if (PX_get_data_alpha(Px, Data, Len, &Str) <= 0) return "null";
      std::string R(Str);
      Px->free(Px, Str);
      return R;
    }
    case pxfShort:
      return PX_get_data_short(Px, Data, Len, &S) > 0 ? std::to_string(S) : "null";
    case pxfLong:
    case pxfAutoInc:
      return PX_get_data_long(Px, Data, Len, &L) > 0 ? std::to_string(L) : "null";
    case pxfLogical:
      return PX_get_data_byte(Px, Data, Len, &B) > 0 ? (B ? "true" : "false") : "null";
    case pxfNumber:
    case pxfCurrency:
      if (PX_get_data_double(Px, Data, Len, &D) <= 0) return "null";
      return Of(ftFloat, [&](TColumn& C) { C.AppendDouble(D); });
    case pxfDate:
      if (PX_get_data_long(Px, Data, Len, &L) <= 0) return "null";
      return Of(ftDate, [&](TColumn& C) { C.AppendDouble(double(L - kPxDaysTo1899)); });
    case pxfTime:
      if (PX_get_data_long(Px, Data, Len, &L) <= 0) return "null";
      return Of(ftTime, [&](TColumn& C) { C.AppendDouble(L / 86400000.0); });
    case pxfTimestamp:
      if (PX_get_data_double(Px, Data, Len, &D) <= 0) return "null";
      return Of(ftDateTime, [&](TColumn& C) {
        const double Days = std::floor(D / 86400000.0);
        C.AppendDouble(
            JoinDateTime(int64_t(Days) - kPxDaysTo1899, std::llround(D - Days * 86400000.0)).Val);
      });
    default:
      return "?";
  }
}

TEST(ParadoxInterop, TableWeWriteReadsIdenticallyThroughPxlib) {
  TScratchDir Dir;
  const std::string Path = Dir.File("every.db");
  TTableStore Src = AllTypesTable();
  SaveTableFile(Path, Src);

  TPxDoc Px;
  ASSERT_EQ(0, PX_open_file(Px.P, Path.c_str()));
  PX_set_targetencoding(Px.P, "UTF-8");
  ASSERT_EQ(int(Src.Defs.size()), PX_get_num_fields(Px.P));
  ASSERT_EQ(int(Src.RowCount()), PX_get_num_records(Px.P));
  EXPECT_EQ(1, Px.P->px_head->px_primarykeyfields);
  EXPECT_EQ(1252, Px.P->px_head->px_doscodepage);
  const char Want[] = {pxfAlpha, pxfShort, pxfLong,      pxfNumber,  pxfCurrency, pxfLogical,
                       pxfDate,  pxfTime,  pxfTimestamp, pxfAutoInc, pxfMemoBLOb};
  for (int F = 0; F < PX_get_num_fields(Px.P); ++F) {
    pxfield_t* Fd = PX_get_field(Px.P, F);
    EXPECT_EQ(Src.Defs[F].Name, Fd->px_fname);
    EXPECT_EQ(Want[F], Fd->px_ftype) << Fd->px_fname;
  }
  std::vector<char> Rec(PX_get_recordsize(Px.P));
  for (int R = 0; R < PX_get_num_records(Px.P); ++R) {
    ASSERT_NE(nullptr, PX_get_record(Px.P, R, Rec.data()));
    char* P = Rec.data();
    for (int F = 0; F < PX_get_num_fields(Px.P); ++F) {
      pxfield_t* Fd = PX_get_field(Px.P, F);
      if (Fd->px_ftype == pxfMemoBLOb) {
        // The record keeps the text's first bytes and its length (the rest would be in a blob
        // file, which a table whose memos fit in the record does not need).
        std::string Text(P, strnlen(P, Fd->px_flen - 10));
        std::string Want = Src.Columns[F].IsNull(R) ? "" : std::string(Src.Columns[F].Str(R));
        std::string Utf8;
        char* Conv = nullptr;
        if (!Text.empty() && PX_get_data_alpha(Px.P, P, Text.size(), &Conv) > 0) {
          Utf8 = Conv;
          Px.P->free(Px.P, Conv);
        }
        EXPECT_EQ(Want, Utf8) << "memo row " << R;
      } else {
        EXPECT_EQ(CanonicalCell(Src.Columns[F], R), PxCell(Px.P, P, Fd))
            << Src.Defs[F].Name << " row " << R;
      }
      P += Fd->px_flen;
    }
  }
}

TEST(ParadoxInterop, TableWrittenByPxlibReadsIdentically) {
  TScratchDir Dir;
  const std::string Path = Dir.File("frompx.db");
  struct TF {
    const char* Name;
    char Type;
    int Len;
  } Defs[] = {{"Nombre", pxfAlpha, 24}, {"Corto", pxfShort, 2},     {"Largo", pxfLong, 4},
              {"Numero", pxfNumber, 8}, {"Dinero", pxfCurrency, 8}, {"Si", pxfLogical, 1},
              {"Dia", pxfDate, 4},      {"Hora", pxfTime, 4},       {"Momento", pxfTimestamp, 8},
              {"Auto", pxfAutoInc, 4}};
  const int N = sizeof Defs / sizeof Defs[0];
  {
    TPxDoc Px;
    auto* Fields = static_cast<pxfield_t*>(std::malloc(sizeof(pxfield_t) * N));
    for (int I = 0; I < N; ++I) Fields[I] = {strdup(Defs[I].Name), Defs[I].Type, Defs[I].Len, 0};
    ASSERT_EQ(0, PX_create_file(Px.P, Fields, N, Path.c_str(), pxfFileTypNonIndexDB));
    PX_set_parameter(Px.P, "codepage", "CP1252");
    char Rec[100];
    struct TRow {
      const char* Name;
      short S;
      int L;
      double Num, Money;
      char Flag;
      int Y, M, D, Ms;
    } Rows[] = {{"Pe\xF1"
                 "a \xD1"
                 "and\xFA",
                 -3, 123456, -2.5, 10.25, 1, 2000, 1, 2, 3600000},
                {"Zo\xEB", 32767, -2147483647, 1e-5, -1234.5678, 0, 1, 1, 1, 86399000}};
    for (const TRow& R : Rows) {
      std::memset(Rec, 0, sizeof Rec);
      char* P = Rec;
      PX_put_data_alpha(Px.P, P, 24, const_cast<char*>(R.Name)), P += 24;
      PX_put_data_short(Px.P, P, 2, R.S), P += 2;
      PX_put_data_long(Px.P, P, 4, R.L), P += 4;
      PX_put_data_double(Px.P, P, 8, R.Num), P += 8;
      PX_put_data_double(Px.P, P, 8, R.Money), P += 8;
      PX_put_data_byte(Px.P, P, 1, R.Flag), P += 1;
      long Days = PX_GregorianToSdn(R.Y, R.M, R.D) - 1721425;
      PX_put_data_long(Px.P, P, 4, Days), P += 4;
      PX_put_data_long(Px.P, P, 4, R.Ms), P += 4;
      PX_put_data_double(Px.P, P, 8, Days * 86400000.0 + R.Ms), P += 8;
      PX_put_data_long(Px.P, P, 4, R.S + 100), P += 4;
      PX_put_record(Px.P, Rec);
    }
    std::memset(Rec, 0, sizeof Rec);
    PX_put_record(Px.P, Rec);  // every field empty
  }
  auto T = LoadTableFile(Path);
  ASSERT_EQ(3u, T->RowCount());
  const TFieldType Types[] = {ftString,  ftSmallint, ftInteger, ftFloat,    ftCurrency,
                              ftBoolean, ftDate,     ftTime,    ftDateTime, ftAutoInc};
  for (int I = 0; I < N; ++I) {
    EXPECT_EQ(Defs[I].Name, T->Defs[I].Name);
    EXPECT_EQ(Types[I], T->Columns[I].Type()) << Defs[I].Name;
  }
  const std::vector<std::vector<std::string>> Want = {
      {"Peña Ñandú", "-3", "123456", "-2.5", "10.25", "true", "2000-01-02", "01:00:00",
       "2000-01-02 01:00:00", "97"},
      {"Zoë", "32767", "-2147483647", "1.0000000000000001e-05", "-1234.5678", "false", "0001-01-01",
       "23:59:59", "0001-01-01 23:59:59", "32867"},
      std::vector<std::string>(N, "null")};
  for (size_t R = 0; R < Want.size(); ++R)
    for (int C = 0; C < N; ++C)
      EXPECT_EQ(Want[R][C], CanonicalCell(T->Columns[C], R)) << Defs[C].Name << " row " << R;
}

// Writes with pxlib a table whose memos are short (kept in the record), long (a shared block of
// the memo file), very long (a block run of their own) and empty.
std::vector<std::string> WritePxlibMemos(const std::string& Db, const std::string& Mb) {
  std::vector<std::string> Texts = {"corto", "Un texto bastante largo que no cabe en el registro",
                                    "B" + std::string(5998, 'x'), ""};
  TPxDoc Px;
  auto* Fields = static_cast<pxfield_t*>(std::malloc(sizeof(pxfield_t) * 2));
  Fields[0] = {strdup("Id"), pxfLong, 4, 0};
  Fields[1] = {strdup("Notas"), pxfMemoBLOb, 20, 0};
  EXPECT_EQ(0, PX_create_file(Px.P, Fields, 2, Db.c_str(), pxfFileTypNonIndexDB));
  EXPECT_EQ(0, PX_set_blob_file(Px.P, Mb.c_str()));
  for (size_t I = 0; I < Texts.size(); ++I) {
    char Rec[24] = {0};
    PX_put_data_long(Px.P, Rec, 4, int(I + 1));
    if (!Texts[I].empty())
      PX_put_data_blob(Px.P, Rec + 4, 20, Texts[I].data(), int(Texts[I].size()));
    PX_put_record(Px.P, Rec);
  }
  return Texts;
}

TEST(ParadoxInterop, MemosInTheMemoFileReadInFull) {
  TScratchDir Dir;
  auto Texts = WritePxlibMemos(Dir.File("memos.db"), Dir.File("MEMOS.MB"));
  auto T = LoadTableFile(Dir.File("memos.db"));
  ASSERT_EQ(Texts.size(), T->RowCount());
  EXPECT_EQ(ftMemo, T->Columns[1].Type());
  for (size_t R = 0; R < Texts.size(); ++R) EXPECT_EQ(Texts[R], T->Columns[1].Str(R)) << R;
  EXPECT_TRUE(T->Columns[1].IsNull(3));
}

TEST(ParadoxInterop, MissingOrDamagedMemoFileIsNamed) {
  TScratchDir Dir;
  WritePxlibMemos(Dir.File("memos.db"), Dir.File("memos.mb"));
  std::string Mb = ReadFileBytes(Dir.File("memos.mb"));
  Mb.resize(0x1100);  // the long texts' blocks cut off
  WriteFileBytes(Dir.File("memos.mb"), Mb);
  for (bool Remove : {false, true}) {
    if (Remove) std::remove(Dir.File("memos.mb").c_str());
    try {
      // The memo file is read with the memo column.
      auto T = LoadTableFile(Dir.File("memos.db"));
      T->Columns[1].Decode();
      ADD_FAILURE() << "memos lost silently";
    } catch (const EDatabaseError& E) {
      EXPECT_NE(std::string::npos, E.Message().find("memos.mb")) << E.Message();
    }
  }
}

TEST(ParadoxInterop, LongMemosWeWriteReadThroughPxlibAndBack) {
  TScratchDir Dir;
  TTableStore Src;
  Src.AddColumn({"Id", ftInteger, 0, false});
  Src.AddColumn({"Notas", ftMemo, 0, false});
  std::vector<std::string> Texts = {"breve", "", "Señal " + std::string(300, 'a'),
                                    "Ñ" + std::string(6000, 'z') + "€"};
  for (size_t I = 0; I < Texts.size(); ++I)
    Src.AppendRow({int(I + 1), Texts[I].empty() ? Null() : Variant(Texts[I])});
  SaveTableFile(Dir.File("largos.db"), Src);
  EXPECT_EQ((std::vector<std::string>{"largos.db", "largos.mb"}), Dir.Entries());
  ExpectSameTable(Src, *LoadTableFile(Dir.File("largos.db")));

  TPxDoc Px;
  ASSERT_EQ(0, PX_open_file(Px.P, Dir.File("largos.db").c_str()));
  ASSERT_EQ(0, PX_set_blob_file(Px.P, Dir.File("largos.mb").c_str()));
  const int Len = PX_get_field(Px.P, 1)->px_flen;
  std::vector<char> Rec(PX_get_recordsize(Px.P));
  for (size_t R = 0; R < Texts.size(); ++R) {
    ASSERT_NE(nullptr, PX_get_record(Px.P, int(R), Rec.data()));
    int Mod = 0, Size = 0;
    char* Blob = nullptr;
    int Got = PX_get_data_blob(Px.P, Rec.data() + 4, Len, &Mod, &Size, &Blob);
    std::string Text = Got > 0 && Blob ? std::string(Blob, Size) : std::string();
    if (Blob) Px.P->free(Px.P, Blob);
    std::string Want = Texts[R];
    // pxlib hands out the file's bytes: CP1252.
    for (auto [From, To] :
         {std::pair<std::string, std::string>{"ñ", "\xF1"}, {"Ñ", "\xD1"}, {"€", "\x80"}})
      for (size_t P; (P = Want.find(From)) != std::string::npos;) Want.replace(P, From.size(), To);
    EXPECT_EQ(Want, Text) << "row " << R;
  }
}

// Text in the code page the header declares comes back as UTF-8.
struct TCodePageCase {
  const char* Name;
  unsigned Declared;
  const char* Bytes;
  const char* Utf8;
};

class ParadoxCodePage : public ::testing::TestWithParam<TCodePageCase> {};

TEST_P(ParadoxCodePage, DecodedToUtf8) {
  TScratchDir Dir;
  const std::string Path = Dir.File("cp.db");
  {
    TPxDoc Px;
    auto* Fields = static_cast<pxfield_t*>(std::malloc(sizeof(pxfield_t)));
    Fields[0] = {strdup("Texto"), pxfAlpha, 20, 0};
    ASSERT_EQ(0, PX_create_file(Px.P, Fields, 1, Path.c_str(), pxfFileTypNonIndexDB));
    char Rec[20] = {0};
    std::memcpy(Rec, GetParam().Bytes, std::strlen(GetParam().Bytes));
    PX_put_record(Px.P, Rec);
  }
  // pxlib always declares 1252; the header's code-page word is set here.
  std::string B = ReadFileBytes(Path);
  B[0x6A] = char(GetParam().Declared & 0xFF);
  B[0x6B] = char(GetParam().Declared >> 8);
  WriteFileBytes(Path, B);
  auto T = LoadTableFile(Path);
  ASSERT_EQ(1u, T->RowCount());
  EXPECT_EQ(std::string(GetParam().Utf8), T->Columns[0].Str(0));
}

INSTANTIATE_TEST_SUITE_P(Cases, ParadoxCodePage,
                         ::testing::Values(TCodePageCase{"Cp437", 437,
                                                         "Espa\xA4"
                                                         "a \x82\xA0",
                                                         "España éá"},
                                           TCodePageCase{"Cp850", 850,
                                                         "\xA5"
                                                         "and\xA3 \xB5",
                                                         "Ñandú Á"},
                                           TCodePageCase{"Cp1252", 1252,
                                                         "\xD1"
                                                         "and\xFA \x80",
                                                         "Ñandú €"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ParadoxRead, TimestampsBeyondTheCalendarReadAsEmpty) {
  TScratchDir Dir;
  const std::string Path = Dir.File("stamp.db");
  TTableStore T;
  T.AddColumn({"Stamp", ftDateTime, 0, false});
  for (int I = 0; I < 4; ++I) T.AppendRow({TDateTime(36526.25)});
  SaveTableFile(Path, T);
  // Records start after the 0x800-byte header and the 6-byte block header, 8 bytes each.
  std::string B = ReadFileBytes(Path);
  const double Bad[] = {1e300, -1e300, 9.3e18 * 86400000.0};
  for (int R = 0; R < 3; ++R) {
    uint64_t Bits;
    std::memcpy(&Bits, &Bad[R], 8);
    Bits = (Bits & 0x8000000000000000ull) ? ~Bits : (Bits | 0x8000000000000000ull);
    for (int K = 0; K < 8; ++K) B[0x806 + R * 8 + K] = char(Bits >> (56 - 8 * K));
  }
  WriteFileBytes(Path, B);
  auto Back = LoadTableFile(Path);
  ASSERT_EQ(4u, Back->RowCount());
  for (int R = 0; R < 3; ++R) EXPECT_TRUE(Back->Columns[0].IsNull(R)) << R;
  EXPECT_EQ("2000-01-01 06:00:00", CanonicalCell(Back->Columns[0], 3));
}

// ---- damaged files: each an error naming the file and the fault, never a crash

struct TCorruptCase {
  const char* Name;
  void (*Spoil)(std::string& Bytes);
  const char* Fault;  // part of the message
};

void PutU16(std::string& B, size_t At, unsigned V) {
  B[At] = char(V & 0xFF);
  B[At + 1] = char(V >> 8);
}

class ParadoxCorrupt : public ::testing::TestWithParam<TCorruptCase> {};

TEST_P(ParadoxCorrupt, RaisesNamingFileAndFault) {
  TScratchDir Dir;
  const std::string Good = Dir.File("good.db"), Bad = Dir.File("bad.db");
  TTableStore Src;
  Src.AddColumn({"Id", ftInteger, 0, false});
  Src.AddColumn({"Name", ftString, 20, false});
  for (int I = 0; I < 600; ++I) Src.AppendRow({I + 1, "nombre " + std::to_string(I)});
  SaveTableFile(Good, Src);
  std::string Bytes = ReadFileBytes(Good);
  GetParam().Spoil(Bytes);
  WriteFileBytes(Bad, Bytes);
  try {
    LoadTableFile(Bad);
    FAIL() << "a damaged file loaded";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find(Bad)) << E.Message();
    EXPECT_NE(std::string::npos, E.Message().find(GetParam().Fault)) << E.Message();
  }
}

// Our writer: 4 KB blocks, header 0x800 bytes, records of 4 + 20 bytes (170 per block).
INSTANTIATE_TEST_SUITE_P(
    Cases, ParadoxCorrupt,
    ::testing::Values(
        TCorruptCase{"Empty", [](std::string& B) { B.clear(); }, "truncado"},
        TCorruptCase{"HeaderCut", [](std::string& B) { B.resize(0x40); }, "truncado"},
        TCorruptCase{"HeaderLongerThanFile", [](std::string& B) { B.resize(0x700); }, "truncado"},
        TCorruptCase{"LastBlockCut", [](std::string& B) { B.resize(B.size() - 3000); }, "truncado"},
        TCorruptCase{"RecordSizeWrong", [](std::string& B) { PutU16(B, 0x00, 30); },
                     "tamaño de registro"},
        TCorruptCase{"RecordSizeZero", [](std::string& B) { PutU16(B, 0x00, 0); },
                     "tamaño de registro"},
        TCorruptCase{"HeaderSizeTiny", [](std::string& B) { PutU16(B, 0x02, 0x10); }, "cabecera"},
        TCorruptCase{"BlockSizeInvalid", [](std::string& B) { B[0x05] = 7; }, "bloque"},
        TCorruptCase{"NoFields", [](std::string& B) { PutU16(B, 0x21, 0); }, "campos"},
        TCorruptCase{"TooManyFields", [](std::string& B) { PutU16(B, 0x21, 4000); }, "campos"},
        TCorruptCase{"KeyLongerThanFields", [](std::string& B) { PutU16(B, 0x23, 9); }, "clave"},
        TCorruptCase{"UnknownFieldType", [](std::string& B) { B[0x78] = 0x33; }, "tipo"},
        TCorruptCase{"FieldSizeWrong", [](std::string& B) { B[0x79] = 9; }, "tamaño"},
        TCorruptCase{"FirstBlockOutside", [](std::string& B) { PutU16(B, 0x0E, 90); }, "fuera"},
        TCorruptCase{"ChainPointsOutside", [](std::string& B) { PutU16(B, 0x800, 1000); }, "fuera"},
        TCorruptCase{"ChainLoops", [](std::string& B) { PutU16(B, 0x800 + 4096, 1); }, "ciclo"},
        TCorruptCase{"BlockClaimsTooManyRecords",
                     [](std::string& B) { PutU16(B, 0x804, 24 * 400); }, "registros"},
        TCorruptCase{"HugeRecordCount",
                     [](std::string& B) { B[0x06] = B[0x07] = B[0x08] = B[0x09] = char(0xFF); },
                     "registros"},
        TCorruptCase{"NamesRunOffHeader",
                     [](std::string& B) { std::memset(&B[0x100], 'x', 0x700); }, "nombres"},
        TCorruptCase{"NotADataFile", [](std::string& B) { B[0x04] = 1; }, "tabla de datos"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
