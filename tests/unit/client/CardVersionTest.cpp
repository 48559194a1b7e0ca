#include <gtest/gtest.h>

#include "CardFixture.h"
#include "errors/eErrCodes.h"

using namespace tesel;
using namespace cardtest;

namespace {

// What a version-105 card becomes: the fields 105 lacks take the defaults.
CardValues upgraded(CardValues v) {
    v.withoutStamp = false;
    v.docType = 21;
    v.division = "";
    v.sex = -1;
    v.csp = -2;
    return v;
}

CBlob toBlob(const Bytes& b) { return b.toBlob(); }

}  // namespace

TEST(CardVersion, Version105OneStep) {
    const CardValues v;
    CBlob card = toBlob(expectedCard105(v));
    CBlob converted;
    unsigned version = 0;
    EXPECT_EQ(CClient::updateClientCardVersion(&card, &converted, version), 19);
    EXPECT_EQ(version, 106u);
    EXPECT_EQ(bytesOf(converted), expectedCard(upgraded(v), false).v);
}

TEST(CardVersion, Version105Decodes) {
    const CardValues v;
    CBlob card = toBlob(expectedCard105(v));
    CClient read;
    bool converted = false;
    ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0);
    EXPECT_TRUE(converted);
    // The caller's bytes now hold the current version.
    EXPECT_EQ(bytesOf(card), expectedCard(upgraded(v), false).v);
    EXPECT_FALSE(read.AP_WithoutStamp);
    EXPECT_EQ(read.getPassport().getDocType(), 21);
    EXPECT_EQ(read.getPassport().getSex(), SEX_NOT_SET);
    EXPECT_EQ(read.getPassport().getSeries(), v.series);
    EXPECT_EQ(read.getCSP(), qn::crypto::CP_NONE);
    EXPECT_EQ(read.getTemplateCertId(), CT_COMMERCIAL);
    EXPECT_EQ(read.getCompanyName(), v.company);
    EXPECT_EQ(read.getConvertId(), v.convertId);
    std::string months;
    read.getCertValidityPeriod().getPeriod(months);
    EXPECT_EQ(months, "24");
    EXPECT_EQ(read.getAddOidSize(), 2u);
    EXPECT_EQ(read.getAttachments().size(), 2u);
}

TEST(CardVersion, Version105CompanyNameLimit) {
    CardValues v;
    v.company = std::string(64, 'A');
    CClient read;
    CBlob card = toBlob(expectedCard105(v));
    bool converted = false;
    ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0);
    EXPECT_EQ(read.getCompanyName(), v.company);

    v.company = std::string(65, 'A');
    card = toBlob(expectedCard105(v));
    ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0);
    EXPECT_EQ(read.getCompanyName(), "");
    EXPECT_EQ(read.getSurname(), v.surname);  // the fields after it still line up
}

TEST(CardVersion, Version104OneStepInsertsDefaultPeriod) {
    CardValues v;
    v.months = "12";  // what the conversion inserts
    CBlob card = toBlob(expectedCard105(v, false, 104));
    CBlob converted;
    unsigned version = 0;
    EXPECT_EQ(CClient::updateClientCardVersion(&card, &converted, version), 19);
    EXPECT_EQ(version, 105u);
    EXPECT_EQ(bytesOf(converted), expectedCard105(v, true, 105).v);
}

TEST(CardVersion, Version104DecodesThroughBothSteps) {
    CardValues v;
    v.months = "12";
    CBlob card = toBlob(expectedCard105(v, false, 104));
    CClient read;
    bool converted = false;
    ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0);
    EXPECT_TRUE(converted);
    EXPECT_EQ(bytesOf(card), expectedCard(upgraded(v), false).v);
    EXPECT_EQ(read.getINN(), v.inn);
    EXPECT_EQ(read.getAttachments().size(), 2u);
    std::string months;
    EXPECT_EQ(read.getCertValidityPeriod().getPeriod(months), 0);
    EXPECT_EQ(months, "12");
}

