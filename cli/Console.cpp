#include "cli/Console.h"

#include <cstdio>

namespace {
constexpr int kBarWidth = 30;
}

void Console::data(const std::string& line) {
    std::lock_guard lock(mutex_);
    clearBarLocked();
    env_.out << line << '\n';
    env_.out.flush();
    drawBarLocked();
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
    env_.out.write(reinterpret_cast<const char*>(bytes), std::streamsize(count));
    env_.out.flush();
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
