#include "TLed.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>

TLed::TLed(QWidget* parent) : QWidget(parent)
{
    setFixedSize(20, 18);
}

void TLed::setActive(bool value)
{
    if (active_ == value)
        return;
    active_ = value;
    update();
}

void TLed::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor base = active_ ? QColor(0, 190, 0) : QColor(220, 0, 0);
    const qreal d = qMin(width(), height()) - 6;
    const QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    QRadialGradient g(r.center() - QPointF(d / 5, d / 5), d * 0.75);
    g.setColorAt(0, base.lighter(170));
    g.setColorAt(1, base.darker(120));
    p.setPen(QPen(base.darker(200), 1));
    p.setBrush(g);
    p.drawEllipse(r);
}

void TLed::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}
