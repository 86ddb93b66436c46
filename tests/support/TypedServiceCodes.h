// The two service codes as a person types them. Written out here, not taken from the code under
// test, so that a code changed there fails the tests that enter it.
#pragma once

namespace TypedCode {
constexpr const char* Service = "Lamp_Harbour";
constexpr const char* FullService = "R482_Deep_Lantern";
}  // namespace TypedCode
