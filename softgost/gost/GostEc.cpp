#include "softgost/gost/GostEc.h"

#include "softgost/gost/GostEcOpenssl.h"

#include <algorithm>
#include <cstring>

namespace plcsp {

namespace {

EcCtx curveCtx(const CurveInfo& curve) {
    ensureGcrypt();
    gcry_ctx_t ctx = nullptr;
    if (gcry_mpi_ec_new(&ctx, nullptr, curve.gcryName)) {
        return nullptr;
    }
    return EcCtx(ctx);
}

// Unsigned big-endian bytes of m, left-padded to n; false if m is longer.
bool mpiToBe(gcry_mpi_t m, unsigned char* out, std::size_t n) {
    size_t written = 0;
    if (gcry_mpi_print(GCRYMPI_FMT_USG, nullptr, 0, &written, m)) {
        return false;
    }
    if (written > n) {
        return false;
    }
    std::memset(out, 0, n);
    if (written == 0) {
        return true;
    }
    return gcry_mpi_print(GCRYMPI_FMT_USG, out + (n - written), written, nullptr, m) == 0;
}

Mpi mpiFromBe(const unsigned char* p, std::size_t n) {
    gcry_mpi_t m = nullptr;
    if (gcry_mpi_scan(&m, GCRYMPI_FMT_USG, p, n, nullptr)) {
        return nullptr;
    }
    return Mpi(m);
}

Mpi mpiFromLe(const unsigned char* p, std::size_t n) {
    std::vector<unsigned char> be(p, p + n);
    std::reverse(be.begin(), be.end());
    return mpiFromBe(be.data(), n);
}

bool pointToRaw(gcry_mpi_point_t pt, gcry_ctx_t ctx, std::size_t coord, unsigned char* raw) {
    Mpi x(gcry_mpi_new(0)), y(gcry_mpi_new(0));
    if (gcry_mpi_ec_get_affine(x.get(), y.get(), pt, ctx)) {
        return false;  // point at infinity
    }
    if (!mpiToBe(x.get(), raw, coord) || !mpiToBe(y.get(), raw + coord, coord)) {
        return false;
    }
    std::reverse(raw, raw + coord);
    std::reverse(raw + coord, raw + 2 * coord);
    return true;
}

Point pointFromRaw(const unsigned char* raw, std::size_t coord) {
    Mpi x = mpiFromLe(raw, coord), y = mpiFromLe(raw + coord, coord);
    if (!x || !y) {
        return nullptr;
    }
    Mpi one(gcry_mpi_set_ui(nullptr, 1));
    return Point(gcry_mpi_point_set(nullptr, x.get(), y.get(), one.get()));
}

Sexp publicKeySexp(const CurveInfo& curve, const unsigned char* raw) {
    const std::size_t c = curve.coordBytes;
    std::vector<unsigned char> q(1 + 2 * c);
    q[0] = 0x04;
    std::reverse_copy(raw, raw + c, q.begin() + 1);
    std::reverse_copy(raw + c, raw + 2 * c, q.begin() + 1 + static_cast<long>(c));
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(public-key(ecc(curve %s)(q %b)))", curve.gcryName,
                        static_cast<int>(q.size()), q.data())) {
        return nullptr;
    }
    return Sexp(s);
}

Sexp digestSexp(const unsigned char* digest, std::size_t n) {
    std::vector<unsigned char> rev(digest, digest + n);
    std::reverse(rev.begin(), rev.end());
    gcry_sexp_t s = nullptr;
    if (gcry_sexp_build(&s, nullptr, "(data(flags gost)(value %b))", static_cast<int>(n),
                        rev.data())) {
        return nullptr;
    }
    return Sexp(s);
}

Mpi sexpMpi(gcry_sexp_t s, const char* token) {
    gcry_sexp_t t = gcry_sexp_find_token(s, token, 0);
    if (!t) {
        return nullptr;
    }
    Sexp holder(t);
    return Mpi(gcry_sexp_nth_mpi(t, 1, GCRYMPI_FMT_USG));
}

}  // namespace

Mpi privateFromBytes(const unsigned char* be, std::size_t n) {
    ensureGcrypt();
    SecureBytes buf(n);  // scanning from secure memory gives a secure MPI
    std::memcpy(buf.data(), be, n);
    return mpiFromBe(buf.data(), n);
}

SecureBytes privateToBytes(gcry_mpi_t d, std::size_t n) {
    SecureBytes out(n);
    if (!mpiToBe(d, out.data(), n)) {
        return SecureBytes();
    }
    return out;
}

