// Downloads a 128 KiB firmware image to the simulated board on the real clock,
// with transfers that take no time of their own, and compares the wall time
// with what the download must take: the pauses of the flash algorithm
// (800 ms after each sector erase, 1 ms after each full page) plus the time
// the flash stayed busy beyond them. Prints the figures and their ratio.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <vector>

#include "config/Clock.h"
#include "link/K350Task.h"
#include "sim/SimControl.h"
#include "tests/support/RecordingChannel.h"

namespace {

constexpr std::uint32_t kImageSize = 131072;
constexpr double kEraseSettleSeconds = 0.800;
constexpr double kFullPagePauseSeconds = 0.001;
constexpr std::size_t kFullPageRequest = 8 + 4 + 256;

using Bytes = std::vector<std::uint8_t>;

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool isStatusRead(const k350sim::TransferRecord& record) {
    return record.kind == k350sim::TransferKind::Write && record.data.size() == 9 &&
           record.data[0] == 2 && record.data[8] == 0x05;
}

bool isFullPageProgram(const k350sim::TransferRecord& record) {
    return record.kind == k350sim::TransferKind::Write && record.data.size() == kFullPageRequest &&
           record.data[8] == 0x02;
}

struct LogFigures {
    int fullPages = 0;
    double busyBeyondPausesSeconds = 0;  // from the first busy status poll to the ready one
};

// Walks the board's transfer log: every status poll answered busy means the
// flash held the worker longer than the pause before it.
LogFigures readLog() {
    LogFigures figures;
    const auto log = k350sim::transferLog();
    std::int64_t busySinceUs = -1;
    for (std::size_t i = 0; i + 1 < log.size(); ++i) {
        if (isFullPageProgram(log[i])) ++figures.fullPages;
        if (!isStatusRead(log[i]) || log[i + 1].kind != k350sim::TransferKind::Read) continue;
        const Bytes& reply = log[i + 1].data;
        const bool busy = reply.size() > 8 && (reply[8] & 0x01) != 0;
        if (busy && busySinceUs < 0) busySinceUs = log[i].timeUs;
        if (!busy && busySinceUs >= 0) {
            figures.busyBeyondPausesSeconds += double(log[i + 1].timeUs - busySinceUs) / 1e6;
            busySinceUs = -1;
        }
    }
    return figures;
}

struct RunFigures {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    std::intptr_t bytesProgrammed = 0;
};

// Runs the download on the worker's own thread; the time and CPU time are taken
// on that thread from the image hand-over to the completion notification.
RunFigures download(const std::shared_ptr<const Bytes>& image) {
    SystemClock clock;
    RecordingChannel channel;
    RunFigures figures;
    double wallStart = 0, cpuStart = 0;
    std::promise<void> done;
    channel.open(WindowId::FDevice);
    channel.open(WindowId::FFlash, [&](WorkerNotification notification) {
        if (notification.code == NotifyCode::FillData) {
            auto* transfer = reinterpret_cast<TransferData*>(notification.value);
            transfer->hold(image);
            wallStart = steadySeconds();
            cpuStart = threadCpuSeconds();
        } else if (notification.code == NotifyCode::Done) {
            figures.wallSeconds = steadySeconds() - wallStart;
            figures.cpuSeconds = threadCpuSeconds() - cpuStart;
            figures.bytesProgrammed = notification.value;
            done.set_value();
        }
    });
    TK350 worker(channel, clock);
    worker.start();
    worker.signal(WorkerRequest::LoadFirmware);
    done.get_future().wait();
    return figures;
}

}  // namespace

int main() {
    k350sim::reset();  // the simulator's own steady clock: transfers take no time
    const k350sim::DeviceId board = k350sim::addBoard(k350sim::addBus());
    auto image = std::make_shared<const Bytes>(kImageSize, std::uint8_t(0x5A));

    const RunFigures run = download(image);
    const LogFigures log = readLog();
    const std::size_t erases = k350sim::eraseLog(board).size();
    const double pauses =
        double(erases) * kEraseSettleSeconds + double(log.fullPages) * kFullPagePauseSeconds;
    const double expected = pauses + log.busyBeyondPausesSeconds;

    std::printf("firmware download of %u bytes, %zu sector erases, %d full pages\n", kImageSize,
                erases, log.fullPages);
    std::printf("bytes programmed: %ld, flash matches image: %s\n", long(run.bytesProgrammed),
                k350sim::flash(board) == *image ? "yes" : "no");
    std::printf("wall time:                     %.3f s\n", run.wallSeconds);
    std::printf("specified pauses:              %.3f s\n", pauses);
    std::printf("flash busy beyond the pauses:  %.3f s\n", log.busyBeyondPausesSeconds);
    std::printf("pauses plus flash busy time:   %.3f s\n", expected);
    std::printf("ratio wall / (pauses + busy):  %.3f (target <= 1.05)\n",
                expected > 0 ? run.wallSeconds / expected : 0.0);
    std::printf("worker CPU time:               %.3f s\n", run.cpuSeconds);
    k350sim::reset();
    return 0;
}
