// The production station on the real clock, against the simulated board:
// 1. the station with 8 boards against the station with one: wall time of the whole run, time per
//    board and the ratio of the two (one worker per port, so 8 boards should take about as long
//    as one; target 1.15 or less);
// 2. a 128 KiB download with `flash --poll` against the default pauses, both against the flash's
//    own busy time (4 erases of 250 ms, 512 page programs of 0.7 ms in the simulator; target for
//    polling: within 1.2 times that). Transfers of the simulator take no time of their own on the
//    real clock; the same download on the virtual clock, where every transfer costs a 1 ms frame,
//    is printed as well.
// Prints the figures; never fails on speed.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "config/Sha256.h"
#include "link/BoardSession.h"
#include "link/SpiFlash.h"
#include "link/UsbScan.h"
#include "sim/SimControl.h"
#include "station/Station.h"
#include "tests/support/VirtualClock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kFlashBusySeconds = 4 * 0.250 + 512 * 0.0007;

double Seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

Bytes Image(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = std::uint8_t(i * 13 + 5);
    return bytes;
}

void PlugBoards(int count) {
    k350sim::reset();
    k350sim::setClock(nullptr, nullptr);
    const int bus = k350sim::addBus();
    for (int i = 0; i < count; ++i) {
        k350sim::BoardOptions options;
        options.dieId[7] = std::uint8_t(i + 1);
        const auto board = k350sim::addBoard(bus, options);
        k350sim::setEeprom(board, 0, k350sim::plausibleConfiguration(0));
    }
}

double StationSeconds(int boards, const std::string& folder) {
    PlugBoards(boards);
    StationJob job;
    job.image = std::make_shared<const Bytes>(Image(0x10000));
    job.imageSha256 = Sha256Hex(*job.image);
    job.verify = true;
    ConfigSnapshot reference{};
    const Bytes record = k350sim::plausibleConfiguration(0);
    std::copy(record.begin(), record.end(), reference.bytes.begin());
    job.reference = reference;
    job.descriptionTemplate = "K-350A {serial}";
    job.date = "09.12.2026";
    job.soak.seconds = 2;
    job.recipe = "bench";
    job.station = "bench";
    job.store = folder + "/line-" + std::to_string(boards) + ".sqlite";
    SystemClock clock;
    Station station(job, clock, {});
    const double start = Seconds();
    const StationCounts counts = station.run([] { return StationStop::None; }, boards, 50);
    const double elapsed = Seconds() - start;
    if (counts.passed != boards)
        std::printf("  (only %d of %d boards passed)\n", counts.passed, boards);
    return elapsed;
}

double FlashSeconds(bool poll, Clock& clock) {
    PlugBoards(1);
    const BoardLocation location = ScanBoards().at(0);
    BoardSession session(location, clock);
    const auto image = std::make_shared<const Bytes>(Image(SpiFlash::ProgramLimit));
    const std::int64_t start = clock.nowUs();
    if (!session.downloadFirmware(image, {poll}).done()) std::printf("  (the download failed)\n");
    return double(clock.nowUs() - start) / 1e6;
}

double VirtualFlashSeconds(bool poll) {
    VirtualClock clock;
    k350sim::reset();
    PlugBoards(1);
    k350sim::setClock([&clock] { return clock.nowUs(); },
                      [&clock](std::int64_t us) { clock.advanceUs(us); });
    const BoardLocation location = ScanBoards().at(0);
    BoardSession session(location, clock);
    const auto image = std::make_shared<const Bytes>(Image(SpiFlash::ProgramLimit));
    const std::int64_t start = clock.nowUs();
    session.downloadFirmware(image, {poll});
    const double seconds = double(clock.nowUs() - start) / 1e6;
    k350sim::setClock(nullptr, nullptr);
    return seconds;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/k350-station-bench-XXXXXX";
    const std::string folder = mkdtemp(pattern);

    const double one = StationSeconds(1, folder);
    const double eight = StationSeconds(8, folder);
    std::printf("station, 64 KiB image + verify + configuration + read-back + 2 s soak:\n");
    std::printf("  1 board:  %.3f s\n", one);
    std::printf("  8 boards: %.3f s in all, %.3f s per board\n", eight, eight / 8);
    std::printf("  ratio 8 boards / 1 board: %.3f (target <= 1.15)\n", eight / one);

    SystemClock clock;
    const double pauses = FlashSeconds(false, clock);
    const double polled = FlashSeconds(true, clock);
    std::printf("flash, 128 KiB, real clock (the flash busy %.3f s):\n", kFlashBusySeconds);
    std::printf("  default pauses: %.3f s (%.2f x busy)\n", pauses, pauses / kFlashBusySeconds);
    std::printf("  --poll:         %.3f s (%.2f x busy, target <= 1.2)\n", polled,
                polled / kFlashBusySeconds);
    const double virtualPauses = VirtualFlashSeconds(false);
    const double virtualPolled = VirtualFlashSeconds(true);
    std::printf("flash, 128 KiB, virtual clock with a 1 ms frame per transfer:\n");
    std::printf("  default pauses: %.3f s (%.2f x busy)\n", virtualPauses,
                virtualPauses / kFlashBusySeconds);
    std::printf("  --poll:         %.3f s (%.2f x busy)\n", virtualPolled,
                virtualPolled / kFlashBusySeconds);
    std::filesystem::remove_all(folder);
    return 0;
}
