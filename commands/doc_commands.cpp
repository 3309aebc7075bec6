#include "commands/doc_commands.h"

#include <QDateTime>
#include <QDialog>

#include <cmath>
#include <iterator>
#include <optional>

#include "app/command_ids.h"
#include "app/command_router.h"
#include "app/prompter.h"
#include "commands/service_dialogs.h"
#include "device/mirel_doc.h"

namespace {

std::function<int(QDialog&)>& DialogRunner() {
    static std::function<int(QDialog&)> runner;
    return runner;
}

bool RunDialog(QDialog& dialog) {
    const auto& runner = DialogRunner();
    return (runner ? runner(dialog) : dialog.exec()) == QDialog::Accepted;
}

QWidget* Owner(const CMirelDoc& doc) {
    return doc.mainFrame ? doc.mainFrame->window() : nullptr;
}

// The window's slot as the block has it now; a renumbering may not have reached the document.
std::optional<int> LiveSlot(CMirelDoc& doc) {
    if (!doc.block || !doc.registered()) return std::nullopt;
    const auto slot = doc.block->SlotOfView(doc.viewId());
    if (slot) doc.slot = *slot;
    return slot;
}

int SlotAddress(const CMirelDoc& doc) {
    return doc.block->Snapshot(doc.slot).address;
}

// Polling runs and the window holds a slot; otherwise the refusal and false.
bool CheckConnected(CMirelDoc& doc, const QString& refusal) {
    if (doc.mainFrame && doc.mainFrame->IsPolling() && LiveSlot(doc)) return true;
    GetPrompter().Information(refusal, QStringLiteral("Ошибка"), Owner(doc));
    return false;
}

// Writes the request into the window's slot; the slot is looked up again because a dialog's
// event loop ran in between.
void Confirm(CMirelDoc& doc, zta::Command which, int value = 0) {
    const auto slot = LiveSlot(doc);
    if (slot && doc.block->ConfirmCommand(*slot, which, value))
        doc.records.OnCommandConfirmed(which, QDateTime::currentMSecsSinceEpoch());
}

// A command with a confirmation and no value.
void ConfirmAndSend(CMirelDoc& doc, const QString& refusal, zta::Command which,
                    const std::function<QString(int address)>& question, const QString& caption) {
    if (!CheckConnected(doc, refusal)) return;
    if (!GetPrompter().Question(question(SlotAddress(doc)), caption, Owner(doc))) return;
    Confirm(doc, which);
}

void AskThreshold(CMirelDoc& doc, int which, std::uint8_t current, zta::Command command) {
    if (!LiveSlot(doc)) return;
    CSetPorog dialog(Owner(doc));
    dialog.setCaption(QStringLiteral("Установка порога %1 в приборе № %2")
                          .arg(which)
                          .arg(SlotAddress(doc)));
    dialog.setGasCode(doc.gasCode);
    dialog.setThreshold(static_cast<double>(current));
    if (!RunDialog(dialog)) return;
    // The analyzer takes whole units: 37.9 goes out as 37.
    const int value = static_cast<int>(std::trunc(dialog.threshold()));
    Confirm(doc, command, value & 0xff);
}

constexpr int kAlways[] = {
    CmdChangeNumber,    CmdChangeSpeed,   CmdSetZero,       CmdHighGas,
    CmdMiddleGas,       CmdTypicalConcentration,            CmdThreshold1,
    CmdThreshold2,      CmdToolSetZero,   CmdToolHighGas,   CmdToolMiddleGas,
    CmdToolChangeSpeed, CmdToolTypicalConcentration,        CmdToolThreshold1,
    CmdToolThreshold2,  CmdToolRecord};
constexpr int kWhenResponding[] = {CmdToolChangeNumber, CmdRecord};

bool Contains(const int* first, const int* last, int id) {
    for (; first != last; ++first)
        if (*first == id) return true;
    return false;
}

bool Dispatch(CMirelDoc& doc, int id) {
    switch (id) {
    case CmdChangeNumber:
    case CmdToolChangeNumber: doc.OnChangeNumber(); return true;
    case CmdChangeSpeed:
    case CmdToolChangeSpeed: doc.OnChangeSpeed(); return true;
    case CmdSetZero:
    case CmdToolSetZero: doc.OnSetZero(); return true;
    case CmdHighGas:
    case CmdToolHighGas: doc.OnHighGas(); return true;
    case CmdMiddleGas:
    case CmdToolMiddleGas: doc.OnMiddleGas(); return true;
    case CmdTypicalConcentration:
    case CmdToolTypicalConcentration: doc.OnTypicalConcentration(); return true;
    case CmdThreshold1:
    case CmdToolThreshold1: doc.OnThreshold1(); return true;
    case CmdThreshold2:
    case CmdToolThreshold2: doc.OnThreshold2(); return true;
    default: return false;
    }
}

bool Update(CMirelDoc& doc, int id, CommandState& state) {
    if (Contains(std::begin(kAlways), std::end(kAlways), id)) {
        doc.OnUpdateAlways(state);
        return true;
    }
    if (Contains(std::begin(kWhenResponding), std::end(kWhenResponding), id)) {
        doc.OnUpdateWhenResponding(state);
        return true;
    }
    return false;
}

}  // namespace

