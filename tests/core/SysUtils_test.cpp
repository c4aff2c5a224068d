// Locale conversions between text, numbers and dates, under the Spanish default locale and
// an English one, and the plain text and file-name helpers.
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "TestLocale.h"

using namespace kv;

namespace {

const TFormatSettings Spanish = TFormatSettings::Spanish();
const TFormatSettings English = TFormatSettings::English();

TDateTime DT(int Y, int M, int D, int H = 0, int N = 0, int S = 0, int Z = 0) {
  return TDateTime(EncodeDate(Y, M, D).Val + EncodeTime(H, N, S, Z).Val);
}

std::string MessageOf(auto&& F) {
  try {
    F();
  } catch (const Exception& E) {
    return E.Message();
  }
  return "(no exception)";
}

// --- numbers from text -----------------------------------------------------------------------

struct FloatCase {
  const char* Text;
  bool SpanishOk;
  double SpanishValue;
  bool EnglishOk;
  double EnglishValue;
};

TEST(StrToFloat, FollowsTheLocaleDecimalSeparator) {
  const FloatCase Cases[] = {
      {"12,5", true, 12.5, false, 0},
      {"12.5", false, 0, true, 12.5},
      {"  -1500,25 ", true, -1500.25, false, 0},
      {"+7", true, 7, true, 7},
      {"1,5E3", true, 1500, false, 0},
      {"2e-2", true, 0.02, true, 0.02},
      {",5", true, 0.5, false, 0},
      {"1.234,5", false, 0, false, 0},  // thousands separators are not accepted
      {"1,234.5", false, 0, false, 0},
      {"", false, 0, false, 0},
      {"   ", false, 0, false, 0},
      {"abc", false, 0, false, 0},
      {"12abc", false, 0, false, 0},
      {"-", false, 0, false, 0},
      {"1e", false, 0, false, 0},
      {"1 2", false, 0, false, 0},
      {"1e999", false, 0, false, 0},
  };
  for (const auto& C : Cases) {
    double v = -99;
    EXPECT_EQ(TryStrToFloat(C.Text, v, Spanish), C.SpanishOk) << C.Text;
    if (C.SpanishOk) {
      EXPECT_DOUBLE_EQ(v, C.SpanishValue) << C.Text;
    }
    EXPECT_EQ(TryStrToFloat(C.Text, v, English), C.EnglishOk) << C.Text;
    if (C.EnglishOk) {
      EXPECT_DOUBLE_EQ(v, C.EnglishValue) << C.Text;
    }
  }
}

TEST(StrToFloat, UsesTheProcessLocaleAndNamesTheTextInTheError) {
  EXPECT_DOUBLE_EQ(StrToFloat("1500,5"), 1500.5);
  EXPECT_EQ(MessageOf([] { StrToFloat("abc"); }), "'abc' no es un valor numérico válido");
  EXPECT_THROW(StrToFloat("12.5"), EConvertError);
  {
    TLocaleScope English_(English);
    EXPECT_DOUBLE_EQ(StrToFloat("12.5"), 12.5);
    EXPECT_THROW(StrToFloat("12,5"), EConvertError);
  }
  EXPECT_DOUBLE_EQ(StrToFloat("12,5"), 12.5);  // restored
}

TEST(Val, ReportsThePositionOfTheFirstBadCharacter) {
  const struct {
    const char* Text;
    int Value;
    int Code;
  } Cases[] = {
      {"123", 123, 0},
      {"-45", -45, 0},
      {"+7", 7, 0},
      {"  12", 12, 0},
      {"12a", 0, 3},
      {"a", 0, 1},
      {"12 ", 0, 3},
      {"", 0, 1},
      {"-", 0, 2},
      {"1,5", 0, 2},
      {"$1F", 31, 0},
      {"0x10", 16, 0},
      {"2147483647", 2147483647, 0},
      {"-2147483648", -2147483647 - 1, 0},
      {"2147483648", 0, 10},
      {"99999999999", 0, 10},
      {"-2147483649", 0, 11},
  };
  for (const auto& C : Cases) {
    int code = -1;
    const int v = Val(C.Text, code);
    EXPECT_EQ(code, C.Code) << C.Text;
    if (C.Code == 0) {
      EXPECT_EQ(v, C.Value) << C.Text;
    }
  }
}

TEST(StrToInt, AcceptsBlanksAroundAndRaisesOtherwise) {
  EXPECT_EQ(StrToInt(" 42 "), 42);
  EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(StrToInt64("9000000000"), 9000000000LL);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(MessageOf([] { StrToInt("x1"); }), "'x1' no es un valor entero válido");
  EXPECT_THROW(StrToInt("3000000000"), EConvertError);
  EXPECT_THROW(StrToInt(""), EConvertError);
  int v = 5;
  EXPECT_FALSE(TryStrToInt("1.5", v));
  EXPECT_EQ(v, 5);
}

// --- dates -----------------------------------------------------------------------------------

TEST(DateTime, EncodesAndDecodesTheCalendar) {
  EXPECT_EQ(EncodeDate(1899, 12, 30).Val, 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1).Val, 2);
  EXPECT_EQ(EncodeDate(1998, 12, 25).Val, 36154);
  EXPECT_EQ(EncodeDate(2000, 3, 1).Val - EncodeDate(2000, 2, 28).Val, 2);
  EXPECT_EQ(EncodeDate(1899, 12, 29).Val, -1);
  EXPECT_THROW(EncodeDate(1999, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(2000, 13, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0), EConvertError);
  for (int y : {1, 1600, 1899, 1900, 1970, 2000, 2024, 9999}) {
    for (int m : {1, 2, 12}) {
      int yy, mm, dd;
      DecodeDate(EncodeDate(y, m, DaysInMonth(y, m)), yy, mm, dd);
      EXPECT_EQ(yy * 10000 + mm * 100 + dd, y * 10000 + m * 100 + DaysInMonth(y, m));
    }
  }
  int h, n, s, z;
  DecodeTime(DT(2020, 5, 6, 23, 59, 58, 999), h, n, s, z);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + z, 235958999);
  DecodeTime(TDateTime(0.5), h, n, s, z);
  EXPECT_EQ(h, 12);
  // Before 1899-12-30 the fraction still counts forward from the day's start.
  int y, m, d;
  DecodeDate(TDateTime(-1.25), y, m, d);
  DecodeTime(TDateTime(-1.25), h, n, s, z);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  EXPECT_EQ(h, 6);
  EXPECT_EQ(DateOf(DT(2001, 2, 3, 4, 5, 6)), EncodeDate(2001, 2, 3));
  EXPECT_EQ(TimeOf(DT(2001, 2, 3, 4, 5, 6)), EncodeTime(4, 5, 6));
  // Values outside the calendar decode as no date instead of overflowing.
  for (double Bad : {1e300, -1e300, 1e8, std::nan("")}) {
    DecodeDate(TDateTime(Bad), y, m, d);
    EXPECT_EQ(y + m + d, 0) << Bad;
    DecodeTime(TDateTime(Bad), h, n, s, z);
    EXPECT_EQ(h + n + s + z, 0) << Bad;
  }
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
}

