#include "softgost/gost/GcryptSupport.h"

#include <cstring>
#include <mutex>
#include <stdexcept>

#include "platform/gcrypt_setup.h"

namespace plcsp {

void ensureGcrypt() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!plgcrypt::setUpGcrypt()) {
            throw std::runtime_error("libgcrypt 1.8 or newer is required");
        }
    });
}

SecureBytes::SecureBytes(std::size_t n) {
    ensureGcrypt();
    if (n != 0) {
        m_data = static_cast<unsigned char*>(gcry_calloc_secure(1, n));
        if (!m_data) {
            throw std::bad_alloc();
        }
        m_size = n;
    }
}

SecureBytes::SecureBytes(const SecureBytes& other) : SecureBytes(other.m_size) {
    if (m_size) {
        std::memcpy(m_data, other.m_data, m_size);
    }
}

SecureBytes& SecureBytes::operator=(const SecureBytes& other) {
    if (this != &other) {
        SecureBytes copy(other);
        *this = std::move(copy);
    }
    return *this;
}

SecureBytes::SecureBytes(SecureBytes&& other) noexcept : m_data(other.m_data), m_size(other.m_size) {
    other.m_data = nullptr;
    other.m_size = 0;
}

SecureBytes& SecureBytes::operator=(SecureBytes&& other) noexcept {
    if (this != &other) {
        release();
        m_data = other.m_data;
        m_size = other.m_size;
        other.m_data = nullptr;
        other.m_size = 0;
    }
    return *this;
}

SecureBytes::~SecureBytes() { release(); }

void SecureBytes::release() {
    if (m_data) {
        // gcry_free of secure memory wipes it.
        gcry_free(m_data);
        m_data = nullptr;
        m_size = 0;
    }
}

void randomBytes(unsigned char* out, std::size_t n) {
    ensureGcrypt();
    if (n) {
        gcry_randomize(out, n, GCRY_STRONG_RANDOM);
    }
}

std::vector<unsigned char> randomVector(std::size_t n) {
    std::vector<unsigned char> v(n);
    randomBytes(v.data(), n);
    return v;
}

bool equalConstTime(const unsigned char* a, const unsigned char* b, std::size_t n) {
    unsigned char diff = 0;
    for (std::size_t i = 0; i < n; ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0;
}

}  // namespace plcsp
