// SPDX-License-Identifier: GPL-3.0-or-later
// zta-bus poll: the station's own poll thread on a shell, one line per data notice or, with
// --json, one object per exchange.
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>

#include "link/serial_line.h"
#include "poll/poll_thread.h"
#include "tools/bus_commands.h"
#include "tools/bus_common.h"

namespace zta::bus {
namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onInterrupt(int) { interrupted = 1; }

class PrintingSink : public PollSink {
  public:
    PrintingSink(PollBlock& block, bool json, long cycles, long numbers)
        : block_(block), json_(json), cycles_(cycles), numbers_(numbers) {}

    // Text: one line per data notice. JSON: one object per exchange, from turnDone.
    void dataChanged(const SlotUpdate& update) override {
        if (json_) return;
        const Slot& s = update.data;
        const int slot = update.slot;
        if (s.errorCount >= kLostContactLimit)
            std::printf("slot %d: %d: no contact (errors %d)\n", slot, s.address, s.errorCount);
        else
            std::printf("slot %d: %d: errors %d %s\n", slot, s.address, s.errorCount,
                        readingsText(s.readings, s.texts).c_str());
        std::fflush(stdout);
    }

    void turnDone(const TurnReport& t) override {
        const long cycle = exchanges_ / numbers_ + 1;
        ++exchanges_;
        if (json_) printExchange(t, cycle);
        // Every number has had its turns: a reply that never comes must not keep this going.
        if (cycles_ > 0 && exchanges_ >= cycles_ * numbers_) block_.requestStop();
    }

    void baudAccepted(AnalyzerId, int baudCode, int address) override {
        std::fprintf(stderr, "zta-bus: %d accepted the baud code %d\n", address, baudCode);
    }

    void lineFailed() override {
        std::lock_guard lock(mutex_);
        lineFailed_ = true;
    }

    void showError(const std::string& text, const std::string& caption) override {
        std::fprintf(stderr, "zta-bus: %s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ",
                     text.c_str());
    }

    bool lineHasFailed() const {
        std::lock_guard lock(mutex_);
        return lineFailed_;
    }

  private:
    void printExchange(const TurnReport& t, long cycle) {
        const Slot s = block_.snapshot(t.slot);
        Json json;
        json["cycle"] = cycle;
        json["slot"] = t.slot;
        json["address"] = t.address;
        json["outcome"] = outcomeName(t.kind);
        if (!t.exchanged) json["sent"] = false;  // the adapter was away: nothing went out
        if (t.kind == FrameKind::Reply) addReadings(json, s.readings, s.texts);
        const LinkHealth& h = s.health;
        auto ms = [](long us) { return us < 0 ? Json(nullptr) : Json(us / 1000.0); };
        Json health;
        health["requests"] = h.requests;
        health["goodReplies"] = h.goodReplies;
        health["timeouts"] = h.timeouts;
        health["wrongCrc"] = h.wrongCrc;
        health["foreign"] = h.foreign;
        health["refusals"] = h.refusals;
        health["echoes"] = h.echoes;
        health["lastReplyMs"] = ms(h.lastReplyUs);
        health["meanReplyMs"] = ms(h.meanReplyUs());
        health["maxReplyMs"] = ms(h.maxReplyUs);
        json["errorCount"] = s.errorCount;
        json["extendedModel"] = s.readings.extendedModel;
        json["health"] = health;
        const LineHealth l = block_.lineHealth();
        Json line;
        line["echoing"] = lineEchoName(l.echo);
        line["lineEchoes"] = l.lineCopies;
        line["strayBytes"] = l.strayBytes;
        line["foreignFrames"] = l.foreignFrames;
        json["line"] = line;
        std::printf("%s\n", jsonLine(json).c_str());
        std::fflush(stdout);
    }

    PollBlock& block_;
    const bool json_;
    const long cycles_;
    const long numbers_;
    long exchanges_ = 0;  // poll thread only
    mutable std::mutex mutex_;
    bool lineFailed_ = false;
};

}  // namespace
}  // namespace zta::bus

using namespace zta;
using namespace zta::bus;

int runPoll(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parseOptions(argc, argv, o, error)) {
        std::fprintf(stderr, "zta-bus: %s\n", error.c_str());
        return kUsage;
    }
    if (o.addresses.empty()) {
        std::fprintf(stderr, "zta-bus: poll needs --address A[,A...]\n");
        return kUsage;
    }
    if (o.addresses.size() > static_cast<size_t>(kMaxSlots)) {
        std::fprintf(stderr, "zta-bus: at most %d network numbers\n", kMaxSlots);
        return kUsage;
    }
    if (!o.positional.empty()) {
        std::fprintf(stderr, "zta-bus: unexpected argument %s\n", o.positional[0].c_str());
        return kUsage;
    }

    PollBlock block;
    block.setPortName(portPathFor(o.port));
    block.setBaudRate(o.baud);
    for (int address : o.addresses) {
        const auto slot = block.registerSlot(static_cast<AnalyzerId>(block.windowCount() + 1));
        block.setAddress(*slot, address);
    }
    PrintingSink sink(block, o.json, o.turns, static_cast<long>(o.addresses.size()));
    PollTiming timing;
    timing.line = lineOptionsFor(o, kPollBufferSize);

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    block.setFastPolling(o.fast);
    PollThread poll(block, sink, timing);
    poll.start();
    // The handler only raises a flag; the stop itself is asked from here.
    while (!poll.wait(100) && !interrupted) {
    }
    const bool ended = poll.stop(10000);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (!ended) {
        std::fprintf(stderr, "zta-bus: the poll thread did not end\n");
        return kFailure;
    }
    return sink.lineHasFailed() ? kPortError : kOk;
}
