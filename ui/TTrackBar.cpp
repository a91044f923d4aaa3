#include "TTrackBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

TTrackBar::TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
}

void TTrackBar::setSelStart(int value)
{
    if (selStart_ == value)
        return;
    selStart_ = value;
    update();
}

void TTrackBar::setSelEnd(int value)
{
    if (selEnd_ == value)
        return;
    selEnd_ = value;
    update();
}

void TTrackBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);

    // Groove and ticks first, the bar over the groove, the thumb on top.
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);

    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    const auto xOf = [&](int v) {
        const int clamped = qBound(minimum(), v, maximum());
        return groove.left() + handle.width() / 2 +
               QStyle::sliderPositionFromValue(minimum(), maximum(), clamped, span, option.upsideDown);
    };
    const int from = xOf(selStart_);
    const int to = xOf(selEnd_);
    if (to != from) {
        const int h = qMax(3, groove.height() / 2);
        QRect bar(QPoint(qMin(from, to), groove.center().y() - h / 2), QSize(qAbs(to - from), h));
        painter.fillRect(bar, palette().color(isEnabled() ? QPalette::Highlight : QPalette::Mid));
    }

    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
