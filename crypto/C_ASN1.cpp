#include "crypto/C_ASN1.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace tesel {

namespace {

constexpr unsigned char kTagBoolean = 0x01;
constexpr unsigned char kTagInteger = 0x02;
constexpr unsigned char kTagBitString = 0x03;
constexpr unsigned char kTagOctetString = 0x04;
constexpr unsigned char kTagNull = 0x05;
constexpr unsigned char kTagOid = 0x06;
constexpr unsigned char kTagUtf8 = 0x0C;
constexpr unsigned char kTagNumeric = 0x12;
constexpr unsigned char kTagPrintable = 0x13;
constexpr unsigned char kTagIa5 = 0x16;
constexpr unsigned char kTagUtcTime = 0x17;
constexpr unsigned char kTagBmp = 0x1E;
constexpr unsigned char kTagSequence = 0x30;
constexpr unsigned char kTagSet = 0x31;
constexpr unsigned char kTagContext0 = 0xA0;

constexpr std::uint64_t kMaxBlob = std::numeric_limits<std::uint32_t>::max();

// Writes tag and length at the start of out (sized for them); returns the
// header size.
unsigned putHeader(unsigned char* out, unsigned char tag, unsigned n) {
    out[0] = tag;
    const unsigned lenBytes = C_ASN1::lengthSize(n);
    if (lenBytes == 1) {
        out[1] = static_cast<unsigned char>(n);
    } else {
        out[1] = static_cast<unsigned char>(0x80 + lenBytes - 1);
        for (unsigned i = 0; i + 1 < lenBytes; ++i) {
            out[lenBytes - i] = static_cast<unsigned char>(n >> (8 * i));
        }
    }
    return 1 + lenBytes;
}

// A TLV whose content is the concatenation of parts.
CBlob wrap(unsigned char tag, const CBlob* items, unsigned n) {
    std::uint64_t content = 0;
    for (unsigned i = 0; i < n; ++i) {
        content += items[i].getSize();
    }
    if (content > kMaxBlob) {
        return {};
    }
    const unsigned len = static_cast<unsigned>(content);
    const std::uint64_t total = 1 + C_ASN1::lengthSize(len) + content;
    if (total > kMaxBlob) {
        return {};
    }
    CBlob out(static_cast<unsigned>(total));
    unsigned at = putHeader(out.getData(), tag, len);
    for (unsigned i = 0; i < n; ++i) {
        if (items[i].getSize() > 0) {
            std::memcpy(out.getData() + at, items[i].getData(), items[i].getSize());
            at += items[i].getSize();
        }
    }
    return out;
}

// Decimal digit text + small value (both without sign).
std::string addDecimal(const std::string& digits, unsigned add) {
    std::string out = digits;
    unsigned carry = add;
    for (std::size_t i = out.size(); i-- > 0 && carry;) {
        const unsigned d = static_cast<unsigned>(out[i] - '0') + carry;
        out[i] = static_cast<char>('0' + d % 10);
        carry = d / 10;
    }
    while (carry) {
        out.insert(out.begin(), static_cast<char>('0' + carry % 10));
        carry /= 10;
    }
    return out;
}

// Appends the base-128 form of a decimal number of any size (high groups
// first, continuation bit on all but the last).
void appendBase128(std::vector<unsigned char>& out, std::string digits) {
    std::vector<unsigned char> groups;  // least significant first
    std::size_t start = digits.find_first_not_of('0');
    digits = start == std::string::npos ? std::string() : digits.substr(start);
    if (digits.empty()) {
        groups.push_back(0);
    }
    while (!digits.empty()) {
        std::string quotient;
        unsigned rem = 0;
        for (char c : digits) {
            rem = rem * 10 + static_cast<unsigned>(c - '0');
            const unsigned q = rem / 128;
            rem %= 128;
            if (!quotient.empty() || q) {
                quotient.push_back(static_cast<char>('0' + q));
            }
        }
        groups.push_back(static_cast<unsigned char>(rem));
        digits = quotient;
    }
    for (std::size_t i = groups.size(); i-- > 0;) {
        out.push_back(static_cast<unsigned char>(groups[i] | (i > 0 ? 0x80 : 0)));
    }
}

}  // namespace

