#include "app/main_window.h"

#include "app/bench_control.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSerialPortInfo>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/bus_tools.h"
#include "app/cal_data_file.h"
#include "device/analyzer_window_factory.h"
#include "ui/dialogs.h"
#include "app/search_control.h"
#include "app/station_application.h"
#include "ui/station_texts.h"
#include "ui/toolbar_icons.h"
#include "app/user_folders.h"
#include "device/device_host.h"
#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "app/station_bridge.h"
#include "link/regmap.h"
#include "link/serial_line.h"

namespace zta {

namespace {

const char* const kReady = "Ready";
const char* const kPolling = "Опрос приборов";
const char* const kPortsCaption = "Определение доступных портов";
const int kBasePaneWidths[6] = {0, 40, 29, 70, 21, 21};
constexpr int kStopWaitMs = 10000;

QString TimerText(int period) {
    return period == 0 ? QStringLiteral("Таймер не установлен")
                       : QStringLiteral("Таймер - %1 сек.").arg(period);
}

int BaudPosition(unsigned baud) {
    for (int i = 0; i < 5; ++i)
        if (kBaudRates[i] == baud)
            return i;
    return -1;
}

bool IsGasItem(CommandId id) {
    return std::find(std::begin(kGasMenuIds), std::end(kGasMenuIds), id) != std::end(kGasMenuIds);
}

}  // namespace

// The main window as analyzer windows see it.
class MainWindow::WindowHost : public DeviceHost {
public:
    explicit WindowHost(MainWindow& frame) : frame_(frame) {}

    zta::PollBlock& block() override { return frame_.block(); }
    bool IsPolling() const override { return frame_.IsPolling(); }
    QString recordFolder() const override { return frame_.recordFolder(); }
    QWidget* window() override { return &frame_; }
    void RefreshTimerFlag() override { frame_.RefreshTimerFlag(); }
    void ShowTimerPane(int periodSeconds) override { frame_.ShowTimerPane(periodSeconds); }
    void TimerStateChanged() override {
        frame_.ShowActiveViewTimer();
        const AnalyzerViewInterface* active = frame_.ActiveView();
        const int period = active ? active->timerPeriod() : 0;
        frame_.ShowFolderPane(period);
        frame_.ShowTimerPane(period);
    }
    void ShowActiveViewTimer() override { frame_.ShowActiveViewTimer(); }
    bool SwitchBaudAndReconnect(unsigned baud) override {
        return frame_.SwitchBaudAndReconnect(baud);
    }
    void RequestCommandRefresh() override {
        CommandRouter* router = &frame_.router();
        QTimer::singleShot(0, router, [router] { router->refresh(); });
    }
    void CommandConfirmed(int slot, Command which, const CommandTrack& previous) override {
        frame_.busTools().CommandConfirmed(slot, which, previous);
    }
    void CommandReported(const CommandReport& report) override {
        frame_.busTools().CommandChanged(report);
    }
    bool ConfirmCalibrationGas(int slot, QWidget* owner) override {
        return frame_.busTools().ConfirmCalibrationGas(slot, owner);
    }
    RecordWriter& recordWriter() override { return frame_.recordWriter(); }
    CsvLog& csvLog() override { return frame_.csvLog(); }

private:
    MainWindow& frame_;
};

class MainWindow::PollRun : public zta::PollSink {
public:
    PollRun(MainWindow& frame, int id) : frame_(frame), id_(id) {}
    ~PollRun() override { thread.reset(); }  // the thread goes before the sink it calls

    void DataChanged(zta::ViewId view, int slot) override {
        frame_.bridge_->DataChanged(view, slot);
    }
    void BaudAccepted(zta::ViewId view, int code, int address) override {
        frame_.bridge_->BaudAccepted(view, code, address);
    }
    void LineFailed() override {
        MainWindow* frame = &frame_;
        const int id = id_;
        frame_.bridge_->post([frame, id] { frame->OnLineFailed(id); });
    }
    void ShowError(const std::string& text, const std::string& caption) override {
        frame_.bridge_->ShowError(text, caption);
    }
    void CommandChanged(const CommandReport& report) override {
        MainWindow* frame = &frame_;
        frame_.bridge_->post([frame, report] { frame->busTools().CommandChanged(report); });
    }
    bool Stop(int timeoutMs, bool serve) {
        if (!serve)
            return thread->Stop(timeoutMs);
        UiBridge* bridge = frame_.bridge_;
        return thread->Stop(timeoutMs, [bridge] { bridge->serve(); });
    }

