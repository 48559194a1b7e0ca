// The answer part of a certificate request or renewal: the CA's response
// and the certificate it released.
#pragma once

#include "core/CBlob.h"
#include "transport/eClientResponse.h"

class CPacket_PKCS10_Base {
public:
    virtual ~CPacket_PKCS10_Base() = default;

    tesel::eClientResponse getResponse() const { return m_response; }
    void setResponse(tesel::eClientResponse response) { m_response = response; }
    tesel::CBlob getUserCert() const { return m_userCert; }
    void setUserCert(tesel::CBlob* cert);
    // An answer has been read.
    bool isResponsed() const { return m_response != tesel::CLIENT_RESPONSE_NONE; }

    // Response (u32) and certificate (blob) at the cursor. 0, or 20 when
    // they run past the end; nothing is changed then.
    int deserialize(tesel::CBlob* answer);

private:
    tesel::eClientResponse m_response = tesel::CLIENT_RESPONSE_NONE;
    tesel::CBlob m_userCert;
};
