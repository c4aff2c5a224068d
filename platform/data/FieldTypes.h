// Field data types and the option sets of datasets, with the ordinals the product relies on.
#pragma once

#include <string>

#pragma GCC visibility push(default)
namespace kv {

enum TFieldType : int {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
};

// The type's name as the platform writes it ("ftString", ...).
std::string FieldTypeName(TFieldType T);

enum TFieldKind { fkData, fkCalculated, fkLookup };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// Filter options: a set, as bit flags. foAccentInsensitive compares texts as FoldText gives them
// (letters with diacritics as their base letters, ñ apart; see Unicode.h).
enum TFilterOption : unsigned {
  foCaseInsensitive = 1,
  foNoPartialCompare = 2,
  foAccentInsensitive = 4
};
using TFilterOptions = unsigned;

// Locate options: a set, as bit flags.
// loAccentInsensitive compares texts as foAccentInsensitive does.
enum TLocateOption : unsigned { loCaseInsensitive = 1, loPartialKey = 2, loAccentInsensitive = 4 };
using TLocateOptions = unsigned;

// Index options: a set, as bit flags.
enum TIndexOption : unsigned {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
};
using TIndexOptions = unsigned;

enum TBatchMode { batAppend, batUpdate, batAppendUpdate, batDelete, batCopy };

}  // namespace kv
#pragma GCC visibility pop
