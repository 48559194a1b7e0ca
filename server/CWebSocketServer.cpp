#include "server/CWebSocketServer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "platform/peerowner.h"
#include "platform/sockets.h"
#include "server/CommandWorkers.h"
#include "server/PeerAdmission.h"

namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

std::atomic<unsigned> g_pluginPort{3000};

// An accept that keeps failing (typically: no file descriptors left) would
// otherwise spin at full speed and flood the error stream.
constexpr std::chrono::milliseconds kAcceptRetryDelay{50};
// Room for the first read of a message: most requests fit whole.
constexpr std::size_t kFirstReadBytes = 4096;
// The most room made for a message ahead of the bytes received.
constexpr std::size_t kReadAhead = 64u << 20;
constexpr int kBindAttempts = 3;
constexpr std::chrono::milliseconds kBindRetryDelay{1000};
// The handshake request is small; anything larger is not a browser's.
constexpr std::uint32_t kHandshakeHeaderLimit = 16 * 1024;
// Workers that ran a command stay this long for the next one.
constexpr std::chrono::seconds kWorkerIdleLifetime{30};

// What every session of one service shares.
struct Service {
    ProcessFunction processor = nullptr;
    AnsweredAtOnceFunction answeredAtOnce = nullptr;
    COriginAllowList origins;
    std::function<std::string()> status;
    ServiceLimits limits;
    std::unique_ptr<CommandWorkers> workers;
    std::atomic<std::size_t> connections{0};
    std::atomic<std::size_t> messageBytes{0};  // held by messages of all connections
};
using ServicePtr = std::shared_ptr<Service>;

platform::TcpEndpoint toPlatform(const tcp::endpoint& e) {
    platform::TcpEndpoint out;
    out.port = e.port();
    if (e.address().is_v4()) {
        const auto bytes = e.address().to_v4().to_bytes();
        std::memcpy(out.address, bytes.data(), 4);
    } else {
        const auto bytes = e.address().to_v6().to_bytes();
        std::memcpy(out.address, bytes.data(), 16);
        out.v6 = true;
    }
    return out;
}

// A share of the service's message memory, given back when dropped.
class MessageBudget {
public:
    explicit MessageBudget(ServicePtr service) : m_service(std::move(service)) {}
    ~MessageBudget() { set(0); }
    MessageBudget(const MessageBudget&) = delete;
    MessageBudget& operator=(const MessageBudget&) = delete;

    // Makes this connection's share `bytes`; false (and unchanged) when that
    // would pass the service's cap.
    bool set(std::size_t bytes) {
        auto& total = m_service->messageBytes;
        if (bytes > m_held) {
            const std::size_t more = bytes - m_held;
            std::size_t now = total.load();
            do {
                if (now > m_service->limits.messageMemoryCap || more > m_service->limits.messageMemoryCap - now)
                    return false;
            } while (!total.compare_exchange_weak(now, now + more));
        } else {
            total -= m_held - bytes;
        }
        m_held = bytes;
        return true;
    }

private:
    ServicePtr m_service;
    std::size_t m_held = 0;
};

// One connection: handshake, then read one message, process it on a worker,
// write the reply, read the next. Every handler runs on the strand that is the
// stream's executor, so one connection never has two messages in processing.
// The session lives as long as one of its operations (or its command) is
// pending; it holds one of the service's connection places until it ends.
class session : public std::enable_shared_from_this<session> {
public:
    session(tcp::socket&& socket, ServicePtr service)
        : m_ws(std::move(socket)), m_service(std::move(service)), m_budget(m_service) {}

    ~session() { --m_service->connections; }

    void run() {
        net::dispatch(m_ws.get_executor(), beast::bind_front_handler(&session::on_run, shared_from_this()));
    }

private:
    beast::tcp_stream& stream() { return m_ws.next_layer(); }

    void on_run() {
        m_handshakeDeadline = std::chrono::steady_clock::now() + m_service->limits.handshakeTimeout;
        stream().expires_at(m_handshakeDeadline);
        // The upgrade request is read first so that its Origin can be checked
        // before the connection becomes a WebSocket.
        m_parser.header_limit(kHandshakeHeaderLimit);
        http::async_read(stream(), m_buffer, m_parser,
                         beast::bind_front_handler(&session::on_request, shared_from_this()));
    }

