#include "store/DamagedRuns.h"

#include <nlohmann/json.hpp>

namespace {

// Runs read at a time: a year of steps never sits in memory at once.
constexpr int kPage = 2000;
// Runs a message names; the count gives the rest.
constexpr std::size_t kNamed = 10;
// Far deeper than any list of steps, well within what the databases parse.
constexpr std::size_t kDepth = 100;

bool Digits(const std::string& text, std::size_t from, std::size_t count, int& value) {
    value = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int DaysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

bool IsStepTime(const nlohmann::json& step, const char* key) {
    const auto field = step.find(key);
    return field == step.end() || field->is_null() ||
           (field->is_string() && IsStoreTime(field->get<std::string>()));
}

// Why a run's steps cannot be read, or "".
std::string StepsProblem(const std::string& steps) {
    nlohmann::json parsed;
    bool deep = false;
    try {
        parsed = nlohmann::json::parse(
            steps, [&](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
                deep = deep || std::size_t(depth) > kDepth;
                return !deep;
            });
    } catch (const nlohmann::json::exception&) {
        return "its steps are not JSON";
    }
    if (deep || !parsed.is_array()) return "its steps are not a list of steps";
    for (const nlohmann::json& step : parsed) {
        if (!step.is_object()) return "its steps are not a list of steps";
        if (!IsStepTime(step, "started") || !IsStepTime(step, "finished")) {
            return "a step's time is not a time";
        }
    }
    return {};
}

std::string RunProblem(const SqlRow& row) {
    if (row.at(1)) {
        if (std::string problem = StepsProblem(*row[1]); !problem.empty()) return problem;
    }
    if (!row.at(2) || !IsStoreTime(*row[2])) return "its start is not a time";
    if (row.at(3) && !IsStoreTime(*row[3])) return "its end is not a time";
    return {};
}

}  // namespace

bool IsStoreTime(const std::string& text) {
    int year, month, day, hour, minute, second;
    if (text.size() < 20 || text.back() != 'Z' || !Digits(text, 0, 4, year) || text[4] != '-' ||
        !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day) ||
        text[10] != 'T' || !Digits(text, 11, 2, hour) || text[13] != ':' ||
        !Digits(text, 14, 2, minute) || text[16] != ':' || !Digits(text, 17, 2, second)) {
        return false;
    }
    if (text.size() > 20) {
        int fraction;
        if (text[19] != '.' || text.size() < 22 || text.size() > 29 ||
            !Digits(text, 20, text.size() - 21, fraction)) {
            return false;
        }
    }
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= DaysIn(year, month) &&
           hour <= 23 && minute <= 59 && second <= 59;
}

std::vector<DamagedRun> FindDamagedRuns(SqlConnection& db, const std::string& where,
                                        const std::vector<SqlValue>& parameters) {
    std::vector<DamagedRun> damaged;
    std::string after = "-1";
    for (;;) {
        std::vector<SqlValue> values{after};
        values.insert(values.end(), parameters.begin(), parameters.end());
        const auto rows = db.run(
            "SELECT id, steps, started_at, finished_at FROM k350_runs WHERE id > CAST(? AS "
            "INTEGER) AND (" +
                where + ") ORDER BY id LIMIT " + std::to_string(kPage),
            values);
        for (const SqlRow& row : rows) {
            if (std::string why = RunProblem(row); !why.empty()) {
                damaged.push_back({std::stoll(row.at(0).value_or("0")), std::move(why)});
            }
        }
        if (rows.size() < std::size_t(kPage)) return damaged;
        after = rows.back().at(0).value_or("0");
    }
}

namespace {
std::string Ids(const std::vector<DamagedRun>& runs) {
    std::string ids;
    for (const DamagedRun& run : runs) ids += (ids.empty() ? "" : ", ") + std::to_string(run.id);
    return "(" + ids + ")";
}
}  // namespace

std::string WithoutDamaged(const std::vector<DamagedRun>& runs) {
    return runs.empty() ? std::string() : " AND k350_runs.id NOT IN " + Ids(runs);
}

std::string UnlessDamaged(const std::vector<DamagedRun>& runs, const std::string& expression) {
    if (runs.empty()) return expression;
    return "(CASE WHEN k350_runs.id IN " + Ids(runs) + " THEN NULL ELSE " + expression + " END)";
}

std::string DamagedRunsText(const std::vector<DamagedRun>& runs) {
    if (runs.empty()) return {};
    std::string text = std::to_string(runs.size()) + " damaged run" +
                       (runs.size() == 1 ? "" : "s") + " left out of the times and steps: ";
    for (std::size_t i = 0; i < runs.size() && i < kNamed; ++i) {
        text += (i ? ", run " : "run ") + std::to_string(runs[i].id) + " (" + runs[i].why + ")";
    }
    if (runs.size() > kNamed) text += ", and " + std::to_string(runs.size() - kNamed) + " more";
    return text;
}
