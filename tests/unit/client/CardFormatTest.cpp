#include <gtest/gtest.h>

#include <cstring>

#include "CardFixture.h"
#include "errors/eErrCodes.h"

using namespace tesel;
using namespace cardtest;

namespace {

CClient filledCard(const CardValues& v = CardValues()) {
    CClient c;
    fill(c, v);
    c.getAddress().setCountry("RU");
    return c;
}

// A card that differs from every decoded one: failed decodes must leave it.
CClient sentinel() {
    CClient c;
    c.setINN("sentinel");
    c.setCompanyName("keep me");
    c.addAttachment(blobOf("old"), "old.txt", ADT_ADDITIONAL_DOCUMENT);
    return c;
}

void putU32(std::vector<unsigned char>& v, std::size_t at, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<unsigned char>(x >> (8 * i));
}

int decode(const std::vector<unsigned char>& bytes, CClient& out, bool* converted = nullptr) {
    CBlob card(bytes.data(), static_cast<unsigned>(bytes.size()));
    bool conv = true;
    const int r = out.BinaryToPartnerInfo(&card, conv);
    if (converted) *converted = conv;
    return r;
}

}  // namespace

TEST(CardFormat, DefaultCardByteForByte) {
    const std::vector<unsigned char> expected = {
        0x1D, 0xF1, 0xDE, 0x34,  // card marker
        0x6A, 0x00, 0x00, 0x00,  // version 106
        0x00, 0x00, 0x00, 0x00,  // client type 0
        0x00,                    // without stamp: false
        0, 0, 0, 0,              // INN ""
        0, 0, 0, 0,              // OGRN ""
        0, 0, 0, 0,              // KPP ""
        0, 0, 0, 0,              // company name ""
        0, 0, 0, 0,              // surname ""
        0, 0, 0, 0,              // name ""
        0, 0, 0, 0,              // patronymic ""
        0, 0, 0, 0,              // SNILS ""
        0, 0, 0, 0,              // position ""
        0x2D, 0xF5, 0xD3, 0xE3,  // passport marker
        0x44, 0x00, 0x00, 0x00,  // passport record: 68 bytes
        0x15, 0x00, 0x00, 0x00,  //   document type 21
        0, 0, 0, 0,              //   series ""
        0, 0, 0, 0,              //   number ""
        0, 0, 0, 0,              //   issuer ""
        0, 0, 0, 0,              //   division code ""
        0xFF, 0xFF, 0xFF, 0xFF,  //   sex -1
        0x10, 0, 0, 0,           //   issue date: length 16
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0,              //   place of birth ""
        0x10, 0, 0, 0,           //   birthday: length 16
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0,              // phone ""
        0, 0, 0, 0,              // email ""
        0, 0, 0, 0,              // region ""
        0, 0, 0, 0,              // city ""
        0, 0, 0, 0,              // street ""
        0, 0, 0, 0,              // house ""
        0, 0, 0, 0,              // korpus ""
        0, 0, 0, 0,              // apartment ""
        0, 0, 0, 0,              // comment ""
        0, 0, 0, 0,              // envelope id ""
        0x00, 0x00, 0x00, 0x00,  // template 0
        0xFE, 0xFF, 0xFF, 0xFF,  // CSP -2
        0x0A, 0x00, 0x00, 0x00,  // period record: 10 bytes
        0x01, 0x00, 0x00, 0x00,  //   kind 1 (months)
        0x02, 0x00, 0x00, 0x00, '1', '2',
        0x00, 0x00, 0x00, 0x00,  // purposes: none
    };
    ASSERT_EQ(expected.size(), 191u);
    const CClient c;
    const CBlob ca = c.PartnerInfoToBinary();
    EXPECT_EQ(bytesOf(ca), expected);
    EXPECT_TRUE(ca.isCompleted());
    EXPECT_FALSE(ca.isMalformed());
    // Without purposes and attachments the two forms are the same bytes.
    EXPECT_EQ(bytesOf(c.PartnerInfoToBinary2()), expected);
}

TEST(CardFormat, FullCardCaFormFieldByField) {
    const CardValues v;
    const CClient c = filledCard(v);
    const CBlob ca = c.PartnerInfoToBinary();
    const Bytes expected = expectedCard(v, false);
    EXPECT_EQ(bytesOf(ca), expected.v);
    // Exactly sized: one block, completely filled.
    EXPECT_EQ(ca.getSize(), expected.size());
    EXPECT_TRUE(ca.isCompleted());
}

