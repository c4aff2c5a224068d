// Faults found by fuzzing and by the bad-input tests, each pinned by the case that showed it.
#include <cstring>

#include "DateTime.h"
#include "TableFile.h"
#include "reliability/BadInput.h"

using namespace kv;

namespace {

// Paradox stores a double big-endian with the sign bit flipped (all bits for negatives).
std::string ParadoxDouble(double V) {
  uint64_t Bits;
  std::memcpy(&Bits, &V, 8);
  Bits = (Bits & 0x8000000000000000ull) ? ~Bits : (Bits | 0x8000000000000000ull);
  std::string R(8, '\0');
  for (int I = 0; I < 8; ++I) R[I] = static_cast<char>(Bits >> (56 - 8 * I));
  return R;
}

TEST(Findings, ParadoxTimestampBeyondTheDayRangeReadsAsNoDate) {
  // Converting such a value to a day count overflowed (undefined behaviour).
  TBadInputDir Dir;
  const std::string Path = Dir.File("stamp.db");
  TTableStore T;
  T.AddColumn({"Stamp", ftDateTime, 0, false});
  const double Days = 36526.25;  // 2000-01-01 06:00
  T.AppendRow({TDateTime(Days)});
  T.AppendRow({TDateTime(Days)});
  T.AppendRow({TDateTime(Days)});
  SaveTableFile(Path, T);
  const std::string Stored = ParadoxDouble((Days + 693594) * 86400000.0);
  std::string B = FileBytes(Path);
  const double Bad[] = {1e300, -1e300, 9.3e18 * 86400000.0};
  size_t At = 0;
  for (double V : Bad) {
    At = B.find(Stored, At);
    ASSERT_NE(std::string::npos, At) << "value not found in the file";
    B.replace(At, 8, ParadoxDouble(V));
  }
  PutFileBytes(Path, B);
  auto Back = LoadTableFile(Path);
  ASSERT_EQ(3u, Back->RowCount());
  for (size_t R = 0; R < 3; ++R) EXPECT_TRUE(Back->Columns[0].IsNull(R)) << R;
  ClearTableCache();
}

// A text table we write must read back: values its reader refuses are refused when writing,
// by field name, and an existing file stays as it was.
void ExpectAsciiWriteRefused(const TTableStore& T, const std::string& Field) {
  TBadInputDir Dir;
  const std::string Path = Dir.File("t.txt");
  TTableStore Old;
  Old.AddColumn({"X", ftInteger, 0, false});
  Old.AppendRow({1});
  SaveTableFile(Path, Old);
  const std::string Txt = FileBytes(Path), Sch = FileBytes(Dir.File("t.sch"));
  const std::string Err = ErrorOf([&] { SaveTableFile(Path, T); });
  ClearTableCache();
  ASSERT_FALSE(Err.empty()) << "written, and its reader refuses it: "
                            << ErrorOf([&] { LoadTableFile(Path); });
  EXPECT_NE(Err.find(Field), std::string::npos) << Err;
  EXPECT_NE(Err.find(Path), std::string::npos) << Err;
  EXPECT_EQ(Txt, FileBytes(Path));
  EXPECT_EQ(Sch, FileBytes(Dir.File("t.sch")));
}

TEST(Findings, AsciiWriterRefusesShortBeyondRange) {
  for (int V : {32768, -32769, 100000}) {
    TTableStore T;
    T.AddColumn({"Corto", ftSmallint, 0, false});
    T.AppendRow({V});
    ExpectAsciiWriteRefused(T, "'Corto'");
  }
}

TEST(Findings, AsciiWriterRefusesTextThatIsNotUtf8) {
  for (const char* V : {"\xFF\xFE", "abc\xC3", "\xED\xA0\x80"}) {
    TTableStore T;
    T.AddColumn({"Texto", ftString, 20, false});
    T.AppendRow({"bien"});
    T.AppendRow({V});
    ExpectAsciiWriteRefused(T, "'Texto'");
  }
}

}  // namespace
