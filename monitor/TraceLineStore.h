// The text behind the trace window's log: the last lines of the trace as compact UTF-8, at most
// a given number of them. When more arrive the oldest go first, and a row at the top says how
// many went, so a trace left running all night holds bounded memory.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "link/LinkTypes.h"

class TraceLineStore {
public:
    static constexpr std::size_t kDefaultLineLimit = 1'000'000;

    explicit TraceLineStore(std::size_t lineLimit = kDefaultLineLimit);

    // Appends the lines in order; returns how many rows the top lost, by which every row
    // that stays moved up.
    std::size_t append(const TraceLines& lines);
    // The rows held now that appending this many lines would remove, the row about dropped
    // lines included (a new one takes its place).
    std::size_t rowsLeavingWith(std::size_t appended) const;
    // Keeps at most this many lines (at least one); returns the rows the top lost.
    std::size_t setLineLimit(std::size_t lineLimit);
    std::size_t lineLimit() const { return lineLimit_; }
    std::size_t droppedLines() const { return dropped_; }

    // Rows as shown: the row about dropped lines (once there are any), then the lines.
    std::size_t rowCount() const { return noticeRows() + lines_.size(); }
    std::string_view row(std::size_t index) const;
    std::uint32_t rowCharacters(std::size_t index) const;  // UTF-16 units, as QString counts
    // The whole text as rows joined by line breaks, each row's break included, in characters.
    std::uint64_t rowStart(std::size_t index) const;
    std::uint64_t characterCount() const;
    // The row holding this character offset (its line break included); rowCount() past the end.
    std::size_t rowAtCharacter(std::uint64_t offset) const;
    std::size_t textBytes() const { return textBytes_ + notice_.size(); }
    std::size_t longestRow() const { return longestRow_; }  // characters, of any row ever held

private:
    struct LineRef {
        std::uint32_t chunk;  // counted from the first chunk ever made
        std::uint32_t offset;
        std::uint32_t length;
        std::uint32_t characters;
        std::uint64_t textStart;  // characters before the line since the store began
    };
    // Text goes into chunks of fixed capacity and the index into a deque, so appending never
    // moves what is stored, and a chunk whose lines have all gone is freed whole.
    static constexpr std::size_t kChunkBytes = 1 << 20;

    std::size_t noticeRows() const { return dropped_ > 0 ? 1 : 0; }
    std::uint64_t noticeLength() const;  // the notice row with its break, in characters
    void store(const std::string& line);
    std::size_t dropOldest();
    const LineRef& lineOfRow(std::size_t index) const { return lines_[index - noticeRows()]; }

    std::deque<std::string> chunks_;
    std::uint32_t firstChunk_ = 0;
    std::deque<LineRef> lines_;
    std::uint64_t storedCharacters_ = 0;  // every line ever stored, breaks included
    std::size_t textBytes_ = 0;           // of the lines held
    std::size_t longestRow_ = 0;
    std::size_t lineLimit_;
    std::size_t dropped_ = 0;
    std::string notice_;
    std::uint32_t noticeCharacters_ = 0;
};
