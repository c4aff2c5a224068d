// The calendar: TDateTime to and from civil dates, day numbers and milliseconds of the day.
#include "DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <string>

#include "SysUtils.h"

namespace kv {

namespace {

// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t UnixDateDelta = 25569;
// Beyond this distance from the origin the millisecond count of a value would overflow; such
// values are no date (9999-12-31 is day 2958465).
constexpr double FarOutside = 1e7;

// Day number since 1970-01-01 of a civil date (valid for the whole proleptic range).
int64_t UnixDaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromUnixDays(int64_t z, int& Year, int& Month, int& Day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  Year = static_cast<int>(y + (Month <= 2));
}

bool FarOutsideCalendar(double V) {
  return !std::isfinite(V) || std::fabs(V) > FarOutside;
}

}  // namespace

int64_t DayNumberOf(int Year, int Month, int Day) {
  return UnixDaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)) +
         UnixDateDelta;
}

void DateOfDayNumber(int64_t Days, int& Year, int& Month, int& Day) {
  CivilFromUnixDays(Days - UnixDateDelta, Year, Month, Day);
}

bool IsValidDate(int Year, int Month, int Day) {
  return Year >= 1 && Year <= 9999 && Month >= 1 && Month <= 12 && Day >= 1 &&
         Day <= DaysInMonth(Year, Month);
}

void SplitDateTime(TDateTime D, int64_t& Days, int64_t& MSec) {
  if (FarOutsideCalendar(D.Val)) {
    Days = 0;
    MSec = 0;
    return;
  }
  const double Whole = std::trunc(D.Val);
  Days = static_cast<int64_t>(Whole);
  MSec = std::llround(std::fabs(D.Val - Whole) * MSecsPerDay);
  if (MSec >= MSecsPerDay) {
    // 23:59:59.9996 is the next midnight, whichever side of the origin the day lies.
    ++Days;
    MSec = 0;
  }
}

TDateTime JoinDateTime(int64_t Days, int64_t MSec) {
  if (MSec < 0 || MSec >= MSecsPerDay) {
    // Whole days of milliseconds (a rounding up to 24:00) belong to the day count.
    const int64_t Carry = MSec / MSecsPerDay - (MSec % MSecsPerDay < 0 ? 1 : 0);
    Days += Carry;
    MSec -= Carry * MSecsPerDay;
  }
  const double Time = static_cast<double>(MSec) / MSecsPerDay;
  const double Day = static_cast<double>(Days);
  return TDateTime(Days < 0 ? Day - Time : Day + Time);
}

bool IsInCalendar(TDateTime D) {
  if (FarOutsideCalendar(D.Val)) return false;
  int64_t Days, MSec;
  SplitDateTime(D, Days, MSec);
  return Days >= MinDayNumber && Days <= MaxDayNumber;
}

TDateTime ComposeDateTime(TDateTime Date, TDateTime Time) {
  int64_t Days, Unused, MSec;
  SplitDateTime(Date, Days, Unused);
  SplitDateTime(Time, Unused, MSec);
  return JoinDateTime(Days, MSec);
}

bool IsLeapYear(int Year) {
  return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0);
}

int DaysInMonth(int Year, int Month) {
  static const int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Month < 1 || Month > 12) return 0;
  return Month == 2 && IsLeapYear(Year) ? 29 : Days[Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result) {
  if (!IsValidDate(Year, Month, Day)) return false;
  Result = TDateTime(static_cast<double>(DayNumberOf(Year, Month, Day)));
  return true;
}

bool TryEncodeTime(int Hour, int Min, int Sec, int MSec, TDateTime& Result) {
  if (Hour < 0 || Hour > 23 || Min < 0 || Min > 59 || Sec < 0 || Sec > 59 || MSec < 0 || MSec > 999)
    return false;
  const int64_t ms = ((static_cast<int64_t>(Hour) * 60 + Min) * 60 + Sec) * 1000 + MSec;
  Result = TDateTime(static_cast<double>(ms) / MSecsPerDay);
  return true;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  TDateTime r;
  if (!TryEncodeDate(Year, Month, Day, r))
    throw EConvertError("Fecha no válida: año " + std::to_string(Year) + ", mes " +
                        std::to_string(Month) + ", día " + std::to_string(Day));
  return r;
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
  TDateTime r;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, r))
    throw EConvertError("Hora no válida: " + std::to_string(Hour) + ":" + std::to_string(Min) +
                        ":" + std::to_string(Sec) + "." + std::to_string(MSec));
  return r;
}

void DecodeDate(TDateTime D, int& Year, int& Month, int& Day) {
  // Outside 0001..9999 the calendar has no meaning for the platform; report zeros.
  if (!IsInCalendar(D)) {
    Year = Month = Day = 0;
    return;
  }
  int64_t Days, MSec;
  SplitDateTime(D, Days, MSec);
  DateOfDayNumber(Days, Year, Month, Day);
}

void DecodeTime(TDateTime D, int& Hour, int& Min, int& Sec, int& MSec) {
  int64_t days, ms;
  SplitDateTime(D, days, ms);
  MSec = static_cast<int>(ms % 1000);
  ms /= 1000;
  Sec = static_cast<int>(ms % 60);
  ms /= 60;
  Min = static_cast<int>(ms % 60);
  Hour = static_cast<int>(ms / 60);
}

TDateTime DateOf(TDateTime D) {
  int64_t days, ms;
  SplitDateTime(D, days, ms);
  return TDateTime(static_cast<double>(days));
}

TDateTime TimeOf(TDateTime D) {
  int64_t days, ms;
  SplitDateTime(D, days, ms);
  return TDateTime(static_cast<double>(ms) / MSecsPerDay);
}

TDateTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm lt{};
  localtime_r(&t, &lt);
  const int ms =
      static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  TDateTime d, tm;
  TryEncodeDate(lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, d);
  TryEncodeTime(lt.tm_hour, lt.tm_min, lt.tm_sec > 59 ? 59 : lt.tm_sec, ms, tm);
  return ComposeDateTime(d, tm);
}

TDateTime Date() {
  return DateOf(Now());
}

}  // namespace kv
