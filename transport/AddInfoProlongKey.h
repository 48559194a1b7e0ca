// What a key renewal packet carries for the CA, as read back from its
// payload: the client card, the certificate being renewed, the PKCS#10
// request of the new key and the new key's CSP information.
#pragma once

#include "client/CClient.h"
#include "core/CBlob.h"
#include "crypto/UserCspInfo.h"

struct AddInfoProlongKey {
    tesel::CClient client;
    tesel::CBlob userCert;
    tesel::CBlob pkcs10;
    qn::crypto::UserCspInfo cspInfo;

    tesel::CClient& getClient() { return client; }
    const tesel::CBlob& getUserCert() const { return userCert; }
    const tesel::CBlob& getPkcs10() const { return pkcs10; }
    const qn::crypto::UserCspInfo& getCspInfo() const { return cspInfo; }
};
