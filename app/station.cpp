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

class Station::PollRun : public zta::PollSink {
  public:
    PollRun(Station& station, int id) : station_(station), id_(id) {}
    ~PollRun() override { thread.reset(); }  // the thread goes before the sink it calls

    void dataChanged(zta::AnalyzerId view, int slot) override {
        station_.bridge_->dataChanged(view, slot);
    }
    void baudAccepted(zta::AnalyzerId view, int code, int address) override {
        station_.bridge_->baudAccepted(view, code, address);
    }
    void lineFailed() override {
        Station* station = &station_;
        const int id = id_;
        station_.bridge_->post([station, id] { station->onLineFailed(id); });
    }
    void showError(const std::string& text, const std::string& caption) override {
        station_.bridge_->showError(text, caption);
    }
    void lineStateChanged(bool up) override {
        Station* station = &station_;
        const int id = id_;
        station_.bridge_->post([station, id, up] { station->onLineState(id, up); });
    }
    void commandChanged(const CommandReport& report) override {
        Station* station = &station_;
        station_.bridge_->post([station, report] { station->reportCommand(report); });
    }
    bool stop(int timeoutMs, bool serve) {
        if (!serve) return thread->stop(timeoutMs);
        UiBridge* bridge = station_.bridge_;
        return thread->stop(timeoutMs, [bridge] { bridge->serve(); });
    }

    std::unique_ptr<zta::PollThread> thread;
    int id() const { return id_; }

  private:
    Station& station_;
    int id_;
};

Station::Station(const StationOptions& options, QObject* parent)
    : QObject(parent),
      direction_(options.direction),
      calDataPath_(options.calDataPath),
      portFactory_(zta::makePlatformPort),
      bridge_(new UiBridge(this)),
      search_(new BusSearch(*bridge_, this)) {
    pollTiming_.line.direction = direction_;
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
    if (pollRun_) pollRun_->stop(kStopWaitMs, false);
    pollRun_.reset();
    abandoned_.clear();
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
    pollBlock_.setPortName(zta::storedPortName(name.toStdString()));
    emit portChanged();
}

void Station::setBaud(int position) {
    if (position < 0 || position >= int(std::size(kBaudRates))) return;
    baudPosition_ = position;
    pollBlock_.setBaudRate(kBaudRates[position]);
    emit baudChanged();
}

// ---------------------------------------------------------------- the connection

LineRefusal Station::connectLine() {
    if (noPorts_) return LineRefusal::NoPorts;
    if (isSearching()) return LineRefusal::Searching;
    if (isPolling()) return LineRefusal::Polling;
    auto run = std::make_unique<PollRun>(*this, ++lastRun_);
    zta::PollTiming timing = pollTiming_;
    timing.line.observer = observer_;
    run->thread = std::make_unique<zta::PollThread>(pollBlock_, *run, timing, portFactory_);
    if (!run->thread->start()) return LineRefusal::NotStarted;
    pollRun_ = std::move(run);
    lineLost_ = false;
    auditEvent(QStringLiteral("подключение"));
    emit pollingChanged();
    return LineRefusal::None;
}

bool Station::stopPollThread() {
    // A request served during the wait may open a box, whose event loop can ask for another
    // stop (a posted baud notice, a line report): that one returns at once instead of waiting
    // for a thread that waits for the box.
    if (stoppingPoll_) return false;
    stoppingPoll_ = true;
    const bool ended = pollRun_->stop(kStopWaitMs, true);
    stoppingPoll_ = false;
    return ended;
}

bool Station::disconnectLine() {
    if (!pollRun_) return true;
    if (!stopPollThread()) return false;  // the stop request stays set; a later call waits again
    pollRun_.reset();
    auditEvent(QStringLiteral("отключение"));
    emit disconnected();
    emit pollingChanged();
    return true;
}

void Station::stopForClose() {
    if (pollRun_ && stopPollThread()) pollRun_.reset();
    if (search_) search_->stopOrAbandon(kStopWaitMs);
}

LineState Station::lineState() const {
    if (!pollRun_) return LineState::Idle;
    return lineLost_ ? LineState::Lost : LineState::Polling;
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

void Station::onLineState(int run, bool up) {
    if (!pollRun_ || pollRun_->id() != run || lineLost_ == !up) return;
    lineLost_ = !up;
    auditEvent(up ? QStringLiteral("линия восстановлена") : QStringLiteral("линия потеряна"));
    emit lineStateChanged();
}

void Station::onLineFailed(int run) {
    if (!pollRun_ || pollRun_->id() != run || stoppingPoll_)
        return;  // over already, or being stopped by an outer wait
    // The thread ends right after its report; the windows keep their readings.
    if (!stopPollThread()) abandoned_.push_back(std::move(pollRun_));
    pollRun_.reset();
    emit pollingChanged();
}

// ---------------------------------------------------------------- the device search

bool Station::isSearching() const { return search_ && search_->isRunning(); }

LineRefusal Station::startSearch(const zta::LineOptions& options) {
    if (noPorts_) return LineRefusal::NoPorts;
    if (isPolling()) return LineRefusal::Polling;
    if (isSearching()) return LineRefusal::Searching;
    zta::LineOptions line = options;
    line.observer = observer_;
    if (!search_->start(pollBlock_.portName(), pollBlock_.baudRate(), line, portFactory_))
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
    pollBlock_.setMaxGas(data.maxGas);
    pollBlock_.setMidGas(data.midGas);
    return result;
}

void Station::writeCalData() {
    zta::CalData data;
    data.calGasName = gas_.calGasName;
    data.maxGas = pollBlock_.maxGas();
    data.midGas = pollBlock_.midGas();
    std::copy(gas_.gasMarks.begin(), gas_.gasMarks.end(), data.gasMarks.begin());
    zta::writeCalDataFile(calDataPath_, data);
}

void Station::applyGasState(const zta::GasState& state) {
    gas_ = state;
    pollBlock_.setMaxGas(state.maxGas);
    pollBlock_.setMidGas(state.midGas);
    // Saved at once: a station that is killed or loses power keeps the operator's gas.
    writeCalData();
    emit gasChanged();
}

std::optional<QString> Station::calibrationGasQuestion(int slot) const {
    const Slot s = pollBlock_.snapshot(slot);
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
    entry.port = QString::fromStdString(pollBlock_.portName());
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
    const Slot s = pollBlock_.snapshot(slot);
    AuditEntry entry;
    entry.event = event;
    entry.networkNumber = s.address;
    entry.factoryNumber = s.readings.factoryNumber;
    writeAudit(std::move(entry));
}

void Station::reportCommand(const CommandReport& report) {
    audit(report);
    emit commandChanged(report);
}

void Station::commandConfirmed(int slot, Command which, const CommandTrack& previous) {
    const Slot s = pollBlock_.snapshot(slot);
    CommandReport report;
    report.analyzer = s.analyzer;
    report.slot = slot;
    report.address = s.address;
    report.factoryNumber = s.readings.factoryNumber;
    report.command = which;
    if (previous.open()) {
        report.track = previous;
        report.track.state = CommandStatus::Failed;
        report.track.failure = CommandFailure::Replaced;
        audit(report);
    }
    report.track = s.commands[commandIndex(which)];
    reportCommand(report);
}

}  // namespace zta