TEST(CardFormat, FullCardWebFormFieldByField) {
    const CardValues v;
    const CClient c = filledCard(v);
    const CBlob web = c.PartnerInfoToBinary2();
    EXPECT_EQ(bytesOf(web), expectedCard(v, true).v);
    EXPECT_TRUE(web.isCompleted());

    Bytes texts;
    texts.str("1.2.643.2.64.1.1.1").str("1.2.643.6.7");
    EXPECT_EQ(bytesOf(c.serializeEnhOids()), texts.v);
}

TEST(CardFormat, PurposesCaFormAndPassportRecord) {
    CClient c;
    c.setAddOid(ENH_EFRSFDUL, true);
    c.setAddOid(ENH_B2B, true);
    EXPECT_EQ(bytesOf(c.getAddOidIndexBLOB()),
              (std::vector<unsigned char>{0x03, 0, 0, 0, 0x1A, 0, 0, 0}));
    // Inside the card the blob is 08 00 00 00 03 00 00 00 1A 00 00 00.
    const std::vector<unsigned char> card = bytesOf(c.PartnerInfoToBinary());
    const std::vector<unsigned char> tail = {0x08, 0, 0, 0, 0x03, 0, 0, 0, 0x1A, 0, 0, 0};
    ASSERT_GE(card.size(), tail.size());
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), card.end() - tail.size()));

    const CardValues v;
    const CClient full = filledCard(v);
    const CBlob passport = full.serializePassportInfo();
    EXPECT_EQ(bytesOf(passport), passportRecord(v).v);
    EXPECT_EQ(passport.getData()[0], 0x2D);
}

TEST(CardFormat, RoundTripCaForm) {
    const CardValues v;
    const CClient source = filledCard(v);
    CBlob card = source.PartnerInfoToBinary();
    CClient read;
    bool converted = true;
    ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0);
    EXPECT_FALSE(converted);

    // Everything but the country and the purpose texts comes back.
    CClient expected = source;
    expected.getAddress().setCountry("");
    expected.clearEnhOids();
    EXPECT_TRUE(read == expected);
    EXPECT_EQ(read.getCompanyName(), v.company);
    EXPECT_EQ(read.getPassport().getBirtday().wYear, 1980);
    EXPECT_EQ(read.getCSP(), qn::crypto::CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(read.getAddOidSize(), 2u);
    ASSERT_EQ(read.getAttachments().size(), 2u);
    EXPECT_TRUE(read.getAttachments()[1].data == blobOf("PNGDATA"));

    // Written again, the bytes are identical.
    EXPECT_EQ(bytesOf(read.PartnerInfoToBinary()), bytesOf(source.PartnerInfoToBinary()));
}

TEST(CardFormat, RoundTripEdgeValues) {
    CardValues v;
    v.clientType = 2;
    v.withoutStamp = false;
    v.inn = "503214967066";
    v.ogrn = "304503214967012";
    v.sex = -1;
    v.docType = 10;
    v.csp = -7;
    v.certTemplate = 12;
    v.purposes = {0, 55};
    v.attachments = {{5, "", "1"}, {5, "b", std::string(1000, '\xFF')}};
    CClient source = filledCard(v);
    source.getCertValidityPeriod().setCertEndDate(makeTime(2027, 1, 31, 12, 30, 0));
    CBlob card = source.PartnerInfoToBinary();
    CClient read;
    bool converted = false;
    ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0);
    EXPECT_EQ(read.getClientType(), TS_ENTREPRENEUR);
    EXPECT_EQ(read.getCSP(), qn::crypto::CP_RUTOKEN_GOST2012_512);
    EXPECT_EQ(read.getPassport().getSex(), SEX_NOT_SET);
    EXPECT_EQ(read.getPassport().getDocType(), 10);
    EXPECT_TRUE(read.getCertValidityPeriod() == source.getCertValidityPeriod());
    EXPECT_EQ(read.getAddOids(), (std::set<eEnhKeyOID>{ENH_SERVER_AUTH, ENH_ROSREESTR_2_43}));
    ASSERT_EQ(read.getAttachments().size(), 2u);
    EXPECT_EQ(read.getAttachments()[1].data.getSize(), 1000u);
}

TEST(CardFormat, DecodeKeepsWhatTheBytesDoNotCarry) {
    CClient target;
    target.getAddress().setCountry("RU");
    target.addEnhOid("1.2.3");
    target.addAttachment(blobOf("old"), "old", ADT_ADDITIONAL_DOCUMENT);
    target.setAddOid(ENH_AETP, true);
    CBlob card = CClient().PartnerInfoToBinary();
    bool converted = false;
    ASSERT_EQ(target.BinaryToPartnerInfo(&card, converted), 0);
    EXPECT_EQ(target.getAddress().getCountry(), "RU");
    EXPECT_EQ(target.getEnhOids().size(), 1u);
    EXPECT_TRUE(target.getAttachments().empty());
    EXPECT_EQ(target.getAddOidSize(), 0u);
}

