// The menu "Сервис": the user level at once, the service levels by code.
#include "shell/AccessForm.h"
#include "shell/DeviceForm.h"
#include "ui/Dialogs.h"

void TFDevice::MServUserClick() {
    setServiceLevel(ServiceLevel::User);
}

void TFDevice::MServExtClick() {
    std::optional<ServiceLevel> granted;
    {
        TFAccess access(this);
        access.exec();
        granted = access.grantedLevel();
    }
    if (granted) {
        serviceLevel_ = *granted;
    } else {
        serviceLevel_ = ServiceLevel::User;
        AppDialogs().message(this, "Код доступа неправильный");
    }
    BuildTree();
}

// A change of level touches neither the configuration nor the open windows.
void TFDevice::setServiceLevel(ServiceLevel level) {
    serviceLevel_ = level;
    BuildTree();
}
