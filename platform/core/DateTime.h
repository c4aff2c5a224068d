// TDateTime: days since 1899-12-30 as a double, and the one calendar every layer converts
// dates and times with (the table files, the SQL, the text conversions).
//
// A value's integral part is the day number (days since 1899-12-30, negative before it) and the
// fraction's absolute value is the time of day: -1.25 is 29/12/1899 06:00, not 28/12/1899 18:00.
// Values between -1 and 0 therefore fall on 30/12/1899, like those between 0 and 1.
#pragma once

#include <compare>
#include <cstdint>

#pragma GCC visibility push(default)
namespace kv {

struct TDateTime {
  double Val = 0;
  TDateTime() = default;
  explicit TDateTime(double v) : Val(v) {}
  bool operator==(const TDateTime& o) const { return Val == o.Val; }
  auto operator<=>(const TDateTime& o) const { return Val <=> o.Val; }
};

constexpr int64_t MSecsPerDay = 86400000;
// The day numbers of the calendar's ends: 0001-01-01 and 9999-12-31.
constexpr int64_t MinDayNumber = -693593;
constexpr int64_t MaxDayNumber = 2958465;

// Builds a date; raises EConvertError for an impossible date.
TDateTime EncodeDate(int Year, int Month, int Day);
// Builds a time of day; raises EConvertError for an impossible time.
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec = 0);
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result);
// The date of D; zeros when D lies outside the calendar.
void DecodeDate(TDateTime D, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime D, int& Hour, int& Min, int& Sec, int& MSec);
bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);
// The date part (whole days) and the time part (fraction) of a date-time.
TDateTime DateOf(TDateTime D);
TDateTime TimeOf(TDateTime D);
// The moment at time of day Time on the day of Date (Date + Time from 1899-12-30 on).
TDateTime ComposeDateTime(TDateTime Date, TDateTime Time);
TDateTime Now();
TDateTime Date();

// ---- the calendar below the text conversions (file formats and SQL use these)
// Whether Year-Month-Day is a date of years 1 to 9999.
bool IsValidDate(int Year, int Month, int Day);
// The day number of a date of the proleptic Gregorian calendar (any year; no check).
int64_t DayNumberOf(int Year, int Month, int Day);
// The date of a day number (proleptic Gregorian, any day).
void DateOfDayNumber(int64_t Days, int& Year, int& Month, int& Day);
// Splits D into its day number and the milliseconds into that day, rounded to the nearest
// millisecond; a time that rounds to 24:00 is midnight of the next day. Values that are not
// finite or lie far outside the calendar give day 0, millisecond 0.
void SplitDateTime(TDateTime D, int64_t& Days, int64_t& MSec);
// The value of a day number and the milliseconds into that day (the inverse of SplitDateTime);
// milliseconds beyond the day carry into the day number.
TDateTime JoinDateTime(int64_t Days, int64_t MSec);
// Whether D, rounded to the millisecond, lies between 0001-01-01 00:00 and 9999-12-31
// 23:59:59.999.
bool IsInCalendar(TDateTime D);

}  // namespace kv
#pragma GCC visibility pop