TEST(CardFormat, AttachmentsWithoutDataAreDropped) {
    CardValues v;
    v.attachments = {{1, "empty.pdf", ""}, {5, "x", "X"}, {5, "none", ""}};
    CClient source;
    fill(source, v);
    ASSERT_EQ(source.getAttachments().size(), 3u);
    CBlob card = source.PartnerInfoToBinary();
    EXPECT_EQ(bytesOf(card), expectedCard(v, false).v);  // written as they are
    CClient read;
    bool converted = false;
    ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0);
    ASSERT_EQ(read.getAttachments().size(), 1u);
    EXPECT_EQ(read.getAttachments()[0].name, "x");
}

TEST(CardFormat, TextsAreCutAtZeroWhenRead) {
    CardValues v;
    v.inn = std::string("50321\0garbage", 13);
    v.street = std::string("\0", 1);
    v.attachments = {{5, std::string("a.pdf\0x", 7), "D"}};
    CClient read;
    ASSERT_EQ(decode(expectedCard(v, false).v, read), 0);
    EXPECT_EQ(read.getINN(), "50321");
    EXPECT_EQ(read.getAddress().getStreet(), "");
    EXPECT_EQ(read.getAttachments()[0].name, "a.pdf");
}

TEST(CardFormat, PurposesBlobTakesWholeValuesOnly) {
    CardValues v;
    v.attachments.clear();
    CardOffsets at;
    std::vector<unsigned char> bytes = expectedCard(v, false, &at).v;
    // Replace the purposes blob with 03 00 00 00 | 1A 00 00 00 | 03 00 00 00
    // | E7 03 00 00 (999, unknown) | 05 (a stray byte).
    bytes.resize(at.purposesLength);
    Bytes purposes;
    purposes.u32(3).u32(26).u32(3).u32(999).raw({5});
    Bytes tail;
    tail.blob(purposes);
    bytes.insert(bytes.end(), tail.v.begin(), tail.v.end());
    CClient read;
    ASSERT_EQ(decode(bytes, read), 0);
    EXPECT_EQ(read.getAddOids(), (std::set<eEnhKeyOID>{ENH_B2B, ENH_EFRSFDUL}));

    CClient direct;
    direct.setAddOid(ENH_AETP, true);
    CBlob three(reinterpret_cast<const unsigned char*>("\x07\x00\x00"), 3);
    direct.setAddOidIndexBLOB(&three);
    EXPECT_EQ(direct.getAddOidSize(), 0u);
}

TEST(CardFormat, PassportWithoutMarkerIsTheOlderLayout) {
    CardValues v;
    v.attachments.clear();
    CardOffsets at;
    const std::vector<unsigned char> modern = expectedCard(v, false, &at).v;
    // Old layout: series, number, issuer, division code, sex, issue date,
    // place of birth, birthday, straight in the card.
    Bytes old;
    old.str(v.series).str(v.number).str(v.issuer).str(v.division).u32(v.sex);
    old.time(v.issued).str(v.placeBirth).time(v.birthday);
    const std::size_t recordEnd = at.passportMarker + passportRecord(v).size();
    std::vector<unsigned char> bytes(modern.begin(), modern.begin() + at.passportMarker);
    bytes.insert(bytes.end(), old.v.begin(), old.v.end());
    bytes.insert(bytes.end(), modern.begin() + recordEnd, modern.end());

    v.docType = 10;  // must be ignored: the old layout has no type
    CClient read;
    ASSERT_EQ(decode(bytes, read), 0);
    EXPECT_EQ(read.getPassport().getDocType(), 21);
    EXPECT_EQ(read.getPassport().getSeries(), v.series);
    EXPECT_EQ(read.getPassport().getDivisionCode(), v.division);
    EXPECT_EQ(read.getPassport().getBirtday().wDay, 31);
    EXPECT_EQ(read.getPhone(), v.phone);
}

TEST(CardFormat, EveryTruncationIsDamaged) {
    CardValues v;
    v.attachments.clear();
    const std::vector<unsigned char> full = expectedCard(v, false).v;
    const CClient before = sentinel();
    for (std::size_t n = 0; n < full.size(); ++n) {
        std::vector<unsigned char> prefix(full.begin(), full.begin() + n);
        CClient target = sentinel();
        bool converted = true;
        EXPECT_EQ(decode(prefix, target, &converted), ERR_CARD_DAMAGED) << "length " << n;
        EXPECT_FALSE(converted);
        EXPECT_TRUE(target == before) << "length " << n;
    }
}

