// A key renewal of the client (package type 7): the container of the
// renewed key, and the CA's message from the answer. Its answer is
// response, message and certificate.
#pragma once

#include <string>

#include "transport/CPacket_PKCS10_Client_Base.h"

class CPacketProlongKey : public CPacket_PKCS10_Client_Base {
public:
    CPacketProlongKey();

    const std::string& getNewContainer() const { return m_newContainer; }
    void setNewContainer(const std::string& name) { m_newContainer = name; }
    const std::string& getMessage() const { return m_message; }
    void setMessage(const std::string& message) { m_message = message; }

    // Response (u32), message (string), certificate (blob). 0, or 20 when
    // they run past the end; nothing is changed then.
    int deserializeServerAnswer(tesel::CBlob* answer) override;

private:
    std::string m_newContainer;
    std::string m_message;
};