    std::unique_ptr<zta::PollThread> thread;
    int id() const { return id_; }

private:
    MainWindow& frame_;
    int id_;
};

MainWindow::MainWindow(StationApplication* app, AnalyzerWindowFactory& windowFactory, StationOptions options,
                       QWidget* parent)
    : QMainWindow(parent),
      app_(app),
      factory_(windowFactory),
      options_(std::move(options)),
      host_(std::make_unique<WindowHost>(*this)),
      station_(options_.calDataPath, options_.programFolder, options_.direction) {
    setWindowTitle(QStringLiteral("Программа проверки приборов ZTA-K7."));
    setWindowIcon(StationIcon());
    station_.recordWriter().setReport(
        [this](const QString& text) { dialogs().Error(text, QStringLiteral("Запись"), this); });

    router_ = new CommandRouter(this);
    router_->setRoute([this] { return Route(); });
    bridge_ = new UiBridge(this);
    UiBridge::PollHandlers handlers;
    handlers.dataChanged = [this](zta::ViewId view, int) {
        if (AnalyzerViewInterface* v = FindView(view))
            v->OnViewNotice(NoticeDataChanged, 0);
        if (busTools_)
            busTools_->DataChanged();
    };
    handlers.baudAccepted = [this](zta::ViewId view, int code, int address) {
        if (AnalyzerViewInterface* v = FindView(view))
            v->OnViewNotice(code, address);
    };
    handlers.errorOwner = this;
    bridge_->setPollHandlers(std::move(handlers));

    mdi_ = new QMdiArea;
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { ShowActiveViewTimer(); });

    searchControl_ = std::make_unique<SearchControl>(*this);
    SetSearchHooks(searchControl_.get());
    AddFrameTarget(searchControl_.get());
    concentrationDialog_ = new GasParametersDialog(this);
    devicesGasDialog_ = new ConnectedGasParametersDialog(this);

    CreateMenus();
    CreateToolBar();
    CreateStatusBars();
    busTools_ = new BusTools(*this);
    AddFrameTarget(busTools_);

    // The second status bar sits right above the main one, under the analyzer windows.
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mdi_, 1);
    layout->addWidget(timerBar_);
    setCentralWidget(central);

    connect(&station_, &Station::gasChanged, this, [this] {
        ShowGasPanes();
        router_->refresh();
    });
    connect(&station_, &Station::recordFolderChanged, this, [this] {
        for (QMdiSubWindow* child : mdi_->subWindowList())
            if (AnalyzerViewInterface* v = factory_.ViewOf(child))
                v->OnRecordFolderChanged();
        ShowFolderPane(activeTimerPeriod_);
    });
    ShowFolderPane(activeTimerPeriod_);
    ShowTimerPane(activeTimerPeriod_);

    CreateCombos();
    const zta::CalReadResult calData = station_.ReadCalData();
    if (calData.status == zta::CalReadStatus::Malformed)
        dialogs().Warning(calData.warning, QString(), this);
    ShowGasPanes();
    EnumeratePorts();
    resize(900, 600);
}

MainWindow::~MainWindow() {
    // Workers still alive (a stop that timed out) must not wait on a window that is going.
    bridge_->close();
    if (pollThread)
        pollThread->Stop(kStopWaitMs, false);
    pollThread.reset();
    abandoned_.clear();
    searchControl_.reset();  // asks a running search to stop and waits for it
    // Each closing document gives its slot back to the block, which goes with this object;
    // a window closed but not yet deleted is no longer listed by the area.
    const QList<QMdiSubWindow*> children = mdi_->findChildren<QMdiSubWindow*>();
    for (QMdiSubWindow* child : children)
        delete child;
}

// ---------------------------------------------------------------- menus and bars

