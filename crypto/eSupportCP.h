// Kinds of cryptographic provider: CryptoAPI provider types (positive) and
// PKCS#11 token kinds (negative). -2 means no provider.
#pragma once

namespace qn::crypto {

enum eSupportCP : int {
    CP_NONE = -2,
    CP_JACARTA_GOST = -1,
    CP_JACARTA_GOST2012_256 = -3,
    CP_JACARTA_GOST2012_512 = -4,
    CP_RUTOKEN_GOST = -5,
    CP_RUTOKEN_GOST2012_256 = -6,
    CP_RUTOKEN_GOST2012_512 = -7,
    CP_VIPNET = 2,
    CP_VIPNET_GOST2012_256 = 77,
    CP_VIPNET_GOST2012_512 = 78,
    CP_CRYPTOPRO = 75,
    CP_CRYPTOPRO_GOST2012_256 = 80,
    CP_CRYPTOPRO_GOST2012_512 = 81,
};

// GOST generation of a key: the year of its standard, -1 when unknown.
enum eGostCrypto : int {
    GOST_UNKNOWN = -1,
    GOST_2001 = 2001,
    GOST_2012 = 2012,
};

}  // namespace qn::crypto
