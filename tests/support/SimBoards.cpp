#include "tests/support/SimBoards.h"

k350sim::Id8 BoardDieId(int index) {
    return {0x35, 0x0A, 0x01, 0x23, 0x45, 0x67, 0x89, std::uint8_t(index)};
}

std::vector<k350sim::DeviceId> PlugBoards(int count, const k350sim::BoardOptions& options) {
    k350sim::reset();
    const int bus = k350sim::addBus();
    std::vector<k350sim::DeviceId> boards;
    for (int i = 1; i <= count; ++i) {
        k350sim::BoardOptions board = options;
        board.dieId = BoardDieId(i);
        boards.push_back(k350sim::addBoard(bus, board));
        k350sim::setEeprom(boards.back(), 0, k350sim::plausibleConfiguration(0));
    }
    return boards;
}

bool BoardReleased() {
    int open = 0;
    for (const auto& entry : k350sim::transferLog()) {
        if (entry.kind == k350sim::TransferKind::Open && entry.result == 0) ++open;
        if (entry.kind == k350sim::TransferKind::Close && entry.result == 0) --open;
    }
    return open == 0;
}

bool IsSectorEraseAt(const k350sim::Bytes& request, std::uint32_t address) {
    return request.size() == 12 && request[0] == 2 && request[8] == 0xD8 &&
           request[9] == std::uint8_t(address >> 16) && request[10] == std::uint8_t(address >> 8) &&
           request[11] == std::uint8_t(address);
}
