#include "serve/Metrics.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>

#include "store/RunStore.h"
#include "store/RunTally.h"

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string Family(const char* name, const char* type, const char* help) {
    return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string Labels(std::initializer_list<std::pair<const char*, std::string>> labels) {
    std::string text = "{";
    for (const auto& [name, value] : labels) {
        text += std::string(text.size() > 1 ? "," : "") + name + "=\"" + MetricLabel(value) + "\"";
    }
    return text + "}";
}

std::time_t TimeOf(const std::string& utc) {
    std::tm time{};
    if (std::sscanf(utc.c_str(), "%d-%d-%dT%d:%d:%d", &time.tm_year, &time.tm_mon, &time.tm_mday,
                    &time.tm_hour, &time.tm_min, &time.tm_sec) != 6) {
        return 0;
    }
    time.tm_year -= 1900;
    time.tm_mon -= 1;
    return timegm(&time);
}

std::string Text(const SqlValue& value) {
    return value.value_or("");
}

std::string RunsHeader() {
    return Family("k350_runs_total", "counter",
                  "Runs that ended, by bench, port and result, as the store holds them.");
}

std::string RunLine(const SqlRow& row) {
    return "k350_runs_total" +
           Labels({{"bench", Text(row[0])}, {"port", Text(row[1])}, {"result", Text(row[2])}}) +
           " " + Text(row[3]) + "\n";
}

std::string StepsHeader() {
    return Family("k350_step_failures_total", "counter", "Steps that failed, by bench and step.");
}

std::string StepLine(const SqlRow& row) {
    return "k350_step_failures_total" + Labels({{"bench", Text(row[0])}, {"step", Text(row[1])}}) +
           " " + Text(row[2]) + "\n";
}

std::string BoardTimesHeader() {
    return Family("k350_board_seconds", "histogram",
                  "The time of each passed board's run, by bench.");
}

// One bench's histogram from its count in each bucket (the last one beyond the last bound).
std::string BenchHistogram(const std::string& bench, const std::vector<long long>& buckets,
                           long long milliseconds) {
    std::string text;
    long long below = 0;
    std::size_t bucket = 0;
    for (double bound : RunTally::kBoardBuckets) {
        below += buckets[bucket++];
        text += "k350_board_seconds_bucket" + Labels({{"bench", bench}, {"le", Number(bound)}}) +
                " " + std::to_string(below) + "\n";
    }
    const std::string count = std::to_string(below + buckets[bucket]);
    text += "k350_board_seconds_bucket" + Labels({{"bench", bench}, {"le", "+Inf"}}) + " " + count +
            "\n";
    text += "k350_board_seconds_sum" + Labels({{"bench", bench}}) + " " +
            Number(double(milliseconds) / 1000) + "\n";
    text += "k350_board_seconds_count" + Labels({{"bench", bench}}) + " " + count + "\n";
    return text;
}

// From the totals the store keeps (RunTally): a few hundred rows, whatever the store's age.
std::string FromTally(SqlConnection& db) {
    std::string text = RunsHeader();
    for (const SqlRow& row : db.run("SELECT station, port, result, SUM(runs) FROM k350_run_tally"
                                    " GROUP BY station, port, result HAVING SUM(runs) > 0"
                                    " ORDER BY station, port, result")) {
        text += RunLine(row);
    }
    text += StepsHeader();
    for (const SqlRow& row : db.run("SELECT station, step, failures FROM k350_step_tally"
                                    " WHERE failures > 0 ORDER BY station, step")) {
        text += StepLine(row);
    }
    text += BoardTimesHeader();
    constexpr std::size_t kBuckets = std::size(RunTally::kBoardBuckets) + 1;
    std::map<std::string, std::pair<std::vector<long long>, long long>> benches;
    for (const SqlRow& row :
         db.run("SELECT station, bucket, SUM(runs), SUM(milliseconds) FROM k350_run_tally"
                " WHERE result = ? AND bucket >= 0 GROUP BY station, bucket",
                {std::string(RunResult::Passed)})) {
        auto& [buckets, milliseconds] = benches[Text(row[0])];
        buckets.resize(kBuckets);
        const std::size_t bucket = std::min<std::size_t>(std::stoul(Text(row[1])), kBuckets - 1);
        buckets[bucket] += std::stoll(Text(row[2]));
        milliseconds += std::stoll(Text(row[3]));
    }
    for (const auto& [bench, figures] : benches) {
        if (figures.first.empty()) continue;
        text += BenchHistogram(bench, figures.first, figures.second);
    }
    return text;
}

// A store older than its totals, read as it is: every run counted at each scrape.
std::string Counted(SqlConnection& db) {
    std::string text = RunsHeader();
    for (const SqlRow& row :
         db.run("SELECT station, port, result, COUNT(*) FROM k350_runs WHERE result <> ?"
                " GROUP BY station, port, result ORDER BY station, port, result",
                {std::string(RunResult::Unfinished)})) {
        text += RunLine(row);
    }
    // A store older than the report's figures has no step rows and no run times.
    if (!db.hasTable("k350_run_steps")) return text;
    text += StepsHeader();
    for (const SqlRow& row :
         db.run("SELECT station, step, COUNT(*) FROM k350_run_steps WHERE ok = 0 AND step IS NOT"
                " NULL GROUP BY station, step ORDER BY station, step")) {
        text += StepLine(row);
    }
    std::string sql = "SELECT station, SUM(CAST(ROUND(seconds * 1000) AS BIGINT))";
    const double* previous = nullptr;
    for (const double& bound : RunTally::kBoardBuckets) {
        sql += ", SUM(CASE WHEN seconds <= " + Number(bound) +
               (previous ? " AND seconds > " + Number(*previous) : std::string()) +
               " THEN 1 ELSE 0 END)";
        previous = &bound;
    }
    sql += ", SUM(CASE WHEN seconds > " + Number(*previous) +
           " THEN 1 ELSE 0 END) FROM k350_runs WHERE result = ? AND seconds IS NOT NULL"
           " GROUP BY station ORDER BY station";
    text += BoardTimesHeader();
    for (const SqlRow& row : db.run(sql, {std::string(RunResult::Passed)})) {
        std::vector<long long> buckets;
        for (std::size_t column = 2; column < row.size(); ++column) {
            buckets.push_back(std::stoll(row[column].value_or("0")));
        }
        text += BenchHistogram(Text(row[0]), buckets, std::stoll(row[1].value_or("0")));
    }
    return text;
}

bool InProgress(const PortLive& port) {
    return !port.step.empty() && port.step != "board";
}

std::string LiveText(const LiveLine& line, std::time_t now) {
    std::map<std::string, int> inProgress;
    for (const auto& [name, bench] : line.benches()) inProgress[name] = 0;
    for (const auto& [key, port] : line.ports()) {
        const auto bench = line.benches().find(port.bench);
        const bool stopped =
            bench != line.benches().end() && bench->second.state == BenchState::Stopped;
        if (InProgress(port) && !stopped) ++inProgress[port.bench];
    }
    std::string text = Family("k350_boards_in_progress", "gauge",
                              "Boards under way at a bench's ports, as its live state says.");
    for (const auto& [bench, count] : inProgress) {
        text += "k350_boards_in_progress" + Labels({{"bench", bench}}) + " " +
                std::to_string(count) + "\n";
    }
    text += Family("k350_bench_heartbeat_age_seconds", "gauge",
                   "Seconds since each bench's station last said it runs.");
    for (const auto& [name, bench] : line.benches()) {
        text += "k350_bench_heartbeat_age_seconds" + Labels({{"bench", name}}) + " " +
                Number(double(now - TimeOf(bench.heartbeatAt))) + "\n";
    }
    text +=
        Family("k350_bench_info", "gauge", "Each bench's host, program version, recipe and state.");
    for (const auto& [name, bench] : line.benches()) {
        text += "k350_bench_info" +
                Labels({{"bench", name},
                        {"host", bench.host},
                        {"version", bench.version},
                        {"recipe", bench.recipe},
                        {"state", bench.state}}) +
                " 1\n";
    }
    text += Family("k350_journal_runs", "gauge",
                   "Runs a bench's journal keeps for the store, where the bench reports them.");
    for (const auto& [name, bench] : line.benches()) {
        if (!bench.journalRuns) continue;
        text += "k350_journal_runs" + Labels({{"bench", name}}) + " " +
                std::to_string(*bench.journalRuns) + "\n";
    }
    return text;
}

}  // namespace

