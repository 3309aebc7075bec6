// SPDX-License-Identifier: GPL-3.0-or-later
// The station's line against a server in this test that sends its replies the way networks
// do: cut into pieces with gaps, glued to other frames, after stray bytes, or not at all.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/engine_support.h"
#include "link/modbus.h"
#include "link/net_codec.h"
#include "link/serial_line.h"

namespace zta {
namespace {

using test::Bytes;
using Clock = std::chrono::steady_clock;

// Serves one connection at a time on 127.0.0.1; each request (8 bytes, or a Modbus TCP one)
// goes to the script, which writes what it likes to the client's socket.
class ScriptedServer {
  public:
    using Script = std::function<void(int client, const Bytes& request)>;

    explicit ScriptedServer(size_t requestLength) : requestLength_(requestLength) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) == 0 &&
            ::listen(listener_, 4) == 0)
            port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedServer() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    void setScript(Script script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }
    std::string url(const char* scheme = "tcp") const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }

    static void send(int client, const Bytes& bytes) {
        (void)::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    static void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

  private:
    void serve() {
        while (!stopping_) {
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) return;
            Bytes request;
            uint8_t b;
            while (::recv(client, &b, 1, 0) == 1) {
                request.push_back(b);
                if (request.size() < requestLength_) continue;
                Script script;
                {
                    std::lock_guard lock(mutex_);
                    script = script_;
                }
                if (script) script(client, request);
                request.clear();
            }
            ::close(client);
        }
    }

    size_t requestLength_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    Script script_;
    std::thread thread_;
};

constexpr int kLineTimeoutMs = 350;  // 9600 baud's own

class CutReplies : public ::testing::Test {
  protected:
    void open(const std::string& url) {
        ASSERT_TRUE(line.open(url, 9600).ok()) << url;
        ASSERT_TRUE(line.isNetwork());
    }
    Request request = readRequest(1, kReadingsRegister, kShortReadCount);
    Bytes reply = test::readReply(1, kShortReplyLength);
    ExchangeResult ask() { return line.exchange(request, kShortReplyLength, 0); }
    bool gotReply(const ExchangeResult& x) const {
        return x.count == reply.size() && std::equal(reply.begin(), reply.end(), line.reply());
    }

    ScriptedServer server{8};
    SerialLine line;
};

TEST_F(CutReplies, AReplyCutAnywhereWithGapsUpToSixtyMsComesWhole) {
    open(server.url());
    for (int gapMs : {0, 25, 60}) {
        for (size_t cut = 1; cut < reply.size(); ++cut) {
            server.setScript([&, cut, gapMs](int client, const Bytes&) {
                ScriptedServer::send(client, Bytes(reply.begin(), reply.begin() + cut));
                ScriptedServer::pause(gapMs);
                ScriptedServer::send(client, Bytes(reply.begin() + cut, reply.end()));
            });
            const ExchangeResult x = ask();
            ASSERT_TRUE(gotReply(x)) << "cut at " << cut << ", gap " << gapMs << " ms: " << x.count;
            EXPECT_EQ(x.strayBytes, 0u);
        }
    }
    // Three pieces, two gaps: the reply time-out covers the whole reply, not each piece.
    server.setScript([&](int client, const Bytes&) {
        for (size_t at = 0; at < reply.size(); at += 9) {
            ScriptedServer::send(
                client, Bytes(reply.begin() + at, reply.begin() + std::min(at + 9, reply.size())));
            ScriptedServer::pause(60);
        }
    });
    EXPECT_TRUE(gotReply(ask()));
}

