#include "store/LiveState.h"

#include <filesystem>
#include <nlohmann/json.hpp>

#include "store/PostgresConnection.h"
#include "store/SqliteConnection.h"
#include "store/StoreText.h"

namespace {

constexpr const char* kBenchColumns =
    "name, host, version, recipe, ports, started_at, heartbeat_at, state, journal_runs, change";
constexpr const char* kPortColumns =
    "bench, port, die_id, serial, step, state, done, total, step_since, updated_at, last_result,"
    " last_error, last_ended_at, change";

SqlValue Optional(const std::string& text) {
    return text.empty() ? SqlValue() : SqlValue(text);
}

std::string PortsText(const std::vector<std::string>& ports) {
    return nlohmann::json(ports).dump();
}

std::vector<std::string> PortsOf(const std::string& text) {
    const auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (!parsed.is_array()) return {};
    std::vector<std::string> ports;
    for (const auto& port : parsed) {
        if (port.is_string()) ports.push_back(port.get<std::string>());
    }
    return ports;
}

BenchLive BenchOf(const SqlRow& row) {
    const auto text = [&](std::size_t i) { return row.at(i).value_or(""); };
    BenchLive bench;
    bench.name = text(0);
    bench.host = text(1);
    bench.version = text(2);
    bench.recipe = text(3);
    bench.ports = PortsOf(text(4));
    bench.startedAt = text(5);
    bench.heartbeatAt = text(6);
    bench.state = text(7);
    if (row.at(8)) bench.journalRuns = std::stoi(*row[8]);
    bench.change = std::stoll(text(9));
    return bench;
}

PortLive PortOf(const SqlRow& row) {
    const auto text = [&](std::size_t i) { return row.at(i).value_or(""); };
    PortLive port;
    port.bench = text(0);
    port.port = text(1);
    port.dieId = text(2);
    port.serial = text(3);
    port.step = text(4);
    port.state = text(5);
    port.done = std::uint32_t(std::stoul(row.at(6).value_or("0")));
    port.total = std::uint32_t(std::stoul(row.at(7).value_or("0")));
    port.stepSince = text(8);
    port.updatedAt = text(9);
    port.lastResult = text(10);
    port.lastError = text(11);
    port.lastEndedAt = text(12);
    port.change = std::stoll(text(13));
    return port;
}

constexpr SqlPatience kLivePatience{2, 2000};

}  // namespace

std::unique_ptr<SqlConnection> OpenLiveConnection(const std::string& location, StoreAccess access) {
    if (IsPostgresLocation(location)) {
        return std::make_unique<PostgresConnection>(location, access, kLivePatience);
    }
    // The station's own opening makes the file; this one never does, so a file that is not
    // there yet is not made empty here.
    std::error_code error;
    if (!std::filesystem::is_regular_file(location, error)) {
        throw StoreUnavailable("store " + ShownLocation(location) + " is not there yet");
    }
    auto db = std::make_unique<SqliteConnection>(
        location, access, LockWait{{}, std::uint32_t(*kLivePatience.statementMs)});
    if (access == StoreAccess::Write) db->run("PRAGMA synchronous = NORMAL");
    return db;
}

std::vector<std::string> LiveState::Schema() {
    return {
        "CREATE TABLE k350_live_clock (change BIGINT NOT NULL)",
        "INSERT INTO k350_live_clock (change) VALUES (0)",
        "CREATE TABLE k350_live_benches ("
        " name TEXT PRIMARY KEY, host TEXT NOT NULL, version TEXT NOT NULL, recipe TEXT NOT NULL,"
        " ports TEXT NOT NULL, started_at TEXT NOT NULL, heartbeat_at TEXT NOT NULL,"
        " state TEXT NOT NULL, journal_runs INTEGER, change BIGINT NOT NULL)",
        "CREATE TABLE k350_live_ports ("
        " bench TEXT NOT NULL, port TEXT NOT NULL, die_id TEXT, serial TEXT, step TEXT,"
        " state TEXT, done BIGINT NOT NULL, total BIGINT NOT NULL, step_since TEXT,"
        " updated_at TEXT NOT NULL, last_result TEXT, last_error TEXT, last_ended_at TEXT,"
        " change BIGINT NOT NULL, PRIMARY KEY (bench, port))",
        "CREATE INDEX k350_live_benches_change ON k350_live_benches (change)",
        "CREATE INDEX k350_live_ports_change ON k350_live_ports (change)",
    };
}