    void on_request(beast::error_code ec, std::size_t) {
        if (ec) {
            CWebSocketServer::fail(ec, "accept");
            return;
        }
        const auto& request = m_parser.get();
        // A page's handshake always names its origin; a local program's
        // usually does not, and is served only to this user's programs.
        const auto origin = request.find(http::field::origin);
        const bool hasOrigin = origin != request.end();
        if (hasOrigin) {
            const std::string_view value(origin->value().data(), origin->value().size());
            if (!m_service->origins.isAllowed(value)) {
                peer_admission::report(peer_admission::refusedOriginLine(value));
                refuse(request.version(), "Forbidden: origin not allowed\n");
                return;
            }
        } else {
            beast::error_code endpointError;
            const auto local = stream().socket().local_endpoint(endpointError);
            const auto remote = endpointError ? tcp::endpoint{} : stream().socket().remote_endpoint(endpointError);
            if (endpointError) return;  // the peer is gone already
            const std::string why = peer_admission::refusalWithoutOrigin(toPlatform(local), toPlatform(remote));
            if (!why.empty()) {
                peer_admission::report(why);
                refuse(request.version(), "Forbidden: not a program of this user\n");
                return;
            }
        }
        if (!websocket::is_upgrade(request) && isStatusRequest(request)) {
            answerStatus(request, hasOrigin ? std::string(origin->value()) : std::string());
            return;
        }
        // The rest of the handshake keeps the deadline; after it the
        // WebSocket layer watches the connection.
        stream().expires_never();
        websocket::stream_base::timeout handshakeOnly;
        handshakeOnly.handshake_timeout =
            std::max<std::chrono::steady_clock::duration>(std::chrono::milliseconds{1},
                                                          m_handshakeDeadline - std::chrono::steady_clock::now());
        handshakeOnly.idle_timeout = websocket::stream_base::none();
        handshakeOnly.keep_alive_pings = false;
        m_ws.set_option(handshakeOnly);
        // Compression stays off.
        m_ws.async_accept(request, beast::bind_front_handler(&session::on_accept, shared_from_this()));
    }

    bool isStatusRequest(const http::request<http::empty_body>& request) const {
        if (!m_service->status) return false;
        if (request.method() != http::verb::get && request.method() != http::verb::options) return false;
        const std::string_view target(request.target().data(), request.target().size());
        return target.substr(0, target.find('?')) == "/status";
    }

    // The program's status as JSON; for a page, with the headers that let
    // its script read it.
    void answerStatus(const http::request<http::empty_body>& request, const std::string& origin) {
        const bool preflight = request.method() == http::verb::options;
        m_response = {preflight ? http::status::no_content : http::status::ok, request.version()};
        if (!origin.empty()) {
            m_response.set(http::field::access_control_allow_origin, origin);
            m_response.set(http::field::vary, "Origin");
            if (preflight) {
                m_response.set(http::field::access_control_allow_methods, "GET");
                m_response.set("Access-Control-Allow-Private-Network", "true");
                m_response.set(http::field::access_control_max_age, "600");
            }
        }
        m_response.set(http::field::cache_control, "no-store");
        if (!preflight) {
            m_response.set(http::field::content_type, "application/json");
            try {
                m_response.body() = m_service->status();
            } catch (...) {
                m_response.result(http::status::internal_server_error);
                m_response.set(http::field::content_type, "text/plain");
                m_response.body() = "status unavailable\n";
            }
        }
        respond();
    }

    // 403 without an upgrade, then the connection is closed.
    void refuse(unsigned version, const char* text) {
        m_response = {http::status::forbidden, version};
        m_response.set(http::field::content_type, "text/plain");
        m_response.body() = text;
        respond();
    }

