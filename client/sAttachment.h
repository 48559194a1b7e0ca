// A scanned document attached to a client card.
#pragma once

#include <string>

#include "core/CBlob.h"

namespace tesel {

// Kind of attached document. A card holds at most one attachment of each
// kind, except the additional documents, of which it may hold any number.
enum eAttacmentDocType : int {
    ADT_ADDITIONAL_DOCUMENT = 5,
};

struct sAttachment {
    eAttacmentDocType type = ADT_ADDITIONAL_DOCUMENT;
    std::string name;  // file name, CP1251
    CBlob data;        // file contents
};

}  // namespace tesel
