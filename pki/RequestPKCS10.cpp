#include "pki/RequestPKCS10.h"

#include "client/CClient.h"
#include "core/TextConvert.h"
#include "crypto/CCSP_Type.h"
#include "errors/eErrCodes.h"
#include "pki/eCertTemplate.h"
#include "pki/eEnhKeyOID.h"
#include "pki/eOID.h"
#include "pki/eTypeSubject.h"

namespace tesel {

namespace {

// Purposes every request asks for, before the added and template ones.
constexpr eEnhKeyOID kCommonPurposes[] = {ENH_CLIENT_AUTH, ENH_SECURE_EMAIL, ENH_TSP_USER, ENH_OCSP_USER,
                                          ENH_RC_USER};

// Marks the place of the subject-dependent purpose in the template lists.
constexpr int kSubjectPurpose = -100;

// The request builder's own template purposes. They differ from the
// template catalog for templates 9 and 10, and the CA expects them so.
std::vector<int> templatePurposes(int certTemplate) {
    switch (certTemplate) {
        case CT_B2B_ARCHIVE:
            return {ENH_B2B};
        case CT_COMMERCIAL:
        case CT_PACKAGE_UNIVERSAL:
            return {ENH_ETP_2, ENH_ETP_UTENDER, ENH_B2B, ENH_AETP, ENH_ETP_FABRIKANT};
        case CT_UNIVERSAL_ARCHIVE:
            return {ENH_ETP_2,           ENH_ETP_UTENDER,    ENH_FEDERAL_PLATFORMS,   kSubjectPurpose,
                    ENH_ORDER_PARTICIPANT, ENH_GOSTORGI_ADMIN, ENH_GOSTORGI_SPECIALIST, ENH_GOSTORGI_SIGNER,
                    ENH_AETP};
        case CT_UNIVERSAL_PLUS_2017_ARCHIVE:
            return {ENH_ETP_2,           ENH_ETP_UTENDER,    ENH_FEDERAL_PLATFORMS,   kSubjectPurpose,
                    ENH_ORDER_PARTICIPANT, ENH_GOSTORGI_ADMIN, ENH_GOSTORGI_SPECIALIST, ENH_GOSTORGI_SIGNER,
                    ENH_AETP,            ENH_B2B};
        case CT_STANDARD_DISCLOSURE:
            return {ENH_DISCLOSURE_SKRIN, ENH_DISCLOSURE_INTERFAX, ENH_DISCLOSURE_PRIME, ENH_DISCLOSURE_AZIPI,
                    ENH_DISCLOSURE_AKM,   ENH_EFRSFDUL};
        case CT_GOSZAKAZ_2017_ARCHIVE:
        case CT_GOSZAKAZ_ARCHIVE:
            return {ENH_FEDERAL_PLATFORMS, kSubjectPurpose,         ENH_ORDER_PARTICIPANT,
                    ENH_GOSTORGI_ADMIN,    ENH_GOSTORGI_SPECIALIST, ENH_GOSTORGI_SIGNER};
        case CT_UNIVERSAL_PLUS_2018_ARCHIVE:
            return {ENH_ETP_2,           ENH_ETP_UTENDER,    ENH_FEDERAL_PLATFORMS,   kSubjectPurpose,
                    ENH_ORDER_PARTICIPANT, ENH_GOSTORGI_ADMIN, ENH_GOSTORGI_SPECIALIST, ENH_GOSTORGI_SIGNER,
                    ENH_AETP,            ENH_B2B,            ENH_ETP_FABRIKANT};
        default:
            return {};
    }
}

// The Gostorgi purpose of the applicant's kind; none for other kinds.
int subjectPurpose(int type) {
    switch (type) {
        case TS_LEGAL_ENTITY:
            return ENH_GOSTORGI_LEGAL;
        case TS_NATURAL_PERSON:
            return ENH_GOSTORGI_PERSON;
        case TS_ENTREPRENEUR:
            return ENH_GOSTORGI_ENTREPRENEUR;
        default:
            return ENH_UNKNOWN;
    }
}

std::string streetAddress(const CAddress& a) {
    std::string s = a.getStreet() + ", " + a.getHouse();
    if (!a.getKorpus().empty()) {
        s += ", " + a.getKorpus();
    }
    if (!a.getApartment().empty()) {
        s += ", " + a.getApartment();
    }
    return s;
}

}  // namespace

int RequestPKCS10::fillFromClient(const CClient& card, qn::crypto::eSupportCP csp) {
    m_attribs.clear();
    m_purposes.clear();
    m_policies.clear();
    m_signTool.clear();

    const int type = card.getClientType();
    const int certTemplate = card.getTemplateCertId();
    const bool fullSubject = certTemplate != CT_GOSZAKAZ_2017_ARCHIVE;
    auto add = [this](eOID oid, const std::string& value) { m_attribs.push_back({eOIDString[oid], value}); };

    add(OID_EMAIL, card.getEmail());
    if (type == TS_LEGAL_ENTITY) {
        add(OID_TITLE, card.getPosition());
        add(OID_ORGANIZATION, card.getCompanyName());
    }
    if (fullSubject) {
        add(OID_SNILS, card.getSNILS());
        if (type == TS_LEGAL_ENTITY) {
            add(OID_OGRN, card.getOGRN());
        }
        if (type == TS_ENTREPRENEUR) {
            add(OID_OGRNIP, card.getOGRN());  // the card keeps the OGRNIP in the OGRN field
        }
        // A legal entity's 10-digit INN is written as 12 digits.
        const std::string& inn = card.getINN();
        add(OID_INN, inn.size() == 10 ? "00" + inn : inn);
    }
    if (certTemplate != CT_STANDARD && certTemplate != CT_STANDARD_1_MONTH &&
        certTemplate != CT_STANDARD_DISCLOSURE && certTemplate != CT_GOSZAKAZ_2017_ARCHIVE) {
        std::string unstructured;
        if (type == TS_LEGAL_ENTITY) {
            unstructured = "INN=" + card.getINN() + "/KPP=" + card.getKPP() + "/OGRN=" + card.getOGRN();
        } else if (type == TS_NATURAL_PERSON || type == TS_ENTREPRENEUR) {
            unstructured = "INN=" + card.getINN();
        }
        add(OID_UNSTRUCTURED_NAME, unstructured);
    }
    add(OID_STREET, streetAddress(card.getAddress()));
    add(OID_LOCALITY, card.getAddress().getCity());
    add(OID_STATE, card.getAddress().getRegion());
    add(OID_COUNTRY, "RU");
    if (fullSubject) {
        add(OID_GIVEN_NAME, card.getName() + " " + card.getPatronymic());
        add(OID_SURNAME, card.getSurname());
    }
    add(OID_COMMON_NAME, type == TS_LEGAL_ENTITY ? card.getCompanyName() : card.getFullName());

    // Purposes: common ones, the card's added ones (ascending), then the
    // template's; a purpose in both of the last two is written twice.
    for (eEnhKeyOID p : kCommonPurposes) {
        m_purposes.push_back(eEnhKeyString[p]);
    }
    for (eEnhKeyOID p : card.getAddOids()) {
        if (isKnownEnhKeyOID(p)) {  // a value outside the table has no OID to write
            m_purposes.push_back(eEnhKeyString[p]);
        }
    }
    for (int p : templatePurposes(certTemplate)) {
        if (p == kSubjectPurpose) {
            p = subjectPurpose(type);
        }
        if (isKnownEnhKeyOID(p)) {
            m_purposes.push_back(eEnhKeyString[p]);
        }
    }

    if (csp == qn::crypto::CP_NONE) {
        return ERR_CSP_NOT_INITIALIZED;
    }
    m_signTool = qn::crypto::CCSP_Type::instance().getCSPString(csp);
    m_policies.push_back(eOIDString[OID_POLICY_KC1]);
    m_policies.push_back(eOIDString[OID_POLICY_KC2]);
    return ERR_OK;
}

}  // namespace tesel
