// The board's replies as the link takes them: a simulated board whose every reply the input
// shapes (left as the board made it, replaced whole, its header kept and the rest replaced, cut,
// lost, or an error of the transfer) while k350ctl's session probes it (size and identification)
// and reads its configuration, statistics and trace records. Whatever it answers, the link ends
// each operation with a result, within bounded (virtual) time.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>

#include "fuzz/FuzzSupport.h"
#include "link/BoardSession.h"
#include "link/UsbScan.h"
#include "tests/support/SimTime.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kLongestReply = 1200;  // beyond the exchange buffer
constexpr std::int64_t kTimeLimitUs = 3'600'000'000;

// What the input makes of one reply; the board's own once the input is used up.
int Shape(FuzzedDataProvider& input, Bytes& reply) {
    if (input.remaining_bytes() == 0) return 0;
    switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            return 0;
        case 1:
            reply = input.ConsumeBytes<std::uint8_t>(
                input.ConsumeIntegralInRange<std::size_t>(0, kLongestReply));
            return 0;
        case 2: {
            const std::size_t kept = std::min<std::size_t>(reply.size(), 4);
            Bytes rest = input.ConsumeBytes<std::uint8_t>(
                input.ConsumeIntegralInRange<std::size_t>(0, kLongestReply));
            reply.resize(kept);
            reply.insert(reply.end(), rest.begin(), rest.end());
            return 0;
        }
        case 3:
            reply.resize(input.ConsumeIntegralInRange<std::size_t>(0, reply.size()));
            return 0;
        case 4:
            return 1;  // lost: the read times out
        default: {
            static const int errors[] = {-EIO, -EPIPE, -ENODEV, -EOVERFLOW, -ETIMEDOUT};
            return errors[input.ConsumeIntegralInRange<int>(0, 4)];
        }
    }
}

void RunSession(VirtualClock& clock, FuzzedDataProvider& input) {
    const auto locations = ScanBoards();
    FUZZ_REQUIRE(locations.size() == 1, "the one board is found");
    BoardSession session(locations[0], clock);
    session.probe();
    session.readConfig();
    session.statistics(input.ConsumeBool() ? StatisticsRequest::Read : StatisticsRequest::Reset);
    session.selectTrace(0xFFFF);
    for (int poll = 0; poll < 3; ++poll) session.pollTrace();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    VirtualClock clock;
    PlugFreshBoard(clock);
    k350sim::setReplyHook(
        [&input](k350sim::DeviceId, const Bytes&, Bytes& reply) { return Shape(input, reply); });
    RunSession(clock, input);
    FUZZ_REQUIRE(clock.nowUs() < kTimeLimitUs, "the operations end within an hour");
    ReleaseSim();
    return 0;
}
