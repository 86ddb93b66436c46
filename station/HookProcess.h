// A hook's processes, whatever they do. /bin/sh -c runs under a keeper process of its own that is
// a child subreaper (PR_SET_CHILD_SUBREAPER): every process the hook starts stays below the
// keeper, even one that leaves its parent, its process group or its session (setsid). Killing the
// hook kills every process below the keeper, found in /proc by their parents, round after round
// until none is left: no cgroup is needed. The keeper kills when told, when sent SIGTERM, and when
// the station is gone (its socket closed), so no hook outlives the station.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class HookProcess {
public:
    // Starts `command` reading `input`, with both outputs on `output`, in a process group of its
    // own, the signals k350ctl ignores or catches at their defaults and none blocked.
    HookProcess(const std::string& command, int input, int output,
                const std::vector<std::string>& environment);
    // Kills what is left, as kill() does, unless it was let go.
    ~HookProcess();
    HookProcess(const HookProcess&) = delete;
    HookProcess& operator=(const HookProcess&) = delete;

    // Why it did not start ("not started: ..."); empty when it runs.
    const std::string& problem() const { return problem_; }
    pid_t keeper() const { return keeper_; }
    // Readable when the keeper has news: take() it.
    int notices() const { return socket_; }

    struct Notice {
        enum Kind { ShellEnded, NotStarted, KeeperGone } kind;
        int status = 0;         // ShellEnded: the shell's wait status
        std::string problem{};  // NotStarted: why
    };
    Notice take();

    // The shell ended by itself: anything it left running in the background is left to itself,
    // as a shell's background job is.
    void letGo();
    // Kills every process of the hook and waits (a bounded time) until they are gone.
    void kill();

    // Has the keeper kill the hook's processes; safe in a signal handler.
    static void KillFromSignal(pid_t keeper);

private:
    void end(char order);

    pid_t keeper_ = -1;
    int socket_ = -1;
    std::string problem_;
};
