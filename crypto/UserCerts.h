// The user's certificates of one certificate store, by index.
#pragma once

#include <map>

#include "crypto/eCertStore.h"
#include "platform/wincrypt.h"

namespace qn::crypto {

// Store 0: the certificates of the current user's "MY" store (duplicated
// contexts that the caller frees) under 0, 1, 2… Stores 1 and 2 are the
// token stores of the PKCS#11 provider; until that provider is part of the
// build they answer 1, as does any other store.
unsigned loadUserCerts(tesel::eCertStore store, std::map<unsigned, const CERT_CONTEXT*>& certs);

}  // namespace qn::crypto
