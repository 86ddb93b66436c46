#include "cli/StatisticsText.h"

#include <cstdio>

#include "link/StatisticsRules.h"

namespace {

enum class Form { Plain, Count, Percentage, Milliseconds, Load };

struct Word {
    const char* name;
    Form form;
};

constexpr Word kWords[17] = {
    {"time_s", Form::Plain},
    {"link_packets_sent", Form::Count},
    {"link_bytes_sent", Form::Count},
    {"link_packets_received", Form::Count},
    {"link_bytes_received", Form::Count},
    {"link_packets_erroneous", Form::Count},
    {"link_erroneous_percent", Form::Percentage},
    {"audio_packets_sent", Form::Count},
    {"audio_bytes_sent", Form::Count},
    {"audio_packets_blocked", Form::Count},
    {"audio_packets_received", Form::Count},
    {"audio_bytes_received", Form::Count},
    {"audio_packets_lost", Form::Count},
    {"audio_lost_percent", Form::Percentage},
    {"audio_jitter_ms", Form::Milliseconds},
    {"cpu_load_percent", Form::Load},
    {"sync_frequency_hz", Form::Count},
};

// The shared rule's value, shown with exactly the window's decimals.
std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

StatisticsField describe(const Word& word, std::uint32_t value) {
    switch (word.form) {
        case Form::Plain: {
            const std::string number = std::to_string(std::int32_t(value));
            return {word.name, number, number};
        }
        case Form::Count: {
            const std::string number = std::to_string(value);
            return {word.name, number, number};
        }
        case Form::Percentage: {
            const std::string number = fixed(StatisticsRules::percentageValue(value),
                                             StatisticsRules::kPercentageDecimals);
            return {word.name, number, number + " %"};
        }
        case Form::Milliseconds: {
            const std::string number = fixed(StatisticsRules::millisecondsValue(value),
                                             StatisticsRules::kMillisecondsDecimals);
            return {word.name, number, number + " ms"};
        }
        default: {
            const std::string number =
                fixed(StatisticsRules::loadValue(value), StatisticsRules::kLoadDecimals);
            return {word.name, number, number};
        }
    }
}

}  // namespace

std::vector<StatisticsField> DescribeStatistics(const std::array<std::uint8_t, 68>& record,
                                                std::size_t received) {
    std::vector<StatisticsField> fields;
    for (int i = 0; i < 17; ++i) {
        const bool carried = received >= std::size_t(4 * (i + 1));
        fields.push_back(carried ? describe(kWords[i], StatisticsRules::wordAt(record.data(), i))
                                 : StatisticsField{kWords[i].name, "null", ""});
    }
    return fields;
}
