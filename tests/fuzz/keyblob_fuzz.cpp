// libFuzzer target for key blob import with real keys: any bytes given as a
// peer's public key blob, as an encrypted message (session key SIMPLEBLOB
// under the agreed key, IV, cipher text) or as signed data must be refused
// with a code, or accepted only when they are what the key pair made.
//
// The first byte picks the reader: 0 public key blob, 1 encrypted message,
// 2 signed data.
#include <cstddef>
#include <cstdint>

#include "FuzzKeys.h"
#include "FuzzSeeds.h"

using tesel::CBlob;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    auto& k = fuzz_keys::keys();
    fuzz_seeds::write("public-key", 0, k.caPublic);
    CBlob message;
    const unsigned char text[] = "a message for the user key";
    if (k.ca->encryptMessage(CBlob(text, sizeof text), message) == 0) fuzz_seeds::write("encrypted", 1, message);
    CBlob signedData;
    if (k.ca->signMessage(CBlob(text, sizeof text), signedData) == 0) fuzz_seeds::write("signed", 2, signedData);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 18)) return 0;
    auto& k = fuzz_keys::keys();
    const CBlob rest(data + 1, static_cast<unsigned>(size - 1));
    switch (data[0] % 3) {
    case 0: {
        // A connection of its own: a refused import must leave no trace in
        // the pair the other readers use.
        static auto probe = fuzz_keys::newKey("fuzz-probe");
        if (probe->importPublicKey2Side(rest) == 0) {
            // An accepted key must be one that can be used at once.
            CBlob message;
            const unsigned char text[] = "x";
            probe->encryptMessage(CBlob(text, sizeof text), message);
        }
        break;
    }
    case 1: {
        CBlob plain;
        k.user->decryptMessage(rest, plain);
        break;
    }
    default:
        k.user->verifySignMessage(rest);
        break;
    }
    return 0;
}
