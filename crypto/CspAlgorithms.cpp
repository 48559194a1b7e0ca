#include "crypto/CspAlgorithms.h"

namespace qn::crypto {

namespace {

enum class SizeClass { None, G2001, G2012_256, G2012_512 };

SizeClass classOf(eSupportCP kind) {
    switch (kind) {
        case CP_JACARTA_GOST:
        case CP_RUTOKEN_GOST:
        case CP_VIPNET:
        case CP_CRYPTOPRO:
            return SizeClass::G2001;
        case CP_JACARTA_GOST2012_256:
        case CP_RUTOKEN_GOST2012_256:
        case CP_VIPNET_GOST2012_256:
        case CP_CRYPTOPRO_GOST2012_256:
            return SizeClass::G2012_256;
        case CP_JACARTA_GOST2012_512:
        case CP_RUTOKEN_GOST2012_512:
        case CP_VIPNET_GOST2012_512:
        case CP_CRYPTOPRO_GOST2012_512:
            return SizeClass::G2012_512;
        default:
            return SizeClass::None;
    }
}

// One row per size class: 2001, 2012/256, 2012/512.
const char* pick(eSupportCP kind, const char* g2001, const char* g256, const char* g512) {
    switch (classOf(kind)) {
        case SizeClass::G2001:
            return g2001;
        case SizeClass::G2012_256:
            return g256;
        case SizeClass::G2012_512:
            return g512;
        default:
            return "";
    }
}

constexpr unsigned kNone = 0xFFFFFFFFu;

}  // namespace

std::string get_PUBKEY_ALG_OID(eSupportCP kind) {
    return pick(kind, "1.2.643.2.2.19", "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.1.2");
}

std::string get_SIGN_ALG_OID(eSupportCP kind) {
    return pick(kind, "1.2.643.2.2.3", "1.2.643.7.1.1.3.2", "1.2.643.7.1.1.3.3");
}

std::string get_ENCRYPT_ALG_OID(eSupportCP kind) {
    return pick(kind, "1.2.643.2.2.21", "1.2.643.7.1.1.5.2", "1.2.643.7.1.1.5.2");
}

std::string get_28147_ALG_OID(eSupportCP kind) {
    return pick(kind, "1.2.643.2.2.31.1", "1.2.643.7.1.2.5.1.1", "1.2.643.7.1.2.5.1.1");
}

std::string get_HASH_PARAM_SET_ALG_OID(eSupportCP kind) {
    return pick(kind, "1.2.643.2.2.30.1", "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.3");
}

std::string get_SIGN_PARAM_SET_ALG_OID(eSupportCP kind) {
    return pick(kind, "1.2.643.2.2.35.1", "1.2.643.2.2.36.0", "1.2.643.7.1.2.1.2.1");
}

int getPubKeyAlgId(eSupportCP kind) {
    switch (classOf(kind)) {
        case SizeClass::G2001:
            return 0x2E23;
        case SizeClass::G2012_256:
            return 0x2E49;
        case SizeClass::G2012_512:
            return 0x2E3D;
        default:
            return -1;
    }
}

unsigned getPubKeySize(eSupportCP kind) {
    switch (classOf(kind)) {
        case SizeClass::G2001:
        case SizeClass::G2012_256:
            return 512;
        case SizeClass::G2012_512:
            return 1024;
        default:
            return 0;
    }
}

unsigned getSignSize(eSupportCP kind) {
    switch (classOf(kind)) {
        case SizeClass::G2001:
        case SizeClass::G2012_256:
            return 64;
        case SizeClass::G2012_512:
            return 128;
        default:
            return 0;
    }
}

eGostCrypto getGostCrypto(eSupportCP kind) {
    switch (classOf(kind)) {
        case SizeClass::G2001:
            return GOST_2001;
        case SizeClass::G2012_256:
        case SizeClass::G2012_512:
            return GOST_2012;
        default:
            return GOST_UNKNOWN;
    }
}

unsigned getHashAlgId(eSupportCP kind) {
    switch (kind) {
        case CP_JACARTA_GOST:
        case CP_RUTOKEN_GOST:
            return 0x1210;  // CKM_GOSTR3411
        case CP_JACARTA_GOST2012_256:
        case CP_RUTOKEN_GOST2012_256:
            return 0xD4321012;  // CKM_GOSTR3411_12_256
        case CP_JACARTA_GOST2012_512:
        case CP_RUTOKEN_GOST2012_512:
            return 0xD4321013;  // CKM_GOSTR3411_12_512
        case CP_VIPNET:
        case CP_CRYPTOPRO:
            return 0x801E;  // CALG_GR3411
        case CP_VIPNET_GOST2012_256:
        case CP_CRYPTOPRO_GOST2012_256:
            return 0x8021;  // CALG_GR3411_2012_256
        case CP_VIPNET_GOST2012_512:
        case CP_CRYPTOPRO_GOST2012_512:
            return 0x8022;  // CALG_GR3411_2012_512
        default:
            return kNone;
    }
}

unsigned getSignAlgId(eSupportCP kind) {
    switch (kind) {
        case CP_JACARTA_GOST:
        case CP_RUTOKEN_GOST:
            return 0x1202;  // CKM_GOSTR3410_WITH_GOSTR3411
        case CP_JACARTA_GOST2012_256:
        case CP_RUTOKEN_GOST2012_256:
            return 0xD4321008;  // CKM_GOSTR3410_WITH_GOSTR3411_12_256
        case CP_JACARTA_GOST2012_512:
        case CP_RUTOKEN_GOST2012_512:
            return 0xD4321009;  // CKM_GOSTR3410_WITH_GOSTR3411_12_512
        default:
            return kNone;  // CryptoAPI providers sign with the hash object alone
    }
}

int getSupportCryptoInterface(eSupportCP kind) {
    switch (kind) {
        case CP_VIPNET:
        case CP_VIPNET_GOST2012_256:
        case CP_VIPNET_GOST2012_512:
        case CP_CRYPTOPRO:
        case CP_CRYPTOPRO_GOST2012_256:
        case CP_CRYPTOPRO_GOST2012_512:
            return 1;
        case CP_JACARTA_GOST:
        case CP_JACARTA_GOST2012_256:
        case CP_JACARTA_GOST2012_512:
        case CP_RUTOKEN_GOST:
        case CP_RUTOKEN_GOST2012_256:
        case CP_RUTOKEN_GOST2012_512:
            return 2;
        default:
            return 0;
    }
}

eSupportCP convertToGost2012(eSupportCP kind) {
    switch (kind) {
        case CP_JACARTA_GOST:
        case CP_JACARTA_GOST2012_256:
            return CP_JACARTA_GOST2012_256;
        case CP_RUTOKEN_GOST:
        case CP_RUTOKEN_GOST2012_256:
            return CP_RUTOKEN_GOST2012_256;
        case CP_VIPNET:
        case CP_VIPNET_GOST2012_256:
            return CP_VIPNET_GOST2012_256;
        case CP_CRYPTOPRO:
        case CP_CRYPTOPRO_GOST2012_256:
            return CP_CRYPTOPRO_GOST2012_256;
        default:
            return CP_NONE;
    }
}

eSupportCP convertToGost2001(eSupportCP kind) {
    switch (kind) {
        case CP_JACARTA_GOST:
        case CP_JACARTA_GOST2012_256:
            return CP_JACARTA_GOST;
        case CP_RUTOKEN_GOST:
        case CP_RUTOKEN_GOST2012_256:
            return CP_RUTOKEN_GOST;
        case CP_VIPNET:
        case CP_VIPNET_GOST2012_256:
            return CP_VIPNET;
        case CP_CRYPTOPRO:
        case CP_CRYPTOPRO_GOST2012_256:
            return CP_CRYPTOPRO;
        default:
            return CP_NONE;
    }
}

eGostCrypto getGostCrypto(const tesel::CBlob& publicKeyBlob) {
    if (publicKeyBlob.getSize() < 8) {
        return GOST_UNKNOWN;
    }
    const unsigned char* p = publicKeyBlob.getData() + 4;
    const unsigned alg = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<unsigned>(p[3]) << 24);
    switch (alg) {
        case 0x2E23:
            return GOST_2001;
        case 0x2E49:
        case 0x2E3D:
            return GOST_2012;
        default:
            return GOST_UNKNOWN;
    }
}

eGostCrypto getGostCrypto(const std::string& pubKeyAlgOid) {
    if (pubKeyAlgOid == "1.2.643.2.2.19") {
        return GOST_2001;
    }
    if (pubKeyAlgOid == "1.2.643.7.1.1.1.1" || pubKeyAlgOid == "1.2.643.7.1.1.1.2") {
        return GOST_2012;
    }
    return GOST_UNKNOWN;
}

int getPubKeyAlgId(const std::string& pubKeyAlgOid) {
    if (pubKeyAlgOid == "1.2.643.2.2.19") {
        return 0x2E23;
    }
    if (pubKeyAlgOid == "1.2.643.7.1.1.1.1") {
        return 0x2E49;
    }
    if (pubKeyAlgOid == "1.2.643.7.1.1.1.2") {
        return 0x2E3D;
    }
    return -1;
}

}  // namespace qn::crypto
