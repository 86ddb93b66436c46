// The one verify of a download, for flash --verify and the station: the programmed range read
// back and compared with the image. Each caller words the outcome for its own users.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class BoardSession;

struct FlashComparison {
    std::string readFailure;  // why the flash could not be read back; empty when it was
    std::optional<std::uint32_t> firstDifference;
    std::uint8_t imageByte = 0;
    std::uint8_t flashByte = 0;
    bool matches() const { return readFailure.empty() && !firstDifference; }
};

// Reads back what the download programmed of `image` (nothing beyond the flash's limit).
FlashComparison CompareFlash(BoardSession& session, const std::vector<std::uint8_t>& image);
