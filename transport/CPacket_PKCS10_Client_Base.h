// A certificate request or renewal of the client: the key container and CSP
// of the new key, and the client card the request is built from. A new
// packet has package type 4 (PKCS#10), CSP -2 and the local time of its
// creation, which names its container.
#pragma once

#include <string>

#include "client/CClient.h"
#include "crypto/eSupportCP.h"
#include "transport/CPacketAddInfo_PKCS10.h"

class CPacket_PKCS10_Client_Base : public CPacketAddInfo_PKCS10 {
public:
    CPacket_PKCS10_Client_Base();

    const std::string& getContainerName() const { return m_containerName; }
    void setContainerName(const std::string& name) { m_containerName = name; }
    qn::crypto::eSupportCP getCSP() const { return m_csp; }
    void setCSP(qn::crypto::eSupportCP csp) { m_csp = csp; }
    tesel::CClient& getClient() { return m_client; }
    const tesel::CClient& getClient() const { return m_client; }

    // The name of the new key's container, from the CSP, the card owner's
    // surname and INN, and the creation time.
    std::string createContainerName() const;

private:
    std::string m_containerName;
    qn::crypto::eSupportCP m_csp = qn::crypto::CP_NONE;
    tesel::CClient m_client;
};

// CryptoAPI kinds: surname "_" INN "_" time; token and unknown kinds:
// INN "_" time; the time as "YYYYMMDD_hhmmss".
std::string createContainerName(qn::crypto::eSupportCP kind, std::string surname, std::string inn,
                                SYSTEMTIME time);
