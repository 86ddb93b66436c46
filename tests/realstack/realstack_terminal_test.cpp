// The shipped k350-terminal, headless, with k350usb and libusb-1.0 on simulated boards attached at
// usbfs under umockdev; a preloaded driver clicks "Прочитать" and prints the log.
#include <gmock/gmock.h>

#include "tests/realstack/RealStack.h"

namespace sim = k350sim;
using ::testing::HasSubstr;

namespace {

class RealStackTerminal : public RealStackTest {
protected:
    ProgramRun readTimes(int reads) {
        environment["LD_PRELOAD"] = std::string("libumockdev-preload.so.0 ") + K350_TERMINAL_DRIVER;
        environment["K350_DRIVE_READS"] = std::to_string(reads);
        return run(K350_TERMINAL_PROGRAM, {}, std::chrono::seconds(60));
    }

    static int count(const std::string& text, const std::string& what) {
        int found = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++found;
        return found;
    }
};

TEST_F(RealStackTerminal, ReadsAgainWithoutAScanWhenTheBoardIsBehindTheRootHubAndOthers) {
    addBusWithOthers();
    const sim::DeviceId board = sim::addBoard(addBusWithOthers());
    sim::setEeprom(board, 0, sim::plausibleConfiguration(0));
    attach();
    environment["LIBUSB_DEBUG"] = "4";  // libusb then logs every look at its device list
    const ProgramRun terminal = readTimes(3);
    ASSERT_FALSE(terminal.killed) << terminal.out;
    EXPECT_EQ(count(terminal.out, "Процесс чтения конфигурации завершен"), 3) << terminal.out;
    // The first read scans (usb_find_busses and usb_find_devices); the quick re-open of the
    // other two finds the board in that scan's list.
    EXPECT_EQ(count(terminal.err, "libusb_get_device_list"), 2);
}

TEST_F(RealStackTerminal, NodeWithoutWritePermissionGetsOneLineNamingTheUdevRule) {
    const sim::DeviceId board = sim::addBoard(addBusWithOthers());
    attach();
    usbfs->setNodeMode(board, 0444);
    const ProgramRun terminal = readTimes(1);
    ASSERT_FALSE(terminal.killed);
    EXPECT_THAT(terminal.out, HasSubstr("Контроллер K-350 не обнаружен на шине USB"));
    EXPECT_EQ(count(terminal.out, "Доступ к контроллеру К-350 запрещен"), 1) << terminal.out;
    EXPECT_THAT(terminal.out, HasSubstr("70-k350.rules"));
    EXPECT_EQ(count(terminal.out, "Конфигурация контроллера К-350 не доступна"), 0);
}

}  // namespace
