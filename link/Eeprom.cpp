#include "link/Eeprom.h"

#include "link/BoardLink.h"

namespace Eeprom {

void SetRequest(BoardLink& link, std::uint16_t readCount, std::uint16_t writeCount,
                std::uint16_t address) {
    link.setHeader(Command::I2c, readCount, writeCount, Slave);
    link.payload()[0] = std::uint8_t(address >> 8);
    link.payload()[1] = std::uint8_t(address & 0xFF);
}

}  // namespace Eeprom
