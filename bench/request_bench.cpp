// Command 122 (new key container, signed PKCS#10 request, protected CA
// registration packet) end to end over the WebSocket, next to the raw
// provider operations it performs, measured in the same run: one key
// generation, one request signature, one key agreement with the CA key, the
// encryption and the signature of the packet. And command 42 with a 20 MiB
// attachment, over the WebSocket and through the command table in process,
// next to a 20 MiB memory copy.
//
//   request_bench --peer <port> [--plugin 127.0.0.1:3000] [--runs 30] [--kinds 75,80,81]
//                 [--header 1] [--attachment 1]
//
// pellamo must be running with its settings pointing at the CA peer on
// 127.0.0.1:<port>; bench/request_bench.sh starts both (and a second pair
// with a 512-bit CA for kind 81). The raw operations use the same software
// provider in this process (PELLAMO_CSP_DIR) and the CA key the peer serves.
// --header 0 leaves out the table heading (a second pair's rows continue the
// table), --attachment 0 the command 42 figures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "client/CClient.h"
#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "crypto/CryptoBase.h"
#include "crypto/CspAlgorithms.h"
#include "pki/RequestPKCS10.h"
#include "platform/memory.h"
#include "server/dispatch/processPacket.h"
#include "transport/CGetCACertRequest.h"
#include "transport/common/CHTTPPostRequest.h"
#include "transport/common/CHttpConnection.h"

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using qn::crypto::Crypto1By1Connect;
using qn::crypto::eSupportCP;
using tesel::CBlob;

namespace {

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const std::size_t rank = static_cast<std::size_t>(p * static_cast<double>(v.size()) + 0.999999);
    return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
}

std::string le32(unsigned v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}
std::string lp(const std::string& bytes) { return le32(static_cast<unsigned>(bytes.size())) + bytes; }

class Page {
public:
    Page(const std::string& host, const std::string& port) : m_ws(m_ioc) {
        tcp::resolver resolver(m_ioc);
        net::connect(m_ws.next_layer(), resolver.resolve(host, port));
        m_ws.read_message_max(64u << 20);
        // As a browser does: one frame per message, masked in large pieces.
        m_ws.auto_fragment(false);
        m_ws.write_buffer_bytes(1u << 20);
        m_ws.handshake(host, "/");
        m_ws.binary(true);
    }
    // The result field of the reply; rest receives the fields behind it.
    unsigned send(unsigned command, const std::string& payload, std::string* rest = nullptr) {
        return sendMessage(message(command, payload), rest);
    }
    static std::string message(unsigned command, const std::string& payload) {
        return lp("b") + le32(1) + le32(command) + payload;
    }
    // Sends a whole message and waits for the reply, whatever it holds.
    void roundTrip(const std::string& message) {
        m_ws.write(net::buffer(message));
        beast::flat_buffer buffer;
        m_ws.read(buffer);
    }
    // A whole request message, built beforehand.
    unsigned sendMessage(const std::string& request, std::string* rest = nullptr) {
        m_ws.write(net::buffer(request));
        beast::flat_buffer buffer;
        m_ws.read(buffer);
        const std::string reply = beast::buffers_to_string(buffer.data());
        const std::size_t header = 4 + 1 + 8;  // uid "b", format, answer code
        if (reply.size() < header + 4) return 0xFFFFFFFFu;
        unsigned result = 0;
        std::memcpy(&result, reply.data() + header, 4);
        if (rest) *rest = reply.substr(header + 4);
        return result;
    }

private:
    net::io_context m_ioc;
    websocket::stream<tcp::socket> m_ws;
};

class RawPost : public CHTTPPostRequest {
public:
    RawPost(const std::string& url, CBlob body) : CHTTPPostRequest(url), m_body(std::move(body)) {}
    int build(CBlob& body, std::vector<std::string>&) override {
        body = m_body;
        return 0;
    }

private:
    CBlob m_body;
};

std::string envelopeId(unsigned n) {
    static const int w[] = {3, 7, 9, 4, 1};
    char five[8];
    std::snprintf(five, sizeof five, "%05u", n % 100000);
    int sum = 0;
    for (int i = 0; i < 5; ++i) sum += (five[i] - '0') * w[i];
    const int r = sum % 36;
    return std::string(five) + static_cast<char>(r <= 9 ? '0' + r : 'A' + r - 10);
}