bool ecPublicFromPrivate(const CurveInfo& curve, gcry_mpi_t d, std::vector<unsigned char>& pubRaw) {
    pubRaw.assign(2 * curve.coordBytes, 0);
    if (auto done = opensslMultiply(curve, d, nullptr, pubRaw.data())) {
        return *done;
    }
    EcCtx ctx = curveCtx(curve);
    if (!ctx) {
        return false;
    }
    Point g(gcry_mpi_ec_get_point("g", ctx.get(), 1));
    Point q(gcry_mpi_point_new(0));
    if (!g || !q) {
        return false;
    }
    gcry_mpi_ec_mul(q.get(), d, g.get(), ctx.get());
    return pointToRaw(q.get(), ctx.get(), curve.coordBytes, pubRaw.data());
}

bool ecGenerate(const CurveInfo& curve, Mpi& d, std::vector<unsigned char>& pubRaw) {
    EcCtx ctx = curveCtx(curve);
    if (!ctx) {
        return false;
    }
    Mpi n(gcry_mpi_ec_get_mpi("n", ctx.get(), 1));
    if (!n) {
        return false;
    }
    const unsigned nbits = gcry_mpi_get_nbits(n.get());
    Mpi k(gcry_mpi_snew(nbits + 64));
    for (int attempt = 0; attempt < 16; ++attempt) {
        // 64 extra bits make the reduction's bias negligible.
        gcry_mpi_randomize(k.get(), nbits + 64, GCRY_VERY_STRONG_RANDOM);
        gcry_mpi_mod(k.get(), k.get(), n.get());
        if (gcry_mpi_cmp_ui(k.get(), 0) != 0) {
            if (!ecPublicFromPrivate(curve, k.get(), pubRaw)) {
                return false;
            }
            d = std::move(k);
            return true;
        }
    }
    return false;
}

bool ecCheckPublic(const CurveInfo& curve, const unsigned char* raw, std::size_t n) {
    const std::size_t c = curve.coordBytes;
    if (!raw || n != 2 * c) {
        return false;
    }
    EcCtx ctx = curveCtx(curve);
    if (!ctx) {
        return false;
    }
    Mpi p(gcry_mpi_ec_get_mpi("p", ctx.get(), 1));
    Mpi x = mpiFromLe(raw, c), y = mpiFromLe(raw + c, c);
    if (!p || !x || !y || gcry_mpi_cmp(x.get(), p.get()) >= 0 || gcry_mpi_cmp(y.get(), p.get()) >= 0) {
        return false;
    }
    Point q = pointFromRaw(raw, c);
    return q && gcry_mpi_ec_curve_point(q.get(), ctx.get()) != 0;
}

bool ecSignGcrypt(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* digest, std::size_t digestLen,
                  unsigned char* sigOut) {
    ensureGcrypt();
    gcry_sexp_t key = nullptr;
    if (gcry_sexp_build(&key, nullptr, "(private-key(ecc(curve %s)(d %m)))", curve.gcryName, d)) {
        return false;
    }
    Sexp keyHolder(key);
    Sexp data = digestSexp(digest, digestLen);
    if (!data) {
        return false;
    }
    gcry_sexp_t sig = nullptr;
    if (gcry_pk_sign(&sig, data.get(), key)) {
        return false;
    }
    Sexp sigHolder(sig);
    Mpi r = sexpMpi(sig, "r"), s = sexpMpi(sig, "s");
    const std::size_t c = curve.coordBytes;
    if (!r || !s || !mpiToBe(r.get(), sigOut, c) || !mpiToBe(s.get(), sigOut + c, c)) {
        return false;
    }
    std::reverse(sigOut, sigOut + c);
    std::reverse(sigOut + c, sigOut + 2 * c);
    return true;
}

bool ecVerifyGcrypt(const CurveInfo& curve, const unsigned char* pubRaw, const unsigned char* digest,
                    std::size_t digestLen, const unsigned char* sig) {
    Sexp key = publicKeySexp(curve, pubRaw);
    Sexp data = digestSexp(digest, digestLen);
    if (!key || !data) {
        return false;
    }
    const std::size_t c = curve.coordBytes;
    std::vector<unsigned char> r(sig, sig + c), s(sig + c, sig + 2 * c);
    std::reverse(r.begin(), r.end());
    std::reverse(s.begin(), s.end());
    gcry_sexp_t sv = nullptr;
    if (gcry_sexp_build(&sv, nullptr, "(sig-val(gost(r %b)(s %b)))", static_cast<int>(c), r.data(),
                        static_cast<int>(c), s.data())) {
        return false;
    }
    Sexp svHolder(sv);
    return gcry_pk_verify(sv, data.get(), key.get()) == 0;
}

