// libFuzzer target for the readers of CA packets, with real keys: the
// transport header, the signature check and decryption of a protected packet
// (decryptPacket, openWithConnection, decryptPacketOut,
// CPacketOutRequest::decode) and the payload readers behind them.
//
// The first byte picks what the rest is:
//   0  a packet as a server would send it (its signature rarely verifies);
//   1  a packet whose last 64 bytes are replaced by the CA key's real
//      signature, so that decryption of any body is reached;
//   2  a payload that the CA key encrypts and signs properly, so that the
//      readers behind the decryption see any payload.
// Every reader must answer with a code and never read past its input.
#include <cstddef>
#include <cstdint>

#include "FuzzKeys.h"
#include "FuzzSeeds.h"
#include "transport/CPacketOutRequest.h"
#include "transport/PacketProtection.h"
#include "transport/PayloadReaders.h"
#include "transport/common/TransportHeader.h"

namespace qt = qn::http_transport;
using tesel::CBlob;

namespace {

tesel::CBlob payloadWithHeader(const char* body) {
    CBlob p;
    const unsigned char header[16] = {1, 0, 0, 0, 5, 0, 0, 0, 3, 0, 0, 0, 0x9c, 0x8b, 0x01, 0};
    p.add(header, sizeof header);
    p.add(reinterpret_cast<const unsigned char*>(body), static_cast<unsigned>(std::char_traits<char>::length(body)));
    return p;
}

void readAll(const CBlob& packet) {
    auto& k = fuzz_keys::keys();
    {
        CBlob message(packet);
        qt::KeyExchangeHeader header;
        if (qt::readCryptoHeader(message, header) == 0) {
            qt::decryptPacket(message, *k.user);
        }
    }
    {
        CBlob message(packet);
        if (qt::openWithConnection(message, *k.user) == 0) {
            unsigned version = 0, sender = 0;
            tesel::PackageType type{};
            tesel::eQuorinType requester{};
            if (qt::readPermanentHeader(message, version, type, requester, sender) == 0) {
                CBlob afterHeader(message);
                AddInfoProlongKey prolong;
                parseProlongClientCard(afterHeader, static_cast<int>(version), prolong);
                CBlob again(message);
                AddInfoClientCard card;
                parsePartnerClientCard(again, card);
            }
        }
    }
    {
        CBlob out;
        qt::decryptPacketOut(packet, out, *k.user);
    }
    {
        CPacketOutRequest request("00000000-0000-0000-0000-000000000000");
        request.setResponse(packet);
        CBlob payload;
        request.decode(payload, *k.user);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    auto& k = fuzz_keys::keys();
    CBlob packet;
    if (qt::encryptAndSign(payloadWithHeader("answer"), *k.ca, packet) == 0) {
        fuzz_seeds::write("packet-encrypted", 0, packet);
        fuzz_seeds::write("packet-resign", 1, packet);
    }
    if (qt::signQnPacket(payloadWithHeader("signed only"), *k.ca, packet) == 0)
        fuzz_seeds::write("packet-signed", 0, packet);
    fuzz_seeds::write("payload", 2, payloadWithHeader("\x04\x00\x00\x00blob"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 18)) return 0;
    auto& k = fuzz_keys::keys();
    CBlob rest(data + 1, static_cast<unsigned>(size - 1));
    switch (data[0] % 3) {
    case 0:
        readAll(rest);
        break;
    case 1: {
        const unsigned sig = k.ca->getSzSign();
        if (rest.getSize() < sig) return 0;
        const CBlob signedPart(rest.getData(), rest.getSize() - sig);
        CBlob packet;  // the bytes followed by their signature
        if (k.ca->signMessage(signedPart, packet) != 0) return 0;
        readAll(packet);
        break;
    }
    default: {
        CBlob packet;
        if (qt::encryptAndSign(rest, *k.ca, packet) == 0) readAll(packet);
        break;
    }
    }
    return 0;
}
