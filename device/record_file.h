// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>
#include <cstdint>

#include "poll/readings.h"
#include "ui/note_limit.h"

class QWidget;

namespace zta {

// What one record line holds, as the document last reloaded it.
struct RecordValues {
    int temperature = 0;
    int dValue = 0;
    int refChannel = 0;
    int workChannel = 0;
    double concentration = 0.0;
    int auxValue = 0;
    std::uint8_t relayState = 0;
};

RecordValues recordValuesOf(const Readings& readings);

// The relay byte in base 2 without leading zeros: health is the last digit; "0" for 0.
QString relayBits(std::uint8_t relayState);

// One record line in Windows-1251, ending with CR LF, the note cut to kNoteLimit characters:
// "T d ref work conc aux relays HH:MM:SS note".
QByteArray buildRecordLine(const RecordValues& values, const QTime& time, const QString& note);

// "<folder><number>.zta" or "<folder><number>timer.zta"; the folder ends with a separator.
QString recordFilePath(const QString& folder, int networkNumber, bool timerFile);

// Appends `line` to `path` (created when missing) with a single write, so that lines from two
// writers never interleave and a crash never leaves half a line. False with the reason when
// the file can be neither opened nor created.
bool appendRecordLine(const QString& path, const QByteArray& line, QString* error = nullptr);

// Record timer periods: 0 starts nothing, a negative period is refused with a box owned by
// `owner`, and so is one the platform timer cannot hold. True when `period` may start a timer.
bool acceptTimerPeriod(int period, QWidget* owner);

}  // namespace zta