std::string MetricLabel(const std::string& value) {
    std::string text;
    for (char c : value) {
        if (c == '\\' || c == '"') {
            text += '\\';
            text += c;
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

std::string Metrics::storeText() {
    std::lock_guard lock(mutex_);
    try {
        if (!store_) store_ = OpenSqlRunStore(location_, StoreAccess::Read);
        SqlConnection& db = store_->connection();
        return db.hasTable("k350_run_tally") ? FromTally(db) : Counted(db);
    } catch (const StoreError&) {
        store_.reset();  // opened again at the next scrape
        throw;
    }
}

std::string Metrics::text(const LiveLine& line, const ServeFigures& serve, std::time_t now) {
    std::string store;
    bool up = true;
    try {
        store = storeText();
    } catch (const StoreError&) {
        up = false;
    }
    return store + LiveText(line, now) +
           Family("k350_store_up", "gauge", "Whether the store answered this scrape.") +
           "k350_store_up " + (up ? "1" : "0") + "\n" +
           Family("k350_serve_streams", "gauge", "Pages following the line's events now.") +
           "k350_serve_streams " + std::to_string(serve.streams) + "\n" +
           Family("k350_serve_dropped_streams_total", "counter",
                  "Pages dropped because they did not read their events.") +
           "k350_serve_dropped_streams_total " + std::to_string(serve.droppedStreams) + "\n";
}
