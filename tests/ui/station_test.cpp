// SPDX-License-Identifier: GPL-3.0-or-later
// The station core on its own, without a window: what it refuses, what it signals.
#include "app/station.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/bus_search.h"
#include "sim/bus.h"
#include "ui/dialogs.h"

using namespace zta;

namespace {

constexpr int kWaitMs = 30000;

struct Fixture {
    Fixture() {
        setDialogs(&dialogs);
        StationOptions options;
        options.calDataPath = dir.filePath(QStringLiteral("cal.cfg"));
        options.programFolder = dir.path();
        station = std::make_unique<Station>(options);
        PollTiming timing;
        timing.pacingBaseMs = 20;
        timing.pacingPerWindowMs = 0;
        station->setPollTiming(timing);
    }
    ~Fixture() {
        station.reset();
        setDialogs(nullptr);
    }
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<Station> station;
};

}  // namespace

class StationTest : public QObject {
    Q_OBJECT
  private slots:
    void portListAndRate();
    void connectionSignalsAndRefusals();
    void lineFailureEndsTheRunWithoutADisconnectNotice();
};

void StationTest::portListAndRate() {
    {
        Fixture fx;
        Station& s = *fx.station;
        QCOMPARE(s.setPorts({}), QStringLiteral("Ни одного COM порта не обнаружено"));
        QVERIFY(s.noPorts());
        QCOMPARE(s.portCount(), -1);
        QCOMPARE(s.connectLine(), LineRefusal::NoPorts);
        QCOMPARE(s.startSearch({}), LineRefusal::NoPorts);
        QVERIFY(!s.isPolling() && !s.isSearching());
    }
    Fixture fx;
    Station& s = *fx.station;
    QSignalSpy portChanged(&s, &Station::portChanged);
    QStringList many;
    for (int i = 0; i < 51; ++i) many << QStringLiteral("ttyS%1").arg(i);
    QCOMPARE(s.setPorts(many),
             QStringLiteral("Слишком много COM портов! Доступны будут только первые 50."));
    QCOMPARE(s.portCount(), 50);
    QCOMPARE(s.selectedPort(), 0);
    QCOMPARE(s.portName(), QStringLiteral("ttyS0"));
    QCOMPARE(portChanged.count(), 1);
    s.selectPort(50);  // the one cut off
    s.selectPort(-1);
    QCOMPARE(s.selectedPort(), 0);
    QCOMPARE(portChanged.count(), 1);
    s.selectPort(49);
    QCOMPARE(s.portName(), QStringLiteral("ttyS49"));
    QCOMPARE(s.block().portName(), storedPortName("ttyS49"));

    QSignalSpy baudChanged(&s, &Station::baudChanged);
    s.setBaud(4);
    QCOMPARE(s.block().baudRate(), 19200u);
    s.setBaud(5);
    s.setBaud(-1);
    QCOMPARE(s.baudPosition(), 4);
    QCOMPARE(baudChanged.count(), 1);
}

void StationTest::connectionSignalsAndRefusals() {
    auto bus = sim::Bus::openPty();
    QVERIFY(bus);
    bus->addAnalyzer({});
    bus->start();
    Fixture fx;
    Station& s = *fx.station;
    s.setPorts({QString::fromStdString(bus->portPath())});
    QSignalSpy polling(&s, &Station::pollingChanged);
    QSignalSpy disconnected(&s, &Station::disconnected);

    QCOMPARE(s.connectLine(), LineRefusal::None);
    QVERIFY(s.isPolling());
    QCOMPARE(polling.count(), 1);
    QCOMPARE(s.connectLine(), LineRefusal::Polling);
    QCOMPARE(s.startSearch({}), LineRefusal::Polling);
    QVERIFY(s.disconnectLine());
    QVERIFY(!s.isPolling());
    QCOMPARE(polling.count(), 2);
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(s.disconnectLine());  // nothing to stop: no second notice
    QCOMPARE(disconnected.count(), 1);

    // A search holds the line until it is stopped; then the results are there to read.
    QCOMPARE(s.startSearch({}), LineRefusal::None);
    QCOMPARE(s.startSearch({}), LineRefusal::Searching);
    QCOMPARE(s.connectLine(), LineRefusal::Searching);
    QVERIFY(s.search().stop(kWaitMs));
    QVERIFY(!s.isSearching());
    QVERIFY(s.search().params());
    QCOMPARE(s.connectLine(), LineRefusal::None);
    QVERIFY(fx.dialogs.boxes().empty());
}

void StationTest::lineFailureEndsTheRunWithoutADisconnectNotice() {
    Fixture fx;
    Station& s = *fx.station;
    s.setPorts({QStringLiteral("/dev/zta-no-such-port")});
    QSignalSpy polling(&s, &Station::pollingChanged);
    QSignalSpy disconnected(&s, &Station::disconnected);
    QCOMPARE(s.connectLine(), LineRefusal::None);
    QTRY_VERIFY_WITH_TIMEOUT(!s.isPolling(), kWaitMs);
    QCOMPARE(polling.count(), 2);
    // The windows keep their readings after a failure: only a requested stop tells them.
    QCOMPARE(disconnected.count(), 0);
    QCOMPARE(fx.dialogs.boxes().size(), size_t(1));
    QCOMPARE(s.connectLine(), LineRefusal::None);  // the line can be tried again
}

QTEST_MAIN(StationTest)
#include "station_test.moc"
