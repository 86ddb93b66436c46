// The board on USB: its identity, configurations and endpoints, the command codes of the
// CommandPacket header and its size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace K350Usb {
constexpr int VendorId = 0x0451;
constexpr int ProductId = 0x9001;
constexpr int NormalConfiguration = 2;
constexpr int BootConfiguration = 1;
constexpr int Interface = 0;
constexpr int EndpointOut = 0x01;
constexpr int EndpointIn = 0x81;
constexpr int EndpointBoot = 0x06;
constexpr int DefaultTimeoutMs = 1000;
constexpr int PolledTimeoutMs = 100;  // statistics, trace poll and the read at shutdown
}  // namespace K350Usb

// Command codes of the CommandPacket header word 0.
namespace Command {
constexpr std::uint16_t BufferSize = 0;
constexpr std::uint16_t Identify = 1;
constexpr std::uint16_t SpiFlash = 2;
constexpr std::uint16_t I2c = 3;
constexpr std::uint16_t Recorder = 4;
constexpr std::uint16_t TraceSelect = 5;
constexpr std::uint16_t TracePoll = 6;
constexpr std::uint16_t Vocoder = 7;
constexpr std::uint16_t Statistics = 8;
}  // namespace Command

constexpr std::size_t kPacketHeaderSize = 8;
