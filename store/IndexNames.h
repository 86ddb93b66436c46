// The distinct values of an indexed column, found by walking its index from one value to the
// next (a seek per value) rather than reading every row: a year of runs has eight benches.
#pragma once

#include <string>
#include <vector>

#include "store/SqlConnection.h"

// The values of `column` of `table` in order, among the rows that meet `condition` (SQL with
// its `?` for each of `values`; empty for all rows). The index must lead with the condition's
// columns, then `column`.
std::vector<std::string> NamesInIndex(SqlConnection& db, const std::string& table,
                                      const std::string& column, const std::string& condition = {},
                                      const std::vector<SqlValue>& values = {});
