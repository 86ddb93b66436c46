// Runs a program under the umockdev testbed this process made: with umockdev's preload, as a user
// without root's rights over the device nodes, with a hard limit after which it is killed
// (SIGKILL: the preload holds off other signals while it serves a request).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

struct ProgramRun {
    int status = -1;      // exit status, -1 when killed or it died of a signal
    bool killed = false;  // still running at the limit
    std::string out;
    std::string err;
    double seconds = 0;
};

// `environment` adds to (or replaces in) this process's environment; files go to workDir.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      const std::string& workDir, std::chrono::seconds limit);
