#pragma once

#include <cstdint>

// Access level of the person at the terminal; decides the device tree layout, the write extent and
// whether a blank configuration is offered.
enum class ServiceLevel : std::int32_t { User = 0, Service = 1, FullService = 2 };
