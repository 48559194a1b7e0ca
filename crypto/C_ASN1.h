// A small DER encoder: the structures of certification requests and the
// parameter-set OIDs that providers carry. Every element uses the definite
// length form: one byte below 128, otherwise 0x80 + the number of length
// bytes, then the length big-endian.
//
// It lives with the providers because they need OID encodings themselves and
// sit below the certificate code that builds requests with it.
//
// Results are owning blobs. An empty blob means the input could not be
// encoded (malformed OID text, a time outside the UTCTime years, or a result
// beyond 4 GiB).
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "platform/win32.h"

namespace tesel {

class C_ASN1 {
public:
    // String kinds as CryptoAPI numbers them (CERT_RDN_*).
    enum eStringKind : int {
        NUMERIC_STRING = 3,    // tag 0x12
        PRINTABLE_STRING = 4,  // tag 0x13
        IA5_STRING = 7,        // tag 0x16
        BMP_STRING = 12,       // tag 0x1E, UTF-16 written big-endian
        UTF8_STRING = 13,      // tag 0x0C
    };

    // DER OBJECT IDENTIFIER (06, length, content) of dotted decimal text.
    // Arcs may be of any size.
    static CBlob encode_ObjId(const std::string& dotted);

    // String of a kind above into out; 0, or -1 for any other kind (out is
    // then cleared). For BMP_STRING the size bytes at text are UTF-16 code
    // units in memory order (size must be even); for the other kinds the
    // bytes are written as they are.
    static int encodeString(const void* text, unsigned size, int kind, CBlob& out);
    static int encodeString(const std::string& text, int kind, CBlob& out);
    // A zero-terminated UTF-16 text; any kind, BMP_STRING in particular.
    static int encodeString(const WCHAR* text, int kind, CBlob& out);

    // SEQUENCE (30) / SET (31) of the items' bytes in the given order.
    static CBlob encodeSequence(const CBlob* items, unsigned n);
    static CBlob encodeSequence(const std::vector<CBlob>& items);
    static CBlob encodeSet(const CBlob* items, unsigned n);
    static CBlob encodeSet(const std::vector<CBlob>& items);
    // Context tag [0], constructed (A0), around the items.
    static CBlob encodeOptional(const CBlob* items, unsigned n);
    static CBlob encodeOptional(const CBlob& item) { return encodeOptional(&item, 1); }

    static CBlob encodeOctetString(const unsigned char* p, unsigned n);
    static CBlob encodeOctetString(const CBlob& content);
    // BIT STRING (03) with the unused-bits byte 00 before the bytes.
    static CBlob encodeBitString(const unsigned char* p, unsigned n);
    static CBlob encodeBitString(const CBlob& content);
    // INTEGER (02) in the shortest two's complement form.
    static CBlob encodeInteger(long long value);
    static CBlob encodeNULL();
    static CBlob encodeBoolean(bool value);
    // UTCTime (17) "YYMMDDHHMMSSZ"; years 1950 to 2049 only.
    static CBlob encodeUTC_TIME(const SYSTEMTIME& time);

    // Any tag around content bytes.
    static CBlob encodeTLV(unsigned char tag, const unsigned char* p, unsigned n);
    // Bytes that the length field of n content bytes takes.
    static unsigned lengthSize(unsigned n);
};

}  // namespace tesel
