// ca-peer: a local stand-in for the CA transport server, for development,
// demonstrations and tests. All of its cryptography is OpenSSL with the GOST
// engine; it shares no code with the program.
//
//   ca-peer --state <folder> [--port <n>] [--bind <address>] [--packages <folder>] [--hold]
//           [--demo <folder>]
//
// --demo serves the demo cabinet's files of that folder under /demo/; given
// more than once, a file is taken from the first folder that has it.
// --port 0 picks a free port. The first line on standard output is
//   ca-peer listening on http://<address>:<port>
// and then one line per request. This is the only file that uses Beast.
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
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

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
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

void session(capeer::Peer& peer, const std::vector<std::string>& demo, tcp::socket socket) {
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
    socket.shutdown(tcp::socket::shutdown_both, ec);
}

int usage() {
    std::cerr << "usage: ca-peer --state <folder> [--port <n>] [--bind <address>] [--packages <folder>] [--hold]"
                 " [--demo <folder>]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string stateFolder, packages, bind = "127.0.0.1";
    std::vector<std::string> demo;
    unsigned short port = 9200;
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
    if (stateFolder.empty()) return usage();
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

    try {
        net::io_context ioc;
        tcp::acceptor acceptor(ioc, {net::ip::make_address(bind), port});
        std::cout << "ca-peer listening on http://" << bind << ":" << acceptor.local_endpoint().port()
                  << " (state " << stateFolder << (hold ? ", answers held" : "") << ")" << std::endl;
        for (;;) {
            tcp::socket socket(ioc);
            acceptor.accept(socket);
            std::thread(session, std::ref(peer), std::cref(demo), std::move(socket)).detach();
        }
    } catch (const std::exception& e) {
        std::cerr << "ca-peer: " << e.what() << "\n";
        return 1;
    }
}
