// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/csv_log.h"

#include <QLocale>
#include <QStringList>
#include <cmath>

#include "core/reading_columns.h"
#include "poll/poll_block.h"

namespace zta {

QString linkStateText(int errorCount) {
    if (errorCount <= 0) return QStringLiteral("отвечает");
    if (errorCount < kLostContactLimit) return QStringLiteral("пропуск %1").arg(errorCount);
    return QStringLiteral("нет связи");
}

QByteArray csvFileStart() {
    QStringList headings{QStringLiteral("Дата и время"), QStringLiteral("Сетевой номер")};
    for (ReadingColumn column : kCsvIdentityColumns)
        headings << QString::fromUtf8(readingColumn(column).csvHeading);
    for (ReadingColumn column : kCsvReadingColumns)
        headings << QString::fromUtf8(readingColumn(column).csvHeading);
    headings << QStringLiteral("Связь") << QStringLiteral("Примечание");
    return QByteArrayLiteral("\xEF\xBB\xBF") +
           (headings.join(QLatin1Char(';')) + QLatin1String("\r\n")).toUtf8();
}

QString csvLinkText(const CsvRecord& record) {
    switch (record.polling) {
        case CsvPolling::NotYetPolled:
            return QStringLiteral("ещё не опрошен");
        case CsvPolling::Stopped:
            return QStringLiteral("не опрашивается");
        case CsvPolling::Polled:
            break;
    }
    return linkStateText(record.errorCount);
}

namespace {

bool looksLikeFormula(const QString& text) {
    static const QString starts = QStringLiteral("=+-@\t\r");
    if (text.isEmpty() || !starts.contains(text.front())) return false;
    // A number stays a number, a negative one too, with either decimal separator.
    bool number = false;
    QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&number);
    return !number;
}

}  // namespace

QString csvField(const QString& raw) {
    static const QString special = QStringLiteral(";\"\r\n");
    const QString text = looksLikeFormula(raw) ? QLatin1Char('\'') + raw : raw;
    bool quote = false;
    for (QChar c : text) quote = quote || special.contains(c);
    if (!quote) return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvNumber(double value, int decimals, QChar decimalPoint) {
    if (!std::isfinite(value)) return {};
    QString text = QString::number(value, 'f', decimals);
    // -0.04 rounds to zero, which has no sign.
    if (text.startsWith(QLatin1Char('-')) && text.toDouble() == 0.0) text.remove(0, 1);
    if (decimals > 0) text.replace(QLatin1Char('.'), decimalPoint);
    return text;
}

QString csvTimestamp(const QDateTime& time) {
    // The offset keeps a line unambiguous across a change of the clocks.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

namespace {

QString csvCell(const CsvRecord& r, ReadingColumn column, QChar point) {
    switch (column) {
        case ReadingColumn::FactoryNumber:  // the unsigned 16-bit value the analyzer holds
            return QString::number(static_cast<quint16>(r.factoryNumber));
        case ReadingColumn::GasName:
            return csvField(r.gas);
        case ReadingColumn::UnitValue:
            return csvNumber(r.unitValue, 2, point);
        case ReadingColumn::UnitName:
            return csvField(r.unitName.trimmed());
        default:
            break;
    }
    const ReadingValue value = readingValue(column, r);
    if (const auto* whole = std::get_if<long long>(&value)) return QString::number(*whole);
    // The concentration, in tenths of %НКПР.
    if (const auto* decimal = std::get_if<double>(&value)) return csvNumber(*decimal, 1, point);
    return csvField(QString::fromStdString(std::get<std::string>(value)));
}

}  // namespace

QByteArray buildCsvLine(const CsvRecord& r, QChar point) {
    QStringList cells{csvTimestamp(r.time), QString::number(r.networkNumber)};
    for (ReadingColumn column : kCsvIdentityColumns)
        cells << (r.identified ? csvCell(r, column, point) : QString());
    for (ReadingColumn column : kCsvReadingColumns)
        cells << (r.fresh ? csvCell(r, column, point) : QString());
    cells << csvLinkText(r) << csvField(r.note);
    return (cells.join(QLatin1Char(';')) + QLatin1String("\r\n")).toUtf8();
}

QString csvLogPath(const QString& folder, const QDate& day) {
    return folder + QStringLiteral("zta-") + day.toString(Qt::ISODate) + QStringLiteral(".csv");
}

bool CsvLog::write(const QString& folder, const CsvRecord& record) {
    if (!enabled_) return true;
    // QLocale() is the system's unless the program chose another.
    const QChar point = decimalPoint_.isNull() ? QLocale().decimalPoint().at(0) : decimalPoint_;
    return writer_.append(csvLogPath(folder, record.time.date()), csvFileStart(),
                          buildCsvLine(record, point));
}

}  // namespace zta
