// k350ctl serve under a line's load: 8 station processes of 8 simulated boards each on one
// PostgreSQL server, the shipped k350ctl serve, and 50 pages on /events (plain sockets reading
// the stream): the time from a station's line (read from its output as it comes) to the event
// that shows the step at each page, p50 and p99; serve's CPU time and peak memory meanwhile. Then
// a scrape of /metrics over the report's year of runs, on SQLite and on PostgreSQL.
//   bench_serve_bench [RUNS [DAYS]]   (/metrics over 1000000 runs in 365 days by default;
//                                      RUNS 0 leaves /metrics out)
// It prints figures; a slow machine makes larger ones, never a failure.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/FilledLineStore.h"
#include "config/ServiceCodes.h"
#include "tests/support/HttpProbe.h"
#include "tests/support/PostgresServer.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kStations = 8;
constexpr int kPortsPerStation = 8;
constexpr int kPages = 50;
// A safety net for the live part: the stations end their boards in well under a minute.
constexpr auto kLiveLimit = std::chrono::minutes(5);

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// A program the bench started: its standard output read as it comes, its errors in a file.
struct Child {
    pid_t pid = -1;
    int out = -1;
    std::string pending;  // the part of a line read so far
};

Child Spawn(const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& extra, const std::string& errFile) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const auto equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : extra) variables[name] = value;
    std::vector<std::string> texts;
    for (const auto& [name, value] : variables) texts.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (std::string& text : texts) envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = arguments;
    for (std::string& argument : args) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Child child;
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        child.pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    child.out = pipeEnds[0];
    fcntl(child.out, F_SETFL, O_NONBLOCK);
    return child;
}

void Stop(Child& child) {
    if (child.pid <= 0) return;
    kill(child.pid, SIGTERM);
    waitpid(child.pid, nullptr, 0);
    child.pid = -1;
    if (child.out >= 0) close(child.out);
    child.out = -1;
}

// HTTP/1.0, so the stream comes as it is, without chunks, until the server closes it.
std::string Request(const std::string& path, std::uint16_t port) {
    return "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
           "\r\nAccept: text/event-stream\r\n\r\n";
}

void SendAll(int fd, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += std::size_t(n);
    }
}

// serve started on `port` and answering, or not (its errors in `errFile`).
Child StartServe(const std::string& store, std::uint16_t port, const std::string& errFile) {
    Child serve =
        Spawn({K350CTL, "serve", "--store", store, "--listen", "127.0.0.1:" + std::to_string(port)},
              {}, errFile);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        const int fd = ConnectLoopback(port);
        if (fd >= 0) {
            close(fd);
            return serve;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    Stop(serve);
    return serve;
}

// The whole answer to a GET, and how long it took.
std::pair<std::string, double> Get(const std::string& path, std::uint16_t port) {
    const auto start = Clock::now();
    const int fd = ConnectLoopback(port);
    if (fd < 0) return {{}, 0};
    SendAll(fd, Request(path, port));
    std::string answer;
    char chunk[65536];
    for (ssize_t n; (n = recv(fd, chunk, sizeof chunk, 0)) > 0;)
        answer.append(chunk, std::size_t(n));
    close(fd);
    return {answer, Ms(Clock::now() - start)};
}

// serve's CPU seconds so far and its peak resident memory in KiB.
std::pair<double, long> Usage(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    double cpu = 0;
    // The fields after the command's name, which is in parentheses and may hold spaces.
    if (const auto close = text.rfind(')'); close != std::string::npos) {
        std::istringstream fields(text.substr(close + 2));
        std::vector<std::string> field(15);
        for (auto& value : field) fields >> value;
        cpu =
            double(std::stoull(field[11]) + std::stoull(field[12])) / double(sysconf(_SC_CLK_TCK));
    }
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    long peakKiB = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) peakKiB = std::atol(line.c_str() + 6);
    }
    return {cpu, peakKiB};
}

// Steps in the order a board goes through them: an event of a later step shows an earlier one
// passed (a step shorter than a write of the live state is not shown on its own).
int StepRank(const std::string& step) {
    static const std::map<std::string, int> ranks{{"identify", 0}, {"boot", 1},   {"flash", 2},
                                                  {"verify", 3},   {"config", 4}, {"readback", 5},
                                                  {"soak", 6},     {"board", 7}};
    const auto found = ranks.find(step);
    return found == ranks.end() ? -1 : found->second;
}

struct Step {
    std::string bench, port, step, state;
    Clock::time_point at;
};

