// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_window.h"

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

#include "app/bench_control.h"
#include "app/bus_tools.h"
#include "app/cal_data_file.h"
#include "app/search_control.h"
#include "app/station_application.h"
#include "app/station_bridge.h"
#include "app/user_folders.h"
#include "device/analyzer_window_factory.h"
#include "device/device_host.h"
#include "gas/connected_gas_parameters_dialog.h"
#include "gas/gas_parameters_dialog.h"
#include "link/regmap.h"
#include "link/serial_line.h"
#include "ui/dialogs.h"
#include "ui/station_texts.h"
#include "ui/toolbar_icons.h"

namespace zta {

namespace {

const char* const kReady = "Ready";
const char* const kPolling = "Опрос приборов";
const char* const kPortsCaption = "Определение доступных портов";
const int kBasePaneWidths[6] = {0, 40, 29, 70, 21, 21};
constexpr int kStopWaitMs = 10000;

QString timerText(int period) {
    return period == 0 ? QStringLiteral("Таймер не установлен")
                       : QStringLiteral("Таймер - %1 сек.").arg(period);
}

int baudPosition(unsigned baud) {
    for (int i = 0; i < 5; ++i)
        if (kBaudRates[i] == baud) return i;
    return -1;
}

bool isGasItem(CommandId id) {
    return std::find(std::begin(kGasMenuIds), std::end(kGasMenuIds), id) != std::end(kGasMenuIds);
}

}  // namespace

// The main window as analyzer windows see it.
class MainWindow::WindowHost : public DeviceHost {
  public:
    explicit WindowHost(MainWindow& frame) : frame_(frame) {}

    zta::PollBlock& block() override { return frame_.block(); }
    bool isPolling() const override { return frame_.isPolling(); }
    QString recordFolder() const override { return frame_.recordFolder(); }
    QWidget* window() override { return &frame_; }
    void refreshTimerFlag() override { frame_.refreshTimerFlag(); }
    void showTimerPane(int periodSeconds) override { frame_.showTimerPane(periodSeconds); }
    void timerStateChanged() override {
        frame_.showActiveViewTimer();
        const AnalyzerViewInterface* active = frame_.activeView();
        const int period = active ? active->timerPeriod() : 0;
        frame_.showFolderPane(period);
        frame_.showTimerPane(period);
    }
    void showActiveViewTimer() override { frame_.showActiveViewTimer(); }
    bool switchBaudAndReconnect(unsigned baud) override {
        return frame_.switchBaudAndReconnect(baud);
    }
    void requestCommandRefresh() override {
        CommandRouter* router = &frame_.router();
        QTimer::singleShot(0, router, [router] { router->refresh(); });
    }
    void commandConfirmed(int slot, Command which, const CommandTrack& previous) override {
        frame_.busTools().commandConfirmed(slot, which, previous);
    }
    void commandReported(const CommandReport& report) override {
        frame_.busTools().commandChanged(report);
    }
    bool confirmCalibrationGas(int slot, QWidget* owner) override {
        return frame_.busTools().confirmCalibrationGas(slot, owner);
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

    void dataChanged(zta::ViewId view, int slot) override {
        frame_.bridge_->dataChanged(view, slot);
    }
    void baudAccepted(zta::ViewId view, int code, int address) override {
        frame_.bridge_->baudAccepted(view, code, address);
    }
    void lineFailed() override {
        MainWindow* frame = &frame_;
        const int id = id_;
        frame_.bridge_->post([frame, id] { frame->onLineFailed(id); });
    }
    void showError(const std::string& text, const std::string& caption) override {
        frame_.bridge_->showError(text, caption);
    }
    void commandChanged(const CommandReport& report) override {
        MainWindow* frame = &frame_;
        frame_.bridge_->post([frame, report] { frame->busTools().commandChanged(report); });
    }
    bool stop(int timeoutMs, bool serve) {
        if (!serve) return thread->stop(timeoutMs);
        UiBridge* bridge = frame_.bridge_;
        return thread->stop(timeoutMs, [bridge] { bridge->serve(); });
    }

    std::unique_ptr<zta::PollThread> thread;
    int id() const { return id_; }

  private:
    MainWindow& frame_;
    int id_;
};

MainWindow::MainWindow(StationApplication* app, AnalyzerWindowFactory& windowFactory,
                       StationOptions options, QWidget* parent)
    : QMainWindow(parent),
      app_(app),
      factory_(windowFactory),
      options_(std::move(options)),
      host_(std::make_unique<WindowHost>(*this)),
      station_(options_.calDataPath, options_.programFolder, options_.direction) {
    setWindowTitle(QStringLiteral("Программа проверки приборов ZTA-K7."));
    setWindowIcon(stationIcon());
    station_.recordWriter().setReport(
        [this](const QString& text) { dialogs().error(text, QStringLiteral("Запись"), this); });

    router_ = new CommandRouter(this);
    router_->setRoute([this] { return route(); });
    bridge_ = new UiBridge(this);
    UiBridge::PollHandlers handlers;
    handlers.dataChanged = [this](zta::ViewId view, int) {
        if (AnalyzerViewInterface* v = findView(view)) v->onViewNotice(NoticeDataChanged, 0);
        if (busTools_) busTools_->dataChanged();
    };
    handlers.baudAccepted = [this](zta::ViewId view, int code, int address) {
        if (AnalyzerViewInterface* v = findView(view)) v->onViewNotice(code, address);
    };
    handlers.errorOwner = this;
    bridge_->setPollHandlers(std::move(handlers));

    mdi_ = new QMdiArea;
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { showActiveViewTimer(); });

