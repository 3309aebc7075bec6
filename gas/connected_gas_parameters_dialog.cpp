// SPDX-License-Identifier: GPL-3.0-or-later
#include "gas/connected_gas_parameters_dialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "ui/dialog_buttons.h"
#include "ui/dialog_rules.h"
#include "ui/dialogs.h"

namespace zta {

bool unitsAreLel(const QString& units) { return units.contains(QStringLiteral("НКПР")); }

QString concentrationText(double value, bool lel) {
    return QString::asprintf(lel ? "%.0f" : "%.2f", value);
}

std::vector<DeviceLine> buildDeviceLines(const std::vector<GasDeviceRow>& rows) {
    std::vector<DeviceLine> lines;
    const size_t count = std::min(rows.size(), static_cast<size_t>(kMaxDeviceRows));
    for (size_t i = 0; i < count; ++i) {
        const GasDeviceRow& row = rows[i];
        const bool lel = unitsAreLel(row.units);
        DeviceLine line;
        line.gasName = row.gasName;
        line.rangeText = QString::asprintf("%.2f", row.range);
        line.units = row.units;
        line.middleText = concentrationText(row.middle, lel);
        line.maximumText = concentrationText(row.maximum, lel);
        bool listed = false;
        for (const DeviceLine& other : lines)
            listed =
                listed || (other.gasName == line.gasName && other.rangeText == line.rangeText &&
                           other.units == line.units && other.middleText == line.middleText &&
                           other.maximumText == line.maximumText);
        if (listed) continue;
        line.number = QString::number(lines.size() + 1);
        lines.push_back(line);
    }
    return lines;
}

LineFields lineFields(const DeviceLine& line) {
    LineFields fields;
    fields.range = parseNumber(line.rangeText).value_or(0.0);
    fields.lelMode = unitsAreLel(line.units);
    if (fields.lelMode) {
        // The list shows whole %НКПР; the fields take exactly what the list shows.
        const double max = parseNumber(line.maximumText).value_or(0.0);
        const double mid = parseNumber(line.middleText).value_or(0.0);
        fields.lelMaximum = line.maximumText;
        fields.lelMiddle = line.middleText;
        fields.volumeMaximum = QString::asprintf("%.2f", deviceLelToVolume(max, fields.range));
        fields.volumeMiddle = QString::asprintf("%.2f", deviceLelToVolume(mid, fields.range));
    } else {
        fields.lelMaximum = QStringLiteral("-1");
        fields.lelMiddle = QStringLiteral("-1");
        fields.volumeMaximum = line.maximumText;
        fields.volumeMiddle = line.middleText;
    }
    return fields;
}

TypedOutcome typedLel(long long lel, double range) {
    TypedOutcome outcome;
    if (lel >= 200) {
        outcome.tooLarge = true;
        return outcome;
    }
    outcome.otherField =
        QString::asprintf("%.2f", deviceLelToVolume(static_cast<double>(lel), range));
    return outcome;
}

TypedOutcome typedVolume(double volume, double range, bool lelEnabled) {
    TypedOutcome outcome;
    if (volume >= 2.0 * range) {
        outcome.tooLarge = true;
        return outcome;
    }
    if (lelEnabled) {
        if (auto lel = deviceVolumeToLel(volume, range)) outcome.otherField = QString::number(*lel);
    }
    return outcome;
}

QString tooLargeMessage(bool middle) {
    return middle ? QStringLiteral("Слишком большое значение газа средней концентрации")
                  : QStringLiteral("Слишком большое значение газа максимальной концентрации");
}

ChoiceCheck checkDeviceChoice(double maximum, double middle, double range) {
    if (!(middle < maximum)) return ChoiceCheck::MiddleNotBelowMaximum;
    const double limit = range * 1.2;
    if (!atMost(maximum, limit)) return ChoiceCheck::MaximumAboveRange;
    if (!atMost(middle, limit)) return ChoiceCheck::MiddleAboveRange;
    return ChoiceCheck::Confirm;
}

QString choiceQuestion(ChoiceCheck check) {
    switch (check) {
        case ChoiceCheck::MiddleNotBelowMaximum:
            return QStringLiteral(
                "Значение газа средней концентрации больше значения газа высокой концентрации.");
        case ChoiceCheck::MaximumAboveRange:
            return QStringLiteral(
                "Значение газа высокой концентрации больше значения диапазона на 20%. Исправить?");
        case ChoiceCheck::MiddleAboveRange:
            return QStringLiteral(
                "Значение газа средней концентрации больше значения диапазона на 20%. Исправить?");
        case ChoiceCheck::Confirm:
            break;
    }
    return {};
}

QString gasConfirmationText(const QString& gasName, double range, double maximum, double middle) {
    return QString::asprintf(
        "Установить новые параметры газов для калибровки?\r\n"
        "                             Тип газа: %s\r\n"
        "                             Диапазон: %.2f\r\n"
        "          Газ максимальной концентрации: %.2f\r\n"
        "                Газ средней концентрации: %.2f",
        gasName.toUtf8().constData(), range, maximum, middle);
}

namespace {
const char* const kHeadings[] = {"№",         "Тип газа",     "Диапазон",
                                 "Ед.измер.", "Ср.концентр.", "Макс.концентр."};
constexpr int kColumnCount = 6;
}  // namespace

ConnectedGasParametersDialog::ConnectedGasParametersDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Выбор параметров подключенных приборов"));
    auto* layout = new QVBoxLayout(this);

