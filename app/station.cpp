// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/station.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

#include "app/bus_search.h"
#include "app/station_bridge.h"
#include "app/user_folders.h"
#include "device/audit_log.h"
#include "device/record_file.h"
#include "gas/gas_check.h"
#include "link/regmap.h"
#include "link/serial_line.h"
#include "ui/command_ids.h"
#include "ui/dialogs.h"
#include "ui/ui_event_queue.h"

namespace zta {

namespace {
constexpr int kStopWaitMs = 10000;
}  // namespace

QStringList listedPorts(const StationOptions& options) {
    QStringList names;
    for (const QString& p : options.extraPorts)
        if (!p.isEmpty() && !names.contains(p)) names << p;
    if (options.listSystemPorts) {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            // A port also named on the command line by its full path is listed once.
            if (info.portName().isEmpty() || names.contains(info.systemLocation()) ||
                names.contains(info.portName()))
                continue;
            names << info.portName();
        }
    } else {
        for (const QString& p : options.systemPorts)
            if (!p.isEmpty()) names << p;
    }
    return names;
}

// What the core tells the station: its audit lines and its signals.
class Station::Listener : public zta::BenchListener {
  public:
    explicit Listener(Station& station) : station_(station) {}

    void readingArrived(const ReadingEvent& event) override { emit station_.readingArrived(event); }
    void commandChanged(int, const CommandReport& report) override {
        station_.audit(report);
        emit station_.commandChanged(report);
    }
    void pollingChanged(int) override { emit station_.pollingChanged(); }
    void lineStateChanged(int, bool up) override {
        station_.auditEvent(up ? QStringLiteral("линия восстановлена")
                               : QStringLiteral("линия потеряна"));
        emit station_.lineStateChanged();
    }
    void disconnected(int) override { emit station_.disconnected(); }
    // In the order the worker reported it: the box comes before the end of polling it caused.
    void errorRaised(const std::string& text, const std::string& caption) override {
        dialogs().error(QString::fromStdString(text), QString::fromStdString(caption),
                        station_.bridge_->errorOwner());
    }

  private:
    Station& station_;
};

Station::Station(const StationOptions& options, QObject* parent)
    : QObject(parent),
      direction_(options.direction),
      calDataPath_(options.calDataPath),
      queue_(new UiEventQueue(this)),
      core_(std::make_unique<zta::BenchCore>(*queue_)),
      listener_(std::make_unique<Listener>(*this)),
      bridge_(new UiBridge(this)),
      search_(new BusSearch(*bridge_, this)) {
    zta::Line& polled = core_->addLine();
    zta::PollTiming timing;
    timing.line.direction = direction_;
    polled.setTiming(timing);
    core_->addListener(listener_.get());
    recordFolder_ = options.programFolder.isEmpty()
                        ? zta::startRecordFolder()
                        : zta::folderWithSeparator(options.programFolder);
    // Fixed at start: a day's trail stays in one file when the record folder changes.
    auditLog_.setFolder(zta::folderWithSeparator(recordFolder_ + QStringLiteral("audit")));
}

Station::~Station() { shutDown(); }

void Station::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    // Workers still alive (a stop that timed out) must not wait on a UI that is going.
    bridge_->close();
    core_->removeListener(listener_.get());
    line().stopQuietly(kStopWaitMs);
    delete search_;  // asks a running search to stop and waits for it
    search_ = nullptr;
}

// ---------------------------------------------------------------- port and rate

QString Station::setPorts(QStringList names) {
    QString warning;
    portCount_ = int(names.size());
    if (portCount_ > kMaxPorts) {
        warning = QStringLiteral("Слишком много COM портов! Доступны будут только первые 50.");
        names = names.mid(0, kMaxPorts);
        portCount_ = kMaxPorts;
    }
    portNames_ = names;
    if (portCount_ > 0) {
        noPorts_ = false;
        selectPort(0);
    } else {
        warning = QStringLiteral("Ни одного COM порта не обнаружено");
        portCount_ = -1;
        noPorts_ = true;
    }
    return warning;
}

void Station::selectPort(int index) {
    if (noPorts_ || index < 0 || index >= portCount_) return;  // "NoPort" names nothing to open
    selectedPort_ = index;
    setPortName(portNames_[index]);
}

void Station::setPortName(const QString& name) {
    portName_ = name;
    selectedPort_ = int(portNames_.indexOf(name));
    line().setPort(zta::storedPortName(name.toStdString()));
    emit portChanged();
}

void Station::setBaud(int position) {
    if (position < 0 || position >= int(std::size(kBaudRates))) return;
    baudPosition_ = position;
    line().setBaud(kBaudRates[position]);
    emit baudChanged();
}

// ---------------------------------------------------------------- the connection

LineRefusal Station::connectLine() {
    if (!hasPortToOpen()) return LineRefusal::NoPorts;
    if (isSearching()) return LineRefusal::Searching;
    if (isPolling()) return LineRefusal::Polling;
    zta::PollTiming timing = line().timing();
    timing.line.observer = observer_;
    line().setTiming(timing);
    if (!line().connect()) return LineRefusal::NotStarted;
    // Before anything the run reports: that is posted.
    auditEvent(QStringLiteral("подключение"));
    return LineRefusal::None;
}