unsigned C_ASN1::lengthSize(unsigned n) {
    if (n < 0x80) return 1;
    if (n <= 0xFF) return 2;
    if (n <= 0xFFFF) return 3;
    if (n <= 0xFFFFFF) return 4;
    return 5;
}

CBlob C_ASN1::encodeTLV(unsigned char tag, const unsigned char* p, unsigned n) {
    if (n > 0 && p == nullptr) {
        return {};
    }
    const std::uint64_t total = 1ull + lengthSize(n) + n;
    if (total > kMaxBlob) {
        return {};
    }
    CBlob out(static_cast<unsigned>(total));
    const unsigned at = putHeader(out.getData(), tag, n);
    if (n > 0) {
        std::memcpy(out.getData() + at, p, n);
    }
    return out;
}

CBlob C_ASN1::encode_ObjId(const std::string& dotted) {
    std::vector<std::string> arcs(1);
    for (char c : dotted) {
        if (c >= '0' && c <= '9') {
            arcs.back().push_back(c);
        } else if (c == '.' && !arcs.back().empty()) {
            arcs.emplace_back();
        } else {
            return {};
        }
    }
    if (arcs.size() < 2 || arcs.back().empty()) {
        return {};
    }
    // The first two arcs share one subidentifier: 40 * first + second, with
    // first 0, 1 or 2 and second below 40 unless first is 2.
    const std::string& first = arcs[0];
    if (first.size() != 1 || first[0] > '2') {
        return {};
    }
    const unsigned top = static_cast<unsigned>(first[0] - '0');
    const std::size_t secondStart = arcs[1].find_first_not_of('0');
    const std::string second =
        secondStart == std::string::npos ? std::string("0") : arcs[1].substr(secondStart);
    if (top < 2 && (second.size() > 2 || std::stoi(second) > 39)) {
        return {};
    }
    std::vector<unsigned char> content;
    appendBase128(content, addDecimal(second, top * 40));
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        appendBase128(content, arcs[i]);
    }
    if (content.size() > kMaxBlob) {
        return {};
    }
    return encodeTLV(kTagOid, content.data(), static_cast<unsigned>(content.size()));
}

int C_ASN1::encodeString(const void* text, unsigned size, int kind, CBlob& out) {
    out.clear();
    const auto* bytes = static_cast<const unsigned char*>(text);
    if (size > 0 && bytes == nullptr) {
        return -1;
    }
    unsigned char tag = 0;
    switch (kind) {
        case NUMERIC_STRING:
            tag = kTagNumeric;
            break;
        case PRINTABLE_STRING:
            tag = kTagPrintable;
            break;
        case IA5_STRING:
            tag = kTagIa5;
            break;
        case UTF8_STRING:
            tag = kTagUtf8;
            break;
        case BMP_STRING: {
            if (size % 2 != 0) {
                return -1;
            }
            // Each 16-bit unit as stored in memory, written high byte first.
            std::vector<unsigned char> be(size);
            for (unsigned i = 0; i < size; i += 2) {
                std::uint16_t unit;
                std::memcpy(&unit, bytes + i, 2);
                be[i] = static_cast<unsigned char>(unit >> 8);
                be[i + 1] = static_cast<unsigned char>(unit & 0xFF);
            }
            out = encodeTLV(kTagBmp, be.data(), size);
            return 0;
        }
        default:
            return -1;
    }
    out = encodeTLV(tag, bytes, size);
    return 0;
}

