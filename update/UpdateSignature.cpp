#include "update/UpdateSignature.h"

#include <gcrypt.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/gcrypt_setup.h"

namespace qn::update {

namespace {

// CryptoPro A: a 256-bit parameter set of GOST R 34.10 that the 2012
// standard keeps.
constexpr const char* kCurve = "1.2.643.2.2.35.1";
constexpr unsigned kCoord = 32;

bool ensureGcrypt() {
    static bool ok = false;
    static std::once_flag once;
    std::call_once(once, [] { ok = plgcrypt::setUpGcrypt(); });
    return ok;
}

struct SexpDeleter {
    void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
using Sexp = std::unique_ptr<std::remove_pointer_t<gcry_sexp_t>, SexpDeleter>;
struct MpiDeleter {
    void operator()(gcry_mpi_t m) const { gcry_mpi_release(m); }
};
using Mpi = std::unique_ptr<std::remove_pointer_t<gcry_mpi_t>, MpiDeleter>;

// Streebog-256 over a stream of CBlob-encoded fields.
class Digest {
public:
    Digest() {
        if (ensureGcrypt()) gcry_md_open(&m_md, GCRY_MD_STRIBOG256, 0);
    }
    ~Digest() { gcry_md_close(m_md); }
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void u32(std::uint32_t v) {
        const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        bytes(b, 4);
    }
    void string(const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        bytes(reinterpret_cast<const unsigned char*>(s.data()), s.size());
    }
    void bytes(const unsigned char* p, std::size_t n) {
        if (m_md != nullptr && n > 0) gcry_md_write(m_md, p, n);
    }
    void finish(unsigned char out[kDigestSize]) {
        const unsigned char* d = m_md != nullptr ? gcry_md_read(m_md, GCRY_MD_STRIBOG256) : nullptr;
        // Without the library nothing verifies: a zero digest matches no
        // signature a key made, and signing is refused further on.
        if (d != nullptr) std::memcpy(out, d, kDigestSize);
        else std::memset(out, 0, kDigestSize);
    }

private:
    gcry_md_hd_t m_md = nullptr;
};

// libgcrypt reads the value big-endian; GOST reads the digest little-endian.
Sexp digestSexp(const unsigned char digest[kDigestSize]) {
    unsigned char rev[kDigestSize];
    std::reverse_copy(digest, digest + kDigestSize, rev);
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(data(flags gost)(value %b))", static_cast<int>(kDigestSize), rev))
        return nullptr;
    return Sexp(s);
}

Sexp publicKeySexp(const Bytes& publicKey) {
    if (publicKey.size() != kPublicKeySize) return nullptr;
    unsigned char q[1 + kPublicKeySize];
    q[0] = 0x04;
    std::reverse_copy(publicKey.begin(), publicKey.begin() + kCoord, q + 1);
    std::reverse_copy(publicKey.begin() + kCoord, publicKey.end(), q + 1 + kCoord);
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(public-key(ecc(curve %s)(q %b)))", kCurve, static_cast<int>(sizeof q), q))
        return nullptr;
    return Sexp(s);
}

// The private scalar, in secure memory, when it lies in [1, n-1].
Mpi privateScalar(const Bytes& privateKey, gcry_ctx_t ctx) {
    if (privateKey.size() != kPrivateKeySize) return nullptr;
    unsigned char* be = static_cast<unsigned char*>(gcry_malloc_secure(kPrivateKeySize));
    if (be == nullptr) return nullptr;
    std::reverse_copy(privateKey.begin(), privateKey.end(), be);
    gcry_mpi_t d = nullptr;
    const gcry_error_t err = gcry_mpi_scan(&d, GCRYMPI_FMT_USG, be, kPrivateKeySize, nullptr);
    gcry_free(be);  // secure memory is wiped when freed
    if (err) return nullptr;
    Mpi scalar(d);
    Mpi n(gcry_mpi_ec_get_mpi("n", ctx, 1));
    if (!n || gcry_mpi_cmp_ui(scalar.get(), 0) == 0 || gcry_mpi_cmp(scalar.get(), n.get()) >= 0) return nullptr;
    return scalar;
}

struct CtxDeleter {
    void operator()(gcry_ctx_t c) const { gcry_ctx_release(c); }
};
using Ctx = std::unique_ptr<std::remove_pointer_t<gcry_ctx_t>, CtxDeleter>;

Ctx curveContext() {
    if (!ensureGcrypt()) return nullptr;
    gcry_ctx_t ctx = nullptr;
    if (gcry_mpi_ec_new(&ctx, nullptr, kCurve)) return nullptr;
    return Ctx(ctx);
}

bool pointToPublicKey(gcry_mpi_point_t point, gcry_ctx_t ctx, Bytes& publicKey) {
    Mpi x(gcry_mpi_new(0)), y(gcry_mpi_new(0));
    if (gcry_mpi_ec_get_affine(x.get(), y.get(), point, ctx)) return false;
    publicKey.assign(kPublicKeySize, 0);
    for (int i = 0; i < 2; ++i) {
        unsigned char be[kCoord] = {};
        std::size_t written = 0;
        gcry_mpi_t v = i == 0 ? x.get() : y.get();
        const std::size_t bytes = (gcry_mpi_get_nbits(v) + 7) / 8;
        if (bytes > kCoord) return false;
        if (gcry_mpi_print(GCRYMPI_FMT_USG, be + (kCoord - bytes), bytes, &written, v)) return false;
        std::reverse_copy(be, be + kCoord, publicKey.begin() + i * kCoord);
    }
    return true;
}

}  // namespace

void partDigest(tesel::eQuorinType type, unsigned version, unsigned number, const std::string& name,
                const unsigned char* content, std::size_t size, unsigned char digest[kDigestSize]) {
    Digest d;
    d.string("update part of variant");
    d.u32(static_cast<std::uint32_t>(type));
    d.u32(version);
    d.u32(number);
    d.string(name);
    d.bytes(content, size);
    d.finish(digest);
}

void listDigest(tesel::eQuorinType type, unsigned version, const unsigned char* list, std::size_t size,
                unsigned char digest[kDigestSize]) {
    Digest d;
    d.string("update list of variant");
    d.u32(static_cast<std::uint32_t>(type));
    d.u32(version);
    d.bytes(list, size);
    d.finish(digest);
}

bool publicKeyOf(const Bytes& privateKey, Bytes& publicKey) {
    Ctx ctx = curveContext();
    if (!ctx) return false;
    Mpi d = privateScalar(privateKey, ctx.get());
    if (!d) return false;
    gcry_mpi_point_t g = gcry_mpi_ec_get_point("g", ctx.get(), 1);
    gcry_mpi_point_t q = gcry_mpi_point_new(0);
    gcry_mpi_ec_mul(q, d.get(), g, ctx.get());
    const bool ok = pointToPublicKey(q, ctx.get(), publicKey);
    gcry_mpi_point_release(q);
    gcry_mpi_point_release(g);
    return ok;
}

bool generateSigningKey(Bytes& privateKey, Bytes& publicKey) {
    Ctx ctx = curveContext();
    if (!ctx) return false;
    for (int attempt = 0; attempt < 16; ++attempt) {
        Bytes candidate(kPrivateKeySize);
        gcry_randomize(candidate.data(), candidate.size(), GCRY_VERY_STRONG_RANDOM);
        if (publicKeyOf(candidate, publicKey)) {
            privateKey = std::move(candidate);
            return true;
        }
    }
    return false;
}

bool signDigest(const Bytes& privateKey, const unsigned char digest[kDigestSize],
                unsigned char signature[kSignatureSize]) {
    Ctx ctx = curveContext();
    if (!ctx) return false;
    Mpi d = privateScalar(privateKey, ctx.get());
    Sexp data = digestSexp(digest);
    if (!d || !data) return false;
    gcry_sexp_t key = nullptr;
    if (gcry_sexp_build(&key, nullptr, "(private-key(ecc(curve %s)(d %m)))", kCurve, d.get())) return false;
    Sexp keyHolder(key);
    gcry_sexp_t sig = nullptr;
    if (gcry_pk_sign(&sig, data.get(), key)) return false;
    Sexp sigHolder(sig);
    for (int i = 0; i < 2; ++i) {
        Sexp token(gcry_sexp_find_token(sig, i == 0 ? "r" : "s", 0));
        if (!token) return false;
        Mpi v(gcry_sexp_nth_mpi(token.get(), 1, GCRYMPI_FMT_USG));
        if (!v) return false;
        const std::size_t bytes = (gcry_mpi_get_nbits(v.get()) + 7) / 8;
        if (bytes > kCoord) return false;
        unsigned char be[kCoord] = {};
        std::size_t written = 0;
        if (gcry_mpi_print(GCRYMPI_FMT_USG, be + (kCoord - bytes), bytes, &written, v.get())) return false;
        std::reverse_copy(be, be + kCoord, signature + i * kCoord);
    }
    return true;
}

// True when the key is a point of the curve with coordinates below p.
bool isCurvePoint(const Bytes& publicKey) {
    if (publicKey.size() != kPublicKeySize) return false;
    Ctx ctx = curveContext();
    if (!ctx) return false;
    unsigned char be[2][kCoord];
    std::reverse_copy(publicKey.begin(), publicKey.begin() + kCoord, be[0]);
    std::reverse_copy(publicKey.begin() + kCoord, publicKey.end(), be[1]);
    gcry_mpi_t x = nullptr, y = nullptr;
    if (gcry_mpi_scan(&x, GCRYMPI_FMT_USG, be[0], kCoord, nullptr)) return false;
    Mpi xs(x);
    if (gcry_mpi_scan(&y, GCRYMPI_FMT_USG, be[1], kCoord, nullptr)) return false;
    Mpi ys(y);
    Mpi p(gcry_mpi_ec_get_mpi("p", ctx.get(), 1));
    if (!p || gcry_mpi_cmp(x, p.get()) >= 0 || gcry_mpi_cmp(y, p.get()) >= 0) return false;
    Mpi one(gcry_mpi_set_ui(nullptr, 1));
    gcry_mpi_point_t q = gcry_mpi_point_set(nullptr, x, y, one.get());
    const bool on = gcry_mpi_ec_curve_point(q, ctx.get()) != 0;
    gcry_mpi_point_release(q);
    return on;
}

bool verifyDigest(const Bytes& publicKey, const unsigned char digest[kDigestSize],
                  const unsigned char signature[kSignatureSize]) {
    if (!ensureGcrypt() || !isCurvePoint(publicKey)) return false;
    Sexp key = publicKeySexp(publicKey);
    Sexp data = digestSexp(digest);
    if (!key || !data) return false;
    unsigned char r[kCoord], s[kCoord];
    std::reverse_copy(signature, signature + kCoord, r);
    std::reverse_copy(signature + kCoord, signature + kSignatureSize, s);
    gcry_sexp_t sv = nullptr;
    if (gcry_sexp_build(&sv, nullptr, "(sig-val(gost(r %b)(s %b)))", static_cast<int>(kCoord), r,
                        static_cast<int>(kCoord), s))
        return false;
    Sexp svHolder(sv);
    return gcry_pk_verify(sv, data.get(), key.get()) == 0;
}

}  // namespace qn::update
