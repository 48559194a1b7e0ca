// The service with stand-in processors, driven by a WebSocket client: the
// behaviours the real command table cannot provoke (a failing or throwing
// processor, concurrency of the processor calls themselves).
#include "server/CWebSocketServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>
#include <thread>

// GCC 12 with the sanitizers reports a false maybe-uninitialized in the
// library's HTTP response parser.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;

std::string toString(const tesel::CBlob& b) {
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

// The first byte of a request picks the behaviour of this processor:
// 'E' echoes with a prefix, 'F' fails, 'T' throws, 'W' waits until
// released, 'S' sleeps briefly while counting how many calls overlap.
std::mutex g_gateMutex;
std::condition_variable g_gateCv;
bool g_gateOpen = false;
std::atomic<int> g_inFlight{0};
std::atomic<int> g_maxInFlight{0};

int testProcessor(tesel::CBlob& request, tesel::CBlob& reply) {
    const std::string text = toString(request);
    const char kind = text.empty() ? '?' : text[0];
    switch (kind) {
    case 'F':
        return 1;
    case 'T':
        throw std::runtime_error("processor failure");
    case 'W': {
        std::unique_lock lock(g_gateMutex);
        if (!g_gateCv.wait_for(lock, 10s, [] { return g_gateOpen; }))
            return 1;
        break;
    }
    case 'S': {
        const int now = ++g_inFlight;
        int seen = g_maxInFlight.load();
        while (now > seen && !g_maxInFlight.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(5ms);
        --g_inFlight;
        break;
    }
    default:
        break;
    }
    const std::string answer = "re:" + text;
    reply.add(reinterpret_cast<const unsigned char*>(answer.data()), static_cast<unsigned>(answer.size()));
    return 0;
}

unsigned freePort() {
    net::io_context ioc;
    tcp::acceptor probe(ioc, tcp::endpoint(tcp::v4(), 0));
    return probe.local_endpoint().port();
}

struct TestServer {
    int threads = 4;
    ServiceLimits limits;
    AnsweredAtOnceFunction answeredAtOnce = nullptr;
    std::function<std::string()> status;
};

// Starts a server with testProcessor on a free port; returns the port.
unsigned startTestServer(const TestServer& options = {}) {
    const unsigned port = freePort();
    setPluginPort(port);
    CWebSocketServer server(options.threads);
    server.setProccessFunction(&testProcessor);
    server.setLimits(options.limits);
    server.setAnsweredAtOnce(options.answeredAtOnce);
    if (options.status) server.setStatusFunction(options.status);
    EXPECT_EQ(server.start(), 0);
    setPluginPort(3000);
    return port;
}

// Opens or closes the gate the 'W' requests wait at.
void setGate(bool open) {
    {
        std::lock_guard lock(g_gateMutex);
        g_gateOpen = open;
    }
    g_gateCv.notify_all();
}

class Client {
public:
    explicit Client(unsigned port) : m_ws(m_ioc) {
        const tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port));
        // The listener comes up on its own thread: retry for a moment.
        for (int attempt = 0;; ++attempt) {
            beast::error_code ec;
            m_ws.next_layer().connect(endpoint, ec);
            if (!ec)
                break;
            m_ws.next_layer().close();
            if (attempt == 200)
                throw beast::system_error(ec);
            std::this_thread::sleep_for(10ms);
        }
        m_ws.read_message_max(0);
        m_ws.handshake("127.0.0.1", "/any/path");
    }

    void send(const std::string& message, bool binary = true) {
        m_ws.binary(binary);
        m_ws.write(net::buffer(message));
    }

    // One message in frames of the given sizes (the last takes the rest).
    void sendInFrames(const std::string& message, const std::vector<std::size_t>& sizes) {
        m_ws.binary(true);
        std::size_t at = 0;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const bool last = i + 1 == sizes.size();
            const std::size_t n = last ? message.size() - at : sizes[i];
            m_ws.write_some(last, net::buffer(message.data() + at, n));
            at += n;
        }
    }

    // Bytes written to the connection as they are, behind the protocol's back.
    void sendRaw(const std::string& bytes) { net::write(m_ws.next_layer(), net::buffer(bytes)); }

    // Whole messages in one frame each, as browsers send them.
    void sendUnfragmented(const std::string& message) {
        m_ws.auto_fragment(false);
        send(message);
    }

    // The next message, or the error that ended the connection.
    std::string receive(beast::error_code& ec, bool* binary = nullptr) {
        beast::flat_buffer buffer;
        m_ws.read(buffer, ec);
        if (binary)
            *binary = m_ws.got_binary();
        return beast::buffers_to_string(buffer.data());
    }

    std::string receive() {
        beast::error_code ec;
        std::string message = receive(ec);
        EXPECT_FALSE(ec) << ec.message();
        return message;
    }

