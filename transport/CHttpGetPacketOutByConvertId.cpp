#include "transport/CHttpGetPacketOutByConvertId.h"

#include <memory>

#include "crypto/Crypto1By1Connect.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"
#include "transport/common/TransportHeader.h"

using tesel::CBlob;

namespace {

// The kind of the same provider whose keys are of the sender key's size:
// the CA signs with a 256-bit key also for envelopes of a 512-bit kind.
qn::crypto::eSupportCP kindForSenderKey(qn::crypto::eSupportCP kind, const CBlob& senderKey) {
    using namespace qn::crypto;
    if (senderKey.getSize() < 8) return kind;
    const int alg = senderKey[4] | (senderKey[5] << 8) | (senderKey[6] << 16) | (senderKey[7] << 24);
    if (getPubKeyAlgId(kind) == alg) return kind;
    switch (kind) {
        case CP_CRYPTOPRO_GOST2012_512: return CP_CRYPTOPRO_GOST2012_256;
        case CP_VIPNET_GOST2012_512: return CP_VIPNET_GOST2012_256;
        case CP_JACARTA_GOST2012_512: return CP_JACARTA_GOST2012_256;
        case CP_RUTOKEN_GOST2012_512: return CP_RUTOKEN_GOST2012_256;
        default: return kind;
    }
}

}  // namespace

CHttpGetPacketOutByConvertId::CHttpGetPacketOutByConvertId(const std::string& convertId)
    : CHTTPGetRequest(std::string(kPath) + convertId) {}

int CHttpGetPacketOutByConvertId::decode(CBlob& payload, qn::crypto::eSupportCP kind) {
    CBlob message = getResponse();
    message.moveOffset(0);
    qn::http_transport::KeyExchangeHeader header;
    if (const int r = qn::http_transport::readCryptoHeader(message, header)) return r;
    // A format 1 header carries a GOST 2001 sender key.
    if (header.format == 1) kind = qn::crypto::convertToGost2001(kind);
    kind = kindForSenderKey(kind, header.senderPublicKey);

    qn::crypto::Crypto1By1Connect* raw = nullptr;
    const unsigned opened = qn::crypto::Crypto1By1Connect::init(kind, &raw);
    std::unique_ptr<qn::crypto::Crypto1By1Connect> connection(raw);  // released before returning
    if (opened != ERR_OK) return static_cast<int>(opened);
    if (!connection) return ERR_INTERNAL;
    if (const unsigned r = connection->importPublicKey2Side(header.senderPublicKey)) return static_cast<int>(r);

    const unsigned sigSize = connection->getSzSign();
    const unsigned bodyAt = message.getOffset();
    if (sigSize == 0 || message.getSize() - bodyAt < sigSize) return ERR_PACKET_INTEGRITY;
    if (connection->verifySignMessage(message) != ERR_OK) return ERR_PACKET_INTEGRITY;

    CBlob body(message.getData() + bodyAt, message.getSize() - bodyAt - sigSize);
    if (const int r = readPermanentHeader(body)) return r;
    CBlob card;
    body >> &card;
    if (body.isMalformed()) return ERR_PACKET_DAMAGED;
    card.moveOffset(0);
    payload = std::move(card);
    return ERR_OK;
}
