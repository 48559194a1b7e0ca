#include "server/CWebSocketServer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdint>
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
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "platform/sockets.h"

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
// How much of a refused origin the error stream shows.
constexpr std::size_t kShownOriginLimit = 256;

using AllowList = std::shared_ptr<const COriginAllowList>;

// A refused origin as one line: bytes that could break the line or the
// terminal are shown as \xNN, and an overlong value is cut.
void reportRefusedOrigin(std::string_view origin) {
    std::string line = "origin refused: ";
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < origin.size() && i < kShownOriginLimit; ++i) {
        const auto c = static_cast<unsigned char>(origin[i]);
        if (c < 0x20 || c >= 0x7f || c == '\\') {
            line += "\\x";
            line += kHex[c >> 4];
            line += kHex[c & 0xf];
        } else {
            line += static_cast<char>(c);
        }
    }
    if (origin.size() > kShownOriginLimit) line += "...";
    line += "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    // The Windows C runtime buffers stderr when it is a pipe or a file.
    std::fflush(stderr);
}

// One connection: handshake, then read one message, process it, write the
// reply, read the next. Every handler runs on the strand that is the stream's
// executor, so one connection never has two messages in processing. The
// session lives as long as one of its operations is pending.
class session : public std::enable_shared_from_this<session> {
public:
    session(tcp::socket&& socket, ProcessFunction processor, AllowList origins)
        : m_ws(std::move(socket)), m_processor(processor), m_origins(std::move(origins)) {}

    void run() {
        net::dispatch(m_ws.get_executor(),
                      beast::bind_front_handler(&session::on_run, shared_from_this()));
    }

private:
    void on_run() {
        // The upgrade request is read first so that its Origin can be checked
        // before the connection becomes a WebSocket.
        m_parser.header_limit(kHandshakeHeaderLimit);
        http::async_read(m_ws.next_layer(), m_buffer, m_parser,
                         beast::bind_front_handler(&session::on_request, shared_from_this()));
    }

    void on_request(beast::error_code ec, std::size_t) {
        if (ec) {
            CWebSocketServer::fail(ec, "accept");
            return;
        }
        const auto& request = m_parser.get();
        // A page's handshake always names its origin; a local program's
        // usually does not, and is served as before.
        const auto origin = request.find(http::field::origin);
        if (origin != request.end()) {
            const std::string_view value(origin->value().data(), origin->value().size());
            if (!m_origins->isAllowed(value)) {
                reportRefusedOrigin(value);
                refuse(request.version());
                return;
            }
        }
        // Compression stays off.
        m_ws.async_accept(request, beast::bind_front_handler(&session::on_accept, shared_from_this()));
    }

    // 403 without an upgrade, then the connection is closed.
    void refuse(unsigned version) {
        auto response = std::make_shared<http::response<http::string_body>>(http::status::forbidden, version);
        response->set(http::field::content_type, "text/plain");
        response->body() = "Forbidden: origin not allowed\n";
        response->keep_alive(false);
        response->prepare_payload();
        http::async_write(m_ws.next_layer(), *response,
                          [self = shared_from_this(), response](beast::error_code, std::size_t) {
                              beast::error_code ignored;
                              self->m_ws.next_layer().shutdown(tcp::socket::shutdown_both, ignored);
                              self->m_ws.next_layer().close(ignored);
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

    void do_read() {
        m_message.resize(kFirstReadBytes);
        m_received = 0;
        read_more();
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
            try {
                m_message.resize(static_cast<unsigned>(std::max(need, grown)));
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

        tesel::CBlob request = std::move(m_message);
        request.resize(m_received);
        tesel::CBlob reply;
        int result;
        try {
            result = m_processor(request, reply);
        } catch (...) {
            result = 1;  // a failed command must not take the I/O thread down
        }
        if (result != 0)
            return;

        m_ws.write(net::const_buffer(reply.getData(), reply.getSize()), ec);
        if (ec)
            return;  // the peer is gone; the read would only fail as well
        do_read();
    }

    websocket::stream<tcp::socket> m_ws;
    beast::flat_buffer m_buffer;  // the handshake request
    tesel::CBlob m_message;       // the message being read
    unsigned m_received = 0;      // bytes of it read so far
    http::request_parser<http::empty_body> m_parser;
    ProcessFunction m_processor;
    AllowList m_origins;
};

// Owns the listening socket and keeps exactly one accept pending.
class listener : public std::enable_shared_from_this<listener> {
public:
    listener(net::io_context& ioc, const tcp::endpoint& endpoint, ProcessFunction processor,
             AllowList origins)
        : m_ioc(ioc), m_acceptor(ioc), m_retryTimer(ioc), m_processor(processor),
          m_origins(std::move(origins)) {
        beast::error_code ec;
        m_acceptor.open(endpoint.protocol(), ec);
        if (ec) {
            CWebSocketServer::fail(ec, "open");
            return;
        }
        // Where the system keeps a closed connection's port from being bound
        // again for a while, allow it; a port in use by a live listener is
        // still refused.
        if (platform::rebindNeedsAddressReuse())
            m_acceptor.set_option(net::socket_base::reuse_address(true), ec);

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
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);  // replies are small and answered at once
        std::make_shared<session>(std::move(socket), m_processor, m_origins)->run();
        do_accept();
    }

    net::io_context& m_ioc;
    tcp::acceptor m_acceptor;
    net::steady_timer m_retryTimer;
    ProcessFunction m_processor;
    AllowList m_origins;
    bool m_listening = false;
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

void serve(unsigned port, int threads, ProcessFunction processor, std::string listenAddress,
           AllowList origins) {
    beast::error_code ec;
    const auto address = net::ip::make_address(listenAddress, ec);
    if (ec) {
        CWebSocketServer::fail(ec, "open");
        return;
    }
    const tcp::endpoint endpoint{address, static_cast<unsigned short>(port)};
    net::io_context ioc{threads};
    std::make_shared<listener>(ioc, endpoint, processor, std::move(origins))->run();

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

int CWebSocketServer::start() {
    if (m_processor == nullptr)
        return 1;
    std::thread(serve, getPluginPort(), m_threads, m_processor, m_listenAddress,
                std::make_shared<const COriginAllowList>(m_origins))
        .detach();
    return 0;
}

void CWebSocketServer::fail(const boost::system::error_code& ec, const char* word) {
    // One write per report, so that reports of different threads never interleave.
    const std::string line = std::string(word) + ": " + ec.message() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    // The Windows C runtime buffers stderr when it is a pipe or a file.
    std::fflush(stderr);
}

unsigned getPluginPort() {
    return g_pluginPort.load();
}

void setPluginPort(unsigned port) {
    g_pluginPort.store(port);
}
