// A PostgreSQL server of the test's own, in a temporary folder, reached on a Unix socket in that
// folder only (no TCP port, so parallel tests never clash). PostgreSQL refuses to run as root: run
// as root, the server runs as the unprivileged user `nobody`, which then owns the folder.
#pragma once

#include <string>

class PostgresServer {
public:
    PostgresServer();   // starts it; check available() before use
    ~PostgresServer();  // stops it and removes the folder
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool available() const { return started_; }
    // Why there is no server (no PostgreSQL installed, initdb or start failed).
    const std::string& problem() const { return problem_; }
    // A fresh database on it, and the store URL that reaches it; empty when it cannot be made.
    std::string createDatabase(const std::string& name);
    // The role that must give its password (kPasswordRole, kPassword), and no other, and the
    // URL of the database for it, without the password.
    std::string passwordUrl(const std::string& database) const;
    static constexpr const char* kPasswordRole = "k350pw";
    static constexpr const char* kPassword = "s3cr%t-pw";
    // Stopped as a restart or a fail-over stops it (connections cut), and started again.
    bool stop();
    bool start();
    const std::string& socketFolder() const { return folder_; }

private:
    int runAsServerUser(const std::string& command) const;
    int sql(const std::string& statement) const;

    std::string bin_, folder_, problem_;
    bool started_ = false;
};

// The test program's one server, started at its first use.
PostgresServer& TestPostgresServer();

// A fresh store for a test run on each kind a line may keep: "sqlite" is the file `sqliteFile`,
// "postgres" a new database of the test program's server. Empty, with `why` set, when there is
// no server to make it on (the test then skips).
std::string FreshStoreLocation(const std::string& kind, const std::string& sqliteFile,
                               std::string& why);