TEST(CardVersion, CurrentAndUnconvertibleVersions) {
    CBlob current = CClient().PartnerInfoToBinary();
    CBlob out;
    unsigned version = 0;
    EXPECT_EQ(CClient::updateClientCardVersion(&current, &out, version), 0);
    EXPECT_EQ(version, 106u);
    EXPECT_TRUE(out.isEmpty());

    CBlob old = toBlob(expectedCard105(CardValues(), true, 103));
    EXPECT_EQ(CClient::updateClientCardVersion(&old, &out, version), ERR_CARD_VERSION_UNSUPPORTED);
    CClient target;
    bool converted = true;
    EXPECT_EQ(target.BinaryToPartnerInfo(&old, converted), ERR_CARD_VERSION_UNSUPPORTED);
    EXPECT_FALSE(converted);
}

TEST(CardVersion, EveryTruncationOfOldCardsIsDamaged) {
    CardValues v;
    v.attachments.clear();
    for (std::uint32_t ver : {104u, 105u}) {
        const std::vector<unsigned char> full = expectedCard105(v, ver == 105, ver).v;
        {
            CClient ok;
            CBlob whole(full.data(), static_cast<unsigned>(full.size()));
            bool converted = false;
            ASSERT_EQ(ok.BinaryToPartnerInfo(&whole, converted), 0) << ver;
        }
        for (std::size_t n = 0; n < full.size(); ++n) {
            CBlob prefix(full.data(), static_cast<unsigned>(n));
            const std::vector<unsigned char> before = bytesOf(prefix);
            CClient target;
            target.setINN("sentinel");
            bool converted = true;
            EXPECT_EQ(target.BinaryToPartnerInfo(&prefix, converted), ERR_CARD_DAMAGED)
                << "version " << ver << " length " << n;
            EXPECT_FALSE(converted);
            EXPECT_EQ(target.getINN(), "sentinel");
            EXPECT_EQ(bytesOf(prefix), before);  // the caller's bytes stay as they were
            EXPECT_EQ(prefix.getOffset(), 0u);
            EXPECT_FALSE(prefix.isMalformed());
        }
    }
}

TEST(CardVersion, InflatedItemOfVersion104IsDamaged) {
    CardValues v;
    std::vector<unsigned char> bytes = expectedCard105(v, false, 104).v;
    // The INN's length (third item) claims more than the card holds.
    const std::size_t innLength = 8 + 4 + 4;
    for (std::uint32_t bad : {0x00FFFFFFu, 0xFFFFFFFFu}) {
        std::vector<unsigned char> b = bytes;
        for (int i = 0; i < 4; ++i) b[innLength + i] = static_cast<unsigned char>(bad >> (8 * i));
        CBlob card(b.data(), static_cast<unsigned>(b.size()));
        CBlob out;
        unsigned version = 0;
        EXPECT_EQ(CClient::updateClientCardVersion(&card, &out, version), ERR_CARD_DAMAGED);
    }
}

TEST(CardVersion, Version104OfEveryClientType) {
    // The period goes after the template whatever the u32 fields before it
    // hold (stepping over them as length-prefixed items would misread them).
    for (int type : {0, 1, 2}) {
        CardValues v;
        v.clientType = type;
        v.certTemplate = 9;
        v.months = "12";
        CBlob card = toBlob(expectedCard105(v, false, 104));
        CClient read;
        bool converted = false;
        ASSERT_EQ(read.BinaryToPartnerInfo(&card, converted), 0) << type;
        EXPECT_EQ(read.getClientType(), type);
        EXPECT_EQ(read.getTemplateCertId(), CT_GOSZAKAZ_ARCHIVE);
        EXPECT_EQ(bytesOf(card), expectedCard(upgraded(v), false).v);
    }
}

TEST(CardVersion, FailedDecodeOfACurrentCardLeavesTheCallersBlobAsItWas) {
    CardValues v;
    const std::vector<unsigned char> full = expectedCard(v, false).v;
    for (std::size_t n : {std::size_t{9}, full.size() / 2, full.size() - 1}) {
        CBlob prefix(full.data(), static_cast<unsigned>(n));
        prefix.moveOffset(3);
        CClient target;
        bool converted = true;
        EXPECT_NE(target.BinaryToPartnerInfo(&prefix, converted), 0) << n;
        EXPECT_EQ(prefix.getOffset(), 3u);
        EXPECT_FALSE(prefix.isMalformed());
        // The same blob, once whole, still decodes.
        prefix.init(full.data(), static_cast<unsigned>(full.size()));
        EXPECT_EQ(target.BinaryToPartnerInfo(&prefix, converted), 0);
    }
}
