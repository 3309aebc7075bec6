// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <optional>

#include "link/serial_line.h"

namespace zta {

// A saved bench: what the operator set up, so that the next run starts where this one was.
struct BenchSettings {
    struct Window {
        int networkNumber = 0;
        int timerPeriod = 0;  // seconds; 0: no record timer
        QRect geometry;       // inside the window area; empty: placed as usual
        bool minimized = false;
        bool maximized = false;
        bool trendShown = false;
        int trendSpanSeconds = 0;  // 0: the default span
        friend bool operator==(const Window&, const Window&) = default;
    };

    QString port;
    unsigned baudRate = 9600;
    QString recordFolder;  // ends with a separator
    bool csvLog = false;
    QRect mainGeometry;  // empty: placed as usual
    bool mainMaximized = false;
    double settleBandPercent = 1.0;
    int settleSeconds = 30;
    int commandExpirySeconds = 30;            // 0: a confirmed command waits until it is sent
    int netTimeoutMs = kDefaultNetTimeoutMs;  // added to the reply time-out on a network line
    QList<Window> windows;                    // in slot order

    // The bus overview dock and fast polling.
    struct Overview {
        bool open = false;
        int size = 0;         // pixels across the dock's side; 0: as the dock opens
        int sortColumn = -1;  // -1: slot order
        bool sortDescending = false;
        bool trend = false;  // the trend panel beside the table
        friend bool operator==(const Overview&, const Overview&) = default;
    };
    Overview overview;
    bool fastPolling = false;

    friend bool operator==(const BenchSettings&, const BenchSettings&) = default;
};

// The file's text: JSON, UTF-8, indented so that a person can read and mend it.
QByteArray benchToText(const BenchSettings& bench);

// The bench in `text`, or nothing with the reason in `error` (line and column for a syntax
// error, the field and the allowed values for a wrong value).
std::optional<BenchSettings> benchFromText(const QByteArray& text, QString* error);

// Reading and writing a file; `error` gets the whole message for the operator.
std::optional<BenchSettings> readBenchFile(const QString& path, QString* error);
bool writeBenchFile(const QString& path, const BenchSettings& bench, QString* error);

}  // namespace zta
