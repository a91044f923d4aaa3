#include "NavIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>

#include <functional>

namespace {

QIcon Draw(int size, const std::function<void(QPainter&)>& paint)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    p.end();
    return QIcon(pm);
}

// A sheet of paper with a folded corner, the base of the table pictures.
void Sheet(QPainter& p)
{
    QPainterPath s;
    s.moveTo(2, 1);
    s.lineTo(9, 1);
    s.lineTo(12, 4);
    s.lineTo(12, 15);
    s.lineTo(2, 15);
    s.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawPath(s);
    p.setPen(QPen(QColor(150, 150, 150), 1));
    for (int y = 6; y <= 12; y += 3)
        p.drawLine(4, y, 10, y);
}

void Arrow(QPainter& p, bool down, const QColor& c)
{
    QPainterPath a;
    if (down) {
        a.moveTo(11, 6); a.lineTo(14, 6); a.lineTo(14, 10); a.lineTo(16, 10);
        a.lineTo(12.5, 15); a.lineTo(9, 10); a.lineTo(11, 10);
    } else {
        a.moveTo(11, 15); a.lineTo(14, 15); a.lineTo(14, 11); a.lineTo(16, 11);
        a.lineTo(12.5, 6); a.lineTo(9, 11); a.lineTo(11, 11);
    }
    a.closeSubpath();
    p.setPen(QPen(c.darker(150), 1));
    p.setBrush(c);
    p.drawPath(a);
}

} // namespace

namespace NavIcons {

QIcon Information()
{
    return Draw(32, [](QPainter& p) {
        QRadialGradient g(QPointF(12, 10), 20);
        g.setColorAt(0, QColor(120, 170, 255));
        g.setColorAt(1, QColor(20, 70, 180));
        p.setPen(QPen(QColor(10, 40, 120), 1.5));
        p.setBrush(g);
        p.drawEllipse(QRectF(2, 2, 28, 28));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(14, 7, 4.5, 4.5));
        p.drawRoundedRect(QRectF(14, 13.5, 4.5, 12), 1, 1);
    });
}

QIcon Options()
{
    return Draw(32, [](QPainter& p) {
        p.translate(16, 16);
        p.setPen(QPen(QColor(60, 60, 60), 1));
        p.setBrush(QColor(150, 155, 165));
        for (int i = 0; i < 8; ++i) {
            p.drawRoundedRect(QRectF(-3, -15, 6, 8), 1, 1);
            p.rotate(45);
        }
        p.drawEllipse(QRectF(-10.5, -10.5, 21, 21));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(-4.5, -4.5, 9, 9));
    });
}

QIcon Goods()
{
    return Draw(32, [](QPainter& p) {
        // A carton with a barcode label.
        p.setPen(QPen(QColor(110, 70, 20), 1.2));
        p.setBrush(QColor(215, 165, 90));
        p.drawRect(QRectF(3, 9, 26, 20));
        p.setBrush(QColor(235, 195, 130));
        QPolygonF lid;
        lid << QPointF(3, 9) << QPointF(8, 3) << QPointF(24, 3) << QPointF(29, 9);
        p.drawPolygon(lid);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(8, 14, 16, 11));
        p.setBrush(Qt::black);
        const int bars[] = {1, 2, 1, 1, 3, 1, 2, 1, 1, 2};
        qreal x = 9.5;
        for (int i = 0; i < 10; ++i) {
            if (i % 2 == 0)
                p.drawRect(QRectF(x, 15.5, bars[i] * 0.7, 8));
            x += bars[i] * 0.7 + 0.4;
        }
    });
}

QIcon Picture()
{
    return Draw(32, [](QPainter& p) {
        p.setPen(QPen(QColor(80, 60, 30), 1.2));
        p.setBrush(QColor(190, 150, 90));
        p.drawRect(QRectF(2, 4, 28, 24));
        p.setBrush(QColor(170, 215, 250));
        p.drawRect(QRectF(5, 7, 22, 18));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 210, 40));
        p.drawEllipse(QRectF(19, 9, 6, 6));
        p.setBrush(QColor(50, 140, 60));
        QPolygonF hills;
        hills << QPointF(5, 25) << QPointF(12, 14) << QPointF(17, 20) << QPointF(20, 17)
              << QPointF(27, 25);
        p.drawPolygon(hills);
    });
}

QIcon ReadTable()
{
    return Draw(16, [](QPainter& p) { Sheet(p); Arrow(p, true, QColor(40, 160, 40)); });
}

QIcon WriteTable()
{
    return Draw(16, [](QPainter& p) { Sheet(p); Arrow(p, false, QColor(220, 120, 20)); });
}

QIcon Import()
{
    return Draw(16, [](QPainter& p) {
        p.setPen(QPen(QColor(150, 110, 20), 1));
        p.setBrush(QColor(245, 205, 90));
        p.drawRect(QRectF(1, 5, 12, 9));
        p.drawRect(QRectF(1, 3, 5, 2));
        Arrow(p, true, QColor(40, 110, 210));
    });
}

QIcon Export()
{
    return Draw(16, [](QPainter& p) {
        p.setPen(QPen(QColor(150, 110, 20), 1));
        p.setBrush(QColor(245, 205, 90));
        p.drawRect(QRectF(1, 5, 12, 9));
        p.drawRect(QRectF(1, 3, 5, 2));
        Arrow(p, false, QColor(40, 110, 210));
    });
}

QIcon Stop()
{
    return Draw(16, [](QPainter& p) {
        QPolygonF oct;
        for (int i = 0; i < 8; ++i) {
            const qreal a = qDegreesToRadians(22.5 + 45.0 * i);
            oct << QPointF(8 + 7 * qCos(a), 8 + 7 * qSin(a));
        }
        p.setPen(QPen(QColor(120, 0, 0), 1));
        p.setBrush(QColor(215, 30, 30));
        p.drawPolygon(oct);
        p.setPen(QPen(Qt::white, 2));
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
    });
}

} // namespace NavIcons
