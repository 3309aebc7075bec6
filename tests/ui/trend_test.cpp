// SPDX-License-Identifier: GPL-3.0-or-later
// The trend of an analyzer: a history bounded to 24 hours, the settling indicator on the
// simulator's ramp and on a step, and the plot: its default span, zoom and pan, marks at
// confirmed commands, gaps where contact was lost, and the exports.

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "device/analyzer_records.h"
#include "device/csv_log.h"
#include "device/trend_history.h"
#include "device/trend_view.h"
#include "sim/analyzer.h"

using zta::SettleRule;
using zta::Settling;
using zta::TrendHistory;
using zta::TrendMarkKind;

namespace {

constexpr std::int64_t kStart = 1'797'000'000'000;  // ms since the epoch, a day in 2026
constexpr std::int64_t kTurnMs = 500;               // one analyzer polled at the default pace

// Feeds `history` with the analyzer's readings as the poll thread reads them (whole %НКПР)
// from `fromS` to `toS` seconds, and returns the settling seen after each reading.
std::vector<Settling> poll(zta::sim::Analyzer& analyzer, TrendHistory& history, double fromS,
                           double toS, const SettleRule& rule = {}) {
    std::vector<Settling> seen;
    for (double t = fromS; t < toS; t += kTurnMs / 1000.0) {
        const std::int64_t ms = kStart + std::int64_t(t * 1000.0);
        history.add(ms, int(analyzer.concentrationAt(t)));
        seen.push_back(zta::settlingAt(history.samples(), ms, 100.0, rule));
    }
    return seen;
}

}  // namespace

class TrendTest : public QObject {
    Q_OBJECT

