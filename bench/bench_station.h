// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The station as the benches start it: only the simulator's port listed, a calibration file of
// their choosing.

#include <QByteArray>
#include <QFile>
#include <QString>

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

// The resident memory of this process; -1 where /proc does not tell.
inline long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

}  // namespace zta
