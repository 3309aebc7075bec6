// A bench of fifty analyzers: the fast-polling cycle against the line's limit, the poll cycle
// with the traffic monitor open and closed, the UI thread's time per data notice with the bus
// overview open, and the memory of a full frame ring. Prints figures; asserts nothing.
//
//   fifty_bench [seconds-per-ui-figure]      (default 10)

#include <time.h>

#include <QApplication>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QEventLoop>
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
void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double ThreadCpuSeconds() {
#ifdef _WIN32
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#else
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
#endif
}

long ResidentKb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4;
}

// Notes when slot 0 is done; optionally hands each notice to the UI thread as the station does.
class Sink : public PollSink {
public:
    std::function<void(ViewId, int)> onData;  // runs on the poll thread

    void DataChanged(ViewId view, int slot) override {
        if (onData) onData(view, slot);
        std::lock_guard lock(mutex_);
        ++notices_;
        if (slot == 0) marks_.push_back(Clock::now());
    }
    void BaudAccepted(ViewId, int, int) override {}
    void LineFailed() override {}
    void ShowError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "fifty_bench: %s\n", text.c_str());
    }
    std::vector<Clock::time_point> Marks() {
        std::lock_guard lock(mutex_);
        return marks_;
    }
    long Notices() {
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

    bool Start(int n, unsigned baud, bool fast, bool observe) {
        std::string error;
        bus = sim::Bus::OpenPty("", &error);
        if (!bus) {
            std::fprintf(stderr, "fifty_bench: %s\n", error.c_str());
            return false;
        }
        for (int a = 1; a <= n; ++a) {
            sim::AnalyzerConfig c;
            c.address = a;
            c.baud = baud;
            bus->AddAnalyzer(c);
        }
        bus->Start();
        block.SetPortName(bus->PortPath());
        block.SetBaudRate(baud);
        block.SetFastPolling(fast);
        for (int a = 1; a <= n; ++a) block.SetAddress(*block.Register(static_cast<ViewId>(a)), a);
        PollTiming timing;
        timing.line.direction = DirectionSetting::Driver;
        if (observe) timing.line.observer = &ring;
        poll = std::make_unique<PollThread>(block, sink, timing);
        return poll->Start();
    }
    // Waits (serving the UI thread's events when there is one) for `count` passes of slot 0.
    bool WaitMarks(size_t count, double limitS) {
        const auto until = Clock::now() + std::chrono::duration<double>(limitS);
        while (sink.Marks().size() < count && Clock::now() < until) {
            if (QCoreApplication::instance())
                RunEvents(20);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return sink.Marks().size() >= count;
    }
    double MeanCycleMs(int first, int cycles) {
        const auto marks = sink.Marks();
        return std::chrono::duration<double, std::milli>(marks[first + cycles] - marks[first])
                   .count() /
               cycles;
    }
    ~Bench() {
        if (poll) poll->Stop(10000, [] {
            if (QCoreApplication::instance()) QCoreApplication::processEvents();
        });
    }
};

double WireMs(unsigned baud) {
    return (WireTimeUs(kEchoLength, baud) + WireTimeUs(kLongReplyLength, baud)) / 1000.0;
}

void FastCycles() {
    std::printf("fast polling, extended analyzers (8-byte request, 55-byte reply), driver direction\n");
    for (unsigned baud : {9600u, 19200u}) {
        for (int n : {1, 10, 50}) {
            Bench b;
            if (!b.Start(n, baud, true, false)) return;
            const int cycles = n == 1 ? 40 : n == 10 ? 6 : 3;
            const double modelMs = n * (WireMs(baud) + kPollSettleMs + FastPacingUs(baud) / 1000.0);
            if (!b.WaitMarks(cycles + 2, (cycles + 2) * modelMs / 1000.0 * 4 + 10)) {
                std::printf("%2d @ %5u: no complete cycles\n", n, baud);
                continue;
            }
            const double ms = b.MeanCycleMs(1, cycles);
            const double seedMs = n * (WireMs(baud) + kPollSettleMs + PacingMs(n));
            std::printf("%2d @ %5u: cycle %7.1f ms; n x (wire %4.1f + settle %d + 3.5 chars %.2f) "
                        "= %7.1f ms %+6.2f %%; seed pacing would be %7.1f ms\n",
                        n, baud, ms, WireMs(baud), kPollSettleMs, FastPacingUs(baud) / 1000.0,
                        modelMs, 100.0 * (ms - modelMs) / modelMs, seedMs);
        }
    }
}

void MonitorOpenAgainstClosed() {
    std::printf("poll cycle, 10 analyzers @ 19200, fast polling: traffic monitor closed / open\n");
    constexpr int kCycles = 20;
    for (int open = 0; open < 2; ++open) {
        Bench b;
        std::unique_ptr<TrafficMonitor> monitor;
        if (open) {
            monitor = std::make_unique<TrafficMonitor>(b.ring);
            monitor->show();
        }
        if (!b.Start(10, 19200, true, open)) return;
        if (!b.WaitMarks(kCycles + 2, 60)) {
            std::printf("  no complete cycles\n");
            continue;
        }
        std::printf("  monitor %-6s: cycle %.2f ms (%s)\n", open ? "open" : "closed",
                    b.MeanCycleMs(1, kCycles),
                    open ? QStringLiteral("%1 lines shown").arg(monitor->lines()->blockCount()).toUtf8().constData()
                         : "no ring");
    }
}

void UiTimePerNotice(double seconds) {
    std::printf("UI thread with the bus overview open (1600x1000), 50 analyzers; each notice "
                "copies its slot on the UI thread as a view does\n");
    for (unsigned baud : {9600u, 19200u}) {
        for (bool fast : {false, true}) {
            Bench b;
            BusOverviewModel model;
            model.SetSource([&b] {
                std::vector<OverviewRow> rows;
                for (int i = 0; i < b.block.WindowCount(); ++i)
                    rows.push_back({b.block.View(i), b.block.Snapshot(i), true});
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
            b.sink.onData = [&](ViewId, int slot) {
                QMetaObject::invokeMethod(
                    &receiver,
                    [&, slot] {
                        copies[slot] = b.block.Snapshot(slot);
                        model.MarkDirty();
                    },
                    Qt::BlockingQueuedConnection);
            };
            if (!b.Start(50, baud, fast, true) || !b.WaitMarks(2, 60)) {
                std::printf("  no notices\n");
                continue;
            }
            const long notices0 = b.sink.Notices();
            const int refreshes0 = model.Refreshes();
            const double cpu0 = ThreadCpuSeconds();
            const auto wall0 = Clock::now();
            RunEvents(static_cast<int>(seconds * 1000));
            const double cpu = ThreadCpuSeconds() - cpu0;
            const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
            const long notices = b.sink.Notices() - notices0;
            std::printf("  @ %5u %-12s: %5.1f notices/s, %4.1f overview refreshes/s, UI thread "
                        "busy %5.2f %%, %6.1f us a notice\n",
                        baud, fast ? "fast polling" : "seed pacing", notices / wall,
                        (model.Refreshes() - refreshes0) / wall, 100.0 * cpu / wall,
                        notices ? 1e6 * cpu / notices : 0.0);
            b.poll->Stop(10000, [] { QCoreApplication::processEvents(); });
            b.sink.onData = nullptr;
        }
    }
}

void Memory() {
    const long before = ResidentKb();
    auto block = std::make_unique<PollBlock>();
    for (int a = 1; a <= kMaxSlots; ++a) block->SetAddress(*block->Register(static_cast<ViewId>(a)), a);
    auto ring = std::make_unique<FrameRing>();
    const Request request = ReadRequest(1, kReadingsRegister, kLongReadCount);
    std::vector<uint8_t> reply(kLongReplyLength, 0x55);
    ExchangeResult x;
    x.writeOk = true;
    x.count = reply.size();
    x.replyUs = 60000;
    for (size_t i = 0; i < ring->Capacity() * 2; ++i) ring->Exchanged(request, reply.data(), x);
    const long after = ResidentKb();
    std::printf("memory: poll block with 50 slots %zu bytes (slot %zu), frame ring of %zu frames "
                "%zu bytes (frame %zu); resident set grew %ld kB\n",
                sizeof(PollBlock), sizeof(Slot), ring->Capacity(),
                ring->Capacity() * sizeof(FrameRecord), sizeof(FrameRecord), after - before);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Memory();
    FastCycles();
    QApplication app(argc, argv);
    MonitorOpenAgainstClosed();
    if (seconds > 0) UiTimePerNotice(seconds);
    return 0;
}
