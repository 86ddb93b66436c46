#include "link/DirectObserver.h"

#include <algorithm>

bool DirectObserver::hasStatus(int status) const {
    return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
}

void DirectObserver::clearReports() {
    statuses.clear();
    errors.clear();
    totalBytes = 0;
}

bool DirectObserver::linkStatus(int status) {
    statuses.push_back(status);
    return true;
}

bool DirectObserver::failed(const Failure& failure) {
    errors.push_back(failure.result);
    return true;
}

bool DirectObserver::supply(TransferData& data) {
    if (cancelled()) return false;
    if (approveTransfer && !approveTransfer()) return false;
    if (bytes) data.hold(bytes);
    return true;
}

bool DirectObserver::fill(std::span<std::uint8_t> target) {
    std::copy_n(requestBytes.begin(), std::min(requestBytes.size(), target.size()),
                target.begin());
    return true;
}

bool DirectObserver::total(std::uint32_t bytes) {
    totalBytes = bytes;
    if (onProgress) onProgress(0, totalBytes);
    return !cancelled();
}

bool DirectObserver::progress(std::uint32_t bytesDone) {
    if (onProgress) onProgress(bytesDone, totalBytes);
    return !cancelled();
}
