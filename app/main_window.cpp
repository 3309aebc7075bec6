// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

#include "app/cal_data_file.h"
#include "app/main_menus.h"
#include "app/station_bridge.h"
#include "app/status_panes.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/analyzer_window_factory.h"
#include "device/device_host.h"
#include "device/record_file.h"
#include "gas/gas_check.h"
#include "link/net_address.h"
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

int baudPosition(unsigned baud) {
    const auto rate = std::find(std::begin(kBaudRates), std::end(kBaudRates), baud);
    return rate == std::end(kBaudRates) ? -1 : int(rate - std::begin(kBaudRates));
}

}  // namespace

QRect placedInside(const QRect& wanted, const QRect& screen) {
    if (screen.isEmpty()) return wanted;
    QRect r(wanted.topLeft(), wanted.size().boundedTo(screen.size()));
    r.moveLeft(std::clamp(r.left(), screen.left(), screen.right() + 1 - r.width()));
    r.moveTop(std::clamp(r.top(), screen.top(), screen.bottom() + 1 - r.height()));
    return r;
}

// The main window as analyzer windows see it.
class MainWindow::WindowHost : public DeviceHost {
  public:
    explicit WindowHost(MainWindow& frame) : frame_(frame) {}

    zta::Line& line() override { return frame_.station().line(); }
    zta::CommandService& commands() override { return frame_.station().core().commands(); }
    AnalyzerViews& views() override { return frame_.views(); }
    WindowsState& windows() override { return frame_.windows(); }
    bool isPolling() const override { return frame_.station().isPolling(); }
    QString recordFolder() const override { return frame_.station().recordFolder(); }
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
    bool confirmCalibrationGas(int slot, QWidget* owner) override {
        const std::optional<QString> question = frame_.station().calibrationGasQuestion(slot);
        if (!question) return true;
        if (!dialogs().question(*question, QString::fromUtf8(kGasMismatchCaption), owner))
            return false;
        frame_.station().auditEvent(QStringLiteral("газ не совпадает: продолжено"), slot);
        return true;
    }
    RecordWriter& recordWriter() override { return frame_.station().recordWriter(); }
    CsvLog& csvLog() override { return frame_.station().csvLog(); }

  private:
    MainWindow& frame_;
};

MainWindow::MainWindow(CommandTarget* application, Station& station,
                       AnalyzerWindowFactory& windowFactory, StationOptions options,
                       QWidget* parent)
    : QMainWindow(parent),
      application_(application),
      factory_(windowFactory),
      options_(std::move(options)),
      station_(station),
      views_(std::make_unique<AnalyzerViews>(station.core())),
      host_(std::make_unique<WindowHost>(*this)) {
    setWindowTitle(QStringLiteral("Программа проверки приборов ZTA-K7."));
    setWindowIcon(stationIcon());
    station_.recordWriter().setReport([this](const QString& text) {
        dialogs().notify(text, QStringLiteral("Запись"), Dialogs::Icon::Error, this);
    });
    station_.auditLog().setReport([this](const QString& text) {
        dialogs().notify(text, QStringLiteral("Журнал команд"), Dialogs::Icon::Error, this);
    });

    router_ = new CommandRouter(this);
    router_->setRoute([this] { return route(); });
    station_.bridge().setErrorOwner(this);
    connect(&station_, &Station::readingArrived, this, [this] { emit analyzerDataChanged(); });

    mdi_ = new QMdiArea;
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { showActiveViewTimer(); });

    portMenu_ = buildMenuBar(menuBar(), *router_);
    toolBar_ = buildToolBar(this, *router_);
    panes_ = std::make_unique<StatusPanes>(*this);

    // The second status bar sits right above the main one, under the analyzer windows.
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(mdi_, 1);
    layout->addWidget(panes_->timerBar());
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
    connect(&station_, &Station::portChanged, this, &MainWindow::showPort);
    connect(&station_, &Station::baudChanged, this, &MainWindow::showBaud);
    connect(&station_, &Station::pollingChanged, this, [this] {
        showActivity();
        router_->refresh();
    });
    connect(&station_, &Station::lineStateChanged, this, &MainWindow::showActivity);
    showFolderPane(activeTimerPeriod_);
    showTimerPane(activeTimerPeriod_);

    const LineBoxes boxes = addLineBoxes(toolBar_, *router_);
    portCombo_ = boxes.port;
    baudCombo_ = boxes.baud;
    connect(portCombo_, &QComboBox::activated, &station_, &Station::selectPort);
    connect(portCombo_->lineEdit(), &QLineEdit::editingFinished, this, [this] {
        const QString typed = portCombo_->currentText().trimmed();
        if (!typed.isEmpty() && typed != station_.portName()) station_.setPortName(typed);
    });
    connect(baudCombo_, &QComboBox::activated, &station_, &Station::setBaud);
    const zta::CalReadResult calData = station_.readCalData();
    if (calData.status == zta::CalReadStatus::Malformed)
        dialogs().warning(calData.warning, QString(), this);
    showGasPanes();
    listPorts();
    resize(900, 600);
}

