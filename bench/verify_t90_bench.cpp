// SPDX-License-Identifier: GPL-3.0-or-later
// t0.9 as the station measures it over the bus against the simulator's own (its dead time plus
// its t90), for batches of 1, 10 and 50 on a bench of fifty, at 9600 and 19200 baud, with and
// without focused polling. Real time with the station's own pacing.
// Usage: verify_t90_bench [K]   K: the simulator's time scale, the figures scaled back (1).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/bench_core.h"
#include "sim/bus.h"
#include "verify/measure.h"

namespace {

using namespace zta;

constexpr int kBench = 50;
constexpr double kTrueT90 = 1.0 + 15.0;  // the simulator's dead time and t90, model seconds

struct Collector : BenchListener {
    void readingArrived(const ReadingEvent& e) override {
        if (e.answered())
            samples[e.analyzer].push_back({double(e.steadyMs - baseMs) / 1000.0 * scale,
                                           e.readings.concentration, false, false});
    }
    std::map<AnalyzerId, std::vector<verify::Sample>> samples;
    std::int64_t baseMs = steadyNowMs();
    double scale = 1.0;
};

void run(unsigned baud, int batch, bool focus, double scale) {
    char name[] = "/tmp/zta-t90-XXXXXX";
    if (!mkdtemp(name)) return;
    const std::string dir = name;
    std::string error;
    auto bus = sim::Bus::openPty(dir + "/line", &error);
    if (!bus) {
        std::fprintf(stderr, "simulator: %s\n", error.c_str());
        return;
    }
    bus->setTimeScale(scale);
    for (int address = 1; address <= kBench; ++address) {
        sim::AnalyzerConfig a;
        a.address = address;
        a.baud = baud;
        a.wave = sim::Wave::Gas;
        a.gas.warmupS = 0;
        bus->addAnalyzer(a);
    }
    bus->start();
    {
        QueueOfEvents queue;
        BenchCore core(queue);
        Collector collector;
        collector.scale = scale;
        core.addListener(&collector);
        Line& line = core.addLine();
        line.setPort(bus->portPath());
        line.setBaud(baud);
        std::vector<AnalyzerId> ids;
        std::string to = " --to ";
        for (int address = 1; address <= kBench; ++address) {
            const AnalyzerId id = *line.addAnalyzer();
            line.setAddress(id, address);
            ids.push_back(id);
            if (address <= batch) to += (address > 1 ? "," : "") + std::to_string(address);
        }
        line.connect();
        queue.drainUntil([&] { return int(collector.samples.size()) == kBench; }, 120000);
        if (focus) line.setFocus(std::vector<AnalyzerId>(ids.begin(), ids.begin() + batch));
        const double applied = double(steadyNowMs() - collector.baseMs) / 1000.0 * scale;
        bus->control("gas 2.2 vol" + to);
        const int waitMs = int(3 * kTrueT90 / scale * 1000);
        queue.drainUntil([] { return false; }, waitMs);
        line.disconnect(10000);

        double sum = 0, worst = 0, gaps = 0;
        int measured = 0;
        for (int i = 0; i < batch; ++i) {
            const auto& s = collector.samples[ids[std::size_t(i)]];
            double start = 0;
            int after = 0;
            for (const verify::Sample& x : s) {
                if (x.t < applied) start = x.lel;
                after += x.t >= applied;
            }
            if (after < 2) continue;
            const auto t90 = verify::responseTime(s, applied, start, s.back().lel);
            if (!t90) continue;
            const double err = std::fabs(*t90 - kTrueT90);
            sum += err;
            worst = std::max(worst, err);
            gaps += (s.back().t - s[s.size() - std::size_t(after)].t) / (after - 1);
            ++measured;
        }
        std::printf(
            "%5u baud  batch %2d  %-9s  measured %2d  |error| mean %5.2f s  max %5.2f s"
            "  sample every %5.2f s\n",
            baud, batch, focus ? "focused" : "plain", measured, measured ? sum / measured : NAN,
            worst, measured ? gaps / measured : NAN);
        std::fflush(stdout);
    }
    bus.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    const double scale = argc > 1 ? std::atof(argv[1]) : 1.0;
    if (!(scale > 0) || scale > 100) {
        std::fprintf(stderr, "usage: verify_t90_bench [K], K from 1 to 100\n");
        return 2;
    }
    std::printf("t0.9 against the simulator's %.0f s, a bench of %d analyzers\n", kTrueT90, kBench);
    for (unsigned baud : {9600u, 19200u})
        for (int batch : {1, 10, 50})
            for (bool focus : {false, true}) run(baud, batch, focus, scale);
    return 0;
}
