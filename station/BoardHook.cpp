#include "station/BoardHook.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>

#include "station/HookProcess.h"
#include "store/RunJson.h"
#include "store/StoreText.h"

extern char** environ;

namespace {

using Steady = std::chrono::steady_clock;

// Never handed on: the board's access code, and every libpq variable (PGPASSWORD, PGPASSFILE,
// PGSERVICE, PGSERVICEFILE and the ones that name a key or a server): a hook has no business with
// the store's credentials, and whatever it prints is kept in the store and shown.
bool Withheld(const std::string& variable) {
    return variable.starts_with("K350_SERVICE_CODE=") || variable.starts_with("PG");
}

// The keepers of the hooks running now, one slot each; 0 is a free slot.
std::array<std::atomic<pid_t>, 64> running{};

// Keeps a hook's keeper in `running` while it lives.
class RunningHook {
public:
    explicit RunningHook(pid_t keeper) {
        for (auto& slot : running) {
            pid_t free = 0;
            if (slot.compare_exchange_strong(free, keeper)) {
                slot_ = &slot;
                break;
            }
        }
    }
    ~RunningHook() { release(); }
    RunningHook(const RunningHook&) = delete;
    RunningHook& operator=(const RunningHook&) = delete;
    // Before the keeper is waited for: its number may be another process's after that.
    void release() {
        if (slot_) slot_->store(0);
        slot_ = nullptr;
    }

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

// What a hook printed: its first and its last kHookOutputPart bytes, and how many between them
// were left out. The last line is most often the error that matters.
class KeptOutput {
public:
    void add(const char* bytes, std::size_t count) {
        const std::size_t toHead =
            std::min(count, kHookOutputPart - std::min(kHookOutputPart, head_.size()));
        head_.append(bytes, toHead);
        tail_.append(bytes + toHead, count - toHead);
        if (tail_.size() > 2 * kHookOutputPart) {
            leftOut_ += tail_.size() - kHookOutputPart;
            tail_.erase(0, tail_.size() - kHookOutputPart);
        }
    }
    std::string bytes() {
        if (tail_.size() > kHookOutputPart) {
            leftOut_ += tail_.size() - kHookOutputPart;
            tail_.erase(0, tail_.size() - kHookOutputPart);
        }
        if (leftOut_ == 0) return head_ + tail_;
        // A character cut at either border is left out whole.
        std::size_t cut = 0;
        while (cut < 3 && cut < tail_.size() && isContinuation(tail_[cut])) ++cut;
        tail_.erase(0, cut);
        leftOut_ += cut + dropCutCharacter(head_);
        return head_ + (head_.ends_with('\n') ? "" : "\n") + "[" + std::to_string(leftOut_) +
               " bytes left out]\n" + tail_;
    }

private:
    static bool isContinuation(char byte) {
        return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
    }
    // Removes a UTF-8 character whose end was cut off; the bytes removed.
    static std::size_t dropCutCharacter(std::string& text) {
        std::size_t start = text.size();
        while (start > 0 && text.size() - start < 3 && isContinuation(text[start - 1])) --start;
        if (start == 0) return 0;
        const auto lead = static_cast<unsigned char>(text[start - 1]);
        const std::size_t length = (lead >> 5) == 0x6    ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 1;
        const std::size_t have = text.size() - (start - 1);
        if (length <= have) return 0;
        text.erase(start - 1);
        return have;
    }

    std::string head_, tail_;
    std::size_t leftOut_ = 0;
};

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
    for (auto& slot : running) HookProcess::KillFromSignal(slot.load());
}

const std::string& HookFor(const HookCommands& hooks, const std::string& result) {
    static const std::string none;
    if (result == RunResult::Passed) return hooks.onPass;
    if (result == RunResult::Failed || result == RunResult::Unusable) return hooks.onFail;
    return none;
}

std::vector<std::string> HookEnvironment(const RunRecord& run) {
    std::vector<std::string> environment;
    for (char** variable = environ; variable && *variable; ++variable) {
        const std::string text = *variable;
        if (Withheld(text)) continue;
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
        {"K350_RECIPE_SHA256", run.recipeSha256},
        {"K350_PROGRAM_VERSION", run.programVersion},
        {"K350_OPERATOR", run.operatorName},
        {"K350_LOT", run.lot},
    };
    for (const auto& [name, value] : fields) {
        const std::string prefix = std::string(name) + "=";  // clang 14 captures no binding
        std::erase_if(environment,
                      [&prefix](const std::string& text) { return text.starts_with(prefix); });
        environment.push_back(prefix + value);
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
    HookProcess hook(command, input.get(), writing.get(), HookEnvironment(run));
    writing.reset();  // the hook holds the only writing end now
    if (!hook.problem().empty()) {
        outcome.status = hook.problem();
        return outcome;
    }
    RunningHook registered(hook.keeper());
    const auto deadline =
        Steady::now() + std::chrono::milliseconds(std::int64_t(timeoutSeconds * 1000));
    KeptOutput output;
    bool open = true, ended = false, late = false;
    int status = -1;
    while (open || !ended) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) {
            late = true;
            break;
        }
        pollfd watched[2] = {{open ? reading.get() : -1, POLLIN, 0},
                             {ended ? -1 : hook.notices(), POLLIN, 0}};
        if (::poll(watched, 2, int(std::min<long>(left.count(), 1000))) <= 0) continue;
        if (watched[0].revents != 0) {
            char buffer[4096];
            const ssize_t count = ::read(reading.get(), buffer, sizeof buffer);
            if (count > 0) {
                output.add(buffer, std::size_t(count));
            } else if (count == 0 || errno != EINTR) {
                open = false;
            }
        }
        if (watched[1].revents == 0) continue;
        const HookProcess::Notice notice = hook.take();
        if (notice.kind == HookProcess::Notice::NotStarted) {
            outcome.status = notice.problem;
            return outcome;
        }
        ended = true;
        if (notice.kind == HookProcess::Notice::ShellEnded) status = notice.status;
    }
    registered.release();
    outcome.output = StorableText(output.bytes());
    if (late) {
        hook.kill();
        outcome.status =
            ended ? ExitText(status) + ", its other processes " + LimitText(timeoutSeconds)
                  : LimitText(timeoutSeconds);
        return outcome;
    }
    hook.letGo();
    outcome.status = ExitText(status);
    outcome.ok = status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return outcome;
}

void RunBoardHook(const HookCommands& hooks, const RunRecord& run, const HookRecorder& record,
                  const std::function<void(const char* state, const std::string& text)>& tell) {
    const std::string& command = HookFor(hooks, run.result);
    if (command.empty()) return;
    const char* which = run.result == RunResult::Passed ? "on_pass" : "on_fail";
    const HookOutcome outcome = RunHook(command, run, hooks.timeoutSeconds);
    std::string text = std::string(which) + ": " + outcome.status;
    if (const std::string last = LastLine(outcome.output); !last.empty()) text += ": " + last;
    if (const std::string note = record(which, outcome); !note.empty()) text += "; " + note;
    tell(outcome.ok ? "done" : "failed", text);
}
