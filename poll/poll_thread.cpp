// SPDX-License-Identifier: GPL-3.0-or-later
#include "poll/poll_thread.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "link/modbus.h"
#include "link/regmap.h"
#include "link/reply_view.h"
#include "poll/command_table.h"

namespace zta {

int pacingMs(int windowCount, const PollTiming& timing) {
    return std::max(0, timing.pacingBaseMs - timing.pacingPerWindowMs * windowCount);
}

long fastPacingUs(unsigned baud) {
    if (baud == 0) return 0;
    return static_cast<long>((35ull * 1000000ull + baud - 1) / baud);
}

namespace {

using Clock = std::chrono::steady_clock;

struct Choice {
    Request request{};
    size_t replyLength = 0;
    const CommandRow* command = nullptr;  // the pending command this write carries; none for a read
};

Request commandRequest(const Slot& slot, const CommandRow& row, uint8_t address, unsigned baud,
                       double maxGas, double midGas) {
    CommandInputs in;
    in.value = slot.pending.value(row.command);
    in.hasValue = slot.pending.hasValue(row.command);
    in.address = address;
    in.lineBaud = baud;
    in.maxGas = maxGas;
    in.midGas = midGas;
    const RegisterWrite write = row.encode(in);
    return writeRequest(address, write.reg, write.value);
}

// The first pending command in priority order, else the read the model calls for.
Choice chooseRequest(const Slot& slot, uint8_t address, unsigned baud, double maxGas,
                     double midGas) {
    Choice choice;
    for (const CommandRow& row : commandTable()) {
        if (!slot.pending.isPending(row.command)) continue;
        choice.command = &row;
        choice.request = commandRequest(slot, row, address, baud, maxGas, midGas);
        choice.replyLength = expectedReplyLength(choice.request);
        return choice;
    }
    choice.request = readRequest(address, kReadingsRegister,
                                 slot.readings.extendedModel ? kLongReadCount : kShortReadCount);
    choice.replyLength = expectedReplyLength(choice.request);
    return choice;
}

enum class Outcome { Nothing, Echo, Data, Failure };

// Applies the judged reply to the slot; the caller holds the block's lock through storeOutcome.
// `sent` is the request as the slot would make it now: the same command confirmed again with
// another value while this one was on the line stays pending.
Outcome judge(Slot& s, const Choice& c, const Request& sent, uint8_t a, const uint8_t* reply,
              size_t n) {
    const ReplyView v(reply, n);
    if (c.command && v.hasLength(kEchoLength) && (v.isEchoOf(c.request) || v.crcMatches())) {
        // An intact frame that differs (the echo of a value since replaced) is an answer from a
        // live analyzer: the command stays pending, nothing is counted.
        if (!v.isEchoOf(c.request)) return Outcome::Nothing;
        // Only the answered command: the others go out on the next turns.
        if (sent == c.request) s.pending.clear(c.command->command);
        return Outcome::Echo;
    }
    if ((v.hasLength(kShortReplyLength) || v.hasLength(kLongReplyLength) ||
         v.hasExceptionLength()) &&
        v.address() == a && v.crcMatches()) {
        if (v.hasExceptionLength()) {
            // Any other exception (say, to a command write) is an answer from a live analyzer:
            // no lost contact, and the command stays pending.
            if (v.function() == kFnReadInputRefused) s.readings.extendedModel = false;
            return Outcome::Nothing;
        }
        static_cast<ReplyReadings&>(s.readings) = decodeReadings(reply);
        ++s.replyCount;
        s.errorCount = 0;
        if (n == kShortReplyLength) {
            s.readings.extendedModel = false;
            s.readings.gasCode = decodeGasCode(reply);
            if (const char* name = gasNameForCode(s.readings.gasCode)) s.texts.gasName = name;
        } else {
            const TextBlock t = parseTextBlock(std::string_view(
                reinterpret_cast<const char*>(reply) + kTextBlockOffset, kTextBlockLength));
            s.readings.deviceRange = t.deviceRange;
            s.readings.deviceMidGas = t.deviceMidGas;
            s.readings.deviceMaxGas = t.deviceMaxGas;
            s.texts.gasName = t.gasName;
            s.texts.unitName = t.unitName;
        }
        return Outcome::Data;
    }
    // Everything else failed, a reply with a wrong CRC included: the analyzer's value may have
    // moved, and the window must not go on showing the last good one as live.
    ++s.errorCount;
    if (s.errorCount > kLostContactLimit) {
        s.readings.extendedModel = true;
        s.errorCount = kLostContactLimit;
        s.clearReadings();
    }
    return Outcome::Failure;
}

std::string openingMessage(const OpenResult& result, const std::string& port) {
    std::string text = openFailureText(result, port);
    if (text.empty()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " (код %d)", result.platformCode);
        text = "Порт " + port + " не открыт" + buf;
    }
    return text;
}

class Poller {
  public:
    Poller(PollBlock& block, PollSink& sink, const PollTiming& timing, PortFactory& factory)
        : block_(block), sink_(sink), timing_(timing), line_(factory()) {}

