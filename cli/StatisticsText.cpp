#include "cli/StatisticsText.h"

#include <cstdio>

#include "link/StatisticsRules.h"

namespace {

using StatisticsRules::Form;

// The JSON name of each word, in word order; how each is shown is the core's.
constexpr const char* kWordNames[StatisticsWord::Count] = {
    "time_s",
    "link_packets_sent",
    "link_bytes_sent",
    "link_packets_received",
    "link_bytes_received",
    "link_packets_erroneous",
    "link_erroneous_percent",
    "audio_packets_sent",
    "audio_bytes_sent",
    "audio_packets_blocked",
    "audio_packets_received",
    "audio_bytes_received",
    "audio_packets_lost",
    "audio_lost_percent",
    "audio_jitter_ms",
    "cpu_load_percent",
    "sync_frequency_hz",
};

// The shared rule's value, shown with exactly the window's decimals.
std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

StatisticsField describe(int index, std::uint32_t value) {
    const char* name = kWordNames[index];
    switch (StatisticsRules::FormOf(index)) {
        case Form::Signed: {
            const std::string number = std::to_string(std::int32_t(value));
            return {name, number, number};
        }
        case Form::Count: {
            const std::string number = std::to_string(value);
            return {name, number, number};
        }
        case Form::Percentage: {
            const std::string number = fixed(StatisticsRules::PercentageValue(value),
                                             StatisticsRules::kPercentageDecimals);
            return {name, number, number + " %"};
        }
        case Form::Milliseconds: {
            const std::string number = fixed(StatisticsRules::MillisecondsValue(value),
                                             StatisticsRules::kMillisecondsDecimals);
            return {name, number, number + " ms"};
        }
        default: {
            const std::string number =
                fixed(StatisticsRules::LoadValue(value), StatisticsRules::kLoadDecimals);
            return {name, number, number};
        }
    }
}

}  // namespace

std::vector<StatisticsField> DescribeStatistics(const std::array<std::uint8_t, 68>& record,
                                                std::size_t received) {
    std::vector<StatisticsField> fields;
    for (int i = 0; i < StatisticsWord::Count; ++i) {
        const bool carried = received >= StatisticsRules::BytesThrough(i);
        fields.push_back(carried ? describe(i, StatisticsRules::WordAt(record.data(), i))
                                 : StatisticsField{kWordNames[i], "null", ""});
    }
    return fields;
}
