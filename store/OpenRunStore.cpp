#include <memory>

#include "store/PostgresConnection.h"
#include "store/RunStore.h"
#include "store/SqlRunStore.h"
#include "store/SqliteConnection.h"
#include "store/StoreText.h"

bool IsPostgresLocation(const std::string& location) {
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<SqlRunStore> OpenSqlRunStore(const std::string& location, StoreAccess access,
                                             const LockWait& lockWait) {
    if (IsPostgresLocation(location)) {
        return std::make_unique<SqlRunStore>(std::make_unique<PostgresConnection>(location, access),
                                             access, ShownLocation(location));
    }
    return std::make_unique<SqlRunStore>(
        std::make_unique<SqliteConnection>(location, access, lockWait), access,
        ShownLocation(location));
}

std::unique_ptr<RunStore> OpenRunStore(const std::string& location, StoreAccess access,
                                       const LockWait& lockWait) {
    return OpenSqlRunStore(location, access, lockWait);
}
