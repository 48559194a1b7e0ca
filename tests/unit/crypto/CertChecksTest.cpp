// The four certificate checks over certificates of the independent test CA,
// every status value in the order the certificate list applies them, and
// the trusted-roots blob read safely.
#include <string>
#include <vector>

#include "CertTestSupport.h"
#include "crypto/ControllerPKI.h"
#include "pki/CCertObject.h"

using namespace certtest;
using namespace qn::crypto;
using testca::CertFields;

namespace {

constexpr long long kDay = 86400;

CertFields validFields() {
    CertFields s;
    s.subject = {{"2.5.4.3", testca::UTF8, "Иванов Иван"},
                 {"1.2.643.3.131.1.1", testca::NUMERIC, "503214967066"}};
    return s;
}

CertFields periodFields(long long notBefore, long long notAfter) {
    CertFields s = validFields();
    s.notBefore = notBefore;
    s.notAfter = notAfter;
    return s;
}

int period(const CertFields& s) {
    Ctx c = ctxOf(ca2012().issue(s));
    int status = 12345;
    EXPECT_EQ(ControllerPKI::checkCertificatePeriod(c.get(), status), 0);
    return status;
}

int issuerTrust(const CertFields& s, const tesel::CBlob& roots, int status = 0) {
    Ctx c = ctxOf(ca2012().issue(s));
    EXPECT_EQ(ControllerPKI::checkCertificateIssuerIsTrust(c.get(), roots, status), 0);
    return status;
}

// The checks in the order the certificate list applies them.
int listStatus(const CERT_CONTEXT* cert, const tesel::CBlob& roots) {
    int status = 0;
    ControllerPKI::checkCertificatePeriod(cert, status);
    if (isAcceptableCertStatus(status)) {
        ControllerPKI::checkCertificateIssuerIsTrust(cert, roots, status);
        if (isAcceptableCertStatus(status)) ControllerPKI::checkCertificateRevocation(cert, status);
    }
    CCertObject parsed;
    EXPECT_EQ(parsed.parseCertificate(cert), 0u);
    if (isAcceptableCertStatus(status)) ControllerPKI::checkCertificateIsQualified(parsed, status);
    return status;
}

}  // namespace

TEST(CertChecks, PeriodWithTheThirtyDayWarning) {
    EXPECT_EQ(period(validFields()), CERT_STATUS_OK);
    EXPECT_EQ(period(periodFields(-400 * kDay, -10 * kDay)), CERT_STATUS_EXPIRED_RECENTLY);
    EXPECT_TRUE(isAcceptableCertStatus(CERT_STATUS_EXPIRED_RECENTLY));
    EXPECT_EQ(period(periodFields(-400 * kDay, -40 * kDay)), CERT_STATUS_OUT_OF_PERIOD);
    EXPECT_EQ(period(periodFields(kDay, 365 * kDay)), CERT_STATUS_OUT_OF_PERIOD);  // valid from tomorrow
    // The warning ends where the calendar offset reaches a month.
    EXPECT_EQ(period(periodFields(-400 * kDay, -30 * kDay - 3600)), CERT_STATUS_EXPIRED_RECENTLY);
    EXPECT_EQ(period(periodFields(-400 * kDay, -31 * kDay - 3600)), CERT_STATUS_OUT_OF_PERIOD);
    EXPECT_EQ(period(periodFields(-400 * kDay, -3 * 365 * kDay)), CERT_STATUS_OUT_OF_PERIOD);
    int status = 0;
    ControllerPKI::checkCertificatePeriod(nullptr, status);
    EXPECT_EQ(status, CERT_STATUS_OUT_OF_PERIOD);
}

