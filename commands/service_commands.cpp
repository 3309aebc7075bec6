// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands/service_commands.h"

#include <QDialog>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>

#include "commands/service_dialogs.h"
#include "device/analyzer_document.h"
#include "link/net_address.h"
#include "ui/command_ids.h"
#include "ui/command_router.h"
#include "ui/command_table.h"
#include "ui/dialogs.h"
#include "ui/station_texts.h"

namespace zta {

namespace {

bool runDialog(QDialog& dialog) { return dialogs().run(dialog) == QDialog::Accepted; }

QWidget* owner(const AnalyzerDocument& doc) { return doc.host() ? doc.host()->window() : nullptr; }

std::optional<int> liveSlot(AnalyzerDocument& doc) { return doc.liveSlot(); }

int slotAddress(const AnalyzerDocument& doc) { return doc.snapshot().address; }

// Polling runs and the window holds a slot; otherwise the refusal and false.
bool checkConnected(AnalyzerDocument& doc, const QString& refusal) {
    if (doc.host() && doc.host()->isPolling() && liveSlot(doc)) return true;
    dialogs().information(refusal, QStringLiteral("Ошибка"), owner(doc));
    return false;
}

// After the operator's confirmation: the window may have closed while its dialog was open.
void confirm(AnalyzerDocument& doc, zta::Command which,
             std::optional<double> value = std::nullopt) {
    if (doc.registered()) doc.host()->commands().send(doc.analyzerId(), which, value);
}

// A command with a confirmation and no value.
// A calibration first warns when the analyzer reports another gas than the station's.
void confirmAndSend(AnalyzerDocument& doc, const QString& refusal, zta::Command which,
                    const std::function<QString(int address)>& question, const QString& caption) {
    if (!checkConnected(doc, refusal)) return;
    const bool calibration = which == zta::Command::MaxGas || which == zta::Command::MidGas;
    if (calibration && doc.host() && !doc.host()->confirmCalibrationGas(doc.slot, owner(doc)))
        return;
    if (!dialogs().question(question(slotAddress(doc)), caption, owner(doc))) return;
    confirm(doc, which);
}

void askThreshold(AnalyzerDocument& doc, int which, std::uint8_t current, zta::Command command) {
    if (!liveSlot(doc)) return;
    ThresholdDialog dialog(owner(doc));
    dialog.setCaption(
        QStringLiteral("Установка порога %1 в приборе № %2").arg(which).arg(slotAddress(doc)));
    dialog.setGasCode(doc.readings.gasCode);
    dialog.setThreshold(static_cast<double>(current));
    if (!runDialog(dialog)) return;
    confirm(doc, command, zta::thresholdToSend(dialog.threshold()));
}

// ---------------------------------------------------------------- the commands

void onChangeNumber(AnalyzerDocument& doc) {
    if (!checkConnected(doc, QStringLiteral("Смена номера не может быть произведена.\r\n"
                                            "      Проверьте подключение прибора. ")))
        return;
    NetworkNumberDialog dialog(owner(doc));
    dialog.setCurrentNumber(slotAddress(doc));
    if (!runDialog(dialog)) return;
    confirm(doc, zta::Command::NewAddress, dialog.newNumber());
}

void onChangeSpeed(AnalyzerDocument& doc) {
    if (!checkConnected(doc, QStringLiteral("Смена скорости не может быть произведена.\r\n"
                                            "       Проверьте подключение прибора. ")))
        return;
    const std::string port = doc.host()->line().port();
    if (!zta::lineRateSettable(port)) {
        dialogs().information(gatewayRateText(QString::fromStdString(port)),
                              QStringLiteral("Ошибка"), owner(doc));
        return;
    }
    BaudRateDialog dialog(owner(doc));
    dialog.setCurrentNumber(slotAddress(doc));
    if (!runDialog(dialog)) return;
    confirm(doc, zta::Command::NewBaud, dialog.speedCode());
}

void onSetZero(AnalyzerDocument& doc) {
    confirmAndSend(
        doc,
        QStringLiteral("Установка нуля не может быть произведена.\r\n"
                       "       Проверьте подключение прибора. "),
        zta::Command::Zero,
        [](int address) { return QStringLiteral("Установить нуль в приборе № %1 ?").arg(address); },
        QStringLiteral("Установка нуля"));
}

const QString kGasRefusal = QStringLiteral(
    "Установка по газу не может быть произведена.\r\n       Проверьте подключение прибора. ");

void onHighGas(AnalyzerDocument& doc) {
    const double gas = doc.host() ? doc.host()->line().block().maxGas() : 0.0;
    confirmAndSend(
        doc, kGasRefusal, zta::Command::MaxGas,
        [gas](int address) {
            return QString::asprintf(
                "Установить газ максимальной концентрации (%.2f Об. долей) в приборе № %d ?", gas,
                address);
        },
        QStringLiteral("Установка по газу"));
}

void onMiddleGas(AnalyzerDocument& doc) {
    const double gas = doc.host() ? doc.host()->line().block().midGas() : 0.0;
    confirmAndSend(
        doc, kGasRefusal, zta::Command::MidGas,
        [gas](int address) {
            return QString::asprintf(
                "Установить газ средней концентрации (%.2f Об. долей) в приборе № %d ?", gas,
                address);
        },
        QStringLiteral("Установка по газу"));
}

void onTypicalConcentration(AnalyzerDocument& doc) {
    confirmAndSend(
        doc,
        QStringLiteral("Установка исходной концентрации не может быть произведена.\r\n"
                       "                  Проверьте подключение прибора. "),
        zta::Command::Typical,
        [](int address) {
            return QStringLiteral("Загрузить типовые значения концентрации в приборе № %1 ?")
                .arg(address);
        },
        QStringLiteral("Установка исходной концентрации"));
}

void onThreshold1(AnalyzerDocument& doc) {
    askThreshold(doc, 1, doc.readings.threshold1, zta::Command::Threshold1);
}

void onThreshold2(AnalyzerDocument& doc) {
    if (doc.readings.gasCode == 5) {
        dialogs().information(QStringLiteral("Прибор VRM имеет только один порог.\r\n"),
                              QStringLiteral("Внимание"), owner(doc));
        return;
    }
    askThreshold(doc, 2, doc.readings.threshold2, zta::Command::Threshold2);
}

void onChangeFactoryNumber(AnalyzerDocument& doc) {
    if (!liveSlot(doc)) return;
    FactoryNumberDialog dialog(owner(doc));
    dialog.setNetworkNumber(doc.address);
    dialog.setFactoryNumber(doc.readings.factoryNumber);
    if (!runDialog(dialog)) return;
    confirm(doc, zta::Command::FactoryNumber, dialog.factoryNumber());
}

void onUpdateAlways(AnalyzerDocument&, CommandState& state) { state.enabled = true; }

void onUpdateWhenResponding(AnalyzerDocument& doc, CommandState& state) {
    state.enabled = doc.linkUp;
}

using Dialog = void (*)(AnalyzerDocument&);

// Each command's dialog: its menu item, its tool button and its key come to it.
constexpr std::pair<zta::Command, Dialog> kDialogs[] = {
    {zta::Command::NewAddress, onChangeNumber},
    {zta::Command::NewBaud, onChangeSpeed},
    {zta::Command::Zero, onSetZero},
    {zta::Command::MaxGas, onHighGas},
    {zta::Command::MidGas, onMiddleGas},
    {zta::Command::Typical, onTypicalConcentration},
    {zta::Command::Threshold1, onThreshold1},
    {zta::Command::Threshold2, onThreshold2},
    {zta::Command::FactoryNumber, onChangeFactoryNumber},
};

Dialog dialogOf(zta::Command command) {
    for (const auto& [which, dialog] : kDialogs)
        if (which == command) return dialog;
    return nullptr;
}

bool dispatch(AnalyzerDocument& doc, CommandId id) {
    const CommandUiRow* row = commandUiOf(id);
    const Dialog dialog = row ? dialogOf(row->command) : nullptr;
    if (!dialog) return false;
    dialog(doc);
    return true;
}

bool update(AnalyzerDocument& doc, CommandId id, CommandState& state) {
    const CommandUiRow* row = commandUiOf(id);
    if (id == CommandId::Record || (row && row->toolWhenResponding && id == row->toolId)) {
        onUpdateWhenResponding(doc, state);
        return true;
    }
    if (row || id == CommandId::ToolRecord) {
        onUpdateAlways(doc, state);
        return true;
    }
    return false;
}

}  // namespace

bool hasServiceDialog(zta::Command command) { return dialogOf(command) != nullptr; }

DocumentCommandHandlers serviceCommandHandlers() {
    return {dispatch, update, onChangeFactoryNumber};
}

}  // namespace zta
