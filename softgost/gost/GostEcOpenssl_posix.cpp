#include "softgost/gost/GostEcOpenssl.h"

#include <openssl/bn.h>
#include <openssl/ec.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "softgost/gost/GostEc.h"

namespace plcsp {

namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct BnCtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
struct GroupFree {
    void operator()(EC_GROUP* g) const { EC_GROUP_free(g); }
};
struct EcPointFree {
    void operator()(EC_POINT* p) const { EC_POINT_clear_free(p); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;
using BnCtx = std::unique_ptr<BN_CTX, BnCtxFree>;
using Group = std::unique_ptr<EC_GROUP, GroupFree>;
using EcPoint = std::unique_ptr<EC_POINT, EcPointFree>;

Bn bnOfMpi(gcry_mpi_t m) {
    if (!m) {
        return nullptr;
    }
    std::vector<unsigned char> be((gcry_mpi_get_nbits(m) + 7) / 8 + 1);
    size_t written = 0;
    if (gcry_mpi_print(GCRYMPI_FMT_USG, be.data(), be.size(), &written, m)) {
        return nullptr;
    }
    return Bn(BN_bin2bn(be.data(), static_cast<int>(written), nullptr));
}

// One curve as an OpenSSL group, built once from libgcrypt's parameters
// and read-only afterwards, so sessions share it without a lock.
struct Curve {
    Group group;
    Bn order;
    Bn prime;
};

std::unique_ptr<Curve> buildCurve(const char* gcryName) {
    ensureGcrypt();
    gcry_ctx_t raw = nullptr;
    if (gcry_mpi_ec_new(&raw, nullptr, gcryName)) {
        return nullptr;
    }
    EcCtx ec(raw);
    Mpi gx(gcry_mpi_new(0)), gy(gcry_mpi_new(0));
    Point g(gcry_mpi_ec_get_point("g", ec.get(), 1));
    if (!g || gcry_mpi_ec_get_affine(gx.get(), gy.get(), g.get(), ec.get())) {
        return nullptr;
    }
    Mpi p(gcry_mpi_ec_get_mpi("p", ec.get(), 1)), a(gcry_mpi_ec_get_mpi("a", ec.get(), 1)),
        b(gcry_mpi_ec_get_mpi("b", ec.get(), 1)), n(gcry_mpi_ec_get_mpi("n", ec.get(), 1)),
        h(gcry_mpi_ec_get_mpi("h", ec.get(), 1));
    Bn bp = bnOfMpi(p.get()), ba = bnOfMpi(a.get()), bb = bnOfMpi(b.get()), bn = bnOfMpi(n.get()),
       bh = bnOfMpi(h.get()), bx = bnOfMpi(gx.get()), by = bnOfMpi(gy.get());
    BnCtx ctx(BN_CTX_new());
    if (!bp || !ba || !bb || !bn || !bh || !bx || !by || !ctx) {
        return nullptr;
    }
    auto curve = std::make_unique<Curve>();
    curve->group.reset(EC_GROUP_new_curve_GFp(bp.get(), ba.get(), bb.get(), ctx.get()));
    if (!curve->group) {
        return nullptr;
    }
    EcPoint gen(EC_POINT_new(curve->group.get()));
    // A curve libgcrypt keeps in another model would not put its generator
    // on this Weierstrass equation: such a curve stays with libgcrypt.
    if (!gen || !EC_POINT_set_affine_coordinates(curve->group.get(), gen.get(), bx.get(), by.get(), ctx.get()) ||
        !EC_GROUP_set_generator(curve->group.get(), gen.get(), bn.get(), bh.get()) ||
        !EC_GROUP_check(curve->group.get(), ctx.get())) {
        return nullptr;
    }
    curve->order = std::move(bn);
    curve->prime = std::move(bp);
    return curve;
}

const Curve* curveOf(const CurveInfo& info) {
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<Curve>> curves;  // null: not for OpenSSL
    std::lock_guard<std::mutex> lock(mutex);
    auto it = curves.find(info.gcryName);
    if (it == curves.end()) {
        it = curves.emplace(info.gcryName, buildCurve(info.gcryName)).first;
    }
    return it->second.get();
}

// e = the digest read little-endian, mod q; zero becomes one.
bool digestScalar(const unsigned char* digest, std::size_t n, const BIGNUM* order, BIGNUM* e, BN_CTX* ctx) {
    if (!BN_lebin2bn(digest, static_cast<int>(n), e) || !BN_nnmod(e, e, order, ctx)) {
        return false;
    }
    return !BN_is_zero(e) || BN_one(e);
}

// A secret scalar as a constant-time BIGNUM in secure memory.
Bn secretScalar(gcry_mpi_t k, std::size_t bytes) {
    SecureBytes be = privateToBytes(k, bytes);
    Bn bn(BN_secure_new());
    if (be.empty() || !bn || !BN_bin2bn(be.data(), static_cast<int>(bytes), bn.get())) {
        return nullptr;
    }
    BN_set_flags(bn.get(), BN_FLG_CONSTTIME);
    return bn;
}

// A raw point (LE(x) || LE(y)) of the curve; null when a coordinate is not
// below the field prime or the point is not on the curve.
EcPoint pointOfRaw(const Curve& curve, const unsigned char* raw, int c, BN_CTX* ctx) {
    Bn x(BN_lebin2bn(raw, c, nullptr)), y(BN_lebin2bn(raw + c, c, nullptr));
    EcPoint point(EC_POINT_new(curve.group.get()));
    // Setting the coordinates checks that the point lies on the curve.
    if (!x || !y || !point || BN_cmp(x.get(), curve.prime.get()) >= 0 || BN_cmp(y.get(), curve.prime.get()) >= 0 ||
        !EC_POINT_set_affine_coordinates(curve.group.get(), point.get(), x.get(), y.get(), ctx)) {
        return nullptr;
    }
    return point;
}

bool affineX(const Curve& curve, const EC_POINT* point, BIGNUM* x, BN_CTX* ctx) {
    return EC_POINT_get_affine_coordinates(curve.group.get(), point, x, nullptr, ctx) &&
           BN_nnmod(x, x, curve.order.get(), ctx);
}

}  // namespace

std::optional<bool> opensslMultiply(const CurveInfo& info, gcry_mpi_t k, const unsigned char* pointRaw,
                                    unsigned char* out) {
    const Curve* curve = curveOf(info);
    if (!curve) {
        return std::nullopt;
    }
    const int c = static_cast<int>(info.coordBytes);
    BnCtx ctx(BN_CTX_secure_new());
    Bn scalar = secretScalar(k, info.coordBytes);
    Bn x(BN_secure_new()), y(BN_secure_new());
    EcPoint result(EC_POINT_new(curve->group.get()));
    if (!ctx || !scalar || !x || !y || !result) {
        return false;
    }
    bool done = false;
    if (!pointRaw) {
        done = EC_POINT_mul(curve->group.get(), result.get(), scalar.get(), nullptr, nullptr, ctx.get());
    } else if (EcPoint point = pointOfRaw(*curve, pointRaw, c, ctx.get())) {
        done = EC_POINT_mul(curve->group.get(), result.get(), nullptr, point.get(), scalar.get(), ctx.get());
    }
    return done && EC_POINT_get_affine_coordinates(curve->group.get(), result.get(), x.get(), y.get(), ctx.get()) &&
           BN_bn2lebinpad(x.get(), out, c) == c && BN_bn2lebinpad(y.get(), out + c, c) == c;
}

std::optional<bool> opensslSign(const CurveInfo& info, gcry_mpi_t d, const unsigned char* digest,
                                std::size_t digestLen, unsigned char* sigOut) {
    const Curve* curve = curveOf(info);
    if (!curve) {
        return std::nullopt;
    }
    const std::size_t c = info.coordBytes;
    const BIGNUM* q = curve->order.get();
    BnCtx ctx(BN_CTX_secure_new());
    Bn dBn = secretScalar(d, c);
    Bn k(BN_secure_new()), s(BN_secure_new()), kh(BN_secure_new());
    Bn e(BN_new()), r(BN_new());
    EcPoint point(EC_POINT_new(curve->group.get()));
    if (!ctx || !dBn || !k || !s || !kh || !e || !r || !point ||
        !digestScalar(digest, digestLen, q, e.get(), ctx.get())) {
        return false;
    }
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (!BN_priv_rand_range_ex(k.get(), q, 0, ctx.get())) {
            return false;
        }
        if (BN_is_zero(k.get())) {
            continue;
        }
        // A secret scalar alone takes OpenSSL's constant-time ladder.
        BN_set_flags(k.get(), BN_FLG_CONSTTIME);
        if (!EC_POINT_mul(curve->group.get(), point.get(), k.get(), nullptr, nullptr, ctx.get()) ||
            !affineX(*curve, point.get(), r.get(), ctx.get())) {
            return false;
        }
        if (BN_is_zero(r.get())) {
            continue;
        }
        // s = (r·d + k·e) mod q
        if (!BN_mod_mul(s.get(), r.get(), dBn.get(), q, ctx.get()) ||
            !BN_mod_mul(kh.get(), k.get(), e.get(), q, ctx.get()) ||
            !BN_mod_add(s.get(), s.get(), kh.get(), q, ctx.get())) {
            return false;
        }
        if (BN_is_zero(s.get())) {
            continue;
        }
        const int n = static_cast<int>(c);
        return BN_bn2lebinpad(r.get(), sigOut, n) == n && BN_bn2lebinpad(s.get(), sigOut + c, n) == n;
    }
    return false;
}

std::optional<bool> opensslVerify(const CurveInfo& info, const unsigned char* pubRaw,
                                  const unsigned char* digest, std::size_t digestLen,
                                  const unsigned char* sig) {
    const Curve* curve = curveOf(info);
    if (!curve) {
        return std::nullopt;
    }
    const int c = static_cast<int>(info.coordBytes);
    const BIGNUM* q = curve->order.get();
    BnCtx ctx(BN_CTX_new());
    Bn r(BN_lebin2bn(sig, c, nullptr)), s(BN_lebin2bn(sig + c, c, nullptr));
    Bn e(BN_new()), v(BN_new()), z1(BN_new()), z2(BN_new()), rx(BN_new());
    EcPoint point(EC_POINT_new(curve->group.get()));
    if (!ctx || !r || !s || !e || !v || !z1 || !z2 || !rx || !point) {
        return false;
    }
    if (BN_is_zero(r.get()) || BN_is_zero(s.get()) || BN_cmp(r.get(), q) >= 0 || BN_cmp(s.get(), q) >= 0) {
        return false;
    }
    EcPoint key = pointOfRaw(*curve, pubRaw, c, ctx.get());
    if (!key || !digestScalar(digest, digestLen, q, e.get(), ctx.get()) ||
        !BN_mod_inverse(v.get(), e.get(), q, ctx.get())) {
        return false;
    }
    // C = z1·G + z2·Q with z1 = s/e, z2 = −r/e; both scalars are public, so
    // OpenSSL computes the sum in one joint multiplication.
    if (!BN_mod_mul(z1.get(), s.get(), v.get(), q, ctx.get()) ||
        !BN_mod_mul(z2.get(), r.get(), v.get(), q, ctx.get()) || !BN_mod_sub(z2.get(), q, z2.get(), q, ctx.get()) ||
        !EC_POINT_mul(curve->group.get(), point.get(), z1.get(), key.get(), z2.get(), ctx.get()) ||
        !affineX(*curve, point.get(), rx.get(), ctx.get())) {
        return false;
    }
    return BN_cmp(rx.get(), r.get()) == 0;
}

}  // namespace plcsp