void MainWindow::CreateMenus() {
    auto item = [this](QMenu* menu, const QString& text, CommandId id, bool checkable = false) {
        QAction* a = menu->addAction(text);
        a->setCheckable(checkable);
        a->setStatusTip(CommandPrompt(id));
        router_->bind(a, id);
        return a;
    };
    QMenuBar* bar = menuBar();

    QMenu* doc = bar->addMenu(QStringLiteral("Документ"));
    item(doc, QStringLiteral("Новый прибор"), CommandId::NewDocument);
    doc->addSeparator();
    item(doc, QStringLiteral("Путь для записи"), CommandId::RecordFolder);
    item(doc, QStringLiteral("Запись"), CommandId::Record);
    item(doc, QStringLiteral("CSV-журнал"), CommandId::CsvLog, true);
    item(doc, QStringLiteral("Тренд"), CommandId::Trend, true);
    QMenu* timer = doc->addMenu(QStringLiteral("Таймер для записи"));
    item(timer, QStringLiteral("Установить для активного документа"), CommandId::TimerActive);
    item(timer, QStringLiteral("Установить для всех документов"), CommandId::TimerAll);
    QMenu* timerOff = doc->addMenu(QStringLiteral("Отключить таймер"));
    item(timerOff, QStringLiteral("Активного документа"), CommandId::TimerOffActive);
    item(timerOff, QStringLiteral("Всех документов"), CommandId::TimerOffAll);
    doc->addSeparator();
    item(doc, QStringLiteral("Открыть стенд"), CommandId::OpenBench);
    item(doc, QStringLiteral("Сохранить стенд"), CommandId::SaveBench);
    doc->addSeparator();
    item(doc, QStringLiteral("Выход"), CommandId::Exit);

    QMenu* link = bar->addMenu(QStringLiteral("Связь"));
    item(link, QStringLiteral("Поиск"), CommandId::Search);
    item(link, QStringLiteral("Остановить"), CommandId::StopSearch);
    link->addSeparator();
    item(link, QStringLiteral("Подключить"), CommandId::Connect);
    item(link, QStringLiteral("Отключить"), CommandId::Disconnect);
    link->addSeparator();
    portMenu_ = link->addMenu(QStringLiteral("Порт"));
    item(portMenu_, QStringLiteral("Com"), CommandId::PortPlaceholder);
    QMenu* speed = link->addMenu(QStringLiteral("Скорость"));
    for (int i = 0; i < 5; ++i)
        item(speed, QString::number(kBaudRates[i]), BaudCommand(i), true);

    QMenu* setup = bar->addMenu(QStringLiteral("Установки"));
    item(setup, QStringLiteral("Изменить сетевой номер"), CommandId::ChangeNumber);
    item(setup, QStringLiteral("Изменить скорость"), CommandId::ChangeSpeed);
    QMenu* thresholds = setup->addMenu(QStringLiteral("Изменить значения порогов"));
    item(thresholds, QStringLiteral("Порог 1"), CommandId::Threshold1);
    item(thresholds, QStringLiteral("Порог 2"), CommandId::Threshold2);
    setup->addSeparator();
    QMenu* insert = setup->addMenu(QStringLiteral("Вставить строку"));
    item(insert, QStringLiteral("В активный документ"), CommandId::InsertActive);
    item(insert, QStringLiteral("Во все документы"), CommandId::InsertAll);
    setup->addSeparator();
    QMenu* gas = setup->addMenu(QStringLiteral("Параметры газа"));
    QMenu* gasKind = gas->addMenu(QStringLiteral("Вид газа"));
    for (int i = 0; i < kGasCount; ++i)
        item(gasKind, QString::fromUtf8(zta::kCalGasMenu[i].name), kGasMenuIds[i], true);
    item(gas, QStringLiteral("Концентрация"), CommandId::Concentration);
    item(gas, QStringLiteral("Параметры подключенных приборов"), CommandId::ConnectedDevicesGas);
    item(setup, QStringLiteral("Установка нуля"), CommandId::SetZero);
    item(setup, QStringLiteral("Газ высокой концентрации "), CommandId::HighGas);
    item(setup, QStringLiteral("Газ средней концентрации"), CommandId::MiddleGas);
    item(setup, QStringLiteral("Установка типовой  концентрации"), CommandId::TypicalConcentration);

    QMenu* info = bar->addMenu(QStringLiteral("Информация о ПО"));
    item(info, QStringLiteral("Прибора в активном окне"), CommandId::SoftwareInfoActive);
    item(info, QStringLiteral("Во всех окнах"), CommandId::SoftwareInfoAll, true);

    QMenu* view = bar->addMenu(QStringLiteral("Вид"));
    item(view, QStringLiteral("Панель инструментов"), CommandId::ViewToolBar, true);
    item(view, QStringLiteral("Строка состояния"), CommandId::ViewStatusBar, true);

    QMenu* window = bar->addMenu(QStringLiteral("Окно"));
    item(window, QStringLiteral("Каскадом"), CommandId::WindowCascade);
    item(window, QStringLiteral("Все на экран"), CommandId::WindowTile);

    QMenu* help = bar->addMenu(QStringLiteral("Помощь"));
    item(help, QStringLiteral("О программе"), CommandId::About);

    for (QAction* a : bar->actions())
        if (a->menu())
            router_->watchMenu(a->menu());
}

void MainWindow::CreateToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Панель инструментов"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, toolBar_);
    auto button = [this](CommandId id) {
        QAction* a = toolBar_->addAction(ToolIcon(id), CommandToolTip(id));
        a->setToolTip(CommandToolTip(id));
        a->setStatusTip(CommandPrompt(id));
        router_->bind(a, id);
    };
    for (CommandId id : {CommandId::ToolNewDocument, CommandId::ToolRecordFolder, CommandId::ToolRecord, CommandId::ToolSetTimer,
                   CommandId::ToolStopTimer})
        button(id);
    toolBar_->addSeparator();
    for (CommandId id : {CommandId::ToolConnect, CommandId::ToolDisconnect, CommandId::ToolSearch, CommandId::ToolStopSearch})
        button(id);
    toolBar_->addSeparator();
    for (CommandId id : {CommandId::ToolSetZero, CommandId::ToolHighGas, CommandId::ToolMiddleGas, CommandId::ToolTypicalConcentration,
                   CommandId::ToolThreshold1, CommandId::ToolThreshold2, CommandId::ToolInsertActive,
                   CommandId::SoftwareInfoActive, CommandId::SoftwareInfoAll})
        button(id);
    toolBar_->addSeparator();
    for (CommandId id : {CommandId::ToolChangeNumber, CommandId::ToolChangeSpeed})
        button(id);
    // The two combo boxes go here (CreateCombos), then "about".
}

