// A loaded PKCS#11 library: its module handle and its function list.
#pragma once

#include "crypto/Pkcs11Gost.h"
#include "platform/dynlib.h"

namespace qn::crypto {

struct P11LibInfo {
    HMODULE module = nullptr;
    CK_FUNCTION_LIST_PTR functions = nullptr;
};

}  // namespace qn::crypto
