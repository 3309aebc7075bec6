// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/bench_control.h"

#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <algorithm>
#include <iterator>

#include "app/main_window.h"
#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/csv_log.h"
#include "device/trend_view.h"
#include "link/regmap.h"
#include "ui/dialogs.h"

namespace zta {

namespace {

AnalyzerSubWindow* windowOfSlot(MainWindow& frame, int slot) {
    auto* view = dynamic_cast<AnalyzerView*>(frame.viewOfSlot(slot));
    return view ? qobject_cast<AnalyzerSubWindow*>(view->parentWidget()) : nullptr;
}

}  // namespace

BenchSettings captureBench(MainWindow& frame) {
    BenchSettings b;
    b.port = QString::fromStdString(frame.block().portName());
    if (frame.selectedPort() >= 0 && frame.selectedPort() < frame.portNames().size())
        b.port = frame.portNames()[frame.selectedPort()];
    b.baudRate = frame.block().baudRate();
    b.recordFolder = frame.recordFolder();
    b.csvLog = frame.csvLog().enabled();
    b.mainMaximized = frame.isMaximized();
    b.mainGeometry = frame.isMaximized() ? frame.normalGeometry() : frame.geometry();
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
    return b;
}

void applyBench(MainWindow& frame, const BenchSettings& b) {
    const bool wasPolling = frame.isPolling();
    if (wasPolling) frame.disconnectLine();

    const int port = int(frame.portNames().indexOf(b.port));
    if (port >= 0 && port < frame.portCount())
        frame.selectPort(port);
    else if (!b.port.isEmpty())
        frame.setPortName(b.port);  // not present now: tried as named when connecting
    const auto rate = std::find(std::begin(kBaudRates), std::end(kBaudRates), b.baudRate);
    if (rate != std::end(kBaudRates)) frame.setBaud(int(rate - std::begin(kBaudRates)));
    if (!b.recordFolder.isEmpty()) frame.chooseRecordFolder(b.recordFolder);
    frame.csvLog().setEnabled(b.csvLog);

    if (!b.mainGeometry.isEmpty()) frame.setGeometry(b.mainGeometry);
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
        if (!saved.geometry.isEmpty()) w->setGeometry(saved.geometry);
        if (saved.minimized) w->showMinimized();
        if (saved.maximized) w->showMaximized();
    }
    if (wasPolling) {
        frame.connectLine();
        startBenchTimers(frame, b);
    }
}

std::optional<QString> askBenchFile(QWidget* owner, bool save) {
    return dialogs().askFilePath(
        save ? Dialogs::FileMode::Save : Dialogs::FileMode::Open,
        save ? QStringLiteral("Сохранить стенд") : QStringLiteral("Открыть стенд"),
        QStringLiteral("Стенд (*.json)"), owner);
}

void startBenchTimers(MainWindow& frame, const BenchSettings& b) {
    if (!frame.isPolling()) return;
    for (int slot = 0; slot < std::min<int>(int(b.windows.size()), frame.block().windowCount());
         ++slot)
        if (AnalyzerSubWindow* w = windowOfSlot(frame, slot); w && b.windows[slot].timerPeriod > 0)
            w->view()->startRecordTimer(b.windows[slot].timerPeriod);
}

}  // namespace zta
