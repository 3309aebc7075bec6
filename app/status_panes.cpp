// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/status_panes.h"

#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <algorithm>

namespace zta {

namespace {

const int kBasePaneWidths[StatusPanes::kPaneCount] = {0, 40, 29, 70, 21, 21};

QString periodText(int period) {
    return period == 0 ? QStringLiteral("Таймер не установлен")
                       : QStringLiteral("Таймер - %1 сек.").arg(period);
}

}  // namespace

StatusPanes::StatusPanes(QMainWindow& window)
    : mainBar_(new QStatusBar), timerBar_(new QStatusBar) {
    mainBar_->setObjectName(QStringLiteral("statusBar"));
    window.setStatusBar(mainBar_);
    for (int i = 0; i < kPaneCount; ++i) {
        panes_[i] = new QLabel;
        panes_[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        if (i == 0) {
            mainBar_->addWidget(panes_[i], 1);
        } else {
            panes_[i]->setFrameShape(QFrame::Panel);
            panes_[i]->setFrameShadow(QFrame::Sunken);
            panes_[i]->setAlignment(Qt::AlignCenter);
            mainBar_->addPermanentWidget(panes_[i]);
        }
    }
    setText(0, QStringLiteral("Ready"));
    setText(1, QStringLiteral("----"));
    setText(2, QStringLiteral("9600"));

    timerBar_->setObjectName(QStringLiteral("timerBar"));
    timerBar_->setSizeGripEnabled(false);
    for (int i = 0; i < kTimerPaneCount; ++i) {
        timerPanes_[i] = new QLabel;
        timerPanes_[i]->setObjectName(QStringLiteral("timerPane%1").arg(i));
        timerBar_->addWidget(timerPanes_[i], i == 0 ? 1 : 0);
    }
}

void StatusPanes::setText(int index, const QString& text) {
    if (index < 0 || index >= kPaneCount) return;
    QLabel* pane = panes_[index];
    pane->setText(text);
    if (index == 0) return;
    // The historic widths are the least; every text is still shown whole.
    const int textWidth = pane->fontMetrics().horizontalAdvance(text);
    pane->setMinimumWidth(std::max(kBasePaneWidths[index], textWidth + 10));
}

QString StatusPanes::text(int index) const {
    return index >= 0 && index < kPaneCount ? panes_[index]->text() : QString();
}

QString StatusPanes::timerText(int index) const {
    return index >= 0 && index < kTimerPaneCount ? timerPanes_[index]->text() : QString();
}

void StatusPanes::showFolder(const QString& folder, int period, int width) {
    const int reserved = 7 * int(periodText(period).size());
    if (width > reserved) {
        timerPanes_[0]->setMinimumWidth(0);
        timerPanes_[0]->setMaximumWidth(width - reserved);
    }
    timerPanes_[0]->setText(folder + QStringLiteral("*.zta"));
    timerPanes_[0]->setToolTip(timerPanes_[0]->text());
}

void StatusPanes::showTimer(int period, int width) {
    const QString text = periodText(period);
    const int reserved = 7 * int(text.size());
    if (width > reserved) {
        const int textWidth = timerPanes_[1]->fontMetrics().horizontalAdvance(text) + 8;
        timerPanes_[1]->setMinimumWidth(std::max(reserved, textWidth));
    }
    timerPanes_[1]->setText(text);
}

}  // namespace zta
