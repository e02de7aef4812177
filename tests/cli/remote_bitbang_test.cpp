// SPDX-License-Identifier: GPL-2.0-or-later
// The remote bit-bang client and server halves, against each other and against
// hand-made peers, over real loopback sockets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "remote/remote_bitbang_client.h"
#include "remote/remote_bitbang_server.h"
#include "remote/remote_bitbang_socket.h"

namespace orbvex {
namespace {

using net::Endpoint;
using net::Socket;

Endpoint Loopback() {
    Endpoint e;
    e.host = "127.0.0.1";
    return e;
}

// Port registers recorded. TDO shows the status set by the test or, when it is
// negative, echoes the TDI of the last write: what goes in comes back.
class RecordingPort : public PortBackend {
public:
    std::vector<std::pair<std::uint16_t, std::uint8_t>> writes;
    std::vector<std::uint16_t> reads;
    int status = -1;
    std::uint8_t Read(std::uint16_t port) override {
        reads.push_back(port);
        if (status >= 0) return static_cast<std::uint8_t>(status);
        return (LastWrite() >= 0 && (LastWrite() & 0x04)) ? 0x10 : 0x00;
    }
    void Write(std::uint16_t port, std::uint8_t value) override { writes.push_back({port, value}); }
    int LastWrite() const { return writes.empty() ? -1 : writes.back().second; }
};

TEST(RemoteBitbangEndpoint, ParsesTcpAndUnixForms) {
    auto e = net::ParseEndpoint("localhost:3335");
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->isUnix);
    EXPECT_EQ(e->host, "localhost");
    EXPECT_EQ(e->port, 3335);
    e = net::ParseEndpoint("[::1]:9");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->host, "::1");
    EXPECT_EQ(e->Describe(), "[::1]:9");
    e = net::ParseEndpoint("unix:/tmp/rbb.sock");
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->isUnix);
    EXPECT_EQ(e->path, "/tmp/rbb.sock");
    for (const char* bad : {"localhost", "host:", "host:70000", "host:12x", ":80", "unix:"})
        EXPECT_FALSE(net::ParseEndpoint(bad)) << bad;
}

// A client connected over loopback to a bare socket the test plays the server on.
class RemoteBitbangClientTest : public ::testing::Test {
protected:
    void Connect(int answerTimeoutMs = RemoteBitbangClient::kDefaultAnswerTimeoutMs) {
        const Status listening = listener_.Open(Loopback());
        ASSERT_TRUE(listening) << listening.Error();
        auto socket = net::Connect(listener_.Bound());
        ASSERT_TRUE(socket) << socket.Error();
        client_ = std::make_unique<RemoteBitbangClient>(std::move(socket).Value(), answerTimeoutMs);
        server_ = listener_.Accept(2000);
        ASSERT_TRUE(server_.Valid());
        client_->SetFailureHandler([this](const std::string& reason) { drops_.push_back(reason); });
    }

    // On its own thread: takes requests until 'R' arrives (or the client goes), answers.
    void AnswerNextRead(char answer) {
        peer_ = std::thread([this, answer] {
            seen_.clear();
            char buffer[4096];
            while (seen_.find('R') == std::string::npos && server_.WaitReadable(2000)) {
                long n = server_.Receive(buffer, sizeof buffer);
                if (n <= 0) break;
                seen_.append(buffer, static_cast<std::size_t>(n));
            }
            server_.SendAll(&answer, 1);
        });
    }
    std::uint8_t ReadAnswered(char answer) {
        AnswerNextRead(answer);
        std::uint8_t status = client_->Read(0x379);
        peer_.join();
        return status;
    }

    net::Listener listener_;
    Socket server_;
    std::unique_ptr<RemoteBitbangClient> client_;
    std::thread peer_;
    std::string seen_;
    std::vector<std::string> drops_;
};