// The day number and milliseconds below every conversion: the integral part is the day, the
// fraction's absolute value the time, on both sides of 1899-12-30; a time that rounds to 24:00
// is the next midnight; the calendar's ends are its first and last millisecond.
TEST(DateTime, DayNumbersAndMillisecondsOnBothSidesOfTheOrigin) {
  const struct {
    double Value;
    int64_t Days, MSec;
  } Cases[] = {
      {0, 0, 0},
      {1.25, 1, 21600000},
      {-1.25, -1, 21600000},
      {-1.75, -1, 64800000},
      {-0.25, 0, 21600000},
      {-693593.5, -693593, 43200000},
      {2958465.999999999, 2958466, 0},
      {-2.99999999999, -1, 0},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Value);
    int64_t Days, MSec;
    SplitDateTime(TDateTime(C.Value), Days, MSec);
    EXPECT_EQ(Days, C.Days);
    EXPECT_EQ(MSec, C.MSec);
  }
  EXPECT_EQ(JoinDateTime(-1, 21600000).Val, -1.25);
  EXPECT_EQ(JoinDateTime(1, 21600000).Val, 1.25);
  EXPECT_EQ(JoinDateTime(-3, MSecsPerDay).Val, -2.0);
  EXPECT_EQ(JoinDateTime(4, -MSecsPerDay / 2).Val, 3.5);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0)).Val, -1.25);
  EXPECT_EQ(ComposeDateTime(EncodeDate(1899, 12, 30), EncodeTime(6, 0, 0)).Val, 0.25);
  EXPECT_EQ(DayNumberOf(1, 1, 1), MinDayNumber);
  EXPECT_EQ(DayNumberOf(9999, 12, 31), MaxDayNumber);
  int Y, M, D;
  DateOfDayNumber(-1, Y, M, D);
  EXPECT_EQ(Y * 10000 + M * 100 + D, 18991229);
  EXPECT_TRUE(IsInCalendar(JoinDateTime(MinDayNumber, 0)));
  EXPECT_TRUE(IsInCalendar(JoinDateTime(MaxDayNumber, MSecsPerDay - 1)));
  EXPECT_FALSE(IsInCalendar(JoinDateTime(MinDayNumber - 1, MSecsPerDay - 1)));
  EXPECT_FALSE(IsInCalendar(TDateTime(2958465.999999999)));
  EXPECT_FALSE(IsInCalendar(TDateTime(std::nan(""))));
  EXPECT_TRUE(IsValidDate(2024, 2, 29));
  EXPECT_FALSE(IsValidDate(0, 1, 1));
  EXPECT_FALSE(IsValidDate(10000, 1, 1));
}

