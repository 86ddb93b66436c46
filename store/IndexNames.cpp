#include "store/IndexNames.h"

std::vector<std::string> NamesInIndex(SqlConnection& db, const std::string& table,
                                      const std::string& column, const std::string& condition,
                                      const std::vector<SqlValue>& values) {
    const std::string of = " WHERE " + (condition.empty() ? "1 = 1" : condition);
    const std::string sql = "WITH RECURSIVE n(name) AS (SELECT MIN(" + column + ") FROM " + table +
                            of + " UNION ALL SELECT (SELECT MIN(" + column + ") FROM " + table +
                            of + " AND " + column + " > n.name) FROM n WHERE n.name IS NOT NULL)" +
                            " SELECT name FROM n WHERE name IS NOT NULL";
    std::vector<SqlValue> twice = values;
    twice.insert(twice.end(), values.begin(), values.end());
    std::vector<std::string> names;
    for (const SqlRow& row : db.run(sql, twice)) names.push_back(row.at(0).value_or(""));
    return names;
}
