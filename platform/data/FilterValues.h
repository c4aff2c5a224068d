// The constants of the filter language read as the values a field compares: one reading for the
// filter over table files and for the filter a database runs.
#pragma once

#include <string>
#include <string_view>

#include "FieldTypes.h"

// Converts a quoted constant to the number a field of type T stores, through the locale
// (booleans 'true'/'false' as 1/0, dates and times as days since 1899-12-30); false when it
// does not read.
bool FilterTextToNumber(TFieldType T, const std::string& S, double& Out);
// An unquoted number: '.' is its decimal point whatever the locale.
bool ParseFilterNumber(std::string_view S, double& Out);
