// Pseudo-terminals: POSIX only.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <string>

#include "link/modbus.h"
#include "link/regmap.h"
#include "link/serial_line.h"
#include "sim/bus.h"

namespace zta::sim {
namespace {

// The station's own line against the simulator at each rate, and an unplugged simulator is a
// vanished device to it. A reply that comes before the station's purge is lost, as on a real
// line; a machine under heavy load can delay the purge that long, so each exchange gets the
// few tries the poll thread would give it on later turns.
size_t Exchange(SerialLine& line, const Request& request, size_t expected, int settleMs) {
    ExchangeResult x;
    for (int attempt = 0; attempt < 3; ++attempt) {
        x = line.Exchange(request, expected, settleMs);
        if (x.count == expected &&
            (request[1] != kFnWriteSingle || IsExactEcho(request, line.Reply(), x.count)))
            break;
    }
    return x.count;
}

TEST(StationLine, ExchangesAtEachRateAndSeesTheUnplug) {
    std::string error;
    auto bus = Bus::OpenPty("", &error);
    ASSERT_TRUE(bus) << error;
    for (int i = 0; i < 5; ++i) {
        AnalyzerConfig a;
        a.address = i + 1;
        a.baud = kBaudRates[i];
        a.model = i % 2 ? Model::Standard : Model::Extended;
        bus->AddAnalyzer(a);
    }
    bus->Start();
    for (int i = 0; i < 5; ++i) {
        const unsigned baud = kBaudRates[i];
        SCOPED_TRACE(baud);
        const uint8_t address = static_cast<uint8_t>(i + 1);
        SerialLine line;
        ASSERT_TRUE(line.Open(bus->PortPath(), baud).ok());
        const size_t longLength = i % 2 ? kExceptionLength : kLongReplyLength;
        EXPECT_EQ(
            Exchange(line, ReadRequest(address, 1, kLongReadCount), longLength, kPollSettleMs),
            longLength);
        EXPECT_EQ(Exchange(line, ReadRequest(address, 1, kShortReadCount), kShortReplyLength,
                           kPollSettleMs),
                  kShortReplyLength);
        const Request write = WriteRequest(address, 5, 30);
        EXPECT_EQ(Exchange(line, write, kEchoLength, kPollSettleMs), kEchoLength);
        EXPECT_TRUE(IsExactEcho(write, line.Reply(), kEchoLength));
        EXPECT_EQ(Exchange(line, ReadRequest(address, kProbeRegister, kProbeCount),
                           kProbeReplyLength, kSearchSettleMs),
                  kProbeReplyLength);
        line.Close();
    }
    SerialLine line;
    ASSERT_TRUE(line.Open(bus->PortPath(), 9600).ok());
    bus->Unplug();
    const ExchangeResult gone =
        line.Exchange(ReadRequest(4, 1, kShortReadCount), kShortReplyLength, kPollSettleMs);
    EXPECT_EQ(gone.count, 0u);
    EXPECT_TRUE(gone.vanished);
}

}  // namespace
}  // namespace zta::sim

#endif  // _WIN32
