// The outer form of every message exchanged with the CA transport server:
// the 13-byte magic "tesel.message", then either the server's error form
// ("error=" and a 32-bit server error number), a key exchange header with a
// protected body, or a plain answer. Also the permanent header at the start
// of every payload and the size limit of an outgoing packet.
//
// Readers never run past the end of a message: a header whose fields do not
// fit is reported as 6 (unknown header), a payload whose fields do not fit
// as 20 (damaged packet).
#pragma once

#include "core/CBlob.h"
#include "core/eQuorinType.h"
#include "core/export.h"
#include "transport/common/KeyExchangeHeader.h"
#include "transport/common/PackageType.h"

namespace qn::http_transport {

inline constexpr char kMagic[] = "tesel.message";
inline constexpr unsigned kMagicSize = sizeof(kMagic) - 1;  // 13, no terminator
inline constexpr char kErrorForm[] = "error=";
inline constexpr unsigned kErrorFormSize = sizeof(kErrorForm) - 1;  // 6
inline constexpr unsigned kPermanentHeaderSize = 16;

// Packets of this size or larger are too large to send. The program allows
// 10 MiB, the update library 5 MiB; the limit in force is process-wide.
inline constexpr unsigned kProgramMaxPacketSize = 0xA00000;
inline constexpr unsigned kLibraryMaxPacketSize = 0x500000;

// The limit starts as the library's; the program raises it to its own when
// its transport layer is loaded (transport/TransportServer.cpp).
UPD_QN_API void setMaxPacketSize(unsigned bytes);
UPD_QN_API unsigned getMaxPacketSize();

// 0 if the packet is below the limit, else 25.
UPD_QN_API int isMoreMaxSize(const tesel::CBlob& packet);

// Catalog code for a server error number: 0, 3, 9 -> 22; 1 -> 23; 2 -> 24;
// 4 -> 26; 5 -> 27; 6 -> 29; 7 -> 28; 8 -> 30; 10 -> 25; 11 -> 1; 12 -> 19;
// 13 -> 20; 14 and above -> 32.
UPD_QN_API int getServerErr(unsigned serverNumber);

// Checks the magic at the cursor and leaves the cursor behind it. Returns 6
// when the message is shorter than the magic or starts differently, the
// mapped server error when the error form follows, else 0. Fewer than six
// bytes after the magic never count as an error form.
UPD_QN_API int readHeader(tesel::CBlob& message);

// readHeader, then the key exchange header; leaves the cursor at the start
// of the protected body.
UPD_QN_API int readCryptoHeader(tesel::CBlob& message, KeyExchangeHeader& header);

// Replaces out with the magic followed by a key exchange header of the given
// format. Returns 0, or 1 for a format other than 1 and 2.
UPD_QN_API int createHeader(const tesel::CBlob& senderPublicKey,
                            const tesel::CBlob& recipientPublicKey,
                            const tesel::CBlob& recipientCertSerial, unsigned format,
                            tesel::CBlob& out);

// The update agent's reader of a downloaded file: works on a copy, returns 6
// when the message is shorter than the magic, skips the magic's length
// without comparing it, and returns the mapped server error when the error
// form follows; otherwise 0.
UPD_QN_API int checkErrorInHeader(const tesel::CBlob& message);

// Reads the permanent header at the cursor, in wire order. Returns 0, or 20
// when the payload is too short (the outputs are then left unchanged).
UPD_QN_API int readPermanentHeader(tesel::CBlob& payload, unsigned& version,
                                   tesel::PackageType& packageType,
                                   tesel::eQuorinType& requesterType, unsigned& senderVersion);

}  // namespace qn::http_transport
