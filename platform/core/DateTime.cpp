// Calendar arithmetic for TDateTime: days since 1899-12-30 with the time of day as the fraction.
#include "DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <string>

#include "SysUtils.h"

namespace {

constexpr int64_t MSecsPerDay = 86400000;
// Days from 0001-01-01 to 1899-12-30 in the proleptic Gregorian calendar.
constexpr int64_t DateDelta = 693594;
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t UnixDateDelta = 25569;

// Day number since 1970-01-01 of a civil date (valid for the whole proleptic range).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& Year, int& Month, int& Day) {
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

// Splits a date-time into whole days and milliseconds of the day. Negative values keep
// the date in the integer part and the time as the (positive) distance from it.
void Split(TDateTime D, int64_t& Days, int64_t& MSec) {
  double v = D.Val;
  // Far beyond the calendar's range (9999-12-31 is day 2958465) the millisecond count would
  // overflow; such values decode as day 0 and DecodeDate reports them as no date.
  if (!std::isfinite(v) || std::fabs(v) > 1e7) {
    Days = 0;
    MSec = 0;
    return;
  }
  if (v >= 0) {
    const int64_t total = std::llround(v * MSecsPerDay);
    Days = total / MSecsPerDay;
    MSec = total % MSecsPerDay;
  } else {
    const double whole = std::trunc(v);
    Days = static_cast<int64_t>(whole);
    MSec = std::llround((whole - v) * MSecsPerDay);
    if (MSec >= MSecsPerDay) MSec = MSecsPerDay - 1;
  }
}

}  // namespace

bool IsLeapYear(int Year) {
  return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0);
}

int DaysInMonth(int Year, int Month) {
  static const int Days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Month < 1 || Month > 12) return 0;
  return Month == 2 && IsLeapYear(Year) ? 29 : Days[Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, TDateTime& Result) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12 || Day < 1 ||
      Day > DaysInMonth(Year, Month))
    return false;
  Result = TDateTime(static_cast<double>(DaysFromCivil(Year, Month, Day) + UnixDateDelta));
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
  int64_t days, ms;
  Split(D, days, ms);
  if (!std::isfinite(D.Val) || std::fabs(D.Val) > 1e7) {
    Year = Month = Day = 0;
    return;
  }
  const int64_t civil = days - UnixDateDelta;
  // Outside 0001..9999 the calendar has no meaning for the platform; report zeros.
  if (days + DateDelta < 1 || civil > DaysFromCivil(9999, 12, 31)) {
    Year = Month = Day = 0;
    return;
  }
  CivilFromDays(civil, Year, Month, Day);
}

void DecodeTime(TDateTime D, int& Hour, int& Min, int& Sec, int& MSec) {
  int64_t days, ms;
  Split(D, days, ms);
  MSec = static_cast<int>(ms % 1000);
  ms /= 1000;
  Sec = static_cast<int>(ms % 60);
  ms /= 60;
  Min = static_cast<int>(ms % 60);
  Hour = static_cast<int>(ms / 60);
}

TDateTime DateOf(TDateTime D) {
  int64_t days, ms;
  Split(D, days, ms);
  return TDateTime(static_cast<double>(days));
}

TDateTime TimeOf(TDateTime D) {
  int64_t days, ms;
  Split(D, days, ms);
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
  return TDateTime(d.Val + tm.Val);
}

TDateTime Date() {
  return DateOf(Now());
}
