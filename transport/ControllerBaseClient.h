// The client controller's current packet: the one request or renewal that
// the commands of one exchange work on. The controller owns the packets it
// makes; making a new one lets the previous one go. Commands of several
// connections use the packet at once, so it is handed out in shared
// ownership (a packet another command replaces stays valid for the command
// that holds it), and reading or changing its contents is done under the
// controller's packet lock (withCurrentClientPacket).
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "client/CClient.h"
#include "platform/wincrypt.h"
#include "transport/CPacketProlongKey.h"

class ControllerBaseClient {
public:
    ControllerBaseClient() = default;
    ControllerBaseClient(const ControllerBaseClient&) = delete;
    ControllerBaseClient& operator=(const ControllerBaseClient&) = delete;
    virtual ~ControllerBaseClient();

    // Lets the current packet go, makes a new renewal packet (created now)
    // the current one and returns it.
    std::shared_ptr<CPacketProlongKey> createProlongPacket();
    // The current packet, or null before the first one.
    std::shared_ptr<CPacket_PKCS10_Client_Base> getCurrentClientPacket() const;
    // Makes packet current; the controller destroys it later only if owned.
    void setCurrentClientPacket(CPacket_PKCS10_Client_Base* packet, bool owned);

    // Runs use with the current packet under the packet lock; false (use not
    // run) when there is none.
    bool withCurrentClientPacket(const std::function<void(CPacket_PKCS10_Client_Base&)>& use) const;
    // The same for a packet a command took earlier, current or not.
    void withClientPacket(CPacket_PKCS10_Client_Base& packet,
                          const std::function<void(CPacket_PKCS10_Client_Base&)>& use) const;

    // Fills card from the certificate's subject: owner kind, product
    // template, INN, OGRN (else OGRNIP), KPP (from "KPP=" in the
    // unstructured name; unchanged when there is none), company, surname,
    // given name split into name and patronymic at its first blank, SNILS,
    // position, e-mail, region, city and street (house, korpus and apartment
    // emptied), and the purpose OID texts. 1 for a null certificate, else 0.
    unsigned loadCardFromCert(const CERT_CONTEXT* cert, tesel::CClient& card) const;

private:
    void replace(std::shared_ptr<CPacket_PKCS10_Client_Base> packet);

    mutable std::mutex m_mutex;        // the slot
    mutable std::mutex m_packetMutex;  // the contents of the current packet
    std::shared_ptr<CPacket_PKCS10_Client_Base> m_current;
};
