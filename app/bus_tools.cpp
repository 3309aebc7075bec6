#include "app/bus_tools.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTableView>

#include "app/main_window.h"
#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/analyzer_window_factory.h"
#include "device/audit_log.h"
#include "device/trend_view.h"
#include "gas/gas_check.h"
#include "search/scan.h"
#include "ui/bus_overview_dock.h"
#include "ui/dialogs.h"
#include "ui/traffic_monitor.h"

namespace zta {

BusTools::BusTools(MainWindow& frame)
    : QObject(&frame),
      frame_(frame),
      overview_(new BusOverviewDock(&frame)),
      trend_(new TrendView),
      searchProgress_(new QProgressBar) {
    frame_.addDockWidget(Qt::BottomDockWidgetArea, overview_);
    overview_->hide();
    overview_->onActivate = [this](ViewId view) { Activate(view); };
    overview_->onOpenRest = [this] { OpenFoundRest(); };
    trend_->setMinimumWidth(320);
    overview_->SetDetail(trend_);
    overview_->onSelect = [this](ViewId view) { ShowTrendOf(view); };
    overview_->model().SetSource([this] {
        std::vector<OverviewRow> rows;
        PollBlock& block = frame_.block();
        const bool polling = frame_.IsPolling();
        const int count = block.WindowCount();
        rows.reserve(count + foundRest_.size());
        for (int i = 0; i < count; ++i) {
            OverviewRow row{block.View(i), block.Snapshot(i), polling};
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
    AddMenuItems();
}

BusTools::~BusTools() {
    if (monitor_) delete monitor_.data();
}

void BusTools::AddMenuItems() {
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

bool BusTools::OnCommand(CommandId id) {
    switch (id) {
    case CommandId::FastPolling:
        frame_.block().SetFastPolling(!frame_.block().FastPolling());
        return true;
    case CommandId::BusOverview:
        if (overview_->isVisible())
            overview_->hide();
        else
            ShowOverview();
        return true;
    case CommandId::TrafficMonitor: ShowMonitor(); return true;
    case CommandId::OpenFoundRest: OpenFoundRest(); return true;
    default: return false;
    }
}

bool BusTools::OnUpdateCommand(CommandId id, CommandState& state) {
    switch (id) {
    case CommandId::FastPolling: state.checked = frame_.block().FastPolling(); return true;
    case CommandId::BusOverview: state.checked = overview_->isVisible(); return true;
    case CommandId::TrafficMonitor: return true;
    case CommandId::OpenFoundRest:
        state.enabled = !foundRest_.empty() && !frame_.IsSearching();
        return true;
    default: return false;
    }
}

void BusTools::ShowMonitor() {
    if (!monitor_) {
        monitor_ = new TrafficMonitor(ring_);
        monitor_->setAttribute(Qt::WA_DeleteOnClose);
        monitor_->setWindowIcon(frame_.windowIcon());
    }
    monitor_->show();
    monitor_->raise();
    monitor_->activateWindow();
}

void BusTools::ShowOverview() {
    overview_->show();
    overview_->model().Refresh();
    // Fifty rows and the header: the analyzer windows keep what is left (they can be
    // minimized and are brought up from the table).
    QCoreApplication::processEvents();  // the dock takes its place before it is measured
    const int rows = std::max(overview_->model().rowCount(), 10);
    QTableView* table = overview_->table();
    const int chrome = overview_->height() - table->viewport()->height();
    const int want = table->verticalHeader()->defaultSectionSize() * rows + chrome + 4;
    // What the dock and the analyzer windows share; the windows keep a strip for their icons.
    const int shared = frame_.mdiArea()->height() + overview_->height();
    const int windowsStrip = frame_.mdiArea()->subWindowList().size() > 10 ? 40 : shared * 15 / 100;
    frame_.resizeDocks({overview_}, {std::min(want, shared - windowsStrip)}, Qt::Vertical);
}

void BusTools::DataChanged() { overview_->model().MarkDirty(); }

void BusTools::WindowsChanged() {
    if (overview_->isVisible()) overview_->model().Refresh();
}

void BusTools::ShowTrendOf(ViewId view) {
    auto* shown = dynamic_cast<AnalyzerView*>(view ? frame_.FindView(view) : nullptr);
    trendView_ = shown ? view : 0;
    if (shown)
        trend_->setHistory(shown->GetDocument().records.trend(), AnalyzerRecords::kRangeLel);
    else
        trend_->setHistory(nullptr);
}

void BusTools::Activate(ViewId view) {
    for (QMdiSubWindow* child : frame_.mdiArea()->subWindowList()) {
        if (ViewIdOf(frame_.windowFactory().ViewOf(child)) != view) continue;
        if (child->isMinimized()) child->showNormal();
        frame_.mdiArea()->setActiveSubWindow(child);
        return;
    }
}

void BusTools::Audit(const CommandReport& report) {
    AuditEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.port = QString::fromStdString(frame_.block().PortName());
    entry.networkNumber = report.address;
    entry.factoryNumber = report.factoryNumber;
    entry.command = report.command;
    entry.track = report.track;
    QString error;
    // A folder that cannot be written to is reported by the record files already; the audit
    // line is not worth a second box.
    AppendAuditEntry(frame_.recordFolder(), entry, &error);
}

void BusTools::CommandChanged(const CommandReport& report) {
    Audit(report);
    overview_->model().MarkDirty();
    if (AnalyzerViewInterface* view = frame_.FindView(report.view)) view->OnCommandStateChanged();
}

void BusTools::CommandConfirmed(int slot, Command which, const CommandTrack& previous) {
    const Slot s = frame_.block().Snapshot(slot);
    CommandReport report;
    report.view = s.viewWindow;
    report.slot = slot;
    report.address = s.address;
    report.factoryNumber = s.factoryNumber;
    report.command = which;
    if (previous.Open()) {
        report.track = previous;
        report.track.state = CommandStatus::Failed;
        report.track.failure = CommandFailure::Replaced;
        Audit(report);
    }
    report.track = s.commands[CommandIndex(which)];
    CommandChanged(report);
}

bool BusTools::ConfirmCalibrationGas(int slot, QWidget* owner) {
    const Slot s = frame_.block().Snapshot(slot);
    const GasInfo* chosen =
        ReportedGas(true, 0, frame_.gasState().calGasName.toStdString());
    const auto mismatch = CheckCalibrationGas(chosen, s.errorCount < kLostContactLimit,
                                              s.extendedModel, s.gasCode, s.gasName);
    if (!mismatch) return true;
    return dialogs().Question(GasMismatchText(s.address, *mismatch),
                                  QString::fromUtf8(kGasMismatchCaption), owner);
}

void BusTools::SearchProgress(int number) {
    searchProgress_->setVisible(number >= 0);
    if (number >= 0) searchProgress_->setValue(number);
}

void BusTools::SetFoundWithoutWindow(std::vector<int> numbers) {
    foundRest_ = std::move(numbers);
    overview_->SetRestCount(static_cast<int>(foundRest_.size()));
    if (!foundRest_.empty()) ShowOverview();
}

void BusTools::OpenFoundRest() {
    std::vector<int> rest = std::move(foundRest_);
    foundRest_.clear();
    size_t opened = 0;
    for (; opened < rest.size(); ++opened) {
        if (frame_.block().WindowCount() >= kMaxSlots) break;
        QMdiSubWindow* child = frame_.OpenNewDocument();
        if (!child) break;
        const int slot = frame_.block().WindowCount() - 1;
        auto* analyzer = qobject_cast<AnalyzerSubWindow*>(child);
        if (analyzer && analyzer->view())
            analyzer->view()->numberField()->setText(QString::number(rest[opened]));
        else
            frame_.block().SetAddress(slot, rest[opened]);
        child->showMinimized();
    }
    SetFoundWithoutWindow(std::vector<int>(rest.begin() + static_cast<long>(opened), rest.end()));
    overview_->model().Refresh();
}

}  // namespace zta