    searchControl_ = std::make_unique<SearchControl>(*this);
    setSearchHooks(searchControl_.get());
    addFrameTarget(searchControl_.get());
    concentrationDialog_ = new GasParametersDialog(this);
    devicesGasDialog_ = new ConnectedGasParametersDialog(this);

    createMenus();
    createToolBar();
    createStatusBars();
    busTools_ = new BusTools(*this);
    addFrameTarget(busTools_);

    // The second status bar sits right above the main one, under the analyzer windows.
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mdi_, 1);
    layout->addWidget(timerBar_);
    setCentralWidget(central);

    connect(&station_, &Station::gasChanged, this, [this] {
        showGasPanes();
        router_->refresh();
    });
    connect(&station_, &Station::recordFolderChanged, this, [this] {
        for (QMdiSubWindow* child : mdi_->subWindowList())
            if (AnalyzerViewInterface* v = factory_.viewOf(child)) v->onRecordFolderChanged();
        showFolderPane(activeTimerPeriod_);
    });
    showFolderPane(activeTimerPeriod_);
    showTimerPane(activeTimerPeriod_);

    createCombos();
    const zta::CalReadResult calData = station_.readCalData();
    if (calData.status == zta::CalReadStatus::Malformed)
        dialogs().warning(calData.warning, QString(), this);
    showGasPanes();
    enumeratePorts();
    resize(900, 600);
}

MainWindow::~MainWindow() {
    // Workers still alive (a stop that timed out) must not wait on a window that is going.
    bridge_->close();
    if (pollThread) pollThread->stop(kStopWaitMs, false);
    pollThread.reset();
    abandoned_.clear();
    searchControl_.reset();  // asks a running search to stop and waits for it
    // Each closing document gives its slot back to the block, which goes with this object;
    // a window closed but not yet deleted is no longer listed by the area.
    const QList<QMdiSubWindow*> children = mdi_->findChildren<QMdiSubWindow*>();
    for (QMdiSubWindow* child : children) delete child;
}

// ---------------------------------------------------------------- menus and bars

