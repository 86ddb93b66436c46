// A program a test starts that runs on while the test goes on, several at once: its output is
// collected as it comes (so a full pipe never holds it up), and it is killed if it still runs
// when destroyed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ProgramRun {
    int status = -1;      // exit status, -1 when killed or it died of a signal
    bool killed = false;  // still running at the limit
    std::string out;
    std::string err;
    double seconds = 0;
};

// Who the program runs as: the test's user, or, for a test run as root, the user nobody, so that
// the device nodes' modes count as they do for an operator.
enum class ProgramUser { Same, UnprivilegedWhenRoot };

class StartedProgram {
public:
    // `environment` adds to (or replaces in) this process's environment; files go to workDir.
    StartedProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::map<std::string, std::string>& environment,
                   const std::string& workDir, ProgramUser user = ProgramUser::Same);
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    pid_t pid() const { return pid_; }
    std::string out() const;
    std::string err() const;
    std::string output() const { return out() + err(); }  // both, for a test's messages
    bool ended() const;                                   // it has gone (its output has ended)
    // Waits until `ready` holds for the output so far, or the limit (a safety net) has passed.
    bool waitFor(const std::function<bool(const std::string& out, const std::string& err)>& ready,
                 std::chrono::seconds limit);
    // Waits until its output and error hold `text` `times` times between them.
    bool waitForText(const std::string& text, std::chrono::seconds limit, int times = 1);
    void signal(int number);
    void kill();  // SIGKILL, at once
    // Waits for its end; one still running at the limit is killed.
    ProgramRun finish(std::chrono::seconds limit);

private:
    void collect(int out, int err);

    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
    bool closed_ = false;  // both pipes ended: the program (and whatever it started) has gone
    bool finished_ = false;
    bool killed_ = false;
    std::thread collector_;
};