DocumentCommandHandlers ServiceCommandHandlers() {
    return {Dispatch, Update, [](CMirelDoc& doc) { doc.OnChangeFactoryNumber(); }};
}

void SetServiceDialogRunner(std::function<int(QDialog&)> runner) {
    DialogRunner() = std::move(runner);
}

// ---------------------------------------------------------------- CMirelDoc

void CMirelDoc::OnChangeNumber() {
    if (!CheckConnected(*this, QStringLiteral("Смена номера не может быть произведена.\r\n"
                                              "      Проверьте подключение прибора. ")))
        return;
    CSetNomer dialog(Owner(*this));
    dialog.setCurrentNumber(SlotAddress(*this));
    if (!RunDialog(dialog)) return;
    Confirm(*this, zta::Command::NewAddress, dialog.newNumber());
}

void CMirelDoc::OnChangeSpeed() {
    if (!CheckConnected(*this, QStringLiteral("Смена скорости не может быть произведена.\r\n"
                                              "       Проверьте подключение прибора. ")))
        return;
    CSetSpeed dialog(Owner(*this));
    dialog.setCurrentNumber(SlotAddress(*this));
    if (!RunDialog(dialog)) return;
    Confirm(*this, zta::Command::NewBaud, dialog.speedCode());
}

void CMirelDoc::OnSetZero() {
    ConfirmAndSend(
        *this,
        QStringLiteral("Установка нуля не может быть произведена.\r\n"
                       "       Проверьте подключение прибора. "),
        zta::Command::Zero,
        [](int address) { return QStringLiteral("Установить нуль в приборе № %1 ?").arg(address); },
        QStringLiteral("Установка нуля"));
}

namespace {

const QString kGasRefusal = QStringLiteral(
    "Установка по газу не может быть произведена.\r\n       Проверьте подключение прибора. ");

}  // namespace

void CMirelDoc::OnHighGas() {
    const double gas = block ? block->MaxGas() : 0.0;
    ConfirmAndSend(
        *this, kGasRefusal, zta::Command::MaxGas,
        [gas](int address) {
            return QString::asprintf(
                "Установить газ максимальной концентрации (%.2f Об. долей) в приборе № %d ?",
                gas, address);
        },
        QStringLiteral("Установка по газу"));
}

void CMirelDoc::OnMiddleGas() {
    const double gas = block ? block->MidGas() : 0.0;
    ConfirmAndSend(
        *this, kGasRefusal, zta::Command::MidGas,
        [gas](int address) {
            return QString::asprintf(
                "Установить газ средней концентрации (%.2f Об. долей) в приборе № %d ?", gas,
                address);
        },
        QStringLiteral("Установка по газу"));
}

void CMirelDoc::OnTypicalConcentration() {
    ConfirmAndSend(
        *this,
        QStringLiteral("Установка исходной концентрации не может быть произведена.\r\n"
                       "                  Проверьте подключение прибора. "),
        zta::Command::Typical,
        [](int address) {
            return QStringLiteral("Загрузить типовые значения концентрации в приборе № %1 ?")
                .arg(address);
        },
        QStringLiteral("Установка исходной концентрации"));
}

void CMirelDoc::OnThreshold1() {
    AskThreshold(*this, 1, threshold1, zta::Command::Threshold1);
}

void CMirelDoc::OnThreshold2() {
    if (gasCode == 5) {
        GetPrompter().Information(QStringLiteral("Прибор VRM имеет только один порог.\r\n"),
                                  QStringLiteral("Внимание"), Owner(*this));
        return;
    }
    AskThreshold(*this, 2, threshold2, zta::Command::Threshold2);
}

void CMirelDoc::OnChangeFactoryNumber() {
    if (!LiveSlot(*this)) return;
    CChangeZavNomer dialog(Owner(*this));
    dialog.setNetworkNumber(address);
    dialog.setFactoryNumber(factoryNumber);
    if (!RunDialog(dialog)) return;
    Confirm(*this, zta::Command::FactoryNumber, dialog.factoryNumber());
}

void CMirelDoc::OnUpdateAlways(CommandState& state) {
    state.enabled = true;
}

void CMirelDoc::OnUpdateWhenResponding(CommandState& state) {
    state.enabled = linkUp;
}
