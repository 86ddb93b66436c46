#include "station/HookProcess.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace {

// The keeper is forked from a station whose other threads may hold any lock: until it ends it
// calls only async-signal-safe functions, keeps its data in fixed arrays and never allocates.

// The keeper's descriptors: the hook's input and output on 0, 1 and 2, the socket to the station.
constexpr int kKeeperSocket = 3;

// What the keeper tells the station: one message of the socket each.
struct KeeperNote {
    std::int32_t kind;
    std::int32_t value;
};
enum : std::int32_t { kShellEnded = 1, kForkFailed = 2, kExecFailed = 3 };

// What the station tells the keeper: one byte.
constexpr char kLetGo = 'g', kKill = 'k';

// How long the station waits for the keeper to end before it kills the keeper itself.
constexpr int kKeeperEndMs = 5000;

void Tell(std::int32_t kind, std::int32_t value) {
    const KeeperNote note{kind, value};
    (void)!::send(kKeeperSocket, &note, sizeof note, MSG_NOSIGNAL);
}

// --- the processes below the keeper, from /proc ------------------------------------------------

constexpr int kMostProcesses = 16384;
pid_t gPids[kMostProcesses];  // ascending
pid_t gParents[kMostProcesses];
int gCount = 0;

pid_t ParseNumber(const char* text) {
    pid_t value = 0;
    if (*text < '0' || *text > '9') return 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + (*text - '0');
    return *text == '\0' || *text == ' ' ? value : 0;
}

// "/proc/<pid>/stat": "pid (name) state parent ..."; the name may hold any byte, ')' too.
pid_t ParentOf(const char* pidText) {
    char path[64] = "/proc/";
    std::size_t at = 6;
    for (const char* c = pidText; *c && at < sizeof path - 8; ++c) path[at++] = *c;
    std::memcpy(path + at, "/stat", 6);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    char stat[512];
    const ssize_t length = ::read(fd, stat, sizeof stat - 1);
    ::close(fd);
    if (length <= 0) return 0;
    stat[length] = '\0';
    const char* name = nullptr;  // its end
    for (const char* c = stat; *c; ++c) {
        if (*c == ')') name = c;
    }
    if (!name || name[1] != ' ' || name[2] == '\0' || name[3] != ' ') return 0;
    return ParseNumber(name + 4);
}

void AddProcess(pid_t pid, pid_t parent) {
    if (gCount == kMostProcesses) return;  // the next round finds the rest
    int at = gCount++;
    for (; at > 0 && gPids[at - 1] > pid; --at) {
        gPids[at] = gPids[at - 1];
        gParents[at] = gParents[at - 1];
    }
    gPids[at] = pid;
    gParents[at] = parent;
}

void ScanProcesses() {
    gCount = 0;
    const int proc = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (proc < 0) return;
    alignas(dirent64) char entries[8192];
    for (ssize_t length; (length = getdents64(proc, entries, sizeof entries)) > 0;) {
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            const pid_t pid = ParseNumber(entry->d_name);
            if (pid <= 0) continue;
            if (const pid_t parent = ParentOf(entry->d_name); parent > 0) AddProcess(pid, parent);
        }
    }
    ::close(proc);
}

pid_t ParentInTable(pid_t pid) {
    int low = 0, high = gCount;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (gPids[middle] < pid) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low < gCount && gPids[low] == pid ? gParents[low] : 0;
}

bool Below(pid_t parent, pid_t keeper) {
    for (int depth = 0; depth < 4096 && parent > 1; ++depth) {
        if (parent == keeper) return true;
        parent = ParentInTable(parent);
    }
    return false;
}

void KillEveryProcessBelow(pid_t keeper) {
    ScanProcesses();
    for (int i = 0; i < gCount; ++i) {
        if (Below(gParents[i], keeper)) ::kill(gPids[i], SIGKILL);
    }
}

// --- the keeper --------------------------------------------------------------------------------

// Reaps every child that ended; false once the keeper has none left.
bool ReapChildren(pid_t shell) {
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(-1, &status, WNOHANG);
        if (ended == shell) Tell(kShellEnded, status);
        if (ended > 0) continue;
        return ended == 0;
    }
}

// A process that dies hands its children to the keeper, and one may have started another just
// before it was killed: the rounds go on until the keeper has no child at all.
[[noreturn]] void KillTreeAndEnd(pid_t shell) {
    const pid_t keeper = ::getpid();
    for (;;) {
        KillEveryProcessBelow(keeper);
        if (!ReapChildren(shell)) ::_exit(0);
        const timespec pause{0, 2'000'000};
        ::nanosleep(&pause, nullptr);
    }
}

void CloseFrom(int first) {
    if (::close_range(unsigned(first), ~0U, 0) == 0) return;
    for (int fd = first; fd < 65536; ++fd) ::close(fd);
}

// Its descriptors at known numbers, whatever numbers the station had given them.
void ArrangeDescriptors(int input, int output, int socket) {
    const int in = ::fcntl(input, F_DUPFD, 10), out = ::fcntl(output, F_DUPFD, 10),
              to = ::fcntl(socket, F_DUPFD, 10);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    ::dup2(to, kKeeperSocket);
    CloseFrom(kKeeperSocket + 1);
}

