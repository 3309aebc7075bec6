// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/software_info_panel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace zta {

QString deviceInfoHeader(int number) {
    if (number == -1)
        return QStringLiteral(
            "Считать данные о модификации программного обеспечения прибора не удалось");
    return QStringLiteral(
               "В приборе №%1 содержится следующая модификация программного обеспечения:")
        .arg(number);
}

SoftwareInfoPanel::SoftwareInfoPanel(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Информация о программном обеспечении прибора"));
    auto* layout = new QVBoxLayout(this);
    header_ = new QLabel(this);
    header_->setWordWrap(true);
    layout->addWidget(header_);
    auto* form = new QFormLayout;
    auto makeField = [this]() {
        auto* field = new QLineEdit(this);
        field->setReadOnly(true);
        field->setMinimumWidth(field->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 34);
        return field;
    };
    nameField_ = makeField();
    versionField_ = makeField();
    identifierField_ = makeField();
    form->addRow(QStringLiteral("Наименование ПО:"), nameField_);
    form->addRow(QStringLiteral("Версия ПО:"), versionField_);
    form->addRow(QStringLiteral("Идентификатор ПО (контрольная сумма):"), identifierField_);
    layout->addLayout(form);
    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setDefault(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    layout->addLayout(row);
    // Enter, Esc and the close box all just close; nothing is returned.
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

void SoftwareInfoPanel::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        header_->setText(zta::deviceInfoHeader(number_));
        const bool known = number_ != -1;
        const QString dash = QStringLiteral("-");
        nameField_->setText(known ? name_ : dash);
        versionField_->setText(known ? version_ : dash);
        identifierField_->setText(known ? identifier_ : dash);
    }
    QDialog::showEvent(event);
}

}  // namespace zta
