// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/csv_log.h"

#include <QLocale>
#include <QStringList>
#include <cmath>

#include "poll/poll_block.h"

namespace zta {

QString linkStateText(int errorCount) {
    if (errorCount <= 0) return QStringLiteral("отвечает");
    if (errorCount < kLostContactLimit) return QStringLiteral("пропуск %1").arg(errorCount);
    return QStringLiteral("нет связи");
}

QByteArray csvFileStart() {
    return QByteArrayLiteral("\xEF\xBB\xBF") +
           QStringLiteral(
               "Дата и время;Сетевой номер;Заводской номер;Газ;"
               "Концентрация, %НКПР;Концентрация;Единица;Порог 1, %НКПР;"
               "Порог 2, %НКПР;Реле исправности;Реле порога 1;Реле порога 2;Т(у.е.);d;"
               "Опорный канал;Рабочий канал;Связь;"
               "Примечание\r\n")
               .toUtf8();
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

QByteArray buildCsvLine(const CsvRecord& r, QChar point) {
    QStringList cells{csvTimestamp(r.time), QString::number(r.networkNumber)};
    if (r.identified)
        cells << QString::number(static_cast<quint16>(r.factoryNumber)) << csvField(r.gas);
    else
        cells << QString() << QString();
    if (r.fresh) {
        cells << csvNumber(r.concentration, 1, point) << csvNumber(r.unitValue, 2, point)
              << csvField(r.unitName.trimmed()) << QString::number(r.threshold1)
              << QString::number(r.threshold2);
        for (int bit = 0; bit < 3; ++bit) cells << QString::number((r.relayState >> bit) & 1);
        cells << QString::number(r.temperature) << QString::number(r.dValue)
              << QString::number(r.refChannel) << QString::number(r.workChannel);
    } else {
        for (int i = 0; i < 12; ++i) cells << QString();
    }
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
