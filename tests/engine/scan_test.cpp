// SPDX-License-Identifier: GPL-3.0-or-later
// The search scan against simulated analyzers on a pseudo-terminal.

#include "search/scan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "quiet_port.h"
#include "sim/bus.h"

namespace zta {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kBaud = 19200;
// Long enough for a 21-byte answer at 19200 on a loaded machine, short enough that 256 silent
// numbers stay a few seconds.
constexpr int kTestReplyTimeoutMs = 60;

struct Event {
    enum Kind { Progress, Finished, LineFailed, Error } kind;
    int number = -1;
    std::string text, caption;
};

class RecordingSink : public SearchSink {
  public:
    explicit RecordingSink(SearchParams& params) : params_(params) {}

    // Called on the scan thread after the notice of `number` is recorded.
    std::function<void(int)> onProgress;
    std::function<void()> onFinished;
    // Stops the scan once this number's progress arrives, so the next number is the one being
    // tried when the stop comes.
    int stopAfter = -1;
    bool stopDuringError = false;

    void progress(int number) override {
        record({Event::Progress, number, {}, {}});
        if (number == stopAfter) params_.requestStop();
        if (onProgress) onProgress(number);
    }
    void finished() override {
        record({Event::Finished, -1, {}, {}});
        if (onFinished) onFinished();
    }
    void lineFailed() override { record({Event::LineFailed, -1, {}, {}}); }
    void showError(const std::string& text, const std::string& caption) override {
        if (stopDuringError) params_.requestStop();
        record({Event::Error, -1, text, caption});
    }

    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<int> progressNumbers() const {
        std::vector<int> out;
        for (const Event& e : events())
            if (e.kind == Event::Progress) out.push_back(e.number);
        return out;
    }
    // The notices other than progress, in order: "E", "L", "F".
    std::string ends() const {
        std::string out;
        for (const Event& e : events()) {
            if (e.kind == Event::Error) out += 'E';
            if (e.kind == Event::LineFailed) out += 'L';
            if (e.kind == Event::Finished) out += 'F';
        }
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    std::vector<Event> errors() const {
        std::vector<Event> out;
        for (const Event& e : events())
            if (e.kind == Event::Error) out.push_back(e);
        return out;
    }

  private:
    void record(Event e) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(e));
    }
    SearchParams& params_;
    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// Runs one scan on its own thread, as the station does, with a bounded wait: a scan that
// overruns is stopped (it then ends within one exchange) and the test fails.
void runScan(SearchParams& params, RecordingSink& sink, const std::string& port,
             std::chrono::seconds limit = 60s) {
    params.prepare(port, kBaud);
    LineOptions options;
    options.replyTimeoutMs = kTestReplyTimeoutMs;
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread worker([&] {
        searchThreadProc(params, sink, options);
        std::lock_guard lock(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock lock(m);
    const bool inTime = cv.wait_for(lock, limit, [&] { return done; });
    lock.unlock();
    if (!inTime) {
        params.requestStop();
        ADD_FAILURE() << "the scan did not end within " << limit.count() << " s";
    }
    worker.join();
}

std::vector<int> iota(int first, int last) {
    std::vector<int> v(static_cast<size_t>(last - first + 1));
    std::iota(v.begin(), v.end(), first);
    return v;
}

class ScanTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the simulator needs a pseudo-terminal";
#endif
        std::string error;
        bus_ = sim::Bus::openPty("", &error);
        ASSERT_TRUE(bus_) << error;
    }
    void add(int address, std::vector<int> extra = {}) {
        sim::AnalyzerConfig a;
        a.address = address;
        a.extraAddresses = std::move(extra);
        a.baud = kBaud;
        bus_->addAnalyzer(a);
    }
    std::vector<std::vector<uint8_t>> requestsIn() const {
        std::vector<std::vector<uint8_t>> out;
        for (const sim::LogEntry& e : bus_->log())
            if (e.kind != sim::LogEntry::Kind::WriteApplied) out.push_back(e.bytes);
        return out;
    }

    // On a loaded machine a reply can come before the scan's purge (lost, its number missed) or
    // after the short test time-out (taken by the next number's read). A scan that did not find
    // exactly `expected` runs again, at most three times in all: a fault of the scan shows in
    // every run, a reply lost to the machine's load does not.
    void scanUntilFound(const std::vector<int>& expected) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (attempt > 0) {
                std::this_thread::sleep_for(200ms);  // no late reply of the last run in flight
                bus_->clearLog();
                sink_.clear();
            }
            runScan(params_, sink_, bus_->portPath());
            if (params_.found() == expected) return;
        }
    }

    std::unique_ptr<sim::Bus> bus_;
    SearchParams params_;
    RecordingSink sink_{params_};
};

