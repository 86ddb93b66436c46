#pragma once

#include <optional>
#include <string_view>

#include "config/ServiceLevel.h"

// The two fixed service codes: the whole text, exact in every character and its case.
inline constexpr std::string_view kServiceCode = "Lamp_Harbour";
inline constexpr std::string_view kFullServiceCode = "R482_Deep_Lantern";

// The level a code grants; none for any other text, the empty text included.
inline std::optional<ServiceLevel> ServiceLevelForCode(std::string_view code) {
    if (code == kServiceCode) return ServiceLevel::Service;
    if (code == kFullServiceCode) return ServiceLevel::FullService;
    return std::nullopt;
}