    void run() {
        block_.resetCursor();
        port_ = block_.portName();
        baud_ = block_.baudRate();
        const OpenResult opened = line_.open(port_, baud_, timing_.line);
        if (!opened.ok()) {
            sink_.showError(openingMessage(opened, port_), kPollCaption);
            line_.close();
            report(block_.settleCommands(CommandFailure::LineFailed, true));
            sink_.lineFailed();
            return;
        }
        block_.clearAllPending();
        report(block_.settleCommands(CommandFailure::Cleared, false));
        bool lineUp = true;
        while (!block_.stopRequested()) {
            report(block_.expireCommands(steadyNowMs()));
            turn();
            if (lineUp != line_.isOpen()) {
                lineUp = !lineUp;
                lineChanged(lineUp);
            }
            if (block_.fastPolling() || block_.focusActive())
                block_.waitForStopUs(fastPacingUs(baud_));
            else
                block_.waitForStop(pacingMs(block_.windowCount(), timing_));
            block_.advanceCursor();
        }
        line_.close();
        report(block_.settleCommands(CommandFailure::PollingStopped, true));
    }

  private:
    // A line that is gone is known at once: while the thread waits for its port nothing is sent,
    // and no analyzer would count its five failures for many cycles. The windows are told
    // before the line's state, so that whoever sees the state sees them out of contact too.
    void lineChanged(bool up) {
        if (!up) {
            for (PollBlock::Marked& marked : block_.markLineLost())
                if (!block_.stopRequested())
                    sink_.dataChanged(
                        SlotUpdate{marked.slot, std::move(marked.data), FrameKind::NoReply, false});
        }
        sink_.lineStateChanged(up);
    }

    void turn() {
        const PollBlock::Turn taken = block_.beginTurn();
        if (taken.slot < 0) return;
        const Slot& slot = taken.data;
        const auto address = static_cast<uint8_t>(slot.address);
        const Choice choice =
            chooseRequest(slot, address, taken.baudRate, taken.maxGas, taken.midGas);
        const CommandEffect effect = choice.command ? choice.command->effect : CommandEffect::None;
        // The new number holds from this turn on, even if the echo never comes.
        if (effect == CommandEffect::NewNumber &&
            !block_.storeOutcome(taken.slot, taken.generation, [&](Slot& live) {
                live.address = static_cast<int>(slot.pending.value(Command::NewAddress));
            }))
            return;
        if (!block_.isCurrent(taken.slot, taken.generation)) return;

        ExchangeResult exchange;
        bool exchanged = false;
        if (ensureOpen()) {
            exchanged = true;
            exchange = line_.exchange(choice.request, choice.replyLength, kPollSettleMs);
            exchange.count = std::min(exchange.count, reply_.size());
            std::copy_n(line_.reply(), exchange.count, reply_.begin());
            if (exchange.writeOk && !exchange.vanished) writeFailureShown_ = false;
            if (!exchange.writeOk || exchange.vanished) reportWriteFailure();
            block_.countLine(exchange);
            if (exchange.vanished) {
                line_.close();
                nextReopen_ = Clock::now() + std::chrono::milliseconds(timing_.reopenIntervalMs);
            }
        }

        const uint8_t* reply = reply_.data();
        Outcome outcome = Outcome::Nothing;
        FrameKind kind = FrameKind::NoReply;
        Slot after;
        std::vector<CommandReport> reports;
        const bool stored = block_.storeOutcome(taken.slot, taken.generation, [&](Slot& live) {
            if (exchange.writeOk) ++live.requestCount;
            const Request sent = choice.command
                                     ? commandRequest(live, *choice.command, address,
                                                      taken.baudRate, taken.maxGas, taken.midGas)
                                     : choice.request;
            outcome = judge(live, choice, sent, address, reply, exchange.count);
            kind = trackHealth(live, choice, reply, exchange, outcome, reports);
            after = live;
        });
        for (CommandReport& changed : reports) changed.slot = taken.slot;
        report(reports);
        if (!stored) return;
        // A close that came after the store: the notice would name an index that is no longer
        // this analyzer's.
        if (!block_.isCurrent(taken.slot, taken.generation)) return;
        if (outcome == Outcome::Echo && effect == CommandEffect::NewRate)
            sink_.baudAccepted(after.analyzer,
                               static_cast<int>(slot.pending.value(Command::NewBaud)),
                               after.address);
        const AnalyzerId analyzer = after.analyzer;
        if ((outcome == Outcome::Data || outcome == Outcome::Failure) && !block_.stopRequested())
            sink_.dataChanged(SlotUpdate{taken.slot, std::move(after), kind, exchanged});
        sink_.turnDone(TurnReport{analyzer, taken.slot, address, exchanged, kind, exchange});
    }