void MainWindow::createMenus() {
    auto item = [this](QMenu* menu, const QString& text, CommandId id, bool checkable = false) {
        QAction* a = menu->addAction(text);
        a->setCheckable(checkable);
        a->setStatusTip(commandPrompt(id));
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
    for (int i = 0; i < 5; ++i) item(speed, QString::number(kBaudRates[i]), baudCommand(i), true);

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
        if (a->menu()) router_->watchMenu(a->menu());
}

void MainWindow::createToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Панель инструментов"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, toolBar_);
    auto button = [this](CommandId id) {
        QAction* a = toolBar_->addAction(toolIcon(id), commandToolTip(id));
        a->setToolTip(commandToolTip(id));
        a->setStatusTip(commandPrompt(id));
        router_->bind(a, id);
    };
    for (CommandId id : {CommandId::ToolNewDocument, CommandId::ToolRecordFolder,
                         CommandId::ToolRecord, CommandId::ToolSetTimer, CommandId::ToolStopTimer})
        button(id);
    toolBar_->addSeparator();
    for (CommandId id : {CommandId::ToolConnect, CommandId::ToolDisconnect, CommandId::ToolSearch,
                         CommandId::ToolStopSearch})
        button(id);
    toolBar_->addSeparator();
    for (CommandId id :
         {CommandId::ToolSetZero, CommandId::ToolHighGas, CommandId::ToolMiddleGas,
          CommandId::ToolTypicalConcentration, CommandId::ToolThreshold1, CommandId::ToolThreshold2,
          CommandId::ToolInsertActive, CommandId::SoftwareInfoActive, CommandId::SoftwareInfoAll})
        button(id);
    toolBar_->addSeparator();
    for (CommandId id : {CommandId::ToolChangeNumber, CommandId::ToolChangeSpeed}) button(id);
    // The two combo boxes go here (createCombos), then "about".
}

void MainWindow::createCombos() {
    portCombo_ = new QComboBox;
    portCombo_->setObjectName(QStringLiteral("portCombo"));
    portCombo_->setMinimumWidth(80);
    portCombo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    portCombo_->setMaxVisibleItems(6);
    toolBar_->addWidget(portCombo_);
    router_->bindWidget(portCombo_, CommandId::PortCombo);
    connect(portCombo_, &QComboBox::activated, this, [this](int index) { selectPort(index); });

    baudCombo_ = new QComboBox;
    baudCombo_->setObjectName(QStringLiteral("baudCombo"));
    baudCombo_->setMinimumWidth(70);
    baudCombo_->setMaxVisibleItems(6);
    toolBar_->addWidget(baudCombo_);
    router_->bindWidget(baudCombo_, CommandId::BaudCombo);
    connect(baudCombo_, &QComboBox::activated, this, [this](int index) { setBaud(index); });
    for (unsigned rate : kBaudRates) baudCombo_->addItem(QString::number(rate));
    baudCombo_->setCurrentIndex(3);

    QAction* about =
        toolBar_->addAction(toolIcon(CommandId::ToolAbout), commandToolTip(CommandId::ToolAbout));
    about->setStatusTip(commandPrompt(CommandId::ToolAbout));
    router_->bind(about, CommandId::ToolAbout);
}

void MainWindow::createStatusBars() {
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
    setPaneText(0, QString::fromUtf8(kReady));
    setPaneText(1, QStringLiteral("----"));
    setPaneText(2, QStringLiteral("9600"));

    timerBar_ = new QStatusBar;
    timerBar_->setObjectName(QStringLiteral("timerBar"));
    timerBar_->setSizeGripEnabled(false);
    for (int i = 0; i < 2; ++i) {
        timerPanes_[i] = new QLabel;
        timerPanes_[i]->setObjectName(QStringLiteral("timerPane%1").arg(i));
        timerBar_->addWidget(timerPanes_[i], i == 0 ? 1 : 0);
    }
}

void MainWindow::setPaneText(int index, const QString& text) {
    if (index < 0 || index > 5) return;
    panes_[index]->setText(text);
    fitPane(index);
}

