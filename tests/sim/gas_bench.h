// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Simulated analyzers with the gas model, read by the station's own poll thread as a checker
// would: every reading is kept with the moment the simulator took the request it answers.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "poll/poll_block.h"
#include "poll/poll_sink.h"
#include "poll/poll_thread.h"
#include "sim/bus.h"

namespace zta::sim::testing {

using SteadyClock = std::chrono::steady_clock;

struct Sample {
    SteadyClock::time_point at;  // when the simulator took the read request
    double concentration;
    uint8_t relays;
};

class GasBench : public ::testing::Test, public PollSink {
  protected:
    static constexpr int kWaitMs = 30000;

    static AnalyzerConfig gasAnalyzer(int address) {
        AnalyzerConfig a;
        a.address = address;
        a.baud = 19200;
        a.wave = Wave::Gas;
        a.gas.warmupS = 0;
        return a;
    }

    void open(const std::vector<AnalyzerConfig>& analyzers, double timeScale) {
        char dir[] = "/tmp/zta-gasbench-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
        std::string error;
        bus = Bus::openPty(dir_ + "/line", &error);
        ASSERT_TRUE(bus) << error;
        scale_ = timeScale;
        bus->setTimeScale(timeScale);
        for (const auto& a : analyzers) {
            bus->addAnalyzer(a);
            slots_[a.address] = *block.registerSlot(static_cast<AnalyzerId>(a.address + 1));
            block.setAddress(slots_[a.address], a.address);
        }
        bus->start();
        block.setPortName(bus->portPath());
        block.setBaudRate(19200);
        PollTiming timing;
        timing.pacingBaseMs = 40;
        timing.pacingPerWindowMs = 0;
        timing.line.replyTimeoutMs = 150;
        poll = std::make_unique<PollThread>(block, *this, timing);
        ASSERT_TRUE(poll->start());
    }

    // Ends the run, so that a table's next case opens a bench of its own.
    void close() {
        if (poll) {
            EXPECT_TRUE(poll->stop(kWaitMs));
        }
        poll.reset();
        for (size_t i = 0; i < slots_.size(); ++i) block.close(0);
        slots_.clear();
        bus.reset();
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
        dir_.clear();
        std::lock_guard lock(mu_);
        samples_.clear();
        replies_.clear();
    }
    void TearDown() override { close(); }

    // A control line that must be taken; returns the moment it was.
    SteadyClock::time_point control(const std::string& line) {
        const auto before = SteadyClock::now();
        const std::string answer = bus->control(line);
        EXPECT_EQ(answer.rfind("{\"ok\":true", 0), 0u) << line << " -> " << answer;
        return before;
    }

    int slotOf(int address) { return slots_.at(address); }

    std::vector<Sample> samples(int address) {
        std::lock_guard lock(mu_);
        return samples_[address];
    }
    std::vector<Sample> samplesAfter(int address, SteadyClock::time_point t) {
        std::vector<Sample> out;
        for (const Sample& s : samples(address))
            if (s.at > t) out.push_back(s);
        return out;
    }
    // Waits for a reading of `address` that `pred` likes, taken after `since`.
    bool waitSample(int address, SteadyClock::time_point since,
                    const std::function<bool(const Sample&)>& pred) {
        std::unique_lock lock(mu_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
            for (const Sample& s : samples_[address])
                if (s.at > since && pred(s)) return true;
            return false;
        });
    }
    // Waits for `n` readings of `address` taken at least `modelS` gas-model seconds after t.
    bool waitModelTime(int address, SteadyClock::time_point t, double modelS, int n = 1) {
        std::unique_lock lock(mu_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), [&] {
            int seen = 0;
            for (const Sample& s : samples_[address])
                seen += s.at > t && modelSeconds(t, s.at) >= modelS;
            return seen >= n;
        });
    }
    double modelSeconds(SteadyClock::time_point from, SteadyClock::time_point to) const {
        return scale_ * std::chrono::duration<double>(to - from).count();
    }
    bool waitWrite(int reg) {
        return bus->waitFor(
            [reg](const std::vector<LogEntry>& log) {
                for (const auto& e : log)
                    if (e.kind == LogEntry::Kind::WriteApplied && e.reg == reg) return true;
                return false;
            },
            kWaitMs);
    }

    // PollSink
    void dataChanged(const SlotUpdate& update) override {
        const Slot& s = update.data;
        // The notice comes before the next request goes out: the last read the simulator
        // took for this number is the one answered.
        const auto log = bus->log();
        for (auto it = log.rbegin(); it != log.rend(); ++it) {
            if (it->kind != LogEntry::Kind::Request || it->address != s.address) continue;
            if (it->bytes.size() < 2 || it->bytes[1] != 0x04) return;
            std::lock_guard lock(mu_);
            int& last = replies_[s.address];
            if (s.replyCount == last) return;
            last = s.replyCount;
            samples_[s.address].push_back(
                {it->when, s.readings.concentration, s.readings.relayState});
            changed_.notify_all();
            return;
        }
    }
    void baudAccepted(AnalyzerId, int, int) override {}
    void lineFailed() override { ADD_FAILURE() << "the line failed"; }
    void showError(const std::string& text, const std::string&) override { ADD_FAILURE() << text; }

    std::unique_ptr<Bus> bus;
    PollBlock block;
    std::unique_ptr<PollThread> poll;

  private:
    std::string dir_;
    double scale_ = 1.0;
    std::map<int, int> slots_;
    std::mutex mu_;
    std::condition_variable changed_;
    std::map<int, std::vector<Sample>> samples_;
    std::map<int, int> replies_;
};

}  // namespace zta::sim::testing
