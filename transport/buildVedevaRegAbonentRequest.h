// Builds the regional abonent registration packet (CHttpVedevaRegAbonentRequest)
// from its parts and protects it for the CA with the user's connection.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"

// cspInfo: the new key's provider description; card: the client card in its
// CA form; pkcs10: the signed request (DER); text: the registration text.
// Returns 0 with the protected packet in packet, or the failing step's code
// (25 when the packet reaches the size limit); packet is written only on
// success.
int buildVedevaRegAbonentRequest(const tesel::CBlob& cspInfo, const tesel::CBlob& card, const tesel::CBlob& pkcs10,
                                 const std::string& text, const qn::crypto::Crypto1By1Connect& connection,
                                 tesel::CBlob& packet);
