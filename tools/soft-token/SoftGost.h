// GOST operations of the software token on the shared libgcrypt primitives,
// in PKCS#11 byte orders: private values and public coordinates
// little-endian (public value LE(x) || LE(y)), signatures BE(s) || BE(r).
#pragma once

#include <string>

#include "softgost/gost/GostEc.h"
#include "softgost/gost/GostParams.h"
#include "tools/soft-token/SoftToken.h"

namespace softtoken {

// The curve of a DER-encoded parameter-set OID; null when unknown.
const plcsp::CurveInfo* curveOfParams(const Bytes& der);
// The dotted OID of a DER OBJECT IDENTIFIER; empty when malformed.
std::string oidOfDer(const Bytes& der);

// libgcrypt hash of a digest mechanism (GOST R 34.11-94 with the parameter
// set OID in param, Streebog 256/512); 0 when the mechanism or its
// parameter is not one of ours.
int hashOfDigestMechanism(const CK_MECHANISM& m);
// The hash of a ..._WITH_... signature mechanism, 0 for others.
int hashOfSignMechanism(CK_MECHANISM_TYPE m);

bool generatePair(const plcsp::CurveInfo& curve, Bytes& privLe, Bytes& pub);
bool signDigest(const plcsp::CurveInfo& curve, const Bytes& privLe, const unsigned char* digest,
                std::size_t n, Bytes& sig);
bool verifyDigest(const plcsp::CurveInfo& curve, const Bytes& pub, const unsigned char* digest, std::size_t n,
                  const unsigned char* sig, std::size_t sigLen);
// VKO: 32 bytes, hashed with GOST R 34.11-94 (2001 keys) or Streebog-256.
bool vko(const plcsp::CurveInfo& curve, const Bytes& privLe, const unsigned char* peer, std::size_t peerLen,
         const unsigned char* ukm, bool gost2012, Bytes& kek);

}  // namespace softtoken
