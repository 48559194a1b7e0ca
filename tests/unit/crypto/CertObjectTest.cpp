// CCertObject over certificates issued by the independent test CA: subject
// texts, owner kind, serial number order, purposes and template, and the
// steps that stop on a part that does not decode.
#include <algorithm>
#include <string>
#include <vector>

#include "CertTestSupport.h"
#include "crypto/CryptoBase.h"
#include "errors/eErrCodes.h"
#include "pki/CCertObject.h"

using namespace certtest;
using testca::CertFields;
using namespace tesel;

namespace {

const char* const kInn = "1.2.643.3.131.1.1";
const char* const kOgrnip = "1.2.643.100.5";

CertFields personFields(const std::string& inn, bool withOgrnip, const std::string& ogrnip = "304503214967012") {
    CertFields s;
    s.subject = {{"2.5.4.3", testca::UTF8, "Иванов Иван Иванович"}, {kInn, testca::NUMERIC, inn}};
    if (withOgrnip) s.subject.push_back({kOgrnip, testca::NUMERIC, ogrnip});
    return s;
}

struct Parsed {
    Ctx ctx;
    CCertObject obj;
    unsigned result = 99;
};

std::unique_ptr<Parsed> parse(const CertFields& fields) {
    auto p = std::make_unique<Parsed>();
    p->ctx = ctxOf(ca2012().issue(fields));
    EXPECT_TRUE(p->ctx);
    p->result = p->obj.parseCertificate(p->ctx.get());
    return p;
}

std::vector<eEnhKeyOID> keys(std::initializer_list<int> v) {
    std::vector<eEnhKeyOID> out;
    for (int i : v) out.push_back(static_cast<eEnhKeyOID>(i));
    return out;
}

}  // namespace

TEST(CertObject, SubjectTextsInTheAnsiCodePage) {
    CertFields s;
    s.subject = {
        {"2.5.4.3", testca::UTF8, "ООО «Ромашка»"},                 // UTF-8: converted
        {"2.5.4.10", testca::BMP, "Общество Ромашка"},                // BMP: converted
        {"2.5.4.7", testca::TELETEX, "\xCC\xEE\xF1\xEA\xE2\xE0"},  // bytes as they are
        {"2.5.4.6", testca::PRINTABLE, "RU"},
        {"1.2.840.113549.1.9.1", testca::IA5, "info@example.ru"},
        {"2.5.4.5", testca::PRINTABLE, "not registered"},            // unknown OID: skipped
        {"2.5.4.12", testca::UTF8, "Директор"},
        {"2.5.4.12", testca::UTF8, "Главный бухгалтер"},            // repeated: replaces
        // A multi-valued RDN: only its first attribute (in encoded order,
        // where the shorter encoding sorts first) is read.
        {"2.5.4.42", testca::UTF8, "Пётр"},
        {"2.5.4.4", testca::UTF8, "Петров-Водкин", true},
    };
    auto p = parse(s);
    EXPECT_EQ(p->result, 0u);
    const CCertObject& o = p->obj;
    EXPECT_EQ(o.getSubjectAttr(OID_COMMON_NAME), ansi("ООО «Ромашка»"));
    EXPECT_EQ(o.getSubjectAttr(OID_ORGANIZATION), ansi("Общество Ромашка"));
    EXPECT_EQ(o.getSubjectAttr(OID_LOCALITY), "\xCC\xEE\xF1\xEA\xE2\xE0");
    EXPECT_EQ(o.getSubjectAttr(OID_COUNTRY), "RU");
    EXPECT_EQ(o.getSubjectAttr(OID_EMAIL), "info@example.ru");
    EXPECT_EQ(o.getSubjectAttr(OID_TITLE), ansi("Главный бухгалтер"));
    EXPECT_EQ(o.getSubjectAttr(OID_GIVEN_NAME), ansi("Пётр"));
    EXPECT_EQ(o.getSubjectAttr(OID_SURNAME), "");
    EXPECT_EQ(o.getSubjectAttrs().size(), 7u);
    EXPECT_EQ(o.getIssuerAttr(OID_COMMON_NAME), "Test CA 2012");
    EXPECT_EQ(o.getSignatureAlgorithm(), "1.2.643.7.1.1.3.2");
    EXPECT_EQ(o.getCertContext(), p->ctx.get());
}

