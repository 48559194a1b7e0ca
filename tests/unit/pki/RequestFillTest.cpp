// Filling a request from a client card: which card fields become which
// subject attributes under which conditions, the purposes in their three
// steps, and the policies and signing tool that only a chosen CSP brings.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "RequestTestSupport.h"
#include "crypto/CCSP_Type.h"
#include "pki/RequestPKCS10.h"

using reqtest::ansi;
using reqtest::makeCard;
using tesel::Map;
using tesel::RequestPKCS10;

namespace {

std::vector<std::string> oidsOf(const RequestPKCS10& r) {
    std::vector<std::string> out;
    for (const Map& m : r.getCertAttribs()) out.push_back(m.oid);
    return out;
}

bool has(const RequestPKCS10& r, const std::string& oid) {
    const auto v = oidsOf(r);
    return std::find(v.begin(), v.end(), oid) != v.end();
}

std::string valueOf(const RequestPKCS10& r, const std::string& oid) {
    for (const Map& m : r.getCertAttribs()) {
        if (m.oid == oid) return m.value;
    }
    return "<absent>";
}

const char* const kEmail = "1.2.840.113549.1.9.1";
const char* const kTitle = "2.5.4.12";
const char* const kOrg = "2.5.4.10";
const char* const kSnils = "1.2.643.100.3";
const char* const kOgrn = "1.2.643.100.1";
const char* const kOgrnip = "1.2.643.100.5";
const char* const kInn = "1.2.643.3.131.1.1";
const char* const kUnstructured = "1.2.840.113549.1.9.2";
const char* const kStreet = "2.5.4.9";
const char* const kLocality = "2.5.4.7";
const char* const kState = "2.5.4.8";
const char* const kCountry = "2.5.4.6";
const char* const kGiven = "2.5.4.42";
const char* const kSurname = "2.5.4.4";
const char* const kCn = "2.5.4.3";

const std::vector<std::string> kCommon = {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4", "1.2.643.2.2.34.25",
                                          "1.2.643.2.2.34.26", "1.2.643.2.2.34.6"};

std::vector<std::string> commonPlus(std::vector<std::string> more) {
    std::vector<std::string> out = kCommon;
    out.insert(out.end(), more.begin(), more.end());
    return out;
}

}  // namespace

TEST(RequestFill, LegalEntityRowsInOrder) {
    RequestPKCS10 r;
    ASSERT_EQ(r.fillFromClient(makeCard(0, 1), qn::crypto::CP_CRYPTOPRO_GOST2012_256), 0);
    const std::vector<Map> expected = {
        {kEmail, "ivanov@example.ru"},
        {kTitle, ansi("Генеральный директор")},
        {kOrg, ansi("ООО \"Ромашка\"")},
        {kSnils, "50321496744"},
        {kOgrn, "1025032149670"},
        {kInn, "005032149676"},
        {kUnstructured, "INN=5032149676/KPP=503201001/OGRN=1025032149670"},
        {kStreet, ansi("ул. Ленина, 10, 2, 15")},
        {kLocality, ansi("Москва")},
        {kState, ansi("77 г. Москва")},
        {kCountry, "RU"},
        {kGiven, ansi("Иван Иванович")},
        {kSurname, ansi("Иванов")},
        {kCn, ansi("ООО \"Ромашка\"")},
    };
    EXPECT_EQ(r.getCertAttribs(), expected);
}

