// SPDX-License-Identifier: GPL-3.0-or-later
// Poll cycle time against its model, and the poll thread's processor time, with simulated
// analyzers on a pseudo-terminal. Prints figures; asserts nothing.
//
//   poll_bench [cpu-seconds]      (default 15)

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "link/modbus.h"
#include "poll/poll_thread.h"
#include "sim/bus.h"

using namespace zta;
using Clock = std::chrono::steady_clock;

namespace {

#ifdef _WIN32
// Without per-thread clocks the whole process is what is measured.
double threadCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
double processCpuSeconds() { return threadCpuSeconds(); }
#else
double cpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}
double threadCpuSeconds() { return cpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
double processCpuSeconds() { return cpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
#endif

// Notes the moments slot 0 is done, and the poll thread's processor time with them.
class TimingSink : public PollSink {
  public:
    struct Mark {
        Clock::time_point when;
        double cpu;
    };
    void dataChanged(const SlotUpdate& update) override {
        const int slot = update.slot;
        const Mark now{Clock::now(), threadCpuSeconds()};
        std::lock_guard lock(mutex_);
        if (notices_++ == 0) first_ = now;
        last_ = now;
        if (slot == 0) marks_.push_back(now);
    }
    void baudAccepted(AnalyzerId, int, int) override {}
    void lineFailed() override {
        std::lock_guard lock(mutex_);
        failed_ = true;
    }
    void showError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "poll_bench: %s\n", text.c_str());
    }
    std::vector<Mark> marks() {
        std::lock_guard lock(mutex_);
        return marks_;
    }
    long notices() {
        std::lock_guard lock(mutex_);
        return notices_;
    }
    std::pair<Mark, Mark> span() {
        std::lock_guard lock(mutex_);
        return {first_, last_};
    }
    bool failed() {
        std::lock_guard lock(mutex_);
        return failed_;
    }

  private:
    std::mutex mutex_;
    std::vector<Mark> marks_;
    Mark first_{}, last_{};
    long notices_ = 0;
    bool failed_ = false;
};

struct Setup {
    std::unique_ptr<sim::Bus> bus;
    PollBlock block;
    TimingSink sink;
    std::unique_ptr<PollThread> poll;
};

bool startPolling(Setup& s, int n, unsigned baud, DirectionSetting direction) {
    std::string error;
    s.bus = sim::Bus::openPty("", &error);
    if (!s.bus) {
        std::fprintf(stderr, "poll_bench: %s\n", error.c_str());
        return false;
    }
    for (int a = 1; a <= n; ++a) {
        sim::AnalyzerConfig c;
        c.address = a;
        c.baud = baud;
        s.bus->addAnalyzer(c);
    }
    s.bus->start();
    s.block.setPortName(s.bus->portPath());
    s.block.setBaudRate(baud);
    for (int a = 1; a <= n; ++a)
        s.block.setAddress(*s.block.registerSlot(static_cast<AnalyzerId>(a)), a);
    PollTiming timing;  // the station's own pacing
    timing.line.direction = direction;
    s.poll = std::make_unique<PollThread>(s.block, s.sink, timing);
    return s.poll->start();
}

bool waitMarks(TimingSink& sink, size_t count, double limitS) {
    const auto until = Clock::now() + std::chrono::duration<double>(limitS);
    while (sink.marks().size() < count && !sink.failed() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return sink.marks().size() >= count;
}

void cycleFigures(int n, unsigned baud, DirectionSetting direction) {
    Setup s;
    if (!startPolling(s, n, baud, direction)) return;
    // Several short cycles for one analyzer, so that one late wake-up does not make the figure.
    const int kCycles = n == 1 ? 10 : 2;
    // One cycle to settle (the first turn opens the line), then the measured ones.
    const double wireMs = (wireTimeUs(8, baud) + wireTimeUs(kLongReplyLength, baud)) / 1000.0;
    const double modelMs = n * (kPollSettleMs + wireMs + pacingMs(n));
    // The RTS hold pause and its 1 ms overlap the reply's wire time; the lead pause does not.
    const int leadMs = direction == DirectionSetting::Program ? timingFor(baud).rtsLeadMs : 0;
    const double modelRtsMs = modelMs + n * leadMs;
    const bool ok = waitMarks(s.sink, kCycles + 2, (kCycles + 2) * modelRtsMs / 1000.0 * 3 + 5);
    s.poll->stop(10000);
    if (!ok) {
        std::printf("%2d analyzers @ %5u: no complete cycles\n", n, baud);
        return;
    }
    const auto marks = s.sink.marks();
    const double measuredMs =
        std::chrono::duration<double, std::milli>(marks[kCycles + 1].when - marks[1].when).count() /
        kCycles;
    std::printf(
        "%2d @ %5u: cycle %8.1f ms; n x (wire %4.1f + settle %d + pacing %3d) = %8.1f ms "
        "%+6.2f %%",
        n, baud, measuredMs, wireMs, kPollSettleMs, pacingMs(n), modelMs,
        100.0 * (measuredMs - modelMs) / modelMs);
    if (leadMs)
        std::printf("; with RTS lead %d ms = %8.1f ms %+6.2f %%", leadMs, modelRtsMs,
                    100.0 * (measuredMs - modelRtsMs) / modelRtsMs);
    std::printf("\n");
}

void cpuFigures(double seconds) {
    Setup s;
    constexpr int n = 50;
    if (!startPolling(s, n, 19200, DirectionSetting::Driver)) return;
    waitMarks(s.sink, 1, 30);
    const double process0 = processCpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double process1 = processCpuSeconds();
    const auto wall = std::chrono::duration<double>(Clock::now() - start).count();
    s.poll->stop(10000);
    const auto [first, last] = s.sink.span();
    const double threadCpu = last.cpu - first.cpu;
    const double threadWall = std::chrono::duration<double>(last.when - first.when).count();
    if (threadWall <= 0) {
        std::printf("cpu: no notices\n");
        return;
    }
    std::printf(
        "cpu, 50 analyzers @ 19200 for %.1f s: poll thread %.3f s = %.3f %% of one core "
        "(%ld notices); whole process with the simulator %.3f %%\n",
        threadWall, threadCpu, 100.0 * threadCpu / threadWall, s.sink.notices(),
        100.0 * (process1 - process0) / wall);
}

}  // namespace

int main(int argc, char** argv) {
    const double cpuSeconds = argc > 1 ? std::atof(argv[1]) : 15.0;
    for (DirectionSetting direction : {DirectionSetting::Driver, DirectionSetting::Program}) {
        std::printf(
            "poll cycle, extended analyzers (55-byte replies), direction switched by the %s\n",
            direction == DirectionSetting::Driver ? "driver" : "station (RTS)");
        for (unsigned baud : {9600u, 19200u})
            for (int n : {1, 10, 50}) cycleFigures(n, baud, direction);
    }
    if (cpuSeconds > 0) cpuFigures(cpuSeconds);
    return 0;
}