bool Shows(const Step& event, const Step& line) {
    if (event.bench != line.bench || event.port != line.port) return false;
    const int eventRank = StepRank(event.step), lineRank = StepRank(line.step);
    return eventRank > lineRank || (event.step == line.step && event.state == line.state);
}

struct Page {
    int fd = -1;
    std::string buffer;
    bool headersRead = false;
    std::vector<Step> events;  // port events, as they came
};

// Takes the complete events out of the page's buffer.
void ReadEvents(Page& page, Clock::time_point now) {
    if (!page.headersRead) {
        const auto end = page.buffer.find("\r\n\r\n");
        if (end == std::string::npos) return;
        page.buffer.erase(0, end + 4);
        page.headersRead = true;
    }
    for (std::size_t end; (end = page.buffer.find("\n\n")) != std::string::npos;) {
        const std::string block = page.buffer.substr(0, end);
        page.buffer.erase(0, end + 2);
        if (block.find("event: port\n") == std::string::npos) continue;
        const auto data = block.find("data: ");
        if (data == std::string::npos) continue;
        const auto json = nlohmann::json::parse(block.substr(data + 6), nullptr, false);
        if (json.is_discarded()) continue;
        page.events.push_back({json.value("bench", ""), json.value("port", ""),
                               json.value("step", ""), json.value("state", ""), now});
    }
}

