// dBase tables against an independent reader (dbfread), and damaged files.
#include <shapefil.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <iterator>
#include <sstream>

#include "DB.h"
#include "SysUtils.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

std::vector<std::string> Lines(const std::string& S) {
  std::vector<std::string> R;
  std::istringstream In(S);
  for (std::string L; std::getline(In, L);) R.push_back(L);
  return R;
}

TEST(DBaseInterop, TableWeWriteReadsIdenticallyThroughDbfread) {
  TScratchDir Dir;
  const std::string Path = Dir.File("every.dbf");
  TTableStore Src = AllTypesTable();
  SaveTableFile(Path, Src);

  auto Out = Lines(RunPythonScript("dbfread_dump.py", {Path}));
  ASSERT_EQ(3 + Src.RowCount(), Out.size()) << ::testing::PrintToString(Out);
  EXPECT_EQ("cp1252", Out[0]) << "the code page is declared in the file";
  EXPECT_EQ("Name\tShort\tLong\tNum\tMoney\tFlag\tDay\tClock\tStamp\tSeq\tNotes", Out[1]);
  EXPECT_EQ("C30.0\tN6.0\tN11.0\tF20.14\tN20.4\tL1.0\tD8.0\tC8.0\tC19.0\tN11.0\tC29.0", Out[2]);
  for (size_t R = 0; R < Src.RowCount(); ++R) {
    std::string Want;
    for (size_t C = 0; C < Src.Columns.size(); ++C)
      Want += (C ? "\t" : "") + CanonicalCell(Src.Columns[C], R);
    EXPECT_EQ(Want, Out[3 + R]) << "row " << R;
  }
}

// dBase keeps ten characters of a name: names that the cut makes alike (in any letter case)
// get a short numbered ending instead, so every table can be written and read back by any
// reader with one name per field.
TEST(DBaseWrite, CutNamesStayApart) {
  TScratchDir Dir;
  const std::string Path = Dir.File("names.dbf");
  TTableStore Src;
  for (const char* Name : {"ShipToAddr1", "ShipToAddr2", "ShipToAd_1", "shiptoaddr", "Total"})
    Src.AddColumn({Name, ftInteger, 0, false});
  for (int N = 1; N <= 11; ++N)
    Src.AddColumn({"Observaciones" + std::to_string(N), ftString, 4, false});
  Src.AppendRow({1, 2, 3, 4, 5, "a", "b"});
  SaveTableFile(Path, Src);
  const std::string Want =
      "ShipToAddr\tShipToAd_1\tShipToAd_2\tshiptoad_3\tTotal\tObservacio\tObservac_1\tObservac_2"
      "\tObservac_3\tObservac_4\tObservac_5\tObservac_6\tObservac_7\tObservac_8\tObservac_9"
      "\tObserva_10";
  EXPECT_EQ(Want, Lines(RunPythonScript("dbfread_dump.py", {Path})).at(1));
  auto Back = LoadTableFile(Path);
  std::string Names;
  for (const auto& D : Back->Defs) Names += (Names.empty() ? "" : "\t") + D.Name;
  EXPECT_EQ(Want, Names);
  EXPECT_EQ("3", CanonicalCell(Back->Columns[2], 0));
  EXPECT_EQ("b", CanonicalCell(Back->Columns[6], 0));
}

// Numbers are written with their decimals exactly as std::to_chars rounds them, also at halves,
// near the limits of a double and for negative values that round to zero.
TEST(DBaseWrite, NumbersAreRoundedLikeToChars) {
  TScratchDir Dir;
  const std::string Path = Dir.File("money.dbf");
  const double Values[] = {
      0.03125, -0.03125, 2.675,           1.00005,    -0.00001,
      0.0,     -0.0,     123456789.12345, 1e13 / 3,   99999.99995,
      0.5,     8.5e-5,   -7.25e-5,        1e14 - 0.5, 4503599627370495.5 / 1e4};
  TTableStore Src;
  Src.AddColumn({"Money", ftCurrency, 0, false});
  for (double V : Values) Src.AppendRow({V});
  SaveTableFile(Path, Src);
  const std::string Bytes = ReadFileBytes(Path);
  const size_t Header = 32 + 32 + 1, Record = 21;
  for (size_t R = 0; R < std::size(Values); ++R) {
    char Want[64];
    auto End = std::to_chars(Want, Want + sizeof Want, Values[R], std::chars_format::fixed, 4);
    std::string Text = Bytes.substr(Header + R * Record + 1, 20);
    Text.erase(0, Text.find_first_not_of(' '));
    EXPECT_EQ(std::string(Want, End.ptr), Text) << Values[R];
  }
}

