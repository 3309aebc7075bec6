// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

namespace zta {

class FrameRing;

// The last frames of the line, two lines an exchange (the zta-bus --trace lines). Reads the
// ring only while shown: closed, it costs the bus nothing.
class TrafficMonitor : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 20000;
    static constexpr int kPullMs = 200;

    explicit TrafficMonitor(const FrameRing& ring, QWidget* parent = nullptr);

    void setPaused(bool paused);
    bool paused() const;
    // -1 shows every network number.
    void setFilter(int networkNumber);
    int filter() const;
    // Reads what the ring has gained since the last pull (the timer calls this).
    void pull();
    QString text() const;
    // Writes the lines shown as UTF-8 text. False with the reason.
    bool saveTo(const QString& path, QString* error = nullptr) const;

    QPlainTextEdit* lines() const { return text_; }
    QCheckBox* pauseBox() const { return pause_; }
    QSpinBox* filterBox() const { return filter_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void reload();
    void askAndSave();

    const FrameRing& ring_;
    uint64_t last_ = 0;
    QTimer timer_;
    QCheckBox* pause_;
    QSpinBox* filter_;
    QPushButton* save_;
    QPushButton* clear_;
    QPlainTextEdit* text_;
};

}  // namespace zta
