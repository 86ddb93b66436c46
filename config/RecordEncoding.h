// The way back from what `show` prints to the record's bytes: a field named as DescribeSnapshot
// names it takes a value written as it prints it, under the rules the settings windows apply.
// A value a window would not take is refused with what it would.
#pragma once

#include <string>
#include <vector>

#include "config/ConfigImage.h"
#include "config/Crc.h"

// Sets one field; on success returns empty and the snapshot holds the new value (its CRC word
// is left as it was: the caller refreshes it once all fields are set). Otherwise returns why,
// with the allowed values or range, and leaves the snapshot unchanged.
std::string SetRecordField(ConfigSnapshot& snapshot, const std::string& name,
                           const std::string& value, const TCrc& crc);

// The names SetRecordField accepts.
std::vector<std::string> SettableFieldNames();
