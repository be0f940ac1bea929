#include "app/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace zorvak {

QImage DrawClientIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // The screen: a rounded square with a deep blue to magenta gradient.
    QRectF screen(s * 0.04, s * 0.06, s * 0.92, s * 0.72);
    QLinearGradient fill(screen.topLeft(), screen.bottomRight());
    fill.setColorAt(0.0, QColor(0x1d, 0x3f, 0x9e));
    fill.setColorAt(1.0, QColor(0xc0, 0x1f, 0xb0));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(screen, s * 0.10, s * 0.10);

    // Its stand.
    p.setBrush(QColor(0x3a, 0x3a, 0x46));
    p.drawRect(QRectF(s * 0.44, s * 0.78, s * 0.12, s * 0.10));
    p.drawRoundedRect(QRectF(s * 0.26, s * 0.87, s * 0.48, s * 0.09), s * 0.03, s * 0.03);

    // The play mark.
    QPainterPath play;
    play.moveTo(s * 0.39, s * 0.22);
    play.lineTo(s * 0.69, s * 0.42);
    play.lineTo(s * 0.39, s * 0.62);
    play.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(play);
    return image;
}

QIcon ClientIcon() {
    QIcon icon;
    for (int size : kIconSizes) icon.addPixmap(QPixmap::fromImage(DrawClientIcon(size)));
    return icon;
}

}  // namespace zorvak
