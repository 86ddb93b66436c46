#include "editors/GainBar.h"

#include <QApplication>
#include <QProxyStyle>
#include <QSlider>
#include <QStyleOptionSlider>

namespace {

// A style fills a vertical groove from the end the minimum lies at. Drawing
// the bar as its mirror image (other end up, mirrored position) puts the
// handle in the same place but fills from the bottom; hit testing is unchanged.
class BottomFilledBarStyle : public QProxyStyle {
public:
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_Slider || !bar || bar->orientation != Qt::Vertical) {
            return QProxyStyle::drawComplexControl(control, option, painter, widget);
        }
        QStyleOptionSlider mirrored(*bar);
        mirrored.upsideDown = !bar->upsideDown;
        mirrored.sliderPosition = bar->minimum + bar->maximum - bar->sliderPosition;
        mirrored.sliderValue = bar->minimum + bar->maximum - bar->sliderValue;
        QProxyStyle::drawComplexControl(control, &mirrored, painter, widget);
    }
};

QStyle* bottomFilledBarStyle() {
    static QStyle* style = [] {
        auto* created = new BottomFilledBarStyle;
        created->setParent(qApp);  // goes with the application, after its windows
        return created;
    }();
    return style;
}

}  // namespace

void MakeTopDownBar(QSlider* bar) {
    bar->setOrientation(Qt::Vertical);
    // Qt puts a vertical bar's minimum at the bottom.
    bar->setInvertedAppearance(true);
    bar->setStyle(bottomFilledBarStyle());
}
