#include "tests/support/WorkerFixture.h"

#include "config/ConfigImage.h"
#include "tests/support/SimTime.h"

void WorkerFixture::SetUp() {
    useBoard({});
    channel.open(WindowId::FDevice);
}

void WorkerFixture::TearDown() {
    worker.CloseLink();
    k350sim::reset();  // also drops the sim's reference to this fixture's clock
}

void WorkerFixture::emptyWorld() {
    worker.CloseLink();
    k350sim::reset();
    wireClock();
}

k350sim::DeviceId WorkerFixture::useBoard(const k350sim::BoardOptions& options) {
    emptyWorld();
    board = k350sim::addBoard(k350sim::addBus(), options);
    return board;
}

void WorkerFixture::wireClock() {
    RunSimOnClock(virtualClock);
}

void WorkerFixture::runOnce(WorkerRequest request) {
    worker.signal(request);
    worker.runOnePass();
}

RecordingChannel::Receiver WorkerFixture::fillWith(std::shared_ptr<const Bytes> bytes) {
    return [bytes](WorkerNotification notification) {
        if (notification.code != NotifyCode::FillData) return;
        reinterpret_cast<TransferData*>(notification.value)->hold(bytes);
    };
}

RecordingChannel::Receiver WorkerFixture::keepSnapshotAndFill(
    Bytes& installed, const std::shared_ptr<const Bytes>& record) {
    return [&installed, &record](WorkerNotification notification) {
        if (notification.code == NotifyCode::ConfigData) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(notification.value);
            installed.assign(bytes, bytes + kSnapshotSize);
        }
        if (notification.code == NotifyCode::FillData) fillWith(record)(notification);
    };
}

std::vector<std::intptr_t> WorkerFixture::valuesOf(WindowId window, std::uint32_t code) const {
    std::vector<std::intptr_t> values;
    for (const auto& [delivered, value] : channel.received(window)) {
        if (delivered == code) values.push_back(value);
    }
    return values;
}
