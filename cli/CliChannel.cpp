#include "cli/CliChannel.h"

#include <algorithm>
#include <cstring>

#include "link/LinkTypes.h"

namespace {

bool isProgressWindow(WindowId window) {
    return window == WindowId::FRead || window == WindowId::FSave || window == WindowId::FFlash;
}
}  // namespace

bool CliChannel::Outcome::hasStatus(int status) const {
    return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
}

bool CliChannel::deliver(WindowId to, WindowGeneration, WorkerNotification notification) {
    if (to == WindowId::FDevice) {
        switch (notification.code) {
            case NotifyCode::Status:
                outcome.statuses.push_back(int(notification.value));
                break;
            case NotifyCode::Error:
                outcome.errors.push_back(int(notification.value));
                break;
            case NotifyCode::ConfigData: {
                ConfigSnapshot snapshot;
                std::memcpy(snapshot.data(), reinterpret_cast<const void*>(notification.value),
                            kSnapshotSize);
                outcome.snapshot = snapshot;
                break;
            }
            case NotifyCode::FillData:
                if (approveTransfer && !approveTransfer()) return false;
                fillTransfer(notification.value);
                break;
            default:
                break;
        }
        return true;
    }
    deliverToWindow(to, notification);
    return true;
}

void CliChannel::deliverToWindow(WindowId to, WorkerNotification notification) {
    switch (notification.code) {
        case NotifyCode::FillData:
            if (to == WindowId::FTrace) {
                auto* word = reinterpret_cast<std::uint8_t*>(notification.value);
                word[0] = std::uint8_t(traceMask & 0xFF);
                word[1] = std::uint8_t(traceMask >> 8);
            } else {
                fillTransfer(notification.value);
            }
            break;
        case NotifyCode::Total:
            outcome.total = std::uint32_t(notification.value);
            if (onProgress) onProgress(0, outcome.total);
            break;
        case NotifyCode::Progress:
            if (onProgress) onProgress(std::uint32_t(notification.value), outcome.total);
            break;
        case NotifyCode::Done:
            if (isProgressWindow(to)) {
                outcome.done = std::uint32_t(notification.value);
            } else {
                outcome.windowStopped = true;
            }
            break;
        case NotifyCode::Statistics: {
            outcome.statistics = *reinterpret_cast<const LinkStatisticsReply*>(notification.value);
            break;
        }
        case NotifyCode::TraceLines:
            if (onTraceLines) {
                onTraceLines(
                    *reinterpret_cast<const std::vector<std::string>*>(notification.value));
            }
            break;
        default:
            break;
    }
}

void CliChannel::fillTransfer(std::intptr_t value) const {
    if (transferBytes) reinterpret_cast<TransferData*>(value)->hold(transferBytes);
}

bool CliChannel::requestClose(WindowId, WindowGeneration) {
    outcome.windowClosed = true;
    return true;
}