int C_ASN1::encodeString(const std::string& text, int kind, CBlob& out) {
    if (text.size() > kMaxBlob) {
        out.clear();
        return -1;
    }
    return encodeString(text.data(), static_cast<unsigned>(text.size()), kind, out);
}

int C_ASN1::encodeString(const WCHAR* text, int kind, CBlob& out) {
    std::size_t units = 0;
    while (text && text[units]) {
        ++units;
    }
    if (units > kMaxBlob / sizeof(WCHAR)) {
        out.clear();
        return -1;
    }
    return encodeString(text, static_cast<unsigned>(units * sizeof(WCHAR)), kind, out);
}

CBlob C_ASN1::encodeSequence(const CBlob* items, unsigned n) { return wrap(kTagSequence, items, n); }

CBlob C_ASN1::encodeSequence(const std::vector<CBlob>& items) {
    return wrap(kTagSequence, items.data(), static_cast<unsigned>(items.size()));
}

CBlob C_ASN1::encodeSet(const CBlob* items, unsigned n) { return wrap(kTagSet, items, n); }

CBlob C_ASN1::encodeSet(const std::vector<CBlob>& items) {
    return wrap(kTagSet, items.data(), static_cast<unsigned>(items.size()));
}

CBlob C_ASN1::encodeOptional(const CBlob* items, unsigned n) { return wrap(kTagContext0, items, n); }

CBlob C_ASN1::encodeOctetString(const unsigned char* p, unsigned n) { return encodeTLV(kTagOctetString, p, n); }

CBlob C_ASN1::encodeOctetString(const CBlob& content) {
    return encodeTLV(kTagOctetString, content.getData(), content.getSize());
}

CBlob C_ASN1::encodeBitString(const unsigned char* p, unsigned n) {
    if (n == std::numeric_limits<unsigned>::max() || (n > 0 && p == nullptr)) {
        return {};
    }
    CBlob content(n + 1);
    content.getData()[0] = 0;  // no unused bits
    if (n > 0) {
        std::memcpy(content.getData() + 1, p, n);
    }
    return encodeTLV(kTagBitString, content.getData(), content.getSize());
}

CBlob C_ASN1::encodeBitString(const CBlob& content) { return encodeBitString(content.getData(), content.getSize()); }

CBlob C_ASN1::encodeInteger(long long value) {
    unsigned char be[8];
    for (int i = 0; i < 8; ++i) {
        be[7 - i] = static_cast<unsigned char>(static_cast<unsigned long long>(value) >> (8 * i));
    }
    // Drop leading bytes that only repeat the sign of the next one.
    unsigned start = 0;
    while (start < 7 && ((be[start] == 0x00 && !(be[start + 1] & 0x80)) ||
                         (be[start] == 0xFF && (be[start + 1] & 0x80)))) {
        ++start;
    }
    return encodeTLV(kTagInteger, be + start, 8 - start);
}

CBlob C_ASN1::encodeNULL() { return encodeTLV(kTagNull, nullptr, 0); }

CBlob C_ASN1::encodeBoolean(bool value) {
    const unsigned char v = value ? 0xFF : 0x00;
    return encodeTLV(kTagBoolean, &v, 1);
}

CBlob C_ASN1::encodeUTC_TIME(const SYSTEMTIME& t) {
    if (t.wYear < 1950 || t.wYear > 2049 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wDay > 31 ||
        t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59) {
        return {};
    }
    const unsigned fields[6] = {static_cast<unsigned>(t.wYear % 100), t.wMonth, t.wDay, t.wHour, t.wMinute,
                                t.wSecond};
    unsigned char text[13];
    for (int i = 0; i < 6; ++i) {
        text[2 * i] = static_cast<unsigned char>('0' + fields[i] / 10);
        text[2 * i + 1] = static_cast<unsigned char>('0' + fields[i] % 10);
    }
    text[12] = 'Z';
    return encodeTLV(kTagUtcTime, text, sizeof text);
}

}  // namespace tesel
