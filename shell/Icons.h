// The shared icon list of the menus, toolbars and device tree, by index.
#pragma once

#include <QIcon>

namespace ImageIndex {
constexpr int Open = 7, Save = 8, SaveAs = 9, TileVertical = 16, TileHorizontal = 17, Cascade = 18,
              Statistics = 42, BoardInfo = 43, Read = 45, Write = 46, TaskGroup = 48, Trace = 49,
              ServiceGroup = 50, Firmware = 51, Device = 65, Codec = 66, Information = 67,
              Amplifier = 68, Uart = 69, DeviceGroup = 70, Vocoder = 71, Recorder = 72;
}

constexpr int kIconSize = 16;  // painted also at twice this for high-density screens

// The icon of an index, with a disabled state; a null icon for an unused index.
QIcon ImageListIcon(int index);
// Every index that has a picture, ascending.
QList<int> ImageListIndexes();