// Takes a station's complete lines: each step's line with the time it came.
void ReadLines(Child& station, const std::string& bench, Clock::time_point now,
               std::vector<Step>& lines) {
    for (std::size_t end; (end = station.pending.find('\n')) != std::string::npos;) {
        const std::string text = station.pending.substr(0, end);
        station.pending.erase(0, end + 1);
        const auto json = nlohmann::json::parse(text, nullptr, false);
        if (json.is_discarded() || !json.contains("step") || !json["port"].is_string()) continue;
        const std::string step = json["step"];
        if (StepRank(step) < 0) continue;
        lines.push_back({bench, json["port"], step, json["state"], now});
    }
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

void MeasureLive(const std::string& folder) {
    PostgresServer server;
    if (!server.available()) {
        std::printf("live: not measured: PostgreSQL: %s\n", server.problem().c_str());
        return;
    }
    const std::string store = server.createDatabase("serve_bench");
    OpenRunStore(store);
    // A download that takes a moment, so the pages see progress as well as steps.
    std::ofstream(folder + "/image.rom", std::ios::binary) << std::string(64 * 1024, '\x5A');
    const std::uint16_t port = FreeLoopbackPort();
    Child serve = StartServe(store, port, folder + "/serve.err");
    if (serve.pid <= 0) {
        std::printf("live: serve did not start (%s)\n", (folder + "/serve.err").c_str());
        return;
    }
    std::vector<Page> pages(kPages);
    for (Page& page : pages) {
        page.fd = ConnectLoopback(port);
        SendAll(page.fd, Request("/events", port));
        fcntl(page.fd, F_SETFL, O_NONBLOCK);
    }
    const auto [cpuBefore, peakBefore] = Usage(serve.pid);
    std::vector<Child> stations;
    for (int bench = 1; bench <= kStations; ++bench) {
        stations.push_back(
            Spawn({K350CTL_SIM, "station", "--image", folder + "/image.rom", "--verify", "--store",
                   store, "--json", "--boards", std::to_string(kPortsPerStation), "--soak", "2"},
                  {{"K350_SIM_BOARDS", std::to_string(kPortsPerStation)},
                   {"K350_SIM_BENCH", std::to_string(bench)},
                   {"K350_STATION", "bench-" + std::to_string(bench)},
                   {"K350_SERVICE_CODE", std::string(kServiceCode)}},
                  folder + "/station-" + std::to_string(bench) + ".err"));
    }
    std::vector<Step> lines;
    const auto start = Clock::now();
    std::optional<Clock::time_point> stationsEnded;
    // After the last station's line, the pages get their last events.
    const auto settle = milliseconds(2000);
    while (Clock::now() - start < kLiveLimit &&
           (!stationsEnded || Clock::now() - *stationsEnded < settle)) {
        std::vector<pollfd> fds;
        for (const Child& station : stations) fds.push_back({station.out, POLLIN, 0});
        for (const Page& page : pages) fds.push_back({page.fd, POLLIN, 0});
        poll(fds.data(), nfds_t(fds.size()), 50);
        const auto now = Clock::now();
        char chunk[65536];
        for (std::size_t i = 0; i < stations.size(); ++i) {
            Child& station = stations[i];
            if (station.out < 0) continue;
            ssize_t n;
            while ((n = read(station.out, chunk, sizeof chunk)) > 0) {
                station.pending.append(chunk, std::size_t(n));
            }
            ReadLines(station, "bench-" + std::to_string(i + 1), now, lines);
            if (n == 0) {
                close(station.out);
                station.out = -1;
                waitpid(station.pid, nullptr, 0);
            }
        }
        for (Page& page : pages) {
            ssize_t n;
            while ((n = recv(page.fd, chunk, sizeof chunk, 0)) > 0) {
                page.buffer.append(chunk, std::size_t(n));
            }
            ReadEvents(page, now);
        }
        const bool allEnded = std::all_of(stations.begin(), stations.end(),
                                          [](const Child& station) { return station.out < 0; });
        if (allEnded && !stationsEnded) stationsEnded = now;
    }
    const double liveSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto [cpuAfter, peakKiB] = Usage(serve.pid);
    for (Child& station : stations) Stop(station);

    // Each page, each line: the first event at or after the one that showed the port's line
    // before.
    std::vector<double> latencies;
    std::size_t missed = 0, events = 0;
    for (const Page& page : pages) {
        events += page.events.size();
        std::map<std::pair<std::string, std::string>, std::size_t> from;
        for (const Step& line : lines) {
            std::size_t& index = from[{line.bench, line.port}];
            std::size_t at = index;
            while (at < page.events.size() && !Shows(page.events[at], line)) ++at;
            if (at == page.events.size()) {
                ++missed;
                continue;
            }
            index = at;
            latencies.push_back(std::max(0.0, Ms(page.events[at].at - line.at)));
        }
    }
    std::printf(
        "live: %d stations x %d simulated ports on one PostgreSQL server, %d pages on /events, "
        "%.1f s\n",
        kStations, kPortsPerStation, kPages, liveSeconds);
    std::printf(
        "live: %zu step lines, %zu port events at the pages; a step's line to its event at a page: "
        "p50 %.1f ms, p99 %.1f ms, max %.1f ms (%zu of %zu never shown)\n",
        lines.size(), events, Percentile(latencies, 0.5), Percentile(latencies, 0.99),
        Percentile(latencies, 1.0), missed, lines.size() * pages.size());
    std::printf("live: serve's CPU %.2f s in %.1f s, peak resident memory %.1f MiB (%.1f before)\n",
                cpuAfter - cpuBefore, liveSeconds, double(peakKiB) / 1024,
                double(peakBefore) / 1024);
    for (Page& page : pages) close(page.fd);
    Stop(serve);
}

void MeasureMetrics(const char* name, const std::string& location, SqlDialect dialect,
                    const std::vector<RunRecord>& runs, const std::string& folder) {
    const FilledLineStore filled = FillLineStore(location, dialect, runs);
    const std::uint16_t port = FreeLoopbackPort();
    Child serve = StartServe(location, port, folder + "/serve-metrics.err");
    if (serve.pid <= 0) {
        std::printf("%-10s  /metrics: serve did not start\n", name);
        return;
    }
    const auto [first, firstMs] = Get("/metrics", port);
    double best = firstMs;
    for (int i = 0; i < 3; ++i) best = std::min(best, Get("/metrics", port).second);
    const bool ok = first.rfind("HTTP/1.0 200", 0) == 0 || first.rfind("HTTP/1.1 200", 0) == 0;
    std::printf(
        "%-10s  fill %.1f s; /metrics over %zu runs: first %.1f ms, best of 3 %.1f ms "
        "(%zu bytes%s)\n",
        name, filled.fillSeconds, runs.size(), firstMs, best, first.size(), ok ? "" : ", not 200");
    Stop(serve);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int days = argc > 2 ? std::atoi(argv[2]) : 365;
    char pattern[] = "/tmp/k350-serve-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string folder = pattern;
    MeasureLive(folder);
    if (runs > 0) {
        const LineShape shape = BenchLineShape(runs, std::max(days, 1));
        const std::vector<RunRecord> line = SimulatedLine(shape);
        std::printf("/metrics: %zu runs over %d days, %d benches of %d ports\n", line.size(),
                    shape.days, shape.benches, shape.ports);
        MeasureMetrics("SQLite", folder + "/line.sqlite", SqlDialect::Sqlite, line, folder);
        PostgresServer server;
        if (server.available()) {
            MeasureMetrics("PostgreSQL", server.createDatabase("serve_metrics"),
                           SqlDialect::Postgres, line, folder);
        } else {
            std::printf("PostgreSQL  not measured: %s\n", server.problem().c_str());
        }
    }
    std::filesystem::remove_all(folder);
    return 0;
}
