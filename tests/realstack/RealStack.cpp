#include "tests/realstack/RealStack.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

void RealStackTest::SetUp() {
    k350sim::reset();
    char pattern[] = "/tmp/k350-realstack-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    workDir_ = pattern;
    chmod(workDir_.c_str(), 0777);
}

void RealStackTest::TearDown() {
    usbfs.reset();
    std::error_code ignored;
    std::filesystem::remove_all(workDir_, ignored);
    k350sim::reset();
}

void RealStackTest::attach() {
    usbfs = std::make_unique<k350sim::UsbfsAttachment>();
    usbfs->attachWorld();
    usbfs->openToEveryone();
}

int RealStackTest::addBusWithOthers() {
    const int bus = k350sim::addBus();
    k350sim::addOtherDevice(bus, 0x046D, 0xC077);  // a mouse
    k350sim::addOtherDevice(bus, 0x0781, 0x5567);  // a storage stick
    return bus;
}

std::string RealStackTest::location(k350sim::DeviceId device) const {
    const std::string node = usbfs->nodePath(device);  // /dev/bus/usb/BBB/DDD
    return node.substr(node.size() - 7);
}

ProgramRun RealStackTest::k350ctl(const std::vector<std::string>& arguments,
                                  std::chrono::seconds limit) {
    return run(K350CTL_PROGRAM, arguments, limit);
}

ProgramRun RealStackTest::run(const std::string& program, const std::vector<std::string>& arguments,
                              std::chrono::seconds limit) {
    return RunProgram(program, arguments, environment, workDir_, limit);
}
