// The one mapping between PostgreSQL column types and the platform's field types, both ways, and
// the text forms of values as the server reads and writes them (dates, times, numbers), shared by
// results, parameters, COPY and literals so that a value makes the same round trip everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "DateTime.h"
#include "FieldTypes.h"

namespace kv {

using TPgOid = unsigned int;

// The built-in types' OIDs (fixed in every PostgreSQL release).
namespace pgtype {
constexpr TPgOid Bool = 16, Bytea = 17, Char = 18, Name = 19, Int8 = 20, Int2 = 21, Int4 = 23,
                 Text = 25, Oid = 26, Float4 = 700, Float8 = 701, Money = 790, BpChar = 1042,
                 VarChar = 1043, Date = 1082, Time = 1083, Timestamp = 1114, TimestampTz = 1184,
                 TimeTz = 1266, Numeric = 1700;
}

// How a column of the database reads as a field.
struct TPgFieldType {
  TFieldType DataType = ftUnknown;
  int Size = 0;         // characters of a string, digits after the point of ftBCD
  bool AsText = false;  // a type of no field kind of ours: shown as its text, never compared
};

// The field type of a column of type Type with modifier Typmod (PQfmod or
// pg_attribute.atttypmod; -1 when none):
//   char(n), varchar(n) -> ftString of n; text, varchar -> ftMemo; name -> ftString of 63;
//   smallint -> ftSmallint; integer, bigint, oid -> ftInteger (as a table's fields read them; a
//   bigint value keeps its 64 bits); real, double precision -> ftFloat;
//   numeric(p,2) and money -> ftCurrency; other numeric -> ftBCD (Size: the scale);
//   boolean -> ftBoolean; date -> ftDate; time [with time zone] -> ftTime;
//   timestamp [with time zone] -> ftDateTime; bytea -> ftBlob; anything else -> ftMemo, AsText.
TPgFieldType PgFieldTypeOf(TPgOid Type, int Typmod);

// The column type that stores a field of type T (Size: characters of a string, scale of ftBCD),
// the inverse of PgFieldTypeOf: ftString -> varchar(Size), ftMemo -> text, ftSmallint ->
// smallint, ftInteger/ftWord/ftAutoInc -> integer, ftFloat -> double precision, ftCurrency ->
// numeric(18,2), ftBCD -> numeric(30,Size), ftBoolean -> boolean, ftDate -> date, ftTime ->
// time(3), ftDateTime -> timestamp(3), binary kinds -> bytea. Raises EDatabaseError for a type
// that no column can hold.
std::string PgColumnType(TFieldType T, int Size);

// The server's ISO text of a date ("2024-12-31"), a time of day ("13:05:00.250") or a moment
// ("2024-12-31 13:05:00.250"), to the millisecond; T is ftDate, ftTime or ftDateTime. Raises
// EDatabaseError for a value outside the calendar.
std::string PgDateTimeText(TDateTime D, TFieldType T);
// Reads the server's ISO text of a date, time or timestamp (with or without a zone offset, which
// is dropped: the value is the moment as the session's time zone shows it), microseconds rounded
// to the millisecond. False for a text that is no such value ("infinity", years before 1 or after
// 9999).
bool PgParseDateTime(std::string_view Text, TFieldType T, TDateTime& Out);
// The shortest text that reads back as exactly V ("0.1", "1e+300", "NaN", "Infinity").
std::string PgDoubleText(double V);

}  // namespace kv