TEST(StrToDateTime, ReadsTheLocaleOrder) {
  const struct {
    const char* Text;
    const TFormatSettings* FS;
    bool Ok;
    TDateTime Value;
  } Cases[] = {
      {"31/12/1998", &Spanish, true, DT(1998, 12, 31)},
      {"31-12-1998", &Spanish, true, DT(1998, 12, 31)},
      {" 1/2/2003 ", &Spanish, true, DT(2003, 2, 1)},
      {"31/12/98", &Spanish, true, DT(1998, 12, 31)},
      {"1/1/10", &Spanish, true, DT(2010, 1, 1)},
      {"1998-12-31", &Spanish, true, DT(1998, 12, 31)},
      {"12/31/1998", &Spanish, false, {}},
      {"12/31/1998", &English, true, DT(1998, 12, 31)},
      {"2/1/2003", &English, true, DT(2003, 2, 1)},
      {"31/12/1998 13:45", &Spanish, true, DT(1998, 12, 31, 13, 45)},
      {"31/12/1998 13:45:30", &Spanish, true, DT(1998, 12, 31, 13, 45, 30)},
      {"31/12/1998 13:45:30.250", &Spanish, true, DT(1998, 12, 31, 13, 45, 30, 250)},
      {"12/31/1998 1:45 PM", &English, true, DT(1998, 12, 31, 13, 45)},
      {"12/31/1998 12:05:00 am", &English, true, DT(1998, 12, 31, 0, 5)},
      {"13:45", &Spanish, true, DT(1899, 12, 30, 13, 45)},
      {"30/02/2000", &Spanish, false, {}},
      {"31/12/1998 25:00", &Spanish, false, {}},
      {"31/12/1998 x", &Spanish, false, {}},
      {"31/12/1998 13:45 PM", &Spanish, false, {}},
      {"hoy", &Spanish, false, {}},
      {"", &Spanish, false, {}},
  };
  for (const auto& C : Cases) {
    TDateTime v(-1);
    EXPECT_EQ(TryStrToDateTime(C.Text, v, *C.FS), C.Ok) << C.Text;
    if (C.Ok) {
      EXPECT_NEAR(v.Val, C.Value.Val, 1e-9) << C.Text;
    }
  }
}

