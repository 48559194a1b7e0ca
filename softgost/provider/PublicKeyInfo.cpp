#include "softgost/provider/PublicKeyInfo.h"

#include <cstring>

#include "softgost/gost/GostParams.h"
#include "softgost/provider/CertParse.h"

namespace plcsp {

const std::vector<GostOid>& gostPublicKeyOids() {
    static const std::vector<GostOid> oids{
        {"1.2.643.2.2.19", CALG_GR3410EL, 0, L"GOST R 34.10-2001"},
        {"1.2.643.7.1.1.1.1", CALG_GR3410_12_256, 0, L"GOST R 34.10-2012 256 bit"},
        {"1.2.643.7.1.1.1.2", CALG_GR3410_12_512, 0, L"GOST R 34.10-2012 512 bit"},
    };
    return oids;
}

const std::vector<GostOid>& gostHashOids() {
    static const std::vector<GostOid> oids{
        {"1.2.643.2.2.9", CALG_GR3411, 0, L"GOST R 34.11-94"},
        {"1.2.643.7.1.1.2.2", CALG_GR3411_2012_256, 0, L"GOST R 34.11-2012 256 bit"},
        {"1.2.643.7.1.1.2.3", CALG_GR3411_2012_512, 0, L"GOST R 34.11-2012 512 bit"},
    };
    return oids;
}

const std::vector<GostOid>& gostSignatureOids() {
    static const std::vector<GostOid> oids{
        {"1.2.643.2.2.3", CALG_GR3411, CALG_GR3410EL, L"GOST R 34.11-94/34.10-2001"},
        {"1.2.643.7.1.1.3.2", CALG_GR3411_2012_256, CALG_GR3410_12_256, L"GOST R 34.11-2012/34.10-2012 256 bit"},
        {"1.2.643.7.1.1.3.3", CALG_GR3411_2012_512, CALG_GR3410_12_512, L"GOST R 34.11-2012/34.10-2012 512 bit"},
    };
    return oids;
}

ALG_ID pubKeyAlgOfOid(const std::string& oid) {
    for (const auto& o : gostPublicKeyOids()) {
        if (oid == o.oid) {
            return o.algId;
        }
    }
    return 0;
}

DWORD publicKeyBlobFromSpki(const std::string& algOid, const unsigned char* params, std::size_t paramsLen,
                            const unsigned char* key, std::size_t keyLen, unsigned unusedBits, ALG_ID wantAlg,
                            std::vector<unsigned char>& blob) {
    const ALG_ID alg = pubKeyAlgOfOid(algOid);
    if (alg == 0 || (wantAlg != 0 && wantAlg != alg)) {
        return NTE_BAD_ALGID;
    }
    const KeyClassInfo* cls = classOfPubKeyAlg(alg);
    std::vector<std::string> oids;
    Bytes value;
    if (!cls || !params || !key || unusedBits != 0 || !parseOidSequence(params, paramsLen, oids) ||
        !gostKeyValue(Bytes(key, key + keyLen), value) || value.size() != cls->bits / 8) {
        return NTE_BAD_PUBLIC_KEY;
    }
    const std::size_t fixed = 16;
    blob.assign(fixed + paramsLen + value.size(), 0);
    blob[0] = PUBLICKEYBLOB;
    blob[1] = 0x20;
    const std::uint32_t words[3] = {alg, GR3410_1_MAGIC, cls->bits};
    for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < 4; ++i) {
            blob[4 + 4 * w + i] = static_cast<unsigned char>(words[w] >> (8 * i));
        }
    }
    std::memcpy(&blob[fixed], params, paramsLen);
    std::memcpy(&blob[fixed + paramsLen], value.data(), value.size());
    return 0;
}

}  // namespace plcsp
