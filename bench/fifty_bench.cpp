// SPDX-License-Identifier: GPL-3.0-or-later
// A bench of fifty analyzers: the fast-polling cycle against the line's limit, the poll cycle
// with the traffic monitor open and closed, the UI thread's time per data notice with the bus
// overview open, and the memory of a full frame ring. Prints figures; asserts nothing.
//
//   fifty_bench [seconds-per-ui-figure]      (default 10)

#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "link/modbus.h"
#include "poll/frame_ring.h"
#include "poll/poll_thread.h"
#include "sim/bus.h"
#include "ui/bus_overview_model.h"
#include "ui/traffic_monitor.h"

using namespace zta;
using Clock = std::chrono::steady_clock;

namespace {

// Runs the UI thread's event loop (blocking in it, as the station does) for `ms`.
void runEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double threadCpuSeconds() {
#ifdef _WIN32
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
#endif
}

long residentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4;
}

// Notes when slot 0 is done; optionally hands each notice to the UI thread as the station does.
class Sink : public PollSink {
  public:
    std::function<void(AnalyzerId, int)> onData;  // runs on the poll thread

    void dataChanged(const SlotUpdate& update) override {
        const int slot = update.slot;
        if (onData) onData(update.data.analyzer, slot);
        std::lock_guard lock(mutex_);
        ++notices_;
        if (slot == 0) marks_.push_back(Clock::now());
    }
    void baudAccepted(AnalyzerId, int, int) override {}
    void lineFailed() override {}
    void showError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "fifty_bench: %s\n", text.c_str());
    }
    std::vector<Clock::time_point> marks() {
        std::lock_guard lock(mutex_);
        return marks_;
    }
    long notices() {
        std::lock_guard lock(mutex_);
        return notices_;
    }

  private:
    std::mutex mutex_;
    std::vector<Clock::time_point> marks_;
    long notices_ = 0;
};

struct Bench {
    std::unique_ptr<sim::Bus> bus;
    PollBlock block;
    Sink sink;
    FrameRing ring;
    std::unique_ptr<PollThread> poll;

