// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

class QLineEdit;
class QWidget;

namespace zta {

// The prompts a dialog shows when a field does not hold what it exchanges; they keep the
// wording operators know from the old station.
inline const QString kPromptInteger = QStringLiteral("Please enter an integer.");
inline const QString kPromptNumber = QStringLiteral("Please enter a number.");
QString rangePrompt(long long low, long long high);  // "Please enter an integer between 0 and 255."

// A whole number: optional blanks, an optional sign, digits, optional blanks. Values beyond
// long long saturate, so a long run of digits is a (huge) number and not garbage.
std::optional<long long> parseInteger(const QString& text);
// A finite decimal number with a point (exponent allowed), blanks around it allowed.
std::optional<double> parseNumber(const QString& text);

// Field exchange that fails the way the old dialogs did: the prompt (warning icon, the
// application's caption), then the field gets the focus with its text selected.
std::optional<long long> takeInteger(QLineEdit* field, QWidget* owner);
std::optional<long long> takeIntegerInRange(QLineEdit* field, long long low, long long high,
                                            QWidget* owner);
std::optional<double> takeNumber(QLineEdit* field, QWidget* owner);
void focusAndSelect(QLineEdit* field);
void failField(QLineEdit* field, const QString& prompt, QWidget* owner);

}  // namespace zta