void MainWindow::fitPane(int index) {
    if (index == 0) return;
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

void MainWindow::showGasPanes() {
    setPaneText(3, station_.gasState().calGasName);
    setPaneText(4, QString::asprintf("%.2f", station_.block().maxGas()));
    setPaneText(5, QString::asprintf("%.2f", station_.block().midGas()));
}

void MainWindow::showFolderPane(int period) {
    const int reserved = 7 * int(timerText(period).size());
    const int w = centralWidget() ? centralWidget()->width() : width();
    if (w > reserved) {
        timerPanes_[0]->setMinimumWidth(0);
        timerPanes_[0]->setMaximumWidth(w - reserved);
    }
    timerPanes_[0]->setText(station_.recordFolder() + QStringLiteral("*.zta"));
    timerPanes_[0]->setToolTip(timerPanes_[0]->text());
}

void MainWindow::showTimerPane(int period) {
    const QString text = timerText(period);
    const int reserved = 7 * int(text.size());
    const int w = centralWidget() ? centralWidget()->width() : width();
    if (w > reserved) {
        const int textWidth = timerPanes_[1]->fontMetrics().horizontalAdvance(text) + 8;
        timerPanes_[1]->setMinimumWidth(std::max(reserved, textWidth));
    }
    timerPanes_[1]->setText(text);
    shownTimerPeriod_ = period;
}

void MainWindow::refreshTimerFlag() { anyTimerRunning_ = station_.block().runningTimers() != 0; }

void MainWindow::showActiveViewTimer() {
    AnalyzerViewInterface* view = activeView();
    activeTimerPeriod_ = view ? view->timerPeriod() : 0;
    // A new view may sit where a closed one was: the shown period is compared as well.
    if (view != lastActiveView_ || activeTimerPeriod_ != shownTimerPeriod_) {
        showFolderPane(activeTimerPeriod_);
        showTimerPane(activeTimerPeriod_);
        lastActiveView_ = view;
    }
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!isMinimized()) {
        AnalyzerViewInterface* view = activeView();
        activeTimerPeriod_ = view ? view->timerPeriod() : 0;
        showFolderPane(activeTimerPeriod_);
        showTimerPane(activeTimerPeriod_);
    }
    if (portMenuPending_) buildPortMenu();
}

// ---------------------------------------------------------------- ports and rates

void MainWindow::enumeratePorts() {
    QStringList names;
    for (const QString& p : options_.extraPorts)
        if (!p.isEmpty() && !names.contains(p)) names << p;
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
            if (!p.isEmpty()) names << p;
    }

    portCount_ = int(names.size());
    if (portCount_ > kMaxPorts) {
        dialogs().warning(
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
                setPortName(portNames_[0]);
            }
        }
    } else {
        dialogs().warning(QStringLiteral("Ни одного COM порта не обнаружено"),
                          QString::fromUtf8(kPortsCaption), this);
        portCombo_->addItem(QStringLiteral("NoPort"));
        portCombo_->setCurrentIndex(0);
        portCount_ = -1;
        noPorts_ = true;
    }
}

void MainWindow::buildPortMenu() {
    portMenu_->clear();
    for (int i = 0; i < portCount_; ++i) {
        QAction* a = portMenu_->addAction(portNames_[i]);
        a->setCheckable(true);
        router_->bind(a, portCommand(i));
    }
    portMenuPending_ = false;
    router_->refresh();
}

void MainWindow::selectPort(int index) {
    if (noPorts_) return;  // "NoPort" names nothing to open
    for (int i = 0; i < portCombo_->count(); ++i) {
        if (i != index) continue;
        selectedPort_ = i;
        portCombo_->setCurrentIndex(i);
        setPortName(portCombo_->itemText(i));
    }
    router_->refresh();
}

void MainWindow::setPortName(const QString& name) {
    station_.block().setPortName(zta::storedPortName(name.toStdString()));
    setPaneText(1, name);
}

void MainWindow::setBaud(int position) {
    if (position < 0 || position > 4) return;
    for (int i = 0; i < 5; ++i) baudChecked_[i] = i == position;
    station_.block().setBaudRate(kBaudRates[position]);
    baudCombo_->setCurrentIndex(position);
    setPaneText(2, QString::number(kBaudRates[position]));
    router_->refresh();
}

// ---------------------------------------------------------------- calibration gas

void MainWindow::applyGasState(const zta::GasState& state) {
    station_.applyGasState(state);  // the panes and commands follow its signal
}

// ---------------------------------------------------------------- polling

bool MainWindow::isSearching() const { return search_ && search_->isRunning(); }

void MainWindow::connectLine() {
    if (noPorts_) {
        dialogs().information(QStringLiteral("Нет найденных COM портов"), QStringLiteral("Связь"),
                              this);
        return;
    }
    if (isSearching()) {
        dialogs().information(QStringLiteral("Остановите поиск"), QStringLiteral("Работа"), this);
        return;
    }
    if (isPolling()) {
        dialogs().information(QStringLiteral("Опрос приборов."), QStringLiteral("Работа"), this);
        return;
    }
    auto run = std::make_unique<PollRun>(*this, ++lastRun_);
    zta::PollTiming timing = station_.pollTiming();
    timing.line.observer = &busTools_->ring();
    run->thread =
        std::make_unique<zta::PollThread>(station_.block(), *run, timing, station_.portFactory());
    if (!run->thread->start()) return;
    pollThread = std::move(run);
    setPaneText(0, QString::fromUtf8(kPolling));
    router_->refresh();
}

