#include "shell/ChildFrames.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProxyStyle>

#include "ui/TaskWindow.h"

namespace {
// A maximised child keeps its own title bar inside the client area instead of merging its
// buttons into the menu bar and its title into the main window's caption, which stays fixed.
class KeptTitleStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_Workspace_FillSpaceOnMaximize) return 1;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

// A fixed frame keeps its minimise button, which arranging the icons needs, and
// loses maximising and resizing (the MDI frame honours the fixed-size hint).
constexpr Qt::WindowFlags kFixedFrameFlags =
    Qt::SubWindow | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
    Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
}  // namespace

ChildFrames::ChildFrames(QMdiArea* area, QIcon fallbackIcon)
    : area_(area), fallbackIcon_(std::move(fallbackIcon)), frameStyle_(new KeptTitleStyle) {
    frameStyle_->setParent(area_);
}

void ChildFrames::show(TaskWindow* window) {
    const int openCount = area_->subWindowList().size();
    const bool fixed = window->hasFixedFrame();
    QMdiSubWindow* frame =
        fixed ? area_->addSubWindow(window, kFixedFrameFlags) : area_->addSubWindow(window);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    frame->setStyle(frameStyle_);
    frame->setWindowTitle(window->windowTitle());
    frame->setWindowIcon(window->windowIcon().isNull() ? fallbackIcon_ : window->windowIcon());
    const int offset = window->opensAtClientCorner() ? 0 : 10 * openCount;
    frame->move(offset, offset);
    frame->show();
    if (!fixed) return frame->adjustSize();
    // Exactly around the window; tiling then only moves the frame, and nothing can stretch it.
    const QMargins border = frame->contentsMargins();
    frame->setFixedSize(window->width() + border.left() + border.right(),
                        window->height() + border.top() + border.bottom());
}

void ChildFrames::bringToFront(TaskWindow* window) {
    if (!window) return;
    if (auto* frame = qobject_cast<QMdiSubWindow*>(window->parentWidget())) {
        if (frame->mdiArea()) frame->mdiArea()->setActiveSubWindow(frame);
        frame->raise();
    }
    window->raise();
    window->activateWindow();
}

void ChildFrames::closeAll() {
    for (QMdiSubWindow* frame : area_->subWindowList()) frame->close();
}

void ChildFrames::destroyAll() {
    for (QMdiSubWindow* frame : area_->subWindowList()) delete frame;
}

bool ChildFrames::isEmpty() const {
    return area_->subWindowList().isEmpty();
}