  private slots:
    void historyKeepsTwentyFourHours() {
        TrendHistory h;
        for (std::int64_t ms = 0; ms <= 25 * 3600 * 1000LL; ms += 10'000) h.add(kStart + ms, 1.0);
        QCOMPARE(h.samples().front().ms, kStart + 3600 * 1000LL);  // exactly 24 h kept
        QCOMPARE(h.samples().size(), size_t(24 * 360 + 1));
        // Stated memory: about 16 bytes per sample.
        QVERIFY(h.memoryBytes() > h.samples().size() * sizeof(zta::TrendSample));
        QVERIFY(h.memoryBytes() < h.samples().size() * sizeof(zta::TrendSample) * 5 / 4);

        // A clock that never moves cannot grow it past its count either.
        TrendHistory still;
        for (std::size_t i = 0; i < TrendHistory::kMaxSamples + 10; ++i) still.add(kStart, 1.0);
        QCOMPARE(still.samples().size(), TrendHistory::kMaxSamples);
    }

    void rampNeverSettles() {
        zta::sim::AnalyzerConfig c;
        c.concentration = 30;
        c.wave = zta::sim::Wave::Ramp;
        c.amplitude = 10;
        c.periodS = 60;
        zta::sim::Analyzer analyzer(c);
        TrendHistory h;
        const auto seen = poll(analyzer, h, 0, 300);
        for (const Settling& s : seen) QVERIFY(!s.settled);
        QVERIFY(seen.back().covered);
        QVERIFY(seen.back().movedPercent >= 9.0);
        // A ramp slow enough for a wide band is settled by that band's rule.
        QVERIFY(zta::settlingAt(h.samples(), h.samples().back().ms, 100.0, {25.0, 30}).settled);
    }

    void stepSettlesAfterTheWindow_data() {
        QTest::addColumn<double>("band");
        QTest::addColumn<int>("seconds");
        QTest::newRow("defaults") << 1.0 << 30;
        QTest::newRow("5 %, 10 s") << 5.0 << 10;
    }

    void stepSettlesAfterTheWindow() {
        QFETCH(double, band);
        QFETCH(int, seconds);
        const SettleRule rule{band, seconds};
        zta::sim::AnalyzerConfig c;
        c.concentration = 20;
        zta::sim::Analyzer analyzer(c);
        TrendHistory h;

        // Too short a history is never settled, however still.
        const auto start = poll(analyzer, h, 0, seconds, rule);
        for (const Settling& s : start) QVERIFY(!s.covered && !s.settled);
        const auto before = poll(analyzer, h, seconds, 100, rule);
        QVERIFY(before.back().settled);

        analyzer.setConcentration(50);
        const auto after = poll(analyzer, h, 100, 100 + seconds + 5, rule);
        // Unsettled from the step until the whole window lies after it: exactly `seconds`.
        const std::size_t turns = std::size_t(seconds) * 1000 / kTurnMs;
        for (std::size_t i = 0; i <= turns; ++i)
            QVERIFY2(!after[i].settled, qPrintable(QString::number(i)));
        QVERIFY(after[turns + 1].settled);
        QCOMPARE(after[0].movedPercent, 30.0);

        // A gap in contact inside the window: not settled until a whole window follows it.
        h.breakLine();
        const auto resumed = poll(analyzer, h, 200, 200 + seconds + 5, rule);
        QVERIFY(!resumed.front().settled);
        QVERIFY(resumed.back().settled);
    }

    // "Less than X % of the range over N s": the band is strict, and the reading held when the
    // window opened counts.
    void settlingBand_data() {
        QTest::addColumn<double>("second");
        QTest::addColumn<std::int64_t>("at");
        QTest::addColumn<bool>("settled");
        QTest::newRow("moved 0.9 %") << 20.9 << std::int64_t(40'000) << true;
        QTest::newRow("moved exactly 1 %") << 21.0 << std::int64_t(40'000) << false;
        QTest::newRow("the value held at the window's start")
            << 22.0 << std::int64_t(30'500) << false;
        // The move came between the readings at 0 s and 10 s: in the window until 10 s leaves it.
        QTest::newRow("a 2 % move at the window's start") << 22.0 << std::int64_t(40'000) << false;
        QTest::newRow("a 2 % move just out") << 22.0 << std::int64_t(40'001) << true;
    }

    void settlingBand() {
        QFETCH(double, second);
        QFETCH(std::int64_t, at);
        QFETCH(bool, settled);
        // 20 at 0 s, the second value at 10 s and again at `at`.
        TrendHistory plain;
        plain.add(kStart, 20.0);
        plain.add(kStart + 10'000, second);
        plain.add(kStart + at, second);
        const Settling s = zta::settlingAt(plain.samples(), kStart + at, 100.0, {});
        QCOMPARE(s.settled, settled);
        QVERIFY(s.covered);
    }

    // Reloads after poll turns: answered turns are readings and news for the next CSV line;
    // missed ones are neither; lost contact splits the line; confirmed commands leave marks.
    void analyzerRecordsFollowTheTurns() {
        zta::AnalyzerRecords r;
        const auto& samples = r.trend()->samples();
        QVERIFY(!r.takeFresh());
        std::int64_t ms = kStart;
        for (int errors : {0, 0, 1, 2}) r.onReload(errors, 10.0, ms += 500);
        QCOMPARE(samples.size(), size_t(2));
        QVERIFY(r.takeFresh());
        QVERIFY(!r.takeFresh());
        for (int errors : {3, 4, 5, 5, 6}) r.onReload(errors, 0.0, ms += 500);
        QVERIFY(!r.takeFresh());
        r.onReload(0, 12.0, ms += 500);
        QCOMPARE(samples.size(), size_t(3));
        QVERIFY(samples[2].gapBefore && !samples[1].gapBefore);
        QVERIFY(r.takeFresh());
        r.onDisconnected();
        r.onReload(0, 13.0, ms += 500);
        QVERIFY(samples[3].gapBefore);

        for (zta::Command c :
             {zta::Command::Zero, zta::Command::NewAddress, zta::Command::MaxGas,
              zta::Command::MidGas, zta::Command::NewBaud, zta::Command::Typical,
              zta::Command::Threshold1, zta::Command::FactoryNumber, zta::Command::Threshold2})
            r.onCommandConfirmed(c, ms);
        QList<TrendMarkKind> kinds;
        for (const zta::TrendMark& m : r.trend()->marks()) kinds << m.kind;
        QCOMPARE(kinds,
                 (QList<TrendMarkKind>{TrendMarkKind::Zero, TrendMarkKind::HighGas,
                                       TrendMarkKind::MiddleGas, TrendMarkKind::Typical,
                                       TrendMarkKind::Threshold1, TrendMarkKind::Threshold2}));
    }

    // A steady reading that stopped coming is not "settled": settled needs a newest reading
    // younger than two poll cycles of the line, as the window's reloads tell it.
    void noFreshReadingsIsNeverSettled() {
        constexpr std::int64_t kCycleMs = 800;
        zta::AnalyzerRecords r;
        std::int64_t ms = kStart;
        for (int i = 0; i < 80; ++i) r.onReload(0, 20.0, ms += kCycleMs, int(kCycleMs));
        const std::int64_t newest = ms;
        QCOMPARE(r.trend()->freshLimitMs(), 2 * kCycleMs);
        // Failed turns keep the line's pace known; their readings do not count.
        for (int errors : {1, 2, 3}) r.onReload(errors, 20.0, ms += kCycleMs, int(kCycleMs));

        zta::TrendView view;
        std::int64_t now = newest;
        view.setClock([&] { return now; });
        view.setHistory(r.trend(), 100.0);
        struct Case {
            std::int64_t age;
            bool settled;
            const char* text;
        };
        const Case cases[] = {{0, true, "Установилось"},
                              {2 * kCycleMs - 1, true, "Установилось"},
                              {2 * kCycleMs, false, "Нет свежих показаний"},
                              {25 * 1000, false, "Нет свежих показаний"}};
        for (const Case& c : cases) {
            now = newest + c.age;
            view.refresh();
            QCOMPARE(view.settling().settled, c.settled);
            QVERIFY2(view.settlingText().startsWith(QString::fromUtf8(c.text)),
                     qPrintable(view.settlingText()));
        }
        zta::TrendView empty;
        empty.setHistory(std::make_shared<TrendHistory>(), 100.0);
        QCOMPARE(empty.settlingText(), QStringLiteral("Нет свежих показаний"));
    }

    void viewFollowsZoomsPansAndMarks() {
        auto h = std::make_shared<TrendHistory>();
        std::int64_t now = kStart + 3600 * 1000;
        for (std::int64_t ms = kStart; ms <= now; ms += 1000) h->add(ms, 20.0);
        h->mark(now - 20 * 60 * 1000, TrendMarkKind::Zero);  // before the shown span
        h->mark(now - 5 * 60 * 1000, TrendMarkKind::HighGas);
        h->mark(now - 60 * 1000, TrendMarkKind::Threshold1);

        zta::TrendView view;
        view.resize(800, 300);
        view.setClock([&] { return now; });
        view.setHistory(h, 100.0);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        QCOMPARE(view.span(), 10 * 60 * 1000LL);
        QCOMPARE(view.shownTo(), now);
        QCOMPARE(view.shownMarks().size(), size_t(2));
        QCOMPARE(view.shownMarks()[0].kind, TrendMarkKind::HighGas);
        QCOMPARE(view.shownMarks()[1].kind, TrendMarkKind::Threshold1);
        QVERIFY(view.settling().settled);
        QVERIFY(view.settlingText().startsWith(QStringLiteral("Установилось")));

        // Following: new readings move the span along.
        now += 2000;
        h->add(now, 20.0);
        view.refresh();
        QCOMPARE(view.shownTo(), now);

        view.zoomBy(3.0);  // 30 min: the zero mark comes into view
        QCOMPARE(view.span(), 30 * 60 * 1000LL);
        QCOMPARE(view.shownMarks().size(), size_t(3));
        view.panBy(-1.0);  // the half hour before: no marks, and no longer following
        QVERIFY(!view.following());
        QCOMPARE(view.shownTo(), now - 30 * 60 * 1000);
        QCOMPARE(view.shownMarks().size(), size_t(0));
        now += 5000;
        view.refresh();
        QCOMPARE(view.shownTo(), now - 5000 - 30 * 60 * 1000);  // stays where it was panned
        QTest::keyClick(&view, Qt::Key_End);
        QVERIFY(view.following());
        QCOMPARE(view.shownTo(), now);
        view.zoomBy(1e-6);
        QCOMPARE(view.span(), zta::TrendView::kMinSpanMs);

        // A mark of a confirmed command appears on the next refresh.
        h->mark(now, TrendMarkKind::MiddleGas);
        view.refresh();
        QCOMPARE(view.shownMarks().back().kind, TrendMarkKind::MiddleGas);
    }

    void gapsSplitTheLineAndManyReadingsAreMerged() {
        auto h = std::make_shared<TrendHistory>();
        const std::int64_t now = kStart + 600 * 1000;
        for (std::int64_t ms = kStart; ms <= now; ms += 100) {
            if (ms == kStart + 300 * 1000) h->breakLine();
            h->add(ms, (ms / 100) % 2 ? 10.0 : 30.0);
        }
        zta::TrendView view;
        view.resize(600, 300);
        view.setClock([&] { return now; });
        view.setHistory(h);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.refresh();
        // 6001 readings on some 500 pixels: at most a low and a high per pixel and stretch.
        QVERIFY(view.drawnPointCount() > 100);
        QVERIFY(view.drawnPointCount() <= 2 * 2 * 600);
        QVERIFY(!view.settling().settled);
    }

    void exports() {
        auto h = std::make_shared<TrendHistory>();
        const std::int64_t now = kStart + 60 * 1000;
        h->add(now - 11 * 60 * 1000, 99.0);  // outside the shown span
        h->add(now - 2000, 20.04);
        h->mark(now - 1000, TrendMarkKind::Zero);
        h->add(now, 0.55);
        zta::TrendView view;
        view.resize(640, 320);
        view.setClock([&] { return now; });
        view.setHistory(h);
        QTemporaryDir dir;
        const QString csv = dir.path() + QStringLiteral("/trend.csv");
        QVERIFY(view.exportCsv(csv, QLatin1Char(',')));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray stamp0 =
            zta::csvTimestamp(QDateTime::fromMSecsSinceEpoch(now - 2000)).toUtf8();
        const QList<QByteArray> lines = f.readAll().split('\n');
        QCOMPARE(lines.size(), 5);  // header, three rows, nothing after the last line end
        QCOMPARE(lines[0], QByteArray("\xEF\xBB\xBFДата и время;Концентрация, %НКПР;Команда\r"));
        QCOMPARE(lines[1], stamp0 + ";20,0;\r");
        QVERIFY(lines[2].endsWith(";;Нуль\r"));
        QVERIFY(lines[3].endsWith(";0,6;\r"));

        const QString picture = dir.path() + QStringLiteral("/trend.png");
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QVERIFY(view.exportPng(picture));
        QImage png(picture);
        QVERIFY(!png.isNull());
        QVERIFY(png.width() > 300);
    }
};

QTEST_MAIN(TrendTest)
#include "trend_test.moc"
