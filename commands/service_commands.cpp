#include "commands/service_commands.h"

#include <QDateTime>
#include <QDialog>

#include <cmath>
#include <iterator>
#include <optional>

#include "ui/command_ids.h"
#include "ui/command_router.h"
#include "ui/dialogs.h"
#include "commands/service_dialogs.h"
#include "device/analyzer_document.h"

namespace zta {

namespace {

bool RunDialog(QDialog& dialog) {
    return dialogs().Run(dialog) == QDialog::Accepted;
}

QWidget* Owner(const AnalyzerDocument& doc) {
    return doc.mainFrame ? doc.mainFrame->window() : nullptr;
}

// The window's slot as the block has it now; a renumbering may not have reached the document.
std::optional<int> LiveSlot(AnalyzerDocument& doc) {
    if (!doc.block || !doc.registered()) return std::nullopt;
    const auto slot = doc.block->SlotOfView(doc.viewId());
    if (slot) doc.slot = *slot;
    return slot;
}

int SlotAddress(const AnalyzerDocument& doc) {
    return doc.block->Snapshot(doc.slot).address;
}

// Polling runs and the window holds a slot; otherwise the refusal and false.
bool CheckConnected(AnalyzerDocument& doc, const QString& refusal) {
    if (doc.mainFrame && doc.mainFrame->IsPolling() && LiveSlot(doc)) return true;
    dialogs().Information(refusal, QStringLiteral("Ошибка"), Owner(doc));
    return false;
}

// Writes the request into the window's slot; the slot is looked up again because a dialog's
// event loop ran in between.
void Confirm(AnalyzerDocument& doc, zta::Command which, int value = 0) {
    const auto slot = LiveSlot(doc);
    if (!slot) return;
    const CommandTrack previous = doc.block->Snapshot(*slot).commands[CommandIndex(which)];
    if (!doc.block->ConfirmCommand(*slot, which, value)) return;
    doc.records.OnCommandConfirmed(which, QDateTime::currentMSecsSinceEpoch());
    if (doc.mainFrame) doc.mainFrame->CommandConfirmed(*slot, which, previous);
}

// A command with a confirmation and no value.
// A calibration first warns when the analyzer reports another gas than the station's.
void ConfirmAndSend(AnalyzerDocument& doc, const QString& refusal, zta::Command which,
                    const std::function<QString(int address)>& question, const QString& caption) {
    if (!CheckConnected(doc, refusal)) return;
    const bool calibration = which == zta::Command::MaxGas || which == zta::Command::MidGas;
    if (calibration && doc.mainFrame &&
        !doc.mainFrame->ConfirmCalibrationGas(doc.slot, Owner(doc)))
        return;
    if (!dialogs().Question(question(SlotAddress(doc)), caption, Owner(doc))) return;
    Confirm(doc, which);
}

void AskThreshold(AnalyzerDocument& doc, int which, std::uint8_t current, zta::Command command) {
    if (!LiveSlot(doc)) return;
    ThresholdDialog dialog(Owner(doc));
    dialog.setCaption(QStringLiteral("Установка порога %1 в приборе № %2")
                          .arg(which)
                          .arg(SlotAddress(doc)));
    dialog.setGasCode(doc.gasCode);
    dialog.setThreshold(static_cast<double>(current));
    if (!RunDialog(dialog)) return;
    Confirm(doc, command, zta::ThresholdToSend(dialog.threshold()));
}

// ---------------------------------------------------------------- the commands

void OnChangeNumber(AnalyzerDocument& doc) {
    if (!CheckConnected(doc, QStringLiteral("Смена номера не может быть произведена.\r\n"
                                              "      Проверьте подключение прибора. ")))
        return;
    NetworkNumberDialog dialog(Owner(doc));
    dialog.setCurrentNumber(SlotAddress(doc));
    if (!RunDialog(dialog)) return;
    Confirm(doc, zta::Command::NewAddress, dialog.newNumber());
}

void OnChangeSpeed(AnalyzerDocument& doc) {
    if (!CheckConnected(doc, QStringLiteral("Смена скорости не может быть произведена.\r\n"
                                              "       Проверьте подключение прибора. ")))
        return;
    BaudRateDialog dialog(Owner(doc));
    dialog.setCurrentNumber(SlotAddress(doc));
    if (!RunDialog(dialog)) return;
    Confirm(doc, zta::Command::NewBaud, dialog.speedCode());
}

void OnSetZero(AnalyzerDocument& doc) {
    ConfirmAndSend(
        doc,
        QStringLiteral("Установка нуля не может быть произведена.\r\n"
                       "       Проверьте подключение прибора. "),
        zta::Command::Zero,
        [](int address) { return QStringLiteral("Установить нуль в приборе № %1 ?").arg(address); },
        QStringLiteral("Установка нуля"));
}

const QString kGasRefusal = QStringLiteral(
    "Установка по газу не может быть произведена.\r\n       Проверьте подключение прибора. ");

void OnHighGas(AnalyzerDocument& doc) {
    const double gas = doc.block ? doc.block->MaxGas() : 0.0;
    ConfirmAndSend(
        doc, kGasRefusal, zta::Command::MaxGas,
        [gas](int address) {
            return QString::asprintf(
                "Установить газ максимальной концентрации (%.2f Об. долей) в приборе № %d ?",
                gas, address);
        },
        QStringLiteral("Установка по газу"));
}

void OnMiddleGas(AnalyzerDocument& doc) {
    const double gas = doc.block ? doc.block->MidGas() : 0.0;
    ConfirmAndSend(
        doc, kGasRefusal, zta::Command::MidGas,
        [gas](int address) {
            return QString::asprintf(
                "Установить газ средней концентрации (%.2f Об. долей) в приборе № %d ?", gas,
                address);
        },
        QStringLiteral("Установка по газу"));
}

void OnTypicalConcentration(AnalyzerDocument& doc) {
    ConfirmAndSend(
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

void OnThreshold1(AnalyzerDocument& doc) {
    AskThreshold(doc, 1, doc.threshold1, zta::Command::Threshold1);
}

void OnThreshold2(AnalyzerDocument& doc) {
    if (doc.gasCode == 5) {
        dialogs().Information(QStringLiteral("Прибор VRM имеет только один порог.\r\n"),
                                  QStringLiteral("Внимание"), Owner(doc));
        return;
    }
    AskThreshold(doc, 2, doc.threshold2, zta::Command::Threshold2);
}

void OnChangeFactoryNumber(AnalyzerDocument& doc) {
    if (!LiveSlot(doc)) return;
    FactoryNumberDialog dialog(Owner(doc));
    dialog.setNetworkNumber(doc.address);
    dialog.setFactoryNumber(doc.factoryNumber);
    if (!RunDialog(dialog)) return;
    Confirm(doc, zta::Command::FactoryNumber, dialog.factoryNumber());
}

void OnUpdateAlways(AnalyzerDocument&, CommandState& state) {
    state.enabled = true;
}

void OnUpdateWhenResponding(AnalyzerDocument& doc, CommandState& state) {
    state.enabled = doc.linkUp;
}

constexpr CommandId kAlways[] = {
    CommandId::ChangeNumber,    CommandId::ChangeSpeed,   CommandId::SetZero,       CommandId::HighGas,
    CommandId::MiddleGas,       CommandId::TypicalConcentration,            CommandId::Threshold1,
    CommandId::Threshold2,      CommandId::ToolSetZero,   CommandId::ToolHighGas,   CommandId::ToolMiddleGas,
    CommandId::ToolChangeSpeed, CommandId::ToolTypicalConcentration,        CommandId::ToolThreshold1,
    CommandId::ToolThreshold2,  CommandId::ToolRecord};
constexpr CommandId kWhenResponding[] = {CommandId::ToolChangeNumber, CommandId::Record};

bool Contains(const CommandId* first, const CommandId* last, CommandId id) {
    for (; first != last; ++first)
        if (*first == id) return true;
    return false;
}

bool Dispatch(AnalyzerDocument& doc, CommandId id) {
    switch (id) {
    case CommandId::ChangeNumber:
    case CommandId::ToolChangeNumber: OnChangeNumber(doc); return true;
    case CommandId::ChangeSpeed:
    case CommandId::ToolChangeSpeed: OnChangeSpeed(doc); return true;
    case CommandId::SetZero:
    case CommandId::ToolSetZero: OnSetZero(doc); return true;
    case CommandId::HighGas:
    case CommandId::ToolHighGas: OnHighGas(doc); return true;
    case CommandId::MiddleGas:
    case CommandId::ToolMiddleGas: OnMiddleGas(doc); return true;
    case CommandId::TypicalConcentration:
    case CommandId::ToolTypicalConcentration: OnTypicalConcentration(doc); return true;
    case CommandId::Threshold1:
    case CommandId::ToolThreshold1: OnThreshold1(doc); return true;
    case CommandId::Threshold2:
    case CommandId::ToolThreshold2: OnThreshold2(doc); return true;
    default: return false;
    }
}

bool Update(AnalyzerDocument& doc, CommandId id, CommandState& state) {
    if (Contains(std::begin(kAlways), std::end(kAlways), id)) {
        OnUpdateAlways(doc, state);
        return true;
    }
    if (Contains(std::begin(kWhenResponding), std::end(kWhenResponding), id)) {
        OnUpdateWhenResponding(doc, state);
        return true;
    }
    return false;
}

}  // namespace

DocumentCommandHandlers ServiceCommandHandlers() {
    return {Dispatch, Update, OnChangeFactoryNumber};
}

}  // namespace zta