TEST_F(RemoteBitbangClientTest, MapsDataWritesToRequestsAndQueuesThemUntilARead) {
    Connect();
    client_->Write(0x378, 0x08);  // reset line high (TRST released), pins low: 'r' '0'
    client_->Write(0x378, 0x0A);  // TCK up: '4'
    client_->Write(0x378, 0x08);  // TCK down: '0'
    client_->Write(0x378, 0x0D);  // TMS and TDI: '3'
    client_->Write(0x378, 0x0F);  // and TCK: '7'
    client_->Write(0x378, 0x0F);  // nothing new: no request
    client_->Write(0x378, 0x07);  // reset line low (TRST asserted), pins unchanged: 't'
    // Nothing has gone out yet: writes wait for the next read.
    EXPECT_FALSE(server_.WaitReadable(50));
    EXPECT_EQ(client_->BytesSent(), 0u);

    EXPECT_EQ(ReadAnswered('1'), 0x10);
    EXPECT_EQ(seen_, "r04037tR");
    EXPECT_EQ(client_->RoundTrips(), 1u);
    EXPECT_EQ(ReadAnswered('0'), 0x00);
    EXPECT_EQ(seen_, "R");  // a read alone costs one request and one answer
    EXPECT_TRUE(drops_.empty());
}

TEST_F(RemoteBitbangClientTest, ADroppedConnectionIsReportedOnceAndReadsTdoHighWithoutWaiting) {
    Connect();
    server_.Close();
    auto started = std::chrono::steady_clock::now();
    client_->Write(0x378, 0x04);
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(client_->Read(0x379), 0x10);
    client_->Write(0x378, 0x00);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(client_->Failed());
    ASSERT_EQ(drops_.size(), 1u);
    EXPECT_FALSE(drops_[0].empty());
}

TEST_F(RemoteBitbangClientTest, APeerThatStopsAnsweringCountsAsADrop) {
    Connect(200);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(client_->Read(0x379), 0x10);  // no answer comes
    EXPECT_EQ(client_->Read(0x379), 0x10);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_EQ(drops_, std::vector<std::string>{"the remote receiver stopped answering"});
}

// Fast for thousands of answers first: the pace is judged per stretch, so those are no
// credit for the slow ones after them.
TEST_F(RemoteBitbangClientTest, APeerThatDribblesItsAnswersIsDroppedAfterOneTimeoutNotAfterThousandsOfAnswers) {
    Connect(1000);
    peer_ = std::thread([this] {  // then every answer 40 ms late: 25 a second, each well inside the timeout
        char request = 0;
        for (int answers = 0; server_.WaitReadable(3000) && server_.Receive(&request, 1) == 1;) {
            if (request != 'R') continue;
            if (++answers > 3000) std::this_thread::sleep_for(std::chrono::milliseconds(40));
            if (!server_.SendAll("0", 1)) break;
        }
    });
    // Counted in answers, not seconds, so that a loaded machine cannot fail it: a counter
    // carried over from the fast stretch would let the slow answers run on to the end.
    int reads = 0;
    while (reads < 4000 && !client_->Failed()) client_->Read(0x379), ++reads;
    EXPECT_LT(reads, 3000 + 2 * RemoteBitbangClient::kLeastAnswersPerTimeout);
    peer_.join();
    EXPECT_THAT(drops_, ::testing::ElementsAre(::testing::StartsWith("the remote receiver answers too slowly: ")));
}

// A peer that neither answers nor takes requests holds the client no longer than the
// timeout, or than the grace after a give-up (Ctrl-C), in either wait; one that has
// closed its end of the connection not at all.
TEST_F(RemoteBitbangClientTest, AStuckOrClosedPeerIsDroppedAtTheTimeoutSoonAfterAGiveUpOrAtOnce) {
    enum Peer { kSilent,
                kGivenUp,
                kClosedItsEnd };
    using namespace std::chrono;
    for (const bool sending : {false, true}) {
        for (const Peer peer : {kSilent, kGivenUp, kClosedItsEnd}) {
            SCOPED_TRACE(std::string(sending ? "sending, " : "receiving, ") + std::to_string(peer));
            drops_.clear();
            Connect(peer == kSilent ? 300 : peer == kClosedItsEnd ? 5000
                                                                  : 120000);
            if (peer == kClosedItsEnd) server_.ShutdownSend();  // and never reads
            steady_clock::time_point givenUpAt{};
            client_->SetGiveUp([&] {
                if (peer != kGivenUp) return false;
                if (givenUpAt == steady_clock::time_point{}) givenUpAt = steady_clock::now();
                return true;
            });
            for (std::size_t i = 0; sending && i < (std::size_t{1} << 28) && !client_->Failed(); ++i)
                client_->Write(0x378, i % 2 ? 0x0A : 0x08);  // clocks and no read, until the buffers are full
            if (!sending) client_->Read(0x379);
            const char* reason = peer == kGivenUp        ? "interrupted"
                                 : peer == kClosedItsEnd ? "the remote receiver closed the connection"
                                 : sending               ? "the remote receiver stopped taking requests"
                                                         : "the remote receiver stopped answering";
            EXPECT_THAT(drops_, ::testing::ElementsAre(::testing::StartsWith(reason)));
            // Within the grace and a slice or two, so that Ctrl-C ends the tool within a second.
            if (peer == kGivenUp) {
                EXPECT_LT(steady_clock::now() - givenUpAt, milliseconds(600));
            }
        }
    }
}

