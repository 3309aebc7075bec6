#pragma once

// The station as the benches start it: only the simulator's port listed, a calibration file of
// their choosing.

#include <QString>

#include "app/main_window.h"
#include "sim/bus.h"

namespace zta {

inline StationOptions BenchStationOptions(const sim::Bus& bus, const QString& calDataPath) {
    StationOptions options;
    options.listSystemPorts = false;
    options.extraPorts = {QString::fromStdString(bus.PortPath())};
    options.calDataPath = calDataPath;
    return options;
}

}  // namespace zta