    list_ = new QTableWidget(0, kColumnCount, this);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->verticalHeader()->hide();
    list_->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    const QFontMetrics metrics = list_->horizontalHeader()->fontMetrics();
    for (int c = 0; c < kColumnCount; ++c) {
        const QString heading = QString::fromUtf8(kHeadings[c]);
        list_->setHorizontalHeaderItem(c, new QTableWidgetItem(heading));
        list_->setColumnWidth(c, metrics.horizontalAdvance(heading) + 16 + (c == 0 ? 20 : 0));
    }
    list_->installEventFilter(this);
    layout->addWidget(list_);

    auto* group = new QGroupBox(QStringLiteral("Тип и концентрации  газов для калибровок"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(QStringLiteral("Тип газа:"), group), 0, 0);
    gasName_ = new QLabel(group);
    grid->addWidget(gasName_, 0, 1);
    auto* rangeRow = new QHBoxLayout;
    rangeRow->addWidget(new QLabel(QStringLiteral("Диапазон:"), group));
    range_ = new QLabel(group);
    rangeRow->addWidget(range_);
    rangeRow->addStretch();
    grid->addLayout(rangeRow, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Единицы измерения:"), group), 1, 0);
    grid->addWidget(new QLabel(QStringLiteral("Средняя концентрация:"), group), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Максимальная концентрация:"), group), 1, 2);
    lelBox_ = new QCheckBox(QStringLiteral("%НКПР"), group);
    volumeBox_ = new QCheckBox(QStringLiteral("Об.Доли"), group);
    auto makeField = [group](const char* name) {
        auto* field = new QLineEdit(QStringLiteral("0"), group);
        field->setObjectName(QString::fromLatin1(name));
        return field;
    };
    lelMid_ = makeField("lelMiddleField");
    lelMax_ = makeField("lelMaximumField");
    volMid_ = makeField("volumeMiddleField");
    volMax_ = makeField("volumeMaximumField");
    grid->addWidget(lelBox_, 2, 0);
    grid->addWidget(lelMid_, 2, 1);
    grid->addWidget(lelMax_, 2, 2);
    grid->addWidget(volumeBox_, 3, 0);
    grid->addWidget(volMid_, 3, 1);
    grid->addWidget(volMax_, 3, 2);
    layout->addWidget(group);

    okButton_ = addDialogButtons(*this, *layout, QStringLiteral("OK"), QStringLiteral("Cancel"));

    connect(list_, &QTableWidget::itemSelectionChanged, this,
            &ConnectedGasParametersDialog::onSelectionChanged);
    connect(lelBox_, &QCheckBox::clicked, this, [this] { setMode(true); });
    connect(volumeBox_, &QCheckBox::clicked, this, [this] { setMode(false); });
    for (QLineEdit* field : {lelMid_, lelMax_, volMid_, volMax_})
        connect(field, &QLineEdit::textEdited, this, [this, field] { onTyped(field); });
    connect(okButton_, &QPushButton::clicked, this, &ConnectedGasParametersDialog::onOk);
    resize(560, 420);
}

void ConnectedGasParametersDialog::setAnalyzers(const std::vector<AnalyzerGasParams>& analyzers) {
    rows_.clear();
    for (const AnalyzerGasParams& params : analyzers) rows_.push_back(makeGasDeviceRow(params));
}

void ConnectedGasParametersDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) fillList();
    QDialog::showEvent(event);
}

bool ConnectedGasParametersDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_) {
        if (event->type() == QEvent::FocusIn)
            editing_ = false;
        else if (event->type() == QEvent::FocusOut)
            editing_ = true;
    }
    return QDialog::eventFilter(watched, event);
}

