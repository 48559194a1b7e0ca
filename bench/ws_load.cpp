// Load generator for the WebSocket command service. Keeps N connections busy,
// each sending one command and waiting for its reply before sending the next,
// for a fixed time, and reports requests per second with the median and 99th
// percentile latency. The same load is run against an echo server (the
// ceiling for this server design) and the ratio of the two rates printed.
//
//   ws_load [--pellamo 127.0.0.1:3000] [--echo 127.0.0.1:3001]
//           [--connections 1,4,16] [--commands 52,16] [--duration 3]
//           [--warmup 0.5] [--threads 1] [--repeat 3]
//
// Each row alternates runs against the two servers --repeat times and shows
// the medians, so that a background load that comes and goes affects both
// sides alike.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// GCC 12 with the sanitizers reports a false maybe-uninitialized in the
// library's HTTP parser.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

struct Target {
    std::string host;
    std::string port;
};

struct Options {
    Target pellamo{"127.0.0.1", "3000"};
    Target echo{"127.0.0.1", "3001"};
    std::vector<int> connections{1, 4, 16};
    std::vector<unsigned> commands{52, 16};
    double duration = 3.0;
    double warmup = 0.5;
    int threads = 1;
    int repeat = 3;
};

void putLe32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// Command envelope: uid string, format field, command code.
std::string makeRequest(const std::string& uid, unsigned command) {
    std::string out;
    putLe32(out, static_cast<std::uint32_t>(uid.size()));
    out += uid;
    putLe32(out, 1);
    putLe32(out, command);
    return out;
}

struct Result {
    double rate = 0;
    double p50us = 0;
    double p99us = 0;
    std::uint64_t badReplies = 0;
    std::uint64_t failedConnections = 0;
};

// One closed-loop connection: write a request, read its reply, repeat until
// the end of the run. Latencies of requests sent inside the measuring window
// are kept.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(net::io_context& ioc, std::string request, bool echo, unsigned command)
        : m_ws(net::make_strand(ioc)), m_request(std::move(request)), m_echo(echo),
          m_answer(command + 1) {
        m_latenciesUs.reserve(1 << 16);
    }

    bool connect(const tcp::resolver::results_type& endpoints, const std::string& host) {
        beast::error_code ec;
        net::connect(m_ws.next_layer(), endpoints, ec);
        if (ec)
            return false;
        m_ws.next_layer().set_option(tcp::no_delay(true), ec);
        m_ws.handshake(host, "/", ec);
        if (ec)
            return false;
        m_ws.binary(true);
        m_ws.read_message_max(0);
        m_ws.secure_prng(false);  // masking keys need no cryptographic quality here
        return true;
    }

    void start(Clock::time_point measureFrom, Clock::time_point measureTo) {
        m_from = measureFrom;
        m_to = measureTo;
        send();
    }

    const std::vector<std::uint32_t>& latencies() const { return m_latenciesUs; }
    std::uint64_t badReplies() const { return m_bad; }
    bool failed() const { return m_failed; }

private:
    void send() {
        m_sent = Clock::now();
        m_ws.async_write(net::buffer(m_request), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                self->m_failed = true;
                return;
            }
            self->m_ws.async_read(self->m_buffer, [self](beast::error_code ec2, std::size_t) { self->onReply(ec2); });
        });
    }

    void onReply(beast::error_code ec) {
        const auto now = Clock::now();
        if (ec) {
            m_failed = true;
            return;
        }
        if (!validReply())
            ++m_bad;
        m_buffer.consume(m_buffer.size());
        if (m_sent >= m_from && now <= m_to)
            m_latenciesUs.push_back(static_cast<std::uint32_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(now - m_sent).count()));
        if (now < m_to)
            send();
        else
            m_ws.next_layer().close(ec);
    }

    bool validReply() const {
        const auto data = m_buffer.data();
        const auto* p = static_cast<const unsigned char*>(data.data());
        const std::size_t n = data.size();
        if (m_echo)
            return n == m_request.size() && std::memcmp(p, m_request.data(), n) == 0;
        // Header: uid (same as the request's), format 1, answer code, result 0.
        const std::size_t uidField = 4 + (m_request.size() - 12);
        if (n < uidField + 12 || std::memcmp(p, m_request.data(), uidField) != 0)
            return false;
        const auto le32 = [p](std::size_t at) {
            return std::uint32_t(p[at]) | std::uint32_t(p[at + 1]) << 8 | std::uint32_t(p[at + 2]) << 16 |
                   std::uint32_t(p[at + 3]) << 24;
        };
        return le32(uidField) == 1 && le32(uidField + 4) == m_answer && le32(uidField + 8) == 0;
    }

    websocket::stream<tcp::socket> m_ws;
    std::string m_request;
    bool m_echo;
    std::uint32_t m_answer;
    beast::flat_buffer m_buffer;
    Clock::time_point m_sent, m_from, m_to;
    std::vector<std::uint32_t> m_latenciesUs;
    std::uint64_t m_bad = 0;
    bool m_failed = false;
};

