#include "transport/ControllerBaseClient.h"

#include <utility>

ControllerBaseClient::~ControllerBaseClient() = default;

void ControllerBaseClient::replace(std::shared_ptr<CPacket_PKCS10_Client_Base> packet) {
    std::shared_ptr<CPacket_PKCS10_Client_Base> old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        old = std::exchange(m_current, std::move(packet));
    }
    // old is let go here, outside the lock.
}

std::shared_ptr<CPacketProlongKey> ControllerBaseClient::createProlongPacket() {
    auto packet = std::make_shared<CPacketProlongKey>();
    replace(packet);
    return packet;
}

std::shared_ptr<CPacket_PKCS10_Client_Base> ControllerBaseClient::getCurrentClientPacket() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

void ControllerBaseClient::setCurrentClientPacket(CPacket_PKCS10_Client_Base* packet, bool owned) {
    if (owned || packet == nullptr) {
        replace(std::shared_ptr<CPacket_PKCS10_Client_Base>(packet));
    } else {
        replace(std::shared_ptr<CPacket_PKCS10_Client_Base>(packet, [](CPacket_PKCS10_Client_Base*) {}));
    }
}

void ControllerBaseClient::withClientPacket(CPacket_PKCS10_Client_Base& packet,
                                           const std::function<void(CPacket_PKCS10_Client_Base&)>& use) const {
    std::lock_guard<std::mutex> lock(m_packetMutex);
    use(packet);
}

bool ControllerBaseClient::withCurrentClientPacket(
    const std::function<void(CPacket_PKCS10_Client_Base&)>& use) const {
    const std::shared_ptr<CPacket_PKCS10_Client_Base> packet = getCurrentClientPacket();
    if (!packet) return false;
    std::lock_guard<std::mutex> lock(m_packetMutex);
    use(*packet);
    return true;
}
