#include "webpackets/CSetDocAttachmentWebPacket.h"

#include <utility>

#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "webpackets/CardSelector.h"

CSetDocAttachmentWebPacket::CSetDocAttachmentWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_DOC_ATTACHMENT_ANSWER) {}

int CSetDocAttachmentWebPacket::process(tesel::CBlob& reply) {
    std::string key;
    unsigned type = 0;
    unsigned docType = 0;
    std::string name;
    tesel::CBlob contents;
    m_payload.deserialize(&key);
    m_payload.deserialize(type);
    m_payload.deserialize(docType);
    m_payload.deserialize(&name);
    m_payload.deserialize(&contents);
    if (replyIfMalformed(reply)) return 0;
    name = tesel::convertFromUTF8(name);

    int result = ERR_INTERNAL;
    editSelectedCard(key, static_cast<tesel::PackageType>(type), {tesel::PT_CLIENT_CARD, tesel::PT_PROLONG},
                     [&](tesel::CClient& card, CPacket_PKCS10_Client_Base*) {
                         result = card.addAttachment(std::move(contents), name,
                                                     static_cast<tesel::eAttacmentDocType>(docType));
                     });
    reply = codeAnswer(result);
    return 0;
}
