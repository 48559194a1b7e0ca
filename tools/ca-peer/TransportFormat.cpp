#include "TransportFormat.h"

namespace capeer {

Bytes errorForm(unsigned serverNumber) {
    Writer w;
    w.raw(kMagic).raw(std::string("error=")).u32(serverNumber);
    return w.take();
}

Bytes permanentHeader(std::uint32_t version, std::uint32_t packageType, std::uint32_t requesterType,
                      std::uint32_t senderVersion) {
    Writer w;
    w.u32(version).u32(packageType).u32(requesterType).u32(senderVersion);
    return w.take();
}

unsigned openPacket(const Bytes& packet, const CaKey& ca2001, const CaKey& ca2012, OpenedPacket& out,
                    std::string& why) {
    if (packet.size() >= kMaxPacket) {
        why = "packet of 10 MiB or more";
        return SE_TOO_LARGE;
    }
    Reader r(packet);
    if (!r.startsWith(kMagic)) {
        why = "no transport magic";
        return SE_DAMAGED;
    }
    r.skip(kMagic.size());
    KeyHeader h;
    Reader peek(packet, r.pos());
    if (peek.u32() == kHeaderMarker) {
        r.u32();
        h.format = r.u32();
        h.sender = r.blob();
        h.recipient = r.blob();
        h.serial = r.blob();
    } else {
        h.format = 1;
        h.sender = r.blob();
    }
    if (r.bad() || (h.format != 1 && h.format != 2)) {
        why = "damaged key exchange header";
        return SE_DAMAGED;
    }
    const CaKey* ca = nullptr;
    if (h.format == 1) {
        ca = &ca2001;
    } else if (sameKey(h.recipient, ca2012.blob)) {
        ca = &ca2012;
    } else if (sameKey(h.recipient, ca2001.blob)) {
        ca = &ca2001;
    } else {
        why = "addressed to a key that is not the CA's";
        return SE_ACCESS_DENIED;
    }
    KeyPtr sender = keyFromBlob(h.sender);
    if (!sender) {
        why = "sender key is not a GOST public key";
        return SE_DAMAGED;
    }
    const std::size_t sigSize = signatureSize(classOf(sender));
    const std::size_t bodyAt = r.pos();
    if (packet.size() < bodyAt + sigSize) {
        why = "packet shorter than its header and signature";
        return SE_DAMAGED;
    }
    const std::size_t signedLen = packet.size() - sigSize;
    const Bytes signedPart(packet.begin(), packet.begin() + static_cast<long>(signedLen));
    const Bytes signature(packet.begin() + static_cast<long>(signedLen), packet.end());
    if (!verify(sender, signedPart, signature)) {
        why = "sender's signature does not verify";
        return SE_DAMAGED;
    }
    const Bytes body(packet.begin() + static_cast<long>(bodyAt), packet.begin() + static_cast<long>(signedLen));
    Bytes payload;
    if (!decryptMessage(ca->key, sender, body, payload)) {
        why = "body does not decrypt with the CA key";
        return SE_DAMAGED;
    }
    out.header = std::move(h);
    out.sender = std::move(sender);
    out.ca = ca;
    out.payload = std::move(payload);
    return 0;
}

Bytes buildPacket(const CaKey& ca, const Bytes& recipientBlob, const Bytes& recipientSerial, const Bytes& payload,
                  bool encrypt) {
    Writer w;
    w.raw(kMagic);
    if (ca.generation == 2012) {
        w.u32(kHeaderMarker).u32(2).blob(ca.blob).blob(recipientBlob).blob(recipientSerial);
    } else {
        w.blob(ca.blob);
    }
    if (encrypt) {
        KeyPtr recipient = keyFromBlob(recipientBlob);
        Bytes body;
        if (!recipient || !encryptMessage(ca.key, recipient, payload, body)) return {};
        w.raw(body);
    } else {
        w.raw(payload);
    }
    Bytes packet = w.take();
    const Bytes signature = sign(ca.key, packet);
    if (signature.empty()) return {};
    packet.insert(packet.end(), signature.begin(), signature.end());
    return packet;
}

}  // namespace capeer