    bool start(int n, unsigned baud, bool fast, bool observe) {
        std::string error;
        bus = sim::Bus::openPty("", &error);
        if (!bus) {
            std::fprintf(stderr, "fifty_bench: %s\n", error.c_str());
            return false;
        }
        for (int a = 1; a <= n; ++a) {
            sim::AnalyzerConfig c;
            c.address = a;
            c.baud = baud;
            bus->addAnalyzer(c);
        }
        bus->start();
        block.setPortName(bus->portPath());
        block.setBaudRate(baud);
        block.setFastPolling(fast);
        for (int a = 1; a <= n; ++a)
            block.setAddress(*block.registerSlot(static_cast<AnalyzerId>(a)), a);
        PollTiming timing;
        timing.line.direction = DirectionSetting::Driver;
        if (observe) timing.line.observer = &ring;
        poll = std::make_unique<PollThread>(block, sink, timing);
        return poll->start();
    }
    // Waits (serving the UI thread's events when there is one) for `count` passes of slot 0.
    bool waitMarks(size_t count, double limitS) {
        const auto until = Clock::now() + std::chrono::duration<double>(limitS);
        while (sink.marks().size() < count && Clock::now() < until) {
            if (QCoreApplication::instance())
                runEvents(20);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return sink.marks().size() >= count;
    }
    double meanCycleMs(int first, int cycles) {
        const auto marks = sink.marks();
        return std::chrono::duration<double, std::milli>(marks[first + cycles] - marks[first])
                   .count() /
               cycles;
    }
    ~Bench() {
        if (poll)
            poll->stop(10000, [] {
                if (QCoreApplication::instance()) QCoreApplication::processEvents();
            });
    }
};

double wireMs(unsigned baud) {
    return (wireTimeUs(kEchoLength, baud) + wireTimeUs(kLongReplyLength, baud)) / 1000.0;
}

void fastCycles() {
    std::printf(
        "fast polling, extended analyzers (8-byte request, 55-byte reply), driver direction\n");
    for (unsigned baud : {9600u, 19200u}) {
        for (int n : {1, 10, 50}) {
            Bench b;
            if (!b.start(n, baud, true, false)) return;
            const int cycles = n == 1 ? 40 : n == 10 ? 6 : 3;
            const double modelMs = n * (wireMs(baud) + kPollSettleMs + fastPacingUs(baud) / 1000.0);
            if (!b.waitMarks(cycles + 2, (cycles + 2) * modelMs / 1000.0 * 4 + 10)) {
                std::printf("%2d @ %5u: no complete cycles\n", n, baud);
                continue;
            }
            const double ms = b.meanCycleMs(1, cycles);
            const double seedMs = n * (wireMs(baud) + kPollSettleMs + pacingMs(n));
            std::printf(
                "%2d @ %5u: cycle %7.1f ms; n x (wire %4.1f + settle %d + 3.5 chars %.2f) "
                "= %7.1f ms %+6.2f %%; seed pacing would be %7.1f ms\n",
                n, baud, ms, wireMs(baud), kPollSettleMs, fastPacingUs(baud) / 1000.0, modelMs,
                100.0 * (ms - modelMs) / modelMs, seedMs);
        }
    }
}

void monitorOpenAgainstClosed() {
    std::printf("poll cycle, 10 analyzers @ 19200, fast polling: traffic monitor closed / open\n");
    constexpr int kCycles = 20;
    for (int open = 0; open < 2; ++open) {
        Bench b;
        std::unique_ptr<TrafficMonitor> monitor;
        if (open) {
            monitor = std::make_unique<TrafficMonitor>(b.ring);
            monitor->show();
        }
        if (!b.start(10, 19200, true, open)) return;
        if (!b.waitMarks(kCycles + 2, 60)) {
            std::printf("  no complete cycles\n");
            continue;
        }
        std::printf("  monitor %-6s: cycle %.2f ms (%s)\n", open ? "open" : "closed",
                    b.meanCycleMs(1, kCycles),
                    open ? QStringLiteral("%1 lines shown")
                               .arg(monitor->lines()->blockCount())
                               .toUtf8()
                               .constData()
                         : "no ring");
    }
}

void uiTimePerNotice(double seconds) {
    std::printf(
        "UI thread with the bus overview open (1600x1000), 50 analyzers; each notice "
        "copies its slot on the UI thread as a view does\n");
    for (unsigned baud : {9600u, 19200u}) {
        for (bool fast : {false, true}) {
            Bench b;
            BusOverviewModel model;
            model.setSource([&b] {
                std::vector<OverviewRow> rows;
                for (int i = 0; i < b.block.windowCount(); ++i)
                    rows.push_back({b.block.view(i), b.block.snapshot(i), true});
                return rows;
            });
            QSortFilterProxyModel proxy;
            proxy.setSourceModel(&model);
            proxy.setSortRole(BusOverviewModel::SortRole);
            QTableView view;
            view.setModel(&proxy);
            view.setSortingEnabled(true);
            view.verticalHeader()->setDefaultSectionSize(18);
            view.resize(1600, 1000);
            view.show();
            std::vector<Slot> copies(kMaxSlots);
            QObject receiver;
            b.sink.onData = [&](AnalyzerId, int slot) {
                QMetaObject::invokeMethod(
                    &receiver,
                    [&, slot] {
                        copies[slot] = b.block.snapshot(slot);
                        model.markDirty();
                    },
                    Qt::BlockingQueuedConnection);
            };
            if (!b.start(50, baud, fast, true) || !b.waitMarks(2, 60)) {
                std::printf("  no notices\n");
                continue;
            }
            const long notices0 = b.sink.notices();
            const int refreshes0 = model.refreshes();
            const double cpu0 = threadCpuSeconds();
            const auto wall0 = Clock::now();
            runEvents(static_cast<int>(seconds * 1000));
            const double cpu = threadCpuSeconds() - cpu0;
            const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
            const long notices = b.sink.notices() - notices0;
            std::printf(
                "  @ %5u %-12s: %5.1f notices/s, %4.1f overview refreshes/s, UI thread "
                "busy %5.2f %%, %6.1f us a notice\n",
                baud, fast ? "fast polling" : "seed pacing", notices / wall,
                (model.refreshes() - refreshes0) / wall, 100.0 * cpu / wall,
                notices ? 1e6 * cpu / notices : 0.0);
            b.poll->stop(10000, [] { QCoreApplication::processEvents(); });
            b.sink.onData = nullptr;
        }
    }
}

void memory() {
    const long before = residentKb();
    auto block = std::make_unique<PollBlock>();
    for (int a = 1; a <= kMaxSlots; ++a)
        block->setAddress(*block->registerSlot(static_cast<AnalyzerId>(a)), a);
    auto ring = std::make_unique<FrameRing>();
    const Request request = readRequest(1, kReadingsRegister, kLongReadCount);
    std::vector<uint8_t> reply(kLongReplyLength, 0x55);
    ExchangeResult x;
    x.writeOk = true;
    x.count = reply.size();
    x.replyUs = 60000;
    for (size_t i = 0; i < ring->capacity() * 2; ++i) ring->exchanged(request, reply.data(), x);
    const long after = residentKb();
    std::printf(
        "memory: poll block with 50 slots %zu bytes (slot %zu), frame ring of %zu frames "
        "%zu bytes (frame %zu); resident set grew %ld kB\n",
        sizeof(PollBlock), sizeof(Slot), ring->capacity(), ring->capacity() * sizeof(FrameRecord),
        sizeof(FrameRecord), after - before);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    memory();
    fastCycles();
    QApplication app(argc, argv);
    monitorOpenAgainstClosed();
    if (seconds > 0) uiTimePerNotice(seconds);
    return 0;
}
