#include "cli/StatisticsText.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kTicksPerSecond = 46875.0;
constexpr double kFractionUnit = 2147483648.0;  // 2^31

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

// Rounded to `significant` digits first, then shown with exactly `decimals` decimals, as the
// window shows it: never more precision than the value carries.
std::string fixed(double value, int significant, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", significant, value);
    std::snprintf(text, sizeof text, "%.*f", decimals, std::strtod(text, nullptr));
    return text;
}

std::uint32_t wordAt(const std::array<std::uint8_t, 68>& record, int index) {
    const std::uint8_t* bytes = record.data() + 4 * index;
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | bytes[3];
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
            const std::string number = fixed(value * 100.0 / kFractionUnit, 6, 4);
            return {word.name, number, number + " %"};
        }
        case Form::Milliseconds: {
            const std::string number = fixed(value * 1000.0 / kTicksPerSecond, 8, 4);
            return {word.name, number, number + " ms"};
        }
        default: {
            const std::string number = fixed(value * 100.0 / kTicksPerSecond, 4, 2);
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
        fields.push_back(carried ? describe(kWords[i], wordAt(record, i))
                                 : StatisticsField{kWords[i].name, "null", ""});
    }
    return fields;
}