bool Station::disconnectLine() {
    if (!isPolling()) return true;
    if (!line().disconnect(kStopWaitMs)) return false;  // the stop stays set; a later call waits
    auditEvent(QStringLiteral("отключение"));
    return true;
}

void Station::stopForClose() {
    line().stopQuietly(kStopWaitMs);
    if (search_) search_->stopOrAbandon(kStopWaitMs);
}

LineState Station::lineState() const {
    if (!isPolling()) return LineState::Idle;
    return line().isLost() ? LineState::Lost : LineState::Polling;
}

QString lineStateText(LineState state, const QString& port) {
    switch (state) {
        case LineState::Idle:
            return QStringLiteral("Линия %1: опрос остановлен").arg(port);
        case LineState::Polling:
            return QStringLiteral("Линия %1: опрос идёт").arg(port);
        case LineState::Lost:
            return QStringLiteral("Линия %1 потеряна: ожидание порта").arg(port);
    }
    return {};
}

QString lineHealthText(const zta::LineHealth& line) {
    QString echo;
    switch (line.echo) {
        case zta::LineEcho::Unknown:
            echo = QStringLiteral("не известно");
            break;
        case zta::LineEcho::Quiet:
            echo = QStringLiteral("нет");
            break;
        case zta::LineEcho::Echoing:
            echo = QStringLiteral("есть (копий %1)").arg(line.lineCopies);
            break;
    }
    return QStringLiteral("Лишние байты: %1\nЧужие кадры: %2\nЭхо адаптера: %3")
        .arg(line.strayBytes)
        .arg(line.foreignFrames)
        .arg(echo);
}

// ---------------------------------------------------------------- the device search

bool Station::isSearching() const { return search_ && search_->isRunning(); }

LineRefusal Station::startSearch(const zta::LineOptions& options) {
    if (!hasPortToOpen()) return LineRefusal::NoPorts;
    if (isPolling()) return LineRefusal::Polling;
    if (isSearching()) return LineRefusal::Searching;
    zta::LineOptions line = options;
    line.observer = observer_;
    line.netTimeoutMs = netTimeoutMs();
    if (!search_->start(block().portName(), block().baudRate(), line, portFactory()))
        return LineRefusal::NotStarted;
    return LineRefusal::None;
}

// ---------------------------------------------------------------- calibration gas

zta::CalReadResult Station::readCalData() {
    zta::CalData data;
    zta::CalReadResult result = zta::readCalDataFile(calDataPath_, data);
    gas_.calGasName = data.calGasName;
    gas_.maxGas = data.maxGas;
    gas_.midGas = data.midGas;
    std::copy(data.gasMarks.begin(), data.gasMarks.end(), gas_.gasMarks.begin());
    block().setMaxGas(data.maxGas);
    block().setMidGas(data.midGas);
    return result;
}

void Station::writeCalData() {
    zta::CalData data;
    data.calGasName = gas_.calGasName;
    data.maxGas = block().maxGas();
    data.midGas = block().midGas();
    std::copy(gas_.gasMarks.begin(), gas_.gasMarks.end(), data.gasMarks.begin());
    zta::writeCalDataFile(calDataPath_, data);
}

void Station::applyGasState(const zta::GasState& state) {
    gas_ = state;
    block().setMaxGas(state.maxGas);
    block().setMidGas(state.midGas);
    // Saved at once: a station that is killed or loses power keeps the operator's gas.
    writeCalData();
    emit gasChanged();
}

std::optional<QString> Station::calibrationGasQuestion(int slot) const {
    const Slot s = block().snapshot(slot);
    const GasInfo* chosen = reportedGas(true, 0, gas_.calGasName.toStdString());
    const auto mismatch =
        checkCalibrationGas(chosen, s.errorCount < kLostContactLimit, s.readings.extendedModel,
                            s.readings.gasCode, s.texts.gasName);
    if (!mismatch) return std::nullopt;
    return gasMismatchText(s.address, *mismatch);
}

// ---------------------------------------------------------------- records and commands

void Station::setRecordFolder(const QString& folder) {
    recordFolder_ = zta::folderWithSeparator(QDir(folder).absolutePath());
    auditEvent(QStringLiteral("папка записи: ") + recordFolder_);
    emit recordFolderChanged();
}

void Station::writeAudit(zta::AuditEntry entry) {
    entry.time = QDateTime::currentDateTime();
    entry.port = QString::fromStdString(block().portName());
    // A line that cannot be written is kept and written later; the log tells the operator.
    auditLog_.write(std::move(entry));
}

void Station::audit(const CommandReport& report) {
    AuditEntry entry;
    entry.networkNumber = report.address;
    entry.factoryNumber = report.factoryNumber;
    entry.command = report.command;
    entry.track = report.track;
    writeAudit(std::move(entry));
}

void Station::auditEvent(const QString& event) {
    AuditEntry entry;
    entry.event = event;
    entry.hasAnalyzer = false;
    writeAudit(std::move(entry));
}

void Station::auditEvent(const QString& event, int slot) {
    const Slot s = block().snapshot(slot);
    AuditEntry entry;
    entry.event = event;
    entry.networkNumber = s.address;
    entry.factoryNumber = s.readings.factoryNumber;
    writeAudit(std::move(entry));
}

}  // namespace zta
