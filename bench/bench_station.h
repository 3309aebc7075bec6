// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The station as the benches start it: only the simulator's port listed, a calibration file of
// their choosing.

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QTimer>

#include "app/main_window.h"
#include "sim/bus.h"

namespace zta {

inline StationOptions benchStationOptions(const sim::Bus& bus, const QString& calDataPath) {
    StationOptions options;
    options.listSystemPorts = false;
    options.extraPorts = {QString::fromStdString(bus.portPath())};
    options.calDataPath = calDataPath;
    return options;
}

// Runs the event loop as the program does, sleeping while there is nothing to do.
inline void processFor(qint64 ms) {
    QEventLoop loop;
    QTimer::singleShot(int(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Stands between the core and the analyzer windows to count every reading they are shown and
// time their handling of it.
class TimedViews : public BenchListener {
  public:
    explicit TimedViews(MainWindow& frame) : frame_(frame) {
        frame_.station().core().removeListener(&frame_.views());
        frame_.station().core().addListener(this);
    }
    ~TimedViews() override {
        frame_.station().core().removeListener(this);
        frame_.station().core().addListener(&frame_.views());
    }
    void readingArrived(const ReadingEvent& event) override {
        QElapsedTimer t;
        t.start();
        frame_.views().readingArrived(event);
        handlerMs += t.nsecsElapsed() / 1e6;
        ++notices;
    }
    void commandChanged(int line, const CommandReport& report) override {
        frame_.views().commandChanged(line, report);
    }
    void baudAccepted(AnalyzerId analyzer, int baudCode, int address) override {
        frame_.views().baudAccepted(analyzer, baudCode, address);
    }
    void disconnected(int line) override { frame_.views().disconnected(line); }
    void analyzersChanged(int line) override { frame_.views().analyzersChanged(line); }

    long notices = 0;
    double handlerMs = 0;

  private:
    MainWindow& frame_;
};

// The resident memory of this process; -1 where /proc does not tell.
inline long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

}  // namespace zta