TEST(CardFormat, TruncationWithAttachmentsKeepsOnlyWholeRecords) {
    // The records have no count, so a card cut exactly between two records
    // is a valid card with fewer attachments; any other cut is damaged.
    const CardValues v;
    CardOffsets at;
    const std::vector<unsigned char> full = expectedCard(v, false, &at).v;
    for (std::size_t n = 0; n < full.size(); ++n) {
        std::vector<unsigned char> prefix(full.begin(), full.begin() + n);
        CClient target = sentinel();
        const int r = decode(prefix, target);
        const auto boundary =
            std::find(at.attachmentStarts.begin(), at.attachmentStarts.end(), n);
        if (boundary != at.attachmentStarts.end()) {
            EXPECT_EQ(r, 0) << n;
            EXPECT_EQ(target.getAttachments().size(),
                      static_cast<std::size_t>(boundary - at.attachmentStarts.begin()));
        } else {
            EXPECT_EQ(r, ERR_CARD_DAMAGED) << "length " << n;
            EXPECT_TRUE(target == sentinel()) << "length " << n;
        }
    }
}

TEST(CardFormat, InflatedLengthFieldsAreDamaged) {
    const CardValues v;
    CardOffsets at;
    const std::vector<unsigned char> full = expectedCard(v, false, &at).v;
    std::vector<std::size_t> lengthFields = {at.innLength, at.passportLength, at.periodLength,
                                             at.purposesLength};
    for (std::size_t start : at.attachmentStarts) lengthFields.push_back(start + 4);  // name
    const std::size_t lastData = at.attachmentStarts.back() + 4 + 4 + v.attachments.back().name.size();
    lengthFields.push_back(lastData);
    for (std::size_t field : lengthFields) {
        const std::uint32_t remaining = static_cast<std::uint32_t>(full.size() - field - 4);
        for (std::uint32_t bad : {remaining + 1, 0x7FFFFFFFu, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
            std::vector<unsigned char> bytes = full;
            putU32(bytes, field, bad);
            CClient target = sentinel();
            EXPECT_EQ(decode(bytes, target), ERR_CARD_DAMAGED) << field << " " << bad;
            EXPECT_TRUE(target == sentinel());
        }
    }
    // A nested record whose inner length runs past its own end.
    std::vector<unsigned char> bytes = full;
    putU32(bytes, at.passportLength + 4 + 4, 1000);  // series length inside the record
    CClient target;
    EXPECT_EQ(decode(bytes, target), ERR_CARD_DAMAGED);
    bytes = full;
    putU32(bytes, at.periodLength + 8, 1000);  // months length inside the period
    EXPECT_EQ(decode(bytes, target), ERR_CARD_DAMAGED);
}

TEST(CardFormat, PeriodOfUnknownKindIsDamaged) {
    CardValues v;
    CardOffsets at;
    std::vector<unsigned char> bytes = expectedCard(v, false, &at).v;
    putU32(bytes, at.periodLength + 4, 3);
    CClient target = sentinel();
    EXPECT_EQ(decode(bytes, target), ERR_CARD_DAMAGED);
    EXPECT_TRUE(target == sentinel());
}

TEST(CardFormat, HeaderChecks) {
    const std::vector<unsigned char> good = expectedCard(CardValues(), false).v;
    unsigned version = 0;
    CBlob card(good.data(), static_cast<unsigned>(good.size()));
    EXPECT_EQ(CClient::checkVersion(&card, version), 0);
    EXPECT_EQ(version, 106u);
    EXPECT_EQ(CClient::checkVersion(nullptr, version), ERR_CARD_DAMAGED);

    struct Case {
        std::uint32_t marker;
        std::uint32_t version;
        int expected;
    };
    for (const Case& c : {Case{0x34DEF11D, 107, ERR_PROGRAM_OUTDATED},
                          Case{0x34DEF11D, 0xFFFFFFFF, ERR_PROGRAM_OUTDATED},
                          Case{0x34DEF11D, 103, ERR_CARD_VERSION_UNSUPPORTED},
                          Case{0x34DEF11D, 0, ERR_CARD_VERSION_UNSUPPORTED},
                          Case{0x34DEF11C, 106, ERR_CARD_DAMAGED},
                          Case{0xE3D3F52D, 106, ERR_CARD_DAMAGED}}) {
        std::vector<unsigned char> bytes = good;
        putU32(bytes, 0, c.marker);
        putU32(bytes, 4, c.version);
        CClient target = sentinel();
        EXPECT_EQ(decode(bytes, target), c.expected) << c.marker << " " << c.version;
        EXPECT_TRUE(target == sentinel());
    }
    CBlob empty;
    CClient target;
    bool converted = true;
    EXPECT_EQ(target.BinaryToPartnerInfo(&empty, converted), ERR_CARD_DAMAGED);
    EXPECT_EQ(target.BinaryToPartnerInfo(nullptr, converted), ERR_CARD_DAMAGED);
    EXPECT_FALSE(converted);
}
