// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialog_rules.h"

#include <QLineEdit>
#include <QLocale>
#include <cmath>
#include <limits>

#include "ui/dialogs.h"

namespace zta {

QString rangePrompt(long long low, long long high) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high);
}

std::optional<long long> parseInteger(const QString& text) {
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    if (i == t.size()) return std::nullopt;
    constexpr long long kMax = std::numeric_limits<long long>::max();
    long long value = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c < u'0' || c > u'9') return std::nullopt;
        const int digit = c.unicode() - u'0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

std::optional<double> parseNumber(const QString& text) {
    const QString t = text.trimmed();
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(t, &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

void focusAndSelect(QLineEdit* field) {
    field->setFocus();
    field->selectAll();
}

void failField(QLineEdit* field, const QString& prompt, QWidget* owner) {
    dialogs().warning(prompt, QString(), owner);
    focusAndSelect(field);
}

std::optional<long long> takeInteger(QLineEdit* field, QWidget* owner) {
    auto value = parseInteger(field->text());
    if (!value) failField(field, kPromptInteger, owner);
    return value;
}

std::optional<long long> takeIntegerInRange(QLineEdit* field, long long low, long long high,
                                            QWidget* owner) {
    auto value = parseInteger(field->text());
    if (!value || *value < low || *value > high) {
        failField(field, rangePrompt(low, high), owner);
        return std::nullopt;
    }
    return value;
}

std::optional<double> takeNumber(QLineEdit* field, QWidget* owner) {
    auto value = parseNumber(field->text());
    if (!value) failField(field, kPromptNumber, owner);
    return value;
}

}  // namespace zta
