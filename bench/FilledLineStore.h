// The simulated line's store as the benchmarks fill it: 8 benches of 8 ports, the runs written in
// one transaction with their figures, then left as a line's store is between runs (SQLite's log
// written into the file, PostgreSQL's statistics gathered as autovacuum does).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "store/PostgresConnection.h"
#include "store/RunStore.h"
#include "store/SqliteConnection.h"
#include "tests/support/LineSimulation.h"

inline LineShape BenchLineShape(int runs, int days) {
    LineShape shape;
    shape.runs = runs;
    shape.days = days;
    shape.benches = 8;
    shape.ports = 8;
    shape.firstDay = 1;
    return shape;
}

inline std::unique_ptr<SqlConnection> BenchConnection(const std::string& location,
                                                      SqlDialect dialect) {
    if (dialect == SqlDialect::Postgres) return std::make_unique<PostgresConnection>(location);
    return std::make_unique<SqliteConnection>(location);
}

struct FilledLineStore {
    std::unique_ptr<SqlConnection> db;  // a connection to it
    double fillSeconds = 0;
};

// Makes the store at `location` and fills it with `runs`.
inline FilledLineStore FillLineStore(const std::string& location, SqlDialect dialect,
                                     const std::vector<RunRecord>& runs) {
    OpenRunStore(location);  // the schema
    FilledLineStore store{BenchConnection(location, dialect)};
    const auto start = std::chrono::steady_clock::now();
    FillRuns(*store.db, runs);
    store.fillSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (dialect == SqlDialect::Sqlite) store.db->run("PRAGMA wal_checkpoint(TRUNCATE)");
    if (dialect == SqlDialect::Postgres) store.db->run("ANALYZE");
    return store;
}
