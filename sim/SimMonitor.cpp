// The board's link statistics and its trace of the serial streams.
#include <algorithm>

#include "sim/SimBoard.h"

namespace k350sim {

namespace {

constexpr uint64_t kFractionOne = uint64_t(1) << 31;
constexpr uint32_t kLoadTwentyPercent = 9375;  // 1/46875 parts
constexpr uint32_t kSyncFrequencyHz = 8000;
constexpr int64_t kMinGapUs = 50'000;
constexpr int64_t kMaxGapUs = 200'000;
constexpr uint16_t kBusTransmit = 1;
constexpr int64_t kBacklogUs = 60'000'000;

}  // namespace

std::array<uint32_t, kStatisticsWords> Statistics::at(int64_t nowUs) const {
    const uint64_t ms = uint64_t(std::max<int64_t>(0, nowUs - resetAtUs_)) / 1000;
    const uint64_t seconds = ms / 1000;
    const uint64_t linkSent = ms / 40;
    const uint64_t linkReceived = ms / 41;
    const uint64_t audioPackets = ms / 20;
    const uint64_t audioLost = audioPackets / 1500;
    const auto scaled = [](uint64_t word, double scale) {
        return scale == 1 ? word : uint64_t(double(word) * scale);
    };
    std::array<uint64_t, kStatisticsWords> words{
        seconds,
        linkSent,
        linkSent * 32 + linkSent / 3,
        linkReceived,
        linkReceived * 30 + linkReceived / 7,
        linkReceived / 997,
        scaled((seconds % 5 + 1) * kFractionOne / 2000, figures_.erroneousScale),
        audioPackets,
        audioPackets * 20,
        audioPackets / 4000,
        audioPackets - audioLost,
        (audioPackets - audioLost) * 20,
        audioLost,
        scaled((seconds % 3 + 1) * kFractionOne / 1500, figures_.lostScale),
        scaled(18 + seconds % 9, figures_.jitterScale),
        uint64_t(kLoadTwentyPercent - 200 + (seconds * 37) % 400 + figures_.loadOffset),
        uint64_t(kSyncFrequencyHz + figures_.syncOffsetHz),
    };
    std::array<uint32_t, kStatisticsWords> result{};
    std::transform(words.begin(), words.end(), result.begin(),
                   [](uint64_t w) { return uint32_t(w); });
    return result;
}

uint32_t TraceSource::random() {
    seed_ = seed_ * 1103515245u + 12345u;
    return seed_ >> 8;
}

int64_t TraceSource::nextGap() {
    return kMinGapUs + int64_t(random() % (kMaxGapUs - kMinGapUs + 1));
}

Bytes TraceSource::makeRecord(int stream) {
    Bytes record{0, uint8_t(stream)};
    if (stream == kBusTransmit) record.push_back(uint8_t(random()));  // frame tag, not traced data
    const size_t traced = 1 + random() % 8;
    for (size_t i = 0; i < traced; ++i) record.push_back(uint8_t(random()));
    return record;
}

void TraceSource::select(uint16_t mask, int64_t nowUs) {
    catchUp(nowUs);
    for (int stream = 0; stream < kStreams; ++stream) {
        const bool was = mask_ >> stream & 1;
        if ((mask >> stream & 1) && !was) nextUs_[stream] = nowUs + nextGap();
    }
    mask_ = mask;
}

void TraceSource::rebase(int64_t nowUs) {
    for (int stream = 0; stream < kStreams; ++stream) nextUs_[stream] = nowUs + nextGap();
}

// Makes the records due by now, oldest first, as the board would have collected them.
void TraceSource::catchUp(int64_t nowUs) {
    // A long silence only ever fills the buffer; skip what cannot be kept anyway.
    for (auto& next : nextUs_) next = std::max(next, nowUs - kBacklogUs);
    for (;;) {
        int due = -1;
        for (int stream = 0; stream < kStreams; ++stream) {
            if (!(mask_ >> stream & 1) || nextUs_[stream] > nowUs) continue;
            if (due < 0 || nextUs_[stream] < nextUs_[due]) due = stream;
        }
        if (due < 0) return;
        if (queue_.size() < kQueueLimit) queue_.push_back(makeRecord(due));
        nextUs_[due] += nextGap();
    }
}

std::optional<Bytes> TraceSource::pop(int64_t nowUs) {
    catchUp(nowUs);
    if (queue_.empty()) return std::nullopt;
    Bytes record = std::move(queue_.front());
    queue_.pop_front();
    return record;
}

}  // namespace k350sim
