// SPDX-License-Identifier: GPL-3.0-or-later
// "Поиск" on the whole station against three simulated analyzers at 19200 baud with the
// system's own timing: how long the UI thread goes without turning its event loop while the
// scan runs (goal: never above 50 ms), and what the end costs it (the wait for the scan
// thread, the new windows, the connect). Prints figures only.
//
//   search_ui_bench   (offscreen unless a display is set)

#if __has_include(<QApplication>)

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMdiArea>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/main_window.h"
#include "app/search_control.h"
#include "app/station_application.h"
#include "bench/bench_station.h"
#include "sim/bus.h"
#include "ui/dialogs.h"

using namespace zta;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    ScriptedDialogs prompter;  // no box may stop the run
    setDialogs(&prompter);

    auto bus = zta::sim::Bus::openPty();
    if (!bus) {
        std::printf("no pseudo-terminal: nothing measured\n");
        return 0;
    }
    for (int address : {5, 9, 30}) {
        zta::sim::AnalyzerConfig cfg;
        cfg.address = address;
        cfg.baud = 19200;
        bus->addAnalyzer(cfg);
    }
    bus->start();

    const StationOptions options =
        benchStationOptions(*bus, QStringLiteral("/nonexistent/CalDataK7.cfg"));
    StationApplication app(options);
    app.initInstance();
    MainWindow& frame = *app.mainFrame();
    frame.station().setBaud(4);

    // A 5 ms timer: the time between two of its turns is how long the UI thread was away.
    QElapsedTimer clock;
    std::vector<double> gaps;  // while the scan runs
    double endGapMs = 0;       // the turn that took the end: results, windows, connect
    double scanS = 0;
    qint64 last = 0;
    QEventLoop loop;  // as the program's (quitting the application would close the window)
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double gapMs = (now - last) / 1e6;
        last = now;
        if (frame.station().isSearching()) {
            gaps.push_back(gapMs);
            return;
        }
        endGapMs = gapMs;
        scanS = now / 1e9;
        tick.stop();
        QTimer::singleShot(500, &loop, &QEventLoop::quit);  // let polling begin
    });

    clock.start();
    frame.router().dispatch(CommandId::Search);
    if (!frame.station().isSearching()) {
        std::printf("the search did not start\n");
        return 1;
    }
    tick.start();
    QTimer::singleShot(600000, &loop, &QEventLoop::quit);
    loop.exec();

    std::sort(gaps.begin(), gaps.end());
    const auto over = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 50; });
    const double worst = gaps.empty() ? 0 : gaps.back();
    const double p99 = gaps.empty() ? 0 : gaps[size_t(double(gaps.size() - 1) * 0.99)];
    std::printf(
        "search of 256 numbers at 19200 baud, analyzers at 5, 9, 30: %.2f s to the "
        "windows\n",
        scanS);
    std::printf(
        "UI thread away from its event loop while scanning: worst %.1f ms, 99th "
        "percentile %.1f ms, %lld of %zu turns above 50 ms\n",
        worst, p99, static_cast<long long>(over), gaps.size());
    std::printf("the end (wait for the scan thread, %lld windows, connect): %.1f ms\n",
                static_cast<long long>(frame.mdiArea()->subWindowList().size()), endGapMs);
    std::printf("polling: %s\n", frame.station().isPolling() ? "yes" : "no");
    for (const ScriptedDialogs::Box& box : prompter.boxes())
        std::printf("box: %s (%s)\n", qPrintable(box.text), qPrintable(box.caption));
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
