// libFuzzer target for the transport header readers: any bytes must be
// answered with a known code, never read past the message, and a header that
// reads back must write the very bytes it was read from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>

#include "transport/common/KeyExchangeHeader.h"
#include "transport/common/TransportHeader.h"

namespace qt = qn::http_transport;

namespace {

const std::set<int>& knownCodes() {
    static const std::set<int> codes = [] {
        std::set<int> c{0, 6};
        for (unsigned n = 0; n < 64; ++n) c.insert(qt::getServerErr(n));
        c.insert(qt::getServerErr(0xFFFFFFFFu));
        return c;
    }();
    return codes;
}

void expectKnown(int code) {
    if (!knownCodes().count(code)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const tesel::CBlob input(data, static_cast<unsigned>(size));

    expectKnown(qt::checkErrorInHeader(input));

    tesel::CBlob message(input);
    qt::KeyExchangeHeader header;
    const int r = qt::readCryptoHeader(message, header);
    expectKnown(r);
    if (r == 0) {
        if (message.getOffset() > message.getSize()) __builtin_trap();
        static const std::uint8_t marker[4] = {0x45, 0x8D, 0xFF, 0x32};
        const bool markerRead = size >= qt::kMagicSize + 4 &&
                                std::memcmp(data + qt::kMagicSize, marker, 4) == 0;
        const unsigned format = header.format;
        // A marked header may carry any format number; only the two that
        // match their wire shape can be written back unchanged.
        if ((format == 2 && markerRead) || (format == 1 && !markerRead)) {
            tesel::CBlob written;
            if (qt::createHeader(header.senderPublicKey, header.recipientPublicKey,
                                 header.recipientCertSerial, format, written) != 0)
                __builtin_trap();
            if (written.getSize() != message.getOffset() ||
                std::memcmp(written.getData(), data, written.getSize()) != 0)
                __builtin_trap();
        }
    }

    tesel::CBlob payload(input);
    unsigned version = 7, senderVersion = 7;
    tesel::PackageType type{};
    tesel::eQuorinType requester{};
    const int p = qt::readPermanentHeader(payload, version, type, requester, senderVersion);
    if (p != 0 && p != 20) __builtin_trap();
    if (p == 20 && (version != 7 || senderVersion != 7)) __builtin_trap();
    return 0;
}
