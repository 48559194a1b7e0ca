// The client controller's current packet: the one request or renewal that
// the commands of one exchange work on. The controller owns the packets it
// makes; making a new one destroys the previous one, so a pointer taken
// before is no longer valid. Swapping the packet is guarded; callers on
// several connections must not keep the pointer across another exchange.
#pragma once

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

    // Destroys the current packet if owned, makes a new renewal packet
    // (created now) the current one and returns it.
    CPacketProlongKey* createProlongPacket();
    // The current packet, or null before the first one.
    CPacket_PKCS10_Client_Base* getCurrentClientPacket() const;
    // Makes packet current; the controller destroys it later only if owned.
    void setCurrentClientPacket(CPacket_PKCS10_Client_Base* packet, bool owned);

    // Fills card from the certificate's subject: owner kind, product
    // template, INN, OGRN (else OGRNIP), KPP (from "KPP=" in the
    // unstructured name; unchanged when there is none), company, surname,
    // given name split into name and patronymic at its first blank, SNILS,
    // position, e-mail, region, city and street (house, korpus and apartment
    // emptied), and the purpose OID texts. 1 for a null certificate, else 0.
    unsigned loadCardFromCert(const CERT_CONTEXT* cert, tesel::CClient& card) const;

private:
    void replace(CPacket_PKCS10_Client_Base* packet, bool owned);

    mutable std::mutex m_mutex;
    CPacket_PKCS10_Client_Base* m_current = nullptr;
    bool m_owned = false;
};
