// The world a program gets when no test built one: one healthy board, shaped by K350_SIM_*
// variables, optionally keeping its EEPROM and flash in a file between runs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "sim/SimWorld.h"

namespace k350sim {

namespace {

constexpr size_t kRecordSize = 140;
constexpr char kStateMagic[] = "K350SIM1";

void warn(const std::string& text) {
    std::fprintf(stderr, "k350sim: %s\n", text.c_str());
}

void putText(Bytes& record, size_t offset, const char* text) {
    std::memcpy(record.data() + offset, text, std::strlen(text));
}

// Codec register writes, vocoder, recorder, LF amplifier and UART blocks of a board in service.
void putSettings(Bytes& r) {
    const uint8_t codec[22] = {0x1E, 0x00, 0x0C, 0x00, 0x08, 0x14, 0x0A, 0x00, 0x10, 0x0E, 0x00,
                               0x17, 0x02, 0x17, 0x04, 0x79, 0x06, 0x79, 0x0E, 0x43, 0x12, 0x01};
    std::memcpy(r.data() + 2, codec, sizeof codec);
    const uint8_t vocoder[6] = {0x00, 0x04, 0x00, 0x00, 0x00, 0x00};  // 8000 bit/s
    std::memcpy(r.data() + 24, vocoder, sizeof vocoder);
    const uint8_t recorder[8] = {0x00, 0x03, 0x10, 0x1D, 0x10, 0x1D, 0x00, 0x40};
    std::memcpy(r.data() + 30, recorder, sizeof recorder);
    const uint8_t amplifier[4] = {40, 0x00, 0xD6, 0x00};
    std::memcpy(r.data() + 38, amplifier, sizeof amplifier);
    r[43] = 0xFF;  // FIFO triggers at 60 characters
    r[47] = 120;   // 9600 baud
    r[55] = 0x03;  // 8 data bits, 1 stop bit, no parity
}

void putBoardInformation(Bytes& r, uint8_t model) {
    r[56] = model;
    r[57] = 1;
    putText(r, 58, "1.02");
    putText(r, 62, "0042");
    putText(r, 66, "15.03.2025");
    // "Контроллер К-350" in Windows-1251, then the variant letter
    putText(r, 76, "\xCA\xEE\xED\xF2\xF0\xEE\xEB\xEB\xE5\xF0 \xCA-350");
    r[76 + 16] = model == 1 ? 'B' : 'A';
}

std::optional<long> numberFromEnvironment(const char* name, long low, long high) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0) return std::nullopt;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != 0 || value < low || value > high) {
        warn(std::string(name) + "=" + text + " ignored: not a number from " + std::to_string(low) +
             " to " + std::to_string(high));
        return std::nullopt;
    }
    return value;
}

// Returns the model for K350_SIM_BOARD, or -1 for a world without a board.
int modelFromEnvironment() {
    const char* text = std::getenv("K350_SIM_BOARD");
    if (text == nullptr || *text == 0 || std::strcmp(text, "A") == 0) return 0;
    if (std::strcmp(text, "B") == 0) return 1;
    if (std::strcmp(text, "none") == 0) return -1;
    warn(std::string("K350_SIM_BOARD=") + text + " ignored: use A, B or none");
    return 0;
}

void clearWorld(World& w) {
    w.devices.clear();
    w.handles.clear();
    w.busCount = 0;
    w.log.clear();
    w.violations.clear();
    w.faults = Faults{};
    w.stateFile.clear();
    w.scanHangFile.clear();
}

}  // namespace

uint16_t configurationCrc(const Bytes& record) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 2; i < kRecordSize && i < record.size(); ++i) {
        crc ^= record[i];
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    crc ^= 0xFFFF;
    return uint16_t(crc << 8 | crc >> 8);  // the board keeps the two bytes exchanged
}

Bytes plausibleConfiguration(uint8_t model) {
    Bytes record(kRecordSize, 0);
    putSettings(record);
    putBoardInformation(record, model);
    const uint16_t crc = configurationCrc(record);
    record[0] = uint8_t(crc);
    record[1] = uint8_t(crc >> 8);
    return record;
}

