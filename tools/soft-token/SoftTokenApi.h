// Helpers shared by the C_ functions of the software token.
#pragma once

#include <cstring>
#include <new>
#include <string>

#include "tools/soft-token/SoftToken.h"

// Takes the module lock for the whole call and checks that the module is
// initialised; binds st to the state.
#define SOFT_ENTER(name)                                         \
    ::softtoken::State& st = ::softtoken::State::instance();     \
    std::lock_guard<std::recursive_mutex> softLock(st.mutex);    \
    ::softtoken::trace("%s", name);                              \
    if (!st.initialized) return CKR_CRYPTOKI_NOT_INITIALIZED

// Ends a C_ function whose body is a function-try-block: no exception
// crosses the C interface (the lock taken in the body is released first).
#define SOFT_CATCH                       \
    catch (const std::bad_alloc&) {      \
        return CKR_HOST_MEMORY;          \
    }                                    \
    catch (...) {                        \
        return CKR_GENERAL_ERROR;        \
    }

// Binds sess to the session of handle h, or returns CKR_SESSION_HANDLE_INVALID.
#define SOFT_SESSION(h)                                          \
    ::softtoken::Session* sessPtr = st.session(h);               \
    if (!sessPtr) return CKR_SESSION_HANDLE_INVALID;             \
    ::softtoken::Session& sess = *sessPtr

namespace softtoken {

// A text into a fixed-length, blank-padded PKCS#11 field.
inline void padCopy(unsigned char* field, std::size_t n, const std::string& text) {
    std::memset(field, ' ', n);
    std::memcpy(field, text.data(), text.size() < n ? text.size() : n);
}

// The two-call output convention: a size query (out null), a buffer too
// small, or room for the result. Returns CKR_OK when the caller should now
// produce the output into out; sets done when nothing more is to be done.
inline CK_RV outputRoom(CK_BYTE_PTR out, CK_ULONG_PTR outLen, CK_ULONG needed, bool& done) {
    done = true;
    if (!outLen) {
        return CKR_ARGUMENTS_BAD;
    }
    if (!out) {
        *outLen = needed;
        return CKR_OK;
    }
    if (*outLen < needed) {
        *outLen = needed;
        return CKR_BUFFER_TOO_SMALL;
    }
    *outLen = needed;
    done = false;
    return CKR_OK;
}

// Creates an object from a template in a session, with the checks of token
// and private objects; shared by C_CreateObject and the key functions.
CK_RV storeObject(State& st, Session& sess, ObjectPtr obj, CK_OBJECT_HANDLE_PTR handle);

// Fills the defaults of the common attributes.
void applyDefaults(Object& obj);

}  // namespace softtoken
