// Round trips of every field type through each table format, the load cache, and saving that
// never leaves a half-written or temporary file behind.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "DB.h"
#include "IoUtil.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

TFieldType SameType(TFieldType T) {
  return T;
}

// dBase has no short, currency, time, timestamp, autoinc or memo columns.
TFieldType DBaseType(TFieldType T) {
  switch (T) {
    case ftSmallint:
    case ftAutoInc:
      return ftInteger;
    case ftCurrency:
      return ftFloat;
    case ftTime:
    case ftDateTime:
    case ftMemo:
      return ftString;
    default:
      return T;
  }
}

std::string DBaseText(const TColumn& Col, size_t Row) {
  return CanonicalCell(Col, Row);
}

struct TFormatCase {
  const char* Ext;
  TFieldType (*TypeOf)(TFieldType);
  bool KeepsKey;
};

class RoundTrip : public ::testing::TestWithParam<TFormatCase> {};

TEST_P(RoundTrip, EveryTypeAccentsAndEmptyValuesReadBackUnchanged) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("every") + GetParam().Ext);
  TTableStore Src = AllTypesTable();
  SaveTableFile(Path, Src);
  auto Back = LoadTableFile(Path);
  ExpectSameTable(Src, *Back, GetParam().TypeOf, DBaseText);
  if (GetParam().KeepsKey) {
    EXPECT_EQ(Src.PrimaryKey, Back->PrimaryKey);
  }
  std::vector<std::string> Want = {ExtractFileName(Path)};
  if (GetParam().Ext == std::string(".txt")) Want = {"every.sch", "every.txt"};
  EXPECT_EQ(Want, Dir.Entries()) << "only the table's files are left";
}

TEST_P(RoundTrip, SelectedRowsInTheGivenOrder) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("some") + GetParam().Ext);
  TTableStore Src = AllTypesTable();
  std::vector<uint32_t> Rows = {4, 0, 2};
  SaveTableFile(Path, Src, &Rows);
  auto Back = LoadTableFile(Path);
  ASSERT_EQ(3u, Back->RowCount());
  EXPECT_EQ("Ñandú", Back->Columns[0].Str(0));
  EXPECT_EQ("Ángel Muñoz Peña", Back->Columns[0].Str(1));
  EXPECT_EQ(2147483647, Back->Columns[2].Int(2));
}

TEST_P(RoundTrip, EmptyTableKeepsItsFields) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("empty") + GetParam().Ext);
  TTableStore Src = AllTypesTable();
  std::vector<uint32_t> None;
  SaveTableFile(Path, Src, &None);
  auto Back = LoadTableFile(Path);
  EXPECT_EQ(0u, Back->RowCount());
  ASSERT_EQ(Src.Defs.size(), Back->Defs.size());
  EXPECT_EQ("Notes", Back->Defs.back().Name);
}

TEST_P(RoundTrip, ManyRowsSpanSeveralBlocks) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("many") + GetParam().Ext);
  TTableStore Src;
  Src.AddColumn({"Id", ftInteger, 0, false});
  Src.AddColumn({"Text", ftString, 40, false});
  for (int I = 0; I < 5000; ++I)
    Src.AppendRow({I, I % 7 ? Variant("fila número " + std::to_string(I)) : Null()});
  SaveTableFile(Path, Src);
  auto Back = LoadTableFile(Path);
  ExpectSameTable(Src, *Back);
}