tesel::CClient benchCard(const std::string& id, eSupportCP kind) {
    tesel::CClient c;
    c.setClientType(tesel::TS_LEGAL_ENTITY);
    c.setINN("7707083893");
    c.setOGRN("1027700132195");
    c.setKPP("773601001");
    c.setCompanyName("OOO Bench");
    c.setSurname("Ivanov");
    c.setName("Petr");
    c.setPosition("Director");
    c.setEmail("bench@example.ru");
    c.getAddress().setRegion("Moscow");
    c.getAddress().setCity("Moscow");
    c.setConvertId(id);
    c.setTemplateCertId(static_cast<tesel::eCertTemplate>(1));
    c.setCSP(kind);
    return c;
}

struct Figures {
    std::vector<double> command;
    std::vector<double> raw;
};

bool runKind(Page& page, CHttpConnection& peer, eSupportCP kind, int runs, Figures& out) {
    static unsigned serial = 20000;
    const std::string id = envelopeId(serial++);
    const std::string pin = "12345678";
    const tesel::CClient card = benchCard(id, kind);
    RawPost envelope("/control/envelope/" + id + "?password=" + pin + "&kind=" + std::to_string(kind),
                     card.PartnerInfoToBinary());
    if (peer.send(envelope) != 0) return false;
    if (page.send(124, lp(pin)) != 0 || page.send(120, lp(id)) != 0) return false;

    CGetCACertRequest caRequest(qn::crypto::getGostCrypto(kind));
    CBlob caDer, caKey;
    const CERT_CONTEXT* ca = nullptr;
    if (peer.send(caRequest) != 0 || caRequest.decode(caDer) != 0 ||
        qn::crypto::CryptoBase::blobToCertificate(caDer, &ca) != 0 ||
        qn::crypto::CryptoBase::publicKeyInfoFromCert(ca, caKey) != 0)
        return false;
    CertFreeCertificateContext(ca);

    std::string reply;
    for (int i = 0; i < runs; ++i) {
        // The command, end to end.
        const std::string container = "bench_" + std::to_string(kind) + "_" + std::to_string(i);
        const auto t0 = Clock::now();
        if (page.send(122, lp(container), &reply) != 0) return false;
        out.command.push_back(msSince(t0));
        const std::size_t packetSize = reply.size();

        // The same provider operations, each timed on its own.
        double raw = 0;
        Crypto1By1Connect* made = nullptr;
        auto t = Clock::now();
        const unsigned created = Crypto1By1Connect::create("raw_" + container, kind, &made);
        raw += msSince(t);
        std::unique_ptr<Crypto1By1Connect> key(made);
        if (created != 0) return false;
        tesel::RequestPKCS10 request;
        request.fillFromClient(card, kind);
        CBlob publicKey, encoded, toBeSigned, signature;
        key->getPublicKeyBlob(publicKey);
        request.createCSR(kind, publicKey.getBLOB(), encoded, toBeSigned);
        t = Clock::now();
        if (key->signMessage(toBeSigned, signature) != 0) return false;
        raw += msSince(t);
        t = Clock::now();
        if (key->importPublicKey2Side(caKey) != 0) return false;
        raw += msSince(t);
        CBlob payload(static_cast<unsigned>(packetSize)), cipher, packet;
        t = Clock::now();
        if (key->encryptMessage(payload, cipher) != 0 || key->signMessage(cipher, packet) != 0) return false;
        raw += msSince(t);
        out.raw.push_back(raw);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    platform::tuneAllocatorForLargeMessages();  // as the program does
    std::string plugin = "127.0.0.1:3000";
    unsigned peerPort = 0;
    int runs = 30;
    std::vector<int> kinds = {75, 80, 81};
    bool header = true;
    bool attachment = true;
    std::string bare;  // host:port of a bare WebSocket server answering briefly
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--peer") peerPort = static_cast<unsigned>(std::atoi(v.c_str()));
        else if (a == "--plugin") plugin = v;
        else if (a == "--runs") runs = std::max(1, std::atoi(v.c_str()));
        else if (a == "--header") header = v != "0";
        else if (a == "--attachment") attachment = v != "0";
        else if (a == "--bare") bare = v;
        else if (a == "--kinds") {
            kinds.clear();
            std::stringstream ss(v);
            for (std::string k; std::getline(ss, k, ',');) kinds.push_back(std::atoi(k.c_str()));
        }
    }
    if (peerPort == 0) {
        std::fprintf(stderr, "usage: request_bench --peer <port> [--plugin host:port] [--runs n] [--kinds 75,80,81] [--header 0|1] [--attachment 0|1] [--bare host:port]\n");
        return 2;
    }
    const auto colon = plugin.rfind(':');
    Page page(plugin.substr(0, colon), plugin.substr(colon + 1));
    CHttpConnection peer("http://127.0.0.1", peerPort);

    if (header && !kinds.empty()) {
        std::printf("command 122 over the WebSocket vs the raw provider operations (%d runs per kind)\n", runs);
        std::printf("%-6s %10s %10s %10s %10s %8s\n", "kind", "122 p50", "122 p99", "raw p50", "raw p99", "ratio");
    }
    for (int kind : kinds) {
        Figures f;
        if (!runKind(page, peer, static_cast<eSupportCP>(kind), runs, f)) {
            std::printf("%-6d failed (the command or a raw operation did not succeed)\n", kind);
            continue;
        }
        const double c50 = percentile(f.command, 0.5), r50 = percentile(f.raw, 0.5);
        std::printf("%-6d %8.2fms %8.2fms %8.2fms %8.2fms %7.2fx\n", kind, c50, percentile(f.command, 0.99), r50,
                    percentile(f.raw, 0.99), c50 / r50);
        std::fflush(stdout);
    }
    if (!attachment) return 0;

    // Command 42 with 20 MiB, and a memory copy of the same size.
    const std::string big(20u << 20, 'Z');
    std::vector<double> ws, local, copy, freshCopy, bareServer;
    std::unique_ptr<Page> barePage;
    if (!bare.empty()) {
        const auto at = bare.rfind(':');
        barePage = std::make_unique<Page>(bare.substr(0, at), bare.substr(at + 1));
    }
    // The received message is given to the command table as the service
    // gives it (built before the clock starts); elapsed receives the time.
    auto inProcess = [](unsigned command, const std::string& payload, double* elapsed = nullptr) {
        const std::string whole = Page::message(command, payload);
        CBlob request(reinterpret_cast<const unsigned char*>(whole.data()), static_cast<unsigned>(whole.size()));
        CBlob reply;
        const auto t = Clock::now();
        processPacket(request, reply);
        if (elapsed) *elapsed = msSince(t);
        return reply.getSize() >= 17 ? reply[13] | (reply[14] << 8) : 0xFFFF;
    };
    const std::string attach = lp("bench") + le32(1) + le32(3) + lp("scan.tif") + lp(big);
    const std::string attachMessage = Page::message(42, attach);
    for (int i = 0; i < 7; ++i) {
        // A new card each time: one attachment on the card, as a page sends
        // it, rather than a card that grows by 20 MiB a run.
        page.send(142, lp("bench"));
        inProcess(142, lp("bench"));
        auto t = Clock::now();
        if (page.sendMessage(attachMessage) != 0) return 1;
        ws.push_back(msSince(t));
        if (barePage) {
            t = Clock::now();
            barePage->roundTrip(attachMessage);
            bareServer.push_back(msSince(t));
        }
        double elapsed = 0;
        if (inProcess(42, attach, &elapsed) != 0) return 1;
        local.push_back(elapsed);
        std::vector<char> dst(big.size());
        t = Clock::now();
        std::memcpy(dst.data(), big.data(), big.size());
        copy.push_back(msSince(t));
        if (dst[12345] != 'Z') return 1;
        // The same copy into memory not touched before, as a received
        // message meets it.
        t = Clock::now();
        std::unique_ptr<char[]> fresh(new char[big.size()]);
        std::memcpy(fresh.get(), big.data(), big.size());
        if (static_cast<volatile char*>(fresh.get())[big.size() - 1] != 'Z') return 1;
        freshCopy.push_back(msSince(t));
    }
    const double w = percentile(ws, 0.5), l = percentile(local, 0.5), m = percentile(copy, 0.5);
    std::printf("command 42, 20 MiB: WebSocket %.2f ms (%.1fx), in process %.2f ms (%.1fx), memcpy %.2f ms "
                "(into fresh memory %.2f ms)\n",
                w, w / m, l, l / m, m, percentile(freshCopy, 0.5));
    if (!bareServer.empty()) {
        const double b = percentile(bareServer, 0.5);
        std::printf("the same message to a bare WebSocket server: %.2f ms (%.1fx the copy); command 42 takes %.2fx it\n",
                    b, b / m, w / b);
    }
    return 0;
}
