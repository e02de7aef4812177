// The remote bit-bang client and server halves, against each other and against
// hand-made peers, over real loopback and unix sockets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "port/remote_bitbang_client.h"
#include "port/remote_bitbang_server.h"
#include "port/remote_bitbang_socket.h"
#include "support/temp_dir.h"

namespace orbvex {
namespace {

using net::Endpoint;
using net::Listener;
using net::Socket;

Endpoint Loopback() {
    Endpoint e;
    e.host = "127.0.0.1";
    return e;
}

// A listener and the client socket connected to it, plus the server's end.
struct Pair {
    Listener listener;
    Socket client;
    Socket server;
};

void Connect(Pair& p, const Endpoint& where) {
    std::string error;
    ASSERT_TRUE(p.listener.Open(where, error)) << error;
    p.client = net::Connect(p.listener.Bound(), error);
    ASSERT_TRUE(p.client.Valid()) << error;
    p.server = p.listener.Accept(2000);
    ASSERT_TRUE(p.server.Valid());
}

// Reads what the peer sent until 'R' arrives (or the peer goes); answers with answer.
std::string ReceiveUntilRead(Socket& s, char answer) {
    std::string got;
    char buffer[4096];
    while (got.find('R') == std::string::npos) {
        if (!s.WaitReadable(2000)) break;
        long n = s.Receive(buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    s.SendAll(&answer, 1);
    return got;
}

// Port registers recorded, with a status register the test sets.
class RecordingPort : public PortBackend {
public:
    std::vector<std::pair<std::uint16_t, std::uint8_t>> writes;
    std::vector<std::uint16_t> reads;
    std::uint8_t status = 0;
    std::uint8_t Read(std::uint16_t port) override {
        reads.push_back(port);
        return status;
    }
    void Write(std::uint16_t port, std::uint8_t value) override { writes.push_back({port, value}); }
};

// A cable whose TDO shows the TDI of the last data write: what goes in comes back.
class EchoCable : public PortBackend {
public:
    std::uint8_t data = 0;
    std::uint8_t Read(std::uint16_t) override { return (data & 0x04) ? 0x10 : 0x00; }
    void Write(std::uint16_t, std::uint8_t value) override { data = value; }
};

TEST(RemoteBitbangEndpoint, ParsesTcpAndUnixForms) {
    Endpoint e;
    std::string error;
    ASSERT_TRUE(net::ParseEndpoint("localhost:3335", e, error));
    EXPECT_FALSE(e.isUnix);
    EXPECT_EQ(e.host, "localhost");
    EXPECT_EQ(e.port, 3335);
    ASSERT_TRUE(net::ParseEndpoint("[::1]:9", e, error));
    EXPECT_EQ(e.host, "::1");
    EXPECT_EQ(e.Describe(), "[::1]:9");
    ASSERT_TRUE(net::ParseEndpoint("unix:/tmp/rbb.sock", e, error));
    EXPECT_TRUE(e.isUnix);
    EXPECT_EQ(e.path, "/tmp/rbb.sock");
    for (const char* bad : {"localhost", "host:", "host:70000", "host:12x", ":80", "unix:"})
        EXPECT_FALSE(net::ParseEndpoint(bad, e, error)) << bad;
}

TEST(RemoteBitbangClient, MapsDataWritesToRequestsAndQueuesThemUntilARead) {
    Pair p;
    Connect(p, Loopback());
    RemoteBitbangClient client(std::move(p.client));
    client.Write(0x378, 0x08);  // reset line high (TRST released), pins low: 'r' '0'
    client.Write(0x378, 0x0A);  // TCK up: '4'
    client.Write(0x378, 0x08);  // TCK down: '0'
    client.Write(0x378, 0x0D);  // TMS and TDI: '3'
    client.Write(0x378, 0x0F);  // and TCK: '7'
    client.Write(0x378, 0x0F);  // nothing new: no request
    client.Write(0x378, 0x07);  // reset line low (TRST asserted), pins unchanged: 't'
    // Nothing has gone out yet: writes wait for the next read.
    EXPECT_FALSE(p.server.WaitReadable(50));
    EXPECT_EQ(client.BytesSent(), 0u);

    std::string seen;
    std::thread server([&] { seen = ReceiveUntilRead(p.server, '1'); });
    EXPECT_EQ(client.Read(0x379), 0x10);
    server.join();
    EXPECT_EQ(seen, "r04037tR");
    EXPECT_EQ(client.RoundTrips(), 1u);

    server = std::thread([&] { seen = ReceiveUntilRead(p.server, '0'); });
    EXPECT_EQ(client.Read(0x379), 0x00);
    server.join();
    EXPECT_EQ(seen, "R");  // a read alone costs one request and one answer
    EXPECT_FALSE(client.Dropped());
}

TEST(RemoteBitbangClient, ADroppedConnectionIsReportedOnceAndReadsTdoHighWithoutWaiting) {
    Pair p;
    Connect(p, Loopback());
    RemoteBitbangClient client(std::move(p.client));
    int reports = 0;
    std::string reason;
    client.SetDropHandler([&](const std::string& r) {
        ++reports;
        reason = r;
    });
    p.server.Close();
    auto started = std::chrono::steady_clock::now();
    client.Write(0x378, 0x04);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(client.Read(0x379), 0x10);
    client.Write(0x378, 0x00);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(client.Dropped());
    EXPECT_EQ(reports, 1);
    EXPECT_FALSE(reason.empty());
}

TEST(RemoteBitbangClient, APeerThatStopsAnsweringCountsAsADrop) {
    Pair p;
    Connect(p, Loopback());
    RemoteBitbangClient client(std::move(p.client), 200);
    int reports = 0;
    client.SetDropHandler([&](const std::string&) { ++reports; });
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Read(0x379), 0x10);  // the server holds its answer back
    EXPECT_EQ(client.Read(0x379), 0x10);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(client.DropReason(), "the remote receiver stopped answering");
}

TEST(RemoteBitbangClient, AnAnswerThatIsNeitherZeroNorOneEndsTheSession) {
    Pair p;
    Connect(p, Loopback());
    RemoteBitbangClient client(std::move(p.client));
    std::thread server([&] { ReceiveUntilRead(p.server, 'x'); });
    EXPECT_EQ(client.Read(0x379), 0x10);
    server.join();
    EXPECT_TRUE(client.Dropped());
}

TEST(RemoteBitbangInterpreter, TurnsRequestsIntoPortAccesses) {
    RecordingPort port;
    RemoteBitbangInterpreter interpreter(port, 0x278);
    std::string replies;
    port.status = 0x10;
    EXPECT_TRUE(interpreter.Feed("4R", 2, replies));
    port.status = 0xEF;  // every bit but TDO
    EXPECT_TRUE(interpreter.Feed("3tR", 3, replies));
    EXPECT_TRUE(interpreter.Feed("usr0", 4, replies));
    EXPECT_EQ(replies, "10");
    std::vector<std::pair<std::uint16_t, std::uint8_t>> expected = {
        {0x278, 0x0A},  // '4': TCK, reset line high (TRST released until told otherwise)
        {0x278, 0x0D},  // '3': TMS and TDI
        {0x278, 0x05},  // 't': TRST asserted, reset line low
        {0x278, 0x05},  // 'u': trst 1, srst 1
        {0x278, 0x0D},  // 's': trst 0, srst 1
        {0x278, 0x0D},  // 'r'
        {0x278, 0x08},  // '0'
    };
    EXPECT_EQ(port.writes, expected);
    EXPECT_EQ(port.reads, (std::vector<std::uint16_t>{0x279, 0x279}));
}

TEST(RemoteBitbangInterpreter, IgnoresBlinkSwdAndSleepAndStopsAtQuit) {
    RecordingPort port;
    RemoteBitbangInterpreter interpreter(port);
    std::string replies;
    const std::string requests = "BOocdefgZz\n";
    EXPECT_TRUE(interpreter.Feed(requests.data(), requests.size(), replies));
    EXPECT_TRUE(interpreter.BlinkOn());
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(port.reads.empty());
    EXPECT_TRUE(replies.empty());
    EXPECT_FALSE(interpreter.Feed("bQ1R", 4, replies));
    EXPECT_FALSE(interpreter.BlinkOn());
    EXPECT_TRUE(port.writes.empty());  // nothing after the quit request is handled
    EXPECT_TRUE(replies.empty());
}

// The client and the server half as they meet in the field, on an echo cable.
void RunEchoSession(const Endpoint& where) {
    Listener listener;
    std::string error;
    ASSERT_TRUE(listener.Open(where, error)) << error;
    EchoCable cable;
    bool quitSeen = false;
    std::thread server([&] {
        Socket s = listener.Accept(2000);
        RemoteBitbangInterpreter interpreter(cable);
        quitSeen = ServeRemoteBitbang(s, interpreter);
    });
    {
        RemoteBitbangClient client(net::Connect(listener.Bound(), error));
        ASSERT_FALSE(client.Dropped()) << error;
        const std::vector<bool> pattern = {true, false, false, true, true, true, false, true};
        for (bool bit : pattern) {
            client.Write(0x378, bit ? 0x0C : 0x08);
            client.Write(0x378, bit ? 0x0E : 0x0A);  // TCK high
            EXPECT_EQ(client.Read(0x379) == 0x10, bit);
        }
        EXPECT_EQ(client.RoundTrips(), pattern.size());
        client.Write(0x378, 0x00);  // queued, no read after it
        client.Quit();
    }
    server.join();
    EXPECT_TRUE(quitSeen);
    EXPECT_EQ(cable.data, 0x00);  // the last write went out with the quit request
}

TEST(RemoteBitbangSession, ClientAndServerAgreeOverTcp) { RunEchoSession(Loopback()); }

TEST(RemoteBitbangSession, ClientAndServerAgreeOverAUnixSocket) {
#if defined(_WIN32)
    GTEST_SKIP() << "no unix sockets here";
#else
    test::TempDir dir;
    Endpoint where;
    where.isUnix = true;
    where.path = dir.Path("rbb.sock");
    RunEchoSession(where);
#endif
}

TEST(RemoteBitbangSession, ServerEndsWhenTheClientGoesAway) {
    Listener listener;
    std::string error;
    ASSERT_TRUE(listener.Open(Loopback(), error)) << error;
    EchoCable cable;
    std::atomic<int> result{-1};
    std::thread server([&] {
        Socket s = listener.Accept(2000);
        RemoteBitbangInterpreter interpreter(cable);
        result = ServeRemoteBitbang(s, interpreter) ? 1 : 0;
    });
    {
        Socket s = net::Connect(listener.Bound(), error);
        ASSERT_TRUE(s.SendAll("4", 1));
    }
    server.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(cable.data, 0x0A);
}

}  // namespace
}  // namespace orbvex
