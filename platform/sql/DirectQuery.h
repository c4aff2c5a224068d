// Direct evaluation of the search statements over table stores, without SQLite: one table, or one
// table joined to lookup tables by key equality, a WHERE of comparisons of a column (or its
// lower()) with a constant, LIKE patterns with '%' at their ends, IS [NOT] NULL, NOT, AND and OR.
// The condition is compiled once into a program of column scans (a text search runs over a
// column's whole text at once), a lookup is a probe of the lookup table's key kept for every
// statement over the same two stores, and the result holds the rows that SQLite would give for
// the same statement, in its order, with the same meaning of every value and Null.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "SqlTranslator.h"
#include "TableStore.h"

namespace kv {

class TSqlTableSource;

// The rows of Store (the statement's one table) that the WHERE of T selects, in row order; every
// row when T has no WHERE. Nullopt when the statement is not of the family above (more tables,
// grouping, another function, a comparison of two columns, a pattern with '_', ...), for the
// caller to run it through SQLite instead. The ORDER BY of T is not applied here.
std::optional<std::vector<uint32_t>> DirectSelectRows(const TSqlTranslation& T,
                                                      const TTableStore& Store);

// The result of a statement over several tables joined by key equality (every result column a
// column of one of them as it is, an optional ORDER BY of one table's columns all one way), as
// the store SQLite's run of T would build: the same columns and rows in the same order, each
// column read from its table through the rows found when first used. Null when the statement is
// not of that family or SQLite would not run it as nested scans and key lookups, for the caller
// to run it through SQLite.
std::shared_ptr<TTableStore> DirectSelectJoin(const TSqlTranslation& T, TSqlTableSource& Tables);

}  // namespace kv
