// Speed of packet protection with the software GOST provider: encrypt+sign
// and verify+decrypt of 10 MiB, beside the raw libgcrypt CFB (with key
// meshing) and hash over the same data, and signatures per second for each
// size class. Keys live in a temporary folder.
#include <benchmark/benchmark.h>
#include <gcrypt.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "crypto/Crypto1By1Connect.h"
#include "platform/memory.h"

using namespace qn::crypto;

namespace {

constexpr unsigned kPayload = 10u << 20;

struct Pair {
    std::unique_ptr<Crypto1By1Connect> alice;
    std::unique_ptr<Crypto1By1Connect> bob;
};

std::string& keyDir() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/pellamo-bench-XXXXXX";
        const char* d = mkdtemp(tmpl);
        std::string s = d ? d : "/tmp";
        setenv("PELLAMO_CSP_DIR", s.c_str(), 1);
        return s;
    }();
    return dir;
}

Pair& pairOf(eSupportCP kind) {
    static std::map<int, Pair> pairs;
    auto it = pairs.find(kind);
    if (it != pairs.end()) {
        return it->second;
    }
    keyDir();
    Pair p;
    Crypto1By1Connect* raw = nullptr;
    Crypto1By1Connect::create("alice" + std::to_string(kind), kind, &raw);
    p.alice.reset(raw);
    raw = nullptr;
    Crypto1By1Connect::create("bob" + std::to_string(kind), kind, &raw);
    p.bob.reset(raw);
    tesel::CBlob a, b;
    p.alice->getPublicKey(a);
    p.bob->getPublicKey(b);
    p.alice->importPublicKey2Side(b);
    p.bob->importPublicKey2Side(a);
    return pairs.emplace(kind, std::move(p)).first->second;
}

tesel::CBlob payload() {
    tesel::CBlob b(kPayload);
    for (unsigned i = 0; i < kPayload; ++i) b[i] = static_cast<unsigned char>(i * 7);
    return b;
}

void BM_ProtectEncryptSign(benchmark::State& state) {
    Pair& p = pairOf(static_cast<eSupportCP>(state.range(0)));
    const tesel::CBlob data = payload();
    for (auto _ : state) {
        tesel::CBlob message, packet;
        if (p.alice->encryptMessage(data, message) || p.alice->signMessage(message, packet)) {
            state.SkipWithError("protection failed");
            break;
        }
        benchmark::DoNotOptimize(packet.getData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPayload);
}

void BM_OpenVerifyDecrypt(benchmark::State& state) {
    Pair& p = pairOf(static_cast<eSupportCP>(state.range(0)));
    tesel::CBlob message, packet;
    p.alice->encryptMessage(payload(), message);
    p.alice->signMessage(message, packet);
    for (auto _ : state) {
        tesel::CBlob plain;
        if (p.bob->verifySignMessage(packet) || p.bob->decryptMessage(message, plain)) {
            state.SkipWithError("opening failed");
            break;
        }
        benchmark::DoNotOptimize(plain.getData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPayload);
}

// The floor: libgcrypt's CFB with meshing and the kind's hash, in place,
// without any format or API around them.
void BM_RawCipherAndHash(benchmark::State& state) {
    const bool is2001 = state.range(0) == CP_CRYPTOPRO;
    const int md = is2001 ? GCRY_MD_GOSTR3411_CP : (state.range(0) == CP_CRYPTOPRO_GOST2012_512 ? GCRY_MD_STRIBOG512
                                                                                                 : GCRY_MD_STRIBOG256);
    const char* sbox = is2001 ? "1.2.643.2.2.31.1" : "1.2.643.7.1.2.5.1.1";
    tesel::CBlob data = payload();
    unsigned char key[32] = {1, 2, 3}, iv[8] = {4, 5, 6};
    for (auto _ : state) {
        gcry_cipher_hd_t h = nullptr;
        gcry_cipher_open(&h, GCRY_CIPHER_GOST28147_MESH, GCRY_CIPHER_MODE_CFB, 0);
        gcry_cipher_setkey(h, key, 32);
        gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(sbox), 0);
        gcry_cipher_setiv(h, iv, 8);
        gcry_cipher_encrypt(h, data.getData(), kPayload, nullptr, 0);
        gcry_cipher_close(h);
        unsigned char digest[64];
        gcry_md_hash_buffer(md, digest, data.getData(), kPayload);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kPayload);
}

void BM_Sign(benchmark::State& state) {
    Pair& p = pairOf(static_cast<eSupportCP>(state.range(0)));
    const tesel::CBlob data(reinterpret_cast<const unsigned char*>("a short message to sign"), 23);
    for (auto _ : state) {
        tesel::CBlob out;
        p.alice->signMessage(data, out);
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_Verify(benchmark::State& state) {
    Pair& p = pairOf(static_cast<eSupportCP>(state.range(0)));
    const tesel::CBlob data(reinterpret_cast<const unsigned char*>("a short message to sign"), 23);
    tesel::CBlob signedData;
    p.alice->signMessage(data, signedData);
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.bob->verifySignMessage(signedData));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

#define KINDS Arg(CP_CRYPTOPRO)->Arg(CP_CRYPTOPRO_GOST2012_256)->Arg(CP_CRYPTOPRO_GOST2012_512)
BENCHMARK(BM_ProtectEncryptSign)->KINDS->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenVerifyDecrypt)->KINDS->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawCipherAndHash)->KINDS->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sign)->KINDS;
BENCHMARK(BM_Verify)->KINDS;

}  // namespace

int main(int argc, char** argv) {
    platform::tuneAllocatorForLargeMessages();  // as the program does
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(keyDir(), ec);
    return 0;
}
