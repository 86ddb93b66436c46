// The record of the production line: which board got which serial number, and every run of the
// station on every board. One interface over the embedded SQLite file and a shared PostgreSQL
// database, with the same schema in both.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The time as the store keeps it: ISO 8601 in UTC, so benches in other time zones agree.
std::string UtcNow();

// A store that cannot be opened, created, upgraded or written.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Result of a run: "unfinished" from its start until its end is recorded, so a station that
// dies mid-run leaves its board marked as such.
namespace RunResult {
constexpr const char* Unfinished = "unfinished";
constexpr const char* Passed = "passed";
constexpr const char* Failed = "failed";
}  // namespace RunResult

struct RunRecord {
    std::int64_t id = 0;
    std::string dieId, chipId, serial;
    std::string station;  // host name
    std::string port;     // physical place on the host, e.g. "1-1.3"
    std::string recipe;
    std::string imageSha256, configSha256;
    std::string startedAt, finishedAt;  // ISO 8601, UTC
    std::string result = RunResult::Unfinished;
    std::string failedStep, error;
    std::string steps;  // JSON list of {step, started, finished, ok}
    std::optional<double> soakErroneousPercent, soakLostPercent, soakJitterMs;
};

struct HistoryFilter {
    std::string serial{}, dieId{};
    std::string since{};  // ISO 8601 date or time; runs started at or after it
};

class RunStore {
public:
    virtual ~RunStore() = default;
    // The board's serial number: the one it already has, or the next of the sequence, taken in
    // one transaction so no two boards ever get the same. Throws StoreError when the sequence
    // is used up.
    virtual std::string serialFor(const std::string& dieId, const std::string& chipId) = 0;
    // Whether the board has a passed run.
    virtual bool hasPassed(const std::string& dieId) = 0;
    // Records the start of a run as unfinished; returns its id.
    virtual std::int64_t beginRun(const RunRecord& run) = 0;
    // Records the run's end (its id, result, times, failure and figures).
    virtual void finishRun(const RunRecord& run) = 0;
    // Keeps what the command run after the board (on_pass, on_fail) printed and how it ended.
    virtual void recordHook(std::int64_t runId, const std::string& hook, const std::string& status,
                            const std::string& output) = 0;
    // Runs in the order they started.
    virtual std::vector<RunRecord> history(const HistoryFilter& filter) = 0;
};

// "postgresql://…" or "postgres://…" opens PostgreSQL; anything else is the path of an SQLite
// file, created when missing. The schema is created or upgraded on opening.
std::unique_ptr<RunStore> OpenRunStore(const std::string& location);

// The fixed-width form of serial number n: four decimal digits, "0001" to "9999".
std::string SerialText(std::int64_t number);
constexpr std::int64_t kLastSerial = 9999;
