// SPDX-License-Identifier: GPL-3.0-or-later
// The whole station: start-up time to the shown main window and its memory, then fifty
// analyzer windows polled through the real poll thread and bridge against simulated analyzers:
// memory, data notices per second and the UI thread's time per notice. Prints figures only.
//
//   station_bench [seconds of polling]   (default 10; offscreen unless a display is set)

#if __has_include(<QApplication>)

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/main_window.h"
#include "app/station_application.h"
#include "app/station_bridge.h"
#include "bench/bench_station.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/analyzer_window_factory.h"
#include "sim/bus.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

double threadCpuMs() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
#else
    return double(std::clock()) * 1000.0 / CLOCKS_PER_SEC;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const long rssAtEntry = residentKiB();

    QElapsedTimer startup;
    startup.start();
    QApplication qapp(argc, argv);
    ScriptedDialogs prompter;  // no box may stop the run
    setDialogs(&prompter);

    auto bus = zta::sim::Bus::openPty();
    if (!bus) {
        std::printf("no pseudo-terminal: nothing measured\n");
        return 0;
    }
    const StationOptions options =
        benchStationOptions(*bus, QStringLiteral("/nonexistent/CalDataK7.cfg"));

    const qint64 beforeApp = startup.nsecsElapsed();
    StationApplication app(options);
    app.initInstance();
    MainWindow& frame = *app.mainFrame();
    QElapsedTimer exposeWait;
    exposeWait.start();
    while (!(frame.windowHandle() && frame.windowHandle()->isExposed()) &&
           exposeWait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    const double startupMs = startup.nsecsElapsed() / 1e6;
    const double frameMs = (startup.nsecsElapsed() - beforeApp) / 1e6;
    const long rssShown = residentKiB();

    std::printf(
        "start-up to the shown main window: %.1f ms (of which main window and first "
        "analyzer window %.1f ms)\n",
        startupMs, frameMs);
    std::printf("resident memory: %ld KiB at entry, %ld KiB with the main window shown\n",
                rssAtEntry, rssShown);

    // Fifty analyzers at 19200 baud, one window each.
    for (int a = 1; a <= 50; ++a) {
        zta::sim::AnalyzerConfig cfg;
        cfg.address = a;
        cfg.baud = 19200;
        cfg.wave = zta::sim::Wave::Sine;
        cfg.amplitude = 10;
        cfg.periodS = 5;
        bus->addAnalyzer(cfg);
    }
    bus->start();
    for (int i = 1; i < 50; ++i) frame.openNewDocument();
    const QList<QMdiSubWindow*> children = frame.mdiArea()->subWindowList();
    for (int i = 0; i < children.size(); ++i)
        if (auto* child = qobject_cast<AnalyzerSubWindow*>(children[i]))
            child->view()->numberField()->setText(QString::number(i + 1));
    frame.tileWindows();
    processFor(200);
    const long rssFifty = residentKiB();

    // Count and time every data notice on its way through the bridge.
    TimedViews timed(frame);
    const long& notices = timed.notices;
    const double& handlerMs = timed.handlerMs;

    frame.station().setBaud(4);
    frame.connectLine();
    processFor(2000);  // every window has had its first turns
    const long noticesBefore = notices;
    const double handlerBefore = handlerMs;
    const double cpuBefore = threadCpuMs();
    QElapsedTimer wall;
    wall.start();
    processFor(seconds * 1000);
    const double cpu = threadCpuMs() - cpuBefore;
    const double wallS = wall.elapsed() / 1000.0;
    const long n = notices - noticesBefore;
    const long rssPolling = residentKiB();
    frame.disconnectLine();

    std::printf("fifty windows: resident memory %ld KiB open, %ld KiB after %.1f s of polling\n",
                rssFifty, rssPolling, wallS);
    std::printf("data notices: %ld in %.1f s (%.1f per second)\n", n, wallS, n / wallS);
    if (n > 0) {
        std::printf(
            "UI thread per data notice: %.3f ms in the notice (reload and form), "
            "%.3f ms of UI thread CPU all told (with repaints)\n",
            (handlerMs - handlerBefore) / n, cpu / n);
        std::printf("UI thread busy: %.1f %% of the time\n", 100.0 * cpu / (wallS * 1000.0));
    }
    frame.close();
    setDialogs(nullptr);
    return 0;
}

#else
#include <cstdio>

int main() {
    std::printf("built without the user interface: nothing to measure\n");
    return 0;
}
#endif
