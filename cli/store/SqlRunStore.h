// The run store's schema and statements, over either database's connection.
#pragma once

#include <memory>

#include "cli/store/RunStore.h"
#include "cli/store/SqlConnection.h"

class SqlRunStore : public RunStore {
public:
    // Creates the schema, or upgrades one an older k350ctl made.
    explicit SqlRunStore(std::unique_ptr<SqlConnection> connection);

    std::string serialFor(const std::string& dieId, const std::string& chipId) override;
    bool hasPassed(const std::string& dieId) override;
    std::int64_t beginRun(const RunRecord& run) override;
    void finishRun(const RunRecord& run) override;
    void recordHook(std::int64_t runId, const std::string& hook, const std::string& status,
                    const std::string& output) override;
    std::vector<RunRecord> history(const HistoryFilter& filter) override;

    static constexpr int kSchemaVersion = 2;

private:
    void upgradeSchema();
    template <typename Work>
    auto inTransaction(Work work);

    std::unique_ptr<SqlConnection> db_;
};