TEST_F(CutReplies, GluedFramesAndStrayBytesAreToldApart) {
    open(server.url());
    const Bytes foreign = test::readReply(9, kShortReplyLength);
    const Bytes junk = {0x00, 0x13, 0x37};
    // Another number's frame glued before the reply: set aside, the reply is taken.
    server.setScript([&](int client, const Bytes&) {
        Bytes glued = foreign;
        glued.insert(glued.end(), reply.begin(), reply.end());
        ScriptedServer::send(client, glued);
    });
    ExchangeResult x = ask();
    EXPECT_TRUE(gotReply(x));
    EXPECT_EQ(x.foreignFrames, 1);
    // The reply with a frame and junk glued after it: what follows is stray for the next drop.
    server.setScript([&](int client, const Bytes&) {
        Bytes glued = reply;
        glued.insert(glued.end(), foreign.begin(), foreign.end());
        glued.insert(glued.end(), junk.begin(), junk.end());
        ScriptedServer::send(client, glued);
    });
    EXPECT_TRUE(gotReply(ask()));
    server.setScript([&](int client, const Bytes&) { ScriptedServer::send(client, reply); });
    ASSERT_TRUE(line.isOpen());
    // The glued bytes are on the socket already (the server sent them in one piece).
    x = ask();
    EXPECT_TRUE(gotReply(x));
    EXPECT_EQ(x.strayBytes, foreign.size() + junk.size());
    // A reply garbled on the way: a clean CRC error, whole length.
    server.setScript([&](int client, const Bytes&) {
        Bytes bad = reply;
        bad[7] ^= 0x40;
        ScriptedServer::send(client, bad);
    });
    x = ask();
    EXPECT_EQ(x.count, reply.size());
    EXPECT_FALSE(crcPasses(line.reply(), x.count));
}

TEST_F(CutReplies, SilenceTimesOutAndADroppedConnectionIsTheLineGone) {
    open(server.url());
    server.setScript([](int, const Bytes&) {});
    ExchangeResult x = ask();
    EXPECT_EQ(x.count, 0u);
    EXPECT_FALSE(x.vanished);
    // The line's own time plus the network's allowance.
    EXPECT_GE(x.waitedUs, (kLineTimeoutMs + kDefaultNetTimeoutMs) * 1000L);

    server.setScript([&](int client, const Bytes&) {
        ScriptedServer::send(client, Bytes(reply.begin(), reply.begin() + 11));
        ::shutdown(client, SHUT_RDWR);
    });
    x = ask();
    EXPECT_TRUE(x.vanished);
    EXPECT_EQ(x.count, 0u);
    // Gone stays gone for this opening; a new one reconnects.
    EXPECT_TRUE(ask().vanished);
    server.setScript([&](int client, const Bytes&) { ScriptedServer::send(client, reply); });
    open(server.url());
    EXPECT_TRUE(gotReply(ask()));
}

Bytes mbap(uint16_t transaction, const Bytes& rtu) {
    // The RTU frame without its CRC, behind the Modbus TCP header.
    const size_t following = rtu.size() - 2;
    // Built whole: GCC 12's Release build takes a grown vector's insert for an overflow.
    Bytes b(6 + following);
    const uint8_t head[6] = {
        static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction), 0, 0,
        static_cast<uint8_t>(following >> 8),   static_cast<uint8_t>(following)};
    std::copy(head, head + 6, b.begin());
    std::copy(rtu.begin(), rtu.end() - 2, b.begin() + 6);
    return b;
}

TEST(ModbusTcpReplies, MatchedByTransactionInAnyPiecesAndGatewayFaultsEndTheWait) {
    ScriptedServer server(12);
    SerialLine line;
    ASSERT_TRUE(line.open(server.url("mbtcp"), 9600).ok());
    EXPECT_FALSE(line.canSetLineRate());
    const Request request = readRequest(3, kReadingsRegister, kShortReadCount);
    const Bytes reply = test::readReply(3, kShortReplyLength);
    std::vector<Bytes> requests;
    std::mutex m;
    // A late answer to an older transaction, then the answer itself, both in 5-byte pieces.
    server.setScript([&](int client, const Bytes& in) {
        {
            std::lock_guard lock(m);
            requests.push_back(in);
        }
        const uint16_t transaction = static_cast<uint16_t>(in[0] << 8 | in[1]);
        Bytes stream = mbap(static_cast<uint16_t>(transaction - 1), reply);
        const Bytes answer = mbap(transaction, reply);
        stream.insert(stream.end(), answer.begin(), answer.end());
        for (size_t at = 0; at < stream.size(); at += 5) {
            ScriptedServer::send(client, Bytes(stream.begin() + at,
                                               stream.begin() + std::min(at + 5, stream.size())));
            ScriptedServer::pause(2);
        }
    });
    ExchangeResult x = line.exchange(request, kShortReplyLength, 0);
    ASSERT_EQ(x.count, reply.size());
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), line.reply()));
    x = line.exchange(request, kShortReplyLength, 0);
    EXPECT_EQ(x.count, reply.size());
    EXPECT_EQ(x.strayBytes, mbap(0, reply).size());  // the late one, counted at the next drop
    {
        std::lock_guard lock(m);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[0][6], 3);  // unit id = network number
        EXPECT_NE(requests[0][1], requests[1][1]);
    }
    // "No response" from the gateway: no reply, well before the time-out.
    server.setScript([&](int client, const Bytes& in) {
        ScriptedServer::send(client, {in[0], in[1], 0, 0, 0, 3, in[6], 0x84, 0x0B});
    });
    const auto start = Clock::now();
    x = line.exchange(request, kShortReplyLength, 0);
    EXPECT_EQ(x.count, 0u);
    EXPECT_FALSE(x.vanished);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(kLineTimeoutMs));
}

