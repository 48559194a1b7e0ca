// The ceiling for the command service: a bare WebSocket echo server built the
// same way (one I/O context run by N threads, a strand per connection, whole
// messages read asynchronously and answered with one synchronous write), but
// without any command processing.
//
//   ws_echo_server [--port 3001] [--threads 4] [--short-reply]
//
// With --short-reply every message is answered with its first 64 bytes
// only, and each connection reads into one buffer reserved once: the floor
// for receiving a large message over the WebSocket.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// GCC 12 with the sanitizers reports a false maybe-uninitialized in the
// library's HTTP parser.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

bool g_shortReply = false;
constexpr std::size_t kShortReply = 64;
constexpr std::size_t kReserved = 64u << 20;

class session : public std::enable_shared_from_this<session> {
public:
    explicit session(tcp::socket&& socket) : m_ws(std::move(socket)) {
        if (g_shortReply) m_buffer.reserve(kReserved);
    }

    void run() {
        net::dispatch(m_ws.get_executor(), beast::bind_front_handler(&session::on_run, shared_from_this()));
    }

private:
    void on_run() { m_ws.async_accept(beast::bind_front_handler(&session::on_accept, shared_from_this())); }

    void on_accept(beast::error_code ec) {
        if (ec)
            return;
        m_ws.read_message_max(0);
        do_read();
    }

    void do_read() {
        m_ws.async_read(m_buffer, beast::bind_front_handler(&session::on_read, shared_from_this()));
    }

    void on_read(beast::error_code ec, std::size_t bytes) {
        if (ec || bytes == 0)
            return;
        m_ws.binary(m_ws.got_binary());
        if (g_shortReply)
            m_ws.write(net::buffer(m_buffer.data().data(), std::min(kShortReply, m_buffer.size())), ec);
        else
            m_ws.write(m_buffer.data(), ec);
        if (ec)
            return;
        m_buffer.consume(m_buffer.size());
        do_read();
    }

    websocket::stream<tcp::socket> m_ws;
    beast::flat_buffer m_buffer;
};

class listener : public std::enable_shared_from_this<listener> {
public:
    listener(net::io_context& ioc, const tcp::endpoint& endpoint) : m_ioc(ioc), m_acceptor(ioc) {
        m_acceptor.open(endpoint.protocol());
        m_acceptor.set_option(net::socket_base::reuse_address(true));
        m_acceptor.bind(endpoint);
        m_acceptor.listen(net::socket_base::max_listen_connections);
    }

    void run() { do_accept(); }

private:
    void do_accept() {
        m_acceptor.async_accept(net::make_strand(m_ioc),
                                beast::bind_front_handler(&listener::on_accept, shared_from_this()));
    }

    void on_accept(beast::error_code ec, tcp::socket socket) {
        if (!ec) {
            socket.set_option(tcp::no_delay(true), ec);
            std::make_shared<session>(std::move(socket))->run();
        }
        do_accept();
    }

    net::io_context& m_ioc;
    tcp::acceptor m_acceptor;
};

}  // namespace

int main(int argc, char** argv) {
    unsigned short port = 3001;
    int threads = 4;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short-reply") == 0) {
            g_shortReply = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (std::strcmp(argv[i], "--port") == 0)
            port = static_cast<unsigned short>(std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--threads") == 0)
            threads = std::max(1, std::atoi(argv[i + 1]));
        ++i;
    }
    try {
        net::io_context ioc{threads};
        std::make_shared<listener>(ioc, tcp::endpoint{net::ip::make_address("0.0.0.0"), port})->run();
        std::vector<std::thread> workers;
        for (int i = 1; i < threads; ++i)
            workers.emplace_back([&ioc] { ioc.run(); });
        ioc.run();
        for (auto& t : workers)
            t.join();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ws_echo_server: %s\n", e.what());
        return 1;
    }
    return 0;
}
