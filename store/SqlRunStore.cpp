#include "store/SqlRunStore.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <random>

#include "store/LiveState.h"
#include "store/MeasurementRows.h"
#include "store/ReferenceBoards.h"
#include "store/RunFigures.h"
#include "store/RunTally.h"
#include "store/StoreText.h"

namespace {

// Each upgrade takes the schema one version further; a new version appends its statements and
// never changes an earlier one, so every store reaches the same schema. `AUTOKEY` is the
// database's own self-numbering key type. An upgrade may then fill what it added from the rows
// already there, and index it afterwards (building an index at once is much faster than keeping
// it through the fill).
struct Upgrade {
    std::vector<std::string> statements;
    std::vector<DamagedRun> (*fill)(SqlConnection&) = nullptr;  // returns the runs it left out
    std::vector<std::string> indexes{};
};

const std::vector<Upgrade>& Upgrades() {
    static const std::vector<Upgrade> upgrades{
        {{
            "CREATE TABLE k350_boards ("
            " die_id TEXT PRIMARY KEY,"
            " chip_id TEXT NOT NULL,"
            " serial_number INTEGER NOT NULL UNIQUE CHECK (serial_number BETWEEN 1 AND 9999),"
            " serial TEXT NOT NULL UNIQUE,"
            " assigned_at TEXT NOT NULL)",
            "CREATE TABLE k350_runs ("
            " id AUTOKEY,"
            " die_id TEXT NOT NULL, chip_id TEXT NOT NULL, serial TEXT,"
            " station TEXT NOT NULL, port TEXT NOT NULL, recipe TEXT NOT NULL,"
            " image_sha256 TEXT, config_sha256 TEXT,"
            " started_at TEXT NOT NULL, finished_at TEXT,"
            " result TEXT NOT NULL, failed_step TEXT, error TEXT, steps TEXT,"
            " soak_erroneous_percent REAL, soak_lost_percent REAL, soak_jitter_ms REAL)",
            "CREATE INDEX k350_runs_die ON k350_runs (die_id)",
            "CREATE INDEX k350_runs_serial ON k350_runs (serial)",
            "CREATE INDEX k350_runs_started ON k350_runs (started_at)",
        }},
        {{
            // The command run after the board: which, how it ended, what it printed.
            "ALTER TABLE k350_runs ADD COLUMN hook TEXT",
            "ALTER TABLE k350_runs ADD COLUMN hook_status TEXT",
            "ALTER TABLE k350_runs ADD COLUMN hook_output TEXT",
        }},
        {{
            "ALTER TABLE k350_runs ADD COLUMN run_key TEXT",
            "CREATE UNIQUE INDEX k350_runs_key ON k350_runs (run_key)",
        }},
        // Serials of either form: each board's form, and its number up to the form's last.
        {{
            "CREATE TABLE k350_boards_2 ("
            " die_id TEXT PRIMARY KEY,"
            " chip_id TEXT NOT NULL,"
            " serial_form TEXT NOT NULL CHECK (serial_form IN ('decimal', 'alphanumeric')),"
            " serial_number INTEGER NOT NULL UNIQUE CHECK (serial_number >= 1 AND serial_number"
            " <= CASE serial_form WHEN 'decimal' THEN 9999 ELSE 1679615 END),"
            " serial TEXT NOT NULL UNIQUE,"
            " assigned_at TEXT NOT NULL)",
            "INSERT INTO k350_boards_2"
            " (die_id, chip_id, serial_form, serial_number, serial, assigned_at)"
            " SELECT die_id, chip_id, 'decimal', serial_number, serial, assigned_at"
            " FROM k350_boards",
            "DROP TABLE k350_boards",
            "ALTER TABLE k350_boards_2 RENAME TO k350_boards",
        }},
        // The report's figures of each run (RunFigures), and indexes that hold what each of the
        // report's statements reads in the order it groups by, so that a year of runs is counted
        // from index entries. Long texts (errors, recipes) stay out of indexes: PostgreSQL refuses
        // an index entry of more than about 2.7 kB, and with it the run.
        {{
             "ALTER TABLE k350_runs ADD COLUMN seconds DOUBLE PRECISION",
             "ALTER TABLE k350_runs ADD COLUMN prior_line TEXT",
             "ALTER TABLE k350_runs ADD COLUMN prior_station TEXT",
             "ALTER TABLE k350_runs ADD COLUMN prior_port TEXT",
             "ALTER TABLE k350_runs ADD COLUMN prior_pass_line TEXT",
             "ALTER TABLE k350_runs ADD COLUMN prior_pass_station TEXT",
             "ALTER TABLE k350_runs ADD COLUMN prior_pass_port TEXT",
             "CREATE TABLE k350_run_steps ("
             " run_id BIGINT NOT NULL,"
             " station TEXT NOT NULL, port TEXT NOT NULL, recipe TEXT NOT NULL,"
             " started_at TEXT NOT NULL,"  // the run's, as the report's period takes it
             " step TEXT, ok INTEGER NOT NULL, seconds DOUBLE PRECISION)",
         },
         [](SqlConnection& db) { return RunFigures(db).fillAll(); },
         {
             "CREATE INDEX k350_runs_board ON k350_runs (die_id, station, port, started_at, "
             "result)",
             "CREATE INDEX k350_runs_ports ON k350_runs (station, port, started_at, id, result,"
             " prior_line, prior_station, prior_port, prior_pass_line, prior_pass_station,"
             " prior_pass_port)",
             "CREATE INDEX k350_runs_results ON k350_runs"
             " (result, station, port, seconds, started_at, failed_step)",
             "CREATE INDEX k350_runs_hours ON k350_runs"
             " (station, port, SUBSTR(finished_at, 1, 13), result, started_at)",
             "CREATE INDEX k350_run_steps_run ON k350_run_steps (run_id)",
             "CREATE INDEX k350_run_steps_started ON k350_run_steps (started_at)",
             "CREATE INDEX k350_run_steps_times ON k350_run_steps"
             " (station, port, step, ok, seconds, started_at)",
         }},
        // Each run's measurements with their limits and outcomes.
        {MeasurementTableStatements(), nullptr, MeasurementIndexStatements()},
        // The line live: each bench's heartbeat and each port's board and step (LiveState).
        {LiveState::Schema()},
        {MovingRangeStatements(), nullptr, MovingRangeIndexStatements()},
        // The line's totals for the metrics (RunTally).
        {RunTally::Schema(),
         [](SqlConnection& db) {
             RunTally(db).fillAll();
             return std::vector<DamagedRun>{};
         }},
        // Where each board came from, and the boards kept apart from the line's figures.
        {{
            "ALTER TABLE k350_runs ADD COLUMN program_version TEXT",
            "ALTER TABLE k350_runs ADD COLUMN operator TEXT",
            "ALTER TABLE k350_runs ADD COLUMN lot TEXT",
            "ALTER TABLE k350_runs ADD COLUMN recipe_sha256 TEXT",
            ReferenceBoardsTable(),
        }},
    };
    return upgrades;
}

std::string WithAutoKey(std::string sql, const std::string& keyType) {
    if (const auto at = sql.find("AUTOKEY"); at != std::string::npos) sql.replace(at, 7, keyType);
    return sql;
}

SqlValue Optional(const std::string& text) {
    return text.empty() ? SqlValue() : SqlValue(text);
}

SqlValue Number(const std::optional<double>& value) {
    if (!value) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", *value);
    return std::string(text);
}

std::optional<double> NumberOf(const SqlValue& value) {
    if (!value) return std::nullopt;
    return std::stod(*value);
}

constexpr const char* kRunColumns =
    "id, die_id, chip_id, serial, station, port, recipe, image_sha256, config_sha256, started_at,"
    " finished_at, result, failed_step, error, steps, soak_erroneous_percent, soak_lost_percent,"
    " soak_jitter_ms, hook, hook_status, hook_output, run_key";
// A store read as it is, before the upgrade that added them, has none of these.
constexpr const char* kOriginColumns = ", program_version, operator, lot, recipe_sha256";
constexpr const char* kNoOrigin =
    ", CAST(NULL AS TEXT), CAST(NULL AS TEXT), CAST(NULL AS TEXT), CAST(NULL AS TEXT)";
constexpr int kOriginVersion = 10;

RunRecord RunOf(const SqlRow& row) {
    const auto text = [&](std::size_t i) { return row.at(i).value_or(""); };
    RunRecord run;
    run.id = std::stoll(text(0));
    run.dieId = text(1);
    run.chipId = text(2);
    run.serial = text(3);
    run.station = text(4);
    run.port = text(5);
    run.recipe = text(6);
    run.imageSha256 = text(7);
    run.configSha256 = text(8);
    run.startedAt = text(9);
    run.finishedAt = text(10);
    run.result = text(11);
    run.failedStep = text(12);
    run.error = text(13);
    run.steps = text(14);
    run.soakErroneousPercent = NumberOf(row.at(15));
    run.soakLostPercent = NumberOf(row.at(16));
    run.soakJitterMs = NumberOf(row.at(17));
    run.hook = text(18);
    run.hookStatus = text(19);
    run.hookOutput = text(20);
    run.key = text(21);
    run.programVersion = text(22);
    run.operatorName = text(23);
    run.lot = text(24);
    run.recipeSha256 = text(25);
    return run;
}

}  // namespace

