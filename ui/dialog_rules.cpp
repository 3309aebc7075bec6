#include "ui/dialog_rules.h"

#include "ui/dialogs.h"

#include <QLineEdit>
#include <QLocale>

#include <cmath>
#include <limits>

namespace zta {

QString RangePrompt(long long low, long long high) {
    return QStringLiteral("Please enter an integer between %1 and %2.").arg(low).arg(high);
}

std::optional<long long> ParseInteger(const QString& text) {
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    constexpr long long kMax = std::numeric_limits<long long>::max();
    long long value = 0;
    for (; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? -value : value;
}

std::optional<double> ParseNumber(const QString& text) {
    const QString t = text.trimmed();
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = c.toDouble(t, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void FocusAndSelect(QLineEdit* field) {
    field->setFocus();
    field->selectAll();
}

void FailField(QLineEdit* field, const QString& prompt, QWidget* owner) {
    dialogs().Warning(prompt, QString(), owner);
    FocusAndSelect(field);
}

std::optional<long long> TakeInteger(QLineEdit* field, QWidget* owner) {
    auto value = ParseInteger(field->text());
    if (!value)
        FailField(field, kPromptInteger, owner);
    return value;
}

std::optional<long long> TakeIntegerInRange(QLineEdit* field, long long low, long long high,
                                            QWidget* owner) {
    auto value = ParseInteger(field->text());
    if (!value || *value < low || *value > high) {
        FailField(field, RangePrompt(low, high), owner);
        return std::nullopt;
    }
    return value;
}

std::optional<double> TakeNumber(QLineEdit* field, QWidget* owner) {
    auto value = ParseNumber(field->text());
    if (!value)
        FailField(field, kPromptNumber, owner);
    return value;
}

}  // namespace zta
