// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands/service_dialogs.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "link/regmap.h"
#include "ui/dialog_buttons.h"
#include "ui/dialog_rules.h"
#include "ui/dialogs.h"

namespace zta {

uint8_t speedCodeAt(int position) {
    if (position < 0 || position >= kSpeedCount) position = kDefaultSpeedPosition;
    return static_cast<uint8_t>(1u << position);
}

QString speedText(int position) {
    static const char* const kTexts[kSpeedCount] = {"1200", "2400", "4800", "9600", "19200"};
    if (position < 0 || position >= kSpeedCount) return {};
    return QString::fromLatin1(kTexts[position]);
}

ThresholdScale thresholdScaleFor(uint8_t gasCode) {
    switch (gasCode) {
        case 4:
            return {0.05, 20.0, 2};
        case 5:
            return {0.02, 50.0, 2};
        default:
            // Codes 0..3 by rule; codes above 5 the same way, since their analyzers count
            // thresholds in %НКПР like the rest and a whole number loses nothing.
            return {1.0, 1.0, 0};
    }
}

QString thresholdShownText(uint8_t gasCode, double threshold) {
    const ThresholdScale scale = thresholdScaleFor(gasCode);
    return QString::asprintf("%.*f", scale.decimals, threshold * scale.toShown);
}

double thresholdFromShown(uint8_t gasCode, double shown) {
    return shown * thresholdScaleFor(gasCode).fromShown;
}

bool thresholdInRange(double threshold) { return threshold >= 0.0 && threshold <= 100.0; }

uint8_t thresholdToSend(double threshold) {
    return static_cast<uint8_t>(static_cast<int>(truncateDecimal(threshold, 1.0)) & 0xff);
}

bool factoryNumberInRange(long long number) { return number >= 0 && number <= kFactoryNumberMax; }

// ---------------------------------------------------------------------------------------------

NetworkNumberDialog::NetworkNumberDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Смена номера"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Введите новый номер прибора от 0 до 255"), this));
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("numberField"));
    layout->addWidget(field_);
    setButton_ =
        addDialogButtons(*this, *layout, QStringLiteral("Установить"), QStringLiteral("Отмена"));
    connect(setButton_, &QPushButton::clicked, this, &NetworkNumberDialog::onSet);
}

void NetworkNumberDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        setWindowTitle(QStringLiteral("Смена номера прибора № %1").arg(currentNumber_));
        field_->setText(QString::number(newNumber_));
        field_->setFocus();
    }
    QDialog::showEvent(event);
}

void NetworkNumberDialog::onSet() {
    auto value = takeIntegerInRange(field_, 0, 255, this);
    if (!value) return;
    newNumber_ = static_cast<uint8_t>(*value);
    accept();
}

// ---------------------------------------------------------------------------------------------

BaudRateDialog::BaudRateDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Смена скорости"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Выберите скорость прибора"), this));
    list_ = new QComboBox(this);
    list_->setEditable(false);
    layout->addWidget(list_);
    applyButton_ =
        addDialogButtons(*this, *layout, QStringLiteral("Применить"), QStringLiteral("Отмена"));
    connect(applyButton_, &QPushButton::clicked, this, &BaudRateDialog::onApply);
}

void BaudRateDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        setWindowTitle(QStringLiteral("Смена скорости прибора № %1").arg(currentNumber_));
        list_->clear();
        for (int i = 0; i < kSpeedCount; ++i) list_->addItem(speedText(i));
        list_->setCurrentIndex(kDefaultSpeedPosition);
    }
    QDialog::showEvent(event);
}

void BaudRateDialog::onApply() {
    speedCode_ = speedCodeAt(list_->currentIndex());
    accept();
}

// ---------------------------------------------------------------------------------------------

ThresholdDialog::ThresholdDialog(QWidget* parent) : QDialog(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Введите новое значение порога"), this));
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("valueField"));
    layout->addWidget(field_);
    setButton_ =
        addDialogButtons(*this, *layout, QStringLiteral("Установить"), QStringLiteral("Отмена"));
    connect(setButton_, &QPushButton::clicked, this, &ThresholdDialog::onSet);
}

void ThresholdDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        setWindowTitle(caption_);
        field_->setText(thresholdShownText(gasCode_, threshold_));
        focusAndSelect(field_);
    }
    QDialog::showEvent(event);
}

void ThresholdDialog::onSet() {
    auto shown = takeNumber(field_, this);
    if (!shown) return;
    const double threshold = thresholdFromShown(gasCode_, *shown);
    if (!thresholdInRange(threshold)) {
        dialogs().error(QStringLiteral("Неправильно введены значения порога"),
                        QStringLiteral("Ошибка"), this);
        return;
    }
    threshold_ = threshold;
    accept();
}

// ---------------------------------------------------------------------------------------------

FactoryNumberDialog::FactoryNumberDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Изменение заводского  номера"));
    auto* layout = new QVBoxLayout(this);
    prompt_ = new QLabel(this);
    layout->addWidget(prompt_);
    layout->addWidget(new QLabel(QStringLiteral(" (0-65535)"), this));
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("numberField"));
    layout->addWidget(field_);
    okButton_ = addDialogButtons(*this, *layout, QStringLiteral("OK"), QStringLiteral("Cancel"));
    // textEdited, not textChanged: the rewrite after a refusal must not be checked again.
    connect(field_, &QLineEdit::textEdited, this, &FactoryNumberDialog::onEdited);
    connect(okButton_, &QPushButton::clicked, this, &FactoryNumberDialog::onOk);
}

void FactoryNumberDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        field_->setText(QString::number(factoryNumber_));
        prompt_->setText(
            QStringLiteral("Введите новый заводской номер прибора с сетевым номером %1")
                .arg(networkNumber_));
        focusAndSelect(field_);
    }
    QDialog::showEvent(event);
}

bool FactoryNumberDialog::takeNumber() {
    auto value = takeInteger(field_, this);
    if (!value) return false;
    if (!factoryNumberInRange(*value)) {
        dialogs().information(QStringLiteral("Заводской номер должен быть от 0 до 65535"),
                              QStringLiteral("Ошибка"), this);
        field_->setText(QString::number(factoryNumber_));
        return false;
    }
    factoryNumber_ = static_cast<int>(*value);
    return true;
}

void FactoryNumberDialog::onEdited() { takeNumber(); }

void FactoryNumberDialog::onOk() {
    // Edits are checked as they come, but a pasted or pre-set value still gets the same rule.
    if (takeNumber())
        accept();
    else
        focusAndSelect(field_);
}

}  // namespace zta
