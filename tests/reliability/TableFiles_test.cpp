// Table files that are damaged, lie about their sizes or sit where a file cannot be: every
// reader ends in an error naming the file (or reads what is really there), and no failed write
// touches an existing file or leaves a temporary one behind.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "DateTime.h"
#include "TableFile.h"
#include "Unicode.h"
#include "reliability/BadInput.h"

using namespace kv;

namespace {

namespace fs = std::filesystem;

TTableStore Sample(int Rows) {
  TTableStore T;
  T.AddColumn({"Name", ftString, 20, false});
  T.AddColumn({"Qty", ftInteger, 0, false});
  T.AddColumn({"Price", ftFloat, 0, false});
  T.AddColumn({"Paid", ftBoolean, 0, false});
  T.AddColumn({"Day", ftDate, 0, false});
  for (int R = 0; R < Rows; ++R)
    T.AppendRow({R % 5 ? Variant("Ñandú " + std::to_string(R)) : Null(), R * 7 - 50, R / 4.0,
                 R % 2 == 0, TDateTime(36000 + R)});
  return T;
}

// The files a table of this extension consists of.
std::vector<std::string> FilesOf(const std::string& Txt) {
  if (Txt.size() > 4 && Txt.substr(Txt.size() - 4) == ".txt")
    return {Txt, Txt.substr(0, Txt.size() - 4) + ".sch"};
  return {Txt};
}

// Names of the entries of a directory, sorted.
std::vector<std::string> Entries(const std::string& Dir) {
  std::vector<std::string> R;
  for (const auto& E : fs::directory_iterator(Dir)) R.push_back(E.path().filename().string());
  std::sort(R.begin(), R.end());
  return R;
}

// Loads Path: either an error naming the file (or its schema), or a store that is no bigger
// than what the bytes can hold. Returns the error text ("" when it loaded).
std::string LoadOrExplain(const std::string& Path, size_t MaxRows, const std::string& Context) {
  std::string Err = ErrorOf([&] {
    auto S = LoadTableFile(Path);
    EXPECT_LE(S->RowCount(), MaxRows) << Context;
    for (const auto& Col : S->Columns)
      for (size_t R = 0; R < Col.Size(); ++R) (void)Col.Value(R);
  });
  ClearTableCache();
  if (!Err.empty()) {
    const std::string Base = Path.substr(0, Path.size() - 4);
    EXPECT_TRUE(Err.find(Base) != std::string::npos) << Context << ": " << Err;
  }
  return Err;
}

struct TFormat {
  const char* Ext;
  size_t HeaderBytes;  // bytes of the file that hold its description
};

class DamagedFile : public ::testing::TestWithParam<TFormat> {
 protected:
  std::string Write(int Rows) {
    Path = Dir.File(std::string("t") + GetParam().Ext);
    SaveTableFile(Path, Sample(Rows));
    ClearTableCache();
    return Path;
  }
  TBadInputDir Dir;
  std::string Path;
};

TEST_P(DamagedFile, EveryTruncationIsAnErrorOrFewerRows) {
  Write(40);
  for (const std::string& F : FilesOf(Path)) {
    const std::string Good = FileBytes(F);
    const size_t Step = Good.size() > 2048 ? 5 : 1;
    for (size_t L = 0; L < Good.size(); L += Step) {
      PutFileBytes(F, Good.substr(0, L));
      LoadOrExplain(Path, 40, F + " cut at " + std::to_string(L));
    }
    PutFileBytes(F, Good);
  }
  EXPECT_EQ(40u, LoadTableFile(Path)->RowCount()) << "the intact file still reads";
}

TEST_P(DamagedFile, EveryHeaderByteChangedIsAnErrorOrAReadableTable) {
  Write(12);
  const std::string F = FilesOf(Path).back();  // the schema of an ASCII table
  const std::string Good = FileBytes(F);
  const size_t N = std::min(Good.size(), GetParam().HeaderBytes);
  for (size_t I = 0; I < N; ++I)
    for (unsigned char V : {0x00, 0x01, 0x7F, 0x80, 0xFF, 0x2C, 0x0A}) {
      if (static_cast<unsigned char>(Good[I]) == V) continue;
      std::string Bad = Good;
      Bad[I] = static_cast<char>(V);
      PutFileBytes(F, Bad);
      // A lying header may claim more rows, never more than the bytes can hold.
      LoadOrExplain(Path, Good.size(), F + " byte " + std::to_string(I) + "=" + std::to_string(V));
    }
}

TEST_P(DamagedFile, NotATableAtAll) {
  Write(3);
  const struct {
    const char* Name;
    std::string Bytes;
  } Cases[] = {
      {"empty", ""},
      {"text", "hola, esto no es una tabla\n"},
      {"zeros", std::string(4096, '\0')},
      {"ones", std::string(4096, '\xFF')},
      {"invalid UTF-8", "\xC3\x28\xA0\xA1\xE2\x28\xA1\xF0\x28\x8C\xBC\n"},
  };
  for (const auto& C : Cases) {
    for (const std::string& F : FilesOf(Path)) {
      const std::string Good = FileBytes(F);
      PutFileBytes(F, C.Bytes);
      LoadOrExplain(Path, 4096, F + ": " + C.Name);
      PutFileBytes(F, Good);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, DamagedFile,
                         ::testing::Values(TFormat{".db", 0x200}, TFormat{".dbf", 32 * 7},
                                           TFormat{".txt", 400}),
                         [](const auto& I) { return std::string(I.param.Ext + 1); });

// Little-endian writes into a header.
void Put16(std::string& B, size_t At, uint16_t V) {
  B[At] = char(V & 0xFF);
  B[At + 1] = char(V >> 8);
}
void Put32(std::string& B, size_t At, uint32_t V) {
  for (int I = 0; I < 4; ++I) B[At + I] = char((V >> (8 * I)) & 0xFF);
}

TEST(HugeClaims, HeadersClaimingMoreThanTheFileHoldsAreErrors) {
  const struct {
    const char* Name;
    const char* Ext;
    void (*Patch)(std::string&);
  } Cases[] = {
      {"paradox record count", ".db", [](std::string& B) { Put32(B, 0x06, 0xFFFFFFFFu); }},
      {"paradox record count 2^31", ".db", [](std::string& B) { Put32(B, 0x06, 0x80000000u); }},
      {"paradox header size", ".db", [](std::string& B) { Put16(B, 0x02, 0xFFFF); }},
      {"paradox record size", ".db", [](std::string& B) { Put16(B, 0x00, 0xFFFF); }},
      {"paradox field count", ".db", [](std::string& B) { Put16(B, 0x21, 0xFFFF); }},
      {"dbase record count", ".dbf", [](std::string& B) { Put32(B, 4, 0x7FFFFFFFu); }},
      {"dbase record count 2^32-1", ".dbf", [](std::string& B) { Put32(B, 4, 0xFFFFFFFFu); }},
      {"dbase header size", ".dbf", [](std::string& B) { Put16(B, 8, 0xFFFF); }},
      {"dbase record size", ".dbf", [](std::string& B) { Put16(B, 10, 0xFFFF); }},
      {"dbase field width", ".dbf", [](std::string& B) { B[32 + 16] = char(0xFF); }},
  };
  for (const auto& C : Cases) {
    TBadInputDir Dir;
    const std::string Path = Dir.File(std::string("huge") + C.Ext);
    SaveTableFile(Path, Sample(30));
    std::string B = FileBytes(Path);
    C.Patch(B);
    PutFileBytes(Path, B);
    ExpectErrorNaming([&] { LoadTableFile(Path); }, {Path}, C.Name);
    ClearTableCache();
  }
}

TEST(HugeClaims, AsciiSchemaWithHugeOrNegativeSizes) {
  const char* Schemas[] = {
      "[T]\nField1=A,CHAR,2147483647,00,00\n",
      "[T]\nField1=A,CHAR,99999999999999999999,00,00\n",
      "[T]\nField1=A,CHAR,-5,00,00\n",
      "[T]\nField1=A,NUMBER,20,-1,00\n",
      "[T]\nField99999999=A,CHAR,5,00,00\n",
      "[T]\nField1=A,CHAR,5,00,00\nField4294967297=B,CHAR,5,00,00\n",
  };
  for (const char* S : Schemas) {
    TBadInputDir Dir;
    PutFileBytes(Dir.File("t.sch"), S);
    PutFileBytes(Dir.File("t.txt"), "\"abc\"\n");
    const std::string Err = LoadOrExplain(Dir.File("t.txt"), 1, S);
    if (Err.empty()) {
      auto T = LoadTableFile(Dir.File("t.txt"));
      EXPECT_EQ("abc", T->Columns.at(0).Str(0)) << S;
      ClearTableCache();
    }
  }
}

// ---------------------------------------------------------------- declared code pages

// Loads Path: an error naming it, or rows whose texts are all valid UTF-8 and whose plain
// ASCII value is intact.
void ExpectUtf8OrError(const std::string& Path, const std::string& Context) {
  std::shared_ptr<const TTableStore> S;
  const std::string Err = ErrorOf([&] { S = LoadTableFile(Path); });
  ClearTableCache();
  if (!Err.empty()) {
    // The table file, or its schema.
    EXPECT_NE(Err.find(Path.substr(0, Path.rfind('.'))), std::string::npos)
        << Context << ": " << Err;
    return;
  }
  ASSERT_EQ(2u, S->RowCount()) << Context;
  EXPECT_EQ("plain ascii", S->Columns[0].Str(1)) << Context;
  EXPECT_TRUE(IsValidUtf8(S->Columns[0].Str(0))) << Context;
}

TTableStore Accented() {
  TTableStore T;
  T.AddColumn({"Texto", ftString, 30, false});
  T.AppendRow({"Ñandú €ü¿?ÿ"});
  T.AppendRow({"plain ascii"});
  return T;
}

TEST(CodePages, ParadoxWithAnyDeclaredCodePage) {
  TBadInputDir Dir;
  const std::string Path = Dir.File("cp.db");
  SaveTableFile(Path, Accented());
  const std::string Good = FileBytes(Path);
  for (unsigned Cp : {0u, 437u, 850u, 852u, 866u, 932u, 1250u, 1251u, 1252u, 65001u, 0xFFFFu}) {
    std::string B = Good;
    Put16(B, 0x6A, static_cast<uint16_t>(Cp));
    PutFileBytes(Path, B);
    ExpectUtf8OrError(Path, "code page " + std::to_string(Cp));
  }
}

TEST(CodePages, DBaseWithAnyLanguageDriverOrCompanion) {
  TBadInputDir Dir;
  const std::string Path = Dir.File("cp.dbf");
  SaveTableFile(Path, Accented());
  const std::string Good = FileBytes(Path);
  for (unsigned Ldid = 0; Ldid < 256; Ldid += 3) {
    std::string B = Good;
    B[29] = static_cast<char>(Ldid);
    PutFileBytes(Path, B);
    ExpectUtf8OrError(Path, "language driver " + std::to_string(Ldid));
  }
  PutFileBytes(Path, Good);
  const std::string Companions[] = {
      "UTF-8", "cp999999", "ISO-8859-1\n", "\xFF\xFE\x00", std::string(64 * 1024, 'A'), ""};
  for (const auto& C : Companions) {
    PutFileBytes(Dir.File("cp.cpg"), C);
    ExpectUtf8OrError(Path, "companion " + C.substr(0, 20));
  }
}

TEST(CodePages, AsciiDeclaringOtherCharsets) {
  TBadInputDir Dir;
  for (const char* Charset : {"ANSI", "ASCII", "UTF8", "CP850", "EBCDIC", "", "\xFF"}) {
    PutFileBytes(Dir.File("cp.sch"),
                 std::string("[CP]\nFILETYPE=VARYING\nCHARSET=") + Charset +
                     "\nDELIMITER=\"\nSEPARATOR=,\nField1=Texto,CHAR,30,00,00\n");
    PutFileBytes(Dir.File("cp.txt"),
                 "\"Pe\xF1"
                 "a \x80\x81\x8D\x9D\"\n\"plain ascii\"\n");
    ExpectUtf8OrError(Dir.File("cp.txt"), std::string("charset ") + Charset);
  }
}

// ---------------------------------------------------------------- paths that cannot be tables

TEST(BadPaths, LoadingWhatIsNoTableFile) {
  TBadInputDir Dir;
  fs::create_directory(Dir.File("dir.db"));
  fs::create_directory(Dir.File("dir.txt"));
  PutFileBytes(Dir.File("plain"), "x");
  PutFileBytes(Dir.File("lone.sch"), "[LONE]\nField1=A,CHAR,5,00,00\n");
  const struct {
    std::string Path;
    std::vector<std::string> Parts;
  } Cases[] = {
      {Dir.File("dir.db"), {Dir.File("dir.db"), "directorio"}},
      {Dir.File("dir.txt"), {"dir."}},
      {Dir.File("missing.dbf"), {Dir.File("missing.dbf")}},
      {Dir.File("lone.txt"), {Dir.File("lone.txt")}},
      {Dir.File("plain/t.db"), {Dir.File("plain/t.db")}},
      {Dir.File("t.xls"), {"t.xls"}},
      {Dir.Path(), {Dir.Path()}},
  };
  for (const auto& C : Cases) ExpectErrorNaming([&] { LoadTableFile(C.Path); }, C.Parts, C.Path);
}

class SaveWhereItCannot : public ::testing::TestWithParam<const char*> {};

TEST_P(SaveWhereItCannot, TargetIsADirectory) {
  TBadInputDir Dir;
  const std::string Target = Dir.File(std::string("out") + GetParam());
  fs::create_directory(Target);
  PutFileBytes(Target + "/keep", "contenido");
  ExpectErrorNaming([&] { SaveTableFile(Target, Sample(3)); }, {Target});
  EXPECT_TRUE(fs::is_directory(Target));
  EXPECT_EQ("contenido", FileBytes(Target + "/keep"));
  auto Left = Entries(Dir.Path());
  EXPECT_LE(Left.size(), 2u) << "no temporary file is left";
  for (const auto& E : Left) EXPECT_TRUE(E.rfind("out", 0) == 0) << E;
}

TEST_P(SaveWhereItCannot, TargetBelowARegularFile) {
  TBadInputDir Dir;
  PutFileBytes(Dir.File("file"), "x");
  const std::string Target = Dir.File(std::string("file/out") + GetParam());
  ExpectErrorNaming([&] { SaveTableFile(Target, Sample(3)); }, {Target});
  EXPECT_EQ("x", FileBytes(Dir.File("file")));
  EXPECT_EQ(std::vector<std::string>{"file"}, Entries(Dir.Path()));
}

TEST_P(SaveWhereItCannot, ValueTheFormatCannotHoldLeavesTheOldFile) {
  TBadInputDir Dir;
  const std::string Target = Dir.File(std::string("old") + GetParam());
  SaveTableFile(Target, Sample(5));
  std::vector<std::string> Before;
  for (const auto& F : FilesOf(Target)) Before.push_back(FileBytes(F));
  const auto EntriesBefore = Entries(Dir.Path());

  // A column type no format stores, then a number beyond a short column.
  TTableStore Blob;
  Blob.AddColumn({"B", ftBlob, 0, false});
  Blob.AddColumn({"Name", ftString, 20, false});
  Blob.AppendRow({"\x01\x02", "x"});
  TTableStore Big;
  Big.AddColumn({"S", ftSmallint, 0, false});
  Big.AppendRow({100000});
  for (const TTableStore* T : {&Blob, &Big}) {
    const std::string Err = ErrorOf([&] { SaveTableFile(Target, *T); });
    if (Err.empty()) {
      // Written: then it must read back as written.
      ClearTableCache();
      auto Back = LoadTableFile(Target);
      EXPECT_EQ(T->RowCount(), Back->RowCount());
      SaveTableFile(Target, Sample(5));
      Before.clear();
      for (const auto& F : FilesOf(Target)) Before.push_back(FileBytes(F));
      continue;
    }
    EXPECT_NE(Err.find("old"), std::string::npos) << Err;
    size_t I = 0;
    for (const auto& F : FilesOf(Target)) EXPECT_EQ(Before[I++], FileBytes(F)) << F;
    EXPECT_EQ(EntriesBefore, Entries(Dir.Path()));
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, SaveWhereItCannot, ::testing::Values(".db", ".dbf", ".txt"),
                         [](const auto& I) { return std::string(I.param + 1); });

// ---------------------------------------------------------------- long values and odd bytes

class OddValues : public ::testing::TestWithParam<const char*> {};

TEST_P(OddValues, LongTextIsKeptOrRefusedByName) {
  TBadInputDir Dir;
  const std::string Target = Dir.File(std::string("long") + GetParam());
  const std::string Long(64 * 1024, 'x');
  for (TFieldType T : {ftString, ftMemo}) {
    TTableStore S;
    S.AddColumn({"Texto", T, T == ftString ? 255 : 0, false});
    S.AppendRow({Long + "ñ"});
    const std::string Err = ErrorOf([&] { SaveTableFile(Target, S); });
    ClearTableCache();
    if (!Err.empty()) {
      EXPECT_NE(Err.find("Texto"), std::string::npos) << Err;
      continue;
    }
    auto Back = LoadTableFile(Target);
    ASSERT_EQ(1u, Back->RowCount());
    const std::string_view V = Back->Columns[0].Str(0);
    // Either the whole value, or a prefix cut to the column's size (never a broken character).
    EXPECT_TRUE(V == Long + "ñ" || (V.size() <= 255 && Long.compare(0, V.size(), V) == 0))
        << FieldTypeName(T) << ": " << V.size() << " bytes back";
  }
}

TEST_P(OddValues, InvalidUtf8IsStoredOrRefusedNeverACrash) {
  TBadInputDir Dir;
  const std::string Target = Dir.File(std::string("bytes") + GetParam());
  const char* Values[] = {"\xFF\xFE",
                          "abc\xC3",
                          "\xC3\x28",
                          "\xED\xA0\x80",
                          "\xF4\x90\x80\x80",
                          "a\x01\x7F"
                          "b",
                          "\xC0\xAF",
                          "\xE2\x82"};
  for (const char* V : Values) {
    TTableStore S;
    S.AddColumn({"Texto", ftString, 20, false});
    S.AppendRow({V});
    S.AppendRow({"normal"});
    const std::string Err = ErrorOf([&] { SaveTableFile(Target, S); });
    ClearTableCache();
    if (!Err.empty()) {
      EXPECT_NE(Err.find("Texto"), std::string::npos) << Err;
      continue;
    }
    std::shared_ptr<const TTableStore> Back;
    const std::string LoadErr = ErrorOf([&] { Back = LoadTableFile(Target); });
    ASSERT_EQ("", LoadErr) << "a table we wrote does not read back";
    ASSERT_EQ(2u, Back->RowCount()) << V;
    EXPECT_EQ("normal", Back->Columns[0].Str(1)) << "the next row is intact";
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, OddValues, ::testing::Values(".db", ".dbf", ".txt"),
                         [](const auto& I) { return std::string(I.param + 1); });

}  // namespace