template <typename Write>
void LiveState::written(const std::string& what, Write write) {
    // Not the store's exclusive transaction: a live write never waits for a run's, nor holds a
    // run back.
    db_.run("BEGIN");
    try {
        const auto rows =
            db_.run("UPDATE k350_live_clock SET change = change + 1 RETURNING change");
        if (rows.empty() || !rows[0].at(0))
            throw StoreError("the store has no live change counter");
        const std::string change = *rows[0][0];
        write(change);
        if (db_.dialect() == SqlDialect::Postgres) {
            db_.run("SELECT pg_notify(?, ?)", {std::string(kLiveChannel), what + " " + change});
        }
        db_.run("COMMIT");
    } catch (...) {
        try {
            db_.run("ROLLBACK");
        } catch (const StoreError&) {
            // The first failure is the one to report.
        }
        throw;
    }
}

void LiveState::writeBench(const BenchLive& bench) {
    written("bench", [&](const std::string& change) {
        db_.run(std::string("INSERT INTO k350_live_benches (") + kBenchColumns +
                    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                    " ON CONFLICT (name) DO UPDATE SET host = excluded.host,"
                    " version = excluded.version, recipe = excluded.recipe,"
                    " ports = excluded.ports, started_at = excluded.started_at,"
                    " heartbeat_at = excluded.heartbeat_at, state = excluded.state,"
                    " journal_runs = excluded.journal_runs, change = excluded.change",
                {bench.name, bench.host, bench.version, bench.recipe, PortsText(bench.ports),
                 bench.startedAt, bench.heartbeatAt, bench.state,
                 bench.journalRuns ? SqlValue(std::to_string(*bench.journalRuns)) : SqlValue(),
                 change});
    });
}

void LiveState::writePort(const PortLive& port) {
    written("port", [&](const std::string& change) {
        db_.run(std::string("INSERT INTO k350_live_ports (") + kPortColumns +
                    ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                    " ON CONFLICT (bench, port) DO UPDATE SET die_id = excluded.die_id,"
                    " serial = excluded.serial, step = excluded.step, state = excluded.state,"
                    " done = excluded.done, total = excluded.total,"
                    " step_since = excluded.step_since, updated_at = excluded.updated_at,"
                    " last_result = excluded.last_result, last_error = excluded.last_error,"
                    " last_ended_at = excluded.last_ended_at, change = excluded.change",
                {port.bench, port.port, Optional(port.dieId), Optional(port.serial),
                 Optional(port.step), Optional(port.state), std::to_string(port.done),
                 std::to_string(port.total), Optional(port.stepSince), port.updatedAt,
                 Optional(port.lastResult), Optional(port.lastError), Optional(port.lastEndedAt),
                 change});
    });
}

LiveChanges LiveState::changedAfter(std::int64_t after) {
    LiveChanges changes;
    const std::string since = std::to_string(after);
    // The counter first: a change committed while the rows are read is read again next time.
    changes.last =
        std::stoll(db_.run("SELECT change FROM k350_live_clock").at(0).at(0).value_or("0"));
    for (const SqlRow& row : db_.run(std::string("SELECT ") + kBenchColumns +
                                         " FROM k350_live_benches WHERE change > ? ORDER BY change",
                                     {since})) {
        changes.benches.push_back(BenchOf(row));
    }
    for (const SqlRow& row : db_.run(std::string("SELECT ") + kPortColumns +
                                         " FROM k350_live_ports WHERE change > ? ORDER BY change",
                                     {since})) {
        changes.ports.push_back(PortOf(row));
    }
    return changes;
}
