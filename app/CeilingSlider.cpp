#include "app/CeilingSlider.h"

#include "app/KindDisplay.h"

#include <QPainter>
#include <QStyleOptionSlider>

CeilingSlider::CeilingSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setMaximum(100);
}

void CeilingSlider::setHeldAt(std::optional<int> percent) {
    if (percent == heldAt_) {
        return;
    }
    heldAt_ = percent;
    setToolTip(heldText());
    setAccessibleDescription(heldText());
    update();
}

QString CeilingSlider::heldText() const {
    return heldAt_ ? KindDisplay::text("Held at %1 % by its ceiling").arg(*heldAt_) : QString();
}

void CeilingSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if (!heldAt_) {
        return;
    }
    QStyleOptionSlider option;
    initStyleOption(&option);
    QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    // Where the handle's middle would be at the ceiling.
    int x = groove.x() + handle.width() / 2 +
            QStyle::sliderPositionFromValue(minimum(), maximum(), *heldAt_,
                                            groove.width() - handle.width(), option.upsideDown);
    QPainter painter(this);
    painter.setPen(QPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText),
        2));
    int reach = std::max(3, handle.height() / 2);
    painter.drawLine(x, groove.center().y() - reach, x, groove.center().y() + reach);
}
