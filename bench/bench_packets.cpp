// Speed of the transport packet protection: encryptAndSign at the sender and
// decryptPacket at the recipient, for a GOST 2001 and a GOST 2012 pair of
// keys and payloads of 1 KiB, 1 MiB and 9 MiB, beside the raw work the pair
// cannot avoid in the same run: libgcrypt's CFB with key meshing and the
// kind's hash, each done twice (encrypt + hash at the sender, hash + decrypt
// at the recipient). Keys live in a temporary folder.
#include <benchmark/benchmark.h>
#include <gcrypt.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "crypto/CACertStore.h"
#include "crypto/Crypto1By1Connect.h"
#include "platform/memory.h"
#include "server/dispatch/processPacket.h"
#include "transport/PacketProtection.h"
#include "transport/common/TransportHeader.h"

using namespace qn::crypto;
using tesel::CBlob;

namespace {

struct Pair {
    std::unique_ptr<Crypto1By1Connect> sender;
    std::unique_ptr<Crypto1By1Connect> recipient;
};

std::string& keyDir() {
    static std::string dir = [] {
        char tmpl[] = "/tmp/pellamo-bench-packets-XXXXXX";
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
    if (it != pairs.end()) return it->second;
    keyDir();
    Pair p;
    Crypto1By1Connect* raw = nullptr;
    Crypto1By1Connect::create("sender" + std::to_string(kind), kind, &raw);
    p.sender.reset(raw);
    raw = nullptr;
    Crypto1By1Connect::create("recipient" + std::to_string(kind), kind, &raw);
    p.recipient.reset(raw);
    CBlob a, b;
    p.sender->getPublicKey(a);
    p.recipient->getPublicKey(b);
    p.sender->importPublicKey2Side(b);
    p.recipient->importPublicKey2Side(a);
    return pairs.emplace(kind, std::move(p)).first->second;
}

CBlob payloadOf(unsigned size) {
    CBlob b(size);
    for (unsigned i = 0; i < size; ++i) b[i] = static_cast<unsigned char>(i * 7 + 3);
    return b;
}

void BM_EncryptAndSignThenDecryptPacket(benchmark::State& state) {
    const auto kind = static_cast<eSupportCP>(state.range(0));
    const auto size = static_cast<unsigned>(state.range(1));
    Pair& p = pairOf(kind);
    const CBlob payload = payloadOf(size);
    for (auto _ : state) {
        CBlob packet;
        if (qn::http_transport::encryptAndSign(payload, *p.sender, packet) != 0) {
            state.SkipWithError("encryptAndSign failed");
            break;
        }
        qn::http_transport::KeyExchangeHeader header;
        if (qn::http_transport::readCryptoHeader(packet, header) != 0 ||
            qn::http_transport::decryptPacket(packet, *p.recipient) != 0) {
            state.SkipWithError("decryptPacket failed");
            break;
        }
        benchmark::DoNotOptimize(packet.getData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

// The floor: CFB with meshing and the kind's hash, twice, in place, with
// nothing around them.
void BM_RawCipherAndHashTwice(benchmark::State& state) {
    const auto kind = static_cast<eSupportCP>(state.range(0));
    const auto size = static_cast<unsigned>(state.range(1));
    const bool is2001 = kind == CP_CRYPTOPRO;
    const int md = is2001 ? GCRY_MD_GOSTR3411_CP
                          : kind == CP_CRYPTOPRO_GOST2012_512 ? GCRY_MD_STRIBOG512 : GCRY_MD_STRIBOG256;
    const char* sbox = is2001 ? "1.2.643.2.2.31.1" : "1.2.643.7.1.2.5.1.1";
    CBlob data = payloadOf(size);
    unsigned char key[32] = {1, 2, 3}, iv[8] = {4, 5, 6};
    auto cfb = [&](bool encrypt) {
        gcry_cipher_hd_t h = nullptr;
        gcry_cipher_open(&h, GCRY_CIPHER_GOST28147_MESH, GCRY_CIPHER_MODE_CFB, 0);
        gcry_cipher_setkey(h, key, 32);
        gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(sbox), 0);
        gcry_cipher_setiv(h, iv, 8);
        if (encrypt) {
            gcry_cipher_encrypt(h, data.getData(), size, nullptr, 0);
        } else {
            gcry_cipher_decrypt(h, data.getData(), size, nullptr, 0);
        }
        gcry_cipher_close(h);
    };
    for (auto _ : state) {
        unsigned char digest[64];
        cfb(true);
        gcry_md_hash_buffer(md, digest, data.getData(), size);
        gcry_md_hash_buffer(md, digest, data.getData(), size);
        cfb(false);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

// Two of the user's keys prepared for the CA exchange (as command 150
// prepares them), so that command 110 protects a packet from one to the
// other and command 112 opens it again. A 2001 packet carries no recipient
// and is opened with the store's first key: it is sent to that one.
struct CommandKeys {
    tesel::CBlob header;  // key exchange header for 110: sender = peer, recipient = user
};

CommandKeys& commandKeys(eSupportCP kind) {
    static std::map<int, CommandKeys> keys;
    auto it = keys.find(kind);
    if (it != keys.end()) return it->second;
    keyDir();
    tesel::CBlob blobs[2];
    ControllerCACrypto* modules[2] = {};
    for (int i = 0; i < 2; ++i) {
        Crypto1By1Connect* raw = nullptr;
        Crypto1By1Connect::create("command" + std::to_string(kind) + "-" + std::to_string(i), kind, &raw);
        raw->getPublicKey(blobs[i]);
        modules[i] = &getCryptoModule(blobs[i]);
        modules[i]->setCrypto(raw);
    }
    // The peer is the store's first key when it is one of the two.
    const int peer = CACertStore::instance().firstCryptoModule() == modules[0] ? 0 : 1;
    qn::http_transport::KeyExchangeHeader h;
    h.senderPublicKey = blobs[peer];
    h.recipientPublicKey = blobs[1 - peer];
    CommandKeys k;
    h >> k.header;
    return keys.emplace(kind, std::move(k)).first->second;
}

tesel::CBlob request(unsigned command, std::initializer_list<const tesel::CBlob*> blobs) {
    unsigned size = 4 + 1 + 8;
    for (const tesel::CBlob* b : blobs) size += tesel::CBlob::sizeOf(*b);
    tesel::CBlob r(size);
    r.serialize(std::string("b"));
    r.serialize(1u);
    r.serialize(command);
    for (const tesel::CBlob* b : blobs) r.serialize(b);
    r.moveOffset(0);
    return r;
}

// The result and the blob behind the reply header (uid "b").
unsigned replyBlob(tesel::CBlob& reply, tesel::CBlob& out) {
    reply.moveOffset(4 + 1 + 8);
    unsigned result = 1;
    reply.deserialize(result);
    reply.deserialize(&out);
    return reply.isMalformed() ? 1 : result;
}

// Commands 110 and 112 through the command table: the payload protected for
// the peer and opened again.
void BM_Commands110Then112(benchmark::State& state) {
    const auto kind = static_cast<eSupportCP>(state.range(0));
    const auto size = static_cast<unsigned>(state.range(1));
    CommandKeys& k = commandKeys(kind);
    const CBlob payload = payloadOf(size);
    const CBlob encryptRequest = request(110, {&k.header, &payload});
    for (auto _ : state) {
        // Only the two commands are measured: the request messages are what
        // the service receives, and reading the replies is the page's work.
        state.PauseTiming();
        CBlob in = encryptRequest;
        in.moveOffset(0);
        state.ResumeTiming();
        CBlob reply;
        processPacket(in, reply);
        state.PauseTiming();
        CBlob packet;
        if (replyBlob(reply, packet) != 0) {
            state.SkipWithError("command 110 failed");
            break;
        }
        CBlob openRequest = request(112, {&packet});
        state.ResumeTiming();
        CBlob opened;
        processPacket(openRequest, opened);
        state.PauseTiming();
        CBlob plain;
        if (replyBlob(opened, plain) != 0 || plain.getSize() != size) {
            state.SkipWithError("command 112 failed");
            break;
        }
        benchmark::DoNotOptimize(plain.getData());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

void sizesAndKinds(benchmark::internal::Benchmark* b) {
    for (int kind : {CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256, CP_CRYPTOPRO_GOST2012_512})
        for (int size : {1 << 10, 1 << 20, 9 << 20}) b->Args({kind, size});
}

void commandSizesAndKinds(benchmark::internal::Benchmark* b) {
    for (int kind : {CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256, CP_CRYPTOPRO_GOST2012_512})
        for (int size : {1 << 20, 9 << 20}) b->Args({kind, size});
}

BENCHMARK(BM_EncryptAndSignThenDecryptPacket)->Apply(sizesAndKinds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Commands110Then112)->Apply(commandSizesAndKinds)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawCipherAndHashTwice)->Apply(sizesAndKinds)->Unit(benchmark::kMillisecond);

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
