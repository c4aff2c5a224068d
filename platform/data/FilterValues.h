// The constants of the filter language read as the values a field compares: one reading for the
// filter over table files and for the filter a database runs.
#pragma once

#include <string>
#include <string_view>

#include "FieldTypes.h"
#include "FilterLexer.h"
#include "FilterParser.h"

namespace kv {

class TField;

// Converts a quoted constant to the number a field of type T stores, through the locale
// (booleans 'true'/'false' as 1/0, dates and times as days since 1899-12-30); false when it
// does not read.
bool FilterTextToNumber(TFieldType T, const std::string& S, double& Out);
// An unquoted number: '.' is its decimal point whatever the locale.
bool ParseFilterNumber(std::string_view S, double& Out);
// The number a constant token (a number, a quoted text, true or false) compared with the
// number, date or boolean field F stands for. Raises EDatabaseError naming the position, the
// constant and the field when it does not read as one.
double FilterConstantNumber(const TFilterToken& T, const TField& F);
// Raises EDatabaseError "Filtro no válido en la posición P: 'x' no es un valor válido para el
// campo F".
[[noreturn]] void RaiseFilterValueError(const TFilterToken& T, const TField& F);
// The operator that compares the other way round: "constant op field" reads as
// "field MirrorCompareOp(op) constant".
TFilterCompareOp MirrorCompareOp(TFilterCompareOp Op);

}  // namespace kv
