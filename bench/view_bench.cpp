// SPDX-License-Identifier: GPL-3.0-or-later
// UI thread time per data notice with fifty analyzer windows open (reload and form update, and
// the repaint that follows), memory of the windows, and the cost of a record line. Prints
// figures; asserts nothing.
//
//   view_bench [rounds]      (default 200 rounds of 50 notices)

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "device/analyzer_document.h"
#include "device/analyzer_sub_window.h"
#include "device/analyzer_view.h"
#include "device/record_file.h"
#include "tests/ui/device_support.h"
#include "ui/command_ids.h"

using namespace zta;

namespace {

long residentKiB() {
#ifdef __linux__
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return -1;
    const QList<QByteArray> parts = statm.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() * 4 : -1;
#else
    return -1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    FakeHost host;
    host.area.resize(1400, 900);
    host.area.show();
    const long before = residentKiB();
    QElapsedTimer open;
    open.start();
    std::vector<AnalyzerView*> views;
    for (int i = 0; i < 50; ++i) {
        AnalyzerSubWindow* w = openAnalyzerWindow(host, host.area);
        w->view()->numberField()->setText(QString::number(i + 1));
        views.push_back(w->view());
    }
    host.area.tileSubWindows();
    app.processEvents();
    const double openMs = open.nsecsElapsed() / 1e6;
    const long after = residentKiB();

    // Every round changes every slot's readings, as a poll cycle does.
    auto store = [&](int round, int slot) {
        host.store(slot, [&](zta::Slot& s) {
            s.errorCount = round % 7 == 0 ? 5 : 0;
            s.readings.concentration = (round * 13 + slot) % 100;
            s.readings.temperature = 20 + round % 5;
            s.readings.refChannel = 1000 + round;
            s.readings.workChannel = 900 + slot;
            s.readings.relayState = static_cast<uint8_t>(round % 8);
            s.readings.gasCode = static_cast<uint8_t>(1 + slot % 8);
            s.texts.gasName = "Метан";
            s.replyCount = round;
        });
    };

    qint64 noticeNs = 0;
    qint64 paintNs = 0;
    QElapsedTimer t;
    for (int r = 0; r < rounds; ++r) {
        for (int s = 0; s < 50; ++s) {
            store(r, s);
            t.start();
            host.deliver(views[s]);
            noticeNs += t.nsecsElapsed();
        }
        t.start();
        app.processEvents();  // the repaints the notices asked for
        paintNs += t.nsecsElapsed();
    }
    const double notices = 50.0 * rounds;

    // Record lines: building alone, and building plus the append to the window's file.
    RecordValues v{25, 100, 1000, 900, 49.6, 0, 5};
    const int lines = 2000;
    t.start();
    qint64 bytes = 0;
    for (int i = 0; i < lines; ++i) bytes += buildRecordLine(v, QTime(12, 0, i % 60), {}).size();
    const double buildUs = t.nsecsElapsed() / 1e3 / lines;
    t.start();
    for (int i = 0; i < lines; ++i) views[0]->writeRecord();
    const double writeUs = t.nsecsElapsed() / 1e3 / lines;

    std::printf(
        "analyzer windows: 50 opened in %.1f ms, resident memory +%ld KiB (%.1f KiB each)\n",
        openMs, after - before, (after - before) / 50.0);
    std::printf("data notice (reload + form update), UI thread: %.1f us per notice over %.0f\n",
                noticeNs / 1e3 / notices, notices);
    std::printf("repaint after a round of 50 notices: %.2f ms per round, %.1f us per notice\n",
                paintNs / 1e6 / rounds, paintNs / 1e3 / notices);
    std::printf("record line: build %.2f us, build + append %.1f us (%lld bytes per line)\n",
                buildUs, writeUs, static_cast<long long>(bytes / lines));
    return 0;
}
