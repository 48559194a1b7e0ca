// End-to-end protection of the packets exchanged with the CA.
//
// A protected packet is the magic, the key exchange header, the body and the
// sender's signature over everything before it:
//   magic | key exchange header | body | signature (getSzSign() bytes)
// The body of an encrypted packet is the connection's encrypted message
// (u32 key blob length, session key blob, u32 IV length, IV, cipher text);
// a signed-only packet carries the payload in clear. The header has format 2
// when the sender's key is a GOST R 34.10-2012 key, else format 1.
//
// Two families: with a connection the caller has paired (encryptAndSign,
// signQnPacket, decryptPacket), and with the local key that a key exchange
// header addresses (encryptSign, signPacket, decrypt), whose connection is
// made and destroyed inside the call.
#pragma once

#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "transport/common/KeyExchangeHeader.h"

namespace qn::http_transport {

// Encrypts payload for the connection's peer and signs the whole packet.
// 3 without a provider; the provider's codes (7, 1, 13) for the encryption,
// 1 when the own public key cannot be read, 12 for the signature.
int encryptAndSign(const tesel::CBlob& payload, qn::crypto::Crypto1By1Connect& connection,
                   tesel::CBlob& packet);

// encryptAndSign, then the packet size limit (25 when the protected packet
// is too large). packet is written only on success.
int encryptAndSignWithinLimit(const tesel::CBlob& payload, qn::crypto::Crypto1By1Connect& connection,
                              tesel::CBlob& packet);

// The same packet with the payload in clear (signed only).
int signQnPacket(const tesel::CBlob& payload, qn::crypto::Crypto1By1Connect& connection,
                 tesel::CBlob& packet);

// Opens a packet whose cursor stands at the start of its body (where
// readCryptoHeader leaves it), with the peer key the caller imported. The
// signature over bytes 0 .. end - getSzSign() is checked first; a packet too
// short to hold its header and a signature, or a bad signature, gives 9
// before anything is decrypted. On success the packet holds the payload,
// cursor 0; on failure it is left as it was. 3 without a provider, 7 and 11
// from the decryption.
int decryptPacket(tesel::CBlob& packet, qn::crypto::Crypto1By1Connect& connection);

// getCrypto for the header, then encryptAndSign / signQnPacket. The header
// may be rewritten by getCrypto (format 1 becomes 2 with the local key).
int encryptSign(const tesel::CBlob& payload, tesel::CBlob& packet, KeyExchangeHeader& header);
int signPacket(const tesel::CBlob& payload, tesel::CBlob& packet, KeyExchangeHeader& header);

// readCryptoHeader into header, getCrypto, decryptPacket; payload receives
// the decrypted payload (permanent header included, cursor 0). The packet
// itself is not changed.
int decrypt(const tesel::CBlob& packet, tesel::CBlob& payload, KeyExchangeHeader& header);
int decrypt(const tesel::CBlob& packet, tesel::CBlob& payload);

// The same on views of the caller's bytes, written into out behind headRoom
// bytes that are the caller's to fill (the reply that carries the result is
// then built around it without copying it). out is written only on
// success.
int encryptAndSignInto(const tesel::BLOB& payload, qn::crypto::Crypto1By1Connect& connection, unsigned headRoom,
                       tesel::CBlob& out);
int signQnPacketInto(const tesel::BLOB& payload, qn::crypto::Crypto1By1Connect& connection, unsigned headRoom,
                     tesel::CBlob& out);
int encryptSignInto(const tesel::BLOB& payload, KeyExchangeHeader& header, unsigned headRoom, tesel::CBlob& out);
int signPacketInto(const tesel::BLOB& payload, KeyExchangeHeader& header, unsigned headRoom, tesel::CBlob& out);
int decryptInto(const tesel::BLOB& packet, KeyExchangeHeader& header, unsigned headRoom, tesel::CBlob& payload);

// The opening of an answer with a caller-chosen connection, up to the
// permanent header: readCryptoHeader of message, import of the header's
// sender key, decryptPacket. When the connection is already paired with a
// peer (the CA), a packet signed by any other key is refused with 9: the
// key in the header is the sender's own claim and proves nothing.
int openWithConnection(tesel::CBlob& message, qn::crypto::Crypto1By1Connect& connection);

}  // namespace qn::http_transport