std::string UtcNow() {
    return UtcSecondsAgo(0);
}

std::string UtcSecondsAgo(double seconds) {
    const std::time_t now = std::time(nullptr) - std::time_t(seconds);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::optional<RunRecord> UnderWayElsewhere(const std::vector<RunRecord>& runs,
                                           const std::string& station) {
    for (const RunRecord& run : runs) {
        if (run.result == RunResult::Unfinished && run.station != station) return run;
    }
    return std::nullopt;
}

std::string NewRunKey(const std::string& station) {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    char text[96];
    std::snprintf(text, sizeof text, "%.40s-%ld-%lld-%u-%08x", station.c_str(), long(getpid()),
                  static_cast<long long>(std::time(nullptr)), ++counter, unsigned(random()));
    return text;
}

SqlRunStore::SqlRunStore(std::unique_ptr<SqlConnection> connection, StoreAccess access,
                         const std::string& name)
    : db_(std::move(connection)), name_(name) {
    if (access == StoreAccess::Write) {
        upgradeSchema();
        version_ = kSchemaVersion;
    } else {
        checkSchema();
        version_ = schemaVersion();
    }
}

template <typename Work>
auto SqlRunStore::inTransaction(Work work) {
    db_->beginExclusive();
    try {
        auto result = work();
        db_->commit();
        return result;
    } catch (...) {
        try {
            db_->rollback();
        } catch (const StoreError&) {
            // The first failure is the one to report.
        }
        throw;
    }
}

// The version the store's one schema row holds. A row that is not a version number is a
// damaged store, or another program's table of that name.
int SqlRunStore::schemaVersion() {
    const auto rows = db_->run("SELECT version FROM k350_schema");
    if (rows.empty()) return 0;
    const std::string text = rows[0].at(0).value_or("");
    if (rows.size() > 1 || text.empty() || text.size() > 6 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        throw StoreError("store " + name_ +
                         " is damaged or not a k350 store: its schema row holds " +
                         (rows.size() > 1 ? std::to_string(rows.size()) + " rows"
                                          : "\"" + OneLine(text).substr(0, 40) + "\"") +
                         ", not a version number; give the right store with --store");
    }
    const int version = std::stoi(text);
    if (version > kSchemaVersion) {
        throw StoreError("store " + name_ + ": its schema version " + std::to_string(version) +
                         " is newer than this k350ctl knows (" + std::to_string(kSchemaVersion) +
                         "); use a newer k350ctl");
    }
    return version;
}

void SqlRunStore::checkSchema() {
    if (!db_->hasTable("k350_schema")) {
        throw StoreError("store " + name_ +
                         " is not a k350 store (no k350_schema table); nothing was changed");
    }
    if (schemaVersion() == 0) {
        throw StoreError("store " + name_ +
                         " was never completed by a station (schema version 0); start a station on "
                         "it once, or give the right store with --store");
    }
}

void SqlRunStore::upgradeSchema() {
    // A store of this version needs no write lock: a station starts (and reads its journal)
    // while another holds the lock, and waits for it only where it writes.
    if (db_->hasTable("k350_schema") && schemaVersion() == kSchemaVersion) return;
    inTransaction([&] {
        db_->run("CREATE TABLE IF NOT EXISTS k350_schema (version INTEGER NOT NULL)");
        const bool empty = db_->run("SELECT version FROM k350_schema").empty();
        int version = schemaVersion();
        if (empty) db_->run("INSERT INTO k350_schema (version) VALUES (0)");
        for (; version < kSchemaVersion; ++version) {
            const Upgrade& upgrade = Upgrades()[std::size_t(version)];
            for (const std::string& sql : upgrade.statements) {
                db_->run(WithAutoKey(sql, db_->autoKeyType()));
            }
            if (upgrade.fill) {
                const std::string damaged = DamagedRunsText(upgrade.fill(*db_));
                if (!damaged.empty()) notice_ = "store " + name_ + " upgraded; " + damaged;
            }
            for (const std::string& sql : upgrade.indexes) db_->run(sql);
        }
        db_->run("UPDATE k350_schema SET version = ?", {std::to_string(version)});
        return 0;
    });
}

void SqlRunStore::refuseOtherForm(const SerialPlan& plan) {
    const std::string wanted = SerialFormName(plan.form);
    const auto held =
        db_->run("SELECT serial_form FROM k350_boards WHERE serial_form <> ? LIMIT 1", {wanted});
    if (held.empty()) return;
    throw StoreError("the store holds " + held[0].at(0).value_or("") + " serials and the recipe " +
                     "asks for " + wanted + " ones; a line keeps one form (use another store)");
}

void SqlRunStore::checkSerials(const SerialPlan& plan) {
    refuseOtherForm(plan);
}

std::string SqlRunStore::serialFor(const std::string& dieId, const std::string& chipId,
                                   const SerialPlan& plan) {
    return inTransaction([&] {
        const auto known = db_->run("SELECT serial FROM k350_boards WHERE die_id = ?", {dieId});
        if (!known.empty()) return known[0].at(0).value_or("");
        refuseOtherForm(plan);
        const auto last = db_->run(
            "SELECT MAX(serial_number) FROM k350_boards WHERE serial_number BETWEEN ? AND ?",
            {std::to_string(plan.first), std::to_string(plan.last)});
        const std::int64_t next =
            last.empty() || !last[0].at(0) ? plan.first : std::stoll(*last[0].at(0)) + 1;
        if (next > plan.last) {
            throw StoreError("the serial numbers from " + SerialText(plan.first, plan.form) +
                             " to " + SerialText(plan.last, plan.form) + " are used up");
        }
        const std::string serial = SerialText(next, plan.form);
        db_->run(
            "INSERT INTO k350_boards"
            " (die_id, chip_id, serial_form, serial_number, serial, assigned_at)"
            " VALUES (?, ?, ?, ?, ?, ?)",
            {dieId, chipId, std::string(SerialFormName(plan.form)), std::to_string(next), serial,
             UtcNow()});
        return serial;
    });
}

std::optional<std::string> SqlRunStore::passedSerial(const std::string& dieId) {
    const auto rows = db_->run(
        "SELECT COALESCE(b.serial, r.serial) FROM k350_runs r"
        " LEFT JOIN k350_boards b ON b.die_id = r.die_id"
        " WHERE r.die_id = ? AND r.result = ? LIMIT 1",
        {dieId, std::string(RunResult::Passed)});
    if (rows.empty()) return std::nullopt;
    return rows[0].at(0).value_or("");
}

std::optional<std::int64_t> SqlRunStore::runWithKey(const std::string& key) {
    if (key.empty()) return std::nullopt;
    const auto rows = db_->run("SELECT id FROM k350_runs WHERE run_key = ?", {key});
    if (rows.empty() || !rows[0].at(0)) return std::nullopt;
    return std::int64_t(std::stoll(*rows[0][0]));
}

// Inside a transaction: a retried start (its first commit may have reached the store before the
// connection was lost) finds the run it already recorded.
std::int64_t SqlRunStore::beginRun(const RunRecord& run) {
    return inTransaction([&] {
        if (const auto known = runWithKey(run.key)) return std::int64_t(*known);
        return insertRun(run);
    });
}

// The look at the board's runs is made under the store's write lock (SQLite's immediate
// transaction, PostgreSQL's advisory lock), so another bench's claim is either seen whole or
// made after this one.
ClaimedRun SqlRunStore::claimRun(const RunRecord& run, const std::string& since) {
    return inTransaction([&] {
        if (const auto known = runWithKey(run.key)) return ClaimedRun{*known, std::nullopt};
        if (auto other = UnderWayElsewhere(history({{}, run.dieId, since}), run.station)) {
            return ClaimedRun{0, std::move(other)};
        }
        return ClaimedRun{insertRun(run), std::nullopt};
    });
}

std::int64_t SqlRunStore::insertRun(const RunRecord& run) {
    const auto rows = db_->run(
        "INSERT INTO k350_runs (die_id, chip_id, serial, station, port, recipe, image_sha256,"
        " config_sha256, started_at, result, steps, run_key, program_version, operator, lot,"
        " recipe_sha256) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
        {run.dieId, run.chipId, Optional(run.serial), run.station, run.port, run.recipe,
         Optional(run.imageSha256), Optional(run.configSha256),
         run.startedAt.empty() ? UtcNow() : run.startedAt, std::string(RunResult::Unfinished),
         Optional(run.steps), Optional(run.key), Optional(run.programVersion),
         Optional(run.operatorName), Optional(run.lot), Optional(run.recipeSha256)});
    if (rows.empty() || !rows[0].at(0)) throw StoreError("the run was not recorded");
    const std::int64_t id = std::stoll(*rows[0][0]);
    RunFigures(*db_).begun(id, !run.steps.empty());
    return id;
}

void SqlRunStore::writeEnd(const RunRecord& run, const std::string& where, const SqlValue& which) {
    db_->run(
        "UPDATE k350_runs SET serial = ?, image_sha256 = ?, config_sha256 = ?,"
        " finished_at = ?, result = ?, failed_step = ?, error = ?, steps = ?,"
        " soak_erroneous_percent = ?, soak_lost_percent = ?, soak_jitter_ms = ?,"
        " program_version = ?, operator = ?, lot = ?, recipe_sha256 = ?"
        " WHERE " +
            where,
        {Optional(run.serial), Optional(run.imageSha256), Optional(run.configSha256),
         run.finishedAt.empty() ? UtcNow() : run.finishedAt, run.result, Optional(run.failedStep),
         Optional(StorableText(run.error)), Optional(run.steps), Number(run.soakErroneousPercent),
         Number(run.soakLostPercent), Number(run.soakJitterMs), Optional(run.programVersion),
         Optional(run.operatorName), Optional(run.lot), Optional(run.recipeSha256), which});
}

void SqlRunStore::finishRun(const RunRecord& run) {
    inTransaction([&] {
        RunTally(*db_).withdrawRun("id = ?", std::to_string(run.id));
        writeEnd(run, "id = ?", std::to_string(run.id));
        WriteMeasurements(*db_, run.id, run);
        RunFigures(*db_).ended(run.id);
        return 0;
    });
}

void SqlRunStore::recordRun(const RunRecord& run) {
    if (run.key.empty()) throw StoreError("a run without a key cannot be recorded again");
    inTransaction([&] {
        if (!runWithKey(run.key)) {
            db_->run(
                "INSERT INTO k350_runs (die_id, chip_id, serial, station, port, recipe,"
                " started_at, result, run_key) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                {run.dieId, run.chipId, Optional(run.serial), run.station, run.port, run.recipe,
                 run.startedAt.empty() ? UtcNow() : run.startedAt,
                 std::string(RunResult::Unfinished), run.key});
        }
        RunTally(*db_).withdrawRun("run_key = ?", run.key);
        writeEnd(run, "run_key = ?", run.key);
        // A journal keeps the hook's outcome with the run when the store could not take it.
        if (!run.hook.empty()) {
            db_->run(
                "UPDATE k350_runs SET hook = ?, hook_status = ?, hook_output = ?"
                " WHERE run_key = ?",
                {run.hook, run.hookStatus, run.hookOutput, run.key});
        }
        if (const auto id = runWithKey(run.key)) {
            WriteMeasurements(*db_, *id, run);
            RunFigures(*db_).ended(*id);
        }
        return 0;
    });
}

