// How libusb-1.0 results become the libusb-0.1 API's negative errno values.
#pragma once

namespace k350usb {

// A libusb_error as the negative errno the 0.1 API returns (0 and positive values pass through).
int ErrnoResult(int libusbResult);

// Keeps the text usb_strerror() returns for the calling thread's last failure.
int rememberFailure(int errnoResult, const char* during);
char* LastFailureText();

}  // namespace k350usb