// A float field gets as many decimals as its values need to read back unchanged: for one value,
// those of the shortest text std::to_chars gives it (within 15 decimals and 19 digits in all).
TEST(DBaseWrite, FloatFieldsGetTheDecimalsOfTheShortestText) {
  std::vector<double> Values = {0.1,
                                0.5,
                                -0.5,
                                1.25,
                                903.89,
                                2.675,
                                0.3,
                                1e-5,
                                123456.789,
                                99999.99,
                                0.1 + 0.2,
                                1.0 / 3,
                                -2.0 / 3,
                                1e14 + 0.5,
                                4.35,
                                1e-15,
                                9.999999999999998,
                                1125899906842.623,
                                0.000123,
                                -7054.65};
  uint64_t S = 12345;
  for (int I = 0; I < 150; ++I) {
    S = S * 6364136223846793005ull + 1442695040888963407ull;
    const int Decimals = static_cast<int>(S >> 60) % 11;
    const double Whole = static_cast<double>((S >> 20) % 100000000);
    Values.push_back((Whole + static_cast<double>((S >> 8) % 4096) / 4096) /
                     std::pow(10.0, Decimals));
    Values.push_back(std::round(Whole / 7) / std::pow(10.0, Decimals) * (I % 2 ? -1 : 1));
  }
  TScratchDir Dir;
  for (double V : Values) {
    char Buf[512];
    const std::string_view Text(
        Buf, std::to_chars(Buf, Buf + sizeof Buf, V, std::chars_format::fixed).ptr - Buf);
    const size_t Dot = Text.find('.');
    const int Ip = static_cast<int>(Dot == std::string_view::npos ? Text.size() : Dot);
    const int Dp = Dot == std::string_view::npos ? 0 : static_cast<int>(Text.size() - Dot - 1);
    TTableStore Src;
    Src.AddColumn({"X", ftFloat, 0, false});
    Src.AppendRow({V});
    const std::string Path = Dir.File("x.dbf");
    SaveTableFile(Path, Src);
    const std::string Bytes = ReadFileBytes(Path);
    EXPECT_EQ(std::max(0, std::min({Dp, 15, 19 - Ip})), static_cast<unsigned char>(Bytes[32 + 17]))
        << Text;
  }
}

TEST(DBaseRead, TableWrittenByShapelibCallsReadsIdentically) {
  TScratchDir Dir;
  const std::string Path = Dir.File("shp.dbf");
  {
    DBFHandle H = DBFCreateEx(Path.c_str(), "LDID/87");
    ASSERT_NE(nullptr, H);
    DBFAddField(H, "NOMBRE", FTString, 20, 0);
    DBFAddField(H, "CANTIDAD", FTInteger, 9, 0);
    DBFAddField(H, "PRECIO", FTDouble, 12, 2);
    DBFAddNativeFieldType(H, "ACTIVO", 'L', 1, 0);
    DBFAddNativeFieldType(H, "ALTA", 'D', 8, 0);
    DBFWriteStringAttribute(H, 0, 0,
                            "Pe\xF1"
                            "a");  // CP1252, as declared
    DBFWriteIntegerAttribute(H, 0, 1, -42);
    DBFWriteDoubleAttribute(H, 0, 2, 1234.5);
    DBFWriteLogicalAttribute(H, 0, 3, 'T');
    char Date[] = "19991231";
    DBFWriteAttributeDirectly(H, 0, 4, Date);
    for (int F = 0; F < 5; ++F) DBFWriteNULLAttribute(H, 1, F);
    DBFClose(H);
  }
  auto T = LoadTableFile(Path);
  ASSERT_EQ(2u, T->RowCount());
  const TFieldType Types[] = {ftString, ftInteger, ftFloat, ftBoolean, ftDate};
  const char* Row0[] = {"Peña", "-42", "1234.5", "true", "1999-12-31"};
  for (int F = 0; F < 5; ++F) {
    EXPECT_EQ(Types[F], T->Columns[F].Type()) << F;
    EXPECT_EQ(Row0[F], CanonicalCell(T->Columns[F], 0)) << F;
    EXPECT_TRUE(T->Columns[F].IsNull(1)) << F;
  }
  EXPECT_EQ("NOMBRE", T->Defs[0].Name);
}

