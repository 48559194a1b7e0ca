// The shared body of the two commands that protect a payload for a peer
// (encrypt and sign, or sign only): a key exchange header blob, a payload
// blob, and a reply that always carries the packet blob, empty after a
// failure.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"
#include "transport/common/KeyExchangeHeader.h"

using ProtectStep = int (*)(const tesel::CBlob& payload, tesel::CBlob& packet,
                            qn::http_transport::KeyExchangeHeader& header);

// Reads the two blobs from request and builds the reply of command with protect.
tesel::CBlob protectCommandReply(const CWebPacket& command, tesel::CBlob& request, ProtectStep protect);
