// The firmware image a download may take, with one set of rules for `flash` and the station.
#pragma once

#include <string>

#include "config/FirmwareImage.h"

// Reads the image at path once, its size checked on the same open file before a byte is read:
// an empty image, or one the flash cannot hold whole, is never sent. Returns the refusal, without
// the "k350ctl: " prefix; empty when the image is in `image`.
std::string LoadFlashImage(const std::string& path, FirmwareImage& image);
