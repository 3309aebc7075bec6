// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/record_file.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryFile>
#include <climits>

#include "core/reading_columns.h"
#include "link/cp1251.h"
#include "ui/dialogs.h"
#include "ui/file_io.h"

namespace zta {

QString relayBits(std::uint8_t relayState) { return QString::number(relayState, 2); }

RecordValues::RecordValues(int temperature_, int dValue_, int refChannel_, int workChannel_,
                           double concentration_, int auxValue_, std::uint8_t relayState_) {
    temperature = temperature_;
    dValue = dValue_;
    refChannel = refChannel_;
    workChannel = workChannel_;
    concentration = concentration_;
    auxValue = auxValue_;
    relayState = relayState_;
}

RecordValues recordValuesOf(const Readings& r) {
    RecordValues v;
    static_cast<Readings&>(v) = r;
    return v;
}

namespace {

QString recordCell(ReadingColumn column, const Readings& values) {
    const ReadingValue value = readingValue(column, values);
    if (column == ReadingColumn::RelayState)
        return relayBits(static_cast<std::uint8_t>(std::get<long long>(value)));
    if (const auto* whole = std::get_if<long long>(&value)) return QString::number(*whole);
    return QString::asprintf("%.0f", readingNumber(value));
}

}  // namespace

QByteArray buildRecordLine(const RecordValues& v, const QTime& time, const QString& note) {
    // A note of several lines keeps the file's CR LF line ends.
    QString text = limitedNote(note);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    QString line;
    for (ReadingColumn column : kRecordLineColumns)
        line += recordCell(column, v) + QLatin1Char(' ');
    line +=
        time.toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + text + QLatin1String("\r\n");
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
    return appendToFile(path, line, error);
}

QString recordFolderProblem(const QString& folder) {
    QFileInfo place(QDir::cleanPath(QDir(folder).absolutePath()));
    while (!place.exists()) {
        const QFileInfo up(place.absolutePath());
        if (up.absoluteFilePath() == place.absoluteFilePath()) return {};
        place = up;
    }
    if (!place.isDir()) {
        return QStringLiteral("%1 — это файл, а не папка")
            .arg(QDir::toNativeSeparators(place.absoluteFilePath()));
    }
    // Permissions do not tell (root passes them, /proc refuses everyone): a file is tried.
    QTemporaryFile probe(place.absoluteFilePath() + QStringLiteral("/.zta-probe-XXXXXX"));
    if (!probe.open())
        return QStringLiteral("в папке %1 нельзя создать файл")
            .arg(QDir::toNativeSeparators(place.absoluteFilePath()));
    return {};
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

QString timerCycleWarning(int periodSeconds, long long cycleMs) {
    if (periodSeconds <= 0 || cycleMs <= 0 || periodSeconds * 1000LL >= cycleMs) return {};
    return QStringLiteral(
               "Период записи %1 с короче цикла опроса (%2 с): часть строк повторит показания "
               "предыдущей строки.")
        .arg(periodSeconds)
        .arg(QLocale().toString(double(cycleMs) / 1000.0, 'f', 1));
}

}  // namespace zta