    // Writes m_response, then closes the connection. The response is the
    // session's own, so answering allocates nothing beyond its text.
    void respond() {
        m_response.keep_alive(false);
        m_response.prepare_payload();
        http::async_write(stream(), m_response, [self = shared_from_this()](beast::error_code, std::size_t) {
            beast::error_code ignored;
            self->stream().socket().shutdown(tcp::socket::shutdown_both, ignored);
            self->stream().close();
        });
    }

    void on_accept(beast::error_code ec) {
        if (ec) {
            CWebSocketServer::fail(ec, "accept");
            return;
        }
        m_ws.read_message_max(0);  // 0: no limit on the message size
        do_read();
    }

    // While the page is waiting to send, a silent peer is pinged and, when
    // it stays silent, dropped; while its command runs, nothing is expected
    // of it.
    void watchPeer(bool on) {
        websocket::stream_base::timeout t;
        t.handshake_timeout = m_service->limits.handshakeTimeout;  // the closing handshake
        if (on) {
            t.idle_timeout = m_service->limits.pingAfter * 2;
            t.keep_alive_pings = true;
        } else {
            t.idle_timeout = websocket::stream_base::none();
            t.keep_alive_pings = false;
        }
        m_ws.set_option(t);
    }

    void do_read() {
        watchPeer(true);
        if (!reserve(kFirstReadBytes)) return;
        m_message.resize(kFirstReadBytes);
        m_received = 0;
        read_more();
    }

    // Counts `bytes` as this connection's message memory; false, after one
    // line on the error stream, when the service's cap would be passed.
    bool reserve(std::size_t bytes) {
        if (m_budget.set(bytes)) return true;
        CWebSocketServer::fail(beast::error_code(ENOMEM, beast::generic_category()), "read");
        return false;  // the connection ends
    }

    // The message is read straight into the blob that the command is given.
    // Once a frame header has told how much of the frame is left, the blob
    // takes that size at once: a message of megabytes is neither copied nor
    // grown piece by piece.
    void read_more() {
        const std::size_t hint = std::max<std::size_t>(m_ws.read_size_hint(kFirstReadBytes), 1);
        if (hint > std::numeric_limits<std::uint32_t>::max() - m_received)
            return;  // cannot be held by a CBlob: the connection ends
        // A frame header's length is only a claim: room for more than
        // kReadAhead bytes beyond what has arrived is made as the bytes come.
        const std::size_t need = m_received + std::min(hint, kReadAhead);
        if (need > m_message.getSize()) {
            // A message sent in many small frames grows by half each time,
            // not by one frame.
            const std::size_t grown = std::min<std::size_t>(m_message.getSize() + m_message.getSize() / 2,
                                                            std::numeric_limits<std::uint32_t>::max());
            const std::size_t size = std::max(need, grown);
            if (!reserve(size)) return;
            try {
                m_message.resize(static_cast<unsigned>(size));
            } catch (const std::bad_alloc&) {
                CWebSocketServer::fail(beast::error_code(ENOMEM, beast::generic_category()), "read");
                return;  // no memory for the message: the connection ends
            }
        }
        m_ws.async_read_some(net::mutable_buffer(m_message.getData() + m_received, m_message.getSize() - m_received),
                             beast::bind_front_handler(&session::on_read_some, shared_from_this()));
    }

    void on_read_some(beast::error_code ec, std::size_t bytesTransferred) {
        m_received += static_cast<unsigned>(bytesTransferred);
        if (ec) {
            // What was received of a message cut short is never processed.
            if (m_received > 0 && ec != websocket::error::closed) CWebSocketServer::fail(ec, "read");
            return;
        }
        if (!m_ws.is_message_done()) {
            read_more();
            return;
        }
        if (m_received == 0)
            return;  // an empty message ends the connection
        m_ws.binary(m_ws.got_binary());
        watchPeer(false);

        auto request = std::make_shared<tesel::CBlob>(std::move(m_message));
        request->resize(m_received);
        if (m_service->answeredAtOnce && m_service->answeredAtOnce(*request)) {
            auto reply = std::make_shared<tesel::CBlob>();
            const int result = process(*request, *reply);
            request.reset();
            on_processed(result, std::move(reply));
            return;
        }
        m_service->workers->post([self = shared_from_this(), request] {
            auto reply = std::make_shared<tesel::CBlob>();
            const int result = self->process(*request, *reply);
            // The request's memory goes before the reply is written.
            request->clear();
            net::post(self->m_ws.get_executor(), [self, result, reply] { self->on_processed(result, reply); });
        });
    }

