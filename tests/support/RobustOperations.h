// The eleven worker operations with the window that runs each, shared by the
// robustness tests with and without Qt.
#pragma once

#include <cstdint>
#include <vector>

#include "link/LinkTypes.h"

namespace robust {

struct WindowOperation {
    const char* name;
    WorkerRequest request;
    WindowId window;
    std::uint32_t successCode;  // what the window hears when the operation succeeds
};

inline const std::vector<WindowOperation>& windowOperations() {
    static const std::vector<WindowOperation> operations = {
        {"ReadConfig", WorkerRequest::ReadConfig, WindowId::FRead, NotifyCode::Done},
        {"WriteConfig", WorkerRequest::WriteConfig, WindowId::FSave, NotifyCode::Done},
        {"LoadFirmware", WorkerRequest::LoadFirmware, WindowId::FFlash, NotifyCode::Done},
        {"ReadStatistics", WorkerRequest::ReadStatistics, WindowId::FReport,
         NotifyCode::Statistics},
        {"ResetStatistics", WorkerRequest::ResetStatistics, WindowId::FReport,
         NotifyCode::Statistics},
        {"SendCodec", WorkerRequest::SendCodec, WindowId::FCodec, NotifyCode::FillData},
        {"SendAmplifier", WorkerRequest::SendAmplifier, WindowId::FAudio, NotifyCode::FillData},
        {"SendVocoder", WorkerRequest::SendVocoder, WindowId::FVocoder, NotifyCode::FillData},
        {"SendRecorder", WorkerRequest::SendRecorder, WindowId::FRecoder, NotifyCode::FillData},
        {"SetTrace", WorkerRequest::SetTrace, WindowId::FTrace, NotifyCode::FillData},
        {"PollTrace", WorkerRequest::PollTrace, WindowId::FTrace, NotifyCode::TraceLines},
    };
    return operations;
}

}  // namespace robust
