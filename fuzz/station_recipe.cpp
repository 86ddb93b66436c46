// A station's recipe (TOML) as `station --recipe` reads it, beside a real image and reference:
// any text is either refused with a RecipeError or gives settings within their ranges and a job.
#include "config/ConfigFile.h"
#include "fuzz/FuzzSupport.h"
#include "sim/SimControl.h"
#include "station/NumberRange.h"
#include "station/StationRecipe.h"

namespace {

// The files a recipe usually names, there once for the whole run.
void PlaceNamedFiles() {
    static const bool placed = [] {
        const std::uint8_t image[] = {0x12, 0x34, 0x56, 0x78};
        FuzzFile("k350a.rom", image, sizeof image);
        ConfigSnapshot reference;
        const auto record = k350sim::plausibleConfiguration(0);
        std::copy(record.begin(), record.end(), reference.bytes.begin());
        SaveConfigFile(FuzzFolder().file("k350a.kcf"), reference);
        return true;
    }();
    (void)placed;
}

void CheckRanges(const StationSettings& settings) {
    FUZZ_REQUIRE(StationRange::SoakSeconds.holds(settings.soak.seconds),
                 "the soak's length is within its range");
    FUZZ_REQUIRE(StationRange::AlertFailures.holds(settings.alert.failures) &&
                     StationRange::AlertOf.holds(settings.alert.of),
                 "the alert's numbers are within their ranges");
    FUZZ_REQUIRE(StationRange::HookSeconds.holds(settings.hooks.timeoutSeconds),
                 "the hooks' time limit is within its range");
    FUZZ_REQUIRE(StationRange::StoreRetrySeconds.holds(settings.storeRetrySeconds),
                 "the store's wait is within its range");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    PlaceNamedFiles();
    const std::string path = FuzzFile("recipe.toml", data, size);
    StationSettings settings;
    try {
        settings = LoadStationSettings(path, {});
    } catch (const RecipeError&) {
        return 0;
    }
    CheckRanges(settings);
    try {
        BuildStationJob(settings);
    } catch (const RecipeError&) {
    }
    return 0;
}
