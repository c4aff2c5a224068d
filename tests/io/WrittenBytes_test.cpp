// The bytes each writer puts in its files for a wide mix of values (numbers of every scale and
// number of decimals, halves, negative zeros, texts with and without accents, characters the
// code page lacks, times with and without milliseconds, Nulls everywhere), whole and in chunks;
// and the values the dBase reader takes from number texts of every shape, against the plain
// parse of each text.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <cmath>
#include <cstring>

#include "IoUtil.h"
#include "RowSource.h"
#include "TableFile.h"
#include "io/IoTestUtil.h"

using namespace kv;

namespace {

// A deterministic sequence of pseudo-random numbers.
struct TRandom {
  uint64_t S = 0x9E3779B97F4A7C15ull;
  uint64_t Next() {
    S ^= S << 13;
    S ^= S >> 7;
    S ^= S << 17;
    return S;
  }
  int Below(int N) { return static_cast<int>(Next() % static_cast<uint64_t>(N)); }
  double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
};

// 6,000 rows: more than one chunk of a writer, every column with Nulls.
TTableStore Mixed(bool WithMemo) {
  TTableStore T;
  T.AddColumn({"Id", ftInteger, 0, false});
  T.AddColumn({"Cents", ftFloat, 0, false});     // at most two decimals, as prices
  T.AddColumn({"Rate", ftFloat, 0, false});      // four decimals, some halves, negatives
  T.AddColumn({"Whole", ftFloat, 0, false});     // whole numbers up to 10^14
  T.AddColumn({"Any", ftFloat, 0, false});       // full precision, every scale
  T.AddColumn({"Money", ftCurrency, 0, false});  //
  T.AddColumn({"Small", ftSmallint, 0, false});
  T.AddColumn({"Flag", ftBoolean, 0, false});
  T.AddColumn({"Day", ftDate, 0, false});
  T.AddColumn({"Stamp", ftDateTime, 0, false});
  T.AddColumn({"StampMs", ftDateTime, 0, false});
  T.AddColumn({"Clock", ftTime, 0, false});
  T.AddColumn({"City", ftString, 12, false});
  if (WithMemo) T.AddColumn({"Notes", ftMemo, 0, false});
  const char* Words[] = {"Málaga", "Zürich", "Ødense", "A Coruña", "日本",
                         "€ euro", "plain",  "x",      "Ñandú ✓",  "São Paulo do Norte muy largo"};
  TRandom R;
  for (int I = 0; I < 6000; ++I) {
    auto Maybe = [&](Variant V) { return R.Below(13) == 0 ? Variant::Null() : V; };
    const double Scale = std::pow(10.0, R.Below(30) - 12);
    const int Days = DateOfYmd(1900 + R.Below(200), 1 + R.Below(12), 1 + R.Below(28));
    std::vector<Variant> Row = {
        Maybe(I * 7 - 20000),
        Maybe((R.Below(2000000) - 1000000) / 100.0),
        Maybe(I % 97 == 0 ? -0.0
                          : (R.Below(200000) - 100000) / 10000.0 + (I % 5 == 0 ? 0.00005 : 0)),
        Maybe(std::floor((R.Unit() - 0.5) * (I % 3 ? 1e6 : 2e14))),
        Maybe((R.Unit() - 0.3) * Scale),
        Maybe(I % 11 == 0 ? 2.675 : (R.Unit() - 0.5) * 1e9),
        Maybe(R.Below(65536) - 32768),
        Maybe(Variant(R.Below(2) == 1)),
        Maybe(Variant(TDateTime(Days))),
        Maybe(Variant(TDateTime(Days + R.Below(86400) / 86400.0))),
        Maybe(Variant(TDateTime(Days + R.Below(86400000) / 86400000.0))),
        Maybe(Variant(TDateTime(R.Below(86400) / 86400.0))),
        Maybe(Variant(std::string(Words[R.Below(10)]))),
    };
    if (WithMemo)
      Row.push_back(Maybe(Variant(
          std::string(static_cast<size_t>(I % 40 ? R.Below(8) : R.Below(400)), 'm') + "ñ")));
    T.AppendRow(Row);
  }
  return T;
}

TEST(WrittenBytes, EveryWriterWritesTheSameBytesForAWideMixOfValues) {
  struct TCase {
    const char* Name;
    const char* Files;
  } Cases[] = {
      {"mixed.db", "mixed.db 915456 2e7c5a2adb2bd1f1\nmixed.mb 512362 dcb73bf0992d7935\n"},
      {"mixed.dbf", "mixed.dbf 1230450 1833226d0c3ac84b\n"},
      {"mixed.txt", "mixed.sch 462 596b2935054f5487\nmixed.txt 952022 624862639c548e19\n"},
  };
  for (const TCase& C : Cases) {
    const TTableStore Data = Mixed(std::string(C.Name) != "mixed.dbf");
    {
      TScratchDir Dir;
      SaveTableFile(Dir.File(C.Name), Data);
      EXPECT_EQ(C.Files, FolderHashes(Dir)) << C.Name << " from the whole store";
    }
    TScratchDir Dir;
    const TTableSlice All(Data);
    TSliceSource Source(All, 1000);
    SaveTableFile(Dir.File(C.Name), Source);
    EXPECT_EQ(C.Files, FolderHashes(Dir)) << C.Name << " in chunks of 1000";
  }
}

// Number fields hold texts of every shape: what the reader takes from each is what parsing the
// text (blanks around it cut) gives, a Null where that is no number.
TEST(DBaseRead, NumberTextsOfEveryShapeReadAsTheirPlainParse) {
  const char* Texts[] = {"0",
                         "-0",
                         "-0.0",
                         "+3",
                         "  42  ",
                         "7.",
                         ".5",
                         "-.5",
                         "1e5",
                         "1.5E-3",
                         "12345678901234",
                         "123456789012345",
                         "1234567890123456789",
                         "-2147483648",
                         "2147483647",
                         "2147483648",
                         "0.1000000000000000055511151231257827",
                         "9007199254740993",
                         "903.8900",
                         "0.0000001",
                         "99999999999999.9999",
                         "1,5",
                         "12a",
                         "--1",
                         "*****",
                         "",
                         "   ",
                         "\t5",
                         "5\t",
                         "1 2",
                         "-",
                         ".",
                         "0x10",
                         "inf",
                         "nan",
                         "00012.50",
                         "-000.000",
                         "4.9406564584124654e-324",
                         "1.7976931348623157e308",
                         "123456.7890123456",
                         "1234567.890123456"};
  // The blanks a field's text is cut of, as the reader cuts them.
  auto Cut = [](std::string_view S) {
    while (!S.empty() && (S.front() == ' ' || S.front() == '\0')) S.remove_prefix(1);
    while (!S.empty() && (S.back() == ' ' || S.back() == '\0')) S.remove_suffix(1);
    return S;
  };
  // A whole-number field keeps its type while no text reads as a number that is not one.
  auto KeepsWhole = [&](std::string_view S) {
    int32_t I;
    double D;
    S = Cut(S);
    return S.size() <= 11 && (S.empty() || S[0] == '*' || TextToInt(S, I) || !TextToDouble(S, D));
  };
  TScratchDir Dir;
  const std::string Path = Dir.File("texts.dbf");
  {
    DBFHandle H = DBFCreateEx(Path.c_str(), "LDID/87");
    ASSERT_NE(nullptr, H);
    DBFAddNativeFieldType(H, "WIDE", 'N', 40, 6);
    DBFAddNativeFieldType(H, "REAL", 'F', 40, 0);
    DBFAddNativeFieldType(H, "WHOLE", 'N', 11, 0);
    int Row = 0;
    for (const char* Text : Texts) {
      for (int Col = 0; Col < 3; ++Col) {
        const size_t Width = Col == 2 ? 11 : 40;
        const std::string_view S = Col < 2 || KeepsWhole(Text) ? Text : "";
        std::string Cell(Width - S.size(), ' ');
        Cell += S;
        DBFWriteAttributeDirectly(H, Row, Col, Cell.data());
      }
      ++Row;
    }
    DBFClose(H);
  }
  auto T = LoadTableFile(Path);
  ASSERT_EQ(std::size(Texts), T->RowCount());
  ASSERT_EQ(ftInteger, T->Columns[2].Type());
  for (size_t R = 0; R < std::size(Texts); ++R) {
    const std::string_view S = Cut(Texts[R]);
    double Want = 0;
    const bool IsNumber = !S.empty() && S[0] != '*' && TextToDouble(S, Want);
    if (!IsNumber) Want = 0;
    for (int Col = 0; Col < 2; ++Col) {
      const TColumn& C = T->Columns[Col];
      ASSERT_EQ(!IsNumber, C.IsNull(R)) << "'" << Texts[R] << "'";
      const double Got = IsNumber ? C.Double(R) : 0;
      EXPECT_EQ(0, std::memcmp(&Want, &Got, sizeof Got))
          << "'" << Texts[R] << "' read as " << Got << ", not " << Want;
    }
    int32_t WantInt = 0;
    const bool IsInt = KeepsWhole(Texts[R]) && !S.empty() && S[0] != '*' && TextToInt(S, WantInt);
    ASSERT_EQ(!IsInt, T->Columns[2].IsNull(R)) << "'" << Texts[R] << "'";
    if (IsInt) {
      EXPECT_EQ(WantInt, T->Columns[2].Int(R)) << "'" << Texts[R] << "'";
    }
  }
}

}  // namespace
