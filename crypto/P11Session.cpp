#include "crypto/P11Session.h"

namespace qn::crypto {

P11Session::~P11Session() {
    if (m_functions && m_handle) {
        m_functions->C_CloseSession(m_handle);
    }
}

}  // namespace qn::crypto
