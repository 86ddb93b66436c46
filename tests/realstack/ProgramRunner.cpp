#include "tests/realstack/ProgramRunner.h"

#include <unistd.h>

#include <cstdlib>

namespace {

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The sanitizer runtime must come first in a sanitized program; umockdev's preload comes first
// here, which works as long as the runtime does not insist.
std::string sanitizerOptions() {
    std::string options = environmentValue("ASAN_OPTIONS");
    return (options.empty() ? "" : options + ":") + "verify_asan_link_order=0";
}

// umockdev's preload and what the program needs beside it, then the test's variables.
std::map<std::string, std::string> testbedVariables(const std::map<std::string, std::string>& extra,
                                                    const std::string& workDir) {
    std::map<std::string, std::string> variables{{"LD_PRELOAD", "libumockdev-preload.so.0"},
                                                 {"ASAN_OPTIONS", sanitizerOptions()},
                                                 {"QT_QPA_PLATFORM", "offscreen"}};
    if (getuid() == 0) variables["HOME"] = workDir;
    for (const auto& [name, value] : extra) variables[name] = value;
    return variables;
}

}  // namespace

std::unique_ptr<StartedProgram> StartUnderTestbed(
    const std::string& program, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment, const std::string& workDir) {
    return std::make_unique<StartedProgram>(program, arguments,
                                            testbedVariables(environment, workDir), workDir,
                                            ProgramUser::UnprivilegedWhenRoot);
}

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      const std::string& workDir, std::chrono::seconds limit) {
    return StartUnderTestbed(program, arguments, environment, workDir)->finish(limit);
}
