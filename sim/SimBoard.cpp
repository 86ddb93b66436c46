// The board's command processor: one handler per command code and per I2C slave.
#include "sim/SimBoard.h"

#include <map>

namespace k350sim {

namespace {

struct Request {
    std::array<uint16_t, 4> word{};
    Bytes payload;
};

using CommandHandler = std::optional<Bytes> (*)(Board&, const Request&, BoardContext&);
using SlaveHandler = Bytes (*)(Board&, const Bytes& out, size_t readCount, BoardContext&);

constexpr uint16_t kFlashChipSelect = 4;
constexpr size_t kRecorderPayload = 8;
constexpr size_t kVocoderPayload = 6;
constexpr size_t kStatisticsBytes = 4 * kStatisticsWords;

void putWord(Bytes& bytes, size_t offset, uint16_t value) {
    bytes[offset] = uint8_t(value);
    bytes[offset + 1] = uint8_t(value >> 8);
}

// The reply header repeats the request's words; word 0 carries the answer's code.
Bytes replyHeader(const Request& request, uint16_t code) {
    Bytes reply(8);
    putWord(reply, 0, code);
    for (int i = 1; i < 4; ++i) putWord(reply, 2 * i, request.word[i]);
    return reply;
}

Bytes withPayload(Bytes reply, const Bytes& payload) {
    reply.insert(reply.end(), payload.begin(), payload.end());
    return reply;
}

std::optional<Bytes> bufferSize(Board& board, const Request&, BoardContext&) {
    Bytes reply(4);
    putWord(reply, 2, board.options.capacity);
    return reply;
}

std::optional<Bytes> identify(Board& board, const Request& request, BoardContext&) {
    Bytes ids(board.options.dieId.begin(), board.options.dieId.end());
    ids.insert(ids.end(), board.options.chipId.begin(), board.options.chipId.end());
    return withPayload(replyHeader(request, 1), ids);
}

// The bus transfers send the payload first and then clock readCount bytes back.
size_t checkedReadCount(const Board& board, const Request& request, BoardContext& context) {
    if (request.word[2] != request.payload.size()) {
        context.violation("bus transfer: write count " + std::to_string(request.word[2]) + " but " +
                          std::to_string(request.payload.size()) + " payload bytes");
    }
    if (request.word[1] > board.options.capacity) {
        context.violation("bus transfer: read count " + std::to_string(request.word[1]) +
                          " beyond capacity " + std::to_string(board.options.capacity));
        return board.options.capacity;
    }
    return request.word[1];
}

std::optional<Bytes> spiTransfer(Board& board, const Request& request, BoardContext& context) {
    const size_t readCount = checkedReadCount(board, request, context);
    if (request.word[3] != kFlashChipSelect) {
        context.violation("SPI transfer to missing device " + std::to_string(request.word[3]));
        return replyHeader(request, 2);
    }
    return withPayload(replyHeader(request, 2),
                       board.flash.transfer(request.payload, readCount, context));
}

Bytes eepromSlave(Board& board, const Bytes& out, size_t readCount, BoardContext& context) {
    return board.eeprom.transfer(out, readCount, context);
}

Bytes codecSlave(Board& board, const Bytes& out, size_t readCount, BoardContext& context) {
    if (readCount > 0) context.violation("read from the write-only audio codec");
    if (out.size() % 2 != 0) context.violation("codec write of an odd number of bytes");
    for (size_t i = 0; i + 1 < out.size(); i += 2) {
        const CodecWrite write{uint8_t(out[i] >> 1), uint16_t((out[i] & 1) << 8 | out[i + 1])};
        board.codecRegisters[write.reg] = write.value;
        board.codecWrites.push_back(write);
    }
    return {};
}

Bytes amplifierSlave(Board& board, const Bytes& out, size_t readCount, BoardContext& context) {
    if (readCount > 0) context.violation("read from the LF amplifier");
    board.amplifierBytes.insert(board.amplifierBytes.end(), out.begin(), out.end());
    return {};
}

const std::map<uint16_t, SlaveHandler>& slaves() {
    static const std::map<uint16_t, SlaveHandler> table{
        {0x50, eepromSlave},
        {0x1A, codecSlave},
        {0x4B, amplifierSlave},
    };
    return table;
}

std::optional<Bytes> i2cTransfer(Board& board, const Request& request, BoardContext& context) {
    const size_t readCount = checkedReadCount(board, request, context);
    const auto slave = slaves().find(request.word[3]);
    if (slave == slaves().end()) {
        context.violation("I2C transfer to absent slave " + std::to_string(request.word[3]));
        return replyHeader(request, 3);
    }
    return withPayload(replyHeader(request, 3),
                       slave->second(board, request.payload, readCount, context));
}

std::optional<Bytes> keepPayload(Bytes& kept, size_t length, const Request& request,
                                 BoardContext& context) {
    if (request.payload.size() != length) {
        context.violation("command " + std::to_string(request.word[0]) + " with " +
                          std::to_string(request.payload.size()) + " payload bytes");
    }
    kept = request.payload;
    return replyHeader(request, request.word[0]);
}

std::optional<Bytes> recorder(Board& board, const Request& request, BoardContext& context) {
    return keepPayload(board.recorder, kRecorderPayload, request, context);
}

std::optional<Bytes> vocoder(Board& board, const Request& request, BoardContext& context) {
    return keepPayload(board.vocoder, kVocoderPayload, request, context);
}

std::optional<Bytes> traceSelect(Board& board, const Request& request, BoardContext& context) {
    if (request.word[1] > 0x0F) context.violation("trace mask with unknown channels");
    board.trace.select(request.word[1] & 0x0F, context.nowUs);
    return replyHeader(request, 5);
}

std::optional<Bytes> tracePoll(Board& board, const Request& request, BoardContext& context) {
    return withPayload(replyHeader(request, 6), board.trace.pop(context.nowUs).value_or(Bytes{}));
}

std::optional<Bytes> statistics(Board& board, const Request& request, BoardContext& context) {
    if (request.word[1] == 0) board.statistics.reset(context.nowUs);
    Bytes payload;
    payload.reserve(kStatisticsBytes);
    for (uint32_t word : board.statistics.at(context.nowUs)) {
        for (int shift = 24; shift >= 0; shift -= 8) payload.push_back(uint8_t(word >> shift));
    }
    return withPayload(replyHeader(request, 8), payload);
}

const std::map<uint16_t, CommandHandler>& commands() {
    static const std::map<uint16_t, CommandHandler> table{
        {0, bufferSize},  {1, identify},  {2, spiTransfer}, {3, i2cTransfer}, {4, recorder},
        {5, traceSelect}, {6, tracePoll}, {7, vocoder},     {8, statistics},
    };
    return table;
}

Request parse(const Bytes& bytes) {
    Request request;
    for (size_t i = 0; i < 4 && 2 * i + 1 < bytes.size(); ++i) {
        request.word[i] = uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    }
    if (bytes.size() > 8) request.payload.assign(bytes.begin() + 8, bytes.end());
    return request;
}

bool acceptable(const Board& board, const Bytes& bytes, BoardContext& context) {
    const size_t limit = size_t(board.options.capacity) + 8;
    const size_t least = bytes.size() >= 2 && bytes[0] == 0 && bytes[1] == 0 ? 4 : 8;
    if (bytes.size() > limit) {
        context.violation("request of " + std::to_string(bytes.size()) + " bytes, buffer holds " +
                          std::to_string(limit));
        return false;
    }
    if (bytes.size() < least) {
        context.violation("request of only " + std::to_string(bytes.size()) + " bytes");
        return false;
    }
    return true;
}

}  // namespace

Board::Board(const BoardOptions& boardOptions)
    : options(boardOptions),
      flash(boardOptions.flashSize, FiguresOf(boardOptions), SeedOf(boardOptions.dieId)),
      statistics(FiguresOf(boardOptions)) {}

std::optional<Bytes> Board::handle(const Bytes& bytes, BoardContext& context) {
    if (!acceptable(*this, bytes, context)) return std::nullopt;
    const Request request = parse(bytes);
    const auto command = commands().find(request.word[0]);
    if (command == commands().end()) {
        context.violation("unknown command " + std::to_string(request.word[0]));
        return replyHeader(request, request.word[0]);
    }
    return command->second(*this, request, context);
}

}  // namespace k350sim