void MainWindow::CreateCombos() {
    portCombo_ = new QComboBox;
    portCombo_->setObjectName(QStringLiteral("portCombo"));
    portCombo_->setMinimumWidth(80);
    portCombo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    portCombo_->setMaxVisibleItems(6);
    toolBar_->addWidget(portCombo_);
    router_->bindWidget(portCombo_, CommandId::PortCombo);
    connect(portCombo_, &QComboBox::activated, this, [this](int index) { SelectPort(index); });

    baudCombo_ = new QComboBox;
    baudCombo_->setObjectName(QStringLiteral("baudCombo"));
    baudCombo_->setMinimumWidth(70);
    baudCombo_->setMaxVisibleItems(6);
    toolBar_->addWidget(baudCombo_);
    router_->bindWidget(baudCombo_, CommandId::BaudCombo);
    connect(baudCombo_, &QComboBox::activated, this, [this](int index) { SetBaud(index); });
    for (unsigned rate : kBaudRates)
        baudCombo_->addItem(QString::number(rate));
    baudCombo_->setCurrentIndex(3);

    QAction* about = toolBar_->addAction(ToolIcon(CommandId::ToolAbout), CommandToolTip(CommandId::ToolAbout));
    about->setStatusTip(CommandPrompt(CommandId::ToolAbout));
    router_->bind(about, CommandId::ToolAbout);
}

void MainWindow::CreateStatusBars() {
    statusBar_ = new QStatusBar;
    statusBar_->setObjectName(QStringLiteral("statusBar"));
    setStatusBar(statusBar_);
    for (int i = 0; i < 6; ++i) {
        panes_[i] = new QLabel;
        panes_[i]->setObjectName(QStringLiteral("pane%1").arg(i));
        if (i == 0) {
            statusBar_->addWidget(panes_[i], 1);
        } else {
            panes_[i]->setFrameShape(QFrame::Panel);
            panes_[i]->setFrameShadow(QFrame::Sunken);
            panes_[i]->setAlignment(Qt::AlignCenter);
            statusBar_->addPermanentWidget(panes_[i]);
        }
    }
    SetPaneText(0, QString::fromUtf8(kReady));
    SetPaneText(1, QStringLiteral("----"));
    SetPaneText(2, QStringLiteral("9600"));

    timerBar_ = new QStatusBar;
    timerBar_->setObjectName(QStringLiteral("timerBar"));
    timerBar_->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        timerPanes_[i] = new QLabel;
        timerPanes_[i]->setObjectName(QStringLiteral("timerPane%1").arg(i));
        timerBar_->addWidget(timerPanes_[i], i == 0 ? 1 : 0);
    }
}

void MainWindow::SetPaneText(int index, const QString& text) {
    if (index < 0 || index > 5)
        return;
    panes_[index]->setText(text);
    FitPane(index);
}

void MainWindow::FitPane(int index) {
    if (index == 0)
        return;
    // The historic widths are the least; every text is still shown whole.
    const int textWidth = panes_[index]->fontMetrics().horizontalAdvance(panes_[index]->text());
    panes_[index]->setMinimumWidth(std::max(kBasePaneWidths[index], textWidth + 10));
}

QString MainWindow::paneText(int index) const {
    return index >= 0 && index < 6 ? panes_[index]->text() : QString();
}

QString MainWindow::timerPaneText(int index) const {
    return index >= 0 && index < 2 ? timerPanes_[index]->text() : QString();
}

void MainWindow::ShowGasPanes() {
    SetPaneText(3, station_.gasState().calGasName);
    SetPaneText(4, QString::asprintf("%.2f", station_.block().MaxGas()));
    SetPaneText(5, QString::asprintf("%.2f", station_.block().MidGas()));
}

void MainWindow::ShowFolderPane(int period) {
    const int reserved = 7 * int(TimerText(period).size());
    const int w = centralWidget() ? centralWidget()->width() : width();
    if (w > reserved) {
        timerPanes_[0]->setMinimumWidth(0);
        timerPanes_[0]->setMaximumWidth(w - reserved);
    }
    timerPanes_[0]->setText(station_.recordFolder() + QStringLiteral("*.zta"));
    timerPanes_[0]->setToolTip(timerPanes_[0]->text());
}

