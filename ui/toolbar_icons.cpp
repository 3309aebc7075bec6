// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

#include "ui/command_ids.h"

namespace zta {

namespace {

using Draw = std::function<void(QPainter&)>;

QIcon render(const Draw& draw) {
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pm(16 * scale, 16 * scale);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(scale, scale);
        draw(p);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

const QColor kInk(40, 40, 40);

void badge(QPainter& p, const QColor& fill, const QString& text, int pointSize = 9) {
    p.setPen(QPen(fill.darker(140), 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
    QFont f = p.font();
    f.setPixelSize(pointSize + 2);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, text);
}

void page(QPainter& p) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(Qt::white);
    QPainterPath path;
    path.moveTo(3.5, 1.5);
    path.lineTo(9.5, 1.5);
    path.lineTo(12.5, 4.5);
    path.lineTo(12.5, 14.5);
    path.lineTo(3.5, 14.5);
    path.closeSubpath();
    p.drawPath(path);
}

void drawClock(QPainter& p) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(QColor(250, 250, 235));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.drawLine(QPointF(8, 8), QPointF(8, 4));
    p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
}

void cross(QPainter& p, const QRectF& r) {
    p.setPen(QPen(QColor(200, 30, 30), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

void plug(QPainter& p, bool joined) {
    const QColor c = joined ? QColor(30, 140, 50) : QColor(190, 40, 40);
    p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    if (joined) {
        p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
        p.setBrush(c);
        p.drawRect(QRectF(5, 5, 6, 6));
    } else {
        p.drawLine(QPointF(1.5, 8), QPointF(5.5, 8));
        p.drawLine(QPointF(10.5, 8), QPointF(14.5, 8));
        p.setBrush(c);
        p.drawRect(QRectF(3.5, 5, 3, 6));
        p.drawRect(QRectF(9.5, 5, 3, 6));
    }
}

void magnifier(QPainter& p) {
    p.setPen(QPen(kInk, 1.6));
    p.setBrush(QColor(200, 225, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
}

}  // namespace

QIcon toolIcon(CommandId id) {
    switch (id) {
        case CommandId::ToolNewDocument:
            return render([](QPainter& p) {
                page(p);
                p.setPen(QPen(QColor(30, 140, 50), 2));
                p.drawLine(QPointF(8, 6), QPointF(8, 12));
                p.drawLine(QPointF(5, 9), QPointF(11, 9));
            });
        case CommandId::ToolRecordFolder:
            return render([](QPainter& p) {
                p.setPen(QPen(QColor(150, 110, 20), 1));
                p.setBrush(QColor(245, 200, 80));
                p.drawRect(QRectF(1.5, 4.5, 13, 9));
                p.drawRect(QRectF(1.5, 2.5, 5, 2));
            });
        case CommandId::ToolRecord:
            return render([](QPainter& p) {
                p.setPen(QPen(QColor(20, 50, 120), 1));
                p.setBrush(QColor(60, 100, 190));
                p.drawRect(QRectF(1.5, 1.5, 13, 13));
                p.setBrush(Qt::white);
                p.drawRect(QRectF(4.5, 1.5, 7, 5));
                p.setBrush(QColor(220, 220, 220));
                p.drawRect(QRectF(3.5, 9.5, 9, 5));
            });
        case CommandId::ToolSetTimer:
            return render([](QPainter& p) { drawClock(p); });
        case CommandId::ToolStopTimer:
            return render([](QPainter& p) {
                drawClock(p);
                cross(p, QRectF(9, 9, 5.5, 5.5));
            });
        case CommandId::ToolConnect:
            return render([](QPainter& p) { plug(p, true); });
        case CommandId::ToolDisconnect:
            return render([](QPainter& p) { plug(p, false); });
        case CommandId::ToolSearch:
            return render([](QPainter& p) { magnifier(p); });
        case CommandId::ToolStopSearch:
            return render([](QPainter& p) {
                magnifier(p);
                cross(p, QRectF(9.5, 1.5, 5, 5));
            });
        case CommandId::ToolSetZero:
            return render([](QPainter& p) { badge(p, QColor(90, 90, 90), "0"); });
        case CommandId::ToolHighGas:
            return render([](QPainter& p) { badge(p, QColor(200, 60, 40), "В"); });
        case CommandId::ToolMiddleGas:
            return render([](QPainter& p) { badge(p, QColor(220, 140, 20), "С"); });
        case CommandId::ToolTypicalConcentration:
            return render([](QPainter& p) { badge(p, QColor(120, 80, 170), "Т"); });
        case CommandId::ToolThreshold1:
            return render([](QPainter& p) { badge(p, QColor(200, 150, 0), "1"); });
        case CommandId::ToolThreshold2:
            return render([](QPainter& p) { badge(p, QColor(210, 90, 0), "2"); });
        case CommandId::ToolInsertActive:
            return render([](QPainter& p) {
                page(p);
                p.setPen(QPen(kInk, 1));
                for (double y : {5.5, 8.5, 11.5}) p.drawLine(QPointF(5, y), QPointF(11, y));
                p.setPen(QPen(QColor(30, 140, 50), 2));
                p.drawLine(QPointF(5, 8.5), QPointF(11, 8.5));
            });
        case CommandId::SoftwareInfoActive:
            return render([](QPainter& p) { badge(p, QColor(40, 110, 200), "i"); });
        case CommandId::SoftwareInfoAll:
            return render([](QPainter& p) {
                p.setPen(QPen(QColor(20, 60, 120), 1));
                p.setBrush(QColor(120, 160, 220));
                p.drawRoundedRect(QRectF(0.5, 0.5, 10, 10), 2, 2);
                badge(p, QColor(40, 110, 200), "");
                QFont f = p.font();
                f.setPixelSize(10);
                f.setBold(true);
                p.setFont(f);
                p.setPen(Qt::white);
                p.drawText(QRectF(3, 3, 13, 13), Qt::AlignCenter, "i");
            });
        case CommandId::ToolChangeNumber:
            return render([](QPainter& p) { badge(p, QColor(30, 130, 130), "№", 8); });
        case CommandId::ToolChangeSpeed:
            return render([](QPainter& p) {
                p.setPen(QPen(QColor(30, 130, 130), 1));
                p.setBrush(QColor(30, 130, 130));
                p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 3, 3);
                p.setPen(QPen(Qt::white, 1.5));
                QPainterPath wave;
                wave.moveTo(3, 8);
                wave.cubicTo(5, 2, 6, 2, 8, 8);
                wave.cubicTo(10, 14, 11, 14, 13, 8);
                p.setBrush(Qt::NoBrush);
                p.drawPath(wave);
            });
        case CommandId::ToolAbout:
            return render([](QPainter& p) { badge(p, QColor(60, 120, 60), "?"); });
        default:
            return {};
    }
}

QIcon stationIcon() {
    return render([](QPainter& p) {
        p.setPen(QPen(QColor(20, 50, 100), 1));
        p.setBrush(QColor(40, 90, 160));
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3, 3);
        p.setBrush(QColor(120, 230, 120));
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(3, 3, 10, 5));
        QFont f = p.font();
        f.setPixelSize(7);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 8, 16, 8), Qt::AlignCenter, "K7");
    });
}

}  // namespace zta