// One calendar in every format: days before 1899-12-30 with a time of day, times of day and the
// calendar's first and last moments are written as the dates and times they stand for (the
// file's own text says so where the format is text) and read back as the same values.
TEST_P(RoundTrip, CalendarEndsAndDaysBeforeTheOrigin) {
  const struct {
    int Y, M, D, H, N, S, Z;
    const char* Text;
  } Moments[] = {
      {1, 1, 1, 0, 0, 0, 0, "0001-01-01 00:00:00.000"},
      {1, 1, 1, 23, 59, 59, 0, "0001-01-01 23:59:59.000"},
      {1500, 2, 28, 12, 0, 0, 0, "1500-02-28 12:00:00.000"},
      {1899, 12, 29, 6, 0, 0, 0, "1899-12-29 06:00:00.000"},
      {1899, 12, 29, 18, 30, 15, 250, "1899-12-29 18:30:15.250"},
      {1899, 12, 30, 6, 0, 0, 0, "1899-12-30 06:00:00.000"},
      {1899, 12, 31, 23, 59, 59, 999, "1899-12-31 23:59:59.999"},
      {9999, 12, 31, 23, 59, 59, 999, "9999-12-31 23:59:59.999"},
  };
  TTableStore Src;
  Src.AddColumn({"Day", ftDate, 0, false});
  Src.AddColumn({"Clock", ftTime, 0, false});
  Src.AddColumn({"Stamp", ftDateTime, 0, false});
  for (const auto& M : Moments) {
    const TDateTime Day = EncodeDate(M.Y, M.M, M.D), Clock = EncodeTime(M.H, M.N, M.S, M.Z);
    Src.AppendRow({Day, Clock, ComposeDateTime(Day, Clock)});
  }
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("calendar") + GetParam().Ext);
  SaveTableFile(Path, Src);
  auto Back = LoadTableFile(Path);
  ASSERT_EQ(Back->RowCount(), std::size(Moments));
  const std::string Bytes = ReadFileBytes(Path);
  for (size_t R = 0; R < std::size(Moments); ++R) {
    const auto& M = Moments[R];
    SCOPED_TRACE(M.Text);
    EXPECT_EQ(Back->Columns[0].Double(R), Src.Columns[0].Double(R));
    for (size_t C : {1u, 2u}) {
      if (Back->Columns[C].Kind() == TStorageKind::String) {
        // dBase keeps times and timestamps as text.
        const std::string Want = C == 1 ? std::string(M.Text + 11) : M.Text;
        EXPECT_EQ(Back->Columns[C].Str(R), Want);
        continue;
      }
      int Y, Mo, D, H, N, S, Z;
      const TDateTime V(Back->Columns[C].Double(R));
      DecodeDate(V, Y, Mo, D);
      DecodeTime(V, H, N, S, Z);
      if (C == 2) {
        EXPECT_EQ(Y * 10000 + Mo * 100 + D, M.Y * 10000 + M.M * 100 + M.D);
      }
      EXPECT_EQ(H * 10000000 + N * 100000 + S * 1000 + Z,
                M.H * 10000000 + M.N * 100000 + M.S * 1000 + M.Z);
    }
    if (GetParam().Ext != std::string(".db")) {
      EXPECT_NE(Bytes.find(M.Text), std::string::npos) << "the file's text names the moment";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(TFormatCase{".db", SameType, true},
                                           TFormatCase{".dbf", DBaseType, false},
                                           TFormatCase{".txt", SameType, false}),
                         [](const auto& Info) { return std::string(Info.param.Ext + 1); });

TEST(TableFormat, ChosenByExtensionInAnyCase) {
  EXPECT_EQ(TTableFormat::Paradox, TableFormatOf("/x/ORDERS.DB"));
  EXPECT_EQ(TTableFormat::DBase, TableFormatOf("a.Dbf"));
  EXPECT_EQ(TTableFormat::Ascii, TableFormatOf("a.txt"));
  try {
    TableFormatOf("/x/notes.csv");
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find("/x/notes.csv"));
  }
}

TEST(TableCache, SameStoreWhileUnchangedNewOneAfterAChange) {
  TScratchDir Dir;
  const std::string Path = Dir.File("cache.db");
  TTableStore Src = AllTypesTable();
  SaveTableFile(Path, Src);
  auto A = LoadTableFile(Path);
  auto B = LoadTableFile(Dir.Path() + "/./cache.db");
  EXPECT_EQ(A.get(), B.get());

  std::vector<uint32_t> One = {0};
  SaveTableFile(Path, Src, &One);
  auto C = LoadTableFile(Path);
  EXPECT_NE(A.get(), C.get());
  EXPECT_EQ(1u, C->RowCount());
  EXPECT_EQ(5u, A->RowCount()) << "a store in use is never changed";

  ClearTableCache();
  EXPECT_NE(C.get(), LoadTableFile(Path).get());
}

// ---- saving that fails leaves the target as it was and no temporary file

struct TFailCase {
  const char* Name;
  const char* File;
  void (*Spoil)(TTableStore& T);
};