void MainWindow::ShowTimerPane(int period) {
    const QString text = TimerText(period);
    const int reserved = 7 * int(text.size());
    const int w = centralWidget() ? centralWidget()->width() : width();
    if (w > reserved) {
        const int textWidth = timerPanes_[1]->fontMetrics().horizontalAdvance(text) + 8;
        timerPanes_[1]->setMinimumWidth(std::max(reserved, textWidth));
    }
    timerPanes_[1]->setText(text);
    shownTimerPeriod_ = period;
}

void MainWindow::RefreshTimerFlag() {
    anyTimerRunning_ = station_.block().RunningTimers() != 0;
}

void MainWindow::ShowActiveViewTimer() {
    AnalyzerViewInterface* view = ActiveView();
    activeTimerPeriod_ = view ? view->timerPeriod() : 0;
    // A new view may sit where a closed one was: the shown period is compared as well.
    if (view != lastActiveView_ || activeTimerPeriod_ != shownTimerPeriod_) {
        ShowFolderPane(activeTimerPeriod_);
        ShowTimerPane(activeTimerPeriod_);
        lastActiveView_ = view;
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!isMinimized()) {
        AnalyzerViewInterface* view = ActiveView();
        activeTimerPeriod_ = view ? view->timerPeriod() : 0;
        ShowFolderPane(activeTimerPeriod_);
        ShowTimerPane(activeTimerPeriod_);
    }
    if (portMenuPending_)
        BuildPortMenu();
}

// ---------------------------------------------------------------- ports and rates

void MainWindow::EnumeratePorts() {
    QStringList names;
    for (const QString& p : options_.extraPorts)
        if (!p.isEmpty() && !names.contains(p))
            names << p;
    if (options_.listSystemPorts) {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            // A port also named on the command line by its full path is listed once.
            if (info.portName().isEmpty() || names.contains(info.systemLocation()) ||
                names.contains(info.portName()))
                continue;
            names << info.portName();
        }
    } else {
        for (const QString& p : options_.systemPorts)
            if (!p.isEmpty())
                names << p;
    }

    portCount_ = int(names.size());
    if (portCount_ > kMaxPorts) {
        dialogs().Warning(
            QStringLiteral("Слишком много COM портов! Доступны будут только первые 50."),
            QString::fromUtf8(kPortsCaption), this);
        names = names.mid(0, kMaxPorts);
        portCount_ = kMaxPorts;
    }
    portNames_ = names;
    if (portCount_ > 0) {
        for (int i = 0; i < portCount_; ++i) {
            portCombo_->addItem(portNames_[i]);
            if (i == 0) {
                portCombo_->setCurrentIndex(0);
                selectedPort_ = 0;
                SetPortName(portNames_[0]);
            }
        }
    } else {
        dialogs().Warning(QStringLiteral("Ни одного COM порта не обнаружено"),
                              QString::fromUtf8(kPortsCaption), this);
        portCombo_->addItem(QStringLiteral("NoPort"));
        portCombo_->setCurrentIndex(0);
        portCount_ = -1;
        noPorts_ = true;
    }
}

void MainWindow::BuildPortMenu() {
    portMenu_->clear();
    for (int i = 0; i < portCount_; ++i) {
        QAction* a = portMenu_->addAction(portNames_[i]);
        a->setCheckable(true);
        router_->bind(a, PortCommand(i));
    }
    portMenuPending_ = false;
    router_->refresh();
}

void MainWindow::SelectPort(int index) {
    if (noPorts_)
        return;  // "NoPort" names nothing to open
    for (int i = 0; i < portCombo_->count(); ++i) {
        if (i != index)
            continue;
        selectedPort_ = i;
        portCombo_->setCurrentIndex(i);
        SetPortName(portCombo_->itemText(i));
    }
    router_->refresh();
}

void MainWindow::SetPortName(const QString& name) {
    station_.block().SetPortName(zta::StoredPortName(name.toStdString()));
    SetPaneText(1, name);
}

void MainWindow::SetBaud(int position) {
    if (position < 0 || position > 4)
        return;
    for (int i = 0; i < 5; ++i)
        baudChecked_[i] = i == position;
    station_.block().SetBaudRate(kBaudRates[position]);
    baudCombo_->setCurrentIndex(position);
    SetPaneText(2, QString::number(kBaudRates[position]));
    router_->refresh();
}

// ---------------------------------------------------------------- calibration gas

void MainWindow::ApplyGasState(const zta::GasState& state) {
    station_.ApplyGasState(state);  // the panes and commands follow its signal
}

// ---------------------------------------------------------------- polling

bool MainWindow::IsSearching() const {
    return search_ && search_->Running();
}

