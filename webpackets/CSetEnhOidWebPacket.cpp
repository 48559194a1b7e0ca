#include "webpackets/CSetEnhOidWebPacket.h"

#include <utility>

#include "errors/eErrCodes.h"
#include "pki/CCertTemplate.h"
#include "pki/COids.h"
#include "webpackets/CardSelector.h"

CSetEnhOidWebPacket::CSetEnhOidWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_ENH_OID_ANSWER) {}

int CSetEnhOidWebPacket::process(tesel::CBlob& reply) {
    std::string key;
    unsigned type = 0;
    std::string oidText;
    unsigned add = 0;
    m_payload.deserialize(&key);
    m_payload.deserialize(type);
    m_payload.deserialize(&oidText);
    m_payload.deserialize(add);
    if (replyIfMalformed(reply)) return 0;

    const tesel::eEnhKeyOID oid = tesel::COids::getEnhKeyOID(oidText);
    const bool found = editSelectedCard(
        key, static_cast<tesel::PackageType>(type), {tesel::PT_CLIENT_CARD, tesel::PT_PROLONG},
        [&](tesel::CClient& card, CPacket_PKCS10_Client_Base*) {
            if (oid == tesel::ENH_UNKNOWN) return;  // not a purpose of the table: nothing changes
            const auto anyKind = static_cast<tesel::eTypeSubject>(-1);
            if (tesel::CCertTemplate::isEnhOidInCertTemplate(card.getTemplateCertId(), anyKind, oid)) return;
            card.setAddOid(oid, add != 0);
        });
    reply = codeAnswer(found ? ERR_OK : ERR_INTERNAL);
    return 0;
}
