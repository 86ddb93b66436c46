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

// Creates or replaces the file and writes the 156 bytes as they are; the caller refreshes the CRC
// word first. A write that fails after the file was created (disk full, short write, failed close)
// is WriteFailed and the truncated regular file is removed: it could never be loaded again and
// its old contents were already gone when it was replaced.
SaveResult SaveConfigFile(const std::string& path, const ConfigSnapshot& snapshot);