TEST(CertChecks, IssuerTrustThroughTheAuthorityKeyIdentifier) {
    const Bytes ours = ca2012().keyId();
    const Bytes other(20, 0x5A);
    EXPECT_EQ(issuerTrust(validFields(), rootsOf({other, ours})), CERT_STATUS_OK);
    // A trusted issuer leaves the status as it was (the warning stays).
    EXPECT_EQ(issuerTrust(validFields(), rootsOf({ours}), CERT_STATUS_EXPIRED_RECENTLY), CERT_STATUS_EXPIRED_RECENTLY);
    EXPECT_EQ(issuerTrust(validFields(), rootsOf({other})), CERT_STATUS_UNTRUSTED_ISSUER);
    EXPECT_EQ(issuerTrust(validFields(), rootsOf({})), CERT_STATUS_UNTRUSTED_ISSUER);
    Bytes longer = ours;
    longer.push_back(0);
    EXPECT_EQ(issuerTrust(validFields(), rootsOf({longer, Bytes(ours.begin(), ours.end() - 1)})),
              CERT_STATUS_UNTRUSTED_ISSUER);

    CertFields noAki = validFields();
    noAki.withKeyId = false;
    EXPECT_EQ(issuerTrust(noAki, rootsOf({ours})), CERT_STATUS_NOT_QUALIFIED);
    CertFields issuerSerialOnly = noAki;
    issuerSerialOnly.akiIssuerSerial = true;  // names no key
    EXPECT_EQ(issuerTrust(issuerSerialOnly, rootsOf({ours, {}})), CERT_STATUS_NOT_QUALIFIED);
    CertFields damaged = noAki;
    damaged.extra = {{"2.5.29.35", false, {0x30, 0x16, 0x80, 0x14, 0x01}}};
    EXPECT_EQ(issuerTrust(damaged, rootsOf({ours})), CERT_STATUS_NOT_QUALIFIED);
    int status = 0;
    ControllerPKI::checkCertificateIssuerIsTrust(nullptr, rootsOf({ours}), status);
    EXPECT_EQ(status, CERT_STATUS_NOT_QUALIFIED);
}

TEST(CertChecks, RootsBlobThatRunsPastItsEnd) {
    const Bytes ours = ca2012().keyId();
    const Bytes other(20, 0x5A);
    // The count says five, two identifiers are whole: ours among them.
    tesel::CBlob roots = rootsOf({other, ours});
    roots[0] = 5;
    EXPECT_EQ(issuerTrust(validFields(), roots), CERT_STATUS_OK);
    // Ours is the one whose bytes are cut off: it does not count.
    tesel::CBlob whole = rootsOf({other, ours});
    tesel::CBlob cut(whole.getData(), whole.getSize() - 1);
    EXPECT_EQ(issuerTrust(validFields(), cut), CERT_STATUS_UNTRUSTED_ISSUER);
    // A length that runs past the end, and blobs shorter than the count.
    tesel::CBlob huge = rootsOf({ours});
    huge[4] = 0xFF;
    huge[7] = 0x7F;
    EXPECT_EQ(issuerTrust(validFields(), huge), CERT_STATUS_UNTRUSTED_ISSUER);
    const unsigned char two[] = {0x01, 0x00};
    EXPECT_EQ(issuerTrust(validFields(), tesel::CBlob(two, 2)), CERT_STATUS_UNTRUSTED_ISSUER);
    EXPECT_EQ(issuerTrust(validFields(), tesel::CBlob()), CERT_STATUS_UNTRUSTED_ISSUER);
    // The roots blob is taken by value: the caller's cursor does not move.
    tesel::CBlob kept = rootsOf({ours});
    issuerTrust(validFields(), kept);
    EXPECT_EQ(kept.getOffset(), 0u);
}

