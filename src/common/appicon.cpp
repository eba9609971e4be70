#include "appicon.h"

#include <QPainter>
#include <QPixmap>

namespace diagnostika {
namespace {

QPixmap rotor(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, size >= 48);
    const qreal s = size / 32.0;
    p.scale(s, s);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(0, 0, 128));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.setBrush(QColor(192, 192, 192));
    for (int i = 0; i < 4; ++i) {
        p.save();
        p.translate(16, 16);
        p.rotate(45.0 + 90.0 * i);
        p.drawRect(QRectF(-2, -12, 4, 9));
        p.restore();
    }
    p.setBrush(QColor(255, 255, 0));
    p.drawEllipse(QRectF(12, 12, 8, 8));
    return pixmap;
}

} // namespace

QPixmap appIconPixmap(int size)
{
    return rotor(size);
}

QIcon appIcon()
{
    // One icon for the whole run: Qt caches the pixmaps it scales from an icon under that icon's
    // own key, so a fresh icon for every window opened would leave a new entry behind each time.
    static const QIcon icon = [] {
        QIcon made;
        made.addPixmap(rotor(16));
        made.addPixmap(rotor(32));
        return made;
    }();
    return icon;
}

} // namespace diagnostika
