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
#include "shell/ConfigDocument.h"
#include "shell/FileCommands.h"
#include "shell/ShellWindow.h"
#include "transfer/FlashForm.h"

namespace {
using Context = TaskDispatch::Context;

// At most one window per class: an open one only comes to the front; a new one
// is loaded (load returns false when it cannot run) and then shown.
template <class Window, class Load>
void openTaskWindow(ShellWindow& main, WindowId id, Load load) {
    if (auto* open = WindowRegistry::Find<Window>(id)) return main.bringToFront(open);
    auto* window = new Window;
    // A window closed while it was being loaded is never shown.
    if (!load(*window) || window->isClosing()) {
        delete window;
        return;
    }
    main.showTaskWindow(window);
}

template <class Window>
void openTaskWindow(ShellWindow& main, WindowId id) {
    openTaskWindow<Window>(main, id, [](Window&) { return true; });
}

struct DispatchEntry {
    NodeTask task;
    void (*activate)(const Context& c);
};

const DispatchEntry kDispatch[] = {
    {NodeTask::Read, [](const Context& c) { c.files.readDevice(); }},
    {NodeTask::Write, [](const Context& c) { c.files.writeDevice(); }},
    {NodeTask::Firmware,
     [](const Context& c) {
         openTaskWindow<TFFlash>(c.window, WindowId::FFlash,
                                 [](TFFlash& w) { return w.loadImageAndStart(); });
     }},
    {NodeTask::Statistics,
     [](const Context& c) { openTaskWindow<TFReport>(c.window, WindowId::FReport); }},
    {NodeTask::Codec,
     [](const Context& c) {
         openTaskWindow<TFCodec>(c.window, WindowId::FCodec, [&c](TFCodec& w) {
             w.LoadSettings(c.document.model(), c.document.codecBlock());
             return true;
         });
     }},
    {NodeTask::Vocoder,
     [](const Context& c) {
         openTaskWindow<TFVocoder>(c.window, WindowId::FVocoder, [&c](TFVocoder& w) {
             w.LoadSettings(c.document.vocoderBlock());
             return true;
         });
     }},
    {NodeTask::Recorder,
     [](const Context& c) {
         openTaskWindow<TFRecoder>(c.window, WindowId::FRecoder, [&c](TFRecoder& w) {
             w.LoadSettings(c.document.model(), c.document.recorderBlock());
             return true;
         });
     }},
    {NodeTask::Amplifier,
     [](const Context& c) {
         openTaskWindow<TFAudio>(c.window, WindowId::FAudio, [&c](TFAudio& w) {
             w.LoadSettings(c.document.amplifierBlock());
             return true;
         });
     }},
    {NodeTask::Information,
     [](const Context& c) {
         c.document.refreshCrc();  // also when the window is already open
         openTaskWindow<TFInfo>(c.window, WindowId::FInfo, [&c](TFInfo& w) {
             w.LoadSettings(c.document.boardInfoBlock(), c.document.deviceIds(),
                            c.document.storedCrc(), std::uint32_t(kSnapshotSize));
             return true;
         });
     }},
    {NodeTask::BoardInfo,
     [](const Context& c) {
         openTaskWindow<TFBoard>(c.window, WindowId::FBoard, [&c](TFBoard& w) {
             w.LoadSettings(c.document.boardInfoBlock());
             return true;
         });
     }},
    {NodeTask::Trace,
     [](const Context& c) { openTaskWindow<TFTrace>(c.window, WindowId::FTrace); }},
    {NodeTask::Uart,
     [](const Context& c) {
         openTaskWindow<TFUart>(c.window, WindowId::FUart, [&c](TFUart& w) {
             w.LoadSettings(c.document.uartBlock());
             return true;
         });
     }},
};
}  // namespace

void TaskDispatch::activate(NodeTask task) {
    for (const DispatchEntry& entry : kDispatch) {
        if (entry.task == task) return entry.activate(context_);
    }
}
