// SPDX-License-Identifier: GPL-3.0-or-later
// The bridge between workers and the UI thread: synchronous requests wait for the UI thread,
// waits of the UI thread keep serving them, and closing releases every waiting worker.

#include "app/station_bridge.h"

#include <QTest>
#include <atomic>
#include <thread>

#include "poll/worker.h"

using namespace zta;

class StationBridgeTest : public QObject {
    Q_OBJECT
  private slots:
    void syncRequestRunsOnUiThreadFromEventLoop();
    void waitForWorkerServesItsRequests();
    void waitForWorkerTimesOutAndLaterWaitsAgain();
    void closeReleasesWaitingWorkers();
    void postedWorkRunsInOrderUntilClosed();
};

void StationBridgeTest::syncRequestRunsOnUiThreadFromEventLoop() {
    UiBridge bridge;
    std::atomic<bool> ranOnUi{false};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        const bool ok =
            bridge.callSync([&] { ranOnUi = QThread::currentThread() == qApp->thread(); });
        returned = ok;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 5000);
    worker.join();
    QVERIFY(ranOnUi.load());
    // On the UI thread itself a request runs at once.
    int n = 0;
    QVERIFY(bridge.callSync([&] { ++n; }));
    QCOMPARE(n, 1);
}

void StationBridgeTest::waitForWorkerServesItsRequests() {
    UiBridge bridge;
    zta::WorkerThread worker;
    int served = 0;  // touched on the UI thread only
    QVERIFY(worker.start([&] {
        for (int i = 0; i < 20; ++i) bridge.callSync([&] { ++served; });
    }));
    // No event loop runs here: only the wait itself can serve the worker.
    QVERIFY(bridge.waitForWorker(worker, 10000));
    QCOMPARE(served, 20);
    QVERIFY(!worker.isRunning());
}

void StationBridgeTest::waitForWorkerTimesOutAndLaterWaitsAgain() {
    UiBridge bridge;
    zta::WorkerThread worker;
    std::atomic<bool> release{false};
    QVERIFY(worker.start([&] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }));
    QVERIFY(!bridge.waitForWorker(worker, 50));
    QVERIFY(worker.isRunning());
    release = true;
    QVERIFY(bridge.waitForWorker(worker, 10000));
}

void StationBridgeTest::closeReleasesWaitingWorkers() {
    auto bridge = std::make_unique<UiBridge>();
    std::atomic<int> results{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i)
        workers.emplace_back([&] {
            const bool ran = bridge->callSync([] {});
            ++results;
            refused += ran ? 0 : 1;
        });
    // Let them queue, without serving, then close: nobody may stay blocked.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    bridge->close();
    for (auto& w : workers) w.join();
    QCOMPARE(results.load(), 3);
    QCOMPARE(refused.load(), 3);
    int n = 0;  // on the UI thread: refused as well
    QVERIFY(!bridge->callSync([&] { ++n; }));
    QCOMPARE(n, 0);
    QCOMPARE(bridge->serve(), 0);
}

void StationBridgeTest::postedWorkRunsInOrderUntilClosed() {
    UiBridge bridge;
    std::vector<int> order;
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i) bridge.post([&order, i] { order.push_back(i); });
    });
    worker.join();
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), size_t(5), 5000);
    QCOMPARE(order, (std::vector<int>{0, 1, 2, 3, 4}));
    std::thread late([&] { bridge.post([&order] { order.push_back(99); }); });
    late.join();
    bridge.close();
    QTest::qWait(20);
    QCOMPARE(order.size(), size_t(5));
}

QTEST_MAIN(StationBridgeTest)
#include "station_bridge_test.moc"
