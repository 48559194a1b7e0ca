#include <gtest/gtest.h>

#include <string>

#include "CardBytes.h"
#include "client/CClient.h"
#include "errors/eErrCodes.h"

using namespace tesel;

namespace {

CBlob blobOf(const std::string& s) {
    return CBlob(reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()));
}

}  // namespace

TEST(CClientModel, Defaults) {
    CClient c;
    EXPECT_EQ(c.getClientType(), TS_LEGAL_ENTITY);
    EXPECT_EQ(c.getTemplateCertId(), CT_STANDARD);
    EXPECT_EQ(c.getCSP(), qn::crypto::CP_NONE);
    EXPECT_FALSE(c.AP_WithoutStamp);
    EXPECT_EQ(c.getPassport().getDocType(), 21);
    EXPECT_EQ(c.getPassport().getSex(), -1);
    EXPECT_EQ(c.getCertValidityPeriod().getType(), CertValidityPeriod::PERIOD_MONTHS);
    std::string months;
    EXPECT_EQ(c.getCertValidityPeriod().getPeriod(months), 0);
    EXPECT_EQ(months, "12");
    EXPECT_TRUE(c.getAttachments().empty());
    EXPECT_EQ(c.getAddOidSize(), 0u);
    EXPECT_TRUE(c.getEnhOids().empty());
    EXPECT_EQ(CClient::getCardVersion(), 106u);
    EXPECT_EQ(c.getFullName(), "  ");
}

TEST(CClientModel, FullNameKeepsBlanks) {
    CClient c;
    c.setSurname("Ivanov");
    c.setName("Ivan");
    EXPECT_EQ(c.getFullName(), "Ivanov Ivan ");
    c.setPatronymic("Ivanovich");
    EXPECT_EQ(c.getFullName(), "Ivanov Ivan Ivanovich");
}

TEST(CClientModel, AddAttachmentReplacesExceptAdditionalDocuments) {
    CClient c;
    const auto scan = static_cast<eAttacmentDocType>(1);
    EXPECT_EQ(c.addAttachment(blobOf("first"), "a.pdf", scan), 0);
    EXPECT_EQ(c.addAttachment(blobOf("second"), "b.pdf", scan), 0);
    ASSERT_EQ(c.getAttachments().size(), 1u);
    EXPECT_EQ(c.getAttachments()[0].name, "a.pdf");  // name kept
    EXPECT_TRUE(c.getAttachments()[0].data == blobOf("second"));

    c.addAttachment(blobOf("x"), "x.pdf", ADT_ADDITIONAL_DOCUMENT);
    c.addAttachment(blobOf("y"), "y.pdf", ADT_ADDITIONAL_DOCUMENT);
    c.addAttachment(blobOf("z"), "z.pdf", static_cast<eAttacmentDocType>(2));
    ASSERT_EQ(c.getAttachments().size(), 4u);
    EXPECT_EQ(c.getAttachments()[1].name, "x.pdf");
    EXPECT_EQ(c.getAttachments()[2].name, "y.pdf");
    EXPECT_EQ(c.getAttachments()[3].type, 2);
}

TEST(CClientModel, AddedPurposesAreASetOfKnownValues) {
    CClient c;
    c.setAddOid(ENH_ETP_FABRIKANT, true);
    c.setAddOid(ENH_B2B, true);
    c.setAddOid(ENH_B2B, true);
    c.setAddOid(static_cast<eEnhKeyOID>(56), true);
    c.setAddOid(ENH_UNKNOWN, true);
    EXPECT_EQ(c.getAddOidSize(), 2u);
    EXPECT_EQ(*c.getAddOids().begin(), ENH_B2B);
    c.setAddOid(ENH_B2B, false);
    c.setAddOid(ENH_AETP, false);
    EXPECT_EQ(c.getAddOidSize(), 1u);
    c.clearAddOids();
    EXPECT_EQ(c.getAddOidSize(), 0u);
}

TEST(CClientModel, TrimNullCutsEveryText) {
    CClient c;
    const std::string z("ab\0cd", 5);
    c.setINN(z);
    c.setCompanyName(z);
    c.setConvertId(z);
    c.getPassport().setIssuer(z);
    c.getAddress().setHouse(z);
    c.addAttachment(blobOf("d"), z, ADT_ADDITIONAL_DOCUMENT);
    c.setSurname(std::string("\0x", 2));
    c.trimNULLInStrings();
    EXPECT_EQ(c.getINN(), "ab");
    EXPECT_EQ(c.getCompanyName(), "ab");
    EXPECT_EQ(c.getConvertId(), "ab");
    EXPECT_EQ(c.getPassport().getIssuer(), "ab");
    EXPECT_EQ(c.getAddress().getHouse(), "ab");
    EXPECT_EQ(c.getAttachments()[0].name, "ab");
    EXPECT_EQ(c.getSurname(), "");
    std::string s("plain");
    trimNULLStr(s);
    EXPECT_EQ(s, "plain");
}

