#pragma once

#include <string>

// The --help text of one command, or of k350ctl itself for an empty name.
std::string HelpText(const std::string& command);
std::string VersionText();