    int process(tesel::CBlob& request, tesel::CBlob& reply) {
        try {
            return m_service->processor(request, reply);
        } catch (...) {
            return 1;  // a failed command ends only its connection
        }
    }

    void on_processed(int result, std::shared_ptr<tesel::CBlob> reply) {
        if (result != 0) return;
        if (!reserve(reply->getSize())) return;
        m_reply = std::move(reply);
        stream().expires_after(m_service->limits.writeTimeout);
        m_ws.async_write(net::const_buffer(m_reply->getData(), m_reply->getSize()),
                         beast::bind_front_handler(&session::on_write, shared_from_this()));
    }

    void on_write(beast::error_code ec, std::size_t) {
        stream().expires_never();
        m_reply.reset();
        if (ec) return;  // the peer is gone or stopped reading
        do_read();
    }

    websocket::stream<beast::tcp_stream> m_ws;
    ServicePtr m_service;
    MessageBudget m_budget;
    beast::flat_buffer m_buffer;  // the handshake request
    http::request_parser<http::empty_body> m_parser;
    http::response<http::string_body> m_response;  // a plain HTTP answer (403, /status)
    std::chrono::steady_clock::time_point m_handshakeDeadline;
    tesel::CBlob m_message;  // the message being read
    unsigned m_received = 0;  // bytes of it read so far
    std::shared_ptr<tesel::CBlob> m_reply;  // the reply being written
};

// Owns the listening socket and keeps exactly one accept pending.
class listener : public std::enable_shared_from_this<listener> {
public:
    listener(net::io_context& ioc, const tcp::endpoint& endpoint, ServicePtr service,
             const std::function<void(unsigned, const std::string&)>& listenFailed)
        : m_ioc(ioc), m_acceptor(ioc), m_retryTimer(ioc), m_service(std::move(service)) {
        beast::error_code ec;
        m_acceptor.open(endpoint.protocol(), ec);
        if (ec) {
            CWebSocketServer::fail(ec, "open");
            if (listenFailed) listenFailed(endpoint.port(), ec.message());
            return;
        }
        // Where the system keeps a closed connection's port from being bound
        // again for a while, allow it; a port in use by a live listener is
        // still refused.
        if (platform::rebindNeedsAddressReuse())
            m_acceptor.set_option(net::socket_base::reuse_address(true), ec);
        platform::makeListenerExclusive(static_cast<std::uintptr_t>(m_acceptor.native_handle()));

        for (int attempt = 1; attempt <= kBindAttempts; ++attempt) {
            m_acceptor.bind(endpoint, ec);
            if (!ec)
                break;
            if (attempt < kBindAttempts)
                std::this_thread::sleep_for(kBindRetryDelay);
        }
        // An unbound socket must not listen: some systems would then pick
        // an arbitrary port for it.
        if (!ec)
            m_acceptor.listen(net::socket_base::max_listen_connections, ec);
        if (ec) {
            CWebSocketServer::fail(ec, "listen");
            if (listenFailed) listenFailed(endpoint.port(), ec.message());
            return;
        }
        m_listening = true;
        announce();
    }

    void run() {
        if (m_acceptor.is_open() && m_listening)
            do_accept();
    }

private:
    // Tells a supervising script that connections are taken from now on.
    void announce() {
        beast::error_code ec;
        const tcp::endpoint bound = m_acceptor.local_endpoint(ec);
        if (ec) return;
        const std::string address = bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                            : bound.address().to_string();
        const std::string line = "listening on ws://" + address + ":" + std::to_string(bound.port()) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }

    void do_accept() {
        // Each connection gets its own strand as the executor of its socket.
        m_acceptor.async_accept(net::make_strand(m_ioc),
                                beast::bind_front_handler(&listener::on_accept, shared_from_this()));
    }

