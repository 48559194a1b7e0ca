// The byte form of the client card (current version 106) and the conversion
// of the older versions 104 and 105.
//
// Writing goes through one layout description (CClientCodec::writeCard) that
// is run twice: once with a sink that only adds up sizes, then, after the one
// allocation of exactly that size, with a sink that serializes. Nested
// records know their length the same way, so the sizes cannot disagree.
//
// Reading takes the fields out in order into a fresh card and checks the
// blob's sticky malformed flag once per record; the target card is replaced
// only when everything has been read.
#include <cstdint>
#include <limits>
#include <utility>

#include "client/CClient.h"
#include "errors/eErrCodes.h"

namespace tesel {

namespace {

constexpr unsigned char kCardMarkerBytes[4] = {0x1D, 0xF1, 0xDE, 0x34};
constexpr unsigned char kPassportMarkerBytes[4] = {0x2D, 0xF5, 0xD3, 0xE3};
constexpr unsigned kHeaderSize = 8;
constexpr unsigned kVersion104 = 104;
constexpr unsigned kVersion105 = 105;
// Version 105 kept a company name only up to this many bytes.
constexpr std::size_t kMaxCompanyName105 = 64;
// Strings and times of a version-104/105 card between its first two and its
// last two u32 fields before the place of the validity period.
constexpr int kPrefixedItemsBeforePeriod = 25;

static_assert(CClient::kCardMarker == (kCardMarkerBytes[0] | kCardMarkerBytes[1] << 8 |
                                       kCardMarkerBytes[2] << 16 |
                                       static_cast<unsigned>(kCardMarkerBytes[3]) << 24));
static_assert(CClient::kPassportMarker ==
              (kPassportMarkerBytes[0] | kPassportMarkerBytes[1] << 8 |
               kPassportMarkerBytes[2] << 16 | static_cast<unsigned>(kPassportMarkerBytes[3]) << 24));

// First pass: adds up the encoded size of the fields.
class SizeSink {
public:
    void u32(unsigned) { total += 4; }
    void flag(bool) { total += 1; }
    void str(const std::string& s) { total += 4 + static_cast<std::uint64_t>(s.size()); }
    void time(const SYSTEMTIME&) { total += CBlob::sizeOfSystemTime(); }
    void raw(const unsigned char*, unsigned n) { total += n; }
    void blob(const CBlob& b) { total += 4 + static_cast<std::uint64_t>(b.getSize()); }
    void period(const CertValidityPeriod& p) { total += 4 + static_cast<std::uint64_t>(p.recordSize()); }
    // A length-prefixed record whose fields `body` produces.
    template <class Body>
    void nested(Body&& body) {
        SizeSink inner;
        body(inner);
        total += 4 + inner.total;
    }

    std::uint64_t total = 0;
};

// Second pass: serializes into a blob of exactly the computed size.
class WriteSink {
public:
    explicit WriteSink(CBlob& out) : m_out(out) {}
    void u32(unsigned v) { m_out.serialize(v); }
    void flag(bool v) { m_out.serialize(v); }
    void str(const std::string& s) { m_out.serialize(s); }
    void time(const SYSTEMTIME& t) { m_out.serialize(&t); }
    void raw(const unsigned char* p, unsigned n) { m_out.serialize(p, n); }
    void blob(const CBlob& b) { m_out.serialize(&b); }
    void period(const CertValidityPeriod& p) {
        m_out.serialize(p.recordSize());
        p.serializeTo(m_out);
    }
    template <class Body>
    void nested(Body&& body) {
        SizeSink inner;
        body(inner);
        m_out.serialize(static_cast<unsigned>(inner.total));
        body(*this);
    }

private:
    CBlob& m_out;
};

CBlob failedBlob() {
    CBlob b;
    b.markMalformed();
    return b;
}

// Runs `layout` for size, allocates once, runs it again to write. A record
// that would not fit a 32-bit size gives an empty blob marked malformed.
template <class Layout>
CBlob encode(Layout&& layout) {
    SizeSink size;
    layout(size);
    if (size.total > std::numeric_limits<std::uint32_t>::max()) return failedBlob();
    CBlob out(static_cast<unsigned>(size.total));
    WriteSink writer(out);
    layout(writer);
    if (out.isMalformed() || !out.isCompleted()) return failedBlob();
    return out;
}

std::string readString(CBlob& in) {
    std::string s;
    in.deserialize(&s);
    return s;
}

unsigned readU32(CBlob& in) {
    unsigned v = 0;
    in.deserialize(v);
    return v;
}

SYSTEMTIME readTime(CBlob& in) {
    SYSTEMTIME t{};
    in.deserialize(&t);
    return t;
}

}  // namespace

// Friend of CClient: the layouts need every field.
class CClientCodec {
public:
    template <class Sink>
    static void writePassport(const Passport& p, Sink& s) {
        s.raw(kPassportMarkerBytes, 4);
        s.nested([&](auto& in) {
            in.u32(static_cast<unsigned>(p.getDocType()));
            in.str(p.getSeries());
            in.str(p.getNumber());
            in.str(p.getIssuer());
            in.str(p.getDivisionCode());
            in.u32(static_cast<unsigned>(p.getSex()));
            in.time(p.getIssueDate());
            in.str(p.getPlaceBirth());
            in.time(p.getBirtday());
        });
    }

