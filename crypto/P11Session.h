// An open PKCS#11 session, shared by a token provider and its clones: it is
// closed when the last of them lets it go. Its lock keeps the multi-call
// operations of one session (digest then sign, init then update...) from
// interleaving when two threads use providers on it.
#pragma once

#include <mutex>

#include "crypto/Pkcs11Gost.h"

namespace qn::crypto {

class P11Session {
public:
    P11Session(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE handle)
        : m_functions(functions), m_handle(handle) {}
    P11Session(const P11Session&) = delete;
    P11Session& operator=(const P11Session&) = delete;
    ~P11Session();

    CK_SESSION_HANDLE handle() const { return m_handle; }
    std::recursive_mutex& mutex() { return m_mutex; }

private:
    CK_FUNCTION_LIST_PTR m_functions;
    CK_SESSION_HANDLE m_handle;
    std::recursive_mutex m_mutex;
};

}  // namespace qn::crypto
