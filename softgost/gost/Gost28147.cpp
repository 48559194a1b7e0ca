#include "softgost/gost/Gost28147.h"

#include <cstdint>
#include <cstring>

namespace plcsp {

namespace {

Cipher openCipher(int algo, int mode, const unsigned char* key32, const std::string& sboxOid) {
    ensureGcrypt();
    gcry_cipher_hd_t h = nullptr;
    if (gcry_cipher_open(&h, algo, mode, GCRY_CIPHER_SECURE)) {
        return nullptr;
    }
    Cipher c(h);
    if (gcry_cipher_setkey(h, key32, 32) ||
        gcry_cipher_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(sboxOid.c_str()), 0)) {
        return nullptr;
    }
    return c;
}

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void putLe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

bool CfbStream::start(const unsigned char* key32, const std::string& sboxOid,
                      const unsigned char* iv8, bool encrypt) {
    m_cipher = openCipher(GCRY_CIPHER_GOST28147_MESH, GCRY_CIPHER_MODE_CFB, key32, sboxOid);
    if (!m_cipher || gcry_cipher_setiv(m_cipher.get(), iv8, 8)) {
        m_cipher.reset();
        return false;
    }
    m_encrypt = encrypt;
    return true;
}

bool CfbStream::process(unsigned char* data, std::size_t n) {
    if (!m_cipher) {
        return false;
    }
    if (n == 0) {
        return true;
    }
    gcry_error_t e = m_encrypt ? gcry_cipher_encrypt(m_cipher.get(), data, n, nullptr, 0)
                               : gcry_cipher_decrypt(m_cipher.get(), data, n, nullptr, 0);
    return e == 0;
}

bool ecbEncrypt(const unsigned char* key32, const std::string& sboxOid, unsigned char* data,
                std::size_t n) {
    if (n % 8) {
        return false;
    }
    Cipher c = openCipher(GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_ECB, key32, sboxOid);
    return c && gcry_cipher_encrypt(c.get(), data, n, nullptr, 0) == 0;
}

bool ecbDecrypt(const unsigned char* key32, const std::string& sboxOid, unsigned char* data,
                std::size_t n) {
    if (n % 8) {
        return false;
    }
    Cipher c = openCipher(GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_ECB, key32, sboxOid);
    return c && gcry_cipher_decrypt(c.get(), data, n, nullptr, 0) == 0;
}

bool imit(const unsigned char* key32, const std::string& sboxOid, const unsigned char* iv8,
          const unsigned char* data, std::size_t n, unsigned char* mac4) {
    ensureGcrypt();
    gcry_mac_hd_t h = nullptr;
    if (gcry_mac_open(&h, GCRY_MAC_GOST28147_IMIT, GCRY_MAC_FLAG_SECURE, nullptr)) {
        return false;
    }
    Mac m(h);
    if (gcry_mac_ctl(h, GCRYCTL_SET_SBOX, const_cast<char*>(sboxOid.c_str()), 0) ||
        gcry_mac_setkey(h, key32, 32)) {
        return false;
    }
    if (iv8 && gcry_mac_setiv(h, iv8, 8)) {
        return false;
    }
    if (gcry_mac_write(h, data, n)) {
        return false;
    }
    size_t len = 4;
    return gcry_mac_read(h, mac4, &len) == 0 && len == 4;
}

bool diversifyKek(const unsigned char* kek32, const unsigned char* ukm8, const std::string& sboxOid,
                  SecureBytes& out) {
    SecureBytes k(32);
    std::memcpy(k.data(), kek32, 32);
    for (int i = 0; i < 8; ++i) {
        std::uint32_t s1 = 0, s2 = 0;
        for (int j = 0; j < 8; ++j) {
            const std::uint32_t word = le32(k.data() + 4 * j);
            if (ukm8[i] & (1u << j)) {
                s1 += word;
            } else {
                s2 += word;
            }
        }
        unsigned char iv[8];
        putLe32(iv, s1);
        putLe32(iv + 4, s2);
        Cipher c = openCipher(GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_CFB, k.data(), sboxOid);
        if (!c || gcry_cipher_setiv(c.get(), iv, 8) ||
            gcry_cipher_encrypt(c.get(), k.data(), 32, nullptr, 0)) {
            return false;
        }
    }
    out = std::move(k);
    return true;
}

bool wrapKey(const unsigned char* kek32, const unsigned char* ukm8, const std::string& sboxOid,
             const unsigned char* cek32, unsigned char* encKey32, unsigned char* mac4) {
    SecureBytes kekUkm;
    if (!diversifyKek(kek32, ukm8, sboxOid, kekUkm)) {
        return false;
    }
    if (!imit(kekUkm.data(), sboxOid, ukm8, cek32, 32, mac4)) {
        return false;
    }
    std::memcpy(encKey32, cek32, 32);
    return ecbEncrypt(kekUkm.data(), sboxOid, encKey32, 32);
}

bool unwrapKey(const unsigned char* kek32, const unsigned char* ukm8, const std::string& sboxOid,
               const unsigned char* encKey32, const unsigned char* mac4, SecureBytes& cek) {
    SecureBytes kekUkm;
    if (!diversifyKek(kek32, ukm8, sboxOid, kekUkm)) {
        return false;
    }
    SecureBytes key(32);
    std::memcpy(key.data(), encKey32, 32);
    if (!ecbDecrypt(kekUkm.data(), sboxOid, key.data(), 32)) {
        return false;
    }
    unsigned char mac[4];
    if (!imit(kekUkm.data(), sboxOid, ukm8, key.data(), 32, mac) || !equalConstTime(mac, mac4, 4)) {
        return false;
    }
    cek = std::move(key);
    return true;
}

}  // namespace plcsp