TTableStore OneColumn(TFieldType T) {
  TTableStore S;
  S.AddColumn({"Col", T, 10, false});
  return S;
}

class SaveFailure : public ::testing::TestWithParam<TFailCase> {};

TEST_P(SaveFailure, TargetUntouchedAndNoTemporaryLeft) {
  TScratchDir Dir;
  const std::string Path = Dir.File(GetParam().File);
  TTableStore Good = AllTypesTable();
  SaveTableFile(Path, Good);
  const std::string Before = ReadFileBytes(Path);
  const auto EntriesBefore = Dir.Entries();

  TTableStore Bad = AllTypesTable();
  GetParam().Spoil(Bad);
  try {
    SaveTableFile(Path, Bad);
    FAIL() << "saving should fail";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find(Path)) << E.Message();
  }
  EXPECT_EQ(Before, ReadFileBytes(Path));
  EXPECT_EQ(EntriesBefore, Dir.Entries());
}

INSTANTIATE_TEST_SUITE_P(Cases, SaveFailure,
                         ::testing::Values(TFailCase{"BlobInParadox", "t.db",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftBlob);
                                                       T.AppendRow({"x"});
                                                     }},
                                           TFailCase{"BytesInDBase", "t.dbf",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftBytes);
                                                       T.AppendRow({"x"});
                                                     }},
                                           TFailCase{"GraphicInText", "t.txt",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftGraphic);
                                                       T.AppendRow({"x"});
                                                     }},
                                           TFailCase{"LongTextInParadox", "t.db",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftString);
                                                       T.AppendRow({std::string(300, 'a')});
                                                     }},
                                           TFailCase{"LongTextInDBase", "t.dbf",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftString);
                                                       T.AppendRow({std::string(255, 'a')});
                                                     }},
                                           TFailCase{"ShortOutOfRange", "t.db",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftInteger);
                                                       T.Columns[0] = TColumn(ftSmallint);
                                                       T.Defs[0].DataType = ftSmallint;
                                                       T.Columns[0].AppendInt(40000);
                                                     }},
                                           TFailCase{
                                               "KeyNotFirst", "t.db",
                                               [](TTableStore& T) { T.PrimaryKey = {"Long"}; }},
                                           TFailCase{"TextNotUtf8InText", "t.txt",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftString);
                                                       T.AppendRow({"bien"});
                                                       T.AppendRow({"abc\xC3"});
                                                     }},
                                           TFailCase{"ShortOutOfRangeInText", "t.txt",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftSmallint);
                                                       T.Columns[0].AppendInt(32768);
                                                     }},
                                           TFailCase{"DateOutOfRange", "t.txt",
                                                     [](TTableStore& T) {
                                                       T = OneColumn(ftDate);
                                                       T.Columns[0].AppendDouble(-1e9);
                                                     }}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST(SaveFailure, TargetIsADirectory) {
  TScratchDir Dir;
  const std::string Path = Dir.File("dir.db");
  std::filesystem::create_directory(Path);
  try {
    SaveTableFile(Path, AllTypesTable());
    FAIL();
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find(Path)) << E.Message();
  }
  EXPECT_EQ(std::vector<std::string>{"dir.db"}, Dir.Entries());
}

// A write that fails half way (the disk full) leaves the old table, schema or memo file whole
// and nothing passing behind, in every format.
TEST_P(RoundTrip, WriteThatFailsHalfWayLeavesTheOldFiles) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("t") + GetParam().Ext);
  TTableStore Small = AllTypesTable();
  SaveTableFile(Path, Small);
  const std::vector<std::string> Files = Dir.Entries();
  std::vector<std::string> Before;
  for (const auto& F : Files) Before.push_back(ReadFileBytes(Dir.File(F)));
  TTableStore Big;
  Big.AddColumn({"Text", ftMemo, 0, false});
  for (int I = 0; I < 2000; ++I) Big.AppendRow({std::string(200, static_cast<char>('a' + I % 26))});
  try {
    TFileSizeLimit Full(64 * 1024);
    SaveTableFile(Path, Big);
    ADD_FAILURE() << "the save reported success";
  } catch (const EDatabaseError& E) {
    EXPECT_NE(std::string::npos, E.Message().find(Path)) << E.Message();
    EXPECT_NE(std::string::npos, E.Message().find("tamaño máximo")) << E.Message();
  }
  EXPECT_EQ(Files, Dir.Entries());
  for (size_t I = 0; I < Files.size(); ++I)
    EXPECT_EQ(Before[I], ReadFileBytes(Dir.File(Files[I]))) << Files[I];
}

