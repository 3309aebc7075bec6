// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bus_tools.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>

#include "app/main_window.h"
#include "device/analyzer_document.h"
#include "device/analyzer_view.h"
#include "device/analyzer_window_factory.h"
#include "device/trend_view.h"
#include "search/scan.h"
#include "ui/bus_overview_dock.h"
#include "ui/traffic_monitor.h"

namespace zta {

namespace {

// The direction in which a dock in `area` has its size.
Qt::Orientation across(Qt::DockWidgetArea area) {
    return area == Qt::LeftDockWidgetArea || area == Qt::RightDockWidgetArea ? Qt::Horizontal
                                                                             : Qt::Vertical;
}

}  // namespace

BusTools::BusTools(MainWindow& frame)
    : QObject(&frame),
      frame_(frame),
      overview_(new BusOverviewDock(&frame)),
      trend_(new TrendView),
      searchProgress_(new QProgressBar) {
    frame_.addDockWidget(Qt::BottomDockWidgetArea, overview_);
    overview_->hide();
    overview_->onActivate = [this](AnalyzerId view) { activate(view); };
    overview_->onOpenRest = [this] { openFoundRest(); };
    overview_->setDetail(trend_);
    overview_->onSelect = [this](AnalyzerId view) { showTrendOf(view); };
    overview_->model().setSource([this] {
        std::vector<OverviewRow> rows;
        PollBlock& block = frame_.block();
        const bool polling = frame_.station().isPolling();
        const int count = block.windowCount();
        rows.reserve(count + foundRest_.size());
        for (int i = 0; i < count; ++i) {
            OverviewRow row{block.view(i), block.snapshot(i), polling};
            if (row.view) rows.push_back(std::move(row));
        }
        for (int number : foundRest_) {
            OverviewRow row;
            row.slot.address = number;
            row.slot.errorCount = kLostContactLimit;
            rows.push_back(std::move(row));
        }
        return rows;
    });

    searchProgress_->setObjectName(QStringLiteral("searchProgress"));
    searchProgress_->setRange(0, kSearchNumbers - 1);
    searchProgress_->setMaximumWidth(160);
    searchProgress_->setTextVisible(false);
    searchProgress_->hide();
    frame_.statusBar()->insertWidget(1, searchProgress_);
    addMenuItems();

    Station& station = frame_.station();
    station.setFrameObserver(&ring_);
    // Cheap: the overview redraws a few times a second.
    auto markDirty = [this] { overview_->model().markDirty(); };
    connect(&frame_, &MainWindow::analyzerDataChanged, this, markDirty);
    connect(&station, &Station::commandChanged, this, markDirty);
    // The dock's title names the line and its state: it costs the table no row.
    auto showLine = [this] {
        const Station& st = frame_.station();
        overview_->setWindowTitle(QStringLiteral("Обзор шины — ") +
                                  lineStateText(st.lineState(), st.portName()));
        overview_->model().markDirty();
    };
    // The line's own counts move with every turn: the overview follows them once a second.
    auto showLineHealth = [this] {
        const Station& st = frame_.station();
        overview_->setLineHealth(st.lineState() == LineState::Idle
                                     ? QString()
                                     : lineHealthText(st.block().lineHealth()));
    };
    auto* lineTick = new QTimer(this);
    connect(lineTick, &QTimer::timeout, this, showLineHealth);
    connect(&station, &Station::pollingChanged, this, showLineHealth);
    lineTick->start(1000);
    connect(&station, &Station::lineStateChanged, this, showLine);
    connect(&station, &Station::pollingChanged, this, showLine);
    connect(&station, &Station::portChanged, this, showLine);
    showLine();
    connect(&frame_, &MainWindow::windowsChanged, this, &BusTools::windowsChanged);
}

BusTools::~BusTools() {
    if (monitor_) delete monitor_.data();
}

void BusTools::addMenuItems() {
    QMenu* link = nullptr;
    for (QAction* a : frame_.menuBar()->actions())
        if (a->menu() && a->text() == QStringLiteral("Связь")) link = a->menu();
    if (!link) return;
    link->addSeparator();
    auto item = [&](const QString& text, CommandId id, bool checkable) {
        QAction* a = link->addAction(text);
        a->setCheckable(checkable);
        frame_.router().bind(a, id);
    };
    item(QStringLiteral("Быстрый опрос"), CommandId::FastPolling, true);
    item(QStringLiteral("Обзор шины"), CommandId::BusOverview, true);
    item(QStringLiteral("Обмен по линии"), CommandId::TrafficMonitor, false);
    item(QStringLiteral("Открыть остальные найденные"), CommandId::OpenFoundRest, false);
}

bool BusTools::onCommand(CommandId id) {
    switch (id) {
        case CommandId::FastPolling:
            frame_.block().setFastPolling(!frame_.block().fastPolling());
            return true;
        case CommandId::BusOverview:
            if (overview_->isVisible())
                overview_->hide();
            else
                showOverview();
            return true;
        case CommandId::TrafficMonitor:
            showMonitor();
            return true;
        case CommandId::OpenFoundRest:
            openFoundRest();
            return true;
        default:
            return false;
    }
}

bool BusTools::onUpdateCommand(CommandId id, CommandState& state) {
    switch (id) {
        case CommandId::FastPolling:
            state.checked = frame_.block().fastPolling();
            return true;
        case CommandId::BusOverview:
            state.checked = overview_->isVisible();
            return true;
        case CommandId::TrafficMonitor:
            return true;
        case CommandId::OpenFoundRest:
            state.enabled = !foundRest_.empty() && !frame_.station().isSearching();
            return true;
        default:
            return false;
    }
}

void BusTools::showMonitor() {
    if (!monitor_) {
        monitor_ = new TrafficMonitor(ring_);
        monitor_->setAttribute(Qt::WA_DeleteOnClose);
        monitor_->setWindowIcon(frame_.windowIcon());
        frame_.addToolWindow(monitor_);
    }
    monitor_->show();
    monitor_->raise();
    monitor_->activateWindow();
}

void BusTools::showOverview() {
    overview_->show();
    overview_->model().refresh();
    // Fifty rows and the header: the analyzer windows keep what is left (they can be
    // minimized and are brought up from the table).
    QCoreApplication::processEvents();  // the dock takes its place before it is measured
    const int rows = std::max(overview_->model().rowCount(), 10);
    QTableView* table = overview_->table();
    const int chrome = overview_->height() - table->viewport()->height();
    const int want = table->verticalHeader()->defaultSectionSize() * rows + chrome + 4;
    // What the dock and the analyzer windows share. Past ten rows the windows keep a strip (for
    // their icons, or to scroll), so that a search's ten windows and forty found analyzers
    // show whole; a few rows leave the windows most of the room.
    const int shared = frame_.mdiArea()->height() + overview_->height();
    const int windowsStrip = rows > 10 ? 40 : shared * 15 / 100;
    frame_.resizeDocks({overview_}, {std::min(want, shared - windowsStrip)}, Qt::Vertical);
}

BenchSettings::Overview BusTools::overviewState() const {
    BenchSettings::Overview state;
    state.open = overview_->isVisible();
    const QHeaderView* header = overview_->table()->horizontalHeader();
    state.sortColumn = header->sortIndicatorSection();
    if (state.sortColumn >= BusOverviewModel::ColumnCount) state.sortColumn = -1;
    state.sortDescending =
        state.sortColumn >= 0 && header->sortIndicatorOrder() == Qt::DescendingOrder;
    state.trend = overview_->trendButton()->isChecked();
    if (state.open)
        state.size = across(frame_.dockWidgetArea(overview_)) == Qt::Vertical ? overview_->height()
                                                                              : overview_->width();
    return state;
}

void BusTools::setOverviewState(const BenchSettings::Overview& state) {
    overview_->table()->sortByColumn(
        state.sortColumn, state.sortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
    overview_->trendButton()->setChecked(state.trend);
    if (!state.open) {
        overview_->hide();
        return;
    }
    showOverview();
    if (state.size > 0)
        frame_.resizeDocks({overview_}, {state.size}, across(frame_.dockWidgetArea(overview_)));
}

void BusTools::windowsChanged() {
    if (overview_->isVisible()) overview_->model().refresh();
}

void BusTools::showTrendOf(AnalyzerId view) {
    auto* shown = dynamic_cast<AnalyzerView*>(view ? frame_.findView(view) : nullptr);
    trendView_ = shown ? view : 0;
    if (shown)
        trend_->setHistory(shown->getDocument().records().trend(), AnalyzerRecords::kRangeLel);
    else
        trend_->setHistory(nullptr);
}

void BusTools::activate(AnalyzerId view) {
    for (QMdiSubWindow* child : frame_.mdiArea()->subWindowList()) {
        if (analyzerIdOf(frame_.windowFactory().viewOf(child)) != view) continue;
        frame_.showWindowInView(child);
        // Under a tall overview the windows' strip is low: the overview gives up what the
        // window needs to be seen whole.
        const int missing = child->height() - frame_.mdiArea()->viewport()->height();
        if (missing > 0 && !overview_->isFloating() &&
            across(frame_.dockWidgetArea(overview_)) == Qt::Vertical)
            frame_.resizeDocks({overview_}, {overview_->height() - missing}, Qt::Vertical);
        return;
    }
}

void BusTools::searchProgress(int number) {
    searchProgress_->setVisible(number >= 0);
    if (number >= 0) searchProgress_->setValue(number);
}

void BusTools::setFoundWithoutWindow(std::vector<int> numbers) {
    foundRest_ = std::move(numbers);
    overview_->setRestCount(static_cast<int>(foundRest_.size()));
    if (!foundRest_.empty()) showOverview();
}

void BusTools::openFoundRest() {
    std::vector<int> rest = std::move(foundRest_);
    foundRest_.clear();
    size_t opened = 0;
    for (; opened < rest.size(); ++opened) {
        if (frame_.block().windowCount() >= kMaxSlots) break;
        QMdiSubWindow* child = frame_.openWindowFor(rest[opened]);
        if (!child) break;
        child->showMinimized();
    }
    setFoundWithoutWindow(std::vector<int>(rest.begin() + static_cast<long>(opened), rest.end()));
    overview_->model().refresh();
    frame_.keepInsideScreen();
}

}  // namespace zta