TEST(Passport, ChecksAndClear) {
    Passport p;
    EXPECT_FALSE(p.checkGender());
    EXPECT_FALSE(p.checkDivisionCode());
    p.setDivisionCode("500-00");
    EXPECT_TRUE(p.checkDivisionCode());
    p.setDivisionCode("500-001");
    EXPECT_FALSE(p.checkDivisionCode());
    p.setSex(SEX_FEMALE);
    EXPECT_TRUE(p.checkGender());
    p.setSeries("4500");
    p.setDocType(PDT_FOREIGN_PASSPORT);
    p.setBirtday(cardtest::makeTime(1980, 1, 2));
    p.clear();
    EXPECT_TRUE(p == Passport());
    EXPECT_EQ(p.getDocType(), 21);
    EXPECT_EQ(p.getSex(), -1);
    EXPECT_EQ(p.getBirtday().wYear, 0);
}

TEST(CertValidityPeriod, SetAndDefault) {
    CertValidityPeriod p;
    EXPECT_EQ(p.setCertPeriod("35"), 0);
    std::string months;
    p.getPeriod(months);
    EXPECT_EQ(months, "35");
    EXPECT_EQ(p.setCertPeriod("36"), 1);
    EXPECT_EQ(p.setCertPeriod("99999999999999999999999"), 1);
    p.getPeriod(months);
    EXPECT_EQ(months, "35");  // unchanged by the refusals
    EXPECT_EQ(p.setCertPeriod("1"), 0);
    p.setDefaultCertPeriod();
    p.getPeriod(months);
    EXPECT_EQ(months, "12");

    SYSTEMTIME end{};
    EXPECT_EQ(p.getPeriod(end), 1);
    p.setCertEndDate(cardtest::makeTime(2026, 5, 31));
    EXPECT_EQ(p.getType(), CertValidityPeriod::PERIOD_END_DATE);
    EXPECT_EQ(p.getPeriod(end), 0);
    EXPECT_EQ(end.wYear, 2026);
    EXPECT_EQ(p.getPeriod(months), 1);
}

TEST(CertValidityPeriod, RecordBytes) {
    CertValidityPeriod p;
    CBlob rec = p.serialize();
    EXPECT_EQ(cardtest::bytesOf(rec),
              (std::vector<unsigned char>{1, 0, 0, 0, 2, 0, 0, 0, '1', '2'}));
    EXPECT_TRUE(rec.isCompleted());
    EXPECT_EQ(rec.getSize(), p.recordSize());

    const SYSTEMTIME end = cardtest::makeTime(2026, 5, 31, 23, 59, 58);
    p.setCertEndDate(end);
    cardtest::Bytes expected;
    expected.u32(2).time(end);
    EXPECT_EQ(cardtest::bytesOf(p.serialize()), expected.v);

    CertValidityPeriod back;
    CBlob in = expected.toBlob();
    EXPECT_EQ(back.deserialize(&in), 0);
    EXPECT_TRUE(back == p);
}

TEST(CertValidityPeriod, DeserializeRefusesBadRecords) {
    CertValidityPeriod p;
    p.setCertPeriod("3");
    const CertValidityPeriod before = p;

    cardtest::Bytes kind3;
    kind3.u32(3).str("7");
    CBlob in = kind3.toBlob();
    EXPECT_EQ(p.deserialize(&in), 1);
    EXPECT_TRUE(p == before);

    cardtest::Bytes cut;
    cut.u32(1).u32(5).raw({'1'});  // months string claims 5 bytes, has 1
    in = cut.toBlob();
    EXPECT_EQ(p.deserialize(&in), ERR_CARD_DAMAGED);
    EXPECT_TRUE(p == before);

    cardtest::Bytes badTime;
    badTime.u32(2).u32(15).raw({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    in = badTime.toBlob();
    EXPECT_EQ(p.deserialize(&in), ERR_CARD_DAMAGED);
    EXPECT_TRUE(p == before);

    CBlob empty;
    EXPECT_EQ(p.deserialize(&empty), ERR_CARD_DAMAGED);
    EXPECT_EQ(p.deserialize(nullptr), ERR_CARD_DAMAGED);
}
