// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>

#include "poll/command_track.h"

namespace zta {

// One line of the audit trail: a command outcome, or an event of the station (a connection,
// the line, the record folder, a warning passed over) named in `event`.
struct AuditEntry {
    QDateTime time;
    QString port;
    int networkNumber = 0;
    int factoryNumber = 0;  // written as the unsigned 16-bit value the analyzer holds
    Command command = Command::Zero;
    CommandTrack track;       // register, value and state
    QString event{};          // not empty: an event, written in the command's column
    bool hasAnalyzer = true;  // an event of no analyzer leaves the numbers empty
    QString operatorName{};
};

// The byte-order mark and the header row of a new day's file.
QByteArray auditFileStart();
// One line, ';'-separated, UTF-8, CR LF: time (ISO 8601 with milliseconds and the offset from
// UTC), port, network number, factory number, command or event, register, value, state, the
// value in its unit, operator.
QByteArray buildAuditLine(const AuditEntry& entry);
// What a command's register value means: "4.40 %", "20 %НКПР", "№ 7, 9600 бод"; empty where
// the value means nothing (zero, typical values).
QString auditUnitValue(Command command, std::uint16_t value);
// "<folder>audit-YYYY-MM-DD.csv"; the folder ends with a separator.
QString auditFilePath(const QString& folder, const QDate& day);

// The audit trail: one file per day in one folder, whatever the record folder. It never loses
// a line silently: a line that cannot be written is kept, in order, and written with the next
// line or the next retry; the operator is told once until the trail is written again.
class AuditLog {
  public:
    // Told without waiting for an answer.
    using Report = std::function<void(const QString& text)>;

    explicit AuditLog(QString folder = {}, Report report = {});
    ~AuditLog();
    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;

    QString folder() const { return folder_; }
    void setFolder(const QString& folder) { folder_ = folder; }
    void setReport(Report report) { report_ = std::move(report); }
    QString operatorName() const { return operator_; }
    void setOperatorName(const QString& name) { operator_ = name.trimmed(); }

    // Writes the entry (with the operator) after any held lines. False when it is held.
    bool write(AuditEntry entry);
    // Writes the held lines; false while some are still held.
    bool retry();
    std::size_t heldLines() const { return held_.size(); }

  private:
    struct Line {
        QString path;
        QByteArray bytes;
    };

    QString folder_;
    Report report_;
    QString operator_;
    std::deque<Line> held_;
    bool reported_ = false;
    QTimer retryTimer_;
    // Written lines reach the disk within a second, not one wait for the disk per line.
    QSet<QString> unsynced_;
    QTimer syncTimer_;
    void syncNow();
};

}  // namespace zta