bool MainWindow::stopPollThread() {
    // A request served during the wait may open a box, whose event loop can ask for another
    // stop (a posted baud notice, a line report): that one returns at once instead of waiting
    // for a thread that waits for the box.
    if (stoppingPoll_) return false;
    stoppingPoll_ = true;
    const bool ended = pollThread->stop(kStopWaitMs, true);
    stoppingPoll_ = false;
    return ended;
}

void MainWindow::disconnectLine() {
    if (!pollThread) return;
    if (!stopPollThread())
        return;  // still polling, with the stop request set; a later Disconnect waits again
    pollThread.reset();
    broadcastToViews(NoticeDisconnected);
    setPaneText(0, QString::fromUtf8(kReady));
    router_->refresh();
}

void MainWindow::onLineFailed(int run) {
    if (!pollThread || pollThread->id() != run || stoppingPoll_)
        return;  // over already, or being stopped by an outer wait
    // The thread ends right after its report; the windows keep their readings.
    if (!stopPollThread()) abandoned_.push_back(std::move(pollThread));
    pollThread.reset();
    setPaneText(0, QString::fromUtf8(kReady));
    router_->refresh();
}

DeviceHost& MainWindow::deviceHost() { return *host_; }

bool MainWindow::switchBaudAndReconnect(unsigned baud) {
    disconnectLine();
    const int position = baudPosition(baud);
    if (position >= 0) setBaud(position);
    connectLine();
    return true;
}

// ---------------------------------------------------------------- analyzer windows

QMdiSubWindow* MainWindow::openNewDocument() {
    QMdiSubWindow* child = factory_.openWindow(*host_, *mdi_);
    router_->refresh();
    busTools_->windowsChanged();
    return child;
}

AnalyzerViewInterface* MainWindow::findView(zta::ViewId id) const {
    if (id == 0) return nullptr;
    for (QMdiSubWindow* child : mdi_->subWindowList())
        if (AnalyzerViewInterface* view = factory_.viewOf(child); view && viewIdOf(view) == id)
            return view;
    return nullptr;
}

AnalyzerViewInterface* MainWindow::viewOfSlot(int slot) const {
    return findView(station_.block().view(slot));
}

AnalyzerViewInterface* MainWindow::activeView() const {
    QMdiSubWindow* child = mdi_->currentSubWindow();
    return child ? factory_.viewOf(child) : nullptr;
}

void MainWindow::broadcastToViews(int code, int value) {
    const int count = station_.block().windowCount();
    std::vector<AnalyzerViewInterface*> views;
    for (int slot = 0; slot < count; ++slot)
        if (AnalyzerViewInterface* v = viewOfSlot(slot)) views.push_back(v);
    // Resolved first: a view's handler may open a box, and the list must not shift under us.
    for (AnalyzerViewInterface* v : views)
        if (findView(viewIdOf(v))) v->onViewNotice(code, value);
}

void MainWindow::tileWindows() {
    const QList<QMdiSubWindow*> children = mdi_->subWindowList();
    if (children.isEmpty()) return;
    const QSize area = mdi_->viewport()->size();
    const int h = std::max(1, area.height() / int(children.size()));
    int y = 0;
    for (QMdiSubWindow* child : children) {
        if (child->isMinimized() || child->isMaximized()) child->showNormal();
        child->setGeometry(0, y, area.width(), h);
        y += h;
    }
}

void MainWindow::addFrameTarget(CommandTarget* target) { frameTargets_.push_back(target); }

std::vector<CommandTarget*> MainWindow::route() const {
    std::vector<CommandTarget*> route;
    if (QMdiSubWindow* child = mdi_->currentSubWindow()) route = factory_.route(child);
    route.push_back(const_cast<MainWindow*>(this));
    for (CommandTarget* t : frameTargets_) route.push_back(t);
    if (app_) route.push_back(app_);
    return route;
}

