// The board's link statistics record as both faces read it: which of its seventeen big-endian
// words is which, how each is shown, and the numbers the derived forms show, free of any
// toolkit, so the statistics window, k350ctl and the station read the same values.
#pragma once

#include <cstddef>
#include <cstdint>

// The words of the 68-byte record, in record order.
namespace StatisticsWord {
constexpr int CollectionTime = 0;  // seconds the counters have run
constexpr int LinkPacketsSent = 1;
constexpr int LinkBytesSent = 2;
constexpr int LinkPacketsReceived = 3;
constexpr int LinkBytesReceived = 4;
constexpr int LinkPacketsErroneous = 5;
constexpr int LinkErroneousFraction = 6;
constexpr int AudioPacketsSent = 7;
constexpr int AudioBytesSent = 8;
constexpr int AudioPacketsBlocked = 9;
constexpr int AudioPacketsReceived = 10;
constexpr int AudioBytesReceived = 11;
constexpr int AudioPacketsLost = 12;
constexpr int AudioLostFraction = 13;
constexpr int AudioJitter = 14;
constexpr int ProcessorLoad = 15;
constexpr int SyncFrequency = 16;
constexpr int Count = 17;
}  // namespace StatisticsWord

namespace StatisticsRules {

// How a word is shown: as a signed number, a count, a percentage, milliseconds or a load.
enum class Form { Signed, Count, Percentage, Milliseconds, Load };
constexpr Form FormOf(int word) {
    switch (word) {
        case StatisticsWord::CollectionTime:
            return Form::Signed;
        case StatisticsWord::LinkErroneousFraction:
        case StatisticsWord::AudioLostFraction:
            return Form::Percentage;
        case StatisticsWord::AudioJitter:
            return Form::Milliseconds;
        case StatisticsWord::ProcessorLoad:
            return Form::Load;
        default:
            return Form::Count;
    }
}
// How many reply bytes carry the words up to and including `word`.
constexpr std::size_t BytesThrough(int word) {
    return std::size_t(4 * (word + 1));
}

// Decimals each derived form shows.
constexpr int kPercentageDecimals = 4;
constexpr int kMillisecondsDecimals = 4;
constexpr int kLoadDecimals = 2;

// A fraction in units of 2^-31 as a percentage, a time in units of 1/46875 s as
// milliseconds, and a count of 1/46875 parts as a processor load in percent; each
// already rounded to its significant digits and decimals, as shown.
double PercentageValue(std::uint32_t word);
double MillisecondsValue(std::uint32_t word);
double LoadValue(std::uint32_t word);

// Reads big-endian statistics word `index` of a 68-byte record.
std::uint32_t WordAt(const std::uint8_t* record, int index);

}  // namespace StatisticsRules
