#include <gtest/gtest.h>

#include <string>

#include "client/CClient.h"
#include "errors/eErrCodes.h"

using namespace tesel;

TEST(CheckINN, LegalEntityTenDigits) {
    EXPECT_TRUE(CClient::checkINN("5032149676", TS_LEGAL_ENTITY));
    EXPECT_TRUE(CClient::checkINN("7707083893", TS_LEGAL_ENTITY));
    EXPECT_FALSE(CClient::checkINN("5032149677", TS_LEGAL_ENTITY));  // wrong check digit
    EXPECT_FALSE(CClient::checkINN("503214967", TS_LEGAL_ENTITY));
    EXPECT_FALSE(CClient::checkINN("50321496760", TS_LEGAL_ENTITY));
    EXPECT_FALSE(CClient::checkINN("", TS_LEGAL_ENTITY));
    EXPECT_FALSE(CClient::checkINN("5032149676", TS_NATURAL_PERSON));  // length
    EXPECT_FALSE(CClient::checkINN("5032149676", static_cast<eTypeSubject>(3)));
    EXPECT_FALSE(CClient::checkINN("5032149676", TS_ANY));
}

TEST(CheckINN, PersonTwelveDigitsBothCheckDigits) {
    for (eTypeSubject kind : {TS_NATURAL_PERSON, TS_ENTREPRENEUR}) {
        EXPECT_TRUE(CClient::checkINN("503214967066", kind));
        EXPECT_TRUE(CClient::checkINN("500100732259", kind));
        EXPECT_FALSE(CClient::checkINN("503214967076", kind));  // first check digit
        EXPECT_FALSE(CClient::checkINN("503214967067", kind));  // second check digit
        EXPECT_FALSE(CClient::checkINN("50321496706", kind));
    }
    EXPECT_FALSE(CClient::checkINN("503214967066", TS_LEGAL_ENTITY));
    EXPECT_FALSE(CClient::checkINN("503214967066", static_cast<eTypeSubject>(3)));
}

TEST(CheckINN, NonDigitsAreRefusedEvenWithAMatchingSum) {
    // ':' would count as the digit 10; with it the weighted sum matches the
    // check digit, yet the text is no INN.
    EXPECT_FALSE(CClient::checkINN(":032149675", TS_LEGAL_ENTITY));
    EXPECT_FALSE(CClient::checkINN("503214967 ", TS_LEGAL_ENTITY));
    EXPECT_FALSE(CClient::checkINN(std::string("503214967\0", 10), TS_LEGAL_ENTITY));
}

TEST(CheckINN, MemberUsesClientType) {
    CClient c;
    c.setINN("5032149676");
    EXPECT_TRUE(c.checkINN());
    c.setClientType(TS_ENTREPRENEUR);
    EXPECT_FALSE(c.checkINN());
    c.setINN("503214967066");
    EXPECT_TRUE(c.checkINN());
}

TEST(CheckOGRN, ByClientType) {
    CClient c;
    c.setOGRN("1025032149670");  // remainder 10: last digit 0
    EXPECT_TRUE(c.checkOGRN());
    c.setOGRN("1027700132195");
    EXPECT_TRUE(c.checkOGRN());
    c.setOGRN("1027700132196");
    EXPECT_FALSE(c.checkOGRN());
    c.setOGRN("102770013219");
    EXPECT_FALSE(c.checkOGRN());
    c.setOGRN("304503214967012");  // an OGRNIP is not an OGRN
    EXPECT_FALSE(c.checkOGRN());
    c.setOGRN("10277001321 5");
    EXPECT_FALSE(c.checkOGRN());

    c.setClientType(TS_ENTREPRENEUR);
    c.setOGRN("304503214967012");
    EXPECT_TRUE(c.checkOGRN());
    c.setOGRN("304503214967090");  // remainder 10 with modulus 13: last digit 0
    EXPECT_TRUE(c.checkOGRN());
    c.setOGRN("304503214967013");
    EXPECT_FALSE(c.checkOGRN());
    c.setOGRN("1025032149670");
    EXPECT_FALSE(c.checkOGRN());

    c.setClientType(TS_NATURAL_PERSON);
    c.setOGRN("");
    EXPECT_TRUE(c.checkOGRN());
    c.setOGRN("garbage");
    EXPECT_TRUE(c.checkOGRN());
}

TEST(CheckSNILS, ChecksumAndSpecialCases) {
    CClient c;
    auto check = [&](const std::string& s) {
        c.setSNILS(s);
        return c.checkSNILS();
    };
    EXPECT_TRUE(check("50321496744"));  // sum 44
    EXPECT_TRUE(check("11223344595"));  // sum 95
    EXPECT_TRUE(check("10001899900"));  // sum 100: check number 0
    EXPECT_TRUE(check("10002898700"));  // sum 101: not reduced, check number 0
    EXPECT_TRUE(check("10001998901"));  // sum 102: reduced to 1
    EXPECT_FALSE(check("50321496745"));
    EXPECT_FALSE(check("10001899901"));
    EXPECT_FALSE(check("10002898701"));
    EXPECT_FALSE(check("10001998900"));
    EXPECT_FALSE(check("5032149674"));
    EXPECT_FALSE(check("503214967440"));
    EXPECT_FALSE(check("503-149-6744"));
    EXPECT_FALSE(check(""));
}

