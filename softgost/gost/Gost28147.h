// GOST 28147-89 on libgcrypt: ECB, CFB with CryptoPro key meshing, the
// imitovstavka (MAC) and the CryptoPro key wrap (RFC 4357 §6.3-6.5).
// Keys are 32 bytes; every operation takes the S-box as its parameter-set
// OID, because libgcrypt's default S-box is the hash's test one.
#pragma once

#include <cstddef>
#include <string>

#include "softgost/gost/GcryptSupport.h"

namespace plcsp {

// A running CFB stream with CryptoPro key meshing every 1024 bytes.
class CfbStream {
public:
    bool start(const unsigned char* key32, const std::string& sboxOid, const unsigned char* iv8,
               bool encrypt);
    bool process(unsigned char* data, std::size_t n);  // in place
    bool active() const { return static_cast<bool>(m_cipher); }
    bool encrypting() const { return m_encrypt; }
    void stop() { m_cipher.reset(); }

private:
    Cipher m_cipher;
    bool m_encrypt = true;
};

// ECB of whole 8-byte blocks (n a multiple of 8), in place.
bool ecbEncrypt(const unsigned char* key32, const std::string& sboxOid, unsigned char* data,
                std::size_t n);
bool ecbDecrypt(const unsigned char* key32, const std::string& sboxOid, unsigned char* data,
                std::size_t n);

// 4-byte MAC of data; iv8 may be null (zero IV).
bool imit(const unsigned char* key32, const std::string& sboxOid, const unsigned char* iv8,
          const unsigned char* data, std::size_t n, unsigned char* mac4);

// KEK(UKM): the CryptoPro diversification of a key-encryption key.
bool diversifyKek(const unsigned char* kek32, const unsigned char* ukm8, const std::string& sboxOid,
                  SecureBytes& out);

// CryptoPro key wrap: encrypted key (32) and MAC (4) of cek under kek and ukm.
bool wrapKey(const unsigned char* kek32, const unsigned char* ukm8, const std::string& sboxOid,
             const unsigned char* cek32, unsigned char* encKey32, unsigned char* mac4);
// Unwrap; false when the MAC does not match.
bool unwrapKey(const unsigned char* kek32, const unsigned char* ukm8, const std::string& sboxOid,
               const unsigned char* encKey32, const unsigned char* mac4, SecureBytes& cek);

}  // namespace plcsp