TEST(CertObject, OwnerKindFromTheInn) {
    auto legal = parse(personFields("005032149676", true));
    EXPECT_EQ(legal->obj.getTypeSubject(), TS_LEGAL_ENTITY);
    EXPECT_EQ(legal->obj.getSubjectAttr(OID_INN), "5032149676");

    EXPECT_EQ(parse(personFields("503214967066", true))->obj.getTypeSubject(), TS_ENTREPRENEUR);
    EXPECT_EQ(parse(personFields("503214967066", false))->obj.getTypeSubject(), TS_NATURAL_PERSON);
    EXPECT_EQ(parse(personFields("503214967066", true, ""))->obj.getTypeSubject(), TS_NATURAL_PERSON);

    auto ten = parse(personFields("5032149676", false));
    EXPECT_EQ(static_cast<int>(ten->obj.getTypeSubject()), -1);
    EXPECT_EQ(ten->obj.getSubjectAttr(OID_INN), "5032149676");  // kept as read
    CertFields noInn;
    noInn.subject = {{"2.5.4.3", testca::UTF8, "X"}};
    auto none = parse(noInn);
    EXPECT_EQ(static_cast<int>(none->obj.getTypeSubject()), -1);
    // The later steps still run.
    EXPECT_FALSE(none->obj.getSubjectSerialNumber().isEmpty());
}

