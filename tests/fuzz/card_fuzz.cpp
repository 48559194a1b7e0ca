// libFuzzer target for the client card reader: any bytes must either be
// refused with a catalog code or give a card that writes back to bytes that
// decode to the same card.
#include <cstddef>
#include <cstdint>

#include "client/CClient.h"
#include "errors/eErrCodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    tesel::CBlob card(data, static_cast<unsigned>(size));
    tesel::CClient client;
    bool converted = false;
    const int r = client.BinaryToPartnerInfo(&card, converted);
    if (r != 0) {
        if (r != ERR_CARD_DAMAGED && r != ERR_PROGRAM_OUTDATED &&
            r != ERR_CARD_VERSION_UNSUPPORTED)
            __builtin_trap();
        return 0;
    }
    tesel::CBlob written = client.PartnerInfoToBinary();
    if (written.isMalformed() || !written.isCompleted()) __builtin_trap();
    tesel::CClient again;
    bool convertedAgain = true;
    if (again.BinaryToPartnerInfo(&written, convertedAgain) != 0 || convertedAgain) __builtin_trap();
    if (!(again == client)) __builtin_trap();
    return 0;
}
