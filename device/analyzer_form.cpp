// SPDX-License-Identifier: GPL-3.0-or-later
// The analyzer view's form: its one row of groups and the controls reached by name.
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "device/analyzer_view.h"
#include "ui/device_icons.h"

namespace zta {

namespace {

const char* const kIconProperty = "deviceIcon";

}  // namespace

QLineEdit* AnalyzerView::addField(FormField id, int width, bool readOnly) {
    auto* f = new QLineEdit(this);
    f->setObjectName(QStringLiteral("ctl%1").arg(int(id)));
    f->setReadOnly(readOnly);
    f->setAlignment(Qt::AlignCenter);
    f->setFixedWidth(width);
    if (readOnly) f->setFocusPolicy(Qt::NoFocus);
    controls_[id] = f;
    return f;
}

QLabel* AnalyzerView::addLabel(FormField id, const QString& text, bool wrap) {
    auto* l = new QLabel(text, this);
    l->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    l->setWordWrap(wrap);
    if (id != FormField::None) {
        l->setObjectName(QStringLiteral("ctl%1").arg(int(id)));
        controls_[id] = l;
    }
    return l;
}

QLabel* AnalyzerView::addIcon(FormField id, int icon) {
    auto* l = new QLabel(this);
    l->setObjectName(QStringLiteral("ctl%1").arg(int(id)));
    l->setAlignment(Qt::AlignCenter);
    l->setFixedSize(34, 34);
    controls_[id] = l;
    setIcon(id, icon);
    return l;
}

void AnalyzerView::setIcon(FormField id, int icon) {
    auto* l = qobject_cast<QLabel*>(control(id));
    if (!l || l->property(kIconProperty).toInt() == icon) return;
    l->setProperty(kIconProperty, icon);
    l->setPixmap(deviceIcon(icon));
}

void AnalyzerView::setText(FormField id, const QString& text) {
    QWidget* w = control(id);
    if (auto* f = qobject_cast<QLineEdit*>(w)) {
        if (f->text() != text) f->setText(text);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text() != text) l->setText(text);
    }
}

