// Command 20 over a personal store of 100 certificates (issued by the test
// CA of the unit tests, OpenSSL with the GOST engine), per certificate,
// beside a bare OpenSSL parse (d2i_X509) of the same certificates in the
// same run. Keys live in a temporary folder.
#include <benchmark/benchmark.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/Settings.h"
#include "crypto/CryptoCert.h"
#include "server/dispatch/processPacket.h"
#include "../tests/unit/crypto/TestCA.h"

namespace {

constexpr int kCerts = 100;

std::string& keyDir() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/pellamo-bench-certs-XXXXXX";
        const char* d = mkdtemp(tmpl);
        std::string s = d ? d : "/tmp";
        setenv("PELLAMO_CSP_DIR", s.c_str(), 1);
        return s;
    }();
    return dir;
}

const std::vector<testca::Bytes>& certificates() {
    static const std::vector<testca::Bytes> certs = [] {
        keyDir();
        testca::TestCA ca(oracle::Kind::G2012_256, "Bench CA");
        std::vector<testca::Bytes> out;
        tesel::CryptoCert my;
        my.openStore(tesel::kStoreMY);
        for (int i = 0; i < kCerts; ++i) {
            testca::CertFields f;
            f.subject = {{"2.5.4.3", testca::UTF8, "Сертификат " + std::to_string(i)},
                         {"2.5.4.4", testca::UTF8, "Иванов"},
                         {"2.5.4.42", testca::UTF8, "Иван Иванович"},
                         {"1.2.643.3.131.1.1", testca::NUMERIC, "503214967066"}};
            f.serial = {0x10, static_cast<unsigned char>(i), 0x33};
            f.withEku = true;
            f.purposes = {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"};
            out.push_back(ca.issue(f));
            const CERT_CONTEXT* c = CertCreateCertificateContext(X509_ASN_ENCODING, out.back().data(),
                                                                 static_cast<DWORD>(out.back().size()));
            my.addCertToStore(c);
            CertFreeCertificateContext(c);
        }
        // Trusted roots: the CA's key identifier.
        tesel::CBlob roots(4 + 4 + static_cast<unsigned>(ca.keyId().size()));
        roots.serialize(1u);
        roots.serialize(static_cast<unsigned>(ca.keyId().size()));
        roots.serialize(ca.keyId().data(), static_cast<unsigned>(ca.keyId().size()));
        setRootCACerts(roots);
        return out;
    }();
    return certs;
}

tesel::CBlob listRequest() {
    tesel::CBlob b(4 + 1 + 8);
    b.serialize(std::string("b"));
    b.serialize(1u);
    b.serialize(20u);
    return b;
}

void BM_CertListCommand(benchmark::State& state) {
    certificates();
    const tesel::CBlob request = listRequest();
    for (auto _ : state) {
        tesel::CBlob in = request;
        in.moveOffset(0);
        tesel::CBlob out;
        processPacket(in, out);
        if (out.getSize() < 16 + 100 * 30) {
            state.SkipWithError(("short list: " + std::to_string(out.getSize()) + " bytes, result " + std::to_string(out.getSize() >= 17 ? out.getData()[13] : -1)).c_str());
            break;
        }
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetItemsProcessed(state.iterations() * kCerts);
}

void BM_OpenSslParse(benchmark::State& state) {
    const auto& certs = certificates();
    for (auto _ : state) {
        for (const auto& der : certs) {
            const unsigned char* p = der.data();
            X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            benchmark::DoNotOptimize(x);
            X509_free(x);
        }
    }
    state.SetItemsProcessed(state.iterations() * kCerts);
}

BENCHMARK(BM_CertListCommand)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenSslParse)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(keyDir(), ec);
    return 0;
}