    void on_accept(beast::error_code ec, tcp::socket socket) {
        if (ec) {
            CWebSocketServer::fail(ec, "accept");
            m_retryTimer.expires_after(kAcceptRetryDelay);
            m_retryTimer.async_wait([self = shared_from_this()](beast::error_code) { self->do_accept(); });
            return;
        }
        if (++m_service->connections > m_service->limits.maxConnections) {
            // Full: this one is closed at once, and said so once per time
            // the service fills up.
            --m_service->connections;
            if (!m_full) {
                m_full = true;
                peer_admission::report("connection refused: " + std::to_string(m_service->limits.maxConnections) +
                                       " connections are open");
            }
            beast::error_code ignored;
            socket.close(ignored);
            do_accept();
            return;
        }
        if (m_service->connections < m_service->limits.maxConnections) m_full = false;
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);  // replies are small and answered at once
        std::make_shared<session>(std::move(socket), m_service)->run();
        do_accept();
    }

    net::io_context& m_ioc;
    tcp::acceptor m_acceptor;
    net::steady_timer m_retryTimer;
    ServicePtr m_service;
    bool m_listening = false;
    bool m_full = false;  // only the accept handler touches it: one accept is pending at a time
};

void runIoContext(net::io_context& ioc) {
    for (;;) {
        try {
            ioc.run();
            return;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
    }
}

void serve(unsigned port, int threads, std::string listenAddress, ServicePtr service,
           std::function<void(unsigned, const std::string&)> listenFailed) {
    beast::error_code ec;
    const auto address = net::ip::make_address(listenAddress, ec);
    if (ec) {
        CWebSocketServer::fail(ec, "open");
        if (listenFailed) listenFailed(port, ec.message());
        return;
    }
    const tcp::endpoint endpoint{address, static_cast<unsigned short>(port)};
    net::io_context ioc{threads};
    std::make_shared<listener>(ioc, endpoint, service, listenFailed)->run();

    // When the listener failed there is no work: every run() returns at once
    // and this thread ends quietly.
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(threads - 1));
    for (int i = 1; i < threads; ++i)
        workers.emplace_back([&ioc] { runIoContext(ioc); });
    runIoContext(ioc);
    for (auto& t : workers)
        t.join();
}

}  // namespace

CWebSocketServer::CWebSocketServer(int threads) : m_threads(threads < 1 ? 1 : threads) {}

void CWebSocketServer::setAllowedOrigins(COriginAllowList origins) { m_origins = std::move(origins); }

void CWebSocketServer::setListenAddress(std::string address) { m_listenAddress = std::move(address); }

void CWebSocketServer::setProccessFunction(ProcessFunction processor) {
    m_processor = processor;
}

void CWebSocketServer::setStatusFunction(std::function<std::string()> statusJson) { m_status = std::move(statusJson); }

void CWebSocketServer::setListenFailedHandler(std::function<void(unsigned, const std::string&)> handler) {
    m_listenFailed = std::move(handler);
}

void CWebSocketServer::setLimits(const ServiceLimits& limits) { m_limits = limits; }

void CWebSocketServer::setAnsweredAtOnce(AnsweredAtOnceFunction answeredAtOnce) { m_answeredAtOnce = answeredAtOnce; }

int CWebSocketServer::start() {
    if (m_processor == nullptr)
        return 1;
    auto service = std::make_shared<Service>();
    service->processor = m_processor;
    service->answeredAtOnce = m_answeredAtOnce;
    service->origins = m_origins;
    service->status = m_status;
    service->limits = m_limits;
    // Each connection has at most one command running: one worker per
    // connection is never short.
    service->workers = std::make_unique<CommandWorkers>(m_limits.maxConnections, kWorkerIdleLifetime);
    std::thread(serve, getPluginPort(), m_threads, m_listenAddress, std::move(service), m_listenFailed).detach();
    return 0;
}

void CWebSocketServer::fail(const boost::system::error_code& ec, const char* word) {
    peer_admission::report(std::string(word) + ": " + ec.message());
}

unsigned getPluginPort() {
    return g_pluginPort.load();
}

void setPluginPort(unsigned port) {
    g_pluginPort.store(port);
}
