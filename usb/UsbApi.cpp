// The libusb-0.1 functions the terminal and k350ctl call, over libusb-1.0, with libusb-compat's
// conventions: usb.h's structures as the 0.1 library fills them, failures as negative errno
// values, a bulk read that returns the bytes that arrived.
#include <fcntl.h>
#include <libusb-1.0/libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <usb.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "usb/UsbDeviceList.h"
#include "usb/UsbErrors.h"

using namespace k350usb;

#define K350USB_EXPORT __attribute__((visibility("default")))

// Declared by usb.h outside its extern "C" block; a global variable's symbol is its plain name.
K350USB_EXPORT struct usb_bus* usb_busses = nullptr;

struct usb_dev_handle {
    libusb_device_handle* handle;
    struct usb_device* device;
};

namespace {

struct Library {
    std::mutex mutex;
    libusb_context* context = nullptr;
    int initResult = 0;
    UsbDeviceList list;
};

Library& library() {
    static Library* instance = new Library;  // never destroyed: handles may outlive exit()
    return *instance;
}

libusb_context* contextLocked(Library& lib) {
    if (!lib.context && lib.initResult == 0) {
        lib.initResult = libusb_init(&lib.context);
        if (lib.initResult != 0) lib.context = nullptr;
    }
    return lib.context;
}

int failWith(int libusbResult, const char* during) {
    return rememberFailure(ErrnoResult(libusbResult), during);
}

int bulk(usb_dev_handle* dev, unsigned char endpoint, char* bytes, int size, int timeout,
         const char* during) {
    if (dev == nullptr || size < 0 || (bytes == nullptr && size > 0))
        return rememberFailure(-EINVAL, during);
    int transferred = 0;
    const int result =
        libusb_bulk_transfer(dev->handle, endpoint, reinterpret_cast<unsigned char*>(bytes), size,
                             &transferred, timeout < 0 ? 0 : unsigned(timeout));
    // What arrived before the deadline is the transfer's result, as libusb-compat returns it.
    if (result == 0 || (result == LIBUSB_ERROR_TIMEOUT && transferred > 0)) return transferred;
    return failWith(result, during);
}

// Rebuilds the list, publishes it in usb_busses and returns what `find` counts as changed.
int refreshList(int (UsbDeviceList::*find)(libusb_context*), const char* during) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    libusb_context* context = contextLocked(lib);
    if (!context) return failWith(lib.initResult, during);
    const int changes = (lib.list.*find)(context);
    usb_busses = lib.list.head();
    return changes;
}

}  // namespace

extern "C" {

K350USB_EXPORT void usb_init(void) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    if (!contextLocked(lib)) failWith(lib.initResult, "usb_init");
}

K350USB_EXPORT void usb_set_debug(int level) {
    Library& lib = library();
    std::lock_guard lock(lib.mutex);
    libusb_context* context = contextLocked(lib);
    if (!context) return;
    const int mapped = level <= 0   ? LIBUSB_LOG_LEVEL_NONE
                       : level >= 4 ? LIBUSB_LOG_LEVEL_DEBUG
                                    : level;
    libusb_set_option(context, LIBUSB_OPTION_LOG_LEVEL, mapped);
}

K350USB_EXPORT int usb_find_busses(void) {
    return refreshList(&UsbDeviceList::findBusses, "usb_find_busses");
}

K350USB_EXPORT int usb_find_devices(void) {
    return refreshList(&UsbDeviceList::findDevices, "usb_find_devices");
}

K350USB_EXPORT struct usb_bus* usb_get_busses(void) {
    return usb_busses;
}

K350USB_EXPORT usb_dev_handle* usb_open(struct usb_device* dev) {
    if (dev == nullptr || dev->dev == nullptr) {
        // A device from an earlier list that has gone since.
        rememberFailure(-ENODEV, "usb_open");
        return nullptr;
    }
    libusb_device_handle* handle = nullptr;
    const int result = libusb_open(static_cast<libusb_device*>(dev->dev), &handle);
    if (result != 0) {
        failWith(result, "usb_open");
        return nullptr;
    }
    return new usb_dev_handle{handle, dev};
}

K350USB_EXPORT int usb_close(usb_dev_handle* dev) {
    if (dev == nullptr) return rememberFailure(-EINVAL, "usb_close");
    libusb_close(dev->handle);
    delete dev;
    return 0;
}

K350USB_EXPORT int usb_set_configuration(usb_dev_handle* dev, int configuration) {
    if (dev == nullptr) return rememberFailure(-EINVAL, "usb_set_configuration");
    const int result = libusb_set_configuration(dev->handle, configuration);
    return result == 0 ? 0 : failWith(result, "usb_set_configuration");
}

K350USB_EXPORT int usb_claim_interface(usb_dev_handle* dev, int interface) {
    if (dev == nullptr) return rememberFailure(-EINVAL, "usb_claim_interface");
    const int result = libusb_claim_interface(dev->handle, interface);
    return result == 0 ? 0 : failWith(result, "usb_claim_interface");
}

K350USB_EXPORT int usb_release_interface(usb_dev_handle* dev, int interface) {
    if (dev == nullptr) return rememberFailure(-EINVAL, "usb_release_interface");
    const int result = libusb_release_interface(dev->handle, interface);
    return result == 0 ? 0 : failWith(result, "usb_release_interface");
}

// libusb-1.0 says only whether a kernel driver is bound; the name, and "usbfs" for another
// program's claim, come from the node as libusb-0.1 asked it.
K350USB_EXPORT int usb_get_driver_np(usb_dev_handle* dev, int interface, char* name,
                                     unsigned int namelen) {
    if (dev == nullptr || name == nullptr || namelen == 0 || interface < 0)
        return rememberFailure(-EINVAL, "usb_get_driver_np");
    libusb_device* device = libusb_get_device(dev->handle);
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u",
                  unsigned(libusb_get_bus_number(device)),
                  unsigned(libusb_get_device_address(device)));
    const int fd = open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0) return rememberFailure(-errno, "usb_get_driver_np");
    usbdevfs_getdriver question{};
    question.interface = unsigned(interface);
    const int result = ioctl(fd, USBDEVFS_GETDRIVER, &question) == 0 ? 0 : -errno;
    close(fd);
    if (result < 0) return rememberFailure(result, "usb_get_driver_np");
    std::snprintf(name, namelen, "%s", question.driver);
    return 0;
}

K350USB_EXPORT int usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size,
                                  int timeout) {
    // The bytes are only read: libusb-1.0 takes one buffer type for both directions.
    return bulk(dev, static_cast<unsigned char>(ep & ~USB_ENDPOINT_IN), const_cast<char*>(bytes),
                size, timeout, "usb_bulk_write");
}

K350USB_EXPORT int usb_bulk_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
    return bulk(dev, static_cast<unsigned char>(ep | USB_ENDPOINT_IN), bytes, size, timeout,
                "usb_bulk_read");
}

K350USB_EXPORT char* usb_strerror(void) {
    return LastFailureText();
}

K350USB_EXPORT struct usb_device* usb_device(usb_dev_handle* dev) {
    return dev ? dev->device : nullptr;
}

}  // extern "C"