// ---------------------------------------------------------------- commands

void MainWindow::onRecordFolderCommand() {
    const std::optional<QString> chosen = dialogs().askFolder(station_.recordFolder(), this);
    if (chosen && !chosen->isEmpty()) chooseRecordFolder(*chosen);
}

void MainWindow::chooseRecordFolder(const QString& folder) { station_.setRecordFolder(folder); }

void MainWindow::onTimerAll() {
    if (!isPolling()) {
        dialogs().information(
            QStringLiteral("Установка таймера для группы приборов не может быть произведена.\r\n"
                           "    \t         Проверьте подключение приборов. "),
            QStringLiteral("Ошибка"), this);
        return;
    }
    if (station_.block().runningTimers() != 0) return;
    const std::optional<int> period = dialogs().askTimerPeriod(-1, this);
    if (period && *period != 0) broadcastToViews(NoticeStartTimer, *period);
}

void MainWindow::onInsertAll() {
    const std::optional<QString> text = dialogs().askNote(-1, this);
    if (!text) return;
    station_.block().setInsertText(text->toStdString());
    broadcastToViews(NoticeInsertText);
}

int MainWindow::execModal(QDialog& dialog) { return dialogs().run(dialog); }

void MainWindow::onConcentration() {
    GasParametersDialog& dialog = *concentrationDialog_;
    dialog.setMaximum(station_.block().maxGas());
    dialog.setMiddle(station_.block().midGas());
    dialog.setGasMarks(station_.gasState().gasMarks);
    zta::GasState state = station_.gasState();
    if (execModal(dialog) == QDialog::Accepted) {
        state.maxGas = dialog.maximum();
        state.midGas = dialog.middle();
    }
    applyGasState(state);
}

void MainWindow::onConnectedDevicesGas() {
    std::vector<zta::AnalyzerGasParams> analyzers;
    const int count = station_.block().windowCount();
    for (int slot = 0; slot < count; ++slot) {
        analyzers.push_back(zta::gasParamsOf(station_.block().snapshot(slot)));
    }
    ConnectedGasParametersDialog& dialog = *devicesGasDialog_;
    dialog.setAnalyzers(analyzers);
    if (execModal(dialog) != QDialog::Accepted) return;
    zta::GasState state = station_.gasState();
    if (zta::applyConnectedDevicesChoice(state, dialog.chosenGasName(), dialog.chosenMaximum(),
                                         dialog.chosenMiddle()))
        applyGasState(state);
}

bool MainWindow::onCommand(CommandId id) {
    if (id >= CommandId::PortFirst && id <= CommandId::PortLast) {
        selectPort(int(id) - int(CommandId::PortFirst));
        return true;
    }
    if (id >= CommandId::Baud1200 && id <= CommandId::Baud19200) {
        setBaud(int(id) - int(CommandId::Baud1200));
        return true;
    }
    if (const zta::GasInfo* gas = zta::gasByMenuId(int(id))) {
        zta::GasState state = station_.gasState();
        zta::selectGas(state, *gas);
        applyGasState(state);
        return true;
    }
    switch (id) {
        case CommandId::Concentration:
            onConcentration();
            return true;
        case CommandId::ConnectedDevicesGas:
            onConnectedDevicesGas();
            return true;
        case CommandId::Connect:
        case CommandId::ToolConnect:
            connectLine();
            return true;
        case CommandId::Disconnect:
        case CommandId::ToolDisconnect:
            disconnectLine();
            return true;
        case CommandId::TimerAll:
            onTimerAll();
            return true;
        case CommandId::TimerOffAll:
            broadcastToViews(NoticeStopTimer);
            return true;
        case CommandId::InsertAll:
            onInsertAll();
            return true;
        case CommandId::SoftwareInfoActive:
            if (AnalyzerViewInterface* v = activeView()) v->onViewNotice(NoticeShowSoftwareInfo, 0);
            return true;
        case CommandId::SoftwareInfoAll:
            station_.block().setShowSoftwareInfo(station_.block().showSoftwareInfo() ? 0 : 1);
            broadcastToViews(NoticeSoftwareInfoToggled);
            return true;
        case CommandId::ToolNewDocument:
            openNewDocument();
            return true;
        case CommandId::RecordFolder:
        case CommandId::ToolRecordFolder:
            onRecordFolderCommand();
            return true;
        case CommandId::ViewToolBar:
            toolBar_->setVisible(toolBar_->isHidden());
            return true;
        case CommandId::ViewStatusBar:
            statusBar_->setVisible(statusBar_->isHidden());
            return true;
        case CommandId::WindowCascade:
            mdi_->cascadeSubWindows();
            return true;
        case CommandId::WindowTile:
            tileWindows();
            return true;
        case CommandId::CsvLog:
            station_.csvLog().setEnabled(!station_.csvLog().enabled());
            return true;
        case CommandId::SaveBench:
        case CommandId::OpenBench: {
            const bool save = id == CommandId::SaveBench;
            const std::optional<QString> path = askBenchFile(this, save);
            if (path && !path->isEmpty()) {
                if (save)
                    saveBench(*path);
                else
                    openBench(*path);
            }
            return true;
        }
        default:
            return false;
    }
}