// A table's files are replaced together: when the second rename fails, the first file gets its
// previous contents back.
TEST(SaveFailure, FilesOfOneTableAreReplacedAllOrNone) {
  TScratchDir Dir;
  WriteFileBytes(Dir.File("t.txt"), "old data");
  WriteFileBytes(Dir.File("t.sch"), "old schema");
  {
    TTempFile Sch(Dir.File("t.sch"), ".sch"), Txt(Dir.File("t.txt"), ".txt");
    WriteFileBytes(Sch.Path(), "new schema");
    WriteFileBytes(Txt.Path(), "new data");
    ::unlink(Txt.Path().c_str());  // the second rename will fail
    EXPECT_THROW(TTempFile::CommitAll({&Sch, &Txt}), EDatabaseError);
  }
  EXPECT_EQ("old schema", ReadFileBytes(Dir.File("t.sch")));
  EXPECT_EQ("old data", ReadFileBytes(Dir.File("t.txt")));
  EXPECT_EQ((std::vector<std::string>{"t.sch", "t.txt"}), Dir.Entries());
  {
    // A target that did not exist before is removed again.
    TTempFile Mb(Dir.File("n.mb"), ".mb"), Db(Dir.File("n.db"), ".db");
    ::unlink(Db.Path().c_str());
    EXPECT_THROW(TTempFile::CommitAll({&Mb, &Db}), EDatabaseError);
  }
  EXPECT_EQ((std::vector<std::string>{"t.sch", "t.txt"}), Dir.Entries());
}

// A target name as long as the file system takes (ASCII, or cut inside a two-byte character)
// still gets its temporary beside it, and the saved file replaces the target.
TEST(SaveFailure, TheLongestNameAFolderTakesIsSaved) {
  TScratchDir Dir;
  for (const std::string& Stem : {std::string(251, 'a'), std::string(232, 'b') + "ñññññññññ"}) {
    const std::string Target = Dir.File(Stem + ".db");
    ASSERT_LE(Stem.size() + 3, 255u);
    {
      TTempFile Db(Target, ".db");
      EXPECT_LE(Db.Path().size() - Dir.File("").size(), 255u);
      WriteFileBytes(Db.Path(), "new");
      TTempFile::CommitAll({&Db});
    }
    EXPECT_EQ("new", ReadFileBytes(Target));
  }
}

TEST(SaveFailure, MissingDirectoryOrAFileOnThePathNamesTheFileAndTheCause) {
  TScratchDir Dir;
  WriteFileBytes(Dir.File("plain"), "x");
  const std::pair<std::string, std::string> Cases[] = {
      {"/nonexistent-dir-kv/t.db", "no existe la carpeta '/nonexistent-dir-kv/'"},
      {Dir.File("plain/t.dbf"), "no es un directorio"},
  };
  for (const auto& [Path, Why] : Cases) {
    try {
      SaveTableFile(Path, AllTypesTable());
      ADD_FAILURE() << Path;
    } catch (const EDatabaseError& E) {
      EXPECT_NE(std::string::npos, E.Message().find(Path)) << E.Message();
      EXPECT_NE(std::string::npos, E.Message().find(Why)) << E.Message();
    }
  }
}

// ---- names, folders shared with other writers, and leftovers

