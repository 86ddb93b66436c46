// The time of a 131,072-byte firmware download with verify by the shipped k350ctl, through the
// real stack (k350usb, libusb-1.0, usbfs emulated under umockdev) and through the simulator at
// the libusb-0.1 API (preloaded), side by side, and what the emulation costs per transfer.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim/SimControl.h"
#include "sim/SimUsbfs.h"
#include "tests/realstack/ProgramRunner.h"

namespace {

constexpr size_t kImageSize = 131072;
constexpr const char* kServiceCode = "Lamp_Harbour";

std::string makeWorkDir() {
    char pattern[] = "/tmp/k350-usbfs-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return {};
    chmod(pattern, 0777);
    return pattern;
}

void writeImage(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < kImageSize; ++i) out.put(char(i * 7 + i / 256));
}

ProgramRun flash(const std::map<std::string, std::string>& environment, const std::string& dir) {
    return RunProgram(K350CTL_PROGRAM, {"flash", "fw.rom", "--verify", "--code", kServiceCode},
                      environment, dir, std::chrono::seconds(600));
}

}  // namespace

int main() {
    const std::string dir = makeWorkDir();
    writeImage(dir + "/fw.rom");

    k350sim::reset();
    const int bus = k350sim::addBus();
    k350sim::addOtherDevice(bus, 0x046D, 0xC077);
    k350sim::addBoard(bus);
    k350sim::UsbfsAttachment usbfs;
    usbfs.attachWorld();
    usbfs.openToEveryone();

    const int64_t before = k350sim::transfers();
    const ProgramRun real = flash({}, dir);
    const int64_t transfers = k350sim::transfers() - before;
    const ProgramRun simulated = flash({{"LD_PRELOAD", K350SIM_LIBRARY}}, dir);

    std::printf("131072-byte firmware download with verify, k350ctl as shipped\n");
    std::printf("  real stack (k350usb, libusb-1.0, usbfs under umockdev): %8.3f s  exit %d\n",
                real.seconds, real.status);
    std::printf("  simulator at the libusb-0.1 API (LD_PRELOAD):            %8.3f s  exit %d\n",
                simulated.seconds, simulated.status);
    if (transfers > 0 && real.seconds > 0) {
        const double extra = real.seconds - simulated.seconds;
        std::printf(
            "  bulk transfers: %lld; real stack's own cost: %.1f us per transfer, "
            "%.1f %% of its time\n",
            static_cast<long long>(transfers), 1e6 * extra / double(transfers),
            100.0 * extra / real.seconds);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return 0;
}
