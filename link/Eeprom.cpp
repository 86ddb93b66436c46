#include "link/Eeprom.h"

#include "link/BoardLink.h"

namespace Eeprom {

void SetRequest(BoardLink& link, std::uint16_t readCount, std::uint16_t writeCount,
                std::uint16_t address) {
    link.setWord(0, Command::I2c);
    link.setWord(1, readCount);
    link.setWord(2, writeCount);
    link.setWord(3, Slave);
    link.payload()[0] = std::uint8_t(address >> 8);
    link.payload()[1] = std::uint8_t(address & 0xFF);
}

}  // namespace Eeprom