TEST_F(ScanTest, AnalyzerAt17OnlyIsFoundWithEveryProgressAndOneEnd) {
    add(17);
    bus_->start();
    // The poll thread may open the port as soon as the end notice arrives.
    bool portFreeAtEnd = false;
    sink_.onFinished = [&] { portFreeAtEnd = SerialLine().open(bus_->portPath(), kBaud).ok(); };
    scanUntilFound({17});
    EXPECT_TRUE(portFreeAtEnd);

    EXPECT_EQ(params_.found(), std::vector<int>{17});
    EXPECT_EQ(params_.foundCount(), 1);
    EXPECT_EQ(sink_.progressNumbers(), iota(0, 255));
    EXPECT_EQ(sink_.ends(), "F");
    EXPECT_EQ(sink_.events().back().kind, Event::Finished);
    EXPECT_TRUE(params_.resultsFinal());

    // One probe per number, in order: read eight input registers from register 2.
    const auto requests = requestsIn();
    ASSERT_EQ(requests.size(), 256u);
    for (int n = 0; n < 256; ++n) {
        const Request probe = probeRequest(static_cast<uint8_t>(n));
        EXPECT_EQ(requests[static_cast<size_t>(n)],
                  std::vector<uint8_t>(probe.begin(), probe.end()))
            << "number " << n;
    }
    EXPECT_EQ(requests[17], (std::vector<uint8_t>{0x11, 0x04, 0x00, 0x02, 0x00, 0x08, 0x52, 0x9C}));
}

TEST_F(ScanTest, AnalyzerAtSeveralNumbersIsListedOnceEachInScanOrder) {
    add(30, {200, 5});
    add(9);
    bus_->start();
    scanUntilFound({5, 9, 30, 200});

    EXPECT_EQ(params_.found(), (std::vector<int>{5, 9, 30, 200}));
    EXPECT_EQ(sink_.progressNumbers().size(), 256u);
    EXPECT_EQ(sink_.ends(), "F");
}

// An adapter that hands back every probe: its copies are no answers, the analyzers still are.
TEST_F(ScanTest, OnAnEchoingLineTheProbesCopiesAreNoAnswers) {
    add(9);
    add(30);
    bus_->setLineEcho(1);
    bus_->start();
    scanUntilFound({9, 30});
    EXPECT_EQ(params_.found(), (std::vector<int>{9, 30}));
}

TEST_F(ScanTest, StopWhile40IsTriedEvaluates40WithoutProgressOrEnd) {
    add(3);
    add(40);
    add(41);
    bus_->start();
    sink_.stopAfter = 39;
    scanUntilFound({3, 40});

    EXPECT_EQ(params_.found(), (std::vector<int>{3, 40}));
    EXPECT_EQ(sink_.progressNumbers(), iota(0, 39));
    EXPECT_EQ(sink_.ends(), "");
    EXPECT_TRUE(params_.resultsFinal());
    const auto requests = requestsIn();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back()[0], 40);

    // The port is free again for the poll thread.
    SerialLine line;
    EXPECT_TRUE(line.open(bus_->portPath(), kBaud).ok());
}

// Short scans: the analyzer sits at 2 and the scan is stopped while 2 is tried.
struct ReplyCase {
    const char* name;
    sim::Fault fault;
    bool counts;
};

class ScanReplyTest : public ScanTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ScanReplyTest, OnlyA21ByteReplyWithItsCrcCounts) {
    add(2);
    bus_->setFault(2, GetParam().fault);
    bus_->start();
    sink_.stopAfter = 1;
    runScan(params_, sink_, bus_->portPath());

