#include "transport/common/TransportHeader.h"

#include <atomic>

#include "errors/eErrCodes.h"

using tesel::CBlob;

namespace qn::http_transport {

namespace {

std::atomic<unsigned> g_maxPacketSize{kLibraryMaxPacketSize};

const unsigned char* bytes(const char* text) { return reinterpret_cast<const unsigned char*>(text); }

// The cursor stands behind the magic. Reads the error form if one follows.
int readErrorForm(CBlob& message) {
    if (message.remaining() < kErrorFormSize || !message.isEqual(bytes(kErrorForm), kErrorFormSize))
        return ERR_OK;
    message.forwardOffset(kErrorFormSize);
    unsigned serverNumber = 0;
    message >> serverNumber;
    if (message.isMalformed()) return ERR_UNKNOWN_HEADER;
    return getServerErr(serverNumber);
}

}  // namespace

void setMaxPacketSize(unsigned bytes) { g_maxPacketSize.store(bytes); }

unsigned getMaxPacketSize() { return g_maxPacketSize.load(); }

int isMoreMaxSize(const CBlob& packet) {
    return packet.getSize() >= getMaxPacketSize() ? ERR_PACKET_TOO_LARGE : ERR_OK;
}

int getServerErr(unsigned serverNumber) {
    static constexpr int kCodes[] = {
        ERR_SERVER_INTERNAL,         // 0
        ERR_REQUEST_NOT_REVIEWED,    // 1
        ERR_MORE_THAN_ONE_ANSWER,    // 2
        ERR_SERVER_INTERNAL,         // 3
        ERR_WRONG_ENVELOPE,          // 4
        ERR_MORE_THAN_ONE_ENVELOPE,  // 5
        ERR_ENVELOPE_BLOCKED,        // 6
        ERR_ENVELOPE_ACTIVATED,      // 7
        ERR_CARD_NOT_ACCEPTED_YET,   // 8
        ERR_SERVER_INTERNAL,         // 9
        ERR_PACKET_TOO_LARGE,        // 10
        ERR_INTERNAL,                // 11
        ERR_SERVER_ACCESS_DENIED,    // 12
        ERR_PACKET_DAMAGED,          // 13
    };
    if (serverNumber >= sizeof kCodes / sizeof kCodes[0]) return ERR_SERVER_UNKNOWN_CODE;
    return kCodes[serverNumber];
}

int readHeader(CBlob& message) {
    if (message.isMalformed() || message.remaining() < kMagicSize) return ERR_UNKNOWN_HEADER;
    if (!message.deserializeCompare(bytes(kMagic), kMagicSize)) return ERR_UNKNOWN_HEADER;
    return readErrorForm(message);
}

int readCryptoHeader(CBlob& message, KeyExchangeHeader& header) {
    const int result = readHeader(message);
    if (result != ERR_OK) return result;
    return KeyExchangeHeader::decode(message, header);
}

int createHeader(const CBlob& senderPublicKey, const CBlob& recipientPublicKey,
                 const CBlob& recipientCertSerial, unsigned format, CBlob& out) {
    KeyExchangeHeader header;
    header.format = format;
    header.senderPublicKey = senderPublicKey;
    header.recipientPublicKey = recipientPublicKey;
    header.recipientCertSerial = recipientCertSerial;
    CBlob keys;
    const int result = header >> keys;
    if (result != ERR_OK) return result;
    CBlob message(kMagicSize + keys.getSize());
    message.serialize(kMagic, kMagicSize);
    message.serialize(keys.getData(), keys.getSize());
    out = std::move(message);
    return ERR_OK;
}

int checkErrorInHeader(const CBlob& message) {
    CBlob copy(message.getData(), message.getSize());
    if (copy.getSize() < kMagicSize) return ERR_UNKNOWN_HEADER;
    copy.moveOffset(kMagicSize);
    return readErrorForm(copy);
}

int readPermanentHeader(CBlob& payload, unsigned& version, tesel::PackageType& packageType,
                        tesel::eQuorinType& requesterType, unsigned& senderVersion) {
    unsigned v = 0, type = 0, requester = 0, sender = 0;
    payload >> v >> type >> requester >> sender;
    if (payload.isMalformed()) return ERR_PACKET_DAMAGED;
    version = v;
    packageType = static_cast<tesel::PackageType>(type);
    requesterType = static_cast<tesel::eQuorinType>(requester);
    senderVersion = sender;
    return ERR_OK;
}

}  // namespace qn::http_transport
