// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bench_control.h"

#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScreen>
#include <algorithm>
#include <iterator>

#include "app/bus_tools.h"
#include "app/main_window.h"
#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/csv_log.h"
#include "device/record_file.h"
#include "device/trend_view.h"
#include "link/regmap.h"
#include "ui/dialogs.h"

namespace zta {

namespace {

AnalyzerSubWindow* windowOfSlot(MainWindow& frame, int slot) {
    auto* view = dynamic_cast<AnalyzerView*>(frame.viewOfSlot(slot));
    return view ? qobject_cast<AnalyzerSubWindow*>(view->parentWidget()) : nullptr;
}

BusTools* busToolsOf(MainWindow& frame) { return frame.findChild<BusTools*>(); }

void captureTools(MainWindow& frame, BenchSettings& b) {
    b.fastPolling = frame.block().fastPolling();
    if (BusTools* tools = busToolsOf(frame)) b.overview = tools->overviewState();
}

void applyTools(MainWindow& frame, const BenchSettings& b) {
    frame.block().setFastPolling(b.fastPolling);
    if (BusTools* tools = busToolsOf(frame)) tools->setOverviewState(b.overview);
}

}  // namespace

BenchSettings captureBench(MainWindow& frame) {
    BenchSettings b;
    b.port = QString::fromStdString(frame.block().portName());
    if (frame.station().selectedPort() >= 0 &&
        frame.station().selectedPort() < frame.station().portNames().size())
        b.port = frame.station().portNames()[frame.station().selectedPort()];
    b.baudRate = frame.block().baudRate();
    b.recordFolder = frame.station().recordFolder();
    b.csvLog = frame.station().csvLog().enabled();
    b.mainMaximized = frame.isMaximized();
    b.mainGeometry = frame.isMaximized() ? frame.normalGeometry() : frame.geometry();
    b.commandExpirySeconds = frame.station().commandExpirySeconds();
    b.netTimeoutMs = frame.station().netTimeoutMs();
    bool ruleTaken = false;
    for (int slot = 0; slot < frame.block().windowCount(); ++slot) {
        AnalyzerSubWindow* w = windowOfSlot(frame, slot);
        if (!w) continue;
        BenchSettings::Window saved;
        saved.networkNumber = w->document().address;
        saved.timerPeriod = w->view()->timerPeriod();
        saved.minimized = w->isMinimized();
        saved.maximized = w->isMaximized();
        saved.geometry = (saved.minimized || saved.maximized) ? QRect() : w->geometry();
        saved.trendShown = w->view()->trendShown();
        if (TrendView* trend = w->view()->trend()) {
            saved.trendSpanSeconds = int(trend->span() / 1000);
            if (!ruleTaken) {
                b.settleBandPercent = trend->settleRule().bandPercent;
                b.settleSeconds = trend->settleRule().seconds;
                ruleTaken = true;
            }
        }
        b.windows.append(saved);
    }
    captureTools(frame, b);
    return b;
}

void applyBench(MainWindow& frame, const BenchSettings& b) {
    const bool wasPolling = frame.station().isPolling();
    if (wasPolling) frame.disconnectLine();

    const int port = int(frame.station().portNames().indexOf(b.port));
    if (port >= 0 && port < frame.station().portCount())
        frame.station().selectPort(port);
    else if (!b.port.isEmpty())
        frame.station().setPortName(b.port);  // not present now: tried as named when connecting
    const auto rate = std::find(std::begin(kBaudRates), std::end(kBaudRates), b.baudRate);
    if (rate != std::end(kBaudRates)) frame.station().setBaud(int(rate - std::begin(kBaudRates)));
    if (!b.recordFolder.isEmpty()) {
        frame.station().setRecordFolder(b.recordFolder);
        const QString problem = recordFolderProblem(frame.station().recordFolder());
        if (!problem.isEmpty())
            dialogs().warning(
                QStringLiteral("Папка записи стенда %1 не годится: %2. Записи не сохранятся, "
                               "пока не выбран другой путь для записи.")
                    .arg(frame.station().recordFolder(), problem),
                QStringLiteral("Стенд"), &frame);
    }
    frame.station().csvLog().setEnabled(b.csvLog);
    frame.station().setCommandExpirySeconds(b.commandExpirySeconds);
    frame.station().setNetTimeoutMs(b.netTimeoutMs);

    if (!b.mainGeometry.isEmpty()) {
        frame.setGeometry(b.mainGeometry);
        // Saved on a larger screen, or partly off this one: brought inside it.
        frame.keepInsideScreen();
    }
    const QRect screenArea = frame.screen()->availableGeometry();
    if (b.mainMaximized) frame.showMaximized();

    // The old windows go without a question, as after a search.
    const QList<QMdiSubWindow*> old = frame.mdiArea()->subWindowList();
    for (QMdiSubWindow* child : old) delete child;
    for (const BenchSettings::Window& saved : b.windows) {
        auto* w = qobject_cast<AnalyzerSubWindow*>(frame.openNewDocument());
        if (!w || !w->view()) break;
        w->view()->numberField()->setText(QString::number(saved.networkNumber));
        if (saved.trendShown) w->view()->showTrend(true);
        if (TrendView* trend = w->view()->trend()) {
            trend->setSettleRule({b.settleBandPercent, b.settleSeconds});
            if (saved.trendSpanSeconds > 0) trend->setSpan(qint64(saved.trendSpanSeconds) * 1000);
        }
        if (!saved.geometry.isEmpty()) {
            // Never smaller than the window opens (its form): the window area scrolls.
            const QSize room = screenArea.size().expandedTo(w->size()).expandedTo(w->sizeHint());
            w->setGeometry(placedInside(saved.geometry, QRect(QPoint(0, 0), room)));
        }
        if (saved.minimized) w->showMinimized();
        if (saved.maximized) w->showMaximized();
    }
    applyTools(frame, b);
    if (wasPolling) frame.connectLine();
}

std::optional<QString> askBenchFile(QWidget* owner, bool save) {
    return dialogs().askFilePath(
        save ? Dialogs::FileMode::Save : Dialogs::FileMode::Open,
        save ? QStringLiteral("Сохранить стенд") : QStringLiteral("Открыть стенд"),
        QStringLiteral("Стенд (*.json)"), owner);
}

BenchControl::BenchControl(MainWindow& frame) : QObject(&frame), frame_(frame) {
    connect(&frame_.station(), &Station::pollingChanged, this, [this] {
        if (frame_.station().isPolling()) startPendingTimers();
    });
}

void BenchControl::startPendingTimers() {
    // Taken first: starting a timer may show a box, and a box runs the event loop.
    const std::vector<std::pair<AnalyzerId, int>> timers = std::move(pendingTimers_);
    pendingTimers_.clear();
    for (const auto& [view, period] : timers)
        if (auto* v = dynamic_cast<AnalyzerView*>(frame_.findView(view)); v && !v->timerRunning)
            v->startRecordTimer(period);
}

bool BenchControl::saveBench(const QString& path) {
    QString error;
    if (writeBenchFile(path, captureBench(frame_), &error)) return true;
    dialogs().error(error, QStringLiteral("Стенд"), &frame_);
    return false;
}

std::optional<BenchSettings> BenchControl::openBench(const QString& path) {
    QString error;
    const auto bench = readBenchFile(path, &error);
    if (!bench) {
        dialogs().error(error, QStringLiteral("Стенд"), &frame_);
        return std::nullopt;
    }
    // The timers saved as running start with polling: now if it runs, else at the next connect.
    pendingTimers_.clear();
    const bool polling = frame_.station().isPolling();
    applyBench(frame_, *bench);
    for (int slot = 0;
         slot < std::min<int>(int(bench->windows.size()), frame_.block().windowCount()); ++slot)
        if (AnalyzerSubWindow* w = windowOfSlot(frame_, slot);
            w && bench->windows[slot].timerPeriod > 0)
            pendingTimers_.emplace_back(analyzerIdOf(w->view()), bench->windows[slot].timerPeriod);
    if (polling && frame_.station().isPolling()) startPendingTimers();
    return bench;
}

bool BenchControl::onCommand(CommandId id) {
    if (id != CommandId::SaveBench && id != CommandId::OpenBench) return false;
    const bool save = id == CommandId::SaveBench;
    const std::optional<QString> path = askBenchFile(&frame_, save);
    if (path && !path->isEmpty()) {
        if (save)
            saveBench(*path);
        else
            openBench(*path);
    }
    return true;
}

bool BenchControl::onUpdateCommand(CommandId, CommandState&) {
    return false;  // the main window's table decides
}

}  // namespace zta
