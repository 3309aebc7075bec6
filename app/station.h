// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "app/cal_data_file.h"
#include "app/station_options.h"
#include "core/bench_core.h"
#include "device/audit_log.h"
#include "device/csv_log.h"
#include "device/record_writer.h"
#include "gas/gas_state.h"
#include "poll/poll_block.h"
#include "poll/poll_thread.h"

namespace zta {

class BusSearch;
class UiBridge;
class UiEventQueue;

// The ports to offer: the command line's first, then the system's (or the list that stands in
// for them), each once.
QStringList listedPorts(const StationOptions& options);

// Why the line was not taken (a connection or a search); the caller tells the operator.
enum class LineRefusal { None, NoPorts, Searching, Polling, NotStarted };

// The line as the operator sees it: not polled, polled, or polled but gone (the poll thread
// waits for its port to come back).
enum class LineState { Idle, Polling, Lost };

// "Линия PORT: опрос идёт" and the like, for the status bar and the bus overview.
QString lineStateText(LineState state, const QString& port);
// What the line itself did since the connection: bytes that belonged to no exchange, whole
// frames from other numbers, and the adapter's own copies of the requests.
QString lineHealthText(const zta::LineHealth& line);

// The station's state apart from its windows: the poll block and the connection that polls
// it, the port and rate, the device search, the calibration gas with its file, and the record
// folder with its writer, CSV log and command audit. No widgets: the main window shows what
// its signals say and tells the operator why a request was refused.
class Station : public QObject {
    Q_OBJECT
  public:
    explicit Station(const StationOptions& options, QObject* parent = nullptr);
    ~Station() override;
    // Stops the threads (the poll thread, a search) and closes the bridge; the analyzer
    // windows may go after it. Runs once; the destructor calls it too.
    void shutDown();

    // The bench: the station polls one line, the core's first.
    zta::BenchCore& core() { return *core_; }
    zta::Line& line() { return core_->line(0); }
    const zta::Line& line() const { return core_->line(0); }
    zta::PollBlock& block() { return line().block(); }
    const zta::PollBlock& block() const { return line().block(); }
    UiBridge& bridge() { return *bridge_; }
    // Timing and port backend of the connections and searches to come (tests shorten the
    // pacing or use another backend).
    const zta::PollTiming& pollTiming() const { return line().timing(); }
    void setPollTiming(const zta::PollTiming& timing) { line().setTiming(timing); }
    const zta::PortFactory& portFactory() const { return line().portFactory(); }
    void setPortFactory(zta::PortFactory factory) { line().setPortFactory(std::move(factory)); }
    zta::DirectionSetting direction() const { return direction_; }
    // Sees every frame on the line (the traffic monitor); not owned.
    void setFrameObserver(zta::FrameObserver* observer) { observer_ = observer; }

    // ---- port and rate
    // Takes the ports found at start (at most 50); the warning to show, or an empty text.
    QString setPorts(QStringList names);
    const QStringList& portNames() const { return portNames_; }
    int portCount() const { return portCount_; }  // -1 when there is none
    bool noPorts() const { return noPorts_; }
    int selectedPort() const { return selectedPort_; }
    void selectPort(int index);
    // A port by name, listed or not (a saved bench's): tried as named when connecting.
    void setPortName(const QString& name);
    QString portName() const { return portName_; }
    // A port was found or typed (a network line needs none found).
    bool hasPortToOpen() const { return !noPorts_ || !portName_.isEmpty(); }
    // What a network line adds to the reply time-out, for the connections and searches to come.
    int netTimeoutMs() const { return line().timing().line.netTimeoutMs; }
    void setNetTimeoutMs(int ms) {
        zta::PollTiming timing = line().timing();
        timing.line.netTimeoutMs = ms;
        line().setTiming(timing);
    }
    int baudPosition() const { return baudPosition_; }  // into kBaudRates
    void setBaud(int position);

    // ---- the connection
    LineRefusal connectLine();
    // False while the poll thread goes on (its stop timed out, or a stop is already waiting).
    bool disconnectLine();
    bool isPolling() const { return line().isPolling(); }
    bool isStopping() const { return line().isStopping(); }
    // At the window's close: the poll thread and a search stop, waiting a bounded time.
    void stopForClose();
    LineState lineState() const;
    // A confirmed command not carried out within this time fails; 0: it waits until polling
    // stops. Applies to the running connection too.
    int commandExpirySeconds() const { return block().commandExpiryMs() / 1000; }
    void setCommandExpirySeconds(int seconds) { block().setCommandExpiryMs(seconds * 1000); }

    // ---- the device search
    LineRefusal startSearch(const zta::LineOptions& options);
    BusSearch& search() { return *search_; }
    bool isSearching() const;

    // ---- calibration gas
    // Reads the calibration file into the gas state and the block; the caller tells a
    // malformed file.
    zta::CalReadResult readCalData();
    void writeCalData();  // a failure keeps the old file
    const zta::GasState& gasState() const { return gas_; }
    // The block's concentrations and the calibration file follow at once.
    void applyGasState(const zta::GasState& state);
    // The question to ask before a calibration gas goes to the analyzer in `slot`, if its gas
    // differs from the one chosen.
    std::optional<QString> calibrationGasQuestion(int slot) const;

    // ---- records and commands
    QString recordFolder() const { return recordFolder_; }
    void setRecordFolder(const QString& folder);
    zta::RecordWriter& recordWriter() { return recordWriter_; }
    zta::CsvLog& csvLog() { return csvLog_; }
    // The audit trail: one folder ("audit" under the default record folder) whatever the
    // record folder.
    zta::AuditLog& auditLog() { return auditLog_; }
    // An event of the station (not a command) written to the audit trail with an empty state:
    // "подключение", "линия потеряна"...; with `slot`, the analyzer in it is named too.
    void auditEvent(const QString& event);
    void auditEvent(const QString& event, int slot);
    // The operator named in every audit line from now on; empty for none.
    void setOperatorName(const QString& name) { auditLog_.setOperatorName(name); }
    QString operatorName() const { return auditLog_.operatorName(); }

  signals:
    void gasChanged();
    void recordFolderChanged();
    void portChanged();
    void baudChanged();
    void pollingChanged();
    void disconnected();  // by request, not by a line failure
    void lineStateChanged();
    // A command's new state, after its audit line.
    void commandChanged(const zta::CommandReport& report);
    // A turn of some analyzer ended (its window has shown it already).
    void readingArrived(const zta::ReadingEvent& event);

  private:
    class Listener;
    void audit(const CommandReport& report);
    void writeAudit(zta::AuditEntry entry);

    zta::DirectionSetting direction_;
    QString calDataPath_;
    zta::FrameObserver* observer_ = nullptr;
    UiEventQueue* queue_ = nullptr;
    std::unique_ptr<zta::BenchCore> core_;
    std::unique_ptr<Listener> listener_;
    UiBridge* bridge_ = nullptr;
    BusSearch* search_ = nullptr;

    QStringList portNames_;
    int portCount_ = 0;
    bool noPorts_ = false;
    int selectedPort_ = -1;
    QString portName_;
    int baudPosition_ = 3;

    bool shutDown_ = false;

    zta::GasState gas_;
    QString recordFolder_;
    zta::RecordWriter recordWriter_;
    zta::CsvLog csvLog_{recordWriter_};
    zta::AuditLog auditLog_;
};

}  // namespace zta
