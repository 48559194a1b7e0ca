#include "tools/soft-token/SoftGost.h"

#include <algorithm>

namespace softtoken {

namespace {

plcsp::Mpi privateMpi(const Bytes& le) {
    Bytes be(le.rbegin(), le.rend());
    return plcsp::privateFromBytes(be.data(), be.size());
}

}  // namespace

std::string oidOfDer(const Bytes& der) {
    plcsp::DerTlv tlv;
    if (!plcsp::readTlv(der.data(), der.size(), tlv) || tlv.tag != 0x06 ||
        tlv.headerLength + tlv.length != der.size()) {
        return {};
    }
    return plcsp::oidText(tlv.content, tlv.length);
}

const plcsp::CurveInfo* curveOfParams(const Bytes& der) {
    const std::string oid = oidOfDer(der);
    return oid.empty() ? nullptr : plcsp::curveOfOid(oid);
}

int hashOfDigestMechanism(const CK_MECHANISM& m) {
    const Bytes param(static_cast<const unsigned char*>(m.pParameter),
                      static_cast<const unsigned char*>(m.pParameter) + (m.pParameter ? m.ulParameterLen : 0));
    const std::string oid = param.empty() ? std::string() : oidOfDer(param);
    if (!param.empty() && oid.empty()) {
        return 0;
    }
    switch (m.mechanism) {
        case CKM_GOSTR3411:
            if (oid.empty() || oid == "1.2.643.2.2.30.1") {
                return GCRY_MD_GOSTR3411_CP;
            }
            return oid == "1.2.643.2.2.30.0" ? GCRY_MD_GOSTR3411_94 : 0;
        case CKM_GOSTR3411_12_256:
            return GCRY_MD_STRIBOG256;
        case CKM_GOSTR3411_12_512:
            return GCRY_MD_STRIBOG512;
        default:
            return 0;
    }
}

int hashOfSignMechanism(CK_MECHANISM_TYPE m) {
    switch (m) {
        case CKM_GOSTR3410_WITH_GOSTR3411:
            return GCRY_MD_GOSTR3411_CP;
        case CKM_GOSTR3410_WITH_GOSTR3411_12_256:
            return GCRY_MD_STRIBOG256;
        case CKM_GOSTR3410_WITH_GOSTR3411_12_512:
            return GCRY_MD_STRIBOG512;
        default:
            return 0;
    }
}

bool generatePair(const plcsp::CurveInfo& curve, Bytes& privLe, Bytes& pub) {
    plcsp::Mpi d;
    if (!plcsp::ecGenerate(curve, d, pub)) {
        return false;
    }
    const plcsp::SecureBytes be = plcsp::privateToBytes(d.get(), curve.coordBytes);
    if (be.size() != curve.coordBytes) {
        return false;
    }
    privLe.assign(be.data(), be.data() + be.size());
    std::reverse(privLe.begin(), privLe.end());
    return true;
}

bool signDigest(const plcsp::CurveInfo& curve, const Bytes& privLe, const unsigned char* digest,
                std::size_t n, Bytes& sig) {
    plcsp::Mpi d = privateMpi(privLe);
    sig.assign(2 * curve.coordBytes, 0);
    if (!d || !plcsp::ecSign(curve, d.get(), digest, n, sig.data())) {
        return false;
    }
    std::reverse(sig.begin(), sig.end());  // LE(r) || LE(s) -> BE(s) || BE(r)
    return true;
}

bool verifyDigest(const plcsp::CurveInfo& curve, const Bytes& pub, const unsigned char* digest, std::size_t n,
                  const unsigned char* sig, std::size_t sigLen) {
    if (sigLen != 2 * curve.coordBytes || pub.size() != 2 * curve.coordBytes) {
        return false;
    }
    Bytes cryptoApiOrder(sig, sig + sigLen);
    std::reverse(cryptoApiOrder.begin(), cryptoApiOrder.end());
    return plcsp::ecVerify(curve, pub.data(), digest, n, cryptoApiOrder.data());
}

bool vko(const plcsp::CurveInfo& curve, const Bytes& privLe, const unsigned char* peer, std::size_t peerLen,
         const unsigned char* ukm, bool gost2012, Bytes& kek) {
    if (peerLen != 2 * curve.coordBytes || !plcsp::ecCheckPublic(curve, peer, peerLen)) {
        return false;
    }
    plcsp::Mpi d = privateMpi(privLe);
    kek.assign(32, 0);
    return d && plcsp::ecVko(curve, d.get(), peer, ukm, gost2012 ? GCRY_MD_STRIBOG256 : GCRY_MD_GOSTR3411_CP,
                             kek.data());
}

}  // namespace softtoken