    static FrameKind trackHealth(Slot& live, const Choice& choice, const uint8_t* reply,
                                 const ExchangeResult& exchange, Outcome outcome,
                                 std::vector<CommandReport>& reports) {
        const FrameKind kind = classifyReply(choice.request, reply, exchange.count,
                                             choice.replyLength, exchange.foreignFrames);
        live.health.count(kind, exchange);
        if (choice.command && exchange.writeOk)
            live.trackSent(choice.command->command, choice.request, reports);
        const Command* echoed = outcome == Outcome::Echo ? &choice.command->command : nullptr;
        live.settleTracks(echoed, CommandFailure::Cleared, false, reports);
        return kind;
    }

    void report(const std::vector<CommandReport>& reports) {
        for (const CommandReport& r : reports) sink_.commandChanged(r);
    }

    // False while the device is away and it is not yet time to try it again.
    bool ensureOpen() {
        if (line_.isOpen()) return true;
        if (Clock::now() < nextReopen_) return false;
        if (line_.open(port_, baud_, timing_.line).ok()) return true;
        line_.close();
        nextReopen_ = Clock::now() + std::chrono::milliseconds(timing_.reopenIntervalMs);
        return false;
    }

    // One box per outage: a box on every turn would hold the station hostage.
    void reportWriteFailure() {
        if (writeFailureShown_) return;
        writeFailureShown_ = true;
        sink_.showError(kWriteFailedText, "");
    }

    PollBlock& block_;
    PollSink& sink_;
    const PollTiming& timing_;
    SerialLine line_;
    // The reply outlives the line's own buffer, which goes when a vanished line is closed.
    std::array<uint8_t, kPollBufferSize> reply_{};
    std::string port_;
    unsigned baud_ = 0;
    bool writeFailureShown_ = false;
    Clock::time_point nextReopen_{};
};

}  // namespace

void pollThreadProc(PollBlock& block, PollSink& sink, const PollTiming& timing,
                    PortFactory portFactory) {
    Poller poller(block, sink, timing, portFactory);
    poller.run();
}

PollThread::PollThread(PollBlock& block, PollSink& sink, PollTiming timing, PortFactory portFactory)
    : block_(block),
      sink_(sink),
      timing_(std::move(timing)),
      portFactory_(std::move(portFactory)) {}

PollThread::~PollThread() {
    if (worker_.isRunning()) block_.requestStop();
}

bool PollThread::start() {
    if (worker_.isRunning()) return false;
    block_.prepareConnect();
    return worker_.start([this] { pollThreadProc(block_, sink_, timing_, portFactory_); });
}

bool PollThread::isRunning() const { return worker_.isRunning(); }

bool PollThread::stop(int timeoutMs, const std::function<void()>& serveOnce) {
    if (!worker_.isRunning()) {
        worker_.waitFinished(0);
        return true;
    }
    block_.requestStop();
    return worker_.waitFinished(timeoutMs, serveOnce);
}

bool PollThread::wait(int timeoutMs, const std::function<void()>& serveOnce) {
    return worker_.waitFinished(timeoutMs, serveOnce);
}

}  // namespace zta