void MainWindow::Connect() {
    if (noPorts_) {
        dialogs().Information(QStringLiteral("Нет найденных COM портов"),
                                  QStringLiteral("Связь"), this);
        return;
    }
    if (IsSearching()) {
        dialogs().Information(QStringLiteral("Остановите поиск"), QStringLiteral("Работа"),
                                  this);
        return;
    }
    if (IsPolling()) {
        dialogs().Information(QStringLiteral("Опрос приборов."), QStringLiteral("Работа"),
                                  this);
        return;
    }
    auto run = std::make_unique<PollRun>(*this, ++lastRun_);
    zta::PollTiming timing = station_.pollTiming();
    timing.line.observer = &busTools_->ring();
    run->thread = std::make_unique<zta::PollThread>(station_.block(), *run, timing, station_.portFactory());
    if (!run->thread->Start())
        return;
    pollThread = std::move(run);
    SetPaneText(0, QString::fromUtf8(kPolling));
    router_->refresh();
}

bool MainWindow::StopPollThread() {
    // A request served during the wait may open a box, whose event loop can ask for another
    // stop (a posted baud notice, a line report): that one returns at once instead of waiting
    // for a thread that waits for the box.
    if (stoppingPoll_)
        return false;
    stoppingPoll_ = true;
    const bool ended = pollThread->Stop(kStopWaitMs, true);
    stoppingPoll_ = false;
    return ended;
}

void MainWindow::Disconnect() {
    if (!pollThread)
        return;
    if (!StopPollThread())
        return;  // still polling, with the stop request set; a later Disconnect waits again
    pollThread.reset();
    BroadcastToViews(NoticeDisconnected);
    SetPaneText(0, QString::fromUtf8(kReady));
    router_->refresh();
}

void MainWindow::OnLineFailed(int run) {
    if (!pollThread || pollThread->id() != run || stoppingPoll_)
        return;  // over already, or being stopped by an outer wait
    // The thread ends right after its report; the windows keep their readings.
    if (!StopPollThread())
        abandoned_.push_back(std::move(pollThread));
    pollThread.reset();
    SetPaneText(0, QString::fromUtf8(kReady));
    router_->refresh();
}

DeviceHost& MainWindow::deviceHost() {
    return *host_;
}

bool MainWindow::SwitchBaudAndReconnect(unsigned baud) {
    Disconnect();
    const int position = BaudPosition(baud);
    if (position >= 0)
        SetBaud(position);
    Connect();
    return true;
}

// ---------------------------------------------------------------- analyzer windows

QMdiSubWindow* MainWindow::OpenNewDocument() {
    QMdiSubWindow* child = factory_.OpenWindow(*host_, *mdi_);
    router_->refresh();
    busTools_->WindowsChanged();
    return child;
}

AnalyzerViewInterface* MainWindow::FindView(zta::ViewId id) const {
    if (id == 0)
        return nullptr;
    for (QMdiSubWindow* child : mdi_->subWindowList())
        if (AnalyzerViewInterface* view = factory_.ViewOf(child); view && ViewIdOf(view) == id)
            return view;
    return nullptr;
}

AnalyzerViewInterface* MainWindow::ViewOfSlot(int slot) const {
    return FindView(station_.block().View(slot));
}

AnalyzerViewInterface* MainWindow::ActiveView() const {
    QMdiSubWindow* child = mdi_->currentSubWindow();
    return child ? factory_.ViewOf(child) : nullptr;
}

void MainWindow::BroadcastToViews(int code, int value) {
    const int count = station_.block().WindowCount();
    std::vector<AnalyzerViewInterface*> views;
    for (int slot = 0; slot < count; ++slot)
        if (AnalyzerViewInterface* v = ViewOfSlot(slot))
            views.push_back(v);
    // Resolved first: a view's handler may open a box, and the list must not shift under us.
    for (AnalyzerViewInterface* v : views)
        if (FindView(ViewIdOf(v)))
            v->OnViewNotice(code, value);
}

void MainWindow::TileWindows() {
    const QList<QMdiSubWindow*> children = mdi_->subWindowList();
    if (children.isEmpty())
        return;
    const QSize area = mdi_->viewport()->size();
    const int h = std::max(1, area.height() / int(children.size()));
    int y = 0;
    for (QMdiSubWindow* child : children) {
        if (child->isMinimized() || child->isMaximized())
            child->showNormal();
        child->setGeometry(0, y, area.width(), h);
        y += h;
    }
}

void MainWindow::AddFrameTarget(CommandTarget* target) {
    frameTargets_.push_back(target);
}

