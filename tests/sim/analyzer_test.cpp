// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/analyzer.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "link/modbus.h"

namespace zta::sim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Waves, ConcentrationMovesAroundTheBase) {
    AnalyzerConfig c;
    c.concentration = 20;
    c.amplitude = 10;
    c.periodS = 10;
    struct Case {
        Wave wave;
        double t, expected;
    } cases[] = {
        {Wave::Constant, 3, 20}, {Wave::Ramp, 0, 10}, {Wave::Ramp, 5, 20},
        {Wave::Ramp, 12.5, 15},  {Wave::Sine, 0, 20}, {Wave::Sine, 2.5, 30},
        {Wave::Sine, 7.5, 10},
    };
    for (const auto& k : cases) {
        c.wave = k.wave;
        Analyzer a(c);
        EXPECT_NEAR(a.concentrationAt(k.t), k.expected, 1e-9)
            << static_cast<int>(k.wave) << " " << k.t;
    }
    c.wave = Wave::Noise;
    Analyzer noisy(c);
    std::set<double> seen;
    for (int i = 0; i < 200; ++i) {
        const double v = noisy.concentrationAt(i);
        EXPECT_GE(v, 10);
        EXPECT_LE(v, 30);
        seen.insert(v);
    }
    EXPECT_GT(seen.size(), 100u);
}

TEST(Framer, FindsRequestsByTheirCrcAmidGarbage) {
    const Request a = readRequest(1, 1, 10);
    const Request b = writeRequest(2, 5, 25);
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Bytes A(a.begin(), a.end()), B(b.begin(), b.end());
    struct Case {
        const char* name;
        Bytes input;
        std::vector<Request> found;
        size_t left;
    } cases[] = {
        {"one", A, {a}, 0},
        {"two glued", cat({A, B}), {a, b}, 0},
        {"garbage before", cat({{0x00, 0xFF, 0x01, 0x04}, A}), {a}, 0},
        {"garbage between", cat({A, {0x55, 0x01}, B}), {a, b}, 0},
        {"cut request", Bytes(A.begin(), A.begin() + 5), {}, 5},
        {"wrong CRC then good", cat({Bytes(A.begin(), A.end() - 1), {0x00}, B}), {b}, 0},
    };
    for (const auto& c : cases) {
        Framer f;
        f.push(c.input.data(), c.input.size());
        std::vector<Request> found;
        while (auto r = f.next()) found.push_back(*r);
        EXPECT_EQ(found, c.found) << c.name;
        EXPECT_EQ(f.pending(), c.left) << c.name;
    }
}

TEST(Framer, ByteByByteArrivalAndNoiseNeverGrowTheBuffer) {
    const Request a = readRequest(7, 2, 8);
    Framer f;
    std::vector<Request> found;
    for (uint8_t byte : a) {
        f.push(&byte, 1);
        while (auto r = f.next()) found.push_back(*r);
    }
    EXPECT_EQ(found, std::vector<Request>{a});
    std::mt19937 rng(3);
    for (int i = 0; i < 10000; ++i) {
        const uint8_t byte = static_cast<uint8_t>(rng());
        f.push(&byte, 1);
        while (f.next()) {
        }
        ASSERT_LT(f.pending(), 8u);
    }
}

TEST(distort, EachFaultShapesTheReply) {
    std::mt19937 rng(1);
    Bytes good(25);
    for (size_t i = 0; i < good.size(); ++i) good[i] = static_cast<uint8_t>(i * 7);
    sealFrame(good.data(), good.size());
    EXPECT_EQ(Analyzer::distort(good, Fault::None, rng), good);
    EXPECT_EQ(Analyzer::distort(good, Fault::LateReply, rng), good);
    EXPECT_TRUE(Analyzer::distort(good, Fault::Silent, rng).empty());
    EXPECT_EQ(Analyzer::distort(good, Fault::ShortReply, rng),
              Bytes(good.begin(), good.begin() + 12));
    const Bytes wrong = Analyzer::distort(good, Fault::WrongCrc, rng);
    EXPECT_EQ(wrong.size(), 25u);
    EXPECT_FALSE(crcPasses(wrong.data(), wrong.size()));
    EXPECT_EQ(Analyzer::distort(good, Fault::LongReply, rng).size(), 26u);
    for (int i = 0; i < 1000; ++i) {
        const Bytes noise = Analyzer::distort(good, Fault::Noise, rng);
        ASSERT_EQ(noise.size(), 25u);
        ASSERT_FALSE(crcPasses(noise.data(), noise.size()));
    }
}

}  // namespace
}  // namespace zta::sim
