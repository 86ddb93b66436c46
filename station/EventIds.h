// The journal's MESSAGE_ID of each kind of station event: fixed, made once with
// `systemd-id128 new`, so a query or an alarm on one of them holds across versions. Never change
// one; a new kind of event gets a new id.
#pragma once

namespace EventId {
inline constexpr const char* BoardStarted = "48381dc5d77f4374ad800bd0b6c4870c";
inline constexpr const char* StepDone = "69d95538043c45dca22c55ae35887839";
inline constexpr const char* StepFailed = "fdd8573abbf24fef959afe1c3ae8b801";
inline constexpr const char* StepInterrupted = "7669a2f6ace74b96babac81155153a0f";
inline constexpr const char* BoardPassed = "499072194d474182903d66f8c9945922";
inline constexpr const char* BoardFailed = "696e33ad3ba44f6cb5056a18b1fe565c";
inline constexpr const char* BoardSkipped = "a4304c37980e45fc82ccad86de157073";
inline constexpr const char* BoardUnusable = "dc6ce3570c1e46839e7b7f5d4f80a93d";
inline constexpr const char* BoardInterrupted = "423de9b57dd64a5aae1f5e0df43672e6";
inline constexpr const char* BoardElsewhere = "2c70b5c2c178409ea508c6bf6cc521b0";
inline constexpr const char* HookDone = "b443f21454b54f6f9d143f416268af27";
inline constexpr const char* HookFailed = "956baf0602a3497f955b9818fe42e652";
inline constexpr const char* AlertSuspectPort = "cea0aa9a08f542e3a67d51b83b50cd69";
inline constexpr const char* AlertDrift = "473d8961b73f4f38ac63362dcd496744";
inline constexpr const char* StoreAway = "96320b6085b34d8da77843c1af2f6173";
inline constexpr const char* StoreBack = "35a96aa4c7dd43c2954ec50d6c02bb3d";
inline constexpr const char* RunKeptInJournal = "41f53e45372046f6a6b0c8ce68b38c0e";
inline constexpr const char* RunLost = "7b8572d81cde4c58807808314bd4870b";
inline constexpr const char* StationStopping = "a6228b60b1114f249147d749ed706db6";
inline constexpr const char* StationHalted = "cab4cd7aa09f4d139f88fe89c5e89016";
}  // namespace EventId
