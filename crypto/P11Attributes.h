// Building the attribute templates handed to a token. The values are only
// read by the token; the pointers must stay valid for the call.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "platform/pkcs11.h"

namespace qn::crypto::p11 {

// The one-byte values (CK_TRUE, CK_FALSE) the boolean attributes point at.
inline CK_BBOOL attributeTrue = CK_TRUE;
inline CK_BBOOL attributeFalse = CK_FALSE;

inline CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length) {
    return CK_ATTRIBUTE{type, const_cast<void*>(value), length};
}

inline CK_ATTRIBUTE attrBool(CK_ATTRIBUTE_TYPE type, bool value) {
    return attr(type, value ? &attributeTrue : &attributeFalse, sizeof(CK_BBOOL));
}

inline CK_ATTRIBUTE attrBlob(CK_ATTRIBUTE_TYPE type, const tesel::CBlob& b) {
    return attr(type, b.getData(), b.getSize());
}

inline CK_ATTRIBUTE attrText(CK_ATTRIBUTE_TYPE type, const std::string& s) { return attr(type, s.data(), s.size()); }

}  // namespace qn::crypto::p11