namespace {

void compact(QGridLayout* grid) {
    grid->setContentsMargins(4, 2, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(1);
}

}  // namespace

void AnalyzerView::buildForm() {
    // The form was laid out for an 8-point dialog font; a larger default would not fit a row.
    QFont small = font();
    small.setPointSizeF(8);
    setFont(small);
    // One row at the top; a taller or wider window leaves the extra space empty.
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    page->addLayout(row);
    page->addStretch(1);
    row->setContentsMargins(3, 1, 3, 1);
    row->setSpacing(3);

    // Link and network number.
    auto* numberBox = new QGridLayout;
    compact(numberBox);
    numberBox->addWidget(addLabel(FormField::None, QStringLiteral("Сетевой номер"), true), 0, 0, 1,
                         2);
    numberBox->addWidget(addIcon(FormField::LinkIcon, IconLinkDown), 1, 0);
    number_ = addField(FormField::NetworkNumber, 36, false);
    number_->setText(QStringLiteral("0"));
    number_->installEventFilter(this);
    connect(number_, &QLineEdit::textChanged, this, [this] { applyNumber(); });
    numberBox->addWidget(number_, 1, 1);
    row->addLayout(numberBox);

    auto* info = new QGroupBox(QStringLiteral("Информация о приборе"), this);
    auto* infoGrid = new QGridLayout(info);
    compact(infoGrid);
    infoGrid->addWidget(addLabel(FormField::None, QStringLiteral("Заводской номер"), true), 0, 0);
    infoGrid->addWidget(addLabel(FormField::None, QStringLiteral("Тип газа:")), 0, 1);
    infoGrid->addWidget(
        addLabel(FormField::ThresholdsLabel, QStringLiteral("Пороги(%НКПР)       1             2")),
        0, 2, 1, 2);
    infoGrid->addWidget(addField(FormField::FactoryNumber, 48), 1, 0);
    infoGrid->addWidget(addField(FormField::GasName, 84), 1, 1);
    // The label's blanks put "1" and "2" near its right end, over the two fields.
    auto* thresholds = new QHBoxLayout;
    thresholds->setSpacing(12);
    thresholds->addStretch(1);
    thresholds->addWidget(addField(FormField::Threshold1, 34));
    thresholds->addWidget(addField(FormField::Threshold2, 34));
    infoGrid->addLayout(thresholds, 1, 2, 1, 2);
    row->addWidget(info);

    auto* readings = new QGroupBox(QStringLiteral("Показания"), this);
    auto* rGrid = new QGridLayout(readings);
    compact(rGrid);
    rGrid->addWidget(addLabel(FormField::TemperatureLabel, QStringLiteral("Т(у.е.)")), 0, 0, 2, 1);
    rGrid->addWidget(addLabel(FormField::DLabel, QStringLiteral("  d")), 0, 1, 2, 1);
    rGrid->addWidget(
        addLabel(FormField::ReferenceChannelLabel, QStringLiteral("Опорный канал"), true), 0, 2, 2,
        1);
    rGrid->addWidget(
        addLabel(FormField::WorkingChannelLabel, QStringLiteral("Рабочий канал"), true), 0, 3, 2,
        1);
    rGrid->addWidget(addLabel(FormField::None, QStringLiteral(" Концентрация")), 0, 4);
    rGrid->addWidget(addLabel(FormField::LelUnitLabel, QStringLiteral("%НКПР")), 1, 4);
    rGrid->addWidget(addLabel(FormField::None, QStringLiteral(" Концентрация")), 0, 5);
    rGrid->addWidget(addLabel(FormField::UnitLabel, QStringLiteral("Об. доли")), 1, 5);
    rGrid->addWidget(addField(FormField::Temperature, 40), 2, 0);
    rGrid->addWidget(addField(FormField::DValue, 40), 2, 1);
    rGrid->addWidget(addField(FormField::ReferenceChannel, 48), 2, 2);
    rGrid->addWidget(addField(FormField::WorkingChannel, 48), 2, 3);
    rGrid->addWidget(addField(FormField::ConcentrationLel, 52), 2, 4);
    rGrid->addWidget(addField(FormField::Concentration, 52), 2, 5);
    row->addWidget(readings);

    auto* relays = new QGroupBox(QStringLiteral("Состояние реле"), this);
    relays->setObjectName(QStringLiteral("ctl1033"));
    controls_[FormField::RelayGroup] = relays;
    auto* relayGrid = new QGridLayout(relays);
    compact(relayGrid);
    relayGrid->addWidget(addLabel(FormField::HealthLabel, QStringLiteral("Исправность")), 0, 0);
    relayGrid->addWidget(addLabel(FormField::Relay1Label, QStringLiteral("Порог 1")), 0, 1);
    relayGrid->addWidget(addLabel(FormField::Relay2Label, QStringLiteral("Порог 2")), 0, 2);
    relayGrid->addWidget(addIcon(FormField::HealthRelay, IconRelayOff), 1, 0, Qt::AlignHCenter);
    relayGrid->addWidget(addIcon(FormField::Relay1, IconRelayOff), 1, 1, Qt::AlignHCenter);
    relayGrid->addWidget(addIcon(FormField::Relay2, IconRelayOff), 1, 2, Qt::AlignHCenter);
    row->addWidget(relays);

    softwareGroup_ = new QGroupBox(QStringLiteral("Информация о ПО"), this);
    softwareGroup_->setObjectName(QStringLiteral("ctl1047"));
    controls_[FormField::SoftwareGroup] = softwareGroup_;
    auto* swGrid = new QGridLayout(softwareGroup_);
    compact(swGrid);
    swGrid->addWidget(addLabel(FormField::SoftwareVersionLabel, QStringLiteral("Версия ПО")), 0, 0);
    swGrid->addWidget(addLabel(FormField::SoftwareIdentifierLabel,
                               QStringLiteral("Идентификатор ПО (контрольная сумма)"), true),
                      0, 1);
    swGrid->addWidget(addLabel(FormField::SoftwareNameLabel, QStringLiteral("Наименование ПО")), 0,
                      2);
    swGrid->addWidget(addField(FormField::SoftwareVersion, 44), 1, 0);
    swGrid->addWidget(addField(FormField::SoftwareIdentifier,
                               fontMetrics().horizontalAdvance(QString(32, QLatin1Char('d'))) + 14),
                      1, 1);
    swGrid->addWidget(addField(FormField::SoftwareName, 80), 1, 2);
    row->addWidget(softwareGroup_);
    commandState_ = new QLabel(this);
    commandState_->setObjectName(QStringLiteral("commandState"));
    row->addWidget(commandState_);
    control(FormField::SoftwareNameLabel)->hide();
    control(FormField::SoftwareName)->hide();

    // The counters and their reset are kept for service and never shown.
    addField(FormField::ReplyCount, 40)->hide();
    addField(FormField::RequestCount, 40)->hide();
    auto* reset = new QPushButton(QStringLiteral("Сброс"), this);
    reset->setObjectName(QStringLiteral("ctl1044"));
    controls_[FormField::ResetButton] = reset;
    reset->hide();
    connect(reset, &QPushButton::clicked, this, &AnalyzerView::resetCounters);

    row->addStretch(1);
    // Too narrow a window scrolls in its area instead of squeezing the form.
    page->setSizeConstraint(QLayout::SetMinimumSize);
}

QWidget* AnalyzerView::control(FormField id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QLineEdit* AnalyzerView::field(FormField id) const { return qobject_cast<QLineEdit*>(control(id)); }

QString AnalyzerView::text(FormField id) const {
    QWidget* w = control(id);
    if (auto* f = qobject_cast<QLineEdit*>(w)) return f->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
    return {};
}

int AnalyzerView::iconOf(FormField id) const {
    QWidget* w = control(id);
    return w ? w->property(kIconProperty).toInt() : 0;
}

}  // namespace zta