private:
    net::io_context m_ioc;
    websocket::stream<tcp::socket> m_ws;
};

TEST(CWebSocketServer, PluginPortStartsAt3000AndIsSettable) {
    EXPECT_EQ(getPluginPort(), 3000u);
    setPluginPort(3456);
    EXPECT_EQ(getPluginPort(), 3456u);
    setPluginPort(3000);
}

TEST(CWebSocketServer, StartWithoutProcessorReturnsOne) {
    CWebSocketServer server(4);
    EXPECT_EQ(server.start(), 1);
}

TEST(CWebSocketServer, RepliesWithTheMessageTypeOfTheRequest) {
    Client client(startTestServer());
    bool binary = false;
    beast::error_code ec;

    client.send("Ebinary", true);
    EXPECT_EQ(client.receive(ec, &binary), "re:Ebinary");
    EXPECT_FALSE(ec);
    EXPECT_TRUE(binary);

    client.send("Etext", false);
    EXPECT_EQ(client.receive(ec, &binary), "re:Etext");
    EXPECT_FALSE(ec);
    EXPECT_FALSE(binary);
}

TEST(CWebSocketServer, FailingOrThrowingProcessorClosesOnlyThatConnection) {
    const unsigned port = startTestServer();
    for (const char* request : {"F", "T"}) {
        Client client(port);
        client.send("Efirst");
        EXPECT_EQ(client.receive(), "re:Efirst");
        client.send(request);
        beast::error_code ec;
        const std::string reply = client.receive(ec);
        EXPECT_TRUE(ec) << "request " << request << " got a reply: " << reply;
        EXPECT_TRUE(reply.empty());
    }
    // The service survives both.
    Client after(port);
    after.send("Estill");
    EXPECT_EQ(after.receive(), "re:Estill");
}

TEST(CWebSocketServer, ZeroLengthMessageClosesWithoutReply) {
    Client client(startTestServer());
    client.send("");
    beast::error_code ec;
    EXPECT_EQ(client.receive(ec), "");
    EXPECT_TRUE(ec);
}

TEST(CWebSocketServer, MessagesLargerThanTheLibraryDefaultLimitAreAccepted) {
    Client client(startTestServer());
    const std::string big = "E" + std::string(17u << 20, 'b');
    client.send(big);
    const std::string reply = client.receive();
    EXPECT_EQ(reply.size(), big.size() + 3);
    EXPECT_EQ(reply.compare(0, 4, "re:E"), 0);
}

// The message is read into the request in place: whatever the frames, the
// processor must see exactly the bytes sent, and a short message after a
// long one must not carry bytes of it.
TEST(CWebSocketServer, MessagesArriveExactlyWhateverTheirFraming) {
    Client client(startTestServer());
    std::string big = "E";
    for (unsigned i = 0; big.size() < (5u << 20) + 3; ++i) big.push_back(static_cast<char>('a' + i % 23));
    client.sendUnfragmented(big);
    EXPECT_EQ(client.receive(), "re:" + big);
    client.send("Eshort");
    EXPECT_EQ(client.receive(), "re:Eshort");
    client.sendInFrames(big, {1, 4095, 4097, 1u << 20, 0, 3, 0});
    EXPECT_EQ(client.receive(), "re:" + big);
    client.sendInFrames("Etiny", {1, 1, 1, 1, 1});
    EXPECT_EQ(client.receive(), "re:Etiny");
}

