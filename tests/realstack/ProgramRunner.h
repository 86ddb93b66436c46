// Runs a program under the umockdev testbed this process made: with umockdev's preload, as a user
// without root's rights over the device nodes, with a hard limit after which it is killed
// (SIGKILL: the preload holds off other signals while it serves a request).
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/StartedProgram.h"

// Started under the testbed; `environment` adds to (or replaces in) the testbed's variables.
std::unique_ptr<StartedProgram> StartUnderTestbed(
    const std::string& program, const std::vector<std::string>& arguments,
    const std::map<std::string, std::string>& environment, const std::string& workDir);

// Runs the program to its end, or kills it at the limit.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment,
                      const std::string& workDir, std::chrono::seconds limit);
