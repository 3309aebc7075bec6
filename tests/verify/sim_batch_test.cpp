// SPDX-License-Identifier: GPL-3.0-or-later
// A batch of ten simulated analyzers with the simulator's own gas model, read register by
// register as the station reads them and adjusted through the same register writes, on a fake
// clock: the engine against an independent peer of the analyzer, without a line in between.
#include <gtest/gtest.h>

#include <map>

#include "fake_clock.h"
#include "link/modbus.h"
#include "link/regmap.h"
#include "sim/analyzer.h"
#include "verify/procedure.h"

namespace zta::verify {
namespace {

using namespace std::chrono;

constexpr double kSampleS = 0.5;

class SimBatch : public CommandPort {
  public:
    SimBatch() {
        for (int address = 1; address <= 10; ++address) {
            sim::AnalyzerConfig c;
            c.address = address;
            c.wave = sim::Wave::Gas;
            c.gas.warmupS = 0;
            c.factoryNumber = 5000 + address;
            if (address == 2) c.gas.offset = 8;                       // outside the 5 %НКПР
            if (address == 3) c.gas.sensor = sim::SensorFault::Slow;  // t90 x 4
            if (address == 4) c.gas.relayDead = true;
            if (address == 6) c.gas.gain = 1.04;  // within the limit; spanned at point 3
            analyzers.emplace(address, sim::Analyzer(c, uint32_t(address), 0.0));
        }
    }
    void send(AnalyzerId id, Command command, double value) override {
        const RegisterWrite w = command == Command::Zero         ? encodeZero()
                                : command == Command::SpanMiddle ? encodeMidGas(value)
                                                                 : encodeMaxGas(value);
        sim::Analyzer& a = analyzers.at(int(id));
        const sim::Response r =
            a.respond(writeRequest(uint8_t(id), w.reg, w.value), clock.t, clock.t);
        if (r.isWrite) a.applyWrite(r.reg, r.value, clock.t);
        written.push_back({int(id), w.reg, w.value});
    }
    // Gas at every inlet, in volume percent of methane as the cylinder says.
    void apply(double volumePercent) {
        for (auto& [address, a] : analyzers)
            a.gas().setInlet(volumePercent / sim::lowerLimitVolume(1) * 100.0, clock.t);
    }
    void sample(Procedure& p) {
        clock.t += kSampleS;
        for (auto& [address, a] : analyzers) {
            const sim::Response r =
                a.respond(readRequest(uint8_t(address), kReadingsRegister, kShortReadCount),
                          clock.t, clock.t);
            // A switched-off analyzer is silent; the bus, not the analyzer, keeps it so.
            if (!a.powered() || r.reply.size() != 25) {
                p.onReading(address, clock.t, 0, {}, false);
                continue;
            }
            const ReplyReadings v = decodeReadings(r.reply.data());
            p.onReading(address, clock.t, std::int64_t(clock.t * 1000),
                        {v.concentration, (v.relayState & 2) != 0, (v.relayState & 4) != 0}, true);
        }
        p.tick();
    }
    struct Written {
        int address, reg, value;
    };
    FakeClock clock;
    std::map<int, sim::Analyzer> analyzers;
    std::vector<Written> written;
};

Cylinder cylinder(const char* number, int gas, double vol) {
    Cylinder c;
    c.number = number;
    c.gasCode = gas;
    c.certified = vol;
    c.unit = Unit::VolumePercent;
    c.expires = Date{year{2030}, month{1}, day{1}};
    return c;
}

TEST(SimBatch, TenAnalyzersGetExactlyTheirVerdicts) {
    SimBatch bench;
    std::vector<AnalyzerInfo> infos;
    for (auto& [address, a] : bench.analyzers) {
        AnalyzerInfo info;
        info.id = address;
        info.networkNumber = address;
        info.factoryNumber = a.config().factoryNumber;
        info.gasCode = 1;
        info.unit = Unit::VolumePercent;
        info.range = 4.4;
        info.threshold1 = a.config().threshold1;
        info.threshold2 = a.config().threshold2;
        infos.push_back(info);
    }
    const std::vector<Cylinder> cylinders = {cylinder("ВОЗДУХ", 0, 0), cylinder("Б-1", 1, 2.2),
                                             cylinder("Б-2", 1, 3.96)};
    Procedure p(defaultMethod("МП-К7", 1, 100, Unit::Lel), cylinders, infos, bench.clock, bench);
    auto runUntil = [&](Phase phase) {
        const double end = bench.clock.t + 3600;
        while (p.phase() != phase && bench.clock.t < end) bench.sample(p);
        ASSERT_EQ(p.phase(), phase) << "at " << bench.clock.t;
    };
    auto point = [&](int index) {
        ASSERT_EQ(p.point(), index);
        bench.apply(cylinders[index].certified);
        ASSERT_TRUE(p.confirmGas());
    };

    runUntil(Phase::AwaitGas);
    EXPECT_NEAR(bench.clock.t, 1200.5, 1e-9) << "the default twenty minutes of warm-up";
    point(0);
    runUntil(Phase::PointDone);
    ASSERT_TRUE(p.next());

    point(1);
    for (int i = 0; i < 6; ++i) bench.sample(p);  // 3 s: the rise has begun, no relay yet
    bench.analyzers.at(5).setPower(false, bench.clock.t);
    runUntil(Phase::PointDone);
    bench.analyzers.at(5).setPower(true, bench.clock.t);
    ASSERT_TRUE(p.next());

    point(2);
    runUntil(Phase::PointDone);
    ASSERT_TRUE(p.adjust({6}));
    runUntil(Phase::PointDone);
    ASSERT_EQ(bench.written.size(), 1u);
    EXPECT_EQ(bench.written[0].reg, 3);
    EXPECT_EQ(bench.written[0].value, 3960) << "the cylinder's volume fraction x 1000";

    std::map<int, Verdict> verdicts;
    for (int address = 1; address <= 10; ++address) verdicts[address] = p.verdict(address);
    for (int address : {1, 6, 7, 8, 9, 10})
        EXPECT_TRUE(verdicts[address].pass)
            << address << ": " << ::testing::PrintToString(verdicts[address].failed);
    EXPECT_EQ(verdicts[2].failed,
              (std::vector<std::string>{"точка 1: погрешность 8.00 %НКПР при пределе ±5.00",
                                        "точка 2: погрешность 8.00 %НКПР при пределе ±5.00",
                                        "точка 3: погрешность 8.00 %НКПР при пределе ±5.00"}));
    ASSERT_EQ(verdicts[3].failed.size(), 1u) << ::testing::PrintToString(verdicts[3].failed);
    EXPECT_EQ(verdicts[3].failed[0].rfind("t0,9: ", 0), 0u) << verdicts[3].failed[0];
    EXPECT_EQ(verdicts[4].failed, (std::vector<std::string>{"порог 1: реле не сработало",
                                                            "порог 2: реле не сработало"}));
    // Back at point 3 with the gas already at 50 %НКПР: no reading saw its relays switch.
    EXPECT_EQ(verdicts[5].failed,
              (std::vector<std::string>{"точка 2: нет связи", "порог 1: срабатывание не измерено",
                                        "порог 2: срабатывание не измерено"}));

    // The simulator's own response: one second dead, fifteen to 90 % (sixty for the slow one,
    // whose whole-number reading stands still for the settling window a little early).
    for (int address = 1; address <= 10; ++address) {
        const auto results = p.results(address);
        const auto timed = std::find_if(results.begin(), results.end(), [](const PointResult& r) {
            return r.point == 2 && !r.afterAdjustment;
        });
        ASSERT_NE(timed, results.end());
        ASSERT_TRUE(timed->t90) << address;
        EXPECT_NEAR(*timed->t90, address == 3 ? 61.0 : 16.0, address == 3 ? 3.0 : 1.0) << address;
    }
    const auto spanned = p.results(6);
    EXPECT_NEAR(spanned.back().averageLel, 90.0, 0.5) << "after the span";
}

}  // namespace
}  // namespace zta::verify
