// Exceptions, the process locale and the locale-dependent conversions between text and values.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "DateTime.h"

#pragma GCC visibility push(default)
namespace kv {

// The platform's general exception: carries one message.
class Exception : public std::exception {
 public:
  explicit Exception(std::string Msg) : FMessage(std::move(Msg)) {}
  const std::string& Message() const { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

// A text that does not convert to the wanted value.
class EConvertError : public Exception {
  using Exception::Exception;
};

// A variant that cannot take the wanted type.
class EVariantError : public Exception {
  using Exception::Exception;
};

// The locale: separators and date/time patterns; Spanish defaults.
struct TFormatSettings {
  char DecimalSeparator = ',';
  char ThousandSeparator = '.';
  char DateSeparator = '/';
  char TimeSeparator = ':';
  std::string ShortDateFormat = "dd/mm/yyyy";
  std::string LongDateFormat = "dddd, d' de 'mmmm' de 'yyyy";
  std::string ShortTimeFormat = "hh:nn";
  std::string LongTimeFormat = "hh:nn:ss";
  std::string CurrencyString = "€";
  int CurrencyDecimals = 2;
  // 0: "€1", 1: "1€", 2: "€ 1", 3: "1 €"
  int CurrencyFormat = 3;
  std::string ShortMonthNames[12] = {"ene", "feb", "mar", "abr", "may", "jun",
                                     "jul", "ago", "sep", "oct", "nov", "dic"};
  std::string LongMonthNames[12] = {"enero",      "febrero", "marzo",     "abril",
                                    "mayo",       "junio",   "julio",     "agosto",
                                    "septiembre", "octubre", "noviembre", "diciembre"};
  std::string ShortDayNames[7] = {"dom", "lun", "mar", "mié", "jue", "vie", "sáb"};
  std::string LongDayNames[7] = {"domingo", "lunes",   "martes", "miércoles",
                                 "jueves",  "viernes", "sábado"};

  static TFormatSettings Spanish() { return TFormatSettings(); }
  // An English (United States) locale: "." decimals, m/d/yyyy dates; for tests and tools.
  static TFormatSettings English();
};

// The process-wide locale every conversion uses unless one is passed.
TFormatSettings& FormatSettings();

// Text to number. Blanks around the number are allowed; raises EConvertError
// with a Spanish message naming the text.
double StrToFloat(std::string_view S);
double StrToFloat(std::string_view S, const TFormatSettings& FS);
bool TryStrToFloat(std::string_view S, double& Value);
bool TryStrToFloat(std::string_view S, double& Value, const TFormatSettings& FS);
int StrToInt(std::string_view S);
int64_t StrToInt64(std::string_view S);
bool TryStrToInt(std::string_view S, int& Value);
// Reads a whole number in the 32-bit range: Code is 0 on success, else the 1-based
// position of the first character that could not be read (on overflow, of the digit that
// overflowed).
int Val(std::string_view S, int& Code);

// Text to date/time under the locale's ShortDateFormat order and separators.
TDateTime StrToDate(std::string_view S);
TDateTime StrToDate(std::string_view S, const TFormatSettings& FS);
TDateTime StrToTime(std::string_view S);
TDateTime StrToTime(std::string_view S, const TFormatSettings& FS);
TDateTime StrToDateTime(std::string_view S);
TDateTime StrToDateTime(std::string_view S, const TFormatSettings& FS);
bool TryStrToDate(std::string_view S, TDateTime& Value,
                  const TFormatSettings& FS = FormatSettings());
bool TryStrToTime(std::string_view S, TDateTime& Value,
                  const TFormatSettings& FS = FormatSettings());
bool TryStrToDateTime(std::string_view S, TDateTime& Value,
                      const TFormatSettings& FS = FormatSettings());

// Date/time to text with a pattern: d dd ddd dddd m mm mmm mmmm yy yyyy h hh n nn s ss z zzz
// am/pm, "/" and ":" as the locale's separators, literals in '…' or "…".
std::string FormatDateTime(std::string_view Format, TDateTime D);
std::string FormatDateTime(std::string_view Format, TDateTime D, const TFormatSettings& FS);
std::string DateToStr(TDateTime D);
std::string DateToStr(TDateTime D, const TFormatSettings& FS);
std::string TimeToStr(TDateTime D);
std::string TimeToStr(TDateTime D, const TFormatSettings& FS);
// Date and time; the time is left out when it is midnight.
std::string DateTimeToStr(TDateTime D);
std::string DateTimeToStr(TDateTime D, const TFormatSettings& FS);

// Number to text with a pattern: 0 # . , E+ literals in quotes, sections split by ";"
// (positive;negative;zero). "." and "," stand for the locale's separators.
std::string FormatFloat(std::string_view Format, double Value);
std::string FormatFloat(std::string_view Format, double Value, const TFormatSettings& FS);
// Shortest text that reads back as the same number (15 significant digits).
std::string FloatToStr(double Value);
std::string FloatToStr(double Value, const TFormatSettings& FS);
// Number as money: locale currency decimals, thousands and currency symbol.
std::string CurrToStrF(double Value, const TFormatSettings& FS = FormatSettings());
std::string IntToStr(int64_t Value);

// Plain text helpers. Trim removes blanks and control characters (<= ' ').
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);
// ASCII-only case change.
std::string LowerCase(std::string_view S);
std::string UpperCase(std::string_view S);
// 1-based position of Sub in S, 0 when absent.
int Pos(std::string_view Sub, std::string_view S);
// Count characters from 1-based Index (clamped like the platform's Copy).
std::string Copy(std::string_view S, int Index, int Count);
std::string StringReplaceAll(std::string_view S, std::string_view From, std::string_view To);
std::string QuotedStr(std::string_view S);
// The names of a list separated by Separator (";" for field lists, "," for column and table
// lists), left to right, each trimmed; the last name is what follows the last separator, so an
// empty list gives one empty name.
std::vector<std::string> SplitNames(std::string_view List, char Separator);

// File-name parts.
std::string ExtractFileName(std::string_view Path);
std::string ExtractFilePath(std::string_view Path);
std::string ExtractFileExt(std::string_view Path);
std::string ChangeFileExt(std::string_view Path, std::string_view Ext);

}  // namespace kv
#pragma GCC visibility pop
