// The simulated world at the kernel's USB interface: under umockdev, a program that runs with
// umockdev's preload finds the world's buses in /sys and its devices in /dev/bus/usb, and its
// real USB library talks to the simulated boards through usbfs requests.
#pragma once

#include <sys/types.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/SimControl.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace k350sim {

class UsbfsAttachment {
public:
    // Makes an empty testbed; programs started afterwards from this process see it.
    UsbfsAttachment();
    ~UsbfsAttachment();
    UsbfsAttachment(const UsbfsAttachment&) = delete;
    UsbfsAttachment& operator=(const UsbfsAttachment&) = delete;

    // Every plugged device of the world: its sysfs entry, its node and the node's requests.
    void attachWorld();
    // The plugged devices of these buses only (every bus when empty): what one PC sees of a
    // world shared by several, each with a testbed of its own (a program chooses one by its
    // rootDir() in UMOCKDEV_DIR).
    void attachBuses(const std::set<int>& buses);
    // The program that had this attachment's nodes open was killed: its interfaces and transfers
    // are released, as the kernel releases them when the process's files close. umockdev never
    // tells of a client that died with a request in flight, so the test that killed it does.
    void processGone();
    // The device goes, as the kernel sees a cable pulled: its entry, its node and a uevent.
    void unplug(DeviceId device);
    // The access mode of the device's node, as udev rules would set it.
    void setNodeMode(DeviceId device, mode_t mode);
    // Lets a program that runs as another user read the testbed (tests run as root in CI).
    void openToEveryone();

    std::string rootDir() const { return rootDir_; }
    std::string nodePath(DeviceId device) const;  // e.g. /dev/bus/usb/001/002
    // The kernel's port path of the device, e.g. "1-2"; empty for a root hub.
    std::string portPath(DeviceId device) const;

private:
    void attachDevice(DeviceId device);

    UMockdevTestbed* testbed_ = nullptr;
    std::string rootDir_;
    std::vector<UMockdevIoctlBase*> handlers_;
    std::vector<std::string> nodes_;
    std::map<DeviceId, std::string> sysPaths_;
    std::set<DeviceId> devices_;
};

}  // namespace k350sim
