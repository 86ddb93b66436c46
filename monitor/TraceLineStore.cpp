#include "monitor/TraceLineStore.h"

#include <algorithm>

namespace {
// UTF-16 units of UTF-8 text: one per sequence, two for those beyond 16 bits.
std::uint32_t utf16Length(std::string_view bytes) {
    std::uint32_t units = 0;
    for (unsigned char byte : bytes) {
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units;
}

std::string noticeText(std::size_t dropped, std::size_t limit) {
    return "Удалено старых строк: " + std::to_string(dropped) + " (журнал хранит последние " +
           std::to_string(limit) + ")";
}
}  // namespace

TraceLineStore::TraceLineStore(std::size_t lineLimit)
    : lineLimit_(std::max<std::size_t>(1, lineLimit)) {}

std::size_t TraceLineStore::append(const TraceLines& lines) {
    for (const std::string& line : lines) store(line);
    return dropOldest();
}

std::size_t TraceLineStore::rowsLeavingWith(std::size_t appended) const {
    const std::size_t total = lines_.size() + appended;
    if (total <= lineLimit_) return 0;
    return std::min(rowCount(), noticeRows() + (total - lineLimit_));
}

std::size_t TraceLineStore::setLineLimit(std::size_t lineLimit) {
    lineLimit_ = std::max<std::size_t>(1, lineLimit);
    return dropOldest();
}

void TraceLineStore::store(const std::string& line) {
    // A line longer than a chunk (never made by the worker) is cut to one.
    const std::size_t length = std::min(line.size(), kChunkBytes);
    if (chunks_.empty() || chunks_.back().size() + length > kChunkBytes) {
        chunks_.emplace_back().reserve(kChunkBytes);
    }
    std::string& chunk = chunks_.back();
    const std::uint32_t characters = utf16Length(std::string_view(line).substr(0, length));
    lines_.push_back({static_cast<std::uint32_t>(firstChunk_ + chunks_.size() - 1),
                      static_cast<std::uint32_t>(chunk.size()), static_cast<std::uint32_t>(length),
                      characters, storedCharacters_});
    chunk.append(line, 0, length);
    textBytes_ += length;
    storedCharacters_ += characters + 1;
    longestRow_ = std::max<std::size_t>(longestRow_, characters);
}

std::size_t TraceLineStore::dropOldest() {
    if (lines_.size() <= lineLimit_) return 0;
    const std::size_t rowsBefore = rowCount();
    const std::size_t excess = lines_.size() - lineLimit_;
    for (std::size_t i = 0; i < excess; ++i) {
        textBytes_ -= lines_.front().length;
        lines_.pop_front();
    }
    while (firstChunk_ < lines_.front().chunk) {
        chunks_.pop_front();
        ++firstChunk_;
    }
    dropped_ += excess;
    notice_ = noticeText(dropped_, lineLimit_);
    noticeCharacters_ = utf16Length(notice_);
    longestRow_ = std::max<std::size_t>(longestRow_, noticeCharacters_);
    return rowsBefore - rowCount();
}

std::uint64_t TraceLineStore::noticeLength() const {
    return dropped_ > 0 ? noticeCharacters_ + 1 : 0;
}

std::string_view TraceLineStore::row(std::size_t index) const {
    if (index >= rowCount()) return {};
    if (index < noticeRows()) return notice_;
    const LineRef& ref = lineOfRow(index);
    return std::string_view(chunks_[ref.chunk - firstChunk_]).substr(ref.offset, ref.length);
}

std::uint32_t TraceLineStore::rowCharacters(std::size_t index) const {
    if (index >= rowCount()) return 0;
    return index < noticeRows() ? noticeCharacters_ : lineOfRow(index).characters;
}

std::uint64_t TraceLineStore::rowStart(std::size_t index) const {
    if (index >= rowCount()) return characterCount();
    if (index < noticeRows()) return 0;
    return lineOfRow(index).textStart - lines_.front().textStart + noticeLength();
}

std::uint64_t TraceLineStore::characterCount() const {
    const std::uint64_t firstStart = lines_.empty() ? storedCharacters_ : lines_.front().textStart;
    return storedCharacters_ - firstStart + noticeLength();
}

std::size_t TraceLineStore::rowAtCharacter(std::uint64_t offset) const {
    if (offset >= characterCount()) return rowCount();
    if (offset < noticeLength()) return 0;
    const std::uint64_t absolute = offset - noticeLength() + lines_.front().textStart;
    const auto after = std::upper_bound(
        lines_.begin(), lines_.end(), absolute,
        [](std::uint64_t value, const LineRef& ref) { return value < ref.textStart; });
    return noticeRows() + std::size_t(after - lines_.begin()) - 1;
}