// Table files whose extension has any letter case are written and read like any other, with
// their memo or schema file.
TEST(TableFormat, ExtensionsInAnyLetterCaseAreWrittenAndRead) {
  TScratchDir Dir;
  TTableStore Src = AllTypesTable();
  Src.Columns[10] = TColumn(ftMemo);  // Notes: one text too long for a Paradox record
  for (size_t R = 0; R < Src.RowCount(); ++R) Src.Columns[10].AppendString(std::string(300, 'm'));
  for (const char* Name : {"a.Dbf", "b.DbF", "c.dBF", "d.Db", "e.dB", "f.Txt", "g.TXT"}) {
    SCOPED_TRACE(Name);
    const std::string Path = Dir.File(Name);
    const TTableFormat Format = TableFormatOf(Path);
    TTableStore Data = Src;
    if (Format == TTableFormat::DBase) Data.Columns[10] = AllTypesTable().Columns[10];
    SaveTableFile(Path, Data);
    ClearTableCache();
    auto Back = LoadTableFile(Path);
    ExpectSameTable(Data, *Back, Format == TTableFormat::DBase ? DBaseType : SameType, DBaseText);
  }
  // A dBase table renamed with another letter case reads as before.
  std::filesystem::rename(Dir.File("a.Dbf"), Dir.File("H.DbF"));
  ClearTableCache();
  EXPECT_EQ(Src.RowCount(), LoadTableFile(Dir.File("H.DbF"))->RowCount());
  EXPECT_EQ((std::vector<std::string>{"H.DbF", "b.DbF", "c.dBF", "d.Db", "d.mb", "e.dB", "e.mb",
                                      "f.Txt", "f.sch", "g.TXT", "g.sch"}),
            Dir.Entries());
}

// A Paradox table saved again without long texts takes no memo file of the old table along.
TEST(SaveTable, ParadoxMemoFileGoesWhenTheNewTableNeedsNone) {
  TScratchDir Dir;
  TTableStore Long;
  Long.AddColumn({"Text", ftMemo, 0, false});
  Long.AppendRow({std::string(500, 'x')});
  TTableStore Short;
  Short.AddColumn({"Text", ftMemo, 0, false});
  Short.AppendRow({"corto"});
  SaveTableFile(Dir.File("m.db"), Long);
  EXPECT_EQ((std::vector<std::string>{"m.db", "m.mb"}), Dir.Entries());
  SaveTableFile(Dir.File("m.db"), Short);
  EXPECT_EQ(std::vector<std::string>{"m.db"}, Dir.Entries());
  EXPECT_EQ("corto", LoadTableFile(Dir.File("m.db"))->Columns[0].Str(0));
}

// A slice writes the chosen rows of the chosen columns under their own names, in every format,
// straight from where they are.
TEST_P(RoundTrip, SliceWritesChosenColumnsUnderTheirNames) {
  TScratchDir Dir;
  const std::string Path = Dir.File(std::string("slice") + GetParam().Ext);
  TTableStore Src = AllTypesTable();
  TColumnDef Renamed = Src.Defs[0];
  Renamed.Name = "Nombre";
  const std::vector<uint32_t> Rows = {3, 0};
  SaveTableFile(Path, TTableSlice({{Src.Defs[2], &Src.Columns[2]}, {Renamed, &Src.Columns[0]}},
                                  Src.RowCount(), &Rows, {}));
  auto Back = LoadTableFile(Path);
  ASSERT_EQ(2u, Back->Defs.size());
  EXPECT_EQ("Long", Back->Defs[0].Name);
  EXPECT_EQ("Nombre", Back->Defs[1].Name);
  ASSERT_EQ(2u, Back->RowCount());
  for (size_t R = 0; R < Rows.size(); ++R) {
    EXPECT_EQ(CanonicalCell(Src.Columns[2], Rows[R]), CanonicalCell(Back->Columns[0], R));
    EXPECT_EQ(CanonicalCell(Src.Columns[0], Rows[R]), CanonicalCell(Back->Columns[1], R));
  }
}

// Runs Fn in a child process and waits for it; the child ends without unwinding, as a killed
// process would.
template <class F>
void InChildProcess(F&& Fn) {
  const pid_t Pid = ::fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    Fn();
    ::_exit(0);
  }
  int Status = 0;
  ::waitpid(Pid, &Status, 0);
}

