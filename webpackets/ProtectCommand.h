// The shared body of the two commands that protect a payload for a peer
// (encrypt and sign, or sign only): a key exchange header blob, a payload
// blob, and a reply that always carries the packet blob, empty after a
// failure.
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"
#include "transport/common/KeyExchangeHeader.h"

// Protects the payload that the view shows into out, behind headRoom bytes.
using ProtectStep = int (*)(const tesel::BLOB& payload, qn::http_transport::KeyExchangeHeader& header,
                            unsigned headRoom, tesel::CBlob& out);

// Reads the two blobs from request and builds the reply of command with
// protect. The payload is protected where it lies in the request and the
// packet is written into the reply itself.
tesel::CBlob protectCommandReply(const CWebPacket& command, tesel::CBlob& request, ProtectStep protect);
