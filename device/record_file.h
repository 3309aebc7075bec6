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

// What one record line holds: the readings as the document last reloaded them.
struct RecordValues : Readings {
    RecordValues() = default;
    // The values of a line in its order.
    RecordValues(int temperature, int dValue, int refChannel, int workChannel, double concentration,
                 int auxValue, std::uint8_t relayState);
};

RecordValues recordValuesOf(const Readings& readings);

// The relay byte in base 2 without leading zeros: health is the last digit; "0" for 0.
QString relayBits(std::uint8_t relayState);

// One record line in Windows-1251, ending with CR LF, the note cut to kNoteLimit characters:
// "T d ref work conc aux relays HH:MM:SS note".
QByteArray buildRecordLine(const RecordValues& values, const QTime& time, const QString& note);

// "<folder><number>.zta" or "<folder><number>timer.zta"; the folder ends with a separator.
QString recordFilePath(const QString& folder, int networkNumber, bool timerFile);

// Appends `line` to `path` (created when missing, its folder too) with a single write, so that
// lines from two writers never interleave; a short write is undone. False with the reason.
bool appendRecordLine(const QString& path, const QByteArray& line, QString* error = nullptr);

// Why no record could be written in `folder` (a file where the folder should be, a system
// folder such as /proc), or an empty text. Nothing is made: a missing folder is judged by the
// nearest folder above it that exists.
QString recordFolderProblem(const QString& folder);

// Record timer periods: 0 starts nothing, a negative period is refused with a box owned by
// `owner`, and so is one the platform timer cannot hold. True when `period` may start a timer.
bool acceptTimerPeriod(int period, QWidget* owner);

// The warning for a record timer faster than the poll cycle (some of its lines would repeat the
// readings of the line before), or an empty text.
QString timerCycleWarning(int periodSeconds, long long cycleMs);

}  // namespace zta
