// The shared icon list of the menus, toolbars and device tree, by index.
#pragma once

#include <QIcon>

namespace ImageIndex {
constexpr int Open = 7, Save = 8, SaveAs = 9, TileVertical = 16, TileHorizontal = 17, Cascade = 18,
              Statistics = 42, BoardInfo = 43, Read = 45, Write = 46, TaskGroup = 48, Trace = 49,
              ServiceGroup = 50, Firmware = 51, Device = 65, Codec = 66, Information = 67,
              Amplifier = 68, DeviceGroup = 70, Vocoder = 71, Recorder = 72;
}

QIcon ImageListIcon(int index);
