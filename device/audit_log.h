// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include "poll/command_track.h"

namespace zta {

// One command outcome as the audit log keeps it.
struct AuditEntry {
    QDateTime time;
    QString port;
    int networkNumber = 0;
    int factoryNumber = 0;  // written as the unsigned 16-bit value the analyzer holds
    Command command = Command::Zero;
    CommandTrack track;  // register, value and state
};

// The byte-order mark and the header row of a new audit.csv.
QByteArray auditFileStart();
// One line, ';'-separated, UTF-8, CR LF: time (ISO 8601 with milliseconds and the offset from
// UTC), port, network number, factory number, command, register, value, state.
QByteArray buildAuditLine(const AuditEntry& entry);
// "<folder>audit.csv"; the folder ends with a separator.
QString auditFilePath(const QString& folder);

// Appends the entry to the folder's audit.csv in one write (the file's start first when the
// file is new). False with the reason when the file can be neither opened nor created.
bool appendAuditEntry(const QString& folder, const AuditEntry& entry, QString* error = nullptr);

}  // namespace zta