std::vector<CommandTarget*> MainWindow::Route() const {
    std::vector<CommandTarget*> route;
    if (QMdiSubWindow* child = mdi_->currentSubWindow())
        route = factory_.Route(child);
    route.push_back(const_cast<MainWindow*>(this));
    for (CommandTarget* t : frameTargets_)
        route.push_back(t);
    if (app_)
        route.push_back(app_);
    return route;
}

// ---------------------------------------------------------------- commands

void MainWindow::OnRecordFolderCommand() {
    const std::optional<QString> chosen = dialogs().AskFolder(station_.recordFolder(), this);
    if (chosen && !chosen->isEmpty())
        ChooseRecordFolder(*chosen);
}

void MainWindow::ChooseRecordFolder(const QString& folder) {
    station_.SetRecordFolder(folder);
}

void MainWindow::OnTimerAll() {
    if (!IsPolling()) {
        dialogs().Information(
            QStringLiteral("Установка таймера для группы приборов не может быть произведена.\r\n"
                           "    \t         Проверьте подключение приборов. "),
            QStringLiteral("Ошибка"), this);
        return;
    }
    if (station_.block().RunningTimers() != 0)
        return;
    const std::optional<int> period =
        dialogs().AskTimerPeriod(-1, this);
    if (period && *period != 0)
        BroadcastToViews(NoticeStartTimer, *period);
}

void MainWindow::OnInsertAll() {
    const std::optional<QString> text =
        dialogs().AskNote(-1, this);
    if (!text)
        return;
    station_.block().SetInsertText(text->toStdString());
    BroadcastToViews(NoticeInsertText);
}

int MainWindow::ExecDialog(QDialog& dialog) {
    return dialogs().Run(dialog);
}

void MainWindow::OnConcentration() {
    GasParametersDialog& dialog = *concentrationDialog_;
    dialog.setMaximum(station_.block().MaxGas());
    dialog.setMiddle(station_.block().MidGas());
    dialog.setGasMarks(station_.gasState().gasMarks);
    zta::GasState state = station_.gasState();
    if (ExecDialog(dialog) == QDialog::Accepted) {
        state.maxGas = dialog.maximum();
        state.midGas = dialog.middle();
    }
    ApplyGasState(state);
}

void MainWindow::OnConnectedDevicesGas() {
    std::vector<zta::AnalyzerGasParams> analyzers;
    const int count = station_.block().WindowCount();
    for (int slot = 0; slot < count; ++slot) {
        const zta::Slot s = station_.block().Snapshot(slot);
        zta::AnalyzerGasParams p;
        p.gasCode = s.gasCode;
        p.gasName = s.gasName;
        p.extendedModel = s.extendedModel;
        p.unitName = s.unitName;
        p.deviceRange = s.deviceRange;
        p.deviceMidGas = s.deviceMidGas;
        p.deviceMaxGas = s.deviceMaxGas;
        analyzers.push_back(std::move(p));
    }
    ConnectedGasParametersDialog& dialog = *devicesGasDialog_;
    dialog.setAnalyzers(analyzers);
    if (ExecDialog(dialog) != QDialog::Accepted)
        return;
    zta::GasState state = station_.gasState();
    if (zta::ApplyConnectedDevicesChoice(state, dialog.chosenGasName(), dialog.chosenMaximum(),
                                         dialog.chosenMiddle()))
        ApplyGasState(state);
}

bool MainWindow::OnCommand(CommandId id) {
    if (id >= CommandId::PortFirst && id <= CommandId::PortLast) {
        SelectPort(int(id) - int(CommandId::PortFirst));
        return true;
    }
    if (id >= CommandId::Baud1200 && id <= CommandId::Baud19200) {
        SetBaud(int(id) - int(CommandId::Baud1200));
        return true;
    }
    if (const zta::GasInfo* gas = zta::GasByMenuId(int(id))) {
        zta::GasState state = station_.gasState();
        zta::SelectGas(state, *gas);
        ApplyGasState(state);
        return true;
    }
    switch (id) {
    case CommandId::Concentration: OnConcentration(); return true;
    case CommandId::ConnectedDevicesGas: OnConnectedDevicesGas(); return true;
    case CommandId::Connect:
    case CommandId::ToolConnect: Connect(); return true;
    case CommandId::Disconnect:
    case CommandId::ToolDisconnect: Disconnect(); return true;
    case CommandId::TimerAll: OnTimerAll(); return true;
    case CommandId::TimerOffAll: BroadcastToViews(NoticeStopTimer); return true;
    case CommandId::InsertAll: OnInsertAll(); return true;
    case CommandId::SoftwareInfoActive:
        if (AnalyzerViewInterface* v = ActiveView())
            v->OnViewNotice(NoticeShowSoftwareInfo, 0);
        return true;
    case CommandId::SoftwareInfoAll:
        station_.block().SetShowSoftwareInfo(station_.block().ShowSoftwareInfo() ? 0 : 1);
        BroadcastToViews(NoticeSoftwareInfoToggled);
        return true;
    case CommandId::ToolNewDocument: OpenNewDocument(); return true;
    case CommandId::RecordFolder:
    case CommandId::ToolRecordFolder: OnRecordFolderCommand(); return true;
    case CommandId::ViewToolBar: toolBar_->setVisible(toolBar_->isHidden()); return true;
    case CommandId::ViewStatusBar: statusBar_->setVisible(statusBar_->isHidden()); return true;
    case CommandId::WindowCascade: mdi_->cascadeSubWindows(); return true;
    case CommandId::WindowTile: TileWindows(); return true;
    case CommandId::CsvLog: station_.csvLog().setEnabled(!station_.csvLog().enabled()); return true;
    case CommandId::SaveBench:
    case CommandId::OpenBench: {
        const bool save = id == CommandId::SaveBench;
        const std::optional<QString> path = AskBenchFile(this, save);
        if (path && !path->isEmpty()) {
            if (save)
                SaveBench(*path);
            else
                OpenBench(*path);
        }
        return true;
    }
    default: return false;
    }
}

