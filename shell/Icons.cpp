#include "shell/Icons.h"

#include <QApplication>
#include <QHash>
#include <QStyle>

QIcon ImageListIcon(int index) {
    static const QHash<int, QStyle::StandardPixmap> kStandard = {
        {ImageIndex::Open, QStyle::SP_DialogOpenButton},
        {ImageIndex::Save, QStyle::SP_DialogSaveButton},
        {ImageIndex::SaveAs, QStyle::SP_DriveFDIcon},
        {ImageIndex::TileVertical, QStyle::SP_TitleBarShadeButton},
        {ImageIndex::TileHorizontal, QStyle::SP_TitleBarUnshadeButton},
        {ImageIndex::Cascade, QStyle::SP_TitleBarNormalButton},
        {ImageIndex::Statistics, QStyle::SP_FileDialogDetailedView},
        {ImageIndex::BoardInfo, QStyle::SP_FileDialogInfoView},
        {ImageIndex::Read, QStyle::SP_ArrowDown},
        {ImageIndex::Write, QStyle::SP_ArrowUp},
        {ImageIndex::TaskGroup, QStyle::SP_DirIcon},
        {ImageIndex::Trace, QStyle::SP_FileDialogContentsView},
        {ImageIndex::ServiceGroup, QStyle::SP_DirLinkIcon},
        {ImageIndex::Firmware, QStyle::SP_BrowserReload},
        {ImageIndex::Device, QStyle::SP_ComputerIcon},
        {ImageIndex::Codec, QStyle::SP_MediaVolume},
        {ImageIndex::Information, QStyle::SP_MessageBoxInformation},
        {ImageIndex::Amplifier, QStyle::SP_MediaSeekForward},
        {ImageIndex::DeviceGroup, QStyle::SP_DriveHDIcon},
        {ImageIndex::Vocoder, QStyle::SP_MediaPlay},
        {ImageIndex::Recorder, QStyle::SP_DialogApplyButton},
    };
    auto found = kStandard.find(index);
    if (found == kStandard.end()) return {};
    return QApplication::style()->standardIcon(found.value());
}