// The board with this 1-based number in K350_SIM_BOOT, K350_SIM_HELD or K350_SIM_DRIVER, where 1
// also means the only board of the default world.
bool numbered(const char* variable, long board, long boards) {
    return numberFromEnvironment(variable, 0, boards).value_or(0) == board;
}

void buildDefaultWorld() {
    std::lock_guard lock(worldMutex());
    World& w = world();
    clearWorld(w);
    w.configured = true;
    addBus();  // with its root hub first, as on a PC
    if (const char* file = std::getenv("K350_SIM_SCAN_HANG")) w.scanHangFile = file;
    const int model = modelFromEnvironment();
    if (model < 0) return;
    const long boards = numberFromEnvironment("K350_SIM_BOARDS", 1, 16).value_or(1);
    for (long number = 1; number <= boards; ++number) {
        BoardOptions options;
        options.bootMode = numbered("K350_SIM_BOOT", number, boards);
        options.refusesInterface0 = numbered("K350_SIM_HELD", number, boards);
        if (numbered("K350_SIM_DRIVER", number, boards)) options.kernelDriver = "cdc_acm";
        options.capacity = uint16_t(
            numberFromEnvironment("K350_SIM_CAPACITY", 0, 65535).value_or(options.capacity));
        if (number > 1) options.dieId.back() = uint8_t(number);
        // Benches of several processes each get boards of their own.
        options.dieId[6] =
            uint8_t(numberFromEnvironment("K350_SIM_BENCH", 0, 255).value_or(options.dieId[6]));
        // Boards that differ as real ones do; one with a slow flash; each a little worse than
        // the one before, in percent.
        options.spread.enabled = numberFromEnvironment("K350_SIM_SPREAD", 0, 1).value_or(0) == 1;
        if (numbered("K350_SIM_SLOW_FLASH", number, boards)) options.spread.flashSlowdown = 1.4;
        options.spread.wear = double(numberFromEnvironment("K350_SIM_DRIFT", 0, 100).value_or(0)) /
                              100 * double(number - 1);
        const DeviceId id = addBoard(0, options);
        Board& board = *w.board(id).board;
        const Bytes record = plausibleConfiguration(uint8_t(model));
        std::copy(record.begin(), record.end(), board.eeprom.memory.begin());
        if (const char* file = std::getenv("K350_SIM_STATE"); file && *file && number == 1) {
            w.stateFile = file;
            loadState(w, board);
        }
    }
}

void ensureWorld(World& w) {
    if (!w.configured) buildDefaultWorld();
}

void loadState(World& w, Board& board) {
    std::ifstream in(w.stateFile, std::ios::binary);
    if (!in) return;  // first run: the file comes with the first write
    const Bytes data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const size_t header = sizeof kStateMagic - 1;
    const size_t expected = header + board.eeprom.memory.size() + board.flash.memory.size();
    if (data.size() != expected || std::memcmp(data.data(), kStateMagic, header) != 0) {
        warn("state file " + w.stateFile + " ignored: not a state of this board");
        return;
    }
    auto from = data.begin() + header;
    std::copy_n(from, board.eeprom.memory.size(), board.eeprom.memory.begin());
    from += board.eeprom.memory.size();
    std::copy_n(from, board.flash.memory.size(), board.flash.memory.begin());
}

void saveState(World& w, const Board& board) {
    if (w.stateFile.empty()) return;
    const std::string temporary = w.stateFile + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(kStateMagic, sizeof kStateMagic - 1);
        out.write(reinterpret_cast<const char*>(board.eeprom.memory.data()),
                  board.eeprom.memory.size());
        out.write(reinterpret_cast<const char*>(board.flash.memory.data()),
                  board.flash.memory.size());
        if (!out.flush()) {
            warn("cannot write state file " + temporary);
            return;
        }
    }
    if (std::rename(temporary.c_str(), w.stateFile.c_str()) != 0)
        warn("cannot replace state file " + w.stateFile);
}

}  // namespace k350sim
