// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "link/serial_line.h"

namespace zta {

// Where the station finds its ports and its calibration file; tests replace them.
struct StationOptions {
    QStringList extraPorts;       // --port paths, listed before the system's ports
    bool listSystemPorts = true;  // ask QSerialPortInfo
    QStringList systemPorts;      // used instead of QSerialPortInfo when listSystemPorts is off
    QString calDataPath = QStringLiteral("CalDataK7.cfg");
    QString programFolder;  // the record folder at start; empty: startRecordFolder()
    zta::DirectionSetting direction = zta::DirectionSetting::Auto;
};

// The station's command line, read without side effects so that a wrong option is told and
// ends the program with status 2 instead of being taken for something else.
struct StationCommandLine {
    QStringList ports;            // --port, repeatable
    bool directionGiven = false;  // --rs485
    zta::DirectionSetting direction = zta::DirectionSetting::Auto;
    QList<int> openNumbers;         // --open n,n,...
    bool connect = false;           // --connect
    QString screenshot;             // --screenshot file.png
    int waitMs = 3000;              // --wait ms
    QString dialogShotsFolder;      // --dialog-screenshots folder
    QString benchFile;              // --bench file
    int timerSeconds = 0;           // --timer N, with --connect
    bool overview = false;          // --overview
    bool fast = false;              // --fast
    QString monitorScreenshot;      // --monitor-screenshot file.png
    int commandExpirySeconds = -1;  // --command-expiry SEC, 0..86400; -1: not given
    int netTimeoutMs = -1;          // --net-timeout MS, 0..60000; -1: not given
    bool help = false;
};

// Parses `arguments` (the program name first). False with a one-line `error` on anything that
// means nothing: an unknown option, a missing value, a number out of range or in another form.
bool parseStationCommandLine(const QStringList& arguments, StationCommandLine* result,
                             QString* error);

// The text of --help.
QString stationCommandLineHelp();

}  // namespace zta
