// ASCII tables: parsed by a plain CSV reader using the schema, hand-written files, bad values.
#include <sstream>

#include "DB.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

TEST(AsciiInterop, TableWeWriteParsesWithPythonCsvUsingItsSchema) {
  TScratchDir Dir;
  const std::string Path = Dir.File("every.txt");
  TTableStore Src = AllTypesTable();
  SaveTableFile(Path, Src);
  std::string Out = RunPythonScript("csv_dump.py", {Path, Dir.File("every.sch")});
  std::string Want =
      "Name\tShort\tLong\tNum\tMoney\tFlag\tDay\tClock\tStamp\tSeq\tNotes\n"
      "CHAR\tSHORT\tLONGINT\tNUMBER\tCURRENCY\tBOOL\tDATE\tTIME\tTIMESTAMP\tAUTOINC\tMEMO\n";
  for (size_t R = 0; R < Src.RowCount(); ++R) {
    for (size_t C = 0; C < Src.Columns.size(); ++C)
      Want += (C ? "\t" : "") + CanonicalCell(Src.Columns[C], R);
    Want += "\n";
  }
  EXPECT_EQ(Want, Out);
}

TEST(AsciiWrite, SchemaAndTextLayout) {
  TScratchDir Dir;
  TTableStore T;
  T.AddColumn({"Nombre", ftString, 10, false});
  T.AddColumn({"Total", ftFloat, 0, false});
  T.AddColumn({"Alta", ftDate, 0, false});
  T.AppendRow({"Dí \"hola\"", 1.5, TDateTime(DateOfYmd(2024, 3, 1))});
  T.AppendRow({Null(), Null(), Null()});
  SaveTableFile(Dir.File("Clientes.txt"), T);
  EXPECT_EQ(
      "[CLIENTES]\nFILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n"
      "Field1=Nombre,CHAR,10,00,00\nField2=Total,NUMBER,20,00,00\nField3=Alta,DATE,20,00,00\n",
      ReadFileBytes(Dir.File("Clientes.sch")));
  EXPECT_EQ("\"Dí \"\"hola\"\"\",1.5,2024-03-01\n,,\n", ReadFileBytes(Dir.File("Clientes.txt")));
}

TEST(AsciiRead, HandWrittenFileWithOtherSeparatorsAndLineEnds) {
  TScratchDir Dir;
  WriteFileBytes(Dir.File("DATOS.SCH"),
                 "[DATOS]\r\nFILETYPE=VARYING\r\nCHARSET=ANSI\r\nDELIMITER='\r\nSEPARATOR=;\r\n"
                 "Field1=Nombre, con coma,CHAR,20,00,00\r\nField2=N,LONGINT,11,00,00\r\n"
                 "Field3=Ok,BOOL,1,00,00\r\nField4=Cuando,TIMESTAMP,20,00,00\r\n");
  WriteFileBytes(Dir.File("datos.txt"),
                 "'Pe\xF1"
                 "a';  42 ;T;12/31/1999 23:59\r\n"
                 "'una; dos\r\ntres';-1;false;2000-01-01\r\n"
                 "\r\n"
                 "'';;\r\n");
  auto T = LoadTableFile(Dir.File("datos.txt"));
  ASSERT_EQ(3u, T->RowCount());
  EXPECT_EQ("Nombre, con coma", T->Defs[0].Name);
  EXPECT_EQ("Peña", T->Columns[0].Str(0));
  EXPECT_EQ(42, T->Columns[1].Int(0));
  EXPECT_EQ("true", CanonicalCell(T->Columns[2], 0));
  EXPECT_EQ("1999-12-31 23:59:00", CanonicalCell(T->Columns[3], 0));
  EXPECT_EQ("una; dos\r\ntres", T->Columns[0].Str(1));
  EXPECT_EQ("2000-01-01 00:00:00", CanonicalCell(T->Columns[3], 1));
  for (int C = 0; C < 4; ++C) EXPECT_TRUE(T->Columns[C].IsNull(2)) << C;
}