TEST(RequestFill, NaturalPersonAndEntrepreneur) {
    RequestPKCS10 person;
    person.fillFromClient(makeCard(1, 1), qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(oidsOf(person), (std::vector<std::string>{kEmail, kSnils, kInn, kUnstructured, kStreet, kLocality,
                                                       kState, kCountry, kGiven, kSurname, kCn}));
    EXPECT_EQ(valueOf(person, kInn), "503214967066");
    EXPECT_EQ(valueOf(person, kUnstructured), "INN=503214967066");
    EXPECT_EQ(valueOf(person, kCn), ansi("Иванов Иван Иванович"));

    RequestPKCS10 ip;
    ip.fillFromClient(makeCard(2, 1), qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(oidsOf(ip), (std::vector<std::string>{kEmail, kSnils, kOgrnip, kInn, kUnstructured, kStreet,
                                                   kLocality, kState, kCountry, kGiven, kSurname, kCn}));
    EXPECT_EQ(valueOf(ip, kOgrnip), "304503214967012");
    EXPECT_EQ(valueOf(ip, kUnstructured), "INN=503214967066");

    // A subject type outside the three: no company rows, empty unstructured
    // name, the person's full name as common name.
    RequestPKCS10 other;
    other.fillFromClient(makeCard(3, 1), qn::crypto::CP_CRYPTOPRO);
    EXPECT_FALSE(has(other, kTitle) || has(other, kOrg) || has(other, kOgrn) || has(other, kOgrnip));
    EXPECT_EQ(valueOf(other, kUnstructured), "");
    EXPECT_EQ(valueOf(other, kCn), ansi("Иванов Иван Иванович"));
}

TEST(RequestFill, TemplateConditions) {
    // Template 7 leaves out the registration numbers, the unstructured name
    // and the name parts.
    RequestPKCS10 t7;
    t7.fillFromClient(makeCard(0, 7), qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(oidsOf(t7), (std::vector<std::string>{kEmail, kTitle, kOrg, kStreet, kLocality, kState, kCountry,
                                                   kCn}));
    RequestPKCS10 t7ip;
    t7ip.fillFromClient(makeCard(2, 7), qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(oidsOf(t7ip), (std::vector<std::string>{kEmail, kStreet, kLocality, kState, kCountry, kCn}));

    // Templates 0, 5 and 6 leave out only the unstructured name.
    for (int t = 0; t <= 12; ++t) {
        RequestPKCS10 r;
        r.fillFromClient(makeCard(0, t), qn::crypto::CP_CRYPTOPRO);
        const bool without = t == 0 || t == 5 || t == 6 || t == 7;
        EXPECT_EQ(has(r, kUnstructured), !without) << t;
        EXPECT_EQ(r.getCertAttribs().size(), t == 7 ? 8u : without ? 13u : 14u) << t;
    }
}

TEST(RequestFill, InnAndAddressForms) {
    tesel::CClient card = makeCard(1, 2);
    RequestPKCS10 r;
    for (const char* inn : {"12345678901", "123456789012", "", "123456789"}) {
        card.setINN(inn);
        r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
        EXPECT_EQ(valueOf(r, kInn), inn);
    }
    card.setINN("1234567890");
    r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(valueOf(r, kInn), "001234567890");
    EXPECT_EQ(valueOf(r, kUnstructured), "INN=1234567890");

    card.getAddress().setStreet("Main");
    card.getAddress().setKorpus("");
    card.getAddress().setApartment("");
    r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(valueOf(r, kStreet), "Main, 10");
    card.getAddress().setHouse("");
    r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(valueOf(r, kStreet), "Main, ");
    card.getAddress().setApartment("7");
    r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(valueOf(r, kStreet), "Main, , 7");
    card.getAddress().setKorpus("B");
    card.getAddress().setApartment("");
    r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(valueOf(r, kStreet), "Main, , B");

    // The name parts keep their blanks when a part is empty.
    card.setPatronymic("");
    r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(valueOf(r, kGiven), ansi("Иван "));
    EXPECT_EQ(valueOf(r, kCn), ansi("Иванов Иван "));
}

TEST(RequestFill, PurposesInThreeSteps) {
    struct Case {
        int type;
        int certTemplate;
        std::vector<std::string> templatePart;
    };
    const std::string b2b = "1.2.643.6.7", etp2 = "1.2.643.3.8.100.1.42", utender = "1.2.643.3.58.2.1.1",
                      aetp = "1.2.643.6.3", fabrikant = "1.2.643.6.15", fed = "1.2.643.6.3.1.1",
                      legal = "1.2.643.6.3.1.2.1", person = "1.2.643.6.3.1.2.2", ip = "1.2.643.6.3.1.2.3",
                      part = "1.2.643.6.3.1.3.1", admin = "1.2.643.6.3.1.4.1", spec = "1.2.643.6.3.1.4.2",
                      signer = "1.2.643.6.3.1.4.3";
    const std::vector<Case> cases = {
        {0, 0, {}},
        {0, 1, {b2b}},
        {0, 2, {etp2, utender, b2b, aetp, fabrikant}},
        {1, 12, {etp2, utender, b2b, aetp, fabrikant}},
        {0, 3, {etp2, utender, fed, legal, part, admin, spec, signer, aetp}},
        {2, 4, {etp2, utender, fed, ip, part, admin, spec, signer, aetp, b2b}},
        {0, 6,
         {"1.2.643.6.40.1", "1.2.643.6.41.1.1.1", "1.2.643.6.42.5.5.5", "1.2.643.6.44.1.1.1",
          "1.2.643.6.45.1.1.1", "1.2.643.2.64.1.1.1"}},
        {1, 7, {fed, person, part, admin, spec, signer}},
        // The builder's own lists for 9 and 10 differ from the catalog's.
        {2, 9, {fed, ip, part, admin, spec, signer}},
        {1, 10, {etp2, utender, fed, person, part, admin, spec, signer, aetp, b2b, fabrikant}},
        {3, 10, {etp2, utender, fed, part, admin, spec, signer, aetp, b2b, fabrikant}},
        {0, 5, {}},
        {0, 8, {}},
        {0, 11, {}},
    };
    for (const Case& c : cases) {
        RequestPKCS10 r;
        r.fillFromClient(makeCard(c.type, c.certTemplate), qn::crypto::CP_CRYPTOPRO);
        EXPECT_EQ(r.getPurposes(), commonPlus(c.templatePart)) << c.type << "/" << c.certTemplate;
    }

    // Added purposes come second, ascending, whatever the insertion order;
    // one that the template brings as well is written twice.
    tesel::CClient card = makeCard(0, 1);
    card.setAddOid(tesel::ENH_EFRSFDUL, true);
    card.setAddOid(tesel::ENH_B2B, true);
    card.setAddOid(tesel::ENH_SERVER_AUTH, true);
    card.setAddOid(tesel::ENH_ROSREESTR_2_43, true);
    card.setAddOid(tesel::ENH_CLIENT_AUTH, true);
    RequestPKCS10 r;
    r.fillFromClient(card, qn::crypto::CP_CRYPTOPRO);
    EXPECT_EQ(r.getPurposes(), commonPlus({"1.3.6.1.5.5.7.3.1", "1.3.6.1.5.5.7.3.2", b2b, "1.2.643.2.64.1.1.1",
                                           "1.2.643.5.1.24.2.43", b2b}));
}

TEST(RequestFill, PoliciesAndSigningToolOnlyWithACsp) {
    RequestPKCS10 r;
    EXPECT_EQ(r.fillFromClient(makeCard(0, 3), qn::crypto::CP_CRYPTOPRO_GOST2012_256), 0);
    EXPECT_EQ(r.getSignTool(), ansi("\"Крипто ПРО\" CSP GOST2012/256"));
    EXPECT_EQ(r.getPolicies(), (std::vector<std::string>{"1.2.643.100.113.1", "1.2.643.100.113.2"}));
    r.fillFromClient(makeCard(0, 3), qn::crypto::CP_VIPNET_GOST2012_512);
    EXPECT_EQ(r.getSignTool(), "ViPNet CSP GOST2012/512");
    EXPECT_EQ(r.getPolicies().size(), 2u);

    // Without a CSP: 3, the lists filled all the same, no tool, no policy
    // (nothing left over from the previous fill either).
    EXPECT_EQ(r.fillFromClient(makeCard(0, 3), qn::crypto::CP_NONE), 3);
    EXPECT_EQ(r.getCertAttribs().size(), 14u);
    EXPECT_EQ(r.getPurposes().size(), 14u);
    EXPECT_TRUE(r.getSignTool().empty());
    EXPECT_TRUE(r.getPolicies().empty());
}
