#pragma once
#include <string>
#include <vector>

#include "config/ConfigImage.h"
#include "config/Crc.h"
struct FieldDescription {
    std::string name;   // stable dotted ASCII key, e.g. "codec.left_input_gain"
    std::string value;  // engineering units, "." decimal separator, UTF-8, e.g. "+1.5 dB"
};
// Every field of the record in record order, with the IDs, the stored CRC and whether it matches.
std::vector<FieldDescription> DescribeSnapshot(const ConfigSnapshot& snapshot, const TCrc& crc);
struct FieldDifference {
    std::string name, first, second;
};
// The fields whose described values differ, in record order.
std::vector<FieldDifference> DiffSnapshots(const ConfigSnapshot& a, const ConfigSnapshot& b,
                                           const TCrc& crc);
