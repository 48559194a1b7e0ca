// Certificate contexts shared by the crypt32 calls of this folder.
#pragma once

#include "softgost/provider/CertParse.h"
#include "platform/wincrypt.h"

namespace plcsp {

// A new context (one reference) for a DER certificate; null when the bytes
// are not one.
PCCERT_CONTEXT newCertContext(const Bytes& der);

}  // namespace plcsp
