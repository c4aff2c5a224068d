// Direct evaluation of the search statements over a table store, without SQLite: one table, a
// WHERE of comparisons of a column (or its lower()) with a constant, LIKE patterns with '%' at
// their ends, IS [NOT] NULL, NOT, AND and OR. The condition is compiled once into a program of
// column scans (a text search runs over a column's whole text at once) and gives the rows that
// SQLite would give for the same statement, with the same meaning of every value and Null.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "SqlTranslator.h"
#include "TableStore.h"

// The rows of Store (the statement's one table) that the WHERE of T selects, in row order; every
// row when T has no WHERE. Nullopt when the statement is not of the family above (more tables,
// grouping, another function, a comparison of two columns, a pattern with '_', ...), for the
// caller to run it through SQLite instead. The ORDER BY of T is not applied here.
std::optional<std::vector<uint32_t>> DirectSelectRows(const TSqlTranslation& T,
                                                      const TTableStore& Store);