bool ecSign(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* digest, std::size_t digestLen,
            unsigned char* sigOut) {
    if (auto done = opensslSign(curve, d, digest, digestLen, sigOut)) {
        return *done;
    }
    return ecSignGcrypt(curve, d, digest, digestLen, sigOut);
}

bool ecVerify(const CurveInfo& curve, const unsigned char* pubRaw, const unsigned char* digest,
              std::size_t digestLen, const unsigned char* sig) {
    if (auto done = opensslVerify(curve, pubRaw, digest, digestLen, sig)) {
        return *done;
    }
    return ecVerifyGcrypt(curve, pubRaw, digest, digestLen, sig);
}

bool ecVkoStatic(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* peerRaw, SecureBytes& staticRaw) {
    EcCtx ctx = curveCtx(curve);
    if (!ctx) {
        return false;
    }
    Mpi n(gcry_mpi_ec_get_mpi("n", ctx.get(), 1));
    if (!n) {
        return false;
    }
    Mpi k(gcry_mpi_snew(gcry_mpi_get_nbits(n.get())));
    Mpi h(gcry_mpi_set_ui(nullptr, curve.cofactor > 1 ? curve.cofactor : 1));
    gcry_mpi_mulm(k.get(), d, h.get(), n.get());
    SecureBytes out(2 * curve.coordBytes);
    if (auto done = opensslMultiply(curve, k.get(), peerRaw, out.data())) {
        if (!*done) {
            return false;
        }
    } else {
        Point q = pointFromRaw(peerRaw, curve.coordBytes);
        // A point off the curve would leak d through the multiplication.
        if (!q || !gcry_mpi_ec_curve_point(q.get(), ctx.get())) {
            return false;
        }
        Point r(gcry_mpi_point_new(0));
        gcry_mpi_ec_mul(r.get(), k.get(), q.get(), ctx.get());
        if (!pointToRaw(r.get(), ctx.get(), curve.coordBytes, out.data())) {
            return false;
        }
    }
    staticRaw = std::move(out);
    return true;
}

bool ecVkoWithStatic(const CurveInfo& curve, const unsigned char* staticRaw, const unsigned char ukm[8],
                     int gcryHashAlgo, unsigned char* kek) {
    EcCtx ctx = curveCtx(curve);
    if (!ctx) {
        return false;
    }
    Point s = pointFromRaw(staticRaw, curve.coordBytes);
    // The UKM is public (it travels with the message): an ordinary MPI, so
    // the multiplication runs over its 64 bits only.
    Mpi u = mpiFromLe(ukm, 8);
    if (!s || !u) {
        return false;
    }
    if (gcry_mpi_cmp_ui(u.get(), 0) == 0) {
        gcry_mpi_set_ui(u.get(), 1);
    }
    Point r(gcry_mpi_point_new(0));
    gcry_mpi_ec_mul(r.get(), u.get(), s.get(), ctx.get());
    const std::size_t c = curve.coordBytes;
    SecureBytes xy(2 * c);
    if (!pointToRaw(r.get(), ctx.get(), c, xy.data())) {
        return false;
    }
    Md md;
    gcry_md_hd_t h = nullptr;
    if (gcry_md_open(&h, gcryHashAlgo, GCRY_MD_FLAG_SECURE)) {
        return false;
    }
    md.reset(h);
    gcry_md_write(h, xy.data(), xy.size());
    const unsigned char* out = gcry_md_read(h, gcryHashAlgo);
    if (!out || gcry_md_get_algo_dlen(gcryHashAlgo) != 32) {
        return false;
    }
    std::memcpy(kek, out, 32);
    return true;
}

bool ecVko(const CurveInfo& curve, gcry_mpi_t d, const unsigned char* peerRaw,
           const unsigned char ukm[8], int gcryHashAlgo, unsigned char* kek) {
    SecureBytes staticRaw;
    return ecVkoStatic(curve, d, peerRaw, staticRaw) &&
           ecVkoWithStatic(curve, staticRaw.data(), ukm, gcryHashAlgo, kek);
}

}  // namespace plcsp
