// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <functional>
#include <memory>
#include <vector>

#include "app/station.h"
#include "app/station_options.h"
#include "app/status_panes.h"
#include "device/analyzer_views.h"
#include "device/analyzer_window_factory.h"
#include "device/device_host.h"
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

class DeviceHost;

// `wanted` moved, and cut where it is larger, so that it lies inside `screen`.
QRect placedInside(const QRect& wanted, const QRect& screen);

// Menus, tool bar, status panes, the analyzer windows' area and the station's command table.
// What the station does lives in the Station; this window shows it and asks it.
class MainWindow : public QMainWindow, public CommandTarget {
    Q_OBJECT
  public:
    // `application` handles the commands at the route's end (new window, About, Exit). The
    // station outlives the window; the window stops its threads before its analyzer windows go.
    MainWindow(CommandTarget* application, Station& station, AnalyzerWindowFactory& windowFactory,
               StationOptions options = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    Station& station() { return station_; }
    zta::PollBlock& block() { return station_.block(); }
    WindowsState& windows() { return windows_; }
    AnalyzerViews& views() { return *views_; }
    CommandRouter& router() { return *router_; }
    QMdiArea* mdiArea() const { return mdi_; }
    AnalyzerWindowFactory& windowFactory() { return factory_; }
    DeviceHost& deviceHost();

    // Connecting and disconnecting as the operator asks: a refusal gives its box, and the
    // analyzer windows hear of a disconnection.
    void connectLine();
    void disconnectLine();
    bool switchBaudAndReconnect(unsigned baud);

    // Opens one analyzer window (commands 148 and 32771); nullptr when refused.
    QMdiSubWindow* openNewDocument();
    // The same with `networkNumber` entered in its number field.
    QMdiSubWindow* openWindowFor(int networkNumber);
    // One above the other, each the full width and never smaller than its form: what does not
    // fit scrolls.
    void tileWindows();
    // Brings `child` up at its form's size at least, inside the visible part of the area.
    void showWindowInView(QMdiSubWindow* child);
    // The main window moved (and cut) to lie inside the available part of its screen.
    void keepInsideScreen();
    // A window without a parent that must close with the station.
    void addToolWindow(QWidget* window);
    // Sends `code` with `value` to the view of every registered slot, slot 0 first.
    void broadcastToViews(const std::function<void(AnalyzerViewInterface&)>& tell);
    AnalyzerViewInterface* viewOfSlot(int slot) const;
    AnalyzerViewInterface* findView(zta::AnalyzerId id) const;  // nullptr for a view that is gone
    AnalyzerViewInterface* activeView() const;

    // Handlers after the main window's stop of the route (gas, search, bus tools, bench).
    void addFrameTarget(CommandTarget* target);

    // ---- status bars
    void refreshTimerFlag();
    void showTimerPane(int periodSeconds);
    void showFolderPane(int periodSeconds);
    void showActiveViewTimer();
    void showGasPanes();
    // Pane 0: "Ready", "Опрос приборов", or the lost line and its port.
    void showActivity();
    QString paneText(int pane) const { return panes_->text(pane); }            // main bar, 0..5
    QString timerPaneText(int pane) const { return panes_->timerText(pane); }  // second bar, 0..1
    QLabel* pane(int index) const { return panes_->pane(index); }
    QLabel* timerPane(int index) const { return panes_->timerPane(index); }
    void setPaneText(int pane, const QString& text) { panes_->setText(pane, text); }
    bool anyTimerRunning() const { return anyTimerRunning_; }
    int activeTimerPeriod() const { return activeTimerPeriod_; }

    QComboBox* portCombo() const { return portCombo_; }
    QComboBox* baudCombo() const { return baudCombo_; }
    QMenu* portMenu() const { return portMenu_; }
    QToolBar* toolBar() const { return toolBar_; }
    QStatusBar* timerBar() const { return panes_->timerBar(); }

    bool onCommand(CommandId id) override;
    bool onUpdateCommand(CommandId id, CommandState& state) override;

  signals:
    void analyzerDataChanged();  // a data notice of some window
    void windowsChanged();       // analyzer windows opened, closed or renumbered

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    class WindowHost;
    void listPorts();
    void buildPortMenu();
    void showPort();
    void showBaud();
    void onRecordFolderCommand();
    void onTimerAll();
    void askOperatorName();  // "Оператор…": the name the audit trail gives
    void onInsertAll();
    void onRecordAll();
    int timerBarWidth() const;
    std::vector<CommandTarget*> route() const;

    CommandTarget* application_;
    AnalyzerWindowFactory& factory_;
    StationOptions options_;
    Station& station_;
    // Outlives the analyzer windows, which leave it as they close.
    std::unique_ptr<AnalyzerViews> views_;
    std::unique_ptr<WindowHost> host_;

    std::unique_ptr<StatusPanes> panes_;
    QToolBar* toolBar_ = nullptr;
    QComboBox* portCombo_ = nullptr;
    QComboBox* baudCombo_ = nullptr;
    QMenu* portMenu_ = nullptr;
    bool portMenuPending_ = true;
    QMdiArea* mdi_ = nullptr;
    CommandRouter* router_ = nullptr;
    std::vector<CommandTarget*> frameTargets_;
    std::vector<QPointer<QWidget>> toolWindows_;

    WindowsState windows_;
    bool anyTimerRunning_ = false;
    int activeTimerPeriod_ = 0;
    // The timer panes are redrawn when the active view changes.
    AnalyzerViewInterface* lastActiveView_ = nullptr;
    int shownTimerPeriod_ = 0;
};

}  // namespace zta
