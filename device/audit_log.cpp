// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/audit_log.h"

#include <QFileInfo>
#include <QStringList>

#include "device/record_file.h"
#include "ui/command_texts.h"

namespace zta {

namespace {

QString field(const QString& text) {
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

}  // namespace

QByteArray auditFileStart() {
    return QByteArray("\xEF\xBB\xBF") +
           QStringLiteral(
               "время;порт;сетевой номер;заводской номер;команда;регистр;значение;"
               "состояние\r\n")
               .toUtf8();
}

QByteArray buildAuditLine(const AuditEntry& e) {
    const QDateTime time = e.time.toOffsetFromUtc(e.time.offsetFromUtc());
    const QStringList fields{
        time.toString(Qt::ISODateWithMs), field(e.port),
        QString::number(e.networkNumber), QString::number(static_cast<uint16_t>(e.factoryNumber)),
        field(commandName(e.command)),    QString::number(e.track.reg),
        QString::number(e.track.value),   field(commandStateText(e.track)),
    };
    return (fields.join(QLatin1Char(';')) + QLatin1String("\r\n")).toUtf8();
}

QString auditFilePath(const QString& folder) { return folder + QLatin1String("audit.csv"); }

bool appendAuditEntry(const QString& folder, const AuditEntry& entry, QString* error) {
    const QString path = auditFilePath(folder);
    QByteArray bytes = buildAuditLine(entry);
    // A size of 0 for a missing file too: the first line of a new file carries its start.
    if (QFileInfo(path).size() == 0) bytes.prepend(auditFileStart());
    return appendRecordLine(path, bytes, error);
}

}  // namespace zta