// A .cpg that says UTF-8 over bytes that are not: the text is refused naming the file, the
// record and the field, never passed on to outputs that must be UTF-8; valid texts read.
TEST(DBaseRead, TextThatIsNotTheUtf8ItsCpgSaysIsRefusedNamingRecordAndField) {
  TScratchDir Dir;
  const std::string Path = Dir.File("u.dbf");
  {
    DBFHandle H = DBFCreateEx(Path.c_str(), nullptr);
    ASSERT_NE(nullptr, H);
    DBFAddField(H, "NOMBRE", FTString, 20, 0);
    DBFAddField(H, "N", FTInteger, 4, 0);
    DBFWriteStringAttribute(H, 0, 0, "Peña");
    DBFWriteIntegerAttribute(H, 0, 1, 1);
    DBFWriteStringAttribute(H, 1, 0,
                            "Pe\xF1"
                            "a");
    DBFWriteIntegerAttribute(H, 1, 1, 2);
    DBFClose(H);
  }
  WriteFileBytes(Dir.File("u.cpg"), "UTF-8\n");
  auto T = LoadTableFile(Path);
  ASSERT_EQ(2u, T->RowCount());
  EXPECT_EQ(2, T->Columns[1].Int(1));
  try {
    T->Columns[0].Decode();
    FAIL() << "text that is not UTF-8 was taken: " << T->Columns[0].Str(1);
  } catch (const EDatabaseError& E) {
    const std::string M = E.Message();
    EXPECT_NE(std::string::npos, M.find(Path)) << M;
    EXPECT_NE(std::string::npos, M.find("registro 2, campo 'NOMBRE': el texto no es UTF-8 válido"))
        << M;
  }
  // The same bytes read as the code page declared reads them.
  WriteFileBytes(Dir.File("u.cpg"), "1252\n");
  ClearTableCache(Path);
  EXPECT_EQ("Peña", LoadTableFile(Path)->Columns[0].Str(1));
}

// Writing a table whose texts are damaged in two fields (the second field early, the first far
// on) reports the damage of the first field, as a read of one column after the other meets it.
TEST(DBaseRead, CopyOfATableDamagedInTwoFieldsNamesTheFirst) {
  TScratchDir Dir;
  const std::string Path = Dir.File("two.dbf");
  {
    DBFHandle H = DBFCreateEx(Path.c_str(), nullptr);
    ASSERT_NE(nullptr, H);
    DBFAddField(H, "N", FTInteger, 6, 0);
    DBFAddField(H, "PRIMERO", FTString, 20, 0);
    DBFAddField(H, "SEGUNDO", FTString, 20, 0);
    for (int R = 0; R < 9000; ++R) {
      DBFWriteIntegerAttribute(H, R, 0, R);
      DBFWriteStringAttribute(H, R, 1,
                              R == 8000 ? "Pe\xF1"
                                          "a"
                                        : "bien");
      DBFWriteStringAttribute(H, R, 2,
                              R == 10 ? "Mu\xF1"
                                        "oz"
                                      : "bien");
    }
    DBFClose(H);
  }
  WriteFileBytes(Dir.File("two.cpg"), "UTF-8\n");
  auto T = LoadTableFile(Path);
  try {
    SaveTableFile(Dir.File("copy.dbf"), *T);
    FAIL() << "damaged texts were copied";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, std::string(E.Message()).find("registro 8001, campo 'PRIMERO'"))
        << E.Message();
  }
  EXPECT_EQ(std::vector<std::string>({"two.cpg", "two.dbf"}), Dir.Entries());
  EXPECT_EQ(8999, T->Columns[0].Int(8999)) << "the sound column reads";
}

