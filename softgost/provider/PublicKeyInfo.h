// GOST public keys of certificates (SubjectPublicKeyInfo) as the provider's
// PUBLICKEYBLOB, and the object identifiers that name the provider's
// algorithms in certificates. crypt32 on Windows imports a certificate's key
// through the provider DLL's CryptDllImportPublicKeyInfoEx, which uses this.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/wincrypt.h"

namespace plcsp {

// An object identifier of a GOST algorithm and the CryptoAPI algorithm
// number it stands for.
struct GostOid {
    const char* oid;
    ALG_ID algId;
    ALG_ID pubKeyAlg;  // signatures: the public key algorithm; 0 otherwise
    const wchar_t* name;
};

// Public key algorithms (1.2.643.2.2.19, 1.2.643.7.1.1.1.1/2), hashes and
// signature algorithms (hash with public key).
const std::vector<GostOid>& gostPublicKeyOids();
const std::vector<GostOid>& gostHashOids();
const std::vector<GostOid>& gostSignatureOids();

// The public key algorithm number of an SPKI algorithm OID; 0 when the OID
// is not a GOST public key algorithm.
ALG_ID pubKeyAlgOfOid(const std::string& oid);

// The PUBLICKEYBLOB of a GOST SubjectPublicKeyInfo: algOid and the DER of
// its parameters (SEQUENCE of parameter-set OIDs) with the BIT STRING's
// content (an OCTET STRING holding LE(x)||LE(y)). wantAlg, when not 0, must
// be the key's algorithm. Returns 0 or a CryptoAPI error number
// (NTE_BAD_ALGID for another algorithm, NTE_BAD_PUBLIC_KEY for a malformed
// key). Whether the point lies on the curve is checked by the import.
DWORD publicKeyBlobFromSpki(const std::string& algOid, const unsigned char* params, std::size_t paramsLen,
                            const unsigned char* key, std::size_t keyLen, unsigned unusedBits, ALG_ID wantAlg,
                            std::vector<unsigned char>& blob);

}  // namespace plcsp
