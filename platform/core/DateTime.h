// TDateTime: days since 1899-12-30 as a double, with the calendar helpers the layers use.
#pragma once

#include <compare>
#include <cstdint>

struct TDateTime {
  double Val = 0;
  TDateTime() = default;
  explicit TDateTime(double v) : Val(v) {}
  bool operator==(const TDateTime& o) const { return Val == o.Val; }
  auto operator<=>(const TDateTime& o) const { return Val <=> o.Val; }
};

// Builds a date; raises EConvertError for an impossible date.
TDateTime EncodeDate(int Year, int Month, int Day);
// Builds a time of day; raises EConvertError for an impossible time.
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec = 0);
bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result);
bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result);
void DecodeDate(TDateTime D, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime D, int& Hour, int& Min, int& Sec, int& MSec);
bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);
// The date part (whole days) and the time part (fraction) of a date-time.
TDateTime DateOf(TDateTime D);
TDateTime TimeOf(TDateTime D);
TDateTime Now();
TDateTime Date();