TEST_F(RemoteBitbangClientTest, AnAnswerThatIsNeitherZeroNorOneEndsTheSession) {
    Connect();
    EXPECT_EQ(ReadAnswered('x'), 0x10);
    EXPECT_TRUE(client_->Failed());
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
    EXPECT_FALSE(interpreter.Feed("bQ1R", 4, replies));
    EXPECT_FALSE(interpreter.BlinkOn());
    EXPECT_TRUE(port.writes.empty());  // nothing after the quit request is handled either
    EXPECT_TRUE(port.reads.empty());
    EXPECT_TRUE(replies.empty());
}

// The server half on a thread, serving the first client on an echo cable.
class ServedEchoCable {
public:
    ServedEchoCable() {
        const Status listening = listener_.Open(Loopback());
        EXPECT_TRUE(listening) << listening.Error();
        thread_ = std::thread([this] {
            ServeRemoteBitbang(listener_, cable, nullptr, [this](ServerEvent e) {
                quitSeen = e == ServerEvent::Quit;
                return !ClientGone(e);
            });
        });
    }
    void Join() { thread_.join(); }
    Socket Connect() {
        auto socket = net::Connect(listener_.Bound());
        EXPECT_TRUE(socket) << socket.Error();
        return socket ? std::move(socket).Value() : Socket();
    }

    RecordingPort cable;
    bool quitSeen = false;

private:
    net::Listener listener_;
    std::thread thread_;
};

// The client and the server half as they meet in the field. (That they agree on a
// whole session is seen in CliRemote and ServedReceiverProcess.)
TEST(RemoteBitbangSession, TheQuitCarriesTheLastQueuedWriteAndEndsTheServer) {
    ServedEchoCable served;
    {
        RemoteBitbangClient client(served.Connect());
        client.Write(0x378, 0x0C);  // TDI high, echoed as TDO
        EXPECT_EQ(client.Read(0x379), 0x10);
        client.Write(0x378, 0x00);  // queued, no read after it
        client.Quit();
    }
    served.Join();
    EXPECT_TRUE(served.quitSeen);
    EXPECT_EQ(served.cable.LastWrite(), 0x00);
}

TEST(RemoteBitbangSession, ASecondClientIsToldTheServerIsBusyAndTheFirstIsServedOn) {
    ServedEchoCable served;
    RemoteBitbangClient first(served.Connect());
    first.Write(0x378, 0x0C);
    EXPECT_EQ(first.Read(0x379), 0x10);
    RemoteBitbangClient second(served.Connect());
    second.Write(0x378, 0x0C);
    second.RequestRead(0x379);  // the line comes where several answers were due
    second.RequestRead(0x379);
    EXPECT_EQ(second.TakeRead(), 0x10);
    EXPECT_EQ(second.FailureReason(), "the remote receiver said \"busy: another client is connected\"");
    first.Write(0x378, 0x08);
    EXPECT_EQ(first.Read(0x379), 0x00);
    EXPECT_FALSE(first.Failed());
    first.Quit();
    served.Join();
    EXPECT_TRUE(served.quitSeen);
}

TEST(RemoteBitbangSession, ServerEndsWhenTheClientGoesAway) {
    ServedEchoCable served;
    ASSERT_TRUE(served.Connect().SendAll("4", 1));  // and the socket closes at once
    served.Join();
    EXPECT_FALSE(served.quitSeen);
    EXPECT_EQ(served.cable.writes, (std::vector<std::pair<std::uint16_t, std::uint8_t>>{{0x378, 0x0A}}));
}

}  // namespace
}  // namespace orbvex
