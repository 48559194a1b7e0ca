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

// Magic and key exchange header for the connection's keys: sender = own
// public key, recipient = the peer's key and certificate serial number.
int makeHead(Crypto1By1Connect& connection, CBlob& head) {
    CBlob own;
    if (const unsigned r = connection.getPublicKey(own)) return static_cast<int>(r);
    const qn::crypto::Crypto2SideInfo peer = connection.get2SideInfo();
    const unsigned format =
        qn::crypto::getGostCrypto(connection.getCSP()) == qn::crypto::GOST_2012 ? kFormat2012 : kFormat2001;
    return createHeader(own, peer.getPublicKeyBlob(), peer.getCertSN(), format, head);
}

// Behind the caller's first `from` bytes, out holds head, body and room for
// the signature at its end: the signature over the packet before it is
// written there. Nothing is copied: a packet of megabytes is hashed where it
// lies.
int signInPlace(Crypto1By1Connect& connection, unsigned from, CBlob& out) {
    const unsigned sigSize = connection.getSzSign();
    if (sigSize == 0 || out.getSize() < from || out.getSize() - from < sigSize) return ERR_SIGN;
    const unsigned signedSize = out.getSize() - from - sigSize;
    unsigned char* packet = out.getData() + from;
    if (const unsigned r = connection.signData(packet, signedSize, packet + signedSize)) return static_cast<int>(r);
    out.moveOffset(0);
    return ERR_OK;
}

// Checks the signature over the whole packet and decrypts the body that
// starts at offset (in front of the signature) into plain, behind headRoom
// bytes of the caller's. plain is written only on success.
int openBody(const tesel::BLOB& packet, unsigned offset, Crypto1By1Connect& connection, unsigned headRoom,
             CBlob& plain) {
    if (!connection.isValid()) return ERR_CSP_NOT_INITIALIZED;
    const unsigned sigSize = connection.getSzSign();
    const unsigned size = packet.cbData;
    // The signature must fit behind the header; nothing is decrypted before
    // the whole packet is known to be the sender's.
    if (sigSize == 0 || offset > size || size - offset < sigSize) return ERR_PACKET_INTEGRITY;
    if (const unsigned r = connection.verifySignData(packet))
        return r == ERR_CSP_NOT_INITIALIZED ? ERR_CSP_NOT_INITIALIZED : ERR_PACKET_INTEGRITY;
    CBlob out;
    const tesel::BLOB body{size - offset - sigSize, packet.pbData + offset};
    if (const unsigned r = connection.decryptMessageInto(body, headRoom, out)) return static_cast<int>(r);
    out.moveOffset(0);
    plain = std::move(out);  // may replace the buffer packet views: it is no longer read
    return ERR_OK;
}

