// The cost of the PKCS#11 layer: signing, verification, encryption and
// decryption of 1 MiB through the token provider and the software token,
// next to the same operations through the software CSP, in one run. Runs
// alternate between the two paths; the table shows medians and the ratio
// token / CSP.
//
// Usage: bench_p11 [rounds]   (default 9)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crypto/Crypto1By1Connect.h"
#include "crypto/CryptoP11.h"

using namespace qn::crypto;
namespace fs = std::filesystem;

namespace {

constexpr unsigned kPayload = 1u << 20;

std::string prepare() {
    char tmpl[] = "/tmp/pellamo-bench-p11-XXXXXX";
    const char* d = mkdtemp(tmpl);
    const std::string dir = d ? d : "/tmp";
    for (const char* name : {"jacarta", "rutoken"}) {
        fs::copy_file(SOFT_TOKEN_MODULE, dir + "/" + name + "-softtoken.so", fs::copy_options::overwrite_existing);
    }
    std::ofstream(dir + "/softtoken.conf") << "[slot]\nmodule = jacarta\nmodel = JaCarta GOST 2.0\npin = 4719360825\n"
                                              "wrapped-key = 44\n[slot]\nmodule = rutoken\npin = 58203716\n";
    setenv("PELLAMO_PKCS11_JACARTA", (dir + "/jacarta-softtoken.so").c_str(), 1);
    setenv("PELLAMO_PKCS11_RUTOKEN", (dir + "/rutoken-softtoken.so").c_str(), 1);
    setenv("PELLAMO_SOFTTOKEN_DIR", (dir + "/tokens").c_str(), 1);
    setenv("PELLAMO_SOFTTOKEN_CONFIG", (dir + "/softtoken.conf").c_str(), 1);
    setenv("PELLAMO_CSP_DIR", (dir + "/csp").c_str(), 1);
    return dir;
}

// Two connections that know each other's keys.
struct Pair {
    std::unique_ptr<Crypto1By1Connect> a, b;
};

Pair pairOf(eSupportCP kind, const std::string& tag) {
    Pair p;
    Crypto1By1Connect* raw = nullptr;
    if (Crypto1By1Connect::create("bench-a" + tag, kind, &raw)) {
        std::fprintf(stderr, "cannot create a container of kind %d\n", kind);
        std::exit(1);
    }
    p.a.reset(raw);
    raw = nullptr;
    if (Crypto1By1Connect::create("bench-b" + tag, kind, &raw)) {
        std::exit(1);
    }
    p.b.reset(raw);
    tesel::CBlob ka, kb;
    p.a->getPublicKey(ka);
    p.b->getPublicKey(kb);
    if (p.a->importPublicKey2Side(kb) || p.b->importPublicKey2Side(ka)) {
        std::fprintf(stderr, "key agreement failed for kind %d\n", kind);
        std::exit(1);
    }
    return p;
}

double millis(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Ops {
    std::function<void()> sign, verify, encrypt, decrypt;
};

Ops opsOf(Pair& p, const tesel::CBlob& data) {
    auto signedData = std::make_shared<tesel::CBlob>();
    auto message = std::make_shared<tesel::CBlob>();
    p.a->signMessage(data, *signedData);
    p.a->encryptMessage(data, *message);
    auto check = [](unsigned r, const char* what) {
        if (r) {
            std::fprintf(stderr, "%s failed: %u\n", what, r);
            std::exit(1);
        }
    };
    Pair* pp = &p;
    return Ops{
        [pp, &data, check] {
            tesel::CBlob out;
            check(pp->a->signMessage(data, out), "sign");
        },
        [pp, signedData, check] { check(pp->b->verifySignMessage(*signedData), "verify"); },
        [pp, &data, check] {
            tesel::CBlob out;
            check(pp->a->encryptMessage(data, out), "encrypt");
        },
        [pp, message, check] {
            tesel::CBlob out;
            check(pp->b->decryptMessage(*message, out), "decrypt");
        },
    };
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    const std::string dir = prepare();
    tesel::CBlob data(kPayload);
    for (unsigned i = 0; i < kPayload; ++i) {
        data[i] = static_cast<unsigned char>(i * 31 + 7);
    }
    struct Row {
        const char* name;
        eSupportCP token, csp;
    };
    const Row rows[] = {
        {"GOST 2001, Rutoken (-5) / CSP (75)", CP_RUTOKEN_GOST, CP_CRYPTOPRO},
        {"GOST 2012/256, Rutoken (-6) / CSP (80)", CP_RUTOKEN_GOST2012_256, CP_CRYPTOPRO_GOST2012_256},
        {"GOST 2012/256, JaCarta (-3) / CSP (80)", CP_JACARTA_GOST2012_256, CP_CRYPTOPRO_GOST2012_256},
    };
    std::printf("1 MiB, median of %d alternating runs, milliseconds\n", rounds);
    std::printf("%-40s %-8s %9s %9s %7s\n", "kinds", "op", "token", "CSP", "ratio");
    double worst = 0;
    int index = 0;
    for (const Row& row : rows) {
        const std::string tag = std::to_string(++index);
        Pair token = pairOf(row.token, tag);
        Pair csp = pairOf(row.csp, tag);
        Ops t = opsOf(token, data), c = opsOf(csp, data);
        const std::pair<const char*, std::function<void()> Ops::*> ops[] = {
            {"sign", &Ops::sign}, {"verify", &Ops::verify}, {"encrypt", &Ops::encrypt}, {"decrypt", &Ops::decrypt}};
        for (const auto& [name, member] : ops) {
            std::vector<double> tt, cc;
            (t.*member)();  // warm-up
            (c.*member)();
            for (int i = 0; i < rounds; ++i) {
                tt.push_back(millis(t.*member));
                cc.push_back(millis(c.*member));
            }
            const double ratio = median(tt) / median(cc);
            worst = std::max(worst, ratio);
            std::printf("%-40s %-8s %9.2f %9.2f %7.3f\n", row.name, name, median(tt), median(cc), ratio);
        }
    }
    std::printf("largest ratio: %.3f (target: 1.15 or less)\n", worst);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
