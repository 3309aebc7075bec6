#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

#include "app/command_ids.h"
#include "app/command_router.h"
#include "poll/poll_block.h"

class QComboBox;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QStatusBar;
class QToolBar;
class AnalyzerView;
class DocumentTemplate;
class UiBridge;
class CMainFrame;

namespace zta {
class PollThread;
}

// Where the station finds its ports and its calibration file; tests replace them.
struct StationOptions {
    QStringList extraPorts;        // --port paths, listed before the system's ports
    bool listSystemPorts = true;   // ask QSerialPortInfo
    QStringList systemPorts;       // used instead of QSerialPortInfo when listSystemPorts is off
    QString calDataPath = QStringLiteral("CalDataK7.cfg");
    QString programFolder;         // empty: the folder of the program file
};

// The application object: owns the main window and the analyzer-window template and handles
// the application-level commands (new analyzer window, About, Exit).
class CMirelApp : public QObject, public CommandTarget {
    Q_OBJECT
public:
    explicit CMirelApp(StationOptions options = {}, QObject* parent = nullptr);
    ~CMirelApp() override;

    // Creates the main window, opens the first analyzer window and shows the main window.
    bool InitInstance(DocumentTemplate* docTemplate = nullptr);

    CMainFrame* mainFrame() const { return frame_; }
    DocumentTemplate& docTemplate() const { return *template_; }

    bool OnCommand(int id) override;
    bool OnUpdateCommand(int id, CommandState& state) override;

    static void ShowAbout(QWidget* owner);

private:
    StationOptions options_;
    std::unique_ptr<DocumentTemplate> template_;
    QPointer<CMainFrame> frame_;
};

class CMainFrame : public QMainWindow, public CommandTarget {
    Q_OBJECT
public:
    explicit CMainFrame(CMirelApp* app, DocumentTemplate& docTemplate,
                        StationOptions options = {}, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // ---- what analyzer windows, dialogs and commands use
    zta::PollBlock& block() { return pollBlock; }
    bool IsPolling() const;
    bool IsSearching() const;
    QString recordFolder() const { return recordFolder_; }
    bool SwitchBaudAndReconnect(unsigned baud);
    void Connect();
    void Disconnect();
    UiBridge& bridge() { return *bridge_; }
    CommandRouter& router() { return *router_; }
    QMdiArea* mdiArea() const { return mdi_; }
    DocumentTemplate& docTemplate() { return template_; }
    QMdiSubWindow* OpenNewDocument();

    // Sends `code` with `value` to the view of every registered slot, slot 0 first.
    void BroadcastToViews(int code, int value = 0);
    AnalyzerView* ViewOfSlot(int slot) const;
    AnalyzerView* ActiveView() const;

    // Status bars
    void RefreshTimerFlag();
    void ShowTimerPane(int periodSeconds);
    void ShowFolderPane(int periodSeconds);
    void ShowActiveViewTimer();
    void ShowGasPanes();
    QString paneText(int pane) const;       // main status bar, 0..5
    QString timerPaneText(int pane) const;  // second status bar, 0..1
    int paneWidth(int pane) const;
    void SetPaneText(int pane, const QString& text);

    // Ports and rates
    void EnumeratePorts();
    void BuildPortMenu();
    void SelectPort(int index);
    void SetPortName(const QString& name);
    void SetBaud(int position);
    const QStringList& portNames() const { return portNames_; }
    int portCount() const { return portCount_; }
    bool noPorts() const { return noPorts_; }
    QComboBox* portCombo() const { return portCombo_; }
    QComboBox* baudCombo() const { return baudCombo_; }
    QMenu* portMenu() const { return portMenu_; }
    QToolBar* toolBar() const { return toolBar_; }
    QStatusBar* timerBar() const { return timerBar_; }

    // Calibration gas (read at creation, written at close)
    QString calGasName;
    bool gasMarks[kGasCount] = {};
    bool gasMenuChoice = false;
    bool baudChecked[5] = {false, false, false, true, false};
    bool calDataLoaded() const { return calDataLoaded_; }

    void ChooseRecordFolder(const QString& chosenFile);  // after the file dialog
    bool OnCommand(int id) override;
    bool OnUpdateCommand(int id, CommandState& state) override;

signals:
    void pollingChanged(bool polling);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBars();
    void ReadCalData();
    void WriteCalData();
    void OnPollLineFailed();
    void OnRecordFolderCommand();
    void OnTimerAll();
    void OnInsertAll();
    std::vector<CommandTarget*> Route() const;
    bool WaitPollThread(int timeoutMs);

    CMirelApp* app_;
    DocumentTemplate& template_;
    StationOptions options_;

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

    std::unique_ptr<zta::PollThread> pollThread;
    zta::PollBlock pollBlock;
    int portCount_ = 0;
    QStringList portNames_;
    bool portMenuPending_ = true;
    bool noPorts_ = false;
    bool searchFinished_ = false;
    bool anyTimerRunning_ = false;
    int activeTimerPeriod_ = 0;
    QString recordFolder_;
    AnalyzerView* lastActiveView_ = nullptr;
    bool calDataLoaded_ = false;
};
