// Where k350ctl's output goes: data on standard output, messages on standard error, a progress
// bar on standard error only when that is a terminal. Safe from the workers' threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <ostream>
#include <string>

#include "store/StoreText.h"

class Clock;

// What one run of k350ctl is given by the process around it.
struct Environment {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;
    Clock& clock;
    std::function<const char*(const char*)> variable;  // getenv
    const std::atomic<bool>* interrupted = nullptr;    // set by Ctrl+C
    // The signal that set interrupted (SIGINT when not given); a hang-up counts as SIGTERM.
    const std::atomic<int>* stopSignal = nullptr;
    // Downloads under way, so that a signal handler can say what stopping now would leave.
    std::atomic<int>* downloads = nullptr;
    // Signals received so far, and whether the command answers a second one itself (the
    // station: it names what stopping leaves and records it) instead of the program ending.
    std::atomic<int>* receivedSignals = nullptr;
    std::atomic<bool>* answersSignals = nullptr;
};

// Exit statuses, as scripts test them.
namespace ExitStatus {
constexpr int Ok = 0;
constexpr int Failed = 1;  // the operation failed on a board; verify mismatch; files differ
constexpr int Usage = 2;   // bad arguments, refused access, ambiguous board choice
constexpr int NoBoard = 3;
constexpr int File = 4;         // a file that cannot be read or written, standard output included
constexpr int Unrecorded = 5;   // the station: a run kept neither in the store nor in a journal
constexpr int Signalled = 128;  // plus the signal's number: stopped early, or standard output gone
}  // namespace ExitStatus

class Console {
public:
    explicit Console(const Environment& environment) : env_(environment) {}

    void data(const std::string& line);     // one line on standard output
    void message(const std::string& line);  // one line on standard error
    void text(const std::string& block);    // a block that ends its own lines, on standard output
    void rawData(const std::uint8_t* bytes, std::size_t count);
    bool interrupted() const { return env_.interrupted && env_.interrupted->load(); }
    // How many stop signals came: 0, 1 (finish what is under way), 2 or more (stop now).
    int signalsReceived() const;
    // While it lives, a second signal is the command's to answer, not the end of the program.
    class SignalAnswer {
    public:
        explicit SignalAnswer(Console& console);
        ~SignalAnswer();
        SignalAnswer(const SignalAnswer&) = delete;
        SignalAnswer& operator=(const SignalAnswer&) = delete;

    private:
        std::atomic<bool>* answers_;
    };
    // Whether a command is to stop at its next step: interrupted, or nobody reads its output.
    bool stopped() const { return interrupted() || outputFailed(); }
    // The exit status of a command stopped by a signal before it did all it was asked.
    int stoppedStatus() const;
    const char* stopCause() const;  // "Ctrl+C" or "a termination signal"

    // Standard output could not take what was written; its errno, or 0 while it is fine.
    bool outputFailed() const { return outputErrno_.load() != 0; }
    int outputErrno() const { return outputErrno_.load(); }
    // Marks a download under way for as long as it lives.
    class Download {
    public:
        explicit Download(Console& console);
        ~Download();
        Download(const Download&) = delete;
        Download& operator=(const Download&) = delete;

    private:
        std::atomic<int>* downloads_;
    };
    Clock& clock() const { return env_.clock; }
    bool errIsTerminal() const { return env_.errIsTerminal; }
    const char* variable(const char* name) const {
        return env_.variable ? env_.variable(name) : nullptr;
    }

    // Progress of one board's transfer; drawn as one bar over all boards.
    void progress(const std::string& board, std::uint32_t done, std::uint32_t total);
    void endProgress();

private:
    void clearBarLocked();
    void checkOutputLocked();
    void drawBarLocked();

    const Environment& env_;
    std::mutex mutex_;
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> progress_;
    bool barShown_ = false;
    std::string lastBar_;
    std::atomic<int> outputErrno_{0};
};