TEST(StrToDateTime, DateOnlyAndTimeOnlyFormsAreStrict) {
  TDateTime v;
  EXPECT_TRUE(TryStrToDate("25/12/1998", v, Spanish));
  EXPECT_FALSE(TryStrToDate("25/12/1998 10:00", v, Spanish));
  EXPECT_TRUE(TryStrToTime("10:00:01", v, Spanish));
  EXPECT_NEAR(v.Val, EncodeTime(10, 0, 1).Val, 1e-12);
  EXPECT_FALSE(TryStrToTime("25/12/1998", v, Spanish));
  EXPECT_FALSE(TryStrToTime("10", v, Spanish));
  EXPECT_EQ(MessageOf([] { StrToDate("x"); }), "'x' no es una fecha válida");
  EXPECT_EQ(MessageOf([] { StrToTime("x"); }), "'x' no es una hora válida");
  EXPECT_EQ(MessageOf([] { StrToDateTime("x"); }), "'x' no es una fecha y hora válida");
  // Day and month alone take the current year.
  int y, m, d, ty;
  DecodeDate(StrToDate("5/6"), y, m, d);
  DecodeDate(Date(), ty, m, d);
  EXPECT_EQ(y, ty);
}

TEST(FormatDateTime, Patterns) {
  const TDateTime Xmas = DT(1998, 12, 25, 14, 5, 9, 7);
  const struct {
    const char* Format;
    const TFormatSettings* FS;
    const char* Expected;
  } Cases[] = {
      {"DD/MM/YYYY", &Spanish, "25/12/1998"},
      {"dd/mm/yyyy", &Spanish, "25/12/1998"},
      {"d/m/yy", &Spanish, "25/12/98"},
      {"ddd dddd", &Spanish, "vie viernes"},
      {"mmm mmmm", &Spanish, "dic diciembre"},
      {"ddd mmm", &English, "Fri Dec"},
      {"hh:nn:ss.zzz", &Spanish, "14:05:09.007"},
      {"h:n:s.z", &Spanish, "14:5:9.7"},
      {"hh:mm", &Spanish, "14:05"},  // m after h is minutes
      {"HH:MM", &Spanish, "14:05"},
      {"h:nn am/pm", &Spanish, "2:05 pm"},
      {"h:nn AM/PM", &Spanish, "2:05 PM"},
      {"h a/p", &Spanish, "2 p"},
      {"MM\"/\"DD\"/\"YYYY", &Spanish, "12/25/1998"},
      {"MM\"/\"DD\"/\"YYYY 00\":\"00\":\"00", &Spanish, "12/25/1998 00:00:00"},
      {"yyyy'-'mm'-'dd", &Spanish, "1998-12-25"},
      {"'Hoy es' dddd", &Spanish, "Hoy es viernes"},
      {"ddddd", &Spanish, "25/12/1998"},
      {"ddddd", &English, "12/25/1998"},
      {"dddddd", &Spanish, "viernes, 25 de diciembre de 1998"},
      {"c", &Spanish, "25/12/1998 14:05:09"},
      {"t", &Spanish, "14:05"},
      {"tt", &English, "2:05:09 PM"},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(FormatDateTime(C.Format, Xmas, *C.FS), C.Expected) << C.Format;
  // Separators in the pattern take the locale's characters.
  TFormatSettings Dotted = Spanish;
  Dotted.DateSeparator = '.';
  Dotted.TimeSeparator = '.';
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", Xmas, Dotted), "25.12.1998 14.05");
  EXPECT_EQ(FormatDateTime("dd\"/\"mm", Xmas, Dotted), "25/12");
}

TEST(FormatDateTime, MidnightAndTwelveHourClock) {
  EXPECT_EQ(DateTimeToStr(DT(1998, 12, 25), Spanish), "25/12/1998");
  EXPECT_EQ(DateTimeToStr(DT(1998, 12, 25, 0, 0, 1), Spanish), "25/12/1998 00:00:01");
  EXPECT_EQ(DateTimeToStr(DT(1998, 12, 25, 9, 30), English), "12/25/1998 9:30:00 AM");
  EXPECT_EQ(FormatDateTime("h am/pm", DT(2000, 1, 1, 0, 0), English), "12 am");
  EXPECT_EQ(FormatDateTime("h am/pm", DT(2000, 1, 1, 12, 0), English), "12 pm");
  EXPECT_EQ(DateToStr(DT(2003, 2, 1, 10, 0)), "01/02/2003");
  EXPECT_EQ(TimeToStr(DT(2003, 2, 1, 10, 0)), "10:00:00");
  // A time that rounds up to the next millisecond carries into seconds, not past 999.
  EXPECT_EQ(
      FormatDateTime("hh:nn:ss.zzz", TDateTime(EncodeTime(10, 0, 0, 999).Val + 0.9 / 86400000)),
      "10:00:01.000");
}

TEST(DateTime, TextRoundTripsUnderBothLocales) {
  for (const TFormatSettings* FS : {&Spanish, &English}) {
    for (TDateTime D : {DT(1998, 12, 31), DT(2024, 2, 29, 23, 59, 59), DT(1900, 1, 1, 12, 0, 1)}) {
      TDateTime back;
      ASSERT_TRUE(TryStrToDateTime(DateTimeToStr(D, *FS), back, *FS)) << DateTimeToStr(D, *FS);
      EXPECT_NEAR(back.Val, D.Val, 1e-9);
    }
  }
}

// --- numbers to text -------------------------------------------------------------------------

TEST(FormatFloat, Patterns) {
  const struct {
    const char* Format;
    double Value;
    const char* Spanish;
    const char* English;
  } Cases[] = {
      {"#,##0.00", 1234.5, "1.234,50", "1,234.50"},
      {"#,##0", 1234567, "1.234.567", "1,234,567"},
      {"#,##0", 999, "999", "999"},
      {"0.00", 2.675, "2,68", "2.68"},
      {"0.00", -2.675, "-2,68", "-2.68"},
      {"0", 0.5, "1", "1"},
      {"0", -0.5, "-1", "-1"},
      {"0.##", 5, "5", "5"},
      {"0.0#", 5.125, "5,13", "5.13"},
      {"000", 7, "007", "007"},
      {"#", 0, "", ""},
      {"#.##", 0.5, ",5", ".5"},
      {"0.00", -0.001, "0,00", "0.00"},
      {"CN 0000", 1221, "CN 1221", "CN 1221"},
      {"##.0 MG", 5.5, "5,5 MG", "5.5 MG"},
      {"PN-00000", 900, "PN-00900", "PN-00900"},
      {"Emp'#' 0000", 5, "Emp# 0005", "Emp# 0005"},
      {"'#'0000", 1003, "#1003", "#1003"},
      {"\\#0", 4, "#4", "#4"},
      {"#%", 12, "12%", "12%"},
      {"0.00%", 7.5, "7,50%", "7.50%"},
      {"000-00-0000", 123456789, "123-45-6789", "123-45-6789"},
      {"00", 12345, "12345", "12345"},
      {"0.00E+00", 1234, "1,23E+03", "1.23E+03"},
      {"0.0E-0", 0.00125, "1,3E-3", "1.3E-3"},
      {"0.0E-0", 1250, "1,3E3", "1.3E3"},
      {"#,##0.00;(#,##0.00)", -1234.5, "(1.234,50)", "(1,234.50)"},
      {"#,##0.00;(#,##0.00);'cero'", 0, "cero", "cero"},
      {"0.0;-0.0;'nada'", 0.01, "nada", "nada"},
      {"0.0;;'nada'", -3, "-3,0", "-3.0"},
      {"\"Total: \"0.00", 3, "Total: 3,00", "Total: 3.00"},
      {"", 12.5, "12,5", "12.5"},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(FormatFloat(C.Format, C.Value, Spanish), C.Spanish) << C.Format << " " << C.Value;
    EXPECT_EQ(FormatFloat(C.Format, C.Value, English), C.English) << C.Format << " " << C.Value;
  }
}

TEST(FloatToStr, ShortestTextUnderBothLocales) {
  const struct {
    double Value;
    const char* Spanish;
    const char* English;
  } Cases[] = {
      {12.5, "12,5", "12.5"},
      {1500, "1500", "1500"},
      {0.1, "0,1", "0.1"},
      {0.1 + 0.2, "0,3", "0.3"},
      {-3.25, "-3,25", "-3.25"},
      {0, "0", "0"},
      {1e14, "100000000000000", "100000000000000"},
      {1e15, "1E15", "1E15"},
      {0.0001, "0,0001", "0.0001"},
      {0.00001234, "1,234E-5", "1.234E-5"},
      {123456789.123, "123456789,123", "123456789.123"},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(FloatToStr(C.Value, Spanish), C.Spanish);
    EXPECT_EQ(FloatToStr(C.Value, English), C.English);
    double back;
    ASSERT_TRUE(TryStrToFloat(FloatToStr(C.Value, Spanish), back, Spanish)) << C.Spanish;
    EXPECT_DOUBLE_EQ(back, C.Value);
  }
  EXPECT_EQ(FloatToStr(12.5), "12,5");
}

TEST(CurrToStrF, PlacesTheSymbolAndSeparators) {
  EXPECT_EQ(CurrToStrF(1234.5, Spanish), "1.234,50 €");
  EXPECT_EQ(CurrToStrF(-1234567.891, Spanish), "-1.234.567,89 €");
  EXPECT_EQ(CurrToStrF(0.004, Spanish), "0,00 €");
  EXPECT_EQ(CurrToStrF(1234.5, English), "$1,234.50");
  TFormatSettings NoDecimals = Spanish;
  NoDecimals.CurrencyDecimals = 0;
  NoDecimals.CurrencyFormat = 1;
  EXPECT_EQ(CurrToStrF(999.5, NoDecimals), "1.000€");
}

// --- text helpers ----------------------------------------------------------------------------

TEST(TextHelpers, TrimCaseSearchAndCopy) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a "), "  a");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(LowerCase("AbC Ñ"), "abc Ñ");  // ASCII only
  EXPECT_EQ(UpperCase("abc ñ"), "ABC ñ");
  EXPECT_EQ(Pos("la", "hola lobo"), 3);
  EXPECT_EQ(Pos("lo", "hola lobo"), 6);
  EXPECT_EQ(Pos("x", "hola"), 0);
  EXPECT_EQ(Pos("", "hola"), 0);
  EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
  EXPECT_EQ(Copy("abcdef", 5, 10), "ef");
  EXPECT_EQ(Copy("abcdef", 0, 2), "ab");
  EXPECT_EQ(Copy("abcdef", 7, 1), "");
  EXPECT_EQ(Copy("abcdef", 2, -1), "");
  EXPECT_EQ(StringReplaceAll("a-b-c", "-", "--"), "a--b--c");
  EXPECT_EQ(StringReplaceAll("aaa", "", "x"), "aaa");
  EXPECT_EQ(QuotedStr("O'Brien"), "'O''Brien'");
  EXPECT_EQ(IntToStr(-42), "-42");
}

