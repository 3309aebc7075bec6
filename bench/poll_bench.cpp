// Poll cycle time against its model, and the poll thread's processor time, with simulated
// analyzers on a pseudo-terminal. Prints figures; asserts nothing.
//
//   poll_bench [cpu-seconds]      (default 15)

#include <time.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
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
double ThreadCpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }
double ProcessCpuSeconds() { return ThreadCpuSeconds(); }
#else
double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}
double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
#endif

// Notes the moments slot 0 is done, and the poll thread's processor time with them.
class TimingSink : public PollSink {
public:
    struct Mark {
        Clock::time_point when;
        double cpu;
    };
    void DataChanged(ViewId, int slot) override {
        const Mark now{Clock::now(), ThreadCpuSeconds()};
        std::lock_guard lock(mutex_);
        if (notices_++ == 0) first_ = now;
        last_ = now;
        if (slot == 0) marks_.push_back(now);
    }
    void BaudAccepted(ViewId, int, int) override {}
    void LineFailed() override {
        std::lock_guard lock(mutex_);
        failed_ = true;
    }
    void ShowError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "poll_bench: %s\n", text.c_str());
    }
    std::vector<Mark> Marks() {
        std::lock_guard lock(mutex_);
        return marks_;
    }
    long Notices() {
        std::lock_guard lock(mutex_);
        return notices_;
    }
    std::pair<Mark, Mark> Span() {
        std::lock_guard lock(mutex_);
        return {first_, last_};
    }
    bool Failed() {
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

bool StartPolling(Setup& s, int n, unsigned baud, DirectionSetting direction) {
    std::string error;
    s.bus = sim::Bus::OpenPty("", &error);
    if (!s.bus) {
        std::fprintf(stderr, "poll_bench: %s\n", error.c_str());
        return false;
    }
    for (int a = 1; a <= n; ++a) {
        sim::AnalyzerConfig c;
        c.address = a;
        c.baud = baud;
        s.bus->AddAnalyzer(c);
    }
    s.bus->Start();
    s.block.SetPortName(s.bus->PortPath());
    s.block.SetBaudRate(baud);
    for (int a = 1; a <= n; ++a) s.block.SetAddress(*s.block.Register(static_cast<ViewId>(a)), a);
    PollTiming timing;  // the station's own pacing
    timing.line.direction = direction;
    s.poll = std::make_unique<PollThread>(s.block, s.sink, timing);
    return s.poll->Start();
}

bool WaitMarks(TimingSink& sink, size_t count, double limitS) {
    const auto until = Clock::now() + std::chrono::duration<double>(limitS);
    while (sink.Marks().size() < count && !sink.Failed() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return sink.Marks().size() >= count;
}

void CycleFigures(int n, unsigned baud, DirectionSetting direction) {
    Setup s;
    if (!StartPolling(s, n, baud, direction)) return;
    // Several short cycles for one analyzer, so that one late wake-up does not make the figure.
    const int kCycles = n == 1 ? 10 : 2;
    // One cycle to settle (the first turn opens the line), then the measured ones.
    const double wireMs = (WireTimeUs(8, baud) + WireTimeUs(kLongReplyLength, baud)) / 1000.0;
    const double modelMs = n * (kPollSettleMs + wireMs + PacingMs(n));
    // The RTS hold pause and its 1 ms overlap the reply's wire time; the lead pause does not.
    const int leadMs = direction == DirectionSetting::Program ? TimingFor(baud).rtsLeadMs : 0;
    const double modelRtsMs = modelMs + n * leadMs;
    const bool ok = WaitMarks(s.sink, kCycles + 2, (kCycles + 2) * modelRtsMs / 1000.0 * 3 + 5);
    s.poll->Stop(10000);
    if (!ok) {
        std::printf("%2d analyzers @ %5u: no complete cycles\n", n, baud);
        return;
    }
    const auto marks = s.sink.Marks();
    const double measuredMs =
        std::chrono::duration<double, std::milli>(marks[kCycles + 1].when - marks[1].when).count() /
        kCycles;
    std::printf("%2d @ %5u: cycle %8.1f ms; n x (wire %4.1f + settle %d + pacing %3d) = %8.1f ms "
                "%+6.2f %%",
                n, baud, measuredMs, wireMs, kPollSettleMs, PacingMs(n), modelMs,
                100.0 * (measuredMs - modelMs) / modelMs);
    if (leadMs)
        std::printf("; with RTS lead %d ms = %8.1f ms %+6.2f %%", leadMs, modelRtsMs,
                    100.0 * (measuredMs - modelRtsMs) / modelRtsMs);
    std::printf("\n");
}

void CpuFigures(double seconds) {
    Setup s;
    constexpr int n = 50;
    if (!StartPolling(s, n, 19200, DirectionSetting::Driver)) return;
    WaitMarks(s.sink, 1, 30);
    const double process0 = ProcessCpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double process1 = ProcessCpuSeconds();
    const auto wall = std::chrono::duration<double>(Clock::now() - start).count();
    s.poll->Stop(10000);
    const auto [first, last] = s.sink.Span();
    const double threadCpu = last.cpu - first.cpu;
    const double threadWall = std::chrono::duration<double>(last.when - first.when).count();
    if (threadWall <= 0) {
        std::printf("cpu: no notices\n");
        return;
    }
    std::printf("cpu, 50 analyzers @ 19200 for %.1f s: poll thread %.3f s = %.3f %% of one core "
                "(%ld notices); whole process with the simulator %.3f %%\n",
                threadWall, threadCpu, 100.0 * threadCpu / threadWall, s.sink.Notices(),
                100.0 * (process1 - process0) / wall);
}

}  // namespace

int main(int argc, char** argv) {
    const double cpuSeconds = argc > 1 ? std::atof(argv[1]) : 15.0;
    for (DirectionSetting direction : {DirectionSetting::Driver, DirectionSetting::Program}) {
        std::printf("poll cycle, extended analyzers (55-byte replies), direction switched by the %s\n",
                    direction == DirectionSetting::Driver ? "driver" : "station (RTS)");
        for (unsigned baud : {9600u, 19200u})
            for (int n : {1, 10, 50}) CycleFigures(n, baud, direction);
    }
    if (cpuSeconds > 0) CpuFigures(cpuSeconds);
    return 0;
}