MainWindow::~MainWindow() {
    // The port box loses its focus while the widgets go: its "editing finished" must not reach
    // a main window that is no longer one.
    portCombo_->lineEdit()->disconnect(this);
    station_.shutDown();
    // Each closing document gives its slot back to the station's block; a window closed but
    // not yet deleted is no longer listed by the area.
    const QList<QMdiSubWindow*> children = mdi_->findChildren<QMdiSubWindow*>();
    for (QMdiSubWindow* child : children) delete child;
}

// ---------------------------------------------------------------- status bars

void MainWindow::showActivity() {
    switch (station_.lineState()) {
        case LineState::Idle:
            setPaneText(0, QString::fromUtf8(kReady));
            break;
        case LineState::Polling:
            setPaneText(0, QString::fromUtf8(kPolling));
            break;
        case LineState::Lost:
            setPaneText(0, lineStateText(LineState::Lost, station_.portName()));
            break;
    }
}

void MainWindow::showGasPanes() {
    setPaneText(3, station_.gasState().calGasName);
    setPaneText(4, QString::asprintf("%.2f", station_.block().maxGas()));
    setPaneText(5, QString::asprintf("%.2f", station_.block().midGas()));
}

int MainWindow::timerBarWidth() const {
    return centralWidget() ? centralWidget()->width() : width();
}

void MainWindow::showFolderPane(int period) {
    panes_->showFolder(station_.recordFolder(), period, timerBarWidth());
}

void MainWindow::showTimerPane(int period) {
    panes_->showTimer(period, timerBarWidth());
    shownTimerPeriod_ = period;
}

void MainWindow::refreshTimerFlag() { anyTimerRunning_ = windows_.runningTimers != 0; }

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

void MainWindow::listPorts() {
    const QString warning = station_.setPorts(listedPorts(options_));
    if (!warning.isEmpty()) dialogs().warning(warning, QString::fromUtf8(kPortsCaption), this);
    if (station_.noPorts()) {
        portCombo_->addItem(QStringLiteral("NoPort"));
    } else {
        portCombo_->addItems(station_.portNames());
        showPort();
    }
    portCombo_->setCurrentIndex(0);
}

void MainWindow::buildPortMenu() {
    portMenu_->clear();
    for (int i = 0; i < station_.portCount(); ++i) {
        QAction* a = portMenu_->addAction(station_.portNames()[i]);
        a->setCheckable(true);
        router_->bind(a, portCommand(i));
    }
    portMenuPending_ = false;
    router_->refresh();
}

void MainWindow::showPort() {
    if (station_.selectedPort() >= 0)
        portCombo_->setCurrentIndex(station_.selectedPort());
    else if (!station_.portName().isEmpty())
        portCombo_->setEditText(station_.portName());
    setPaneText(1, station_.portName());
    router_->refresh();
}

void MainWindow::showBaud() {
    baudCombo_->setCurrentIndex(station_.baudPosition());
    setPaneText(2, QString::number(kBaudRates[station_.baudPosition()]));
    router_->refresh();
}

// ---------------------------------------------------------------- polling

void MainWindow::connectLine() {
    switch (station_.connectLine()) {
        case LineRefusal::NoPorts:
            dialogs().information(QStringLiteral("Нет найденных COM портов"),
                                  QStringLiteral("Связь"), this);
            break;
        case LineRefusal::Searching:
            dialogs().information(QStringLiteral("Остановите поиск"), QStringLiteral("Работа"),
                                  this);
            break;
        case LineRefusal::Polling:
            dialogs().information(QStringLiteral("Опрос приборов."), QStringLiteral("Работа"),
                                  this);
            break;
        case LineRefusal::NotStarted:
        case LineRefusal::None:
            break;
    }
}

void MainWindow::disconnectLine() { station_.disconnectLine(); }

DeviceHost& MainWindow::deviceHost() { return *host_; }

bool MainWindow::switchBaudAndReconnect(unsigned baud) {
    if (!zta::lineRateSettable(station_.portName().toStdString())) {
        dialogs().information(gatewayRateText(station_.portName()), QStringLiteral("Связь"), this);
        return false;
    }
    disconnectLine();
    const int position = baudPosition(baud);
    if (position >= 0) station_.setBaud(position);
    connectLine();
    return true;
}

// ---------------------------------------------------------------- analyzer windows