TEST(CheckCard, KppCompanyPositionOnlyForLegalEntities) {
    CClient c;
    c.setKPP("50320100");
    EXPECT_FALSE(c.checkKPP());
    c.setKPP("503201001");
    EXPECT_TRUE(c.checkKPP());
    c.setKPP("5032010010");
    EXPECT_FALSE(c.checkKPP());
    EXPECT_FALSE(c.checkCompanyName());
    EXPECT_FALSE(c.checkPosition());
    c.setCompanyName("X");
    c.setPosition("Y");
    EXPECT_TRUE(c.checkCompanyName());
    EXPECT_TRUE(c.checkPosition());

    for (eTypeSubject kind : {TS_NATURAL_PERSON, TS_ENTREPRENEUR}) {
        CClient p;
        p.setClientType(kind);
        p.setKPP("50320100");
        EXPECT_TRUE(p.checkKPP());
        EXPECT_TRUE(p.checkCompanyName());
        EXPECT_TRUE(p.checkPosition());
    }
}

TEST(CheckCard, FullNameAndContactInfo) {
    CClient c;
    EXPECT_FALSE(c.checkFullName());
    c.setSurname("S");
    EXPECT_FALSE(c.checkFullName());
    c.setName("N");
    EXPECT_TRUE(c.checkFullName());  // patronymic may be empty

    EXPECT_FALSE(c.checkContactInfo());
    c.setPhone("1");
    c.setEmail("a@b.c");
    c.getAddress().setRegion("R");
    c.getAddress().setCity("C");
    EXPECT_FALSE(c.checkContactInfo());
    c.getAddress().setStreet("S");
    EXPECT_TRUE(c.checkContactInfo());
    c.setPhone("");
    EXPECT_FALSE(c.checkContactInfo());
}

TEST(CheckCard, CspAndEnvelope) {
    CClient c;
    EXPECT_EQ(c.checkCSP(), ERR_INVALID_CSP);
    c.setCSP(qn::crypto::CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(c.checkCSP(), 0);
    c.setCSP(qn::crypto::CP_RUTOKEN_GOST);
    EXPECT_EQ(c.checkCSP(), 0);

    EXPECT_EQ(c.checkConvert(), ERR_INVALID_ENVELOPE_ID);
    c.setConvertId("50321F");
    EXPECT_EQ(c.checkConvert(), 0);
}

TEST(CheckConvert, CheckCharacter) {
    EXPECT_EQ(checkConvert("50321F"), 0);
    EXPECT_EQ(checkConvert("AB12CX"), 0);   // letters count as code - 48
    EXPECT_EQ(checkConvert("000000"), 0);
    EXPECT_EQ(checkConvert("50321E"), ERR_INVALID_ENVELOPE_ID);
    EXPECT_EQ(checkConvert("50321f"), ERR_INVALID_ENVELOPE_ID);
    EXPECT_EQ(checkConvert("5032F"), ERR_INVALID_ENVELOPE_ID);
    EXPECT_EQ(checkConvert("50321F0"), ERR_INVALID_ENVELOPE_ID);
    EXPECT_EQ(checkConvert(""), ERR_INVALID_ENVELOPE_ID);
}

TEST(CheckPIN, CheckCharacter) {
    const std::string good = "5032149K";
    EXPECT_TRUE(checkPIN(&good));
    const std::string letters = "ZZZZZZZI";
    EXPECT_TRUE(checkPIN(&letters));
    const std::string wrong = "5032149J";
    EXPECT_FALSE(checkPIN(&wrong));
    const std::string shortPin = "503214K";
    EXPECT_FALSE(checkPIN(&shortPin));
    const std::string longPin = "5032149K0";
    EXPECT_FALSE(checkPIN(&longPin));
    EXPECT_FALSE(checkPIN(nullptr));
}

TEST(CheckEmail, AtThenDot) {
    auto ok = [](const std::string& s) { return checkEmail(&s); };
    EXPECT_TRUE(ok("user@example.ru"));
    EXPECT_TRUE(ok("first.last@mail.example"));
    EXPECT_TRUE(ok("a@."));
    EXPECT_FALSE(ok("first.last@example"));  // only dot before the at sign
    EXPECT_FALSE(ok("user.example.ru"));
    EXPECT_FALSE(ok(""));
    EXPECT_FALSE(checkEmail(nullptr));
}
