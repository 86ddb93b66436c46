#include "usb/UsbErrors.h"

#include <libusb-1.0/libusb.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace k350usb {

namespace {
thread_local char failureText[160] = "no error";
}

int ErrnoResult(int libusbResult) {
    switch (libusbResult) {
        case LIBUSB_ERROR_IO:
            return -EIO;
        case LIBUSB_ERROR_INVALID_PARAM:
            return -EINVAL;
        case LIBUSB_ERROR_ACCESS:
            return -EACCES;
        case LIBUSB_ERROR_NO_DEVICE:
            return -ENODEV;
        case LIBUSB_ERROR_NOT_FOUND:
            return -ENOENT;
        case LIBUSB_ERROR_BUSY:
            return -EBUSY;
        case LIBUSB_ERROR_TIMEOUT:
            return -ETIMEDOUT;
        case LIBUSB_ERROR_OVERFLOW:
            return -EOVERFLOW;
        case LIBUSB_ERROR_PIPE:
            return -EPIPE;
        case LIBUSB_ERROR_INTERRUPTED:
            return -EINTR;
        case LIBUSB_ERROR_NO_MEM:
            return -ENOMEM;
        case LIBUSB_ERROR_NOT_SUPPORTED:
            return -ENOSYS;
        default:
            return libusbResult < 0 ? -ERANGE : libusbResult;
    }
}

int rememberFailure(int result, const char* during) {
    if (result < 0) {
        std::snprintf(failureText, sizeof failureText, "%s: %s (%d)", during,
                      std::strerror(-result), result);
        errno = -result;
    }
    return result;
}

char* LastFailureText() {
    return failureText;
}

}  // namespace k350usb
