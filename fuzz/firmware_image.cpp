// A firmware image as `flash`, the terminal's download and a recipe read it, then downloaded
// into the simulated board's flash: the image is taken whole or refused with a reason, and the
// flash then holds exactly its bytes.
#include <memory>

#include "config/FirmwareImage.h"
#include "fuzz/FuzzSupport.h"
#include "link/BoardSession.h"
#include "link/UsbScan.h"
#include "station/FlashImage.h"
#include "tests/support/SimTime.h"

namespace {

void DownloadInto(const FirmwareImage& image, bool poll) {
    VirtualClock clock;
    const k350sim::DeviceId board = PlugFreshBoard(clock);
    {
        BoardSession session(ScanBoards().at(0), clock);
        FirmwareOptions options;
        options.pollInsteadOfPausing = poll;
        const auto download = session.downloadFirmware(image.bytes, options);
        FUZZ_REQUIRE(download.ending == Ending::Done, "a healthy board takes the image");
    }
    const auto flash = k350sim::flash(board);
    FUZZ_REQUIRE(flash.size() >= image.bytes->size() &&
                     std::equal(image.bytes->begin(), image.bytes->end(), flash.begin()),
                 "the flash holds the image as given");
    ReleaseSim();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = FuzzFile("image.rom", data, size);
    const std::vector<std::uint8_t> given(data, data + size);
    FirmwareImage loaded;
    FUZZ_REQUIRE(LoadFirmwareImage(path, loaded) == ImageLoadResult::Ok && *loaded.bytes == given,
                 "the terminal takes any readable file whole");
    FirmwareImage image;
    const std::string refusal = LoadFlashImage(path, image);
    FUZZ_REQUIRE(refusal.empty() == (size > 0), "only an empty image is refused (at this size)");
    if (!refusal.empty()) return 0;
    FUZZ_REQUIRE(*image.bytes == given, "`flash` takes the image whole");
    DownloadInto(image, size % 2 == 1);
    return 0;
}
