// SPDX-License-Identifier: GPL-3.0-or-later
#include "gas/gas_parameters_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/dialog_buttons.h"
#include "ui/dialog_rules.h"
#include "ui/dialogs.h"

namespace zta {

QString gasEntryMessage(GasEntryCheck check) {
    switch (check) {
        case GasEntryCheck::MiddleNotBelowMaximum:
            return QStringLiteral(
                "Концентрация газа средней концентрации выше газа максимальной концентрации");
        case GasEntryCheck::OutOfRange:
            return QStringLiteral("Параметры газа вне диапазона измерений");
        case GasEntryCheck::Accepted:
            break;
    }
    return {};
}

namespace {
// Doubles as the old data exchange printed them: shortest form, no trailing zeros.
QString numberText(double value) { return QString::number(value, 'g', 15); }
}  // namespace

GasParametersDialog::GasParametersDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Параметры газа"));
    auto* layout = new QVBoxLayout(this);
    auto* units = new QHBoxLayout;
    volumeBox_ = new QCheckBox(QStringLiteral("Об. доли"), this);
    lelBox_ = new QCheckBox(QStringLiteral("% НКПР"), this);
    units->addWidget(volumeBox_);
    units->addWidget(lelBox_);
    units->addStretch();
    layout->addLayout(units);
    auto* form = new QFormLayout;
    maxField_ = new QLineEdit(this);
    maxField_->setObjectName(QStringLiteral("maximumField"));
    midField_ = new QLineEdit(this);
    midField_->setObjectName(QStringLiteral("middleField"));
    form->addRow(QStringLiteral("Газ максимальной концентрации"), maxField_);
    form->addRow(QStringLiteral("Газ средней концентрации"), midField_);
    layout->addLayout(form);

    // Enter leaves without a change, as it always did here: only the button sets values.
    setButton_ = addDialogButtons(*this, *layout, QStringLiteral("Установить"),
                                  QStringLiteral("Отмена"), EnterPresses::Cancel);

    connect(volumeBox_, &QCheckBox::clicked, this, [this] { chooseUnits(false); });
    connect(lelBox_, &QCheckBox::clicked, this, [this] { chooseUnits(true); });
    connect(setButton_, &QPushButton::clicked, this, &GasParametersDialog::onSet);
}

void GasParametersDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        volumeBox_->setChecked(true);
        lelBox_->setChecked(false);
        maxField_->setText(numberText(maximum_));
        midField_->setText(numberText(middle_));
    }
    QDialog::showEvent(event);
}

void GasParametersDialog::chooseUnits(bool lel) {
    volumeBox_->setChecked(!lel);
    lelBox_->setChecked(lel);
    const GasInfo* gas = markedGas(marks_);
    if (gas == nullptr) return;
    maxField_->setText(numberText(lel ? gas->highLel : gas->highVol));
    midField_->setText(numberText(lel ? gas->midLel : gas->midVol));
}

void GasParametersDialog::onSet() {
    auto maximum = takeNumber(maxField_, this);
    if (!maximum) return;
    auto middle = takeNumber(midField_, this);
    if (!middle) return;
    const GasEntryResult result =
        checkGasEntry(markedGas(marks_), lelBox_->isChecked(), *maximum, *middle);
    if (result.check != GasEntryCheck::Accepted) {
        dialogs().error(gasEntryMessage(result.check), QStringLiteral("Ошибка ввода"), this);
        return;
    }
    maximum_ = result.maxVol;
    middle_ = result.midVol;
    accept();
}

}  // namespace zta
