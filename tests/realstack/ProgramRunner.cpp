#include "tests/realstack/ProgramRunner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

constexpr uid_t kNobody = 65534;

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The sanitizer runtime must come first in a sanitized program; umockdev's preload comes first
// here, which works as long as the runtime does not insist.
std::string sanitizerOptions() {
    std::string options = environmentValue("ASAN_OPTIONS");
    return (options.empty() ? "" : options + ":") + "verify_asan_link_order=0";
}

// The environment of the program: ours, with umockdev's preload and the test's variables.
std::vector<std::string> programEnvironment(const std::map<std::string, std::string>& extra,
                                            const std::string& workDir) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    variables["LD_PRELOAD"] = "libumockdev-preload.so.0";
    variables["ASAN_OPTIONS"] = sanitizerOptions();
    variables["QT_QPA_PLATFORM"] = "offscreen";
    if (getuid() == 0) variables["HOME"] = workDir;
    for (const auto& [name, value] : extra) variables[name] = value;
    std::vector<std::string> list;
    for (const auto& [name, value] : variables) list.push_back(name + "=" + value);
    return list;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (auto& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

// Only async-signal-safe calls between fork and exec: the umockdev thread may hold any lock.
[[noreturn]] void execUnderTestbed(const char* program, char* const* argv, char* const* envp,
                                   const char* workDir, int out, int err) {
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(workDir) != 0) _exit(126);
    // Root opens any node whatever its mode; the nodes' modes only count for another user.
    if (getuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
        _exit(125);
    }
    execve(program, argv, envp);
    _exit(127);
}

bool drain(int fd, std::string& into) {
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) into.append(buffer, size_t(count));
    return count > 0 || (count < 0 && errno == EINTR);
}

}  // namespace

StartedProgram::StartedProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment,
                               const std::string& workDir)
    : start_(std::chrono::steady_clock::now()) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> variableTexts = programEnvironment(environment, workDir);
    const std::vector<char*> argv = pointers(argumentTexts);
    const std::vector<char*> envp = pointers(variableTexts);
    pid_ = fork();
    if (pid_ == 0)
        execUnderTestbed(program.c_str(), argv.data(), envp.data(), workDir.c_str(), out[1],
                         err[1]);
    close(out[1]);
    close(err[1]);
    if (pid_ < 0) {
        close(out[0]);
        close(err[0]);
        return;
    }
    collector_ = std::thread(&StartedProgram::collect, this, out[0], err[0]);
}

StartedProgram::~StartedProgram() {
    if (!finished_) finish(std::chrono::seconds(0));
}

void StartedProgram::collect(int out, int err) {
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{out, short(outOpen ? POLLIN : 0), 0},
                         {err, short(errOpen ? POLLIN : 0), 0}};
        if (poll(fds, 2, 200) < 0 && errno != EINTR) break;
        std::lock_guard lock(mutex_);
        if (fds[0].revents) outOpen = drain(out, out_);
        if (fds[1].revents) errOpen = drain(err, err_);
        if (finished_) break;  // given up on: killed, and something else holds its pipes
        changed_.notify_all();
    }
    close(out);
    close(err);
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

std::string StartedProgram::out() const {
    std::lock_guard lock(mutex_);
    return out_;
}

bool StartedProgram::ended() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

std::string StartedProgram::err() const {
    std::lock_guard lock(mutex_);
    return err_;
}

bool StartedProgram::waitFor(
    const std::function<bool(const std::string& out, const std::string& err)>& ready,
    std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return ready(out_, err_) || closed_; }) &&
           ready(out_, err_);
}

void StartedProgram::kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);  // the preload may hold off every other signal
}

ProgramRun StartedProgram::finish(std::chrono::seconds limit) {
    ProgramRun result;
    if (pid_ <= 0 || finished_) return result;
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, limit, [&] { return closed_; })) {
            killed_ = true;
            ::kill(pid_, SIGKILL);
            changed_.wait_for(lock, std::chrono::seconds(5), [&] { return closed_; });
        }
        finished_ = true;
    }
    collector_.join();
    int status = 0;
    waitpid(pid_, &status, 0);
    std::lock_guard lock(mutex_);
    result.killed = killed_;
    result.out = out_;
    result.err = err_;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      const std::string& workDir, std::chrono::seconds limit) {
    return StartedProgram(program, arguments, environment, workDir).finish(limit);
}
