// Readers of the payloads that the client sends to the CA, from the cursor
// behind the permanent header. Both take blob lengths only as far as the
// payload reaches (20 otherwise) and change out only when they succeed.
#pragma once

#include "core/CBlob.h"
#include "transport/AddInfoClientCard.h"
#include "transport/AddInfoProlongKey.h"

// A renewal: user certificate, client card, PKCS#10 request and, only for
// version > 1, the CSP information; each a blob. Returns the card
// conversion's status (0, 46 to 48, 76), or 20.
int parseProlongClientCard(tesel::CBlob& payload, int version, AddInfoProlongKey& out);

// A partner's card: one blob holding the card. The card conversion's status,
// or 20.
int parsePartnerClientCard(tesel::CBlob& payload, AddInfoClientCard& out);