TEST(DBaseRead, WideWholeNumbersBecomeFloatsOnlyWhenTheyOverflow) {
  TScratchDir Dir;
  TTableStore Src;
  Src.AddColumn({"Big", ftInteger, 0, false});
  Src.AppendRow({-2147483647});
  Src.AppendRow({7});
  SaveTableFile(Dir.File("fits.dbf"), Src);
  auto Fits = LoadTableFile(Dir.File("fits.dbf"));
  EXPECT_EQ(ftInteger, Fits->Columns[0].Type());
  EXPECT_EQ(-2147483647, Fits->Columns[0].Int(0));

  // The same N(11,0) column holding a number beyond 32 bits (header 65 bytes, records 12).
  std::string B = ReadFileBytes(Dir.File("fits.dbf"));
  B.replace(65 + 1, 11, "12345678901");
  WriteFileBytes(Dir.File("wide.dbf"), B);
  auto Wide = LoadTableFile(Dir.File("wide.dbf"));
  EXPECT_EQ(ftFloat, Wide->Columns[0].Type());
  EXPECT_EQ(12345678901.0, Wide->Columns[0].Double(0));
  EXPECT_EQ(7.0, Wide->Columns[0].Double(1));
}

// ---- damaged files

struct TCorruptCase {
  const char* Name;
  void (*Spoil)(std::string& Bytes);
  const char* Fault;
};

class DBaseCorrupt : public ::testing::TestWithParam<TCorruptCase> {};

TEST_P(DBaseCorrupt, RaisesNamingFileAndFault) {
  TScratchDir Dir;
  const std::string Good = Dir.File("good.dbf"), Bad = Dir.File("bad.dbf");
  TTableStore Src;
  Src.AddColumn({"Id", ftInteger, 0, false});
  Src.AddColumn({"Name", ftString, 20, false});
  for (int I = 0; I < 100; ++I) Src.AppendRow({I + 1, "nombre " + std::to_string(I)});
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

void PutU16(std::string& B, size_t At, unsigned V) {
  B[At] = char(V & 0xFF);
  B[At + 1] = char(V >> 8);
}

// Header 32 + 2 * 32 + 1 = 97 bytes; records 1 + 11 + 20 = 32 bytes.
INSTANTIATE_TEST_SUITE_P(
    Cases, DBaseCorrupt,
    ::testing::Values(
        TCorruptCase{"Empty", [](std::string& B) { B.clear(); }, "truncado"},
        TCorruptCase{"HeaderCut", [](std::string& B) { B.resize(20); }, "truncado"},
        TCorruptCase{"RecordsCut", [](std::string& B) { B.resize(97 + 32 * 50); }, "truncado"},
        TCorruptCase{"HugeRecordCount",
                     [](std::string& B) { B[4] = B[5] = B[6] = B[7] = char(0xFF); }, "truncado"},
        TCorruptCase{"HeaderLongerThanFile", [](std::string& B) { PutU16(B, 8, 60000); },
                     "truncado"},
        TCorruptCase{"HeaderTooShort", [](std::string& B) { PutU16(B, 8, 10); }, "cabecera"},
        TCorruptCase{"RecordSizeWrong", [](std::string& B) { PutU16(B, 10, 20); },
                     "tamaño de registro"},
        TCorruptCase{"FieldWidthWrong", [](std::string& B) { B[32 + 16] = char(200); },
                     "tamaño de registro"},
        TCorruptCase{"NoFields", [](std::string& B) { B[32] = 0x0D; }, "campos"},
        TCorruptCase{"Level7", [](std::string& B) { B[0] = 0x04; }, "nivel 7"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
