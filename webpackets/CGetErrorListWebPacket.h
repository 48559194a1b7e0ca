// Command 16: the whole error catalog for the web page. Reply payload: for
// each code in ascending order, the code (4 bytes) and its text in UTF-8
// (length-prefixed); no count in front, the page reads to the end.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CGetErrorListWebPacket : public CWebPacket {
public:
    CGetErrorListWebPacket();
    int process(tesel::CBlob& reply) override;

    // The reply payload. The catalog never changes once filled, so it is
    // built on first use and shared, read-only, by every later reply.
    static const tesel::CBlob& errorListRecords();
};
