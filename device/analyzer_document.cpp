// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/analyzer_document.h"

#include <QDateTime>
#include <chrono>

#include "device/analyzer_views.h"
#include "device/analyzer_window_factory.h"
#include "ui/dialogs.h"

namespace zta {

namespace {

DocumentCommandHandlers& handlerTable() {
    static DocumentCommandHandlers handlers;  // the station installs the service commands
    return handlers;
}

}  // namespace

void setDocumentCommandHandlers(DocumentCommandHandlers handlers) {
    handlerTable() = std::move(handlers);
}

const DocumentCommandHandlers& getDocumentCommandHandlers() { return handlerTable(); }

AnalyzerDocument::AnalyzerDocument() = default;

AnalyzerDocument::~AnalyzerDocument() { unregister(); }

bool AnalyzerDocument::onNewDocument(DeviceHost& host, AnalyzerViewInterface* view) {
    host_ = &host;
    const auto added = host.line().addAnalyzer();
    if (!added) {
        dialogs().information(QStringLiteral("Открыть больше пятидесяти окон нельзя."),
                              QStringLiteral("Ограничение"), host.window());
        registrationRefused = true;
        return false;
    }
    analyzer_ = *added;
    registered_ = true;
    host.views().add(analyzer_, view);
    unit_ = host.views().unit(analyzer_);
    slot = host.line().slotOf(analyzer_).value_or(0);
    readings.extendedModel = host.isPolling();
    setTitle();
    return true;
}

void AnalyzerDocument::unregister() {
    if (!registered_ || registrationRefused) return;
    registered_ = false;
    unit().recordTimer.stop();
    unit_ = nullptr;
    host_->views().remove(analyzer_);
    // Its open commands fail and the windows behind it learn their new slots from the line.
    host_->line().removeAnalyzer(analyzer_);
    if (timerRunning) {
        host_->windows().addRunningTimers(-1);
        timerRunning = false;
        host_->refreshTimerFlag();
    }
}

std::optional<int> AnalyzerDocument::liveSlot() {
    if (!registered_) return std::nullopt;
    const auto own = host_->line().slotOf(analyzer_);
    if (own) slot = *own;
    return own;
}

AnalyzerUnit& AnalyzerDocument::unit() { return unit_ ? *unit_ : spare_; }

zta::Slot AnalyzerDocument::snapshot() const {
    return registered_ ? host_->line().snapshot(analyzer_) : zta::Slot{};
}

void AnalyzerDocument::applyReading(const zta::ReadingEvent& event) {
    if (!registered_ || event.analyzer != analyzer_) return;
    address = event.address;
    readings = event.readings;
    gasName = QString::fromStdString(event.texts.gasName);
    unitName = QString::fromStdString(event.texts.unitName);
    softwareName =
        readings.extendedModel ? QStringLiteral("zta_k7.hex") : QStringLiteral("zta_k.hex");
    errorCount = event.errorCount;
    replyCount = event.replyCount;
    requestCount = event.requestCount;
    const auto wallMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(event.wallTime.time_since_epoch())
            .count();
    records().onReload(errorCount, readings.concentration, wallMs, event.cycleMs);
    if (errorCount == 0) records().noteIdentity(readings.factoryNumber, gasName.trimmed());
    const bool wasUp = linkUp;
    if (errorCount >= zta::kLostContactLimit) linkUp = false;
    if (errorCount == 0) linkUp = true;
    if (linkUp != wasUp) host_->requestCommandRefresh();
}

bool AnalyzerDocument::holds(std::uint64_t generation) const {
    return registered_ && generation != 0 && host_->line().generation(analyzer_) == generation;
}

void AnalyzerDocument::resetReadings() {
    readings.clearReported();
    const bool wasUp = linkUp;
    linkUp = false;
    errorCount = zta::kLostContactLimit;
    gasName = QStringLiteral(" - ");
    records().onDisconnected();
    if (wasUp && host_) host_->requestCommandRefresh();
}

void AnalyzerDocument::startNewAnalyzer() {
    resetReadings();
    readings = zta::Readings{};
    readings.extendedModel = host_ && host_->isPolling();
    unitName.clear();
    records().onNewAnalyzer();
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
