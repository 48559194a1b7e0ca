// ca-peer: a local stand-in for the CA transport server, for development,
// demonstrations and tests. All of its cryptography is OpenSSL with the GOST
// engine; it shares no code with the program.
//
//   ca-peer --state <folder> [--port <n>] [--bind <address>] [--packages <folder>] [--hold]
//           [--demo <folder>] [--tls-port <n> [--tls-cert <pem> --tls-key <pem>]]
//
// --demo serves the demo cabinet's files of that folder under /demo/; given
// more than once, a file is taken from the first folder that has it.
// --tls-port serves the same (demo and endpoints) over HTTPS as well, as a
// real cabinet is served, with the given certificate or one made for
// 127.0.0.1 and kept in the state folder (tls-cert.pem).
// --port 0 picks a free port. The first line on standard output is
//   ca-peer listening on http://<address>:<port>
// then, with --tls-port,
//   ca-peer listening on https://<address>:<port> (certificate <file>)
// and then one line per request. This is the only file that uses Beast.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DemoFiles.h"
#include "Endpoints.h"
#include "GostEngine.h"
#include "PeerState.h"
#include "TlsCertificate.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

namespace {

constexpr std::uint64_t kBodyLimit = 64u << 20;  // well above the 10 MiB packet limit

std::mutex g_logMutex;

void logLine(const std::string& method, const std::string& target, int status, std::size_t size,
             const std::string& note) {
    const std::time_t now = std::time(nullptr);
    // One session thread per connection: the shared result of localtime
    // must not be written by two of them at once.
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::cout << stamp << " " << method << " " << target << " -> " << status << " " << size << " bytes";
    if (!note.empty()) std::cout << " | " << note;
    std::cout << std::endl;
}

// Serves the requests of one connection, plain or TLS, until it ends.
template <class Stream>
void serve(capeer::Peer& peer, const std::vector<std::string>& demo, Stream& socket) {
    beast::error_code ec;
    beast::flat_buffer buffer;
    for (;;) {
        http::request_parser<http::string_body> parser;
        parser.body_limit(kBodyLimit);
        http::read_header(socket, buffer, parser, ec);
        if (ec) break;
        // libcurl waits for "100 Continue" before sending larger bodies.
        if (beast::iequals(parser.get()[http::field::expect], "100-continue")) {
            http::response<http::empty_body> cont{http::status::continue_, parser.get().version()};
            http::write(socket, cont, ec);
            if (ec) break;
        }
        http::read(socket, buffer, parser, ec);
        if (ec) break;
        http::request<http::string_body> req = parser.release();
        const std::string method(req.method_string());
        const std::string target(req.target());
        std::optional<capeer::HttpAnswer> demoFile;
        if (!demo.empty()) demoFile = capeer::serveDemo(demo, method, target);
        const capeer::HttpAnswer a = demoFile ? *demoFile : peer.handle(method, target, capeer::bytesOf(req.body()));

        http::response<http::string_body> res{static_cast<http::status>(a.status), req.version()};
        res.set(http::field::server, "ca-peer");
        res.set(http::field::content_type, a.contentType);
        if (!a.location.empty()) res.set(http::field::location, a.location);
        if (demoFile) res.set(http::field::cache_control, "no-cache");
        res.keep_alive(req.keep_alive());
        res.body() = capeer::textOf(a.body);
        res.prepare_payload();
        logLine(method, target, a.status, a.body.size(), a.note);
        http::write(socket, res, ec);
        if (ec || !res.keep_alive()) break;
    }
}

void session(capeer::Peer& peer, const std::vector<std::string>& demo, tcp::socket socket) {
    serve(peer, demo, socket);
    beast::error_code ec;
    socket.shutdown(tcp::socket::shutdown_both, ec);
}

// A TLS connection: the handshake has as long as a browser needs to decide
// about a self-signed certificate, then the same requests as in plain HTTP.
void tlsSession(capeer::Peer& peer, const std::vector<std::string>& demo, ssl::context& tls, tcp::socket socket) {
    beast::ssl_stream<tcp::socket> stream(std::move(socket), tls);
    beast::error_code ec;
    stream.handshake(ssl::stream_base::server, ec);
    if (!ec) {
        serve(peer, demo, stream);
        stream.shutdown(ec);
    }
    beast::get_lowest_layer(stream).shutdown(tcp::socket::shutdown_both, ec);
}

void acceptLoop(tcp::acceptor& acceptor, const std::function<void(tcp::socket)>& start) {
    for (;;) {
        tcp::socket socket(acceptor.get_executor());
        beast::error_code ec;
        acceptor.accept(socket, ec);
        if (ec) {
            // Out of descriptors or a connection reset before it was taken:
            // the server goes on.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        start(std::move(socket));
    }
}

int usage() {
    std::cerr << "usage: ca-peer --state <folder> [--port <n>] [--bind <address>] [--packages <folder>] [--hold]"
                 " [--demo <folder>] [--tls-port <n> [--tls-cert <pem> --tls-key <pem>]]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string stateFolder, packages, bind = "127.0.0.1";
    std::vector<std::string> demo;
    std::string tlsCert, tlsKey;
    unsigned short port = 9200;
    std::optional<unsigned short> tlsPort;
    bool hold = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string(); };
        if (arg == "--state") {
            stateFolder = value();
        } else if (arg == "--port") {
            try {
                port = static_cast<unsigned short>(std::stoul(value()));
            } catch (...) {
                return usage();
            }
        } else if (arg == "--tls-port") {
            try {
                tlsPort = static_cast<unsigned short>(std::stoul(value()));
            } catch (...) {
                return usage();
            }
        } else if (arg == "--tls-cert") {
            tlsCert = value();
        } else if (arg == "--tls-key") {
            tlsKey = value();
        } else if (arg == "--bind") {
            bind = value();
        } else if (arg == "--packages") {
            packages = value();
        } else if (arg == "--demo") {
            demo.push_back(value());
        } else if (arg == "--hold") {
            hold = true;
        } else {
            return usage();
        }
    }
    if (stateFolder.empty() || tlsCert.empty() != tlsKey.empty() || (!tlsCert.empty() && !tlsPort)) return usage();
    std::signal(SIGPIPE, SIG_IGN);

