// `k350ctl set FILE NAME=VALUE...`: the assignments, one a line, split as the command splits
// them, on a plausible record of either model. A refused value leaves the record as it was; a
// taken one is shown by `show` as a value that sets the very same bytes again.
#include <algorithm>
#include <sstream>

#include "config/RecordDescription.h"
#include "config/RecordEncoding.h"
#include "fuzz/FuzzSupport.h"
#include "sim/SimControl.h"

namespace {

ConfigSnapshot PlausibleRecord(std::uint8_t model) {
    ConfigSnapshot snapshot;
    const auto record = k350sim::plausibleConfiguration(model);
    std::copy(record.begin(), record.end(), snapshot.bytes.begin());
    return snapshot;
}

std::string Shown(const ConfigSnapshot& snapshot, const std::string& name, const TCrc& crc) {
    for (const FieldDescription& field : DescribeSnapshot(snapshot, crc)) {
        if (field.name == name) return field.value;
    }
    FUZZ_REQUIRE(false, "`show` names every field `set` takes");
    return {};
}

void Assign(ConfigSnapshot& snapshot, const std::string& assignment, const TCrc& crc) {
    const auto equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) return;  // refused before any field
    const std::string name = assignment.substr(0, equals);
    const ConfigSnapshot before = snapshot;
    const std::string refusal = SetRecordField(snapshot, name, assignment.substr(equals + 1), crc);
    if (!refusal.empty()) {
        FUZZ_REQUIRE(snapshot.bytes == before.bytes, "a refused value changes nothing");
        return;
    }
    ConfigSnapshot again = snapshot;
    const std::string shown = Shown(snapshot, name, crc);
    FUZZ_REQUIRE(SetRecordField(again, name, shown, crc).empty(), "what `show` prints is taken");
    FUZZ_REQUIRE(again.bytes == snapshot.bytes, "what `show` prints sets the same bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TCrc crc;
    if (size == 0) return 0;
    ConfigSnapshot snapshot = PlausibleRecord(data[0] % 2);
    std::istringstream lines(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    for (std::string line; std::getline(lines, line);) Assign(snapshot, line, crc);
    return 0;
}