bool MainWindow::SaveBench(const QString& path) {
    QString error;
    if (zta::WriteBenchFile(path, zta::CaptureBench(*this), &error)) return true;
    dialogs().Error(error, QStringLiteral("Стенд"), this);
    return false;
}

std::optional<zta::BenchSettings> MainWindow::OpenBench(const QString& path) {
    QString error;
    const auto bench = zta::ReadBenchFile(path, &error);
    if (!bench) {
        dialogs().Error(error, QStringLiteral("Стенд"), this);
        return std::nullopt;
    }
    zta::ApplyBench(*this, *bench);
    return bench;
}

bool MainWindow::OnUpdateCommand(CommandId id, CommandState& st) {
    const bool polling = IsPolling();
    const bool searching = IsSearching();
    const bool idle = !polling && !searching;
    if (id >= CommandId::PortFirst && id <= CommandId::PortLast) {
        st.enabled = idle;
        st.checked = int(id) - int(CommandId::PortFirst) == selectedPort_;
        return int(id) - int(CommandId::PortFirst) < portCount_;
    }
    if (id >= CommandId::Baud1200 && id <= CommandId::Baud19200) {
        st.enabled = idle;
        st.checked = baudChecked_[int(id) - int(CommandId::Baud1200)];
        return true;
    }
    if (IsGasItem(id)) {
        for (int i = 0; i < kGasCount; ++i)
            if (kGasMenuIds[i] == id)
                st.checked = station_.gasState().gasMarks[i];
        return true;
    }
    switch (id) {
    case CommandId::Connect:
    case CommandId::ToolConnect:
    case CommandId::Search:
    case CommandId::ToolSearch:
    case CommandId::PortCombo:
    case CommandId::BaudCombo: st.enabled = idle; return true;
    case CommandId::Disconnect:
    case CommandId::ToolDisconnect: st.enabled = polling && !searching; return true;
    case CommandId::StopSearch:
    case CommandId::ToolStopSearch: st.enabled = searching && !polling; return true;
    case CommandId::Concentration: st.enabled = station_.gasState().gasMenuChoice; return true;
    case CommandId::ConnectedDevicesGas: st.enabled = polling; return true;
    case CommandId::TimerAll: st.enabled = !anyTimerRunning_; return true;
    case CommandId::TimerOffAll: st.enabled = anyTimerRunning_; return true;
    case CommandId::SoftwareInfoAll: st.checked = station_.block().ShowSoftwareInfo() != 0; return true;
    case CommandId::CsvLog: st.checked = station_.csvLog().enabled(); return true;
    case CommandId::SaveBench:
    case CommandId::OpenBench: st.enabled = !searching; return true;
    case CommandId::ViewToolBar: st.checked = !toolBar_->isHidden(); return true;
    case CommandId::ViewStatusBar: st.checked = !statusBar_->isHidden(); return true;
    case CommandId::SoftwareInfoActive:
    case CommandId::InsertAll:
    case CommandId::ToolNewDocument:
    case CommandId::RecordFolder:
    case CommandId::ToolRecordFolder:
    case CommandId::WindowCascade:
    case CommandId::WindowTile: return true;
    default: return false;
    }
}

// ---------------------------------------------------------------- closing

void MainWindow::closeEvent(QCloseEvent* event) {
    if (stoppingPoll_) {
        event->ignore();  // asked from inside a wait for the poll thread; close again later
        return;
    }
    if (pollThread && StopPollThread())
        pollThread.reset();
    if (search_ && search_->Running())
        search_->StopForClose(kStopWaitMs);
    station_.WriteCalData();
    mdi_->closeAllSubWindows();
    event->accept();
}

}  // namespace zta