// A telnet server that answers the rate and nothing else (no DTR, no options), reporting
// `reported`, and echoes each 8-byte request with its 0xFF doubled.
struct TelnetEcho {
    explicit TelnetEcho(uint32_t reported) {
        server.setScript([this, reported](int client, const Bytes& in) {
            std::lock_guard lock(m);
            raw.push_back(in[0]);
            if (raw.size() == opening.size() && raw == opening) {
                Bytes ack;
                const uint8_t rate[4] = {
                    static_cast<uint8_t>(reported >> 24), static_cast<uint8_t>(reported >> 16),
                    static_cast<uint8_t>(reported >> 8), static_cast<uint8_t>(reported)};
                net::appendComPortCommand(ack, net::telnet::kSetBaud + 100, rate, 4);
                ScriptedServer::send(client, ack);
                return;
            }
            if (raw.size() <= opening.size()) return;
            if (pendingFf) {
                pendingFf = false;  // the second of a doubled 0xFF
                return;
            }
            pendingFf = in[0] == 0xFF;
            data.push_back(in[0]);
            if (data.size() < 8) return;
            Bytes doubled;
            net::appendTelnetData(doubled, data.data(), data.size());
            ScriptedServer::send(client, doubled);
            data.clear();
        });
    }
    ScriptedServer server{1};
    const Bytes opening = net::telnetOpening(9600);
    std::mutex m;
    Bytes raw, data;
    bool pendingFf = false;
};

TEST(TelnetLine, RateAnsweredIsEnoughAndFfIsDoubledBothWays) {
    TelnetEcho echo(9600);
    SerialLine line;
    // DTR off and the options are never answered: not a failure.
    ASSERT_TRUE(line.open(echo.server.url("rfc2217"), 9600).ok());
    const Request request = writeRequest(1, 5, 0xFF);
    const ExchangeResult x = line.exchange(request, kEchoLength, 0);
    EXPECT_TRUE(isExactEcho(request, line.reply(), x.count));
    {
        std::lock_guard lock(echo.m);
        const size_t ffs = static_cast<size_t>(std::count(request.begin(), request.end(), 0xFF));
        ASSERT_GT(ffs, 0u);
        EXPECT_EQ(echo.raw.size(), echo.opening.size() + request.size() + ffs);
    }
    // A server that sets another rate than the one asked refuses the opening.
    TelnetEcho other(4800);
    EXPECT_EQ(line.open(other.server.url("rfc2217"), 9600).failure, OpenFailure::SettingsRefused);
}

TEST(NetworkRefusals, EachFailureOfOpeningHasItsKind) {
    const int closedPort = [] {
        ScriptedServer gone(8);
        return std::stoi(gone.url().substr(gone.url().rfind(':') + 1));
    }();
    struct Case {
        std::string url;
        OpenFailure failure;
    };
    const Case cases[] = {
        {"tcp://127.0.0.1", OpenFailure::BadAddress},
        {"ftp://127.0.0.1:21", OpenFailure::BadAddress},
        {"tcp://no-such-host.invalid:4001", OpenFailure::HostNotFound},
        {"tcp://127.0.0.1:" + std::to_string(closedPort), OpenFailure::Refused},
        {"mbtcp://127.0.0.1:" + std::to_string(closedPort), OpenFailure::Refused},
    };
    for (const Case& c : cases) {
        SerialLine line;
        EXPECT_EQ(line.open(c.url, 9600).failure, c.failure) << c.url;
        EXPECT_FALSE(line.isOpen());
    }
}

}  // namespace
}  // namespace zta