double percentile(std::vector<std::uint32_t>& v, double q) {
    if (v.empty())
        return 0;
    const auto k = static_cast<std::size_t>(q * static_cast<double>(v.size() - 1));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

Result runLoad(const Options& opt, const Target& target, bool echo, unsigned command, int connections) {
    net::io_context ioc{opt.threads};
    tcp::resolver resolver(ioc);
    const auto endpoints = resolver.resolve(target.host, target.port);

    Result result;
    std::vector<std::shared_ptr<Connection>> conns;
    for (int i = 0; i < connections; ++i) {
        auto c = std::make_shared<Connection>(ioc, makeRequest("bench-" + std::to_string(i), command), echo,
                                              command);
        if (!c->connect(endpoints, target.host)) {
            ++result.failedConnections;
            continue;
        }
        conns.push_back(std::move(c));
    }

    const auto begin = Clock::now();
    const auto from = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opt.warmup));
    const auto to = from + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opt.duration));
    for (auto& c : conns)
        c->start(from, to);

    std::vector<std::thread> workers;
    for (int i = 1; i < opt.threads; ++i)
        workers.emplace_back([&ioc] { ioc.run(); });
    ioc.run();
    for (auto& t : workers)
        t.join();

    std::vector<std::uint32_t> all;
    for (auto& c : conns) {
        all.insert(all.end(), c->latencies().begin(), c->latencies().end());
        result.badReplies += c->badReplies();
        result.failedConnections += c->failed() ? 1 : 0;
    }
    result.rate = static_cast<double>(all.size()) / opt.duration;
    result.p50us = percentile(all, 0.50);
    result.p99us = percentile(all, 0.99);
    return result;
}

// Field-wise medians; bad replies and failed connections are summed.
Result median(const std::vector<Result>& runs) {
    const auto mid = [&runs](double Result::*field) {
        std::vector<double> v;
        for (const auto& r : runs)
            v.push_back(r.*field);
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    Result out;
    out.rate = mid(&Result::rate);
    out.p50us = mid(&Result::p50us);
    out.p99us = mid(&Result::p99us);
    for (const auto& r : runs) {
        out.badReplies += r.badReplies;
        out.failedConnections += r.failedConnections;
    }
    return out;
}

std::optional<Target> parseTarget(const std::string& s) {
    const auto colon = s.rfind(':');
    if (colon == std::string::npos)
        return std::nullopt;
    return Target{s.substr(0, colon), s.substr(colon + 1)};
}

template <typename T>
std::vector<T> parseList(const std::string& s) {
    std::vector<T> out;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ','))
        out.push_back(static_cast<T>(std::stol(item)));
    return out;
}

int usage() {
    std::fprintf(stderr,
                 "usage: ws_load [--pellamo host:port] [--echo host:port] [--connections 1,4,16]\n"
                 "               [--commands 52,16] [--duration seconds] [--warmup seconds] [--threads n]\n"
                 "               [--repeat n]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (arg == "--pellamo" || arg == "--echo") {
            const auto t = parseTarget(value);
            if (!t)
                return usage();
            (arg == "--pellamo" ? opt.pellamo : opt.echo) = *t;
        } else if (arg == "--connections") {
            opt.connections = parseList<int>(value);
        } else if (arg == "--commands") {
            opt.commands = parseList<unsigned>(value);
        } else if (arg == "--duration") {
            opt.duration = std::atof(value.c_str());
        } else if (arg == "--warmup") {
            opt.warmup = std::atof(value.c_str());
        } else if (arg == "--repeat") {
            opt.repeat = std::max(1, std::atoi(value.c_str()));
        } else if (arg == "--threads") {
            opt.threads = std::max(1, std::atoi(value.c_str()));
        } else {
            return usage();
        }
    }
    if (opt.duration <= 0)
        return usage();

    std::printf("load threads: %d; %.1f s measured after %.1f s warm-up, median of %d alternating runs\n",
                opt.threads, opt.duration, opt.warmup, opt.repeat);
    std::printf("%-7s %5s | %12s %8s %8s | %12s %8s %8s | %6s\n", "command", "conns", "pellamo/s", "p50 us",
                "p99 us", "echo/s", "p50 us", "p99 us", "ratio");
    bool trouble = false;
    for (const unsigned command : opt.commands) {
        for (const int n : opt.connections) {
            std::vector<Result> ps;
            std::vector<Result> es;
            try {
                for (int r = 0; r < opt.repeat; ++r) {
                    ps.push_back(runLoad(opt, opt.pellamo, false, command, n));
                    es.push_back(runLoad(opt, opt.echo, true, command, n));
                }
            } catch (const std::exception& ex) {
                std::fprintf(stderr, "ws_load: %s\n", ex.what());
                return 1;
            }
            const Result p = median(ps);
            const Result e = median(es);
            std::printf("%-7u %5d | %12.0f %8.0f %8.0f | %12.0f %8.0f %8.0f | %5.0f%%\n", command, n, p.rate, p.p50us,
                        p.p99us, e.rate, e.p50us, e.p99us, e.rate > 0 ? 100.0 * p.rate / e.rate : 0.0);
            std::fflush(stdout);
            if (p.badReplies || e.badReplies || p.failedConnections || e.failedConnections) {
                trouble = true;
                std::fprintf(stderr, "  bad replies %llu/%llu, failed connections %llu/%llu (pellamo/echo)\n",
                             static_cast<unsigned long long>(p.badReplies),
                             static_cast<unsigned long long>(e.badReplies),
                             static_cast<unsigned long long>(p.failedConnections),
                             static_cast<unsigned long long>(e.failedConnections));
            }
        }
    }
    return trouble ? 1 : 0;
}