// Values of a wide table are found from marks kept every few dozen fields: each field of each
// record must still read as its own value, also past a quoted separator or line break, and as
// Null past the end of a short record, whichever side of a mark that end falls.
TEST(AsciiRead, WideRecordsReadEveryFieldAsItsOwnValue) {
  TScratchDir Dir;
  constexpr int Fields = 300;
  std::string Sch = "[W]\nFILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n";
  for (int F = 1; F <= Fields; ++F)
    Sch += "Field" + std::to_string(F) + "=F" + std::to_string(F) + "," +
           (F % 2 ? "CHAR,20" : "LONGINT,11") + ",00,00\n";
  WriteFileBytes(Dir.File("w.sch"), Sch);
  // Row R has Lengths[R] values; odd fields are quoted texts holding a separator and a break.
  const std::vector<int> Lengths{Fields, 64, 65, 1, 200};
  std::string Txt;
  for (int L : Lengths) {
    for (int F = 0; F < L; ++F)
      Txt += (F ? "," : "") + (F % 2 == 0
                                   ? "\"t" + std::to_string(F) + ",\n" + std::to_string(L) + "\""
                                   : std::to_string(F * 1000 + L));
    Txt += "\n";
  }
  WriteFileBytes(Dir.File("w.txt"), Txt);
  auto T = LoadTableFile(Dir.File("w.txt"));
  ASSERT_EQ(Lengths.size(), T->RowCount());
  // Columns read from the last to the first, each in one pass.
  for (int F = Fields - 1; F >= 0; --F) {
    for (size_t R = 0; R < Lengths.size(); ++R) {
      const TColumn& C = T->Columns[F];
      if (F >= Lengths[R]) {
        EXPECT_TRUE(C.IsNull(R)) << F << " " << R;
      } else if (F % 2 == 0) {
        EXPECT_EQ("t" + std::to_string(F) + ",\n" + std::to_string(Lengths[R]), C.Str(R));
      } else {
        EXPECT_EQ(F * 1000 + Lengths[R], C.Int(R)) << F << " " << R;
      }
    }
  }
}

struct TBadCase {
  const char* Name;
  const char* Schema;
  const char* Text;
  const char* Fault;
  bool InSchema;
};

class AsciiBad : public ::testing::TestWithParam<TBadCase> {};

TEST_P(AsciiBad, RaisesNamingFileLineAndFault) {
  TScratchDir Dir;
  const std::string Txt = Dir.File("t.txt"), Sch = Dir.File("t.sch");
  if (GetParam().Schema) WriteFileBytes(Sch, GetParam().Schema);
  WriteFileBytes(Txt, GetParam().Text);
  try {
    LoadTableFile(Txt);
    FAIL() << "a bad file loaded";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find(GetParam().InSchema ? Sch : Txt)) << E.Message();
    EXPECT_NE(std::string::npos, E.Message().find(GetParam().Fault)) << E.Message();
  }
}

const char* kSchema =
    "[T]\nFILETYPE=VARYING\nCHARSET=UTF8\nDELIMITER=\"\nSEPARATOR=,\n"
    "Field1=A,CHAR,5,00,00\nField2=B,SHORT,6,00,00\nField3=C,DATE,10,00,00\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, AsciiBad,
    ::testing::Values(
        TBadCase{"NoSchema", nullptr, "\"a\",1\n", "esquema", true},
        TBadCase{"FixedLayout", "[T]\nFILETYPE=FIXED\nField1=A,CHAR,5,00,00\n", "", "VARYING",
                 true},
        TBadCase{"UnknownType", "[T]\nField1=A,BLOB,5,00,00\n", "", "BLOB", true},
        TBadCase{"MissingFieldNumber", "[T]\nField2=A,CHAR,5,00,00\n", "", "Field1", true},
        TBadCase{"FieldLineIncomplete", "[T]\nField1=A,CHAR\n", "", "línea 2", true},
        TBadCase{"NotANumber", kSchema, "\"a\",1,2000-01-01\n\"b\",x1,2000-01-01\n", "línea 2",
                 false},
        TBadCase{"ShortOverflow", kSchema, "\"a\",40000,\n", "'B'", false},
        TBadCase{"BadDate", kSchema, "\"a\",1,2001-02-29\n", "fecha", false},
        TBadCase{"TooManyValues", kSchema, "\"a\",1,2000-01-01,9\n", "más valores", false},
        TBadCase{"UnclosedQuote", kSchema, "\"a,1,2000-01-01\n", "delimitador", false},
        TBadCase{"JunkAfterQuote", kSchema, "\"a\"b,1,\n", "sobran", false},
        TBadCase{"InvalidUtf8", kSchema, "\"\xFF\",1,\n", "UTF-8", false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

}  // namespace
