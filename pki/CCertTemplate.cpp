#include "pki/CCertTemplate.h"

#include <algorithm>

namespace tesel {

namespace {

// CP1251 names in template order; the readable text is in the comments.
const char* const kTemplateNames[kCertTemplateCount] = {
    // 0 Стандарт
    "\xD1\xF2\xE0\xED\xE4\xE0\xF0\xF2",
    // 1 B2B_Архив
    "B2B_\xC0\xF0\xF5\xE8\xE2",
    // 2 Коммерческий
    "\xCA\xEE\xEC\xEC\xE5\xF0\xF7\xE5\xF1\xEA\xE8\xE9",
    // 3 Универсал_Архив
    "\xD3\xED\xE8\xE2\xE5\xF0\xF1\xE0\xEB_\xC0\xF0\xF5\xE8\xE2",
    // 4 Универсал плюс_2017_Архив
    "\xD3\xED\xE8\xE2\xE5\xF0\xF1\xE0\xEB \xEF\xEB\xFE\xF1_2017_\xC0\xF0\xF5\xE8\xE2",
    // 5 Стандарт (1 месяц)
    "\xD1\xF2\xE0\xED\xE4\xE0\xF0\xF2 (1 \xEC\xE5\xF1\xFF\xF6)",
    // 6 Стандарт(+Раскрытие)
    "\xD1\xF2\xE0\xED\xE4\xE0\xF0\xF2(+\xD0\xE0\xF1\xEA\xF0\xFB\xF2\xE8\xE5)",
    // 7 Госзаказ 2.0_2017_Архив
    "\xC3\xEE\xF1\xE7\xE0\xEA\xE0\xE7 2.0_2017_\xC0\xF0\xF5\xE8\xE2",
    // 8 Стандарт (3 месяца)
    "\xD1\xF2\xE0\xED\xE4\xE0\xF0\xF2 (3 \xEC\xE5\xF1\xFF\xF6\xE0)",
    // 9 Госзаказ 2.0_Архив
    "\xC3\xEE\xF1\xE7\xE0\xEA\xE0\xE7 2.0_\xC0\xF0\xF5\xE8\xE2",
    // 10 Универсал плюс_2018_Архив
    "\xD3\xED\xE8\xE2\xE5\xF0\xF1\xE0\xEB \xEF\xEB\xFE\xF1_2018_\xC0\xF0\xF5\xE8\xE2",
    // 11 Пакет ГОСТОРГИ
    "\xCF\xE0\xEA\xE5\xF2 \xC3\xCE\xD1\xD2\xCE\xD0\xC3\xC8",
    // 12 Пакет Универсальный
    "\xCF\xE0\xEA\xE5\xF2 \xD3\xED\xE8\xE2\xE5\xF0\xF1\xE0\xEB\xFC\xED\xFB\xE9",
};

// Purposes every template starts with: client authentication, secure
// e-mail, time-stamp, status and registration centre service user.
const eEnhKeyOID kCommonPurposes[] = {ENH_CLIENT_AUTH, ENH_SECURE_EMAIL, ENH_TSP_USER,
                                      ENH_OCSP_USER, ENH_RC_USER};

// The Gostorgi purpose that depends on the kind of applicant.
eEnhKeyOID subjectPurpose(eTypeSubject s) {
    switch (s) {
        case TS_LEGAL_ENTITY: return ENH_GOSTORGI_LEGAL;
        case TS_NATURAL_PERSON: return ENH_GOSTORGI_PERSON;
        case TS_ENTREPRENEUR: return ENH_GOSTORGI_ENTREPRENEUR;
        default: return ENH_UNKNOWN;
    }
}

}  // namespace

CCertTemplate::CCertTemplate() { init(); }

CCertTemplate& CCertTemplate::instance() {
    // Initialised exactly once even when two threads arrive first together;
    // never destroyed.
    static CCertTemplate* const catalog = new CCertTemplate();
    return *catalog;
}

void CCertTemplate::registerName(eCertTemplate t, const char* name) { m_names.emplace(t, name); }

void CCertTemplate::registerPurposes(eCertTemplate t, eTypeSubject s,
                                     std::vector<eEnhKeyOID> extra) {
    std::vector<eEnhKeyOID> list(std::begin(kCommonPurposes), std::end(kCommonPurposes));
    const eEnhKeyOID bySubject = subjectPurpose(s);
    for (eEnhKeyOID oid : extra) {
        // ENH_UNKNOWN stands for the subject-dependent purpose.
        if (oid != ENH_UNKNOWN) list.push_back(oid);
        else if (bySubject != ENH_UNKNOWN) list.push_back(bySubject);
    }
    m_purposes.emplace(CertTemplateSetOids{t, s}, std::move(list));
}

void CCertTemplate::init() {
    for (int t = 0; t < kCertTemplateCount; ++t)
        registerName(static_cast<eCertTemplate>(t), kTemplateNames[t]);

    constexpr eEnhKeyOID SUBJ = ENH_UNKNOWN;  // placeholder for the subject purpose
    const eTypeSubject perSubject[] = {TS_LEGAL_ENTITY, TS_ENTREPRENEUR, TS_NATURAL_PERSON};

    registerPurposes(CT_STANDARD, TS_ANY, {});
    registerPurposes(CT_STANDARD_DISCLOSURE, TS_ANY,
                     {ENH_DISCLOSURE_SKRIN, ENH_DISCLOSURE_INTERFAX, ENH_DISCLOSURE_PRIME,
                      ENH_DISCLOSURE_AZIPI, ENH_DISCLOSURE_AKM, ENH_EFRSFDUL});
    registerPurposes(CT_B2B_ARCHIVE, TS_ANY, {ENH_B2B});
    registerPurposes(CT_COMMERCIAL, TS_ANY,
                     {ENH_ETP_2, ENH_ETP_UTENDER, ENH_B2B, ENH_AETP, ENH_ETP_FABRIKANT});
    for (eTypeSubject s : perSubject)
        registerPurposes(CT_UNIVERSAL_ARCHIVE, s,
                         {ENH_ETP_2, ENH_ETP_UTENDER, ENH_FEDERAL_PLATFORMS, SUBJ,
                          ENH_ORDER_PARTICIPANT, ENH_GOSTORGI_ADMIN, ENH_GOSTORGI_SPECIALIST,
                          ENH_GOSTORGI_SIGNER, ENH_AETP});
    for (eTypeSubject s : perSubject)
        registerPurposes(CT_UNIVERSAL_PLUS_2017_ARCHIVE, s,
                         {ENH_ETP_2, ENH_ETP_UTENDER, ENH_FEDERAL_PLATFORMS, SUBJ,
                          ENH_ORDER_PARTICIPANT, ENH_GOSTORGI_ADMIN, ENH_GOSTORGI_SPECIALIST,
                          ENH_GOSTORGI_SIGNER, ENH_AETP, ENH_B2B});
    for (eTypeSubject s : perSubject)
        registerPurposes(CT_GOSZAKAZ_2017_ARCHIVE, s,
                         {ENH_FEDERAL_PLATFORMS, SUBJ, ENH_ORDER_PARTICIPANT, ENH_GOSTORGI_ADMIN,
                          ENH_GOSTORGI_SPECIALIST, ENH_GOSTORGI_SIGNER});
    for (eTypeSubject s : perSubject)
        registerPurposes(CT_GOSZAKAZ_ARCHIVE, s,
                         {ENH_ETP_2, ENH_ETP_UTENDER, ENH_FEDERAL_PLATFORMS, SUBJ,
                          ENH_ORDER_PARTICIPANT, ENH_GOSTORGI_ADMIN, ENH_GOSTORGI_SPECIALIST,
                          ENH_GOSTORGI_SIGNER, ENH_AETP});
    registerPurposes(CT_PACKAGE_GOSTORGI, TS_ANY, {});
    registerPurposes(CT_PACKAGE_UNIVERSAL, TS_ANY,
                     {ENH_ETP_2, ENH_ETP_UTENDER, ENH_B2B, ENH_AETP, ENH_ETP_FABRIKANT});
}

std::string CCertTemplate::getName(eCertTemplate t) const {
    const auto it = m_names.find(t);
    return it == m_names.end() ? std::string() : it->second;
}

bool CCertTemplate::isEnhOidInCertTemplate(eCertTemplate t, eTypeSubject s, eEnhKeyOID oid) {
    const auto& purposes = instance().m_purposes;
    const auto it = purposes.find(CertTemplateSetOids{t, s});
    if (it == purposes.end()) return false;
    return std::find(it->second.begin(), it->second.end(), oid) != it->second.end();
}

eCertTemplate CCertTemplate::getCertTemplate(std::vector<eEnhKeyOID> purposes) {
    if (purposes.empty()) return CT_NONE;
    std::sort(purposes.begin(), purposes.end());
    for (const auto& [key, list] : instance().m_purposes) {
        if (list.size() != purposes.size()) continue;
        std::vector<eEnhKeyOID> sorted = list;
        std::sort(sorted.begin(), sorted.end());
        if (sorted == purposes) return key.first;
    }
    return CT_NONE;
}

}  // namespace tesel
