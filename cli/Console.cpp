#include "cli/Console.h"

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace {
constexpr int kBarWidth = 30;
}  // namespace

void Console::data(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (outputFailed()) return;
    clearBarLocked();
    errno = 0;
    env_.out << line << '\n';
    env_.out.flush();
    checkOutputLocked();
    drawBarLocked();
}

// Output that could not be written is a failure, never silently dropped: the first error is kept
// and nothing more is written after it.
void Console::checkOutputLocked() {
    if (env_.out.good() || outputFailed()) return;
    outputErrno_ = errno != 0 ? errno : EIO;
}

int Console::stoppedStatus() const {
    const int signal =
        env_.stopSignal && env_.stopSignal->load() ? env_.stopSignal->load() : SIGINT;
    return ExitStatus::Signalled + signal;
}

const char* Console::stopCause() const {
    return stoppedStatus() == ExitStatus::Signalled + SIGINT ? "Ctrl+C" : "a termination signal";
}

int Console::signalsReceived() const {
    if (env_.receivedSignals) return env_.receivedSignals->load();
    return interrupted() ? 1 : 0;
}

Console::SignalAnswer::SignalAnswer(Console& console) : answers_(console.env_.answersSignals) {
    if (answers_) answers_->store(true);
}

Console::SignalAnswer::~SignalAnswer() {
    if (answers_) answers_->store(false);
}

Console::Download::Download(Console& console) : downloads_(console.env_.downloads) {
    if (downloads_) ++*downloads_;
}

Console::Download::~Download() {
    if (downloads_) --*downloads_;
}

void Console::text(const std::string& block) {
    rawData(reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
}

void Console::message(const std::string& line) {
    std::lock_guard lock(mutex_);
    clearBarLocked();
    env_.err << line << '\n';
    env_.err.flush();
    drawBarLocked();
}

void Console::rawData(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard lock(mutex_);
    if (outputFailed()) return;
    errno = 0;
    env_.out.write(reinterpret_cast<const char*>(bytes), std::streamsize(count));
    env_.out.flush();
    checkOutputLocked();
}

void Console::progress(const std::string& board, std::uint32_t done, std::uint32_t total) {
    if (!env_.errIsTerminal) return;
    std::lock_guard lock(mutex_);
    progress_[board] = {done, total};
    drawBarLocked();
}

void Console::endProgress() {
    std::lock_guard lock(mutex_);
    clearBarLocked();
    progress_.clear();
}

void Console::clearBarLocked() {
    if (!barShown_) return;
    env_.err << "\r\033[K";
    barShown_ = false;
}

void Console::drawBarLocked() {
    if (!env_.errIsTerminal || progress_.empty()) return;
    std::uint64_t done = 0, total = 0;
    for (const auto& [board, figures] : progress_) {
        done += figures.first;
        total += figures.second;
    }
    const int filled = total ? int(done * kBarWidth / total) : kBarWidth;
    const int percent = total ? int(done * 100 / total) : 100;
    std::string bar(std::size_t(filled), '#');
    bar.resize(kBarWidth, '-');
    char text[96];
    std::snprintf(text, sizeof text, "\r[%s] %3d%%  %zu board%s", bar.c_str(), percent,
                  progress_.size(), progress_.size() == 1 ? "" : "s");
    // Redrawn only when it changes: a download sends hundreds of progress notifications.
    if (barShown_ && lastBar_ == text) return;
    clearBarLocked();
    env_.err << text;
    env_.err.flush();
    lastBar_ = text;
    barShown_ = true;
}
