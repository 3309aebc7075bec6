// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QLabel;
class QMainWindow;
class QStatusBar;

namespace zta {

// The main window's two status bars: the main one (state, port, rate, calibration gas and its
// two concentrations) and the second one under the analyzer windows (record folder, timer).
class StatusPanes {
  public:
    static constexpr int kPaneCount = 6;
    static constexpr int kTimerPaneCount = 2;

    // Makes both bars; the main one goes to `window`, the second one waits for its place.
    explicit StatusPanes(QMainWindow& window);

    QStatusBar* mainBar() const { return mainBar_; }
    QStatusBar* timerBar() const { return timerBar_; }
    QLabel* pane(int index) const { return panes_[index]; }
    QLabel* timerPane(int index) const { return timerPanes_[index]; }

    // Out-of-range indexes are ignored (empty texts).
    void setText(int pane, const QString& text);
    QString text(int pane) const;
    QString timerText(int pane) const;

    // The second bar for a record `period` in seconds (0: none), within `width` pixels.
    void showFolder(const QString& folder, int period, int width);
    void showTimer(int period, int width);

  private:
    QStatusBar* mainBar_;
    QStatusBar* timerBar_;
    QLabel* panes_[kPaneCount] = {};
    QLabel* timerPanes_[kTimerPaneCount] = {};
};

}  // namespace zta