    template <class Sink>
    static void writePurposes(const CClient& c, Sink& s, bool webForm) {
        if (webForm) {
            for (const std::string& oid : c.m_enhOids) s.str(oid);
        } else {
            for (eEnhKeyOID oid : c.m_addOids) s.u32(static_cast<unsigned>(oid));
        }
    }

    template <class Sink>
    static void writeCard(const CClient& c, Sink& s, bool webForm) {
        s.raw(kCardMarkerBytes, 4);
        s.u32(CClient::getCardVersion());
        s.u32(static_cast<unsigned>(c.m_clientType));
        s.flag(c.AP_WithoutStamp);
        s.str(c.getINN());
        s.str(c.m_ogrn);
        s.str(c.m_kpp);
        s.str(c.m_companyName);
        s.str(c.getSurname());
        s.str(c.getName());
        s.str(c.getPatronymic());
        s.str(c.getSNILS());
        s.str(c.getPosition());
        writePassport(c.getPassport(), s);
        s.str(c.m_phone);
        s.str(c.getEmail());
        s.str(c.m_address.getRegion());
        s.str(c.m_address.getCity());
        s.str(c.m_address.getStreet());
        s.str(c.m_address.getHouse());
        s.str(c.m_address.getKorpus());
        s.str(c.m_address.getApartment());
        s.str(c.m_comment);
        s.str(c.m_convertId);
        s.u32(static_cast<unsigned>(c.m_template));
        s.u32(static_cast<unsigned>(c.m_csp));
        s.period(c.m_period);
        s.nested([&](auto& in) { writePurposes(c, in, webForm); });
        for (const sAttachment& a : c.m_attachments) {
            s.u32(static_cast<unsigned>(a.type));
            s.str(a.name);
            s.blob(a.data);
        }
    }

    // Fields 3 to 28 and the attachments of a version-106 card, from offset 8.
    static int readCurrent(CBlob& in, CClient& c) {
        in.moveOffset(kHeaderSize);
        c.m_clientType = static_cast<eTypeSubject>(readU32(in));
        in.deserialize(c.AP_WithoutStamp);
        c.setINN(readString(in));
        c.m_ogrn = readString(in);
        c.m_kpp = readString(in);
        c.m_companyName = readString(in);
        c.setSurname(readString(in));
        c.setName(readString(in));
        c.setPatronymic(readString(in));
        c.setSNILS(readString(in));
        c.setPosition(readString(in));
        if (c.deserializePassportInfo(&in) != 0) return ERR_CARD_DAMAGED;
        c.m_phone = readString(in);
        c.setEmail(readString(in));
        readAddressAndComment(in, c);
        c.m_template = static_cast<eCertTemplate>(readU32(in));
        c.m_csp = static_cast<qn::crypto::eSupportCP>(readU32(in));
        return readTail(in, c);
    }

    // A version-105 card (from offset 8) into c, which holds the defaults.
    static int readVersion105(CBlob& in, CClient& c) {
        in.moveOffset(kHeaderSize);
        readU32(in);  // not used any more
        c.m_clientType = static_cast<eTypeSubject>(readU32(in));
        c.setINN(readString(in));
        c.m_ogrn = readString(in);
        c.m_kpp = readString(in);
        std::string company = readString(in);
        if (company.size() <= kMaxCompanyName105) c.m_companyName = std::move(company);
        c.setSurname(readString(in));
        c.setName(readString(in));
        c.setPatronymic(readString(in));
        c.setSNILS(readString(in));
        c.setPosition(readString(in));
        Passport& p = c.getPassport();
        p.setSeries(readString(in));
        p.setNumber(readString(in));
        p.setIssuer(readString(in));
        p.setIssueDate(readTime(in));
        p.setPlaceBirth(readString(in));
        p.setBirtday(readTime(in));
        c.m_phone = readString(in);
        c.setEmail(readString(in));
        readAddressAndComment(in, c);
        readU32(in);  // not used any more
        c.m_template = static_cast<eCertTemplate>(readU32(in));
        return readTail(in, c);
    }

