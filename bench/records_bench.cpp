// SPDX-License-Identifier: GPL-3.0-or-later
// Trend memory per analyzer-hour, UI time to redraw fifty trends, and the cost of a CSV log
// line (building it, and building and appending it). Prints figures; asserts nothing.
//
//   records_bench [rounds]      (default 100 redraw rounds, 20000 CSV lines)

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QTemporaryDir>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "device/csv_log.h"
#include "device/record_writer.h"
#include "device/trend_history.h"
#include "device/trend_view.h"

namespace {

constexpr std::int64_t kHourMs = 3600 * 1000;

std::shared_ptr<zta::TrendHistory> filled(std::int64_t start, std::int64_t lengthMs,
                                          std::int64_t stepMs) {
    auto h = std::make_shared<zta::TrendHistory>();
    for (std::int64_t t = 0; t <= lengthMs; t += stepMs)
        h->add(start + t, 20.0 + 5.0 * ((t / 7000) % 3));
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    const std::int64_t start = QDateTime::currentMSecsSinceEpoch() - 24 * kHourMs;

    std::printf("trend memory (%zu bytes per sample held)\n", sizeof(zta::TrendSample));
    // One analyzer at the default pace answers every 500 ms; fifty share a 5 s cycle; fast
    // polling of one analyzer at 19200 baud comes near one reply per 50 ms.
    for (const auto& [what, step] :
         {std::pair{"1 analyzer, 500 ms turns", 500}, std::pair{"50 analyzers, 5 s cycle", 5000},
          std::pair{"fast polling, 50 ms turns", 50}}) {
        const auto hour = filled(start, kHourMs, step);
        const auto day = filled(start, 24 * kHourMs, step);
        std::printf("  %-28s %8.1f kB per analyzer-hour, %8.1f MB for 24 h\n", what,
                    hour->memoryBytes() / 1024.0, day->memoryBytes() / (1024.0 * 1024.0));
    }

    // Fifty trend views side by side, each over a day of readings (fifty analyzers' pace),
    // showing the default ten minutes; each round adds a reading to every analyzer.
    std::vector<std::shared_ptr<zta::TrendHistory>> histories;
    QWidget grid;
    auto* layout = new QGridLayout(&grid);
    std::vector<zta::TrendView*> views;
    std::int64_t now = start + 24 * kHourMs;
    for (int i = 0; i < 50; ++i) {
        histories.push_back(filled(start, 24 * kHourMs, 5000));
        auto* v = new zta::TrendView(&grid);
        v->setClock([&now] { return now; });
        v->setHistory(histories.back());
        layout->addWidget(v, i / 5, i % 5);
        views.push_back(v);
    }
    grid.resize(1600, 5000);
    grid.show();
    app.processEvents();
    for (zta::TrendView* v : views) v->setClock([&now] { return now; });
    QElapsedTimer redraw;
    redraw.start();
    qint64 refreshNs = 0;
    for (int r = 0; r < rounds; ++r) {
        now += 5000;
        for (auto& h : histories) h->add(now, 20.0 + r % 3);
        QElapsedTimer refresh;
        refresh.start();
        for (zta::TrendView* v : views) v->refresh();
        refreshNs += refresh.nsecsElapsed();
        app.processEvents();  // the charts repaint
    }
    const double perRound = redraw.nsecsElapsed() / 1e6 / rounds;
    std::printf(
        "redraw of fifty trends (10 min shown, 24 h held): %.2f ms per round "
        "(%.2f ms of it new points, the rest painting), %.3f ms per trend\n",
        perRound, refreshNs / 1e6 / rounds, perRound / 50);
    grid.setMaximumSize(1600, 5000);
    for (zta::TrendView* v : views) v->zoomBy(144.0);  // the whole day
    redraw.restart();
    for (int r = 0; r < rounds / 4 + 1; ++r) {
        now += 5000;
        for (auto& h : histories) h->add(now, 20.0);
        for (zta::TrendView* v : views) v->refresh();
        app.processEvents();
    }
    std::printf("redraw of fifty trends (24 h shown): %.2f ms per round\n",
                redraw.nsecsElapsed() / 1e6 / (rounds / 4 + 1));

    zta::CsvRecord record;
    record.time = QDateTime::currentDateTime();
    record.networkNumber = 17;
    record.factoryNumber = 40000;
    record.gas = QStringLiteral("Метан");
    record.concentration = 23.4;
    record.unitValue = 1.03;
    record.unitName = QStringLiteral("% об.");
    record.relayState = 3;
    const int lines = 200 * rounds;
    QElapsedTimer build;
    build.start();
    qsizetype bytes = 0;
    for (int i = 0; i < lines; ++i) bytes += zta::buildCsvLine(record, QLatin1Char(',')).size();
    const double buildUs = build.nsecsElapsed() / 1e3 / lines;

    QTemporaryDir dir;
    zta::RecordWriter writer;
    zta::CsvLog log(writer);
    log.setEnabled(true);
    const QString folder = dir.path() + QLatin1Char('/');
    QElapsedTimer append;
    append.start();
    for (int i = 0; i < lines; ++i) log.write(folder, record);
    const double appendUs = append.nsecsElapsed() / 1e3 / lines;
    std::printf("CSV line: build %.2f us (%lld bytes), build and append %.1f us\n", buildUs,
                static_cast<long long>(bytes / lines), appendUs);
    return 0;
}