// A frame header may claim gigabytes that never come: the connection is
// ended when the peer goes, and the service goes on serving others.
TEST(CWebSocketServer, AFrameClaimingGigabytesIsNotTakenAtItsWord) {
    const unsigned port = startTestServer();
    {
        Client liar(port);
        std::string frame = "\x82\xff";  // final binary frame, masked, 64-bit length
        for (int shift = 56; shift >= 0; shift -= 8) frame.push_back(static_cast<char>((3ull << 30) >> shift));
        frame += std::string("\x01\x02\x03\x04", 4) + std::string(100000, 'E');
        liar.sendRaw(frame);
    }
    Client client(port);
    client.send("Estill here");
    EXPECT_EQ(client.receive(), "re:Estill here");
}

TEST(CWebSocketServer, ConnectionsAreProcessedInParallel) {
    const unsigned port = startTestServer();
    setGate(false);
    Client blocked(port);
    blocked.send("Wait");
    // The first connection's processor call is still waiting; the second
    // connection is served meanwhile.
    Client other(port);
    other.send("Equick");
    EXPECT_EQ(other.receive(), "re:Equick");
    setGate(true);
    EXPECT_EQ(blocked.receive(), "re:Wait");
}

TEST(CWebSocketServer, OneConnectionNeverHasTwoMessagesInProcessing) {
    Client client(startTestServer());
    g_maxInFlight = 0;
    for (int i = 0; i < 20; ++i)
        client.send("S" + std::to_string(i));
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(client.receive(), "re:S" + std::to_string(i));
    EXPECT_EQ(g_maxInFlight.load(), 1);
}

// One plain HTTP exchange; the whole answer up to the server's close.
std::string httpExchange(unsigned port, const std::string& request) {
    net::io_context ioc;
    tcp::socket s(ioc);
    s.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    net::write(s, net::buffer(request));
    std::string answer;
    beast::error_code ec;
    char chunk[512];
    while (!ec) {
        const std::size_t n = s.read_some(net::buffer(chunk), ec);
        answer.append(chunk, n);
    }
    return answer;
}

// Whether the peer closes the raw connection within `within`.
bool closedWithin(tcp::socket& socket, std::chrono::milliseconds within) {
    socket.non_blocking(true);
    const auto deadline = std::chrono::steady_clock::now() + within;
    char chunk[1024];
    while (std::chrono::steady_clock::now() < deadline) {
        beast::error_code ec;
        socket.read_some(net::buffer(chunk), ec);  // whatever was sent is skipped
        if (ec && ec != net::error::would_block) return true;
        if (ec) std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(CWebSocketServer, AnUnfinishedHandshakeIsDroppedAtTheDeadline) {
    TestServer options;
    options.limits.handshakeTimeout = 300ms;
    const unsigned port = startTestServer(options);
    Client served(port);  // the listener is up
    net::io_context ioc;
    tcp::socket idle(ioc);
    idle.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    net::write(idle, net::buffer(std::string("GET / HTTP/1.1\r\nHost: x\r\n")));
    EXPECT_TRUE(closedWithin(idle, 3s));
    // An open WebSocket is not bound by it.
    std::this_thread::sleep_for(400ms);
    served.send("Estill");
    EXPECT_EQ(served.receive(), "re:Estill");
}

// A peer that completed its handshake and then answers nothing, not even
// pings, is dropped; one that keeps talking is not.
TEST(CWebSocketServer, ASilentPeerIsPingedThenDropped) {
    TestServer options;
    options.limits.pingAfter = 150ms;
    const unsigned port = startTestServer(options);
    Client talking(port);
    net::io_context ioc;
    tcp::socket silent(ioc);
    silent.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)));
    net::write(silent, net::buffer(std::string("GET / HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                               "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                               "Sec-WebSocket-Version: 13\r\n\r\n")));
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(100ms);
        talking.send("Ealive");
        EXPECT_EQ(talking.receive(), "re:Ealive");
    }
    // Its 101 and the ping arrive, then the close: well within 3 s.
    EXPECT_TRUE(closedWithin(silent, 3s));
}

