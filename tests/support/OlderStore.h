// Stores as earlier k350ctl versions left them, written statement by statement as those versions
// wrote them, so an upgrade is tested on the schema it meets in the field rather than on today's
// schema with parts taken away.
#pragma once

#include <cstdio>
#include <string>

#include "store/SqlConnection.h"

// Makes the store of schema `version` (1 to 9) in an empty database.
inline void MakeOlderStore(SqlConnection& db, int version) {
    db.run("CREATE TABLE k350_schema (version INTEGER NOT NULL)");
    db.run("INSERT INTO k350_schema (version) VALUES (" + std::to_string(version) + ")");
    if (version >= 4) {
        db.run(
            "CREATE TABLE k350_boards (die_id TEXT PRIMARY KEY, chip_id TEXT NOT NULL,"
            " serial_form TEXT NOT NULL CHECK (serial_form IN ('decimal', 'alphanumeric')),"
            " serial_number INTEGER NOT NULL UNIQUE CHECK (serial_number >= 1 AND serial_number"
            " <= CASE serial_form WHEN 'decimal' THEN 9999 ELSE 1679615 END),"
            " serial TEXT NOT NULL UNIQUE, assigned_at TEXT NOT NULL)");
    } else {
        db.run(
            "CREATE TABLE k350_boards (die_id TEXT PRIMARY KEY, chip_id TEXT NOT NULL,"
            " serial_number INTEGER NOT NULL UNIQUE CHECK (serial_number BETWEEN 1 AND 9999),"
            " serial TEXT NOT NULL UNIQUE, assigned_at TEXT NOT NULL)");
    }
    db.run(std::string("CREATE TABLE k350_runs (id ") + db.autoKeyType() +
           ", die_id TEXT NOT NULL, chip_id TEXT NOT NULL, serial TEXT,"
           " station TEXT NOT NULL, port TEXT NOT NULL, recipe TEXT NOT NULL,"
           " image_sha256 TEXT, config_sha256 TEXT, started_at TEXT NOT NULL, finished_at TEXT,"
           " result TEXT NOT NULL, failed_step TEXT, error TEXT, steps TEXT,"
           " soak_erroneous_percent REAL, soak_lost_percent REAL, soak_jitter_ms REAL)");
    db.run("CREATE INDEX k350_runs_die ON k350_runs (die_id)");
    db.run("CREATE INDEX k350_runs_serial ON k350_runs (serial)");
    db.run("CREATE INDEX k350_runs_started ON k350_runs (started_at)");
    if (version >= 2) {
        for (const char* column : {"hook", "hook_status", "hook_output"}) {
            db.run(std::string("ALTER TABLE k350_runs ADD COLUMN ") + column + " TEXT");
        }
    }
    if (version >= 3) {
        db.run("ALTER TABLE k350_runs ADD COLUMN run_key TEXT");
        db.run("CREATE UNIQUE INDEX k350_runs_key ON k350_runs (run_key)");
    }
    if (version >= 5) {
        db.run("ALTER TABLE k350_runs ADD COLUMN seconds DOUBLE PRECISION");
        for (const char* column : {"prior_line", "prior_station", "prior_port", "prior_pass_line",
                                   "prior_pass_station", "prior_pass_port"}) {
            db.run(std::string("ALTER TABLE k350_runs ADD COLUMN ") + column + " TEXT");
        }
        db.run(
            "CREATE TABLE k350_run_steps (run_id BIGINT NOT NULL, station TEXT NOT NULL,"
            " port TEXT NOT NULL, recipe TEXT NOT NULL, started_at TEXT NOT NULL, step TEXT,"
            " ok INTEGER NOT NULL, seconds DOUBLE PRECISION)");
    }
    if (version >= 6) {
        db.run(
            "CREATE TABLE k350_measurements ("
            " run_id BIGINT NOT NULL, seq INTEGER NOT NULL,"
            " station TEXT NOT NULL, port TEXT NOT NULL, started_at TEXT NOT NULL,"
            " name TEXT NOT NULL, value DOUBLE PRECISION, unit TEXT NOT NULL,"
            " low DOUBLE PRECISION, high DOUBLE PRECISION,"
            " marginal_low DOUBLE PRECISION, marginal_high DOUBLE PRECISION,"
            " outcome TEXT NOT NULL)");
        for (const char* index :
             {"k350_measurements_run ON k350_measurements (run_id, seq)",
              "k350_measurements_period ON k350_measurements (started_at, name, value, outcome)",
              "k350_measurements_series ON k350_measurements"
              " (name, started_at, run_id, value, outcome)",
              "k350_measurements_port ON k350_measurements"
              " (station, port, name, started_at, run_id, value)"}) {
            db.run(std::string("CREATE INDEX ") + index);
        }
    }
    if (version >= 7) {
        db.run("CREATE TABLE k350_live_clock (change BIGINT NOT NULL)");
        db.run("INSERT INTO k350_live_clock (change) VALUES (0)");
        db.run(
            "CREATE TABLE k350_live_benches ("
            " name TEXT PRIMARY KEY, host TEXT NOT NULL, version TEXT NOT NULL,"
            " recipe TEXT NOT NULL, ports TEXT NOT NULL, started_at TEXT NOT NULL,"
            " heartbeat_at TEXT NOT NULL, state TEXT NOT NULL, journal_runs INTEGER,"
            " change BIGINT NOT NULL)");
        db.run(
            "CREATE TABLE k350_live_ports ("
            " bench TEXT NOT NULL, port TEXT NOT NULL, die_id TEXT, serial TEXT, step TEXT,"
            " state TEXT, done BIGINT NOT NULL, total BIGINT NOT NULL, step_since TEXT,"
            " updated_at TEXT NOT NULL, last_result TEXT, last_error TEXT, last_ended_at TEXT,"
            " change BIGINT NOT NULL, PRIMARY KEY (bench, port))");
        db.run("CREATE INDEX k350_live_benches_change ON k350_live_benches (change)");
        db.run("CREATE INDEX k350_live_ports_change ON k350_live_ports (change)");
    }
    if (version >= 8) {
        db.run("ALTER TABLE k350_measurements ADD COLUMN moving_range DOUBLE PRECISION");
        db.run("DROP INDEX k350_measurements_period");
        db.run("DROP INDEX k350_measurements_series");
        db.run(
            "CREATE INDEX k350_measurements_series ON k350_measurements"
            " (name, started_at, run_id, value, moving_range, outcome)");
    }
    if (version >= 9) {
        db.run(
            "CREATE TABLE k350_run_tally (station TEXT NOT NULL, port TEXT NOT NULL,"
            " result TEXT NOT NULL, bucket INTEGER NOT NULL, runs BIGINT NOT NULL,"
            " milliseconds BIGINT NOT NULL, PRIMARY KEY (station, port, result, bucket))");
        db.run(
            "CREATE TABLE k350_step_tally (station TEXT NOT NULL, step TEXT NOT NULL,"
            " failures BIGINT NOT NULL, PRIMARY KEY (station, step))");
    }
}

// A board with a decimal serial, in the columns of the store's version.
inline void AddOlderBoard(SqlConnection& db, int version, const std::string& dieId, int number) {
    char serial[8];
    std::snprintf(serial, sizeof serial, "%04d", number);
    db.run(std::string("INSERT INTO k350_boards (die_id, chip_id, ") +
               (version >= 4 ? "serial_form, " : "") +
               "serial_number, serial, assigned_at) VALUES (?, '0xC1', " +
               (version >= 4 ? "'decimal', " : "") + "?, ?, '2026-01-01T00:00:00Z')",
           {dieId, std::to_string(number), std::string(serial)});
}

// A finished run of an older store, in the columns every version has.
inline void AddOlderRun(SqlConnection& db, const std::string& dieId, const std::string& serial) {
    db.run(
        "INSERT INTO k350_runs (die_id, chip_id, serial, station, port, recipe, started_at,"
        " finished_at, result) VALUES (?, '0xC1', ?, 'bench-1', '1-1', 'older',"
        " '2026-01-01T00:00:00Z', '2026-01-01T00:01:00Z', 'passed')",
        {dieId, serial});
}
