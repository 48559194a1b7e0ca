#include "webpackets/CVedevaRegAbonentWebPacket.h"

#include <memory>
#include <string>
#include <utility>

#include "core/TextConvert.h"
#include "crypto/ControllerWebCrypto.h"
#include "crypto/UserCspInfo.h"
#include "errors/eErrCodes.h"
#include "pki/RequestPKCS10.h"
#include "transport/buildVedevaRegAbonentRequest.h"
#include "webpackets/ModulePartnerCard.h"

namespace {

using Connection = std::shared_ptr<qn::crypto::Crypto1By1Connect>;

// A new container of that name with the GOST 2012 provider, and the card's
// PKCS#10 request signed with its key.
unsigned buildP10(const std::string& container, const tesel::CClient& card, Connection& made, tesel::CBlob& p10) {
    const std::shared_ptr<qn::crypto::ControllerWebCrypto> crypto = qn::crypto::ControllerWebCrypto::instance();
    if (const unsigned r = crypto->create(container, &made)) return r;
    if (!made) return ERR_CSP_NOT_INITIALIZED;
    tesel::RequestPKCS10 request;
    if (const int r = request.fillFromClient(card, card.getCSP())) return static_cast<unsigned>(r);
    return made->signAndEncodePkcs10(request, p10);
}

}  // namespace

CVedevaRegAbonentWebPacket::CVedevaRegAbonentWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), VEDEVA_REG_ABONENT_ANSWER) {}

int CVedevaRegAbonentWebPacket::process(tesel::CBlob& reply) {
    std::string key;
    std::string container;
    std::string text;
    m_payload.deserialize(&key);
    m_payload.deserialize(&container);
    m_payload.deserialize(&text);
    if (replyIfMalformed(reply)) return 0;
    container = tesel::convertFromUTF8(container);

    tesel::CClient card;
    if (!ModulePartnerCard::instance().withPartnerCard(key, [&](CPacketClientCard& p) { card = p.getClient(); })) {
        reply = codeAnswer(ERR_INTERNAL);
        return 0;
    }
    // Without the user's connection the packet cannot be protected: say so
    // before a key container is made for nothing.
    const Connection user = qn::crypto::ControllerWebCrypto::instance()->getCrypto_2001();
    if (!user) {
        reply = codeAnswer(ERR_CSP_NOT_INITIALIZED);
        return 0;
    }

    Connection made;
    tesel::CBlob p10;
    unsigned r = buildP10(container, card, made, p10);
    qn::crypto::UserCspInfo info;
    if (r == ERR_OK) r = made->getCspInfo(info);
    tesel::CBlob packet;
    if (r == ERR_OK) {
        tesel::CBlob cspInfo;
        info >> cspInfo;
        const tesel::CBlob cardBytes = card.PartnerInfoToBinary();
        r = cardBytes.isMalformed()
                ? static_cast<unsigned>(ERR_CARD_EXPORT)
                : static_cast<unsigned>(buildVedevaRegAbonentRequest(cspInfo, cardBytes, p10, text, *user, packet));
    }
    std::string unique;
    if (r == ERR_OK) r = made->getUniqueContainer(unique);
    if (r != ERR_OK) {
        reply = codeAnswer(static_cast<int>(r));
        return 0;
    }

    const std::string uniqueUtf8 = tesel::convertToUTF8(unique);
    tesel::CBlob answer = codeAnswer(ERR_OK, tesel::CBlob::sizeOf(uniqueUtf8) + tesel::CBlob::sizeOf(packet));
    answer.serialize(uniqueUtf8);
    answer.serialize(&packet);
    reply = std::move(answer);
    return 0;
}