    EXPECT_EQ(params_.found(), GetParam().counts ? std::vector<int>{2} : std::vector<int>{});
    EXPECT_EQ(sink_.progressNumbers(), iota(0, 1));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ScanReplyTest,
    ::testing::Values(ReplyCase{"Clean", sim::Fault::None, true},
                      ReplyCase{"Silent", sim::Fault::Silent, false},
                      ReplyCase{"WrongCrc", sim::Fault::WrongCrc, false},
                      ReplyCase{"Short", sim::Fault::ShortReply, false},
                      // Only 21 bytes are read: a trailing extra byte is purged unseen.
                      ReplyCase{"TrailingExtraByte", sim::Fault::LongReply, true},
                      ReplyCase{"Late", sim::Fault::LateReply, false},
                      ReplyCase{"Noise", sim::Fault::Noise, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScanAcceptance, NeitherNumberNorFunctionOfTheReplyIsCompared) {
    uint8_t reply[kProbeReplyLength] = {0x63, 0x04, 16};
    for (size_t i = 3; i < 19; ++i) reply[i] = static_cast<uint8_t>(i * 7);
    sealFrame(reply, sizeof reply);
    EXPECT_TRUE(probeAccepted(reply, sizeof reply));
    reply[1] = 0x03;
    sealFrame(reply, sizeof reply);
    EXPECT_TRUE(probeAccepted(reply, sizeof reply));
    reply[5] ^= 1;
    EXPECT_FALSE(probeAccepted(reply, sizeof reply));
}

TEST(ScanProgressText, ListsTheFoundNumbersEachWithAComma) {
    EXPECT_EQ(searchProgressText(0, {}), "Поиск приборов. Прибор № 0");
    EXPECT_EQ(searchProgressText(17, {3, 5}), "Поиск приборов. Прибор № 17 ; Найдены №№: 3,5,");
}

// A port that answers every probe from a script, for replies the simulator never sends.
class ScriptedPort : public zta::testing::QuietPort {
  public:
    using Script = std::function<std::vector<uint8_t>(const Request&)>;
    explicit ScriptedPort(Script script) : script_(std::move(script)) {}

    OpenResult open(const std::string&, unsigned, DirectionSetting, DirectionMode& mode) override {
        mode = DirectionMode::Driver;
        return {};
    }
    bool write(const uint8_t* data, size_t length) override {
        Request request{};
        if (length == request.size()) std::copy(data, data + length, request.begin());
        reply_ = script_(request);
        return true;
    }
    size_t read(uint8_t* buffer, size_t length, int) override {
        const size_t n = std::min(length, reply_.size());
        std::copy(reply_.begin(), reply_.begin() + static_cast<long>(n), buffer);
        reply_.erase(reply_.begin(), reply_.begin() + static_cast<long>(n));
        return n;
    }

  private:
    Script script_;
    std::vector<uint8_t> reply_;
};

TEST(ScanScripted, EveryNumberAnsweringForAnotherNumberIsKeptAll256) {
    SearchParams params;
    RecordingSink sink(params);
    params.prepare("scripted", kBaud);
    searchThreadProc(params, sink, {}, [] {
        return std::make_unique<ScriptedPort>([](const Request& probe) {
            std::vector<uint8_t> reply(kProbeReplyLength);
            reply[0] = static_cast<uint8_t>(probe[0] + 1);  // someone else's number
            reply[1] = kFnReadInput;
            reply[2] = 16;
            sealFrame(reply.data(), reply.size());
            return reply;
        });
    });

    EXPECT_EQ(params.found(), iota(0, 255));
    EXPECT_EQ(params.foundCount(), 256);
    EXPECT_EQ(sink.progressNumbers(), iota(0, 255));
    EXPECT_EQ(sink.ends(), "F");
}

struct PortFailureCase {
    const char* name;
    bool busy;           // else the path does not exist
    bool stopDuringBox;  // the window stops the search while the box is open
    const char* textFormat;
};

class ScanPortFailureTest : public ScanTest,
                            public ::testing::WithParamInterface<PortFailureCase> {};

TEST_P(ScanPortFailureTest, BoxThenFailureNoticeThenEndUnlessStopped) {
    const PortFailureCase& c = GetParam();
    bus_->start();
    std::string path = bus_->portPath();
    SerialLine holder;
    if (c.busy)
        ASSERT_TRUE(holder.open(path, kBaud).ok());
    else
        path = "/dev/zta-no-such-port";
    params_.beginScan();
    params_.addFound(7);  // an earlier search's result
    sink_.stopDuringError = c.stopDuringBox;
    runScan(params_, sink_, path);

    char expected[256];
    std::snprintf(expected, sizeof expected, c.textFormat, path.c_str());
    const auto errors = sink_.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, expected);
    EXPECT_EQ(errors[0].caption, "Поиск");
    EXPECT_EQ(sink_.ends(), c.stopDuringBox ? "EL" : "ELF");
    EXPECT_TRUE(sink_.progressNumbers().empty());
    EXPECT_EQ(params_.found(), std::vector<int>{7});
}

INSTANTIATE_TEST_SUITE_P(
    Ports, ScanPortFailureTest,
    ::testing::Values(PortFailureCase{"Busy", true, false, "Порт %s занят."},
                      PortFailureCase{"Missing", false, false, "Порт %s указан неверно"},
                      PortFailureCase{"BusyStoppedDuringBox", true, true, "Порт %s занят."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScanTest, UnpluggedAdapterEndsTheScanWithTheMissingPortBox) {
    add(1);
    bus_->start();
    sink_.onProgress = [&](int number) {
        if (number == 10) bus_->unplug();
    };
    runScan(params_, sink_, bus_->portPath(), 30s);

    EXPECT_EQ(params_.found(), std::vector<int>{1});
    const auto progress = sink_.progressNumbers();
    EXPECT_EQ(progress, iota(0, 10));
    const auto errors = sink_.errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].text, "Порт " + bus_->portPath() + " указан неверно");
    EXPECT_EQ(sink_.ends(), "ELF");
}

}  // namespace
}  // namespace zta