bool MainWindow::saveBench(const QString& path) {
    QString error;
    if (zta::writeBenchFile(path, zta::captureBench(*this), &error)) return true;
    dialogs().error(error, QStringLiteral("Стенд"), this);
    return false;
}

std::optional<zta::BenchSettings> MainWindow::openBench(const QString& path) {
    QString error;
    const auto bench = zta::readBenchFile(path, &error);
    if (!bench) {
        dialogs().error(error, QStringLiteral("Стенд"), this);
        return std::nullopt;
    }
    zta::applyBench(*this, *bench);
    return bench;
}

bool MainWindow::onUpdateCommand(CommandId id, CommandState& st) {
    const bool polling = isPolling();
    const bool searching = isSearching();
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
    if (isGasItem(id)) {
        for (int i = 0; i < kGasCount; ++i)
            if (kGasMenuIds[i] == id) st.checked = station_.gasState().gasMarks[i];
        return true;
    }
    switch (id) {
        case CommandId::Connect:
        case CommandId::ToolConnect:
        case CommandId::Search:
        case CommandId::ToolSearch:
        case CommandId::PortCombo:
        case CommandId::BaudCombo:
            st.enabled = idle;
            return true;
        case CommandId::Disconnect:
        case CommandId::ToolDisconnect:
            st.enabled = polling && !searching;
            return true;
        case CommandId::StopSearch:
        case CommandId::ToolStopSearch:
            st.enabled = searching && !polling;
            return true;
        case CommandId::Concentration:
            st.enabled = station_.gasState().gasMenuChoice;
            return true;
        case CommandId::ConnectedDevicesGas:
            st.enabled = polling;
            return true;
        case CommandId::TimerAll:
            st.enabled = !anyTimerRunning_;
            return true;
        case CommandId::TimerOffAll:
            st.enabled = anyTimerRunning_;
            return true;
        case CommandId::SoftwareInfoAll:
            st.checked = station_.block().showSoftwareInfo() != 0;
            return true;
        case CommandId::CsvLog:
            st.checked = station_.csvLog().enabled();
            return true;
        case CommandId::SaveBench:
        case CommandId::OpenBench:
            st.enabled = !searching;
            return true;
        case CommandId::ViewToolBar:
            st.checked = !toolBar_->isHidden();
            return true;
        case CommandId::ViewStatusBar:
            st.checked = !statusBar_->isHidden();
            return true;
        case CommandId::SoftwareInfoActive:
        case CommandId::InsertAll:
        case CommandId::ToolNewDocument:
        case CommandId::RecordFolder:
        case CommandId::ToolRecordFolder:
        case CommandId::WindowCascade:
        case CommandId::WindowTile:
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------- closing

void MainWindow::closeEvent(QCloseEvent* event) {
    if (stoppingPoll_) {
        event->ignore();  // asked from inside a wait for the poll thread; close again later
        return;
    }
    if (pollThread && stopPollThread()) pollThread.reset();
    if (search_ && search_->isRunning()) search_->stopForClose(kStopWaitMs);
    station_.writeCalData();
    mdi_->closeAllSubWindows();
    event->accept();
}

}  // namespace zta