    if (!capeer::engineReady()) {
        std::cerr << "ca-peer: the OpenSSL GOST engine cannot be loaded (package libengine-gost-openssl)\n";
        return 1;
    }
    capeer::PeerState state;
    std::string error;
    if (!state.open(stateFolder, error)) {
        std::cerr << "ca-peer: " << error << "\n";
        return 1;
    }
    capeer::Peer peer(state, packages, hold);

    capeer::TlsIdentity identity;
    if (tlsPort) {
        const bool loaded = tlsCert.empty() ? capeer::loadOrMakeTlsIdentity(stateFolder, identity, error)
                                            : capeer::loadTlsIdentity(tlsCert, tlsKey, identity, error);
        if (!loaded) {
            std::cerr << "ca-peer: " << error << "\n";
            return 1;
        }
    }

    try {
        net::io_context ioc;
        tcp::acceptor acceptor(ioc, {net::ip::make_address(bind), port});
        std::optional<tcp::acceptor> tlsAcceptor;
        ssl::context tls(ssl::context::tls_server);
        if (tlsPort) {
            tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                            ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
            tls.use_certificate_chain(net::buffer(identity.certificatePem));
            tls.use_private_key(net::buffer(identity.privateKeyPem), ssl::context::pem);
            tlsAcceptor.emplace(ioc, tcp::endpoint{net::ip::make_address(bind), *tlsPort});
        }
        std::cout << "ca-peer listening on http://" << bind << ":" << acceptor.local_endpoint().port()
                  << " (state " << stateFolder << (hold ? ", answers held" : "") << ")" << std::endl;
        if (tlsAcceptor) {
            std::cout << "ca-peer listening on https://" << bind << ":" << tlsAcceptor->local_endpoint().port()
                      << " (certificate " << identity.certificateFile << ")" << std::endl;
            std::thread([&] {
                acceptLoop(*tlsAcceptor, [&](tcp::socket socket) {
                    std::thread(tlsSession, std::ref(peer), std::cref(demo), std::ref(tls), std::move(socket)).detach();
                });
            }).detach();
        }
        acceptLoop(acceptor, [&](tcp::socket socket) {
            std::thread(session, std::ref(peer), std::cref(demo), std::move(socket)).detach();
        });
    } catch (const std::exception& e) {
        std::cerr << "ca-peer: " << e.what() << "\n";
        return 1;
    }
}
