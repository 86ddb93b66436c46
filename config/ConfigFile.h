#pragma once

#include <string>

#include "config/ConfigImage.h"
#include "config/Crc.h"

// A configuration file (".kcf") is exactly one snapshot: 156 bytes, the CRC word first, no header.

enum class LoadResult { Ok, CannotOpen, WrongSize, ShortRead, BadCrc };

// Accepts only a regular file of exactly 156 bytes, all of them read, whose stored CRC word equals
// the CRC of its bytes 2..139. out is changed only on Ok.
LoadResult LoadConfigFile(const std::string& path, const TCrc& crc, ConfigSnapshot& out);

enum class SaveResult { Ok, CannotCreate, WriteFailed };

// Replaces the file with the 156 bytes as they are, through WriteFileAtomically: on any failure
// the old file is kept as it was. The caller refreshes the CRC word first. Ok only once the bytes
// are on disk.
SaveResult SaveConfigFile(const std::string& path, const ConfigSnapshot& snapshot);
