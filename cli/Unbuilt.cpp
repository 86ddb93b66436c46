#include "cli/Commands.h"

namespace {
int unavailable(const Options& options, Console& console) {
    console.message("k350ctl: " + options.command + " is not available in this build yet");
    return ExitStatus::Usage;
}
}  // namespace

int WriteCommand(const Options& o, Console& c) {
    return unavailable(o, c);
}
int FlashCommand(const Options& o, Console& c) {
    return unavailable(o, c);
}
int StatsCommand(const Options& o, Console& c) {
    return unavailable(o, c);
}
int TraceCommand(const Options& o, Console& c) {
    return unavailable(o, c);
}
int ShowCommand(const Options& o, Console& c) {
    return unavailable(o, c);
}
int DiffCommand(const Options& o, Console& c) {
    return unavailable(o, c);
}
