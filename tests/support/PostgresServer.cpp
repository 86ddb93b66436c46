#include "tests/support/PostgresServer.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {
constexpr const char* kServerUser = "nobody";
constexpr const char* kRole = "k350";

// The newest installed server's programs, or empty.
std::string ServerPrograms() {
    namespace fs = std::filesystem;
    std::string newest;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error)) {
        const std::string bin = entry.path().string() + "/bin";
        if (fs::exists(bin + "/initdb") && bin > newest) newest = bin;
    }
    return newest;
}
}  // namespace

PostgresServer::PostgresServer() : bin_(ServerPrograms()) {
    if (bin_.empty()) {
        problem_ = "no PostgreSQL server installed (scripts/install-deps.sh installs it)";
        return;
    }
    char pattern[] = "/tmp/k350-pg-XXXXXX";
    if (!mkdtemp(pattern)) {
        problem_ = "no temporary folder";
        return;
    }
    folder_ = pattern;
    if (geteuid() == 0 &&
        std::system(("chown " + std::string(kServerUser) + " " + folder_).c_str()) != 0) {
        problem_ = "cannot give the folder to " + std::string(kServerUser);
        return;
    }
    const std::string data = folder_ + "/data";
    if (runAsServerUser(bin_ + "/initdb -A trust -U " + kRole + " -D " + data + " > " + folder_ +
                        "/initdb.log 2>&1") != 0) {
        problem_ = "initdb failed; see " + folder_ + "/initdb.log";
        return;
    }
    // Only the socket in the folder; a test server need not survive a power cut.
    std::ofstream(data + "/postgresql.conf", std::ios::app)
        << "listen_addresses = ''\nunix_socket_directories = '" << folder_
        << "'\nfsync = off\nmax_connections = 100\n";
    // Trust for the tests' own role; one that must give its password, as a line's would.
    std::ofstream(data + "/pg_hba.conf")
        << "local all " << kPasswordRole << " scram-sha-256\nlocal all all trust\n";
    if (!start()) {
        problem_ = "the server did not start; see " + folder_ + "/server.log";
        return;
    }
    sql(std::string("CREATE ROLE ") + kPasswordRole + " LOGIN PASSWORD '" + kPassword + "'");
}

bool PostgresServer::start() {
    started_ = runAsServerUser(bin_ + "/pg_ctl -w -t 120 -D " + folder_ + "/data -l " + folder_ +
                               "/server.log start > /dev/null 2>&1") == 0;
    return started_;
}

bool PostgresServer::stop() {
    if (!started_) return true;
    started_ = runAsServerUser(bin_ + "/pg_ctl -w -t 120 -D " + folder_ +
                               "/data -m fast stop > /dev/null 2>&1") != 0;
    return !started_;
}

int PostgresServer::sql(const std::string& statement) const {
    return std::system((bin_ + "/psql -q -h " + folder_ + " -U " + kRole + " -d postgres -c \"" +
                        statement + "\" > /dev/null 2>&1")
                           .c_str());
}

std::string PostgresServer::passwordUrl(const std::string& database) const {
    return "postgresql:///" + database + "?host=" + folder_ + "&user=" + kPasswordRole;
}

PostgresServer::~PostgresServer() {
    if (started_) {
        runAsServerUser(bin_ + "/pg_ctl -w -D " + folder_ +
                        "/data -m immediate stop > /dev/null 2>&1");
    }
    if (!folder_.empty() && problem_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

int PostgresServer::runAsServerUser(const std::string& command) const {
    const std::string line =
        geteuid() == 0 ? "runuser -u " + std::string(kServerUser) + " -- sh -c '" + command + "'"
                       : command;
    return std::system(line.c_str());
}

std::string PostgresServer::createDatabase(const std::string& name) {
    if (std::system((bin_ + "/createdb -h " + folder_ + " -U " + kRole + " " + name).c_str()) !=
        0) {
        return {};
    }
    sql("GRANT ALL ON DATABASE " + name + " TO " + kPasswordRole);
    sql("ALTER DATABASE " + name + " OWNER TO " + kPasswordRole);
    return "postgresql:///" + name + "?host=" + folder_ + "&user=" + kRole;
}

PostgresServer& TestPostgresServer() {
    static PostgresServer server;
    return server;
}

std::string FreshStoreLocation(const std::string& kind, const std::string& sqliteFile,
                               std::string& why) {
    static int databases = 0;
    if (kind == "sqlite") return sqliteFile;
    PostgresServer& server = TestPostgresServer();
    if (!server.available()) {
        why = "PostgreSQL: " + server.problem();
        return {};
    }
    const std::string location = server.createDatabase("store" + std::to_string(++databases));
    if (location.empty()) why = "PostgreSQL: the test's database could not be made";
    return location;
}