// The passing files of a process that died while writing are removed by the next save into the
// same folder; those of live processes, of other machines and other people's files stay.
TEST(SaveTable, NextSaveRemovesPassingFilesOfDeadProcesses) {
  TScratchDir Dir;
  const TTempFile Live(Dir.File("live.txt"), ".txt");
  InChildProcess([&] {
    TTempFile Left(Dir.File("orders.db"), ".db");
    TTempFile Memo(Dir.File("orders.mb"), ".mb");
    WriteFileBytes(Left.Path(), std::string(100000, 'x'));
    ::_exit(0);  // killed: the destructors never run
  });
  ASSERT_EQ(3u, Dir.Entries().size());
  std::string Foreign = SiblingName(Dir.File("far.dbf"), ".dbf");
  Foreign.replace(Foreign.find('-') + 1, 8, "00000000");  // another machine's tag
  WriteFileBytes(Foreign, "");
  WriteFileBytes(Dir.File(".notes.tmp1_2.txt"), "");  // someone's own file, not ours
  const std::set<std::string> Kept = {ExtractFileName(Live.Path()), ExtractFileName(Foreign),
                                      ".notes.tmp1_2.txt"};
  auto Hidden = [&] {
    std::set<std::string> H;
    for (const auto& E : Dir.Entries())
      if (E[0] == '.') H.insert(E);
    return H;
  };
  EXPECT_EQ(5u, Hidden().size());
  SaveTableFile(Dir.File("new.db"), AllTypesTable());
  EXPECT_EQ(Kept, Hidden());
  EXPECT_TRUE(std::filesystem::exists(Dir.File("new.db")));
}

// Several processes saving one ASCII table at once: every reader sees a text and a schema from
// the same writer, and so does the pair left at the end.
TEST(SaveTable, WritersOfOneTextTableNeverMixTheirPairs) {
  TScratchDir Dir;
  const std::string Path = Dir.File("shared.txt");
  // Writer W's table: one field named "W<W>" holding W in each of W + 1 rows.
  auto TableOf = [](int W) {
    TTableStore T;
    T.AddColumn({"W" + std::to_string(W), ftInteger, 0, false});
    for (int R = 0; R <= W; ++R) T.AppendRow({W});
    return T;
  };
  auto Consistent = [&](const TTableStore& T) {
    const int W = std::stoi(T.Defs.at(0).Name.substr(1));
    bool Ok = T.RowCount() == size_t(W + 1);
    for (size_t R = 0; Ok && R < T.RowCount(); ++R) Ok = T.Columns[0].Int(R) == W;
    return Ok;
  };
  SaveTableFile(Path, TableOf(0));
  std::vector<pid_t> Writers;
  for (int W = 1; W <= 4; ++W) {
    const pid_t Pid = ::fork();
    ASSERT_GE(Pid, 0);
    if (Pid == 0) {
      const TTableStore T = TableOf(W);
      for (int I = 0; I < 150; ++I) SaveTableFile(Path, T);
      ::_exit(0);
    }
    Writers.push_back(Pid);
  }
  int Mixed = 0, Reads = 0;
  auto Running = [&] {
    for (pid_t P : Writers)
      if (::waitpid(P, nullptr, WNOHANG) == 0) return true;
    return false;
  };
  while (Running()) {
    try {
      Mixed += !Consistent(*LoadTableFile(Path));
    } catch (const Exception&) {
      ++Mixed;  // a schema that does not describe the text
    }
    ++Reads;
  }
  for (pid_t P : Writers) ::waitpid(P, nullptr, 0);
  EXPECT_EQ(0, Mixed) << "of " << Reads << " reads";
  ClearTableCache();
  EXPECT_TRUE(Consistent(*LoadTableFile(Path)));
  EXPECT_EQ((std::vector<std::string>{"shared.sch", "shared.txt"}), Dir.Entries());
}

// ---- files that cannot be loaded

TEST(LoadFailure, MissingFileDirectoryAndUnreadableNameTheFile) {
  TScratchDir Dir;
  std::filesystem::create_directory(Dir.File("folder.db"));
  SaveTableFile(Dir.File("locked.dbf"), AllTypesTable());
  ::chmod(Dir.File("locked.dbf").c_str(), 0);
  std::vector<std::pair<std::string, std::string>> Cases = {
      {Dir.File("missing.db"), "no existe"},
      {Dir.File("folder.db"), "es un directorio"},
  };
  if (::geteuid() != 0) Cases.push_back({Dir.File("locked.dbf"), "permiso denegado"});
  for (const auto& [Path, Why] : Cases) {
    try {
      LoadTableFile(Path);
      ADD_FAILURE() << Path;
    } catch (const EDatabaseError& E) {
      EXPECT_NE(std::string::npos, E.Message().find(Path)) << E.Message();
      EXPECT_NE(std::string::npos, E.Message().find(Why)) << E.Message();
    }
  }
}

}  // namespace