void SqlRunStore::recordHook(std::int64_t runId, const std::string& hook, const std::string& status,
                             const std::string& output) {
    inTransaction([&] {
        db_->run("UPDATE k350_runs SET hook = ?, hook_status = ?, hook_output = ? WHERE id = ?",
                 {hook, status, output, std::to_string(runId)});
        return 0;
    });
}

std::vector<RunRecord> SqlRunStore::history(const HistoryFilter& filter) {
    std::string sql = std::string("SELECT ") + kRunColumns +
                      (version_ >= kOriginVersion ? kOriginColumns : kNoOrigin) +
                      " FROM k350_runs WHERE 1 = 1";
    std::vector<SqlValue> parameters;
    const auto where = [&](const char* condition, const std::string& value) {
        if (value.empty()) return;
        sql += condition;
        parameters.push_back(value);
    };
    where(" AND serial = ?", filter.serial);
    where(" AND die_id = ?", filter.dieId);
    where(" AND started_at >= ?", filter.since);
    where(" AND started_at < ?", filter.before);
    sql += " ORDER BY started_at, id";
    std::vector<RunRecord> runs;
    for (const SqlRow& row : db_->run(sql, parameters)) {
        try {
            runs.push_back(RunOf(row));
        } catch (const std::logic_error&) {
            throw StoreError("store " + name_ + " is damaged: run " + row.at(0).value_or("?") +
                             " holds a figure that is not a number");
        }
    }
    std::vector<std::int64_t> ids;
    for (const RunRecord& run : runs) ids.push_back(run.id);
    try {
        auto measurements = ReadMeasurements(*db_, ids);
        for (RunRecord& run : runs) run.measurements = std::move(measurements[run.id]);
    } catch (const std::logic_error&) {
        throw StoreError("store " + name_ + " is damaged: a measurement is not a number");
    }
    return runs;
}

std::vector<double> SqlRunStore::portSeries(const std::string& station, const std::string& port,
                                            const std::string& name, int count) {
    return PortSeries(*db_, station, port, name, count);
}
