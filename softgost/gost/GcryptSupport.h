// libgcrypt set-up and small owning wrappers around its handles, shared by
// the software GOST provider.
#pragma once

#include <gcrypt.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace plcsp {

// Initialises libgcrypt once per process (thread-safe): version check,
// secure memory pool for private scalars and key material.
void ensureGcrypt();

struct MpiDeleter {
    void operator()(gcry_mpi_t m) const { gcry_mpi_release(m); }
};
struct PointDeleter {
    void operator()(gcry_mpi_point_t p) const { gcry_mpi_point_release(p); }
};
struct SexpDeleter {
    void operator()(gcry_sexp_t s) const { gcry_sexp_release(s); }
};
struct CtxDeleter {
    void operator()(gcry_ctx_t c) const { gcry_ctx_release(c); }
};
struct CipherDeleter {
    void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};
struct MdDeleter {
    void operator()(gcry_md_hd_t h) const { gcry_md_close(h); }
};
struct MacDeleter {
    void operator()(gcry_mac_hd_t h) const { gcry_mac_close(h); }
};

using Mpi = std::unique_ptr<std::remove_pointer_t<gcry_mpi_t>, MpiDeleter>;
using Point = std::unique_ptr<std::remove_pointer_t<gcry_mpi_point_t>, PointDeleter>;
using Sexp = std::unique_ptr<std::remove_pointer_t<gcry_sexp_t>, SexpDeleter>;
using EcCtx = std::unique_ptr<std::remove_pointer_t<gcry_ctx_t>, CtxDeleter>;
using Cipher = std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, CipherDeleter>;
using Md = std::unique_ptr<std::remove_pointer_t<gcry_md_hd_t>, MdDeleter>;
using Mac = std::unique_ptr<std::remove_pointer_t<gcry_mac_hd_t>, MacDeleter>;

// Bytes kept in libgcrypt's secure memory and wiped when released: session
// keys, key-encryption keys and private scalars on their way to and from
// files.
class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(std::size_t n);
    SecureBytes(const SecureBytes& other);
    SecureBytes& operator=(const SecureBytes& other);
    SecureBytes(SecureBytes&& other) noexcept;
    SecureBytes& operator=(SecureBytes&& other) noexcept;
    ~SecureBytes();

    unsigned char* data() { return m_data; }
    const unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }

private:
    void release();
    unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
};

// Strong random bytes.
void randomBytes(unsigned char* out, std::size_t n);
std::vector<unsigned char> randomVector(std::size_t n);

// Constant-time comparison of equal-length byte strings.
bool equalConstTime(const unsigned char* a, const unsigned char* b, std::size_t n);

}  // namespace plcsp
