#include "shell/DeviceForm.h"

// Placeholder: the access dialog is not built yet.
void TFDevice::MServUserClick() { setServiceLevel(ServiceLevel::User); }
void TFDevice::MServExtClick() {}
void TFDevice::setServiceLevel(ServiceLevel level) {
    serviceLevel_ = level;
    BuildTree();
}
