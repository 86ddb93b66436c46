// What every fuzz target shares: a folder of its own for the files an input becomes, and the
// way a target says that a property does not hold (an abort, which libFuzzer keeps as a crash).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/TemporaryFolder.h"

// One folder for the whole run: removed when the fuzzer ends normally.
inline const TemporaryFolder& FuzzFolder() {
    static const TemporaryFolder folder("k350-fuzz");
    return folder;
}

// The input as the file `name` in the fuzz folder; returns its path.
inline std::string FuzzFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = FuzzFolder().file(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));
    return path;
}

#define FUZZ_REQUIRE(condition, what)                                                       \
    do {                                                                                    \
        if (!(condition)) {                                                                 \
            std::fprintf(stderr, "%s:%d: %s (%s)\n", __FILE__, __LINE__, what, #condition); \
            std::abort();                                                                   \
        }                                                                                   \
    } while (0)
