// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QChar>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <cstdint>

#include "device/record_writer.h"
#include "poll/readings.h"

namespace zta {

// Where an analyzer stands with the polling when its CSV line is written.
enum class CsvPolling {
    Polled,        // polled: the link state follows its missed replies
    NotYetPolled,  // no turn of it yet: "ещё не опрошен"
    Stopped,       // it was polled, but polling is off: "не опрашивается"
};

// One analyzer's line of the bench's CSV log, as its window last reloaded it: its readings
// and what the line adds.
struct CsvRecord : Readings {
    QDateTime time;  // local time of writing
    int networkNumber = 0;
    // Who the analyzer is (factory number, gas) stays on every line once it has answered.
    bool identified = true;
    QString gas;
    double unitValue = 0.0;  // in `unitName`, the analyzer's own unit, as the window shows it
    QString unitName;
    int errorCount = 0;  // consecutive missed replies; lost contact from 5 on
    CsvPolling polling = CsvPolling::Polled;
    // A reply came since this analyzer's previous line. Without one the readings are left
    // empty: an old value must not pass for a new one.
    bool fresh = true;
    QString note;
};

// "отвечает", "пропуск N" or "нет связи".
QString linkStateText(int errorCount);
// The "Связь" column: the link state, or why the analyzer is not polled.
QString csvLinkText(const CsvRecord& record);

// The byte-order mark and the header row that open every day's file.
QByteArray csvFileStart();

// One line, ';'-separated, CR LF, UTF-8; decimals written with `decimalPoint`.
QByteArray buildCsvLine(const CsvRecord& record, QChar decimalPoint);

// ISO 8601 local time with milliseconds and the offset from UTC.
QString csvTimestamp(const QDateTime& time);
// A text field quoted where it holds a separator, a quote or a line end. A text a spreadsheet
// would take for a formula (=, +, -, @, tab or CR first) and that is not a number gets a
// leading "'".
QString csvField(const QString& text);
// `value` with `decimals` decimals and `decimalPoint`.
QString csvNumber(double value, int decimals, QChar decimalPoint);

// "<folder>zta-YYYY-MM-DD.csv"; the folder ends with a separator.
QString csvLogPath(const QString& folder, const QDate& day);

// The bench's CSV log: one file per day in the record folder, opened by the byte-order mark
// and the header, then one append per line through the station's record writer.
class CsvLog {
  public:
    explicit CsvLog(RecordWriter& writer) : writer_(writer) {}

    bool enabled() const { return enabled_; }
    void setEnabled(bool on) { enabled_ = on; }
    // The locale's separator (the system's) unless set.
    void setDecimalPoint(QChar point) { decimalPoint_ = point; }
    QChar decimalPoint() const { return decimalPoint_; }

    // Appends `record` to its day's file in `folder` when the log is on. False when it is on
    // and the line could not be written (the writer has told the operator).
    bool write(const QString& folder, const CsvRecord& record);

  private:
    RecordWriter& writer_;
    bool enabled_ = false;
    QChar decimalPoint_;
};

}  // namespace zta
