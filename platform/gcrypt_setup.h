// The process-wide libgcrypt set-up, the same whichever library of the
// process comes first: the update library's signature check or the GOST
// primitives. Header-only so that neither library links the other.
#pragma once

#include <gcrypt.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace plgcrypt {

// Not thread-safe by itself: callers run it under their std::call_once.
// False when the libgcrypt found is older than 1.8.
inline bool setUpGcrypt() {
    if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
        return true;  // someone else in the process already set it up
    }
    if (!gcry_check_version("1.8.0")) {
        return false;
    }
    // Locked memory may be unavailable to an ordinary user; the pool is
    // still used (and wiped), only the warning is suppressed.
    gcry_control(GCRYCTL_SUSPEND_SECMEM_WARN);
    // One pool, large enough that it never has to grow: libgcrypt's
    // extra pools are ordinary heap blocks that are never given back.
    gcry_control(GCRYCTL_INIT_SECMEM, 1 << 20, 0);
    gcry_control(GCRYCTL_AUTO_EXPAND_SECMEM, 1 << 20, 0);
    gcry_control(GCRYCTL_RESUME_SECMEM_WARN);
    gcry_control(GCRYCTL_DISABLE_SECMEM_WARN);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
#if defined(__SANITIZE_ADDRESS__)
    // The strongest random level sets up libgcrypt's jitter entropy
    // collector once; its buffer is referenced only from libgcrypt's
    // locked memory, which the leak checker does not scan. Set it up
    // here with leak checks off so it is not reported as a leak.
    __lsan_disable();
    unsigned char warmUp[1];
    gcry_randomize(warmUp, sizeof warmUp, GCRY_VERY_STRONG_RANDOM);
    __lsan_enable();
#endif
    return true;
}

}  // namespace plgcrypt
