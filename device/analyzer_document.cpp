// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/analyzer_document.h"

#include <QDateTime>
#include <map>

#include "device/analyzer_window_factory.h"
#include "ui/dialogs.h"

namespace zta {

namespace {

// Views by their handle in the poll block. Everything here runs on the UI thread.
std::map<zta::AnalyzerId, AnalyzerViewInterface*>& liveViews() {
    static std::map<zta::AnalyzerId, AnalyzerViewInterface*> views;
    return views;
}

DocumentCommandHandlers& handlerTable() {
    static DocumentCommandHandlers handlers;  // the station installs the service commands
    return handlers;
}

}  // namespace

void registerLiveView(AnalyzerViewInterface* view) { liveViews()[viewIdOf(view)] = view; }

void unregisterLiveView(AnalyzerViewInterface* view) { liveViews().erase(viewIdOf(view)); }

AnalyzerViewInterface* findAnalyzerView(zta::AnalyzerId id) {
    const auto it = liveViews().find(id);
    return it == liveViews().end() ? nullptr : it->second;
}

void setDocumentCommandHandlers(DocumentCommandHandlers handlers) {
    handlerTable() = std::move(handlers);
}

const DocumentCommandHandlers& getDocumentCommandHandlers() { return handlerTable(); }

AnalyzerDocument::AnalyzerDocument() = default;

AnalyzerDocument::~AnalyzerDocument() { unregister(); }

bool AnalyzerDocument::onNewDocument(DeviceHost& host, AnalyzerViewInterface* view) {
    host_ = &host;
    block = &host.block();
    viewId_ = viewIdOf(view);
    const auto taken = block->registerSlot(viewId_);
    if (!taken) {
        dialogs().information(QStringLiteral("Открыть больше пятидесяти окон нельзя."),
                              QStringLiteral("Ограничение"), host.window());
        registrationRefused = true;
        return false;
    }
    registered_ = true;
    slot = *taken;
    readings.extendedModel = host.isPolling();
    setTitle();
    return true;
}

void AnalyzerDocument::unregister() {
    if (!registered_ || registrationRefused) return;
    registered_ = false;
    // Resolve the slot from the block: it is right even if a renumbering has not reached us.
    if (const auto own = block->slotOfAnalyzer(viewId_)) slot = *own;
    for (const CommandReport& r : block->failOpenCommands(slot, CommandFailure::WindowClosed))
        host_->commandReported(r);
    const auto moved = block->close(slot);
    // The moved views learn their new slots at once, so none of them reloads another
    // analyzer's slot in between.
    for (const auto& m : moved) {
        if (AnalyzerViewInterface* view = findAnalyzerView(m.view)) {
            view->onSlotChanged(m.newSlot);
        } else {
            dialogs().show(QStringLiteral("Ошибка при закрытии окна %1").arg(m.newSlot), {},
                           Dialogs::Icon::None, Dialogs::Ok, host_->window());
        }
    }
    if (timerRunning) {
        host_->windows().addRunningTimers(-1);
        timerRunning = false;
        host_->refreshTimerFlag();
    }
}

void AnalyzerDocument::reloadFromBlock() {
    if (!registered_) return;
    zta::Slot s = block->snapshot(slot);
    if (s.analyzer != viewId_) {
        const auto own = block->slotOfAnalyzer(viewId_);
        if (!own) return;
        slot = *own;
        s = block->snapshot(slot);
    }
    address = s.address;
    readings = s.readings;
    gasName = QString::fromStdString(s.texts.gasName);
    unitName = QString::fromStdString(s.texts.unitName);
    softwareName =
        readings.extendedModel ? QStringLiteral("zta_k7.hex") : QStringLiteral("zta_k.hex");
    errorCount = s.errorCount;
    records.onReload(errorCount, readings.concentration, QDateTime::currentMSecsSinceEpoch(),
                     s.cycleMs);
    if (errorCount == 0) records.noteIdentity(readings.factoryNumber, gasName.trimmed());
    const bool wasUp = linkUp;
    if (errorCount >= zta::kLostContactLimit) linkUp = false;
    if (errorCount == 0) linkUp = true;
    if (linkUp != wasUp) host_->requestCommandRefresh();
}

bool AnalyzerDocument::holds(std::uint64_t generation) const {
    if (!registered_) return false;
    const auto own = block->slotOfAnalyzer(viewId_);
    return own && block->snapshot(*own).generation == generation;
}

void AnalyzerDocument::resetReadings() {
    readings.clearReported();
    const bool wasUp = linkUp;
    linkUp = false;
    errorCount = zta::kLostContactLimit;
    gasName = QStringLiteral(" - ");
    records.onDisconnected();
    if (wasUp && host_) host_->requestCommandRefresh();
}

void AnalyzerDocument::startNewAnalyzer() {
    resetReadings();
    readings = zta::Readings{};
    readings.extendedModel = host_ && host_->isPolling();
    unitName.clear();
    records.onNewAnalyzer();
}

void AnalyzerDocument::setTitle() {
    title_ = QStringLiteral("Прибор №%1").arg(address);
    if (titleChanged) titleChanged(title_);
}

namespace {

struct Identification {
    QString version;
    QString name;
    std::uint8_t mix = 0;
};

Identification identify(int version, const QString& modelName) {
    if (version == -1) return {QStringLiteral("v1.2"), QStringLiteral("zta.hex"), 0xb3};
    return {QString::asprintf("v%.1f", version * 0.1), modelName,
            static_cast<std::uint8_t>(version & 0xff)};
}

}  // namespace

QString AnalyzerDocument::softwareVersionText() const {
    return readings.softwareVersion == 0 ? QString()
                                         : identify(readings.softwareVersion, softwareName).version;
}

QString AnalyzerDocument::softwareNameText() const {
    return readings.softwareVersion == 0 ? QString()
                                         : identify(readings.softwareVersion, softwareName).name;
}

QString AnalyzerDocument::softwareIdentifier() const {
    if (readings.softwareVersion == 0) return {};
    const std::uint8_t mix = identify(readings.softwareVersion, softwareName).mix;
    QString out;
    for (int i = 0; i < 16; ++i) {
        const unsigned v = (i % 2 == 0) ? (softwareChecksum[i] & mix) : (softwareChecksum[i] | mix);
        out += QString::asprintf("%02x", v);
    }
    return out;
}

bool AnalyzerDocument::onCommand(CommandId id) {
    const auto& h = getDocumentCommandHandlers();
    return h.onCommand && h.onCommand(*this, id);
}

bool AnalyzerDocument::onUpdateCommand(CommandId id, CommandState& state) {
    const auto& h = getDocumentCommandHandlers();
    return h.onUpdateCommand && h.onUpdateCommand(*this, id, state);
}

}  // namespace zta