TEST(CertObject, SerialNumberInCryptoApiOrderAndValidity) {
    CertFields s = personFields("503214967066", false);
    s.serial = {0x00, 0xFA, 0x01, 0x02, 0x03};  // a leading zero keeps the number positive
    s.notBefore = -2 * 86400;
    s.notAfter = 100 * 86400;
    auto p = parse(s);
    const CBlob sn = p->obj.getSubjectSerialNumber();
    EXPECT_EQ(Bytes(sn.getData(), sn.getData() + sn.getSize()), (Bytes{0x03, 0x02, 0x01, 0xFA, 0x00}));
    EXPECT_EQ(sn.toHexString(), "00FA010203");

    SYSTEMTIME now{};
    GetSystemTime(&now);
    FILETIME nowFt{}, fromFt{}, toFt{};
    const SYSTEMTIME from = p->obj.getValidFrom();
    const SYSTEMTIME to = p->obj.getValidTo();
    ASSERT_TRUE(SystemTimeToFileTime(&now, &nowFt));
    ASSERT_TRUE(SystemTimeToFileTime(&from, &fromFt));
    ASSERT_TRUE(SystemTimeToFileTime(&to, &toFt));
    auto ticks = [](const FILETIME& f) {
        return static_cast<long long>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    const long long day = 864000000000LL;
    EXPECT_NEAR(static_cast<double>(ticks(nowFt) - ticks(fromFt)) / day, 2.0, 0.01);
    EXPECT_NEAR(static_cast<double>(ticks(toFt) - ticks(nowFt)) / day, 100.0, 0.01);
}

TEST(CertObject, KnownAndUnknownPurposesAndTemplate) {
    CertFields s = personFields("503214967066", false);
    s.withEku = true;
    s.purposes = {"1.3.6.1.5.5.7.3.2", "1.2.3.4"};
    auto p = parse(s);
    EXPECT_EQ(p->obj.getEnhKeys(), keys({1}));
    EXPECT_EQ(p->obj.getUnknownEnhKeys(), (std::set<std::string>{"1.2.3.4"}));
    EXPECT_EQ(p->obj.getEnhKeysStr(), (std::set<std::string>{"1.2.3.4", "1.3.6.1.5.5.7.3.2"}));
    EXPECT_EQ(p->obj.getCertTempalate(), CT_NONE);

    // The five common purposes in any order: "Стандарт"; known ones keep
    // certificate order.
    s.purposes = {"1.2.643.2.2.34.6", "1.3.6.1.5.5.7.3.4", "1.2.643.2.2.34.26", "1.3.6.1.5.5.7.3.2",
                  "1.2.643.2.2.34.25", "1.2.840.113549.1.1.1"};
    p = parse(s);
    EXPECT_EQ(p->obj.getEnhKeys(), keys({35, 2, 34, 1, 33}));
    EXPECT_EQ(p->obj.getUnknownEnhKeys().size(), 1u);
    EXPECT_EQ(p->obj.getCertTempalate(), CT_STANDARD);

    // Template 6: the common purposes and six disclosure services.
    s.purposes = {"1.2.643.6.42.5.5.5", "1.3.6.1.5.5.7.3.2", "1.2.643.6.40.1",     "1.3.6.1.5.5.7.3.4",
                  "1.2.643.6.45.1.1.1", "1.2.643.2.2.34.25", "1.2.643.6.44.1.1.1", "1.2.643.2.2.34.26",
                  "1.2.643.6.41.1.1.1", "1.2.643.2.2.34.6",  "1.2.643.2.64.1.1.1"};
    EXPECT_EQ(parse(s)->obj.getCertTempalate(), CT_STANDARD_DISCLOSURE);

    s.withEku = false;
    p = parse(s);
    EXPECT_TRUE(p->obj.getEnhKeys().empty());
    EXPECT_EQ(p->obj.getCertTempalate(), CT_NONE);
}

TEST(CertObject, APartThatDoesNotDecodeStopsTheSteps) {
    CCertObject o;
    EXPECT_EQ(o.parseCertificate(nullptr), 1u);

    CertFields s = personFields("503214967066", false);
    s.withEku = true;
    s.purposes = {"1.3.6.1.5.5.7.3.2"};
    Ctx c = ctxOf(ca2012().issue(s));
    ASSERT_TRUE(c);
    const BYTE junk[] = {0x30, 0x05, 0x31, 0x03, 0x30, 0x01};  // a name whose lengths run past its end

    // A damaged subject: nothing is read, not even the serial number.
    CERT_INFO info = *c->pCertInfo;
    CERT_CONTEXT fake = *c;
    fake.pCertInfo = &info;
    info.Subject = CERT_NAME_BLOB{sizeof junk, const_cast<BYTE*>(junk)};
    EXPECT_EQ(o.parseCertificate(&fake), 0u);
    EXPECT_TRUE(o.getSubjectAttrs().empty());
    EXPECT_EQ(static_cast<int>(o.getTypeSubject()), -1);
    EXPECT_TRUE(o.getSubjectSerialNumber().isEmpty());

    // A damaged issuer: subject and serial number are read, the purposes not.
    info = *c->pCertInfo;
    info.Issuer = CERT_NAME_BLOB{sizeof junk, const_cast<BYTE*>(junk)};
    EXPECT_EQ(o.parseCertificate(&fake), 0u);
    EXPECT_EQ(o.getTypeSubject(), TS_NATURAL_PERSON);
    EXPECT_FALSE(o.getSubjectSerialNumber().isEmpty());
    EXPECT_TRUE(o.getEnhKeys().empty());
    EXPECT_EQ(o.getCertTempalate(), CT_NONE);

    // Extended key usage that does not decode: no purposes, and the
    // signature algorithm step does not run.
    CertFields bad = personFields("503214967066", false);
    bad.extra = {{"2.5.29.37", false, {0x30, 0x04, 0x06, 0x09, 0x2A}}};
    Ctx b = ctxOf(ca2012().issue(bad));
    ASSERT_TRUE(b);
    EXPECT_EQ(o.parseCertificate(b.get()), 0u);
    EXPECT_EQ(o.getTypeSubject(), TS_NATURAL_PERSON);
    EXPECT_TRUE(o.getEnhKeysStr().empty());
    EXPECT_EQ(o.getSignatureAlgorithm(), "");

    // Parsing again starts from scratch.
    EXPECT_EQ(o.parseCertificate(c.get()), 0u);
    EXPECT_EQ(o.getEnhKeys(), keys({1}));
    EXPECT_EQ(o.getSignatureAlgorithm(), "1.2.643.7.1.1.3.2");
}

TEST(CertObject, CertificateBlobThatDoesNotDecodeGives44) {
    const Bytes der = ca2012().issue(personFields("503214967066", false));
    const CERT_CONTEXT* out = reinterpret_cast<const CERT_CONTEXT*>(1);
    EXPECT_EQ(qn::crypto::CryptoBase::blobToCertificate(blobOf(testutil::bytesOf("garbage")), &out),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
    EXPECT_EQ(out, nullptr);
    for (std::size_t cut : {std::size_t{1}, der.size() / 2, der.size() - 1}) {
        const Bytes part(der.begin(), der.begin() + static_cast<long>(cut));
        EXPECT_EQ(qn::crypto::CryptoBase::blobToCertificate(blobOf(part), &out),
                  static_cast<unsigned>(ERR_CERT_DAMAGED))
            << cut;
    }
    Bytes flipped = der;
    flipped[4] ^= 0xFF;
    EXPECT_EQ(qn::crypto::CryptoBase::blobToCertificate(blobOf(flipped), &out),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
    ASSERT_EQ(qn::crypto::CryptoBase::blobToCertificate(blobOf(der), &out), 0u);
    CertFreeCertificateContext(out);
}
