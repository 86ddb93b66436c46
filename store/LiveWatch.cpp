#include "store/LiveWatch.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "store/PostgresConnection.h"
#include "store/SqliteConnection.h"
#include "store/StoreText.h"

LiveWatch::LiveWatch(const std::string& location) {
    std::unique_ptr<SqlConnection> db;
    if (IsPostgresLocation(location)) {
        auto postgres = std::make_unique<PostgresConnection>(location, StoreAccess::Read);
        postgres_ = postgres.get();
        db = std::move(postgres);
    } else {
        auto sqlite = std::make_unique<SqliteConnection>(location, StoreAccess::Read);
        sqlite_ = sqlite.get();
        db = std::move(sqlite);
    }
    store_ =
        std::make_unique<SqlRunStore>(std::move(db), StoreAccess::Read, ShownLocation(location));
    hasLive_ = store_->connection().hasTable("k350_live_clock");
    if (postgres_) postgres_->listen(kLiveChannel);
    if (sqlite_) dataVersion_ = sqlite_->dataVersion();
}

bool LiveWatch::waitForNews(int timeoutMs) {
    if (postgres_) return postgres_->awaitNotification(timeoutMs);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::int64_t version = sqlite_->dataVersion();
        if (version != dataVersion_) {
            dataVersion_ = version;
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(kSqliteLookMs)));
    }
}

LiveChanges LiveWatch::changedAfter(std::int64_t after) {
    // A station that upgraded the store meanwhile brings the live state with it.
    if (!hasLive_) hasLive_ = store_->connection().hasTable("k350_live_clock");
    if (!hasLive_) return {};
    return LiveState(store_->connection()).changedAfter(after);
}
