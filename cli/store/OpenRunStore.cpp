#include <memory>

#include "cli/store/PostgresConnection.h"
#include "cli/store/RunStore.h"
#include "cli/store/SqlRunStore.h"
#include "cli/store/SqliteConnection.h"

std::unique_ptr<RunStore> OpenRunStore(const std::string& location) {
    if (location.starts_with("postgresql://") || location.starts_with("postgres://")) {
        return std::make_unique<SqlRunStore>(std::make_unique<PostgresConnection>(location));
    }
    return std::make_unique<SqlRunStore>(std::make_unique<SqliteConnection>(location));
}
