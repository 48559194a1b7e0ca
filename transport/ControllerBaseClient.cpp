#include "transport/ControllerBaseClient.h"

ControllerBaseClient::~ControllerBaseClient() {
    if (m_owned) delete m_current;
}

void ControllerBaseClient::replace(CPacket_PKCS10_Client_Base* packet, bool owned) {
    CPacket_PKCS10_Client_Base* old = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_owned && m_current != packet) old = m_current;
        m_current = packet;
        m_owned = owned;
    }
    delete old;
}

CPacketProlongKey* ControllerBaseClient::createProlongPacket() {
    auto* packet = new CPacketProlongKey();
    replace(packet, true);
    return packet;
}

CPacket_PKCS10_Client_Base* ControllerBaseClient::getCurrentClientPacket() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

void ControllerBaseClient::setCurrentClientPacket(CPacket_PKCS10_Client_Base* packet, bool owned) {
    replace(packet, owned);
}