QMdiSubWindow* MainWindow::openNewDocument() {
    QMdiSubWindow* child = factory_.openWindow(*host_, *mdi_);
    router_->refresh();
    emit windowsChanged();
    return child;
}

QMdiSubWindow* MainWindow::openWindowFor(int networkNumber) {
    QMdiSubWindow* child = openNewDocument();
    if (!child) return nullptr;
    auto* analyzer = qobject_cast<AnalyzerSubWindow*>(child);
    if (analyzer && analyzer->view())
        analyzer->view()->numberField()->setText(QString::number(networkNumber));
    else if (AnalyzerViewInterface* view = factory_.viewOf(child))
        // a window without the form (tests): the number goes to its analyzer directly
        station_.line().setAddress(view->analyzerId(), networkNumber);
    return child;
}

AnalyzerViewInterface* MainWindow::findView(zta::AnalyzerId id) const {
    if (id == 0) return nullptr;
    for (QMdiSubWindow* child : mdi_->subWindowList())
        if (AnalyzerViewInterface* view = factory_.viewOf(child); view && analyzerIdOf(view) == id)
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

void MainWindow::broadcastToViews(const std::function<void(AnalyzerViewInterface&)>& tell) {
    const int count = station_.block().windowCount();
    std::vector<AnalyzerViewInterface*> views;
    for (int slot = 0; slot < count; ++slot)
        if (AnalyzerViewInterface* v = viewOfSlot(slot)) views.push_back(v);
    // Resolved first: a view's handler may open a box, and the list must not shift under us.
    for (AnalyzerViewInterface* v : views)
        if (findView(analyzerIdOf(v))) tell(*v);
}

void MainWindow::tileWindows() {
    const QList<QMdiSubWindow*> children = mdi_->subWindowList();
    if (children.isEmpty()) return;
    const QSize area = mdi_->viewport()->size();
    const int share = area.height() / int(children.size());
    int y = 0;
    for (QMdiSubWindow* child : children) {
        if (child->isMinimized() || child->isMaximized()) child->showNormal();
        const QSize form = child->minimumSizeHint();
        const int h = std::max(share, form.height());
        child->setGeometry(0, y, std::max(area.width(), form.width()), h);
        y += h;
    }
}

void MainWindow::showWindowInView(QMdiSubWindow* child) {
    if (!child) return;
    if (child->isMinimized()) child->showNormal();
    if (!child->isMaximized()) {
        // A window tiled or restored smaller than its form comes back whole.
        const QSize size = child->size().expandedTo(child->sizeHint());
        const QRect view = mdi_->viewport()->rect();
        // Larger than the area: its top left corner in sight, the rest scrolls.
        child->setGeometry(QRect(placedInside(QRect(child->pos(), size), view).topLeft(), size));
    }
    mdi_->setActiveSubWindow(child);
    child->raise();
}

void MainWindow::keepInsideScreen() {
    if (isMaximized() || isFullScreen()) return;
    QScreen* here = screen();
    if (!here) return;
    const QRect frame = frameGeometry();
    const QRect fitted = placedInside(frame, here->availableGeometry());
    if (fitted == frame) return;
    const QRect inner = geometry();
    setGeometry(fitted.adjusted(inner.left() - frame.left(), inner.top() - frame.top(),
                                inner.right() - frame.right(), inner.bottom() - frame.bottom()));
}

void MainWindow::addToolWindow(QWidget* window) {
    std::erase_if(toolWindows_, [](const QPointer<QWidget>& w) { return w.isNull(); });
    if (std::find(toolWindows_.begin(), toolWindows_.end(), window) == toolWindows_.end())
        toolWindows_.emplace_back(window);
}

void MainWindow::addFrameTarget(CommandTarget* target) { frameTargets_.push_back(target); }

std::vector<CommandTarget*> MainWindow::route() const {
    std::vector<CommandTarget*> route;
    if (QMdiSubWindow* child = mdi_->currentSubWindow()) route = factory_.route(child);
    route.push_back(const_cast<MainWindow*>(this));
    for (CommandTarget* t : frameTargets_) route.push_back(t);
    if (application_) route.push_back(application_);
    return route;
}

// ---------------------------------------------------------------- closing

void MainWindow::closeEvent(QCloseEvent* event) {
    if (station_.isStopping()) {
        event->ignore();  // asked from inside a wait for the poll thread; close again later
        return;
    }
    station_.stopForClose();
    station_.writeCalData();
    mdi_->closeAllSubWindows();
    // A tool window has no parent: left open, it would keep the program running.
    for (const QPointer<QWidget>& w : toolWindows_)
        if (w) w->close();
    event->accept();
}

}  // namespace zta
