// Catalog of the CA's certificate products: the name of each template and,
// per kind of applicant, the extended-key-usage purposes its certificate
// carries. Filled once on first use (safe when several threads get there at
// once) and read-only afterwards.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pki/eCertTemplate.h"
#include "pki/eEnhKeyOID.h"
#include "pki/eTypeSubject.h"

namespace tesel {

class CCertTemplate {
public:
    // Ordered by template, then subject; -1 (any subject) sorts first.
    using CertTemplateSetOids = std::pair<eCertTemplate, eTypeSubject>;

    static CCertTemplate& instance();

    // True when the catalog has exactly the key (t, s) - -1 matches only
    // -1 - and that entry's purposes contain oid.
    static bool isEnhOidInCertTemplate(eCertTemplate t, eTypeSubject s, eEnhKeyOID oid);

    // The template whose purpose list holds exactly the given purposes (in
    // any order); the first match in key order wins. -1 when none matches,
    // and always for an empty list.
    static eCertTemplate getCertTemplate(std::vector<eEnhKeyOID> purposes);

    // The registered name (CP1251), or "" for a template without one.
    std::string getName(eCertTemplate t) const;
    const std::map<eCertTemplate, std::string>& getNames() const { return m_names; }
    const std::map<CertTemplateSetOids, std::vector<eEnhKeyOID>>& getTemplatePurposes() const {
        return m_purposes;
    }

    CCertTemplate(const CCertTemplate&) = delete;
    CCertTemplate& operator=(const CCertTemplate&) = delete;

private:
    CCertTemplate();
    void init();
    // A second registration for a key already present is ignored.
    void registerName(eCertTemplate t, const char* name);
    void registerPurposes(eCertTemplate t, eTypeSubject s, std::vector<eEnhKeyOID> extra);

    std::map<eCertTemplate, std::string> m_names;
    std::map<CertTemplateSetOids, std::vector<eEnhKeyOID>> m_purposes;
};

}  // namespace tesel