TEST(CertChecks, QualifiedTestThroughTheCardsInnCheck) {
    auto qualified = [](const std::string& inn, bool ogrnip) {
        CertFields s;
        s.subject = {{"2.5.4.3", testca::UTF8, "Q"}, {"1.2.643.3.131.1.1", testca::NUMERIC, inn}};
        if (ogrnip) s.subject.push_back({"1.2.643.100.5", testca::NUMERIC, "304503214967012"});
        Ctx c = ctxOf(ca2012().issue(s));
        CCertObject o;
        o.parseCertificate(c.get());
        int status = CERT_STATUS_EXPIRED_RECENTLY;
        EXPECT_EQ(ControllerPKI::checkCertificateIsQualified(o, status), 0);
        return status;
    };
    EXPECT_EQ(qualified("005032149676", false), CERT_STATUS_EXPIRED_RECENTLY);  // legal entity
    EXPECT_EQ(qualified("503214967066", false), CERT_STATUS_EXPIRED_RECENTLY);
    EXPECT_EQ(qualified("503214967066", true), CERT_STATUS_EXPIRED_RECENTLY);
    EXPECT_EQ(qualified("503214967067", false), CERT_STATUS_NOT_QUALIFIED);     // check digit
    EXPECT_EQ(qualified("005032149677", false), CERT_STATUS_NOT_QUALIFIED);
    EXPECT_EQ(qualified("5032149676", false), CERT_STATUS_NOT_QUALIFIED);       // owner kind -1
}

class CertListOrderTest : public testutil::CspDirTest {};

TEST_F(CertListOrderTest, EveryStatusValueInTheListOrder) {
    const tesel::CBlob roots = rootsOf({ca2012().keyId()});
    auto status = [&](const CertFields& s) {
        Ctx c = ctxOf(ca2012().issue(s));
        return listStatus(c.get(), roots);
    };
    EXPECT_EQ(status(validFields()), CERT_STATUS_OK);
    EXPECT_EQ(status(periodFields(-400 * kDay, -10 * kDay)), CERT_STATUS_EXPIRED_RECENTLY);
    EXPECT_EQ(status(periodFields(-400 * kDay, -40 * kDay)), CERT_STATUS_OUT_OF_PERIOD);
    EXPECT_EQ(status(periodFields(kDay, 30 * kDay)), CERT_STATUS_OUT_OF_PERIOD);
    CertFields untrusted = validFields();
    untrusted.keyId = Bytes(20, 0x11);
    EXPECT_EQ(status(untrusted), CERT_STATUS_UNTRUSTED_ISSUER);
    CertFields noAki = validFields();
    noAki.withKeyId = false;
    EXPECT_EQ(status(noAki), CERT_STATUS_NOT_QUALIFIED);
    CertFields badInn = validFields();
    badInn.subject[1].utf8 = "503214967067";
    EXPECT_EQ(status(badInn), CERT_STATUS_NOT_QUALIFIED);
    // A recently expired certificate still goes through the other checks.
    CertFields expiredBadInn = periodFields(-400 * kDay, -10 * kDay);
    expiredBadInn.subject[1].utf8 = "503214967067";
    EXPECT_EQ(status(expiredBadInn), CERT_STATUS_NOT_QUALIFIED);
    // Only one objection is ever reported: the first check that fails.
    CertFields expiredUntrusted = periodFields(-400 * kDay, -40 * kDay);
    expiredUntrusted.keyId = Bytes(20, 0x11);
    EXPECT_EQ(status(expiredUntrusted), CERT_STATUS_OUT_OF_PERIOD);

    // Revocation: a list in the folder that names the certificate.
    CertFields revoked = validFields();
    revoked.serial = {0x7E, 0x57};
    EXPECT_EQ(status(revoked), CERT_STATUS_OK);  // no list: the state is unknown, no objection
    putCrl(dir(), "ca.crl", ca2012().crl({{{0x7E, 0x57}, 1}}));
    EXPECT_EQ(status(revoked), CERT_STATUS_REVOKED);
    EXPECT_FALSE(isAcceptableCertStatus(CERT_STATUS_REVOKED));
    EXPECT_EQ(status(validFields()), CERT_STATUS_OK);
}
