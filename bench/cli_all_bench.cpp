// k350ctl --all on the real clock: a 131072-byte flash to eight simulated boards against the
// same to one board, and a configuration read of eight boards against one, as ratios of wall
// times measured in one run. The pauses of the download dominate, so boards in parallel should
// cost little more than one.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "config/Clock.h"
#include "sim/SimControl.h"
#include "tests/support/SimBoards.h"

namespace {

constexpr std::size_t kFirmwareSize = 131072;
constexpr int kBoards = 8;
constexpr int kReadRepeats = 20;

// Wall time of one k350ctl run, in seconds; exits when the run fails.
double timeRun(const std::vector<std::string>& arguments) {
    SystemClock clock;
    std::ostringstream out, err;
    Environment environment{out, err, false, clock,
                            [](const char*) -> const char* { return "Lamp_Harbour"; }};
    const auto start = std::chrono::steady_clock::now();
    const int status = RunK350ctl(arguments, environment);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (status != 0) {
        std::fprintf(stderr, "k350ctl failed with %d:\n%s", status, err.str().c_str());
        std::exit(1);
    }
    return elapsed.count();
}

double timeOn(int boards, const std::vector<std::string>& arguments, int repeats = 1) {
    double total = 0;
    for (int i = 0; i < repeats; ++i) {
        PlugBoards(boards);
        total += timeRun(arguments);
    }
    return total / repeats;
}

}  // namespace

int main() {
    char directory[] = "/tmp/k350ctl-bench-XXXXXX";
    if (!mkdtemp(directory)) return 1;
    const std::string image = std::string(directory) + "/fw.rom";
    {
        std::ofstream file(image, std::ios::binary);
        for (std::size_t i = 0; i < kFirmwareSize; ++i) file.put(char(i * 7 + i / 251));
    }
    const std::string pattern = std::string(directory) + "/{die}.kcf";

    const double flashOne = timeOn(1, {"flash", image, "--all"});
    const double flashAll = timeOn(kBoards, {"flash", image, "--all"});
    const double readOne = timeOn(1, {"read", "--all", "-o", pattern}, kReadRepeats);
    const double readAll = timeOn(kBoards, {"read", "--all", "-o", pattern}, kReadRepeats);

    std::printf("flash --all, %zu bytes, real clock:\n", kFirmwareSize);
    std::printf("  1 board   %.3f s\n  %d boards  %.3f s\n  ratio     %.3f (target <= 1.15)\n",
                flashOne, kBoards, flashAll, flashAll / flashOne);
    std::printf("read --all, mean of %d runs:\n", kReadRepeats);
    std::printf("  1 board   %.2f ms\n  %d boards  %.2f ms\n  ratio     %.3f\n", readOne * 1e3,
                kBoards, readAll * 1e3, readAll / readOne);
    std::string cleanup = std::string("rm -rf ") + directory;
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