void ConnectedGasParametersDialog::fillList() {
    // The layout's texts; a table without rows leaves them, and the fields keep their values.
    gasName_->setText(QStringLiteral("Бутан"));
    range_->setText(QStringLiteral("0.15"));
    lines_ = buildDeviceLines(rows_);
    {
        const QSignalBlocker blocker(list_);
        list_->clearContents();
        list_->setRowCount(static_cast<int>(lines_.size()));
        for (int r = 0; r < static_cast<int>(lines_.size()); ++r) {
            const DeviceLine& line = lines_[r];
            const QString texts[kColumnCount] = {line.number, line.gasName,    line.rangeText,
                                                 line.units,  line.middleText, line.maximumText};
            for (int c = 0; c < kColumnCount; ++c) {
                auto* item = new QTableWidgetItem(texts[c]);
                item->setTextAlignment(Qt::AlignCenter);
                list_->setItem(r, c, item);
            }
        }
    }
    // Nothing to choose from: OK would apply whatever the fields kept from the last run.
    okButton_->setEnabled(!lines_.empty());
    if (!lines_.empty()) {
        list_->selectRow(0);
        list_->setCurrentCell(0, 0);
        onSelectionChanged();
    }
    list_->setFocus();
    editing_ = false;
}

void ConnectedGasParametersDialog::onSelectionChanged() {
    const QList<QTableWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty()) return;
    const int row = selected.front()->row();
    if (row < 0 || row >= static_cast<int>(lines_.size())) return;
    editing_ = false;
    const DeviceLine& line = lines_[row];
    const LineFields fields = lineFields(line);
    gasName_->setText(line.gasName);
    selectedRange_ = chosenRange_ = fields.range;
    range_->setText(line.rangeText);
    chosenUnits_ = line.units;
    lelBox_->setEnabled(fields.lelMode);
    setMode(fields.lelMode);
    lelMax_->setText(fields.lelMaximum);
    lelMid_->setText(fields.lelMiddle);
    volMax_->setText(fields.volumeMaximum);
    volMid_->setText(fields.volumeMiddle);
}

void ConnectedGasParametersDialog::setMode(bool lel) {
    lelMode_ = lel;
    lelBox_->setChecked(lel);
    volumeBox_->setChecked(!lel);
    lelMid_->setReadOnly(!lel);
    lelMax_->setReadOnly(!lel);
    volMid_->setReadOnly(lel);
    volMax_->setReadOnly(lel);
}

bool ConnectedGasParametersDialog::takeFields() {
    return takeInteger(lelMid_, this) && takeInteger(lelMax_, this) && takeNumber(volMid_, this) &&
           takeNumber(volMax_, this);
}

void ConnectedGasParametersDialog::onTyped(QLineEdit* field) {
    if (!editing_ || !field->hasFocus()) return;
    if (!takeFields()) return;
    const bool middle = field == lelMid_ || field == volMid_;
    TypedOutcome outcome;
    QLineEdit* other = nullptr;
    if (field == lelMid_ || field == lelMax_) {
        outcome = typedLel(*parseInteger(field->text()), selectedRange_);
        other = middle ? volMid_ : volMax_;
    } else {
        outcome = typedVolume(*parseNumber(field->text()), selectedRange_, lelBox_->isEnabled());
        other = middle ? lelMid_ : lelMax_;
    }
    if (outcome.tooLarge) {
        dialogs().show(tooLargeMessage(middle), QStringLiteral("Ошибка"), Dialogs::Icon::None,
                       Dialogs::Ok, this);
        focusAndSelect(field);
        return;
    }
    if (outcome.otherField) other->setText(*outcome.otherField);
}

void ConnectedGasParametersDialog::onOk() {
    if (lines_.empty() || !takeFields()) return;
    chosenName_ = gasName_->text();
    chosenMaximum_ = *parseNumber(volMax_->text());
    chosenMiddle_ = *parseNumber(volMid_->text());
    QLineEdit* activeMiddle = lelMode_ ? lelMid_ : volMid_;
    QLineEdit* activeMaximum = lelMode_ ? lelMax_ : volMax_;
    Dialogs& prompter = dialogs();
    Dialogs::Icon icon = Dialogs::Icon::Information;
    const ChoiceCheck check = checkDeviceChoice(chosenMaximum_, chosenMiddle_, chosenRange_);
    switch (check) {
        case ChoiceCheck::MiddleNotBelowMaximum:
            prompter.show(choiceQuestion(check), QStringLiteral("Ошибка"), Dialogs::Icon::None,
                          Dialogs::Ok, this);
            focusAndSelect(activeMiddle);
            return;
        case ChoiceCheck::MaximumAboveRange:
        case ChoiceCheck::MiddleAboveRange:
            if (prompter.question(choiceQuestion(check), QStringLiteral("Ошибка"), this)) {
                focusAndSelect(check == ChoiceCheck::MaximumAboveRange ? activeMaximum
                                                                       : activeMiddle);
                return;
            }
            icon = Dialogs::Icon::Warning;
            break;
        case ChoiceCheck::Confirm:
            break;
    }
    const QString text =
        gasConfirmationText(chosenName_, chosenRange_, chosenMaximum_, chosenMiddle_);
    if (prompter.show(text, QStringLiteral("Установка"), icon, Dialogs::Ok | Dialogs::Cancel,
                      this) == Dialogs::ResultOk)
        accept();
}

}  // namespace zta
