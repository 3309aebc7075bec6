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

namespace zta {

int PacingMs(int windowCount, const PollTiming& timing) {
    return std::max(0, timing.pacingBaseMs - timing.pacingPerWindowMs * windowCount);
}

long FastPacingUs(unsigned baud) {
    if (baud == 0) return 0;
    return static_cast<long>((35ull * 1000000ull + baud - 1) / baud);
}

namespace {

using Clock = std::chrono::steady_clock;

using PendingFlag = bool Slot::*;

struct Choice {
    Request request{};
    size_t replyLength = 0;
    PendingFlag command = nullptr;  // the pending command this write carries; none for a read
    bool isWrite = false;
    bool isBaud = false;
    bool isNewAddress = false;
    Command which = Command::Zero;  // the command of a write
};

// What a pending command puts in its register write, from the slot and the line's settings.
struct WriteInputs {
    const Slot& s;
    uint8_t address;
    unsigned baud;
    double maxGas;
    double midGas;
};

struct CommandRow {
    PendingFlag flag;
    Command command;
    RegisterWrite (*encode)(const WriteInputs&);
};

// In priority order: the first pending one goes out; a read when none is.
constexpr CommandRow kCommandTable[] = {
    {&Slot::pendingThreshold1, Command::Threshold1,
     [](const WriteInputs& in) { return EncodeThreshold1(in.s.newThreshold1); }},
    {&Slot::pendingThreshold2, Command::Threshold2,
     [](const WriteInputs& in) { return EncodeThreshold2(in.s.newThreshold2); }},
    {&Slot::pendingTypical, Command::Typical, [](const WriteInputs&) { return EncodeTypical(); }},
    {&Slot::pendingMaxGas, Command::MaxGas,
     [](const WriteInputs& in) { return EncodeMaxGas(in.maxGas); }},
    {&Slot::pendingMidGas, Command::MidGas,
     [](const WriteInputs& in) { return EncodeMidGas(in.midGas); }},
    {&Slot::pendingZero, Command::Zero, [](const WriteInputs&) { return EncodeZero(); }},
    {&Slot::pendingAddress, Command::NewAddress,
     [](const WriteInputs& in) { return EncodeNewAddress(in.s.newAddress, in.baud); }},
    {&Slot::pendingBaud, Command::NewBaud,
     [](const WriteInputs& in) { return EncodeNewBaud(in.address, in.s.newBaudCode); }},
    {&Slot::pendingFactoryNumber, Command::FactoryNumber,
     [](const WriteInputs& in) { return EncodeFactoryNumber(in.s.newFactoryNumber); }},
};

const CommandRow& RowOf(PendingFlag f) {
    for (const CommandRow& row : kCommandTable)
        if (row.flag == f) return row;
    return kCommandTable[std::size(kCommandTable) - 1];
}

Request CommandRequest(const Slot& s, PendingFlag f, uint8_t a, unsigned baud, double maxGas,
                       double midGas) {
    const RegisterWrite w = RowOf(f).encode(WriteInputs{s, a, baud, maxGas, midGas});
    return WriteRequest(a, w.reg, w.value);
}

// The first pending command in priority order, else the read the model calls for.
Choice ChooseRequest(const Slot& s, uint8_t a, unsigned baud, double maxGas, double midGas) {
    Choice c;
    for (const CommandRow& row : kCommandTable) {
        const PendingFlag f = row.flag;
        if (!(s.*f)) continue;
        c.command = f;
        c.which = row.command;
        c.isWrite = true;
        c.isNewAddress = f == &Slot::pendingAddress;
        c.isBaud = f == &Slot::pendingBaud;
        c.request = CommandRequest(s, f, a, baud, maxGas, midGas);
        c.replyLength = ExpectedReplyLength(c.request);
        return c;
    }
    if (s.extendedModel) {
        c.request = ReadRequest(a, kReadingsRegister, kLongReadCount);
        c.replyLength = ExpectedReplyLength(c.request);
    } else {
        c.request = ReadRequest(a, kReadingsRegister, kShortReadCount);
        c.replyLength = ExpectedReplyLength(c.request);
    }
    return c;
}

enum class Outcome { Nothing, Echo, Data, Failure };

// Applies the judged reply to the slot; the caller holds the block's lock through StoreOutcome.
// `sent` is the request as the slot would make it now: the same command confirmed again with
// another value while this one was on the line stays pending.
Outcome Judge(Slot& s, const Choice& c, const Request& sent, uint8_t a, const uint8_t* reply,
              size_t n) {
    const ReplyView v(reply, n);
    if (c.isWrite && v.hasLength(kEchoLength)) {
        if (!v.isEchoOf(c.request)) return Outcome::Nothing;
        // Only the answered command: the others go out on the next turns.
        if (sent == c.request) s.*c.command = false;
        return Outcome::Echo;
    }
    if ((v.hasLength(kShortReplyLength) || v.hasLength(kLongReplyLength) ||
         v.hasExceptionLength()) &&
        v.address() == a) {
        if (!v.crcMatches()) return Outcome::Nothing;
        if (v.hasExceptionLength()) {
            // Any other exception (say, to a command write) is an answer from a live analyzer:
            // no lost contact, and the command stays pending.
            if (v.function() == kFnReadInputRefused) s.extendedModel = false;
            return Outcome::Nothing;
        }
        const Readings r = DecodeReadings(reply);
        s.relayState = r.relayState;
        s.concentration = r.concentration;
        s.threshold1 = r.threshold1;
        s.threshold2 = r.threshold2;
        s.auxValue = r.auxValue;
        s.refChannel = r.refChannel;
        s.workChannel = r.workChannel;
        s.dValue = r.dValue;
        s.temperature = r.temperature;
        s.factoryNumber = r.factoryNumber;
        s.softwareVersion = r.softwareVersion;
        ++s.replyCount;
        s.errorCount = 0;
        if (n == kShortReplyLength) {
            s.extendedModel = false;
            s.gasCode = DecodeGasCode(reply);
            if (const char* name = GasNameForCode(s.gasCode)) s.gasName = name;
        } else {
            const TextBlock t = ParseTextBlock(std::string_view(
                reinterpret_cast<const char*>(reply) + kTextBlockOffset, kTextBlockLength));
            s.deviceRange = t.deviceRange;
            s.deviceMidGas = t.deviceMidGas;
            s.deviceMaxGas = t.deviceMaxGas;
            s.gasName = t.gasName;
            s.unitName = t.unitName;
        }
        return Outcome::Data;
    }
    ++s.errorCount;
    if (s.errorCount > kLostContactLimit) {
        s.extendedModel = true;
        s.errorCount = kLostContactLimit;
        s.ClearReadings();
    }
    return Outcome::Failure;
}

std::string OpeningMessage(const OpenResult& result, const std::string& port) {
    std::string text = OpenFailureText(result, port);
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

    void Run() {
        block_.ResetCursor();
        port_ = block_.PortName();
        baud_ = block_.BaudRate();
        const OpenResult opened = line_.Open(port_, baud_, timing_.line);
        if (!opened.ok()) {
            sink_.ShowError(OpeningMessage(opened, port_), kPollCaption);
            line_.Close();
            Report(block_.SettleCommands(CommandFailure::LineFailed, true));
            sink_.LineFailed();
            return;
        }
        block_.ClearAllPending();
        Report(block_.SettleCommands(CommandFailure::Cleared, false));
        while (!block_.StopRequested()) {
            Turn();
            if (block_.FastPolling())
                block_.WaitForStopUs(FastPacingUs(baud_));
            else
                block_.WaitForStop(PacingMs(block_.WindowCount(), timing_));
            block_.AdvanceCursor();
        }
        line_.Close();
        Report(block_.SettleCommands(CommandFailure::PollingStopped, true));
    }

private:
    void Turn() {
        const PollBlock::Turn t = block_.BeginTurn();
        if (t.slot < 0) return;
        const Slot& slot = t.data;
        const auto a = static_cast<uint8_t>(slot.address);
        const Choice c = ChooseRequest(slot, a, t.baudRate, t.maxGas, t.midGas);
        // The new number holds from this turn on, even if the echo never comes.
        if (c.isNewAddress &&
            !block_.StoreOutcome(t.slot, t.generation,
                                 [&](Slot& s) { s.address = slot.newAddress; }))
            return;
        if (!block_.IsCurrent(t.slot, t.generation)) return;

        ExchangeResult x;
        if (EnsureOpen()) {
            x = line_.Exchange(c.request, c.replyLength, kPollSettleMs);
            x.count = std::min(x.count, reply_.size());
            std::copy_n(line_.Reply(), x.count, reply_.begin());
            if (x.writeOk && !x.vanished) writeFailureShown_ = false;
            if (!x.writeOk || x.vanished) ReportWriteFailure();
            if (x.vanished) {
                line_.Close();
                nextReopen_ = Clock::now() + std::chrono::milliseconds(timing_.reopenIntervalMs);
            }
        }

        const uint8_t* reply = reply_.data();
        Outcome outcome = Outcome::Nothing;
        Slot after;
        std::vector<CommandReport> reports;
        const bool stored = block_.StoreOutcome(t.slot, t.generation, [&](Slot& s) {
            if (x.writeOk) ++s.requestCount;
            const Request sent =
                c.isWrite ? CommandRequest(s, c.command, a, t.baudRate, t.maxGas, t.midGas)
                          : c.request;
            outcome = Judge(s, c, sent, a, reply, x.count);
            TrackHealth(s, c, reply, x, outcome, reports);
            after.viewWindow = s.viewWindow;
            after.address = s.address;
        });
        for (CommandReport& r : reports) r.slot = t.slot;
        Report(reports);
        if (!stored) return;
        // A close that came after the store: the notice would name an index that is no longer
        // this analyzer's.
        if (!block_.IsCurrent(t.slot, t.generation)) return;
        if (outcome == Outcome::Echo && c.isBaud)
            sink_.BaudAccepted(after.viewWindow, slot.newBaudCode, after.address);
        if ((outcome == Outcome::Data || outcome == Outcome::Failure) && !block_.StopRequested())
            sink_.DataChanged(after.viewWindow, t.slot);
    }

    static void TrackHealth(Slot& s, const Choice& c, const uint8_t* reply,
                            const ExchangeResult& x, Outcome outcome,
                            std::vector<CommandReport>& reports) {
        s.health.Count(ClassifyReply(c.request, reply, x.count, c.replyLength), x);
        if (c.isWrite && x.writeOk) s.TrackSent(c.which, c.request, reports);
        const Command* echoed = outcome == Outcome::Echo ? &c.which : nullptr;
        s.SettleTracks(echoed, CommandFailure::Cleared, false, reports);
    }

    void Report(const std::vector<CommandReport>& reports) {
        for (const CommandReport& r : reports) sink_.CommandChanged(r);
    }

    // False while the device is away and it is not yet time to try it again.
    bool EnsureOpen() {
        if (line_.IsOpen()) return true;
        if (Clock::now() < nextReopen_) return false;
        if (line_.Open(port_, baud_, timing_.line).ok()) return true;
        line_.Close();
        nextReopen_ = Clock::now() + std::chrono::milliseconds(timing_.reopenIntervalMs);
        return false;
    }

    // One box per outage: a box on every turn would hold the station hostage.
    void ReportWriteFailure() {
        if (writeFailureShown_) return;
        writeFailureShown_ = true;
        sink_.ShowError(kWriteFailedText, "");
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

void PollThreadProc(PollBlock& block, PollSink& sink, const PollTiming& timing,
                    PortFactory portFactory) {
    Poller poller(block, sink, timing, portFactory);
    poller.Run();
}

PollThread::PollThread(PollBlock& block, PollSink& sink, PollTiming timing,
                       PortFactory portFactory)
    : block_(block), sink_(sink), timing_(std::move(timing)), portFactory_(std::move(portFactory)) {}

PollThread::~PollThread() {
    if (worker_.Running()) block_.RequestStop();
}

bool PollThread::Start() {
    if (worker_.Running()) return false;
    block_.PrepareConnect();
    return worker_.Start([this] { PollThreadProc(block_, sink_, timing_, portFactory_); });
}

bool PollThread::Running() const { return worker_.Running(); }

bool PollThread::Stop(int timeoutMs, const std::function<void()>& serveOnce) {
    if (!worker_.Running()) {
        worker_.WaitFinished(0);
        return true;
    }
    block_.RequestStop();
    return worker_.WaitFinished(timeoutMs, serveOnce);
}

bool PollThread::Wait(int timeoutMs, const std::function<void()>& serveOnce) {
    return worker_.WaitFinished(timeoutMs, serveOnce);
}

}  // namespace zta
