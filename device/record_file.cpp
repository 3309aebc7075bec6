// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/record_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <climits>

#include "link/cp1251.h"
#include "ui/dialogs.h"

namespace zta {

QString relayBits(std::uint8_t relayState) { return QString::number(relayState, 2); }

RecordValues recordValuesOf(const Readings& r) {
    RecordValues v;
    v.temperature = r.temperature;
    v.dValue = r.dValue;
    v.refChannel = r.refChannel;
    v.workChannel = r.workChannel;
    v.concentration = r.concentration;
    v.auxValue = r.auxValue;
    v.relayState = r.relayState;
    return v;
}

QByteArray buildRecordLine(const RecordValues& v, const QTime& time, const QString& note) {
    // A note of several lines keeps the file's CR LF line ends.
    QString text = limitedNote(note);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    const QString line =
        QString::asprintf("%d %d %d %d %.0f %d ", v.temperature, v.dValue, v.refChannel,
                          v.workChannel, v.concentration, v.auxValue) +
        relayBits(v.relayState) + QLatin1Char(' ') + time.toString(QStringLiteral("HH:mm:ss")) +
        QLatin1Char(' ') + text + QLatin1String("\r\n");
    const std::string bytes = zta::utf8ToCp1251(line.toStdString());
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString recordFilePath(const QString& folder, int networkNumber, bool timerFile) {
    return folder + QString::number(networkNumber) +
           (timerFile ? QLatin1String("timer.zta") : QLatin1String(".zta"));
}

bool appendRecordLine(const QString& path, const QByteArray& line, QString* error) {
    // The default folder in the user's documents is made with the first record.
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    // Unbuffered append: the whole line goes to the end of the file in one write.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error) *error = file.errorString();
        return false;
    }
    if (file.write(line) != line.size()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}

bool acceptTimerPeriod(int period, QWidget* owner) {
    if (period == 0) return false;
    if (period < 0) {
        dialogs().information(
            QStringLiteral("Время записи должно быть больше нуля секунд. Таймер не установлен."),
            QStringLiteral("Таймер"), owner);
        return false;
    }
    if (period > INT_MAX / 1000) {
        dialogs().error(QStringLiteral("Таймер не установлен"), QStringLiteral("Таймер"), owner);
        return false;
    }
    return true;
}

}  // namespace zta
