// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/device_icons.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <map>

namespace zta {

namespace {

constexpr int kSize = 32;

void drawSocket(QPainter& p) {
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.setBrush(QColor(235, 235, 225));
    p.drawRoundedRect(QRectF(20.5, 6.5, 10, 19), 2, 2);
    p.setBrush(QColor(40, 40, 40));
    p.drawEllipse(QPointF(25.5, 12.5), 1.5, 1.5);
    p.drawEllipse(QPointF(25.5, 19.5), 1.5, 1.5);
}

// The plug with its cable; `x` is the left edge of its body.
void drawPlug(QPainter& p, double x) {
    p.setPen(QPen(QColor(30, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable(QPointF(1, 27));
    cable.cubicTo(QPointF(4, 27), QPointF(x - 6, 16), QPointF(x, 16));
    p.drawPath(cable);
    p.setPen(QPen(QColor(30, 30, 30), 1));
    p.setBrush(QColor(70, 70, 80));
    p.drawRoundedRect(QRectF(x, 10, 7, 12), 1.5, 1.5);
    p.setPen(QPen(QColor(200, 170, 60), 1.6));
    p.drawLine(QPointF(x + 7, 12.5), QPointF(x + 11, 12.5));
    p.drawLine(QPointF(x + 7, 19.5), QPointF(x + 11, 19.5));
}

void drawLink(QPainter& p, bool up) {
    drawSocket(p);
    if (up) {
        drawPlug(p, 13.5);
    } else {
        drawPlug(p, 4);
        // A red stroke says "no link" even to someone who does not read the plug.
        p.setPen(QPen(QColor(200, 30, 30), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14, 9), QPointF(19, 23));
    }
}

void drawBulb(QPainter& p, const QColor& glow, bool lit) {
    const QPointF centre(16, 13);
    if (lit) {
        QRadialGradient halo(centre, 15);
        QColor outer = glow;
        outer.setAlpha(0);
        QColor inner = glow;
        inner.setAlpha(110);
        halo.setColorAt(0.5, inner);
        halo.setColorAt(1.0, outer);
        p.setPen(Qt::NoPen);
        p.setBrush(halo);
        p.drawEllipse(centre, 15, 15);
    }
    QRadialGradient glass(centre - QPointF(3, 3), 11);
    glass.setColorAt(0, lit ? glow.lighter(170) : QColor(245, 245, 245));
    glass.setColorAt(1, lit ? glow : QColor(170, 170, 170));
    p.setPen(QPen(lit ? glow.darker(160) : QColor(110, 110, 110), 1));
    p.setBrush(glass);
    p.drawEllipse(centre, 8.5, 8.5);
    p.setBrush(QColor(150, 150, 150));
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.drawRect(QRectF(12.5, 21, 7, 6));
    p.drawLine(QPointF(12.5, 23), QPointF(19.5, 23));
    p.drawLine(QPointF(12.5, 25), QPointF(19.5, 25));
    p.setPen(QPen(lit ? QColor(255, 255, 220) : QColor(120, 120, 120), 1));
    p.drawLine(QPointF(14, 14), QPointF(15.5, 11.5));
    p.drawLine(QPointF(15.5, 11.5), QPointF(16.5, 14));
    p.drawLine(QPointF(16.5, 14), QPointF(18, 11.5));
}

QPixmap draw(int id) {
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pm(QSize(kSize, kSize) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    switch (id) {
        case IconLinkUp:
            drawLink(p, true);
            break;
        case IconLinkDown:
            drawLink(p, false);
            break;
        case IconRelayGreen:
            drawBulb(p, QColor(40, 190, 60), true);
            break;
        case IconRelayRed:
            drawBulb(p, QColor(220, 40, 40), true);
            break;
        case IconRelayOff:
            drawBulb(p, QColor(160, 160, 160), false);
            break;
        default:
            return {};
    }
    return pm;
}

}  // namespace

QPixmap deviceIcon(int id) {
    // Drawn once: a data notice may redraw fifty windows.
    static std::map<int, QPixmap> cache;
    auto it = cache.find(id);
    if (it == cache.end()) it = cache.emplace(id, draw(id)).first;
    return it->second;
}

}  // namespace zta