[[noreturn]] void Shell(char* const* argv, char* const* envp, int signals, int report) {
    ::setpgid(0, 0);  // a Ctrl+C at the station's terminal is the station's, not the hook's
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
        ::sigaction(signal, &defaults, nullptr);
    }
    ::close(kKeeperSocket);
    ::close(signals);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve("/bin/sh", argv, envp);
    const int error = errno;
    (void)!::write(report, &error, sizeof error);
    ::_exit(127);
}

// Starts the shell; its pid, or -1 when it did not start (the station was told why).
pid_t StartShell(char* const* argv, char* const* envp, int signals) {
    int report[2];  // closed by the shell's execve, or given its error
    if (::pipe2(report, O_CLOEXEC) != 0) {
        Tell(kForkFailed, errno);
        return -1;
    }
    const pid_t shell = ::fork();
    if (shell == 0) Shell(argv, envp, signals, report[1]);
    const int forkError = errno;
    ::close(report[1]);
    // The keeper holds neither the hook's input nor its output: the output ends with the hook's.
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::close(fd);
    if (shell < 0) {
        Tell(kForkFailed, forkError);
        return -1;
    }
    int execError = 0;
    const bool failed = ::read(report[0], &execError, sizeof execError) == sizeof execError;
    ::close(report[0]);
    if (!failed) return shell;
    ::waitpid(shell, nullptr, 0);
    Tell(kExecFailed, execError);
    return -1;
}

[[noreturn]] void Keeper(int input, int output, int socket, char* const* argv, char* const* envp) {
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);  // the station's handlers never run here
    ArrangeDescriptors(input, output, socket);
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGCHLD);
    sigaddset(&watched, SIGTERM);
    const int signals = ::signalfd(-1, &watched, SFD_CLOEXEC | SFD_NONBLOCK);
    const pid_t shell = StartShell(argv, envp, signals);
    if (shell < 0) ::_exit(0);
    pollfd awaited[2] = {{signals, POLLIN, 0}, {kKeeperSocket, POLLIN, 0}};
    for (;;) {
        // Without its signal descriptor it looks at its children now and then instead.
        if (::poll(awaited, 2, signals < 0 ? 50 : -1) < 0) continue;
        bool terminate = false;
        signalfd_siginfo received;
        while (::read(signals, &received, sizeof received) == sizeof received) {
            terminate = terminate || received.ssi_signo == SIGTERM;
        }
        ReapChildren(shell);
        if (terminate) KillTreeAndEnd(shell);
        if (awaited[1].revents == 0) continue;
        char order = 0;
        // An order, or the station gone: anything but "let go" kills the hook.
        if (::recv(kKeeperSocket, &order, 1, 0) == 1 && order == kLetGo) ::_exit(0);
        KillTreeAndEnd(shell);
    }
}

std::string Problem(const char* what, int error) {
    return std::string("not started: ") + what + ": " + std::strerror(error);
}

}  // namespace

HookProcess::HookProcess(const std::string& command, int input, int output,
                         const std::vector<std::string>& environment) {
    std::vector<char*> argv{const_cast<char*>("sh"), const_cast<char*>("-c"),
                            const_cast<char*>(command.c_str()), nullptr};
    std::vector<char*> envp;
    for (const std::string& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        problem_ = Problem("socketpair", errno);
        return;
    }
    // No handler of the station's may run in the keeper before it blocks the signals itself.
    sigset_t all, before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    keeper_ = ::fork();
    if (keeper_ == 0) Keeper(input, output, ends[1], argv.data(), envp.data());
    const int error = errno;
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::close(ends[1]);
    socket_ = ends[0];
    if (keeper_ < 0) problem_ = Problem("fork", error);
}

HookProcess::~HookProcess() {
    if (keeper_ > 0) kill();
    if (socket_ >= 0) ::close(socket_);
}

HookProcess::Notice HookProcess::take() {
    KeeperNote note{};
    const ssize_t length = ::recv(socket_, &note, sizeof note, 0);
    if (length != sizeof note) return {Notice::KeeperGone};
    if (note.kind == kShellEnded) return {Notice::ShellEnded, note.value};
    return {Notice::NotStarted, 0,
            Problem(note.kind == kExecFailed ? "/bin/sh" : "fork", note.value)};
}

void HookProcess::letGo() {
    end(kLetGo);
}

void HookProcess::kill() {
    end(kKill);
}

void HookProcess::KillFromSignal(pid_t keeper) {
    if (keeper > 0) ::kill(keeper, SIGTERM);
}

// The keeper ends once it has done what it was told, which closes its socket. One that does not
// (a process it kills hangs in the kernel) is killed itself; what it kept goes to init.
void HookProcess::end(char order) {
    if (keeper_ <= 0) return;
    (void)!::send(socket_, &order, 1, MSG_NOSIGNAL);
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(kKeeperEndMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
        if (left.count() <= 0) {
            ::kill(keeper_, SIGKILL);
            break;
        }
        pollfd watched{socket_, POLLIN, 0};
        if (::poll(&watched, 1, int(left.count())) <= 0) continue;
        KeeperNote note;  // what it says meanwhile is of no use now
        const ssize_t length = ::recv(socket_, &note, sizeof note, MSG_DONTWAIT);
        if (length == 0 || (length < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
    ::waitpid(keeper_, nullptr, 0);
    keeper_ = -1;
}
