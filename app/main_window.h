// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/bench_file.h"
#include "app/station.h"
#include "app/station_options.h"
#include "device/analyzer_window_factory.h"
#include "poll/poll_thread.h"
#include "ui/command_ids.h"
#include "ui/command_router.h"

class QComboBox;
class QDialog;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QStatusBar;
class QToolBar;

namespace zta {

class BusTools;
class GasParametersDialog;
class SearchControl;
class ConnectedGasParametersDialog;
class UiBridge;
class DeviceHost;
class MainWindow;
class SearchHooks;
class StationApplication;

class MainWindow : public QMainWindow, public CommandTarget {
    Q_OBJECT
  public:
    MainWindow(StationApplication* app, AnalyzerWindowFactory& windowFactory,
               StationOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // ---- used by analyzer windows, dialogs and commands
    zta::PollBlock& block() { return station_.block(); }
    Station& station() { return station_; }
    bool isPolling() const { return pollThread != nullptr; }
    bool isSearching() const;
    QString recordFolder() const { return station_.recordFolder(); }
    bool switchBaudAndReconnect(unsigned baud);
    void connectLine();
    void disconnectLine();
    UiBridge& bridge() { return *bridge_; }
    CommandRouter& router() { return *router_; }
    QMdiArea* mdiArea() const { return mdi_; }
    AnalyzerWindowFactory& windowFactory() { return factory_; }
    DeviceHost& deviceHost();
    // Opens one analyzer window (commands 148 and 32771); nullptr when refused.
    QMdiSubWindow* openNewDocument();
    void tileWindows();  // one above the other, each the full width

    // Sends `code` with `value` to the view of every registered slot, slot 0 first.
    void broadcastToViews(int code, int value = 0);
    AnalyzerViewInterface* viewOfSlot(int slot) const;
    AnalyzerViewInterface* findView(
        zta::ViewId id) const;  // nullptr for a view that no longer exists
    AnalyzerViewInterface* activeView() const;

    // Extra handlers at the main window's stop of the route (gas commands, search control).
    void addFrameTarget(CommandTarget* target);
    void setSearchHooks(SearchHooks* hooks) { search_ = hooks; }
    SearchControl& searchControl() { return *searchControl_; }
    BusTools& busTools() { return *busTools_; }
    // Poll thread timing and port (tests shorten the pacing or use another port backend).
    void setPollTiming(const zta::PollTiming& timing) { station_.setPollTiming(timing); }
    void setPortFactory(zta::PortFactory factory) { station_.setPortFactory(std::move(factory)); }
    const zta::PortFactory& portFactory() const { return station_.portFactory(); }
    zta::DirectionSetting direction() const { return options_.direction; }

    GasParametersDialog& concentrationDialog() { return *concentrationDialog_; }
    ConnectedGasParametersDialog& devicesGasDialog() { return *devicesGasDialog_; }

    // ---- status bars
    void refreshTimerFlag();
    void showTimerPane(int periodSeconds);
    void showFolderPane(int periodSeconds);
    void showActiveViewTimer();
    void showGasPanes();
    QString paneText(int pane) const;       // main status bar, 0..5
    QString timerPaneText(int pane) const;  // second status bar, 0..1
    QLabel* pane(int index) const { return panes_[index]; }
    QLabel* timerPane(int index) const { return timerPanes_[index]; }
    void setPaneText(int pane, const QString& text);
    bool anyTimerRunning() const { return anyTimerRunning_; }
    int activeTimerPeriod() const { return activeTimerPeriod_; }

    // ---- ports and rates
    void enumeratePorts();
    void buildPortMenu();
    void selectPort(int index);
    void setPortName(const QString& name);
    void setBaud(int position);
    const QStringList& portNames() const { return portNames_; }
    int portCount() const { return portCount_; }
    int selectedPort() const { return selectedPort_; }
    bool noPorts() const { return noPorts_; }
    const bool* baudChecked() const { return baudChecked_; }
    QComboBox* portCombo() const { return portCombo_; }
    QComboBox* baudCombo() const { return baudCombo_; }
    QMenu* portMenu() const { return portMenu_; }
    QToolBar* toolBar() const { return toolBar_; }
    QStatusBar* timerBar() const { return timerBar_; }

    // ---- calibration gas (read at creation, written on every change and at close)
    const zta::GasState& gasState() const { return station_.gasState(); }
    // Takes a new gas state: block concentrations, status panes and the calibration file follow.
    void applyGasState(const zta::GasState& state);

    // ---- record folder, record writer, CSV log, saved bench
    void chooseRecordFolder(const QString& folder);
    zta::RecordWriter& recordWriter() { return station_.recordWriter(); }
    zta::CsvLog& csvLog() { return station_.csvLog(); }
    // Each gives its message box on failure. OpenBench gives the bench it set up.
    bool saveBench(const QString& path);
    std::optional<zta::BenchSettings> openBench(const QString& path);

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void createMenus();
    void createToolBar();
    void createStatusBars();
    void createCombos();
    void onLineFailed(int run);
    bool stopPollThread();
    void onRecordFolderCommand();
    void onTimerAll();
    void onInsertAll();
    void onConcentration();
    void onConnectedDevicesGas();
    int execModal(QDialog& dialog);
    void fitPane(int index);
    std::vector<CommandTarget*> route() const;

    StationApplication* app_;
    AnalyzerWindowFactory& factory_;
    StationOptions options_;
    class WindowHost;
    std::unique_ptr<WindowHost> host_;

    QStatusBar* statusBar_ = nullptr;
    QLabel* panes_[6] = {};
    QStatusBar* timerBar_ = nullptr;
    QLabel* timerPanes_[2] = {};
    QToolBar* toolBar_ = nullptr;
    QComboBox* portCombo_ = nullptr;
    QComboBox* baudCombo_ = nullptr;
    QMenu* portMenu_ = nullptr;
    QMdiArea* mdi_ = nullptr;
    CommandRouter* router_ = nullptr;
    UiBridge* bridge_ = nullptr;
    std::vector<CommandTarget*> frameTargets_;
    GasParametersDialog* concentrationDialog_ = nullptr;
    ConnectedGasParametersDialog* devicesGasDialog_ = nullptr;
    SearchHooks* search_ = nullptr;
    std::unique_ptr<SearchControl> searchControl_;
    BusTools* busTools_ = nullptr;  // a child of this window

    Station station_;  // declared before the threads that use its block
    // One connection: the poll thread with the sink it reports through. A line failure names
    // its run, so a late report never ends a newer connection.
    class PollRun;
    std::unique_ptr<PollRun> pollThread;
    int lastRun_ = 0;
    bool stoppingPoll_ = false;
    // Runs whose thread did not end in time after a line failure; waited for at destruction.
    std::vector<std::unique_ptr<PollRun>> abandoned_;

    int portCount_ = 0;
    QStringList portNames_;
    int selectedPort_ = -1;
    bool portMenuPending_ = true;
    bool noPorts_ = false;
    bool baudChecked_[5] = {false, false, false, true, false};
    bool anyTimerRunning_ = false;
    int activeTimerPeriod_ = 0;
    // The timer panes are redrawn when the active view changes.
    AnalyzerViewInterface* lastActiveView_ = nullptr;
    int shownTimerPeriod_ = 0;
};

}  // namespace zta
