// DER of OBJECT IDENTIFIERs (tag 06, length, content) from dotted text, for
// the parameter sets that providers are given.
#pragma once

#include <string>

#include "core/CBlob.h"

namespace qn::crypto {

// The DER encoding; an empty blob for empty or malformed text.
tesel::CBlob encodeOidDer(const std::string& dotted);

}  // namespace qn::crypto
