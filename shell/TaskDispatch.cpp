#include "shell/TaskDispatch.h"

#include "editors/AudioForm.h"
#include "editors/CodecForm.h"
#include "editors/FormUart.h"
#include "editors/RecoderForm.h"
#include "editors/VocoderForm.h"
#include "monitor/BoardForm.h"
#include "monitor/FormInfo.h"
#include "monitor/ReportForm.h"
#include "monitor/TraceForm.h"
#include "shell/DeviceForm.h"
#include "transfer/FlashForm.h"

namespace {
// At most one window per class: an open one only comes to the front; a new one
// is loaded (load returns false when it cannot run) and then shown.
template <class Window, class Load>
void openTaskWindow(TFDevice& main, WindowId id, Load load) {
    if (auto* open = WindowRegistry::Find<Window>(id)) return TFDevice::bringToFront(open);
    auto* window = new Window;
    // A window closed while it was being loaded is never shown.
    if (!load(*window) || window->isClosing()) {
        delete window;
        return;
    }
    main.showTaskWindow(window);
}

template <class Window>
void openTaskWindow(TFDevice& main, WindowId id) {
    openTaskWindow<Window>(main, id, [](Window&) { return true; });
}

std::uint8_t* at(TFDevice& main, std::size_t offset) {
    return main.config().data() + offset;
}

struct DispatchEntry {
    NodeTask task;
    void (*activate)(TFDevice& main);
};

const DispatchEntry kDispatch[] = {
    {NodeTask::Read, [](TFDevice& m) { m.MTaskGetClick(); }},
    {NodeTask::Write, [](TFDevice& m) { m.MTaskSetClick(); }},
    {NodeTask::Firmware,
     [](TFDevice& m) {
         openTaskWindow<TFFlash>(m, WindowId::FFlash,
                                 [](TFFlash& w) { return w.loadImageAndStart(); });
     }},
    {NodeTask::Statistics, [](TFDevice& m) { openTaskWindow<TFReport>(m, WindowId::FReport); }},
    {NodeTask::Codec,
     [](TFDevice& m) {
         openTaskWindow<TFCodec>(m, WindowId::FCodec, [&m](TFCodec& w) {
             w.LoadSettings(m.modelByte(), at(m, ConfigOffset::Codec));
             return true;
         });
     }},
    {NodeTask::Vocoder,
     [](TFDevice& m) {
         openTaskWindow<TFVocoder>(m, WindowId::FVocoder, [&m](TFVocoder& w) {
             w.LoadSettings(at(m, ConfigOffset::Vocoder));
             return true;
         });
     }},
    {NodeTask::Recorder,
     [](TFDevice& m) {
         openTaskWindow<TFRecoder>(m, WindowId::FRecoder, [&m](TFRecoder& w) {
             w.LoadSettings(m.modelByte(), at(m, ConfigOffset::Recorder));
             return true;
         });
     }},
    {NodeTask::Amplifier,
     [](TFDevice& m) {
         openTaskWindow<TFAudio>(m, WindowId::FAudio, [&m](TFAudio& w) {
             w.LoadSettings(at(m, ConfigOffset::Amplifier));
             return true;
         });
     }},
    {NodeTask::Information,
     [](TFDevice& m) {
         RefreshCrc(m.crc(), m.config());  // also when the window is already open
         openTaskWindow<TFInfo>(m, WindowId::FInfo, [&m](TFInfo& w) {
             w.LoadSettings(at(m, ConfigOffset::BoardInfo), at(m, ConfigOffset::DieId),
                            StoredCrc(m.config()), std::uint32_t(kSnapshotSize));
             return true;
         });
     }},
    {NodeTask::BoardInfo,
     [](TFDevice& m) {
         openTaskWindow<TFBoard>(m, WindowId::FBoard, [&m](TFBoard& w) {
             w.LoadSettings(at(m, ConfigOffset::BoardInfo));
             return true;
         });
     }},
    {NodeTask::Trace, [](TFDevice& m) { openTaskWindow<TFTrace>(m, WindowId::FTrace); }},
    {NodeTask::Uart,
     [](TFDevice& m) {
         openTaskWindow<TFUart>(m, WindowId::FUart, [&m](TFUart& w) {
             w.LoadSettings(at(m, ConfigOffset::Uart));
             return true;
         });
     }},
};
}  // namespace

void TaskDispatch::activate(NodeTask task) {
    for (const DispatchEntry& entry : kDispatch) {
        if (entry.task == task) return entry.activate(main_);
    }
}
