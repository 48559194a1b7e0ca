// The transport message format as the CA peer reads and writes it:
//   "tesel.message" | key exchange header | body | signature
// with the error form "tesel.message" "error=" u32, and the permanent header
// (version, package type, requester type, sender version) at the start of
// every payload.
#pragma once

#include <string>

#include "Bytes.h"
#include "GostEngine.h"

namespace capeer {

inline const std::string kMagic = "tesel.message";
constexpr std::uint32_t kHeaderMarker = 0x32FF8D45;
constexpr std::uint32_t kMaxPacket = 0xA00000;  // 10 MiB and more is refused

// Server error numbers the peer answers with.
enum ServerError : unsigned {
    SE_INTERNAL = 0,
    SE_NOT_REVIEWED = 1,
    SE_MORE_THAN_ONE_ANSWER = 2,
    SE_NOT_FOUND = 3,
    SE_WRONG_ENVELOPE = 4,
    SE_MORE_THAN_ONE_ENVELOPE = 5,
    SE_ENVELOPE_BLOCKED = 6,
    SE_ENVELOPE_ACTIVATED = 7,
    SE_CARD_NOT_ACCEPTED = 8,
    SE_TOO_LARGE = 10,
    SE_ACCESS_DENIED = 12,
    SE_DAMAGED = 13,
};

// One of the CA's keys with its certificate.
struct CaKey {
    int generation = 0;  // 2001 or 2012
    KeyPtr key;
    Bytes blob;          // PUBLICKEYBLOB
    Bytes certificate;   // DER
};

struct KeyHeader {
    std::uint32_t format = 2;
    Bytes sender;
    Bytes recipient;
    Bytes serial;
};

struct OpenedPacket {
    KeyHeader header;
    KeyPtr sender;
    const CaKey* ca = nullptr;  // the CA key the packet was addressed to
    Bytes payload;
};

Bytes errorForm(unsigned serverNumber);
Bytes permanentHeader(std::uint32_t version, std::uint32_t packageType, std::uint32_t requesterType,
                      std::uint32_t senderVersion);

// Checks the sender's signature over magic, header and body, then decrypts
// the body with the CA key the header addresses (format 1: the 2001 key).
// Returns 0, or the server error number to answer with; why says what failed.
unsigned openPacket(const Bytes& packet, const CaKey& ca2001, const CaKey& ca2012, OpenedPacket& out,
                    std::string& why);

// A packet from the CA for the holder of recipientBlob: the payload
// encrypted for that key (or in clear when encrypt is false), signed by the
// CA key. Format 2 for the 2012 key (recipient key and serial carried),
// format 1 for the 2001 key. Empty when the recipient key is unusable.
Bytes buildPacket(const CaKey& ca, const Bytes& recipientBlob, const Bytes& recipientSerial, const Bytes& payload,
                  bool encrypt);

}  // namespace capeer