TEST(TextHelpers, FileNameParts) {
  const struct {
    const char* Path;
    const char* Name;
    const char* Dir;
    const char* Ext;
    const char* Changed;
  } Cases[] = {
      {"/data/clientes.db", "clientes.db", "/data/", ".db", "/data/clientes.px"},
      {"clientes", "clientes", "", "", "clientes.px"},
      {"/data.dir/clientes", "clientes", "/data.dir/", "", "/data.dir/clientes.px"},
      {"C:\\DATOS\\CLIENTES.DBF", "CLIENTES.DBF", "C:\\DATOS\\", ".DBF", "C:\\DATOS\\CLIENTES.px"},
      {"a.b.c", "a.b.c", "", ".c", "a.b.px"},
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(ExtractFileName(C.Path), C.Name) << C.Path;
    EXPECT_EQ(ExtractFilePath(C.Path), C.Dir) << C.Path;
    EXPECT_EQ(ExtractFileExt(C.Path), C.Ext) << C.Path;
    EXPECT_EQ(ChangeFileExt(C.Path, ".px"), C.Changed) << C.Path;
  }
}

// One splitter for the ";"- and ","-separated name lists of the whole system.
TEST(SysUtils, SplitNames) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitNames("CustNo;Company", ';'), (V{"CustNo", "Company"}));
  EXPECT_EQ(SplitNames(" A ; B;", ';'), (V{"A", "B", ""}));
  EXPECT_EQ(SplitNames("", ';'), (V{""}));
  EXPECT_EQ(SplitNames("\"Company\", \"City\"", ','), (V{"\"Company\"", "\"City\""}));
  EXPECT_EQ(SplitNames("a;b", ','), (V{"a;b"}));
}

}  // namespace
