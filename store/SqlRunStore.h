// The run store's schema and statements, over either database's connection.
#pragma once

#include <memory>

#include "store/RunStore.h"
#include "store/SqlConnection.h"

class SqlRunStore : public RunStore {
public:
    // A writer creates the schema, or upgrades one an older k350ctl made; a reader only checks
    // that it is one this k350ctl reads. `name` is the store's location as messages show it.
    SqlRunStore(std::unique_ptr<SqlConnection> connection, StoreAccess access,
                const std::string& name);

    std::string serialFor(const std::string& dieId, const std::string& chipId,
                          const SerialPlan& plan) override;
    void checkSerials(const SerialPlan& plan) override;
    std::optional<std::string> passedSerial(const std::string& dieId) override;
    std::int64_t beginRun(const RunRecord& run) override;
    ClaimedRun claimRun(const RunRecord& run, const std::string& since) override;
    void finishRun(const RunRecord& run) override;
    void recordHook(std::int64_t runId, const std::string& hook, const std::string& status,
                    const std::string& output) override;
    void recordRun(const RunRecord& run) override;
    std::vector<RunRecord> history(const HistoryFilter& filter) override;
    std::string openingNotice() const override { return notice_; }
    std::vector<double> portSeries(const std::string& station, const std::string& port,
                                   const std::string& name, int count) override;

    // For a reader's queries of its own (the report's), over the schema this store checked.
    SqlConnection& connection() { return *db_; }

    static constexpr int kSchemaVersion = 10;

private:
    void upgradeSchema();
    void checkSchema();
    int schemaVersion();
    std::optional<std::int64_t> runWithKey(const std::string& key);
    std::int64_t insertRun(const RunRecord& run);
    void writeEnd(const RunRecord& run, const std::string& where, const SqlValue& which);
    void refuseOtherForm(const SerialPlan& plan);
    template <typename Work>
    auto inTransaction(Work work);

    std::unique_ptr<SqlConnection> db_;
    std::string name_;
    std::string notice_;
    int version_ = kSchemaVersion;  // of the schema as the store holds it
};

// The store a location names: a PostgreSQL URL or an SQLite file, as OpenRunStore opens it.
std::unique_ptr<SqlRunStore> OpenSqlRunStore(const std::string& location, StoreAccess access,
                                             const LockWait& lockWait = {});
