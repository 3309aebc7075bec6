// SPDX-License-Identifier: GPL-3.0-or-later
// Network port names and the byte streams of the network lines, without a socket.
#include "link/net_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "link/crc.h"
#include "link/modbus.h"
#include "link/net_address.h"
#include "link/serial_line.h"

namespace zta {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(NetAddress, ParsesTheThreeFormsAndRefusesTheRest) {
    struct Case {
        const char* name;
        bool ok;
        NetScheme scheme;
        const char* host;
        uint16_t port;
    };
    const Case cases[] = {
        {"tcp://10.0.0.5:4001", true, NetScheme::RawTcp, "10.0.0.5", 4001},
        {"TCP://lab-server.local:7000/", true, NetScheme::RawTcp, "lab-server.local", 7000},
        {"rfc2217://moxa:950", true, NetScheme::Telnet, "moxa", 950},
        {"mbtcp://gw", true, NetScheme::ModbusTcp, "gw", 502},
        {"mbtcp://[fe80::1%eth0]:1502", true, NetScheme::ModbusTcp, "fe80::1%eth0", 1502},
        {"rfc2217://[::1]:2000", true, NetScheme::Telnet, "::1", 2000},
        {"tcp://host", false, NetScheme::None, "", 0},  // a device server has no usual port
        {"tcp://:4001", false, NetScheme::None, "", 0},
        {"tcp://host:0", false, NetScheme::None, "", 0},
        {"tcp://host:65536", false, NetScheme::None, "", 0},
        {"tcp://host:40x1", false, NetScheme::None, "", 0},
        {"tcp://host:4001/path", false, NetScheme::None, "", 0},
        {"tcp://ho st:4001", false, NetScheme::None, "", 0},
        {"udp://host:4001", false, NetScheme::None, "", 0},
        {"mbtcp://[::1", false, NetScheme::None, "", 0},
        {"/dev/ttyUSB0", false, NetScheme::None, "", 0},
    };
    for (const Case& c : cases) {
        NetAddress a;
        ASSERT_EQ(parseNetAddress(c.name, a), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(a.scheme, c.scheme) << c.name;
        EXPECT_EQ(a.host, c.host) << c.name;
        EXPECT_EQ(a.port, c.port) << c.name;
    }
    EXPECT_TRUE(isNetworkPortName("udp://host:1"));  // refused as an address, not as a device
    EXPECT_FALSE(isNetworkPortName("/dev/serial/by-id/usb-x"));
    EXPECT_FALSE(lineRateSettable("mbtcp://gw"));
    EXPECT_TRUE(lineRateSettable("rfc2217://moxa:950"));
    EXPECT_TRUE(lineRateSettable("COM3"));
}

TEST(NetAddress, AStoredNameKeepsTheAddressAsTyped) {
    for (const char* name : {"tcp://10.0.0.5:4001", "mbtcp://gateway-long-name"}) {
        EXPECT_EQ(storedPortNameWindows(name), name);
        EXPECT_EQ(storedPortNamePosix(name), name);
    }
}

TEST(NetAddress, RefusalsNameTheAddress) {
    const std::string url = "tcp://lab7:4001";
    struct Case {
        OpenResult result;
        std::string text;
    };
    const Case cases[] = {
        {{OpenFailure::BadAddress, 0}, "Адрес tcp://lab7:4001 указан неверно"},
        {{OpenFailure::HostNotFound, -2}, "Узел lab7 не найден"},
        {{OpenFailure::Refused, 111}, "Соединение с tcp://lab7:4001 отклонено"},
        {{OpenFailure::Refused, 0, "Port already in use"},
         "Соединение с tcp://lab7:4001 отклонено: Port already in use"},
        {{OpenFailure::NoAnswer, 110}, "tcp://lab7:4001 не отвечает"},
    };
    for (const Case& c : cases) EXPECT_EQ(openFailureText(c.result, url), c.text);
    EXPECT_EQ(openFailureText({OpenFailure::HostNotFound, 0}, "tcp://bad name:1"),
              "Узел tcp://bad name:1 не найден");
    EXPECT_EQ(lineGoneFailure(url).failure, OpenFailure::NoAnswer);
    EXPECT_EQ(lineGoneFailure("/dev/ttyUSB0").failure, OpenFailure::WrongPort);
}

// Feeds `stream` to a fresh decoder in pieces of `piece` bytes.
struct Decoded {
    Bytes data, answer;
    uint32_t baud = 0;
    bool refused = false;
};
Decoded decodeInPieces(const Bytes& stream, size_t piece) {
    net::TelnetDecoder d;
    d.offered(net::telnet::kBinary);
    d.askedFor(net::telnet::kBinary);
    d.offered(net::telnet::kComPort);
    Decoded out;
    for (size_t at = 0; at < stream.size(); at += piece)
        d.feed(stream.data() + at, std::min(piece, stream.size() - at), out.data, out.answer);
    out.baud = d.reportedBaud();
    out.refused = d.comPortRefused();
    return out;
}

TEST(Telnet, DataAndTheServersAnswersComeThroughInAnyPieces) {
    using namespace net::telnet;
    // The server agrees to what was offered, asks for echo (declined) and reports 19200 (0x4B00)
    // then 0xFF-bearing rate 0x0001C2FF, with data around: 0xFF doubled, 01 FF 02.
    const Bytes stream = {kIac, kDo,   kBinary, kIac, kWill, kBinary,  0x01,     kIac, kIac, 0x02,
                          kIac, kWill, 1,       kIac, kSb,   kComPort, 101,      0,    0,    0x4B,
                          0,    kIac,  kSe,     0x03, kIac,  kSb,      kComPort, 101,  0,    1,
                          0xC2, kIac,  kIac,    kIac, kSe,   kIac,     kIac};
    for (size_t piece = 1; piece <= stream.size(); ++piece) {
        const Decoded d = decodeInPieces(stream, piece);
        EXPECT_EQ(d.data, (Bytes{0x01, 0xFF, 0x02, 0x03, 0xFF})) << piece;
        // Agreement to an offer is not answered again; the unwanted echo is declined once.
        EXPECT_EQ(d.answer, (Bytes{kIac, kDont, 1})) << piece;
        EXPECT_EQ(d.baud, 0x0001C2FFu) << piece;
        EXPECT_FALSE(d.refused);
    }
    EXPECT_TRUE(decodeInPieces({kIac, kDont, kComPort}, 1).refused);
}

TEST(Telnet, RequestsGoOutWithTheirFfDoubled) {
    const Request r = writeRequest(1, 5, 0xFF);  // 01 06 00 05 00 FF + CRC
    Bytes out;
    net::appendTelnetData(out, r.data(), r.size());
    Bytes undone;
    for (size_t i = 0; i < out.size(); ++i) {
        undone.push_back(out[i]);
        if (out[i] == 0xFF) {
            ASSERT_LT(i + 1, out.size());
            ASSERT_EQ(out[++i], 0xFF);
        }
    }
    EXPECT_EQ(undone, Bytes(r.begin(), r.end()));
    EXPECT_GT(out.size(), r.size());
    // The opening asks for the rate in four bytes, high first.
    const Bytes opening = net::telnetOpening(19200);
    const Bytes setRate = {255, 250, 44, 1, 0, 0, 0x4B, 0, 255, 240};
    EXPECT_NE(std::search(opening.begin(), opening.end(), setRate.begin(), setRate.end()),
              opening.end());
}

Bytes mbapReply(uint16_t transaction, uint8_t unit, const Bytes& pdu) {
    const size_t following = pdu.size() + 1;
    // Built whole: GCC 12's Release build takes a grown vector's insert for an overflow.
    Bytes b(7 + pdu.size());
    const uint8_t head[7] = {
        static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction), 0,   0,
        static_cast<uint8_t>(following >> 8),   static_cast<uint8_t>(following),   unit};
    std::copy(head, head + 7, b.begin());
    std::copy(pdu.begin(), pdu.end(), b.begin() + 7);
    return b;
}

TEST(Mbap, RequestCarriesTheNumberAsUnitAndDropsTheCrc) {
    const Request r = readRequest(17, 1, 10);
    Bytes out;
    ASSERT_TRUE(net::mbapFromRtu(r.data(), r.size(), 0x1234, out));
    EXPECT_EQ(out, (Bytes{0x12, 0x34, 0, 0, 0, 6, 17, 0x04, 0, 1, 0, 10}));
    Request bad = r;
    bad[7] ^= 1;
    EXPECT_FALSE(net::mbapFromRtu(bad.data(), bad.size(), 1, out));
}

TEST(Mbap, OnlyTheAwaitedTransactionAnswersAndGatewayFaultsMeanNoReply) {
    const Bytes pdu = {0x04, 0x04, 0x00, 0x14, 0x00, 0x01};
    Bytes rtu = {7, 0x04, 0x04, 0x00, 0x14, 0x00, 0x01, 0, 0};
    const uint16_t crc = crc16Modbus(rtu.data(), rtu.size() - 2);
    rtu[rtu.size() - 2] = static_cast<uint8_t>(crc);
    rtu[rtu.size() - 1] = static_cast<uint8_t>(crc >> 8);

    Bytes stream = mbapReply(41, 7, pdu);  // a late answer to an earlier request
    const Bytes answer = mbapReply(42, 7, pdu);
    stream.insert(stream.end(), answer.begin(), answer.end());
    stream.insert(stream.end(), answer.begin(), answer.end());  // the same once more
    for (size_t piece = 1; piece <= stream.size(); ++piece) {
        net::MbapDecoder d;
        d.expect(42);
        Bytes out;
        for (size_t at = 0; at < stream.size(); at += piece)
            d.feed(stream.data() + at, std::min(piece, stream.size() - at), out);
        EXPECT_EQ(out, rtu) << piece;
        EXPECT_EQ(d.takeStray(), 2 * answer.size()) << piece;
        EXPECT_FALSE(d.noReply());
    }
    for (uint8_t code : {0x0A, 0x0B}) {
        net::MbapDecoder d;
        d.expect(9);
        Bytes out;
        const Bytes fault = mbapReply(9, 7, {0x84, code});
        d.feed(fault.data(), fault.size(), out);
        EXPECT_TRUE(out.empty());
        EXPECT_TRUE(d.noReply());
    }
    // The analyzer's own refusal is an answer: 07 84 02 with its CRC.
    net::MbapDecoder d;
    d.expect(3);
    Bytes out;
    const Bytes refusal = mbapReply(3, 7, {0x84, 0x02});
    d.feed(refusal.data(), refusal.size(), out);
    ASSERT_EQ(out.size(), kExceptionLength);
    EXPECT_TRUE(crcPasses(out.data(), out.size()));
    // A stream that is not Modbus TCP is dropped whole, and so is all that follows it on the
    // connection, however it is cut: no frame boundary can be found in it again.
    const Bytes junk = {'P', 'o', 'r', 't', ' ', 'b', 'u', 's', 'y'};
    const Bytes next = mbapReply(4, 7, {0x84, 0x02});
    for (size_t piece : {size_t{1}, size_t{7}, junk.size()}) {
        net::MbapDecoder j;
        j.expect(4);
        Bytes got;
        for (size_t at = 0; at < junk.size(); at += piece)
            j.feed(junk.data() + at, std::min(piece, junk.size() - at), got);
        j.feed(next.data(), next.size(), got);
        EXPECT_TRUE(j.broken()) << piece;
        EXPECT_TRUE(got.empty()) << piece;
        EXPECT_EQ(j.takeStray(), junk.size() + next.size()) << piece;
    }
}

}  // namespace
}  // namespace zta