// Bytes of the magic and the key exchange header at the start of packet as
// their length fields give them, or the whole packet when the fields do not
// fit (the header reader then reports the damage): what the header reader
// has to see, without copying the body behind it.
unsigned headerExtent(const tesel::BLOB& packet) {
    const unsigned size = packet.cbData;
    const unsigned char* p = packet.pbData;
    auto le32 = [p](unsigned at) {
        return p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | (static_cast<unsigned>(p[at + 3]) << 24);
    };
    unsigned at = kMagicSize;
    if (size < at + 4) return size;
    unsigned blobs = 1;
    if (le32(at) == KeyExchangeHeader::kMarker) {
        at += 8;
        blobs = 3;
    }
    for (unsigned i = 0; i < blobs; ++i) {
        if (size < at || size - at < 4) return size;
        const unsigned n = le32(at);
        if (n > size - at - 4) return size;
        at += 4 + n;
    }
    return at;
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

int encryptAndSignInto(const tesel::BLOB& payload, Crypto1By1Connect& connection, unsigned headRoom, CBlob& out) {
    if (!connection.isValid()) return ERR_CSP_NOT_INITIALIZED;
    CBlob head;
    if (const int r = makeHead(connection, head)) {
        // The steps run encryption first: its failure is the one reported.
        CBlob body;
        if (const unsigned e = connection.encryptMessageInto(payload, 0, 0, body)) return static_cast<int>(e);
        return r;
    }
    // Header, encrypted body and signature in one buffer of the final size.
    CBlob made;
    if (const unsigned r = connection.encryptMessageInto(payload, headRoom + head.getSize(), connection.getSzSign(), made))
        return static_cast<int>(r);
    std::memcpy(made.getData() + headRoom, head.getData(), head.getSize());
    if (const int r = signInPlace(connection, headRoom, made)) return r;
    out = std::move(made);
    return ERR_OK;
}

int encryptAndSign(const CBlob& payload, Crypto1By1Connect& connection, CBlob& packet) {
    return encryptAndSignInto(payload.getBLOB(), connection, 0, packet);
}

int encryptAndSignWithinLimit(const CBlob& payload, Crypto1By1Connect& connection, CBlob& packet) {
    CBlob protectedPacket;
    if (const int r = encryptAndSign(payload, connection, protectedPacket)) return r;
    if (const int r = isMoreMaxSize(protectedPacket)) return r;
    packet = std::move(protectedPacket);
    return ERR_OK;
}

int signQnPacketInto(const tesel::BLOB& payload, Crypto1By1Connect& connection, unsigned headRoom, CBlob& out) {
    if (!connection.isValid()) return ERR_CSP_NOT_INITIALIZED;
    CBlob head;
    if (const int r = makeHead(connection, head)) return r;
    CBlob made(headRoom + head.getSize() + payload.cbData + connection.getSzSign());
    made.moveOffset(headRoom);
    made.serialize(head.getData(), head.getSize());
    if (payload.cbData > 0) made.serialize(payload.pbData, payload.cbData);
    if (const int r = signInPlace(connection, headRoom, made)) return r;
    out = std::move(made);
    return ERR_OK;
}

int signQnPacket(const CBlob& payload, Crypto1By1Connect& connection, CBlob& packet) {
    return signQnPacketInto(payload.getBLOB(), connection, 0, packet);
}

int decryptPacket(CBlob& packet, Crypto1By1Connect& connection) {
    if (packet.isMalformed()) return ERR_PACKET_INTEGRITY;
    return openBody(packet.getBLOB(), packet.getOffset(), connection, 0, packet);
}

int encryptSignInto(const tesel::BLOB& payload, KeyExchangeHeader& header, unsigned headRoom, CBlob& out) {
    Crypto1By1Connect connection;
    if (const unsigned r = qn::crypto::getCrypto(header, connection)) return static_cast<int>(r);
    return encryptAndSignInto(payload, connection, headRoom, out);
}

int signPacketInto(const tesel::BLOB& payload, KeyExchangeHeader& header, unsigned headRoom, CBlob& out) {
    Crypto1By1Connect connection;
    if (const unsigned r = qn::crypto::getCrypto(header, connection)) return static_cast<int>(r);
    return signQnPacketInto(payload, connection, headRoom, out);
}

int encryptSign(const CBlob& payload, CBlob& packet, KeyExchangeHeader& header) {
    return encryptSignInto(payload.getBLOB(), header, 0, packet);
}

int signPacket(const CBlob& payload, CBlob& packet, KeyExchangeHeader& header) {
    return signPacketInto(payload.getBLOB(), header, 0, packet);
}

int decryptInto(const tesel::BLOB& packet, KeyExchangeHeader& header, unsigned headRoom, CBlob& payload) {
    // Only the header is copied to be read; the body is opened where it is.
    CBlob head(packet.pbData, headerExtent(packet));
    if (const int r = readCryptoHeader(head, header)) return r;
    Crypto1By1Connect connection;
    if (const unsigned r = qn::crypto::getCrypto(header, connection)) return static_cast<int>(r);
    return openBody(packet, head.getOffset(), connection, headRoom, payload);
}

int decrypt(const CBlob& packet, CBlob& payload, KeyExchangeHeader& header) {
    if (packet.isMalformed()) return ERR_PACKET_INTEGRITY;  // a packet that was not read whole is not opened
    return decryptInto(packet.getBLOB(), header, 0, payload);
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
