#include "webpackets/CCertListWebPacket.h"

#include <string>
#include <utility>
#include <vector>

#include "app/Settings.h"
#include "core/DateTime.h"
#include "core/TextConvert.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/UserCerts.h"
#include "errors/eErrCodes.h"
#include "pki/CCertObject.h"

using qn::crypto::ControllerPKI;
using qn::crypto::ControllerPKIClient;

namespace {

struct CertRecord {
    unsigned index = 0;
    std::string commonName;
    std::string person;
    tesel::CBlob serial;
    int subjectKind = 0;
    std::string validTo;
    int status = 0;

    unsigned size() const {
        return 2 * tesel::CBlob::sizeOfInt() + tesel::CBlob::sizeOf(commonName) + tesel::CBlob::sizeOf(person) +
               tesel::CBlob::sizeOf(serial) + tesel::CBlob::sizeOf(validTo) + tesel::CBlob::sizeOfInt();
    }
    void write(tesel::CBlob& out) const {
        out.serialize(index);
        out.serialize(commonName);
        out.serialize(person);
        out.serialize(&serial);
        out.serialize(subjectKind);
        out.serialize(validTo);
        out.serialize(status);
    }
};

// The contexts that loadUserCerts hands out are the caller's to free.
struct OwnedCerts {
    qn::crypto::CertMap certs;
    ~OwnedCerts() {
        for (auto& entry : certs) CertFreeCertificateContext(entry.second);
    }
};

}  // namespace

CCertListWebPacket::CCertListWebPacket() : CWebPacket(CERT_LIST_ANSWER, 1) {}

int CCertListWebPacket::process(tesel::CBlob& reply) {
    loadCertList(reply);
    return 0;
}

bool CCertListWebPacket::isValidCertStatus(int status) { return qn::crypto::isAcceptableCertStatus(status); }

int CCertListWebPacket::loadCertList(tesel::CBlob& reply) {
    const tesel::CBlob roots = getRootCACerts();
    if (roots.isEmpty()) {
        reply = codeAnswer(ERR_INTERNAL);
        return ERR_INTERNAL;
    }
    ControllerPKIClient& pki = ControllerPKIClient::instance();
    OwnedCerts owned;
    if (const unsigned r = qn::crypto::loadUserCerts(pki.getCertStore(), owned.certs)) {
        reply = codeAnswer(static_cast<int>(r));
        return static_cast<int>(r);
    }
    pki.setUserCerts(owned.certs);

    std::vector<CertRecord> records;
    records.reserve(owned.certs.size());
    unsigned payloadSize = 0;
    CCertObject object;
    object.init();
    for (const auto& [index, cert] : owned.certs) {
        int status = qn::crypto::CERT_STATUS_OK;
        ControllerPKI::checkCertificatePeriod(cert, status);
        if (isValidCertStatus(status)) {
            ControllerPKI::checkCertificateIssuerIsTrust(cert, roots, status);
            if (isValidCertStatus(status)) ControllerPKI::checkCertificateRevocation(cert, status);
        }
        if (const unsigned r = object.parseCertificate(cert)) {
            reply = codeAnswer(static_cast<int>(r));
            return static_cast<int>(r);
        }
        if (isValidCertStatus(status)) ControllerPKI::checkCertificateIsQualified(object, status);

        CertRecord& record = records.emplace_back();
        record.index = index;
        record.commonName = tesel::convertToUTF8(object.getSubjectAttr(tesel::OID_COMMON_NAME));
        record.person = tesel::convertToUTF8(object.getSubjectAttr(tesel::OID_SURNAME) + " " +
                                             object.getSubjectAttr(tesel::OID_GIVEN_NAME));
        record.serial = object.getSubjectSerialNumber();
        record.subjectKind = static_cast<int>(object.getTypeSubject());
        record.validTo = tesel::timeToStr(object.getValidTo(), tesel::DATE_YMD_HMS_DASHED);
        record.status = status;
        payloadSize += record.size();
    }

    tesel::CBlob answer = codeAnswer(ERR_OK, payloadSize);
    for (const CertRecord& record : records) record.write(answer);
    reply = std::move(answer);
    return ERR_OK;
}
