#include "station/BoardHook.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "store/RunJson.h"

extern char** environ;

namespace {

using Steady = std::chrono::steady_clock;

// Never handed on: the hook has no business with the board's access code.
constexpr const char* kWithheld = "K350_SERVICE_CODE=";

// The process groups of the hooks running now, one slot each; 0 is a free slot.
std::array<std::atomic<pid_t>, 64> running{};

// Keeps a hook's group in `running` while it lives.
class RunningHook {
public:
    explicit RunningHook(pid_t group) {
        for (auto& slot : running) {
            pid_t free = 0;
            if (slot.compare_exchange_strong(free, group)) {
                slot_ = &slot;
                break;
            }
        }
    }
    ~RunningHook() {
        if (slot_) slot_->store(0);
    }
    RunningHook(const RunningHook&) = delete;
    RunningHook& operator=(const RunningHook&) = delete;

private:
    std::atomic<pid_t>* slot_ = nullptr;
};

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

std::string SystemError(const char* what) {
    return std::string("not started: ") + what + ": " + std::strerror(errno);
}

// The record as the hook reads it: from a file in memory, so the station never waits for a hook
// that does not read its input.
int RecordInput(const RunRecord& run) {
    const int fd = memfd_create("k350-hook-record", MFD_CLOEXEC);
    if (fd < 0) return -1;
    const std::string line = RunJsonLine(run) + "\n";
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        written += std::size_t(n);
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string ExitText(int status) {
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}

std::string LimitText(double seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "killed at the %g s limit", seconds);
    return text;
}

struct Spawned {
    pid_t pid = -1;
    std::string problem;
};

Spawned Spawn(const std::string& command, int input, int output,
              const std::vector<std::string>& environment) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // Its own process group, so the limit ends whatever it started; the signals k350ctl ignores
    // or catches are the defaults again, and none is blocked.
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
    sigemptyset(&none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> argv{const_cast<char*>("sh"), const_cast<char*>("-c"),
                            const_cast<char*>(command.c_str()), nullptr};
    std::vector<char*> envp;
    for (const std::string& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    Spawned spawned;
    const int error =
        posix_spawn(&spawned.pid, "/bin/sh", &actions, &attributes, argv.data(), envp.data());
    if (error != 0) {
        spawned.pid = -1;
        spawned.problem = std::string("not started: /bin/sh: ") + std::strerror(error);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return spawned;
}

void Keep(std::string& output, const char* bytes, std::size_t count) {
    const std::size_t room = kHookOutputLimit - std::min(kHookOutputLimit, output.size());
    output.append(bytes, std::min(room, count));
}

// The output as text the store takes: a NUL, or bytes that are not UTF-8 (a cut character at the
// limit, a program's Latin-1), become U+FFFD.
std::string AsText(const std::string& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        const std::size_t length = byte < 0x80           ? 1
                                   : (byte >> 5) == 0x6  ? 2
                                   : (byte >> 4) == 0xE  ? 3
                                   : (byte >> 3) == 0x1E ? 4
                                                         : 0;
        bool valid = length > 0 && byte != 0 && i + length <= bytes.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(bytes[i + k]) >> 6) == 0x2;
        }
        if (valid) {
            text.append(bytes, i, length);
            i += length;
        } else {
            text += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return text;
}

// The last line the hook printed, for the operator.
std::string LastLine(const std::string& output) {
    std::size_t end = output.find_last_not_of("\r\n");
    if (end == std::string::npos) return {};
    const std::size_t start = output.rfind('\n', end);
    return output.substr(start == std::string::npos ? 0 : start + 1,
                         end - (start == std::string::npos ? 0 : start + 1) + 1);
}

}  // namespace

void KillRunningHooks() {
    for (auto& slot : running) {
        const pid_t group = slot.load();
        if (group > 0) ::kill(-group, SIGKILL);
    }
}

std::vector<std::string> HookEnvironment(const RunRecord& run) {
    std::vector<std::string> environment;
    for (char** variable = environ; variable && *variable; ++variable) {
        const std::string text = *variable;
        if (text.starts_with(kWithheld)) continue;
        environment.push_back(text);
    }
    const std::pair<const char*, std::string> fields[] = {
        {"K350_RUN_ID", std::to_string(run.id)},
        {"K350_RESULT", run.result},
        {"K350_SERIAL", run.serial},
        {"K350_DIE_ID", run.dieId},
        {"K350_CHIP_ID", run.chipId},
        {"K350_STATION", run.station},
        {"K350_PORT", run.port},
        {"K350_RECIPE", run.recipe},
        {"K350_STARTED_AT", run.startedAt},
        {"K350_FINISHED_AT", run.finishedAt},
        {"K350_FAILED_STEP", run.failedStep},
        {"K350_ERROR", run.error},
        {"K350_IMAGE_SHA256", run.imageSha256},
        {"K350_CONFIG_SHA256", run.configSha256},
    };
    for (const auto& [name, value] : fields) {
        std::erase_if(environment, [&](const std::string& text) {
            return text.starts_with(std::string(name) + "=");
        });
        environment.push_back(std::string(name) + "=" + value);
    }
    return environment;
}

HookOutcome RunHook(const std::string& command, const RunRecord& run, double timeoutSeconds) {
    HookOutcome outcome;
    Descriptor input(RecordInput(run));
    if (input.get() < 0) {
        outcome.status = SystemError("the record");
        return outcome;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        outcome.status = SystemError("pipe");
        return outcome;
    }
    Descriptor reading(ends[0]), writing(ends[1]);
    const Spawned spawned = Spawn(command, input.get(), writing.get(), HookEnvironment(run));
    writing.reset();  // the hook holds the only writing end now
    if (spawned.pid < 0) {
        outcome.status = spawned.problem;
        return outcome;
    }
    const RunningHook registered(spawned.pid);
    const auto deadline =
        Steady::now() + std::chrono::milliseconds(std::int64_t(timeoutSeconds * 1000));
    bool open = true, exited = false, late = false;
    int status = 0;
    while (open || !exited) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) {
            late = true;
            break;
        }
        if (!exited && ::waitpid(spawned.pid, &status, WNOHANG) == spawned.pid) exited = true;
        if (!open) {
            // Output closed, the shell not gone yet: look again shortly.
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::min<long>(left.count(), 10)));
            continue;
        }
        pollfd watched{reading.get(), POLLIN, 0};
        const int ready = ::poll(&watched, 1, int(std::min<long>(left.count(), 50)));
        if (ready <= 0) continue;
        char buffer[4096];
        const ssize_t count = ::read(reading.get(), buffer, sizeof buffer);
        if (count > 0) {
            Keep(outcome.output, buffer, std::size_t(count));
        } else if (count == 0 || errno != EINTR) {
            open = false;
        }
    }
    if (late) {
        ::kill(-spawned.pid, SIGKILL);
        if (!exited) ::waitpid(spawned.pid, &status, 0);
        outcome.status =
            exited ? ExitText(status) + ", its other processes " + LimitText(timeoutSeconds)
                   : LimitText(timeoutSeconds);
        outcome.ok = false;
        outcome.output = AsText(outcome.output);
        return outcome;
    }
    outcome.status = ExitText(status);
    outcome.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    outcome.output = AsText(outcome.output);
    return outcome;
}

void RunBoardHook(const HookCommands& hooks, const RunRecord& run, RunStore& store,
                  const std::function<void(const char* state, const std::string& text)>& tell) {
    const bool passed = run.result == RunResult::Passed;
    const bool failed = run.result == RunResult::Failed || run.result == RunResult::Unusable;
    const std::string& command = passed ? hooks.onPass : failed ? hooks.onFail : std::string();
    if (command.empty()) return;
    const char* which = passed ? "on_pass" : "on_fail";
    const HookOutcome outcome = RunHook(command, run, hooks.timeoutSeconds);
    std::string text = std::string(which) + ": " + outcome.status;
    if (const std::string last = LastLine(outcome.output); !last.empty()) text += ": " + last;
    try {
        store.recordHook(run.id, which, outcome.status, outcome.output);
    } catch (const StoreError& error) {
        text += "; not recorded: " + std::string(error.what());
        tell("failed", text);
        return;
    }
    tell(outcome.ok ? "done" : "failed", text);
}
