// SPDX-License-Identifier: GPL-3.0-or-later
// Fifty simulated analyzers at 19200 baud with fast polling, each in its window: the poll cycle
// over a stretch with the UI thread free, and over the same stretch with the UI thread blocked
// for two seconds in its middle. The bus must not wait for the windows. Prints figures only.

#if __has_include(<QApplication>)

#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/main_window.h"
#include "app/station_application.h"
#include "bench/bench_station.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "sim/bus.h"
#include "ui/dialogs.h"

using namespace zta;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAnalyzers = 50;

// Requests the simulator received within [from, to).
long requestsBetween(const sim::Bus& bus, Clock::time_point from, Clock::time_point to) {
    long n = 0;
    for (const sim::LogEntry& e : bus.log())
        n += e.kind == sim::LogEntry::Kind::Request && e.when >= from && e.when < to;
    return n;
}

// The poll cycle over a stretch of `ms`, and the readings the windows were shown during it.
struct Stretch {
    double cycleMs;
    long readings;
    long longestGapMs;  // the longest pause between two requests on the line
};

Stretch measure(MainWindow& frame, const sim::Bus& bus, TimedViews& timed, int ms, int blockUiMs) {
    const long shownBefore = timed.notices;
    const Clock::time_point from = Clock::now();
    if (blockUiMs > 0) {
        processFor((ms - blockUiMs) / 2);
        std::this_thread::sleep_for(std::chrono::milliseconds(blockUiMs));  // no event loop
        processFor((ms - blockUiMs) / 2);
    } else {
        processFor(ms);
    }
    const Clock::time_point to = Clock::now();
    processFor(200);  // the readings queued while blocked reach the windows
    (void)frame;
    const long requests = requestsBetween(bus, from, to);
    long gap = 0;
    Clock::time_point last = from;
    for (const sim::LogEntry& e : bus.log()) {
        if (e.kind != sim::LogEntry::Kind::Request || e.when < from || e.when >= to) continue;
        gap = std::max<long>(
            gap, std::chrono::duration_cast<std::chrono::milliseconds>(e.when - last).count());
        last = e.when;
    }
    const double seconds = std::chrono::duration<double>(to - from).count();
    return {requests ? seconds * 1000.0 * kAnalyzers / requests : 0.0, timed.notices - shownBefore,
            gap};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    QApplication qapp(argc, argv);
    ScriptedDialogs prompter;
    setDialogs(&prompter);

    auto bus = sim::Bus::openPty();
    if (!bus) {
        std::printf("no pseudo-terminal: nothing measured\n");
        return 0;
    }
    for (int a = 1; a <= kAnalyzers; ++a) {
        sim::AnalyzerConfig cfg;
        cfg.address = a;
        cfg.baud = 19200;
        bus->addAnalyzer(cfg);
    }
    bus->start();
    StationApplication app(benchStationOptions(*bus, QStringLiteral("/nonexistent/cal.cfg")));
    app.initInstance();
    MainWindow& frame = *app.mainFrame();
    for (int i = 1; i < kAnalyzers; ++i) frame.openNewDocument();
    const QList<QMdiSubWindow*> children = frame.mdiArea()->subWindowList();
    for (int i = 0; i < children.size(); ++i)
        if (auto* child = qobject_cast<AnalyzerSubWindow*>(children[i]))
            child->view()->numberField()->setText(QString::number(i + 1));
    frame.tileWindows();
    TimedViews timed(frame);
    frame.station().setBaud(4);
    frame.block().setFastPolling(true);
    frame.connectLine();
    processFor(3000);  // every analyzer answered, the extended models known

    std::printf("fifty analyzers, 19200 baud, fast polling; stretches of 6 s\n");
    for (int r = 0; r < rounds; ++r) {
        const Stretch free = measure(frame, *bus, timed, 6000, 0);
        const Stretch blocked = measure(frame, *bus, timed, 6000, 2000);
        std::printf(
            "round %d: cycle %.1f ms with the UI free, %.1f ms with it blocked 2 s (%+.2f %%); "
            "longest pause on the line %ld / %ld ms; readings shown %ld / %ld\n",
            r + 1, free.cycleMs, blocked.cycleMs,
            free.cycleMs > 0 ? 100.0 * (blocked.cycleMs - free.cycleMs) / free.cycleMs : 0.0,
            free.longestGapMs, blocked.longestGapMs, free.readings, blocked.readings);
    }
    frame.disconnectLine();
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
