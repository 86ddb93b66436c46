#include "shell/DeviceForm.h"

// Placeholder: the file and task commands are not built yet.
void TFDevice::MFileOpenClick() {}
void TFDevice::MFileCloseClick() { CloseDevice(); }
void TFDevice::MFileSaveClick() {}
void TFDevice::MFileSaveAsClick() {}
void TFDevice::MTaskGetClick() {}
void TFDevice::MTaskSetClick() {}
void TFDevice::CloseDevice() { closeAllTaskWindows(); }
