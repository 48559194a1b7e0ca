#include "transport/PacketProtection.h"

#include <cstring>

#include "crypto/CACertStore.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"
#include "transport/common/TransportHeader.h"

using qn::crypto::Crypto1By1Connect;
using tesel::CBlob;

namespace qn::http_transport {

namespace {

// The shared transport code starts with the update library's packet limit;
// wherever the program protects packets, its own 10 MiB limit applies (as it
// does once transport/TransportServer.cpp is linked).
const bool g_programPacketLimit = [] {
    setMaxPacketSize(kProgramMaxPacketSize);
    return true;
}();

constexpr unsigned kFormat2001 = 1;
constexpr unsigned kFormat2012 = 2;

// Magic, key exchange header and body in one buffer of the exact size; the
// signature is appended by the provider.
int buildSigned(const CBlob& body, Crypto1By1Connect& connection, CBlob& packet) {
    CBlob own;
    if (const unsigned r = connection.getPublicKey(own)) return static_cast<int>(r);
    const qn::crypto::Crypto2SideInfo peer = connection.get2SideInfo();
    const unsigned format =
        qn::crypto::getGostCrypto(connection.getCSP()) == qn::crypto::GOST_2012 ? kFormat2012 : kFormat2001;
    CBlob head;
    if (const int r = createHeader(own, peer.getPublicKeyBlob(), peer.getCertSN(), format, head)) return r;

    CBlob content(head.getSize() + body.getSize());
    content.serialize(head.getData(), head.getSize());
    content.serialize(body.getData(), body.getSize());
    CBlob signedPacket;
    if (const unsigned r = connection.signMessage(content, signedPacket)) return static_cast<int>(r);
    signedPacket.moveOffset(0);
    packet = std::move(signedPacket);
    return ERR_OK;
}

// The value part of a public key blob: aiKeyAlg and the key bytes behind the
// parameters (BitLen / 8 bytes at the end). Parameter encodings of the same
// key may differ between a certificate and a provider's export.
bool sameKey(const CBlob& a, const CBlob& b) {
    if (a == b) return true;
    auto keyLen = [](const CBlob& k) -> unsigned {
        if (k.getSize() < 16) return 0;
        const unsigned char* p = k.getData();
        const unsigned bits = p[12] | (p[13] << 8) | (p[14] << 16) | (static_cast<unsigned>(p[15]) << 24);
        const unsigned n = bits / 8;
        return n > 0 && n <= k.getSize() - 16 ? n : 0;
    };
    const unsigned na = keyLen(a), nb = keyLen(b);
    if (na == 0 || na != nb) return false;
    return std::memcmp(a.getData() + 4, b.getData() + 4, 4) == 0 &&
           std::memcmp(a.getData() + a.getSize() - na, b.getData() + b.getSize() - nb, na) == 0;
}

}  // namespace

int encryptAndSign(const CBlob& payload, Crypto1By1Connect& connection, CBlob& packet) {
    if (!connection.isValid()) return ERR_CSP_NOT_INITIALIZED;
    CBlob body;
    if (const unsigned r = connection.encryptMessage(payload, body)) return static_cast<int>(r);
    return buildSigned(body, connection, packet);
}

int encryptAndSignWithinLimit(const CBlob& payload, Crypto1By1Connect& connection, CBlob& packet) {
    CBlob protectedPacket;
    if (const int r = encryptAndSign(payload, connection, protectedPacket)) return r;
    if (const int r = isMoreMaxSize(protectedPacket)) return r;
    packet = std::move(protectedPacket);
    return ERR_OK;
}

int signQnPacket(const CBlob& payload, Crypto1By1Connect& connection, CBlob& packet) {
    if (!connection.isValid()) return ERR_CSP_NOT_INITIALIZED;
    return buildSigned(payload, connection, packet);
}

int decryptPacket(CBlob& packet, Crypto1By1Connect& connection) {
    if (!connection.isValid()) return ERR_CSP_NOT_INITIALIZED;
    const unsigned sigSize = connection.getSzSign();
    const unsigned offset = packet.getOffset();
    const unsigned size = packet.getSize();
    // The signature must fit behind the header; nothing is decrypted before
    // the whole packet is known to be the sender's.
    if (sigSize == 0 || packet.isMalformed() || offset > size || size - offset < sigSize)
        return ERR_PACKET_INTEGRITY;
    if (const unsigned r = connection.verifySignMessage(packet))
        return r == ERR_CSP_NOT_INITIALIZED ? ERR_CSP_NOT_INITIALIZED : ERR_PACKET_INTEGRITY;

    const CBlob body(packet.getData() + offset, size - offset - sigSize);
    CBlob plain;
    if (const unsigned r = connection.decryptMessage(body, plain)) return static_cast<int>(r);
    plain.moveOffset(0);
    packet = std::move(plain);
    return ERR_OK;
}

int encryptSign(const CBlob& payload, CBlob& packet, KeyExchangeHeader& header) {
    Crypto1By1Connect connection;
    if (const unsigned r = qn::crypto::getCrypto(header, connection)) return static_cast<int>(r);
    return encryptAndSign(payload, connection, packet);
}

int signPacket(const CBlob& payload, CBlob& packet, KeyExchangeHeader& header) {
    Crypto1By1Connect connection;
    if (const unsigned r = qn::crypto::getCrypto(header, connection)) return static_cast<int>(r);
    return signQnPacket(payload, connection, packet);
}

int decrypt(const CBlob& packet, CBlob& payload, KeyExchangeHeader& header) {
    CBlob work(packet.getData(), packet.getSize());
    if (const int r = readCryptoHeader(work, header)) return r;
    Crypto1By1Connect connection;
    if (const unsigned r = qn::crypto::getCrypto(header, connection)) return static_cast<int>(r);
    if (const int r = decryptPacket(work, connection)) return r;
    payload = std::move(work);
    return ERR_OK;
}

int decrypt(const CBlob& packet, CBlob& payload) {
    KeyExchangeHeader header;
    return decrypt(packet, payload, header);
}

int openWithConnection(CBlob& message, Crypto1By1Connect& connection) {
    KeyExchangeHeader header;
    if (const int r = readCryptoHeader(message, header)) return r;
    const CBlob paired = connection.get2SideInfo().getPublicKeyBlob();
    if (!paired.isEmpty() && !sameKey(paired, header.senderPublicKey)) return ERR_PACKET_INTEGRITY;
    if (const unsigned r = connection.importPublicKey2Side(header.senderPublicKey)) return static_cast<int>(r);
    return decryptPacket(message, connection);
}

}  // namespace qn::http_transport
