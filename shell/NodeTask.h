// What activating a node of the device tree does. Each node carries its task, so the dispatch
// never depends on the caption a node shows.
#pragma once

enum class NodeTask {
    None,  // the root and the group nodes
    Read,
    Write,
    Firmware,
    Statistics,
    Codec,
    Vocoder,
    Recorder,
    Amplifier,
    Information,
    BoardInfo,
    Trace,
    Uart,
};