TEST(CWebSocketServer, ConnectionsPastTheCapAreClosedUntilOneEnds) {
    TestServer options;
    options.limits.maxConnections = 3;
    const unsigned port = startTestServer(options);
    auto a = std::make_unique<Client>(port);
    Client b(port), c(port);
    c.send("Ethird");
    EXPECT_EQ(c.receive(), "re:Ethird");
    EXPECT_THROW(Client{port}, beast::system_error);
    a.reset();
    // The freed place is taken again once the server has seen the close.
    std::unique_ptr<Client> d;
    for (int attempt = 0; attempt < 100 && !d; ++attempt) {
        try {
            d = std::make_unique<Client>(port);
        } catch (const beast::system_error&) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_TRUE(d);
    d->send("Efourth");
    EXPECT_EQ(d->receive(), "re:Efourth");
}

TEST(CWebSocketServer, AMessagePastTheMemoryCapClosesOnlyItsConnection) {
    TestServer options;
    options.limits.messageMemoryCap = 1u << 20;
    const unsigned port = startTestServer(options);
    Client big(port);
    big.send("E" + std::string(2u << 20, 'x'));
    beast::error_code ec;
    EXPECT_EQ(big.receive(ec), "");
    EXPECT_TRUE(ec);
    // The memory went back with the connection: messages under the cap pass.
    Client small(port);
    const std::string half = "E" + std::string(400u << 10, 'y');
    small.send(half);
    EXPECT_EQ(small.receive().size(), half.size() + 3);
}

TEST(CWebSocketServer, ACommandThatWaitsHoldsNoIoThread) {
    // One I/O thread only: were commands run on it, the second connection
    // would wait for the first. The echo is answered on that thread itself.
    TestServer options;
    options.threads = 1;
    options.answeredAtOnce = [](const tesel::CBlob& r) { return r.getSize() > 0 && r.getData()[0] == 'E'; };
    const unsigned port = startTestServer(options);
    setGate(false);
    Client waiting1(port), waiting2(port);
    waiting1.send("Wait");
    waiting2.send("Wait");
    Client other(port);
    other.send("Equick");
    EXPECT_EQ(other.receive(), "re:Equick");
    setGate(true);
    EXPECT_EQ(waiting1.receive(), "re:Wait");
    EXPECT_EQ(waiting2.receive(), "re:Wait");
}

TEST(CWebSocketServer, StatusIsServedOnlyWhenAFunctionIsInstalled) {
    TestServer options;
    options.status = [] { return std::string("{\"ok\":true}"); };
    const unsigned port = startTestServer(options);
    Client ready(port);
    const std::string ok = httpExchange(port, "GET /status?x=1 HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(ok.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << ok;
    EXPECT_NE(ok.find("\r\n\r\n{\"ok\":true}"), std::string::npos) << ok;
    // No origin on the (empty) list: refused before anything is told.
    const std::string page = httpExchange(port, "GET /status HTTP/1.1\r\nHost: x\r\nOrigin: https://a.example\r\n\r\n");
    EXPECT_EQ(page.rfind("HTTP/1.1 403", 0), 0u) << page;
    EXPECT_EQ(page.find("ok"), std::string::npos);
    // Without a function the path is nothing special.
    const unsigned plainPort = startTestServer();
    Client plainReady(plainPort);
    const std::string plain = httpExchange(plainPort, "GET /status HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(plain.find(" 200 "), std::string::npos) << plain;
}

}  // namespace
