// Command 20: the user's certificates of the chosen store with their fitness
// for use. Replaces the PKI controller's list, so indices of an earlier list
// are no longer valid.
//
// Reply payload: one record per certificate in index order, nothing before
// the first and no count:
//   index (u32), common name (string, UTF-8), person (string, UTF-8: surname,
//   blank, given name), serial number (blob, least significant byte first),
//   subject kind (i32), valid to (string "YYYY-MM-DD hh-mm-ss", UTC),
//   status (u32 flags of the checks).
#pragma once

#include "core/CBlob.h"
#include "server/CWebPacket.h"

class CCertListWebPacket : public CWebPacket {
public:
    CCertListWebPacket();
    int process(tesel::CBlob& reply) override;

    // Builds the whole reply; 1 when no trusted roots are known, the store's
    // status when it cannot be listed. On failure reply is only the header.
    int loadCertList(tesel::CBlob& reply);

    // True when only the warning bit (expired within 30 days) may be set.
    static bool isValidCertStatus(int status);
};