    static CBlob encodeCard(const CClient& c, bool webForm) {
        return encode([&](auto& sink) { writeCard(c, sink, webForm); });
    }

private:
    // Region to envelope identifier: the same in versions 105 and 106.
    static void readAddressAndComment(CBlob& in, CClient& c) {
        c.m_address.setRegion(readString(in));
        c.m_address.setCity(readString(in));
        c.m_address.setStreet(readString(in));
        c.m_address.setHouse(readString(in));
        c.m_address.setKorpus(readString(in));
        c.m_address.setApartment(readString(in));
        c.m_comment = readString(in);
        c.m_convertId = readString(in);
    }

    // Validity period, purposes (CA form) and attachments.
    static int readTail(CBlob& in, CClient& c);
};

int CClientCodec::readTail(CBlob& in, CClient& c) {
    CBlob period;
    in.deserialize(&period);
    CBlob purposes;
    in.deserialize(&purposes);
    if (in.isMalformed() || c.m_period.deserialize(&period) != 0) return ERR_CARD_DAMAGED;
    c.setAddOidIndexBLOB(&purposes);
    return c.loadClientAttachments(&in);
}

CBlob CClient::PartnerInfoToBinary() const { return CClientCodec::encodeCard(*this, false); }

CBlob CClient::PartnerInfoToBinary2() const { return CClientCodec::encodeCard(*this, true); }

CBlob CClient::serializePassportInfo() const {
    return encode([&](auto& sink) { CClientCodec::writePassport(getPassport(), sink); });
}

CBlob CClient::getAddOidIndexBLOB() const {
    return encode([&](auto& sink) { CClientCodec::writePurposes(*this, sink, false); });
}

CBlob CClient::serializeEnhOids() const {
    return encode([&](auto& sink) { CClientCodec::writePurposes(*this, sink, true); });
}

void CClient::setAddOidIndexBLOB(CBlob* purposes) {
    m_addOids.clear();
    if (purposes == nullptr) return;
    const unsigned char* p = purposes->getData();
    const unsigned count = purposes->getSize() / 4;
    for (unsigned i = 0; i < count; ++i, p += 4) {
        const auto v = static_cast<int>(p[0] | p[1] << 8 | p[2] << 16 |
                                        static_cast<unsigned>(p[3]) << 24);
        // A value without OID text cannot be written into a request or shown.
        if (isKnownEnhKeyOID(v)) m_addOids.insert(static_cast<eEnhKeyOID>(v));
    }
}

int CClient::loadClientAttachments(CBlob* card) {
    if (card == nullptr || card->isMalformed()) return ERR_CARD_DAMAGED;
    std::vector<sAttachment> list;
    while (!card->isCompleted()) {
        sAttachment a;
        a.type = static_cast<eAttacmentDocType>(readU32(*card));
        card->deserialize(&a.name);
        card->deserialize(&a.data);
        if (card->isMalformed()) return ERR_CARD_DAMAGED;
        if (!a.data.isEmpty()) list.push_back(std::move(a));
    }
    m_attachments = std::move(list);
    return 0;
}

int CClient::deserializePassportInfo(CBlob* card) {
    if (card == nullptr || card->isMalformed()) return ERR_CARD_DAMAGED;
    Passport p;
    if (card->isEqual(kPassportMarkerBytes, 4)) {
        card->forwardOffset(4);
        CBlob record;
        card->deserialize(&record);
        p.setDocType(static_cast<ePassportDocType>(readU32(record)));
        p.setSeries(readString(record));
        p.setNumber(readString(record));
        p.setIssuer(readString(record));
        p.setDivisionCode(readString(record));
        p.setSex(static_cast<SexPerson>(readU32(record)));
        p.setIssueDate(readTime(record));
        p.setPlaceBirth(readString(record));
        p.setBirtday(readTime(record));
        if (card->isMalformed() || record.isMalformed()) return ERR_CARD_DAMAGED;
    } else {
        // Cards from before the marker: the fields lie in the card itself.
        p.setSeries(readString(*card));
        p.setNumber(readString(*card));
        p.setIssuer(readString(*card));
        p.setDivisionCode(readString(*card));
        p.setSex(static_cast<SexPerson>(readU32(*card)));
        p.setIssueDate(readTime(*card));
        p.setPlaceBirth(readString(*card));
        p.setBirtday(readTime(*card));
        p.setDocType(PDT_PASSPORT_RF);
        if (card->isMalformed()) return ERR_CARD_DAMAGED;
    }
    setPassport(p);
    return 0;
}

int CClient::checkVersion(const CBlob* card, unsigned& version) {
    version = 0;
    if (card == nullptr) return ERR_CARD_DAMAGED;
    // Only the 8-byte header is looked at; a shorter card is damaged.
    const unsigned n = card->getSize() < kHeaderSize ? card->getSize() : kHeaderSize;
    CBlob header(card->getData(), n);
    const bool marker = header.deserializeCompare(kCardMarkerBytes, 4);
    header.deserialize(version);
    if (header.isMalformed() || !marker) return ERR_CARD_DAMAGED;
    if (version > getCardVersion()) return ERR_PROGRAM_OUTDATED;
    if (version < getCardVersion()) return ERR_CARD_VERSION_OUTDATED;
    return 0;
}

int CClient::updateClientCardVersion(CBlob* card, CBlob* converted, unsigned& version) {
    unsigned found = 0;
    const int r = checkVersion(card, found);
    version = found;
    if (r != ERR_CARD_VERSION_OUTDATED) return r;
    if (converted == nullptr) return ERR_INTERNAL;

    if (found == kVersion105) {
        // Read the old layout into a fresh card (defaults for the fields that
        // version 105 lacks) and write it in the current one.
        CClient old;
        if (CClientCodec::readVersion105(*card, old) != 0) return ERR_CARD_DAMAGED;
        CBlob bytes = old.PartnerInfoToBinary();
        if (bytes.isMalformed()) return ERR_CARD_DAMAGED;
        *converted = std::move(bytes);
        version = kVersion105 + 1;
        return kCardConverted;
    }

    if (found == kVersion104) {
        // Version 105 added the validity period right after the template:
        // insert the default period there and keep everything else byte for
        // byte. The fields before it are two u32, 25 length-prefixed strings
        // and times, and two u32 more (unused field, template). Stepping
        // over 27 length-prefixed items instead would stop ahead of those
        // last two u32, where the version-105 reader does not look.
        card->moveOffset(kHeaderSize);
        readU32(*card);
        readU32(*card);
        for (int i = 0; i < kPrefixedItemsBeforePeriod; ++i)
            card->deserialize(static_cast<CBlob*>(nullptr));
        readU32(*card);
        readU32(*card);
        if (card->isMalformed()) return ERR_CARD_DAMAGED;
        const unsigned split = card->getOffset();
        const unsigned rest = card->getSize() - split;
        const CertValidityPeriod period;  // 12 months
        const std::uint64_t total = std::uint64_t{card->getSize()} + 4 + period.recordSize();
        if (total > std::numeric_limits<std::uint32_t>::max()) return ERR_CARD_DAMAGED;
        CBlob out(static_cast<unsigned>(total));
        out.serialize(card->getData(), 4);
        out.serialize(kVersion105);
        out.serialize(card->getData() + kHeaderSize, split - kHeaderSize);
        out.serialize(period.recordSize());
        period.serializeTo(out);
        out.serialize(card->getData() + split, rest);
        if (out.isMalformed() || !out.isCompleted()) return ERR_INTERNAL;
        *converted = std::move(out);
        version = kVersion105;
        return kCardConverted;
    }

    return ERR_CARD_VERSION_UNSUPPORTED;
}

int CClient::BinaryToPartnerInfo(CBlob* card, bool& converted) {
    converted = false;
    if (card == nullptr) return ERR_CARD_DAMAGED;

    // Every read works on a copy: a failed decode leaves the caller's blob
    // exactly as it was (cursor and malformed mark included). An older card
    // is converted one version at a time (104 -> 105 -> 106).
    CBlob current(*card);
    bool wasConverted = false;
    unsigned version = 0;
    for (;;) {
        CBlob next;
        const int r = updateClientCardVersion(&current, &next, version);
        if (r == 0) break;
        if (r != kCardConverted) return r;
        current = std::move(next);
        wasConverted = true;
        // Every step raises the version, so the loop ends after two steps.
    }
    if (version != getCardVersion()) return ERR_CARD_VERSION_UNSUPPORTED;

    if (current.isMalformed()) return ERR_CARD_DAMAGED;
    CClient read;
    const int r = CClientCodec::readCurrent(current, read);
    if (r != 0) return r;
    read.trimNULLInStrings();

    // What the byte form does not carry stays as it was.
    read.m_address.setCountry(m_address.getCountry());
    read.m_enhOids = std::move(m_enhOids);
    *this = std::move(read);
    // On success the caller's blob holds what was read: the converted bytes
    // of an older card, or its own bytes with the cursor behind the card.
    if (wasConverted) {
        *card = std::move(current);
    } else {
        card->moveOffset(current.getOffset());
    }
    converted = wasConverted;
    return 0;
}

}  // namespace tesel
