// The local CA peer as a child process for the exchange tests: started on a
// free loopback port with a temporary state folder, its log drained by a
// thread (so it never blocks on a full pipe), stopped and removed at the
// end. Also the client's side of the pairing: a key container of the
// software provider paired with the peer's CA certificate.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "crypto/CryptoBase.h"
#include "errors/eErrCodes.h"
#include "helpers/ByteStrings.h"
#include "platform/wincrypt.h"
#include "transport/CGetCACertRequest.h"
#include "transport/CPacketOutRequest.h"
#include "transport/common/CHttpConnection.h"
#include "transport/common/TransportHeader.h"

extern char** environ;

namespace exchange_test {

using qn::crypto::Crypto1By1Connect;
using qn::crypto::eSupportCP;
using tesel::CBlob;

using test_bytes::blobOf;
using test_bytes::le32;
using test_bytes::lp;
using test_bytes::text;

// A POST with a fixed body (control requests and hand-made packets).
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

class PeerProcess {
public:
    explicit PeerProcess(std::vector<std::string> extraArgs = {}) {
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        char tmpl[] = "/tmp/pellamo-peer-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
        m_state = tmpl;
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        std::vector<std::string> args = {CA_PEER, "--state", m_state, "--port", "0"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string exe = CA_PEER;
        const int rc = posix_spawn(&m_pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) throw std::runtime_error("cannot start " + exe);
        m_out = fdopen(out[0], "r");
        const std::string first = readLine();
        const auto colon = first.rfind(':');
        m_port = colon == std::string::npos ? 0 : static_cast<unsigned>(std::atoi(first.c_str() + colon + 1));
        if (first.find("listening") == std::string::npos || m_port == 0)
            throw std::runtime_error("the CA peer did not start: " + first);
        m_drain = std::thread([this] {
            for (std::string line = readLine(); !line.empty(); line = readLine()) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_log.push_back(line);
            }
        });
    }
    ~PeerProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
        if (m_drain.joinable()) m_drain.join();
        if (m_out) std::fclose(m_out);
        std::error_code ec;
        std::filesystem::remove_all(m_state, ec);
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    unsigned port() const { return m_port; }
    const std::string& stateFolder() const { return m_state; }
    CHttpConnection connection() const { return CHttpConnection("http://127.0.0.1", m_port); }

    std::vector<std::string> log() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }
    // The log once its last line holds text: the peer writes a line after it
    // has answered, so a reader may be ahead of it. Gives up after 5 s.
    std::vector<std::string> logEndingWith(const std::string& text) const {
        for (int i = 0; i < 500; ++i) {
            auto lines = log();
            if (!lines.empty() && lines.back().find(text) != std::string::npos) return lines;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return log();
    }
    // The body of a control request; empty when it could not be sent.
    std::string control(const std::string& path, const std::string& body = "") {
        RawPost post("/control/" + path, blobOf(body.empty() ? std::string("-") : body));
        CHttpConnection c = connection();
        if (c.send(post) != 0) return {};
        return text(post.getResponse());
    }
    void addEnvelope(const std::string& id, const std::string& password, int kind, const CBlob& card,
                     const std::string& status = "active") {
        const std::string answer = control("envelope/" + id + "?password=" + password + "&kind=" +
                                               std::to_string(kind) + "&status=" + status,
                                           text(card));
        ASSERT_EQ(answer.rfind("envelope " + id, 0), 0u) << answer;
    }

private:
    std::string readLine() {
        std::string line;
        int c = 0;
        while ((c = std::fgetc(m_out)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
        return line;
    }

    std::string m_state;
    pid_t m_pid = 0;
    FILE* m_out = nullptr;
    unsigned m_port = 0;
    std::thread m_drain;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_log;
};

// The CA certificate of a generation from the peer, and the blob and serial
// a connection pairs with.
struct CaCertificate {
    CBlob der;
    CBlob publicKey;
    CBlob serial;  // least significant byte first
};

inline CaCertificate fetchCa(PeerProcess& peer, qn::crypto::eGostCrypto generation) {
    CaCertificate ca;
    CGetCACertRequest request(generation);
    CHttpConnection c = peer.connection();
    EXPECT_EQ(c.send(request), 0);
    EXPECT_EQ(request.decode(ca.der), 0);
    const CERT_CONTEXT* cert = nullptr;
    EXPECT_EQ(qn::crypto::CryptoBase::blobToCertificate(ca.der, &cert), 0u);
    if (!cert) return ca;
    EXPECT_EQ(qn::crypto::CryptoBase::publicKeyInfoFromCert(cert, ca.publicKey), 0u);
    ca.serial.init(cert->pCertInfo->SerialNumber.pbData, cert->pCertInfo->SerialNumber.cbData);
    CertFreeCertificateContext(cert);
    return ca;
}

// Temporary key containers for one test.
class KeyFolder {
public:
    KeyFolder() {
        char tmpl[] = "/tmp/pellamo-keys-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
        m_dir = tmpl;
        setenv("PELLAMO_CSP_DIR", m_dir.c_str(), 1);
    }
    ~KeyFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        unsetenv("PELLAMO_CSP_DIR");
    }
    KeyFolder(const KeyFolder&) = delete;
    KeyFolder& operator=(const KeyFolder&) = delete;

private:
    std::string m_dir;
};

// A new key pair in a container, paired with the CA of its generation.
inline std::unique_ptr<Crypto1By1Connect> newPairedKey(PeerProcess& peer, const std::string& container,
                                                       eSupportCP kind, CaCertificate* caOut = nullptr) {
    Crypto1By1Connect* raw = nullptr;
    const unsigned r = Crypto1By1Connect::create(container, kind, &raw);
    std::unique_ptr<Crypto1By1Connect> key(raw);
    EXPECT_EQ(r, 0u);
    if (r != 0) return nullptr;
    const bool is2001 = kind == qn::crypto::CP_CRYPTOPRO || kind == qn::crypto::CP_VIPNET;
    const CaCertificate ca = fetchCa(peer, is2001 ? qn::crypto::GOST_2001 : qn::crypto::GOST_2012);
    EXPECT_EQ(key->importPublicKey2Side(ca.publicKey, ca.serial), 0u);
    if (caOut) *caOut = ca;
    return key;
}

// The UUID of an accepted packet: magic followed by the UUID as a string;
// "" for any other answer.
inline std::string uuidOf(const CBlob& answer) {
    CBlob m = answer;
    if (qn::http_transport::readHeader(m) != 0) return {};
    std::string uuid;
    m >> &uuid;
    return m.isMalformed() ? std::string() : uuid;
}

// Fetches the answer to the packet accepted as uuid and opens it with key.
inline int fetchAnswer(PeerProcess& peer, const std::string& uuid, Crypto1By1Connect& key, CBlob& answer) {
    CPacketOutRequest request(uuid);
    CHttpConnection c = peer.connection();
    if (const int r = c.send(request)) return r;
    return request.decode(answer, key);
}

// A test suite whose tests share one CA peer, started before the first and
// stopped after the last; each test gets its own key folder. Suite is the
// deriving fixture, so every suite has a peer of its own.
template <class Suite, class Base = ::testing::Test>
class PeerSuite : public Base {
protected:
    static void SetUpTestSuite() {
        try {
            peer = new PeerProcess();
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
    void SetUp() override { ASSERT_NE(peer, nullptr) << "the CA peer did not start"; }
    static void TearDownTestSuite() {
        delete peer;
        peer = nullptr;
    }
    static inline PeerProcess* peer = nullptr;
    KeyFolder keys;
};

}  // namespace exchange_test
