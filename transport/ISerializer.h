// What a CA packet object reads from the CA: its answer, taken out of the
// blob that follows the permanent header of an opened answer packet.
#pragma once

#include "core/CBlob.h"

class ISerializer {
public:
    virtual ~ISerializer() = default;

    // Reads the answer's fields from the blob's cursor. 0, or 20 when a
    // field runs past the end (the packet is then left unchanged).
    virtual int deserializeServerAnswer(tesel::CBlob* answer) = 0;
};
