#include "tests/support/StartedProgram.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr uid_t kNobody = 65534;

// Ours, with the test's variables added or replaced.
std::vector<std::string> programEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
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

// Only async-signal-safe calls between fork and exec: another thread may hold any lock.
[[noreturn]] void execProgram(const char* program, char* const* argv, char* const* envp,
                              const char* workDir, ProgramUser user, int out, int err) {
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(workDir) != 0) _exit(126);
    // Root opens any node whatever its mode; the nodes' modes only count for another user.
    if (user == ProgramUser::UnprivilegedWhenRoot && getuid() == 0 &&
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

int occurrences(const std::string& text, const std::string& in) {
    int found = 0;
    for (auto at = in.find(text); at != std::string::npos; at = in.find(text, at + 1)) ++found;
    return found;
}

}  // namespace

StartedProgram::StartedProgram(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& environment,
                               const std::string& workDir, ProgramUser user)
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
    std::vector<std::string> variableTexts = programEnvironment(environment);
    const std::vector<char*> argv = pointers(argumentTexts);
    const std::vector<char*> envp = pointers(variableTexts);
    pid_ = fork();
    if (pid_ == 0)
        execProgram(program.c_str(), argv.data(), envp.data(), workDir.c_str(), user, out[1],
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

bool StartedProgram::waitForText(const std::string& text, std::chrono::seconds limit, int times) {
    return waitFor(
        [&](const std::string& out, const std::string& err) {
            return occurrences(text, out) + occurrences(text, err) >= times;
        },
        limit);
}

void StartedProgram::signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
}

void StartedProgram::kill() {
    signal(SIGKILL);
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
