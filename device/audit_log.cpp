// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/audit_log.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "device/csv_log.h"
#include "device/record_file.h"
#include "link/regmap.h"
#include "ui/command_table.h"
#include "ui/command_texts.h"
#include "ui/file_io.h"

namespace zta {

namespace {

constexpr int kRetryMs = 2000;
constexpr int kSyncMs = 1000;

}  // namespace

QByteArray auditFileStart() {
    return QByteArray("\xEF\xBB\xBF") +
           QStringLiteral(
               "время;порт;сетевой номер;заводской номер;команда;регистр;значение;"
               "состояние;значение в единицах;оператор\r\n")
               .toUtf8();
}

QString auditUnitValue(Command command, std::uint16_t value) {
    switch (commandUi(command).units) {
        case AuditUnits::NumberAndRate:
            return QStringLiteral("№ %1, %2 бод").arg(value >> 8).arg(baudForCode(value & 0xFF));
        case AuditUnits::GasPercent:
            return QString::number(value / 1000.0, 'f', 2) + QStringLiteral(" %");
        case AuditUnits::ThresholdLel:
            return QStringLiteral("%1 %НКПР").arg(value);
        case AuditUnits::Plain:
            return QString::number(value);
        case AuditUnits::None:
            break;
    }
    return {};
}

QByteArray buildAuditLine(const AuditEntry& e) {
    const QDateTime time = e.time.toOffsetFromUtc(e.time.offsetFromUtc());
    QStringList fields{time.toString(Qt::ISODateWithMs), csvField(e.port)};
    if (e.hasAnalyzer)
        fields << QString::number(e.networkNumber)
               << QString::number(static_cast<uint16_t>(e.factoryNumber));
    else
        fields << QString() << QString();
    if (e.event.isEmpty())
        fields << csvField(commandName(e.command)) << QString::number(e.track.reg)
               << QString::number(e.track.value) << csvField(commandStateText(e.track))
               << csvField(auditUnitValue(e.command, e.track.value));
    else
        fields << csvField(e.event) << QString() << QString() << QString() << QString();
    fields << csvField(e.operatorName);
    return (fields.join(QLatin1Char(';')) + QLatin1String("\r\n")).toUtf8();
}

QString auditFilePath(const QString& folder, const QDate& day) {
    return folder + QStringLiteral("audit-") + day.toString(Qt::ISODate) + QStringLiteral(".csv");
}

AuditLog::AuditLog(QString folder, Report report)
    : folder_(std::move(folder)), report_(std::move(report)) {
    retryTimer_.setInterval(kRetryMs);
    QObject::connect(&retryTimer_, &QTimer::timeout, [this] { retry(); });
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncMs);
    QObject::connect(&syncTimer_, &QTimer::timeout, [this] { syncNow(); });
}

AuditLog::~AuditLog() {
    retry();
    syncNow();
}

void AuditLog::syncNow() {
    syncTimer_.stop();
    for (const QString& path : std::as_const(unsynced_)) syncToDisk(path);
    unsynced_.clear();
}

bool AuditLog::write(AuditEntry entry) {
    entry.operatorName = operator_;
    held_.push_back({auditFilePath(folder_, entry.time.date()), buildAuditLine(entry)});
    return retry();
}

bool AuditLog::retry() {
    QString reason;
    while (!held_.empty()) {
        const Line& line = held_.front();
        // A size of 0 for a missing file too: the first line of a new file carries its start.
        const QByteArray bytes =
            QFileInfo(line.path).size() == 0 ? auditFileStart() + line.bytes : line.bytes;
        if (!appendRecordLine(line.path, bytes, &reason)) break;
        unsynced_.insert(line.path);
        if (!syncTimer_.isActive()) syncTimer_.start();
        held_.pop_front();
    }
    if (held_.empty()) {
        retryTimer_.stop();
        reported_ = false;
        return true;
    }
    if (!retryTimer_.isActive()) retryTimer_.start();
    if (!reported_ && report_) {
        reported_ = true;
        report_(QStringLiteral("Журнал команд не записан в файл %1: %2.\nЕго строки сохранены и "
                               "будут дописаны, как только запись удастся. Пока этого не "
                               "случилось, это сообщение не повторяется.")
                    .arg(QDir::toNativeSeparators(held_.front().path), reason));
    }
    return false;
}

}  // namespace zta
