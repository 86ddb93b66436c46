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
        if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
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
    if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 ||
                          setuid(kNobody) != 0)) {
        _exit(125);
    }
    execve(program, argv, envp);
    _exit(127);
}

void drain(int fd, std::string& into, bool& open) {
    char buffer[4096];
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
        into.append(buffer, size_t(count));
    } else if (count == 0 || errno != EINTR) {
        open = false;
    }
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      const std::string& workDir, std::chrono::seconds limit) {
    ProgramRun result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return result;
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> variableTexts = programEnvironment(environment, workDir);
    const std::vector<char*> argv = pointers(argumentTexts);
    const std::vector<char*> envp = pointers(variableTexts);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) execUnderTestbed(program.c_str(), argv.data(), envp.data(), workDir.c_str(), out[1], err[1]);
    close(out[1]);
    close(err[1]);
    bool outOpen = true, errOpen = true;
    const auto deadline = start + limit;
    while (outOpen || errOpen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);  // the preload may hold off every other signal
            result.killed = true;
            break;
        }
        pollfd fds[2] = {{out[0], short(outOpen ? POLLIN : 0), 0},
                         {err[0], short(errOpen ? POLLIN : 0), 0}};
        if (poll(fds, 2, int(std::min<long>(left.count(), 200))) < 0 && errno != EINTR) break;
        if (fds[0].revents) drain(out[0], result.out, outOpen);
        if (fds[1].revents) drain(err[0], result.err, errOpen);
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
