#include "pki/CCertObject.h"

#include <cstring>

#include "core/TextConvert.h"
#include "pki/CCertTemplate.h"

using namespace tesel;

namespace {

// The owner kind before it is known.
constexpr eTypeSubject kSubjectUnknown = static_cast<eTypeSubject>(-1);

// A name attribute's value as text: UTF-16 values (BMP and UTF-8 strings)
// converted to the ANSI code page, every other kind byte for byte. Only the
// cbData bytes are read.
std::string valueText(const CERT_RDN_ATTR& attr) {
    const CERT_RDN_VALUE_BLOB& v = attr.Value;
    if (!v.pbData || v.cbData == 0) {
        return {};
    }
    if (attr.dwValueType == CERT_RDN_BMP_STRING || attr.dwValueType == CERT_RDN_UTF8_STRING) {
        std::vector<WCHAR> wide(v.cbData / sizeof(WCHAR) + 1, 0);
        std::memcpy(wide.data(), v.pbData, (wide.size() - 1) * sizeof(WCHAR));
        return convertToChar(wide.data());
    }
    return std::string(reinterpret_cast<const char*>(v.pbData), v.cbData);
}

}  // namespace

CCertObject::CCertObject() : m_typeSubject(kSubjectUnknown) { init(); }

int CCertObject::init() {
    m_oids = &COids::instance();
    return 0;
}

void CCertObject::reset() {
    m_cert = nullptr;
    m_typeSubject = kSubjectUnknown;
    m_subject.clear();
    m_issuer.clear();
    m_validFrom = SYSTEMTIME{};
    m_validTo = SYSTEMTIME{};
    m_serial.clear();
    m_allEnhKeys.clear();
    m_unknownEnhKeys.clear();
    m_enhKeys.clear();
    m_signatureAlgorithm.clear();
}

bool CCertObject::decodeCryptoObject(LPCSTR structType, const BYTE* encoded, DWORD size, std::vector<BYTE>& out) {
    out.clear();
    if (!encoded || size == 0) {
        return false;
    }
    DWORD need = 0;
    if (!CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, structType, encoded, size, 0, nullptr, &need) ||
        need == 0) {
        return false;
    }
    out.resize(need);
    if (!CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, structType, encoded, size, 0, out.data(),
                           &need)) {
        out.clear();
        return false;
    }
    return true;
}

unsigned CCertObject::parseCertificate(const CERT_CONTEXT* cert) {
    reset();
    if (!cert || !cert->pCertInfo) {
        return 1;
    }
    m_cert = cert;
    if (!m_oids) {
        init();
    }
    if (!parseSubject()) {
        return 0;
    }
    parsePeriod();
    parseSerialNumber();
    if (!parseIssuer() || !parseExtensions()) {
        return 0;
    }
    parseSignatureAlgorithm();
    return 0;
}

bool CCertObject::readName(const CERT_NAME_BLOB& name, std::map<eOID, std::string>& out) {
    std::vector<BYTE> buf;
    if (!decodeCryptoObject(X509_NAME, name.pbData, name.cbData, buf)) {
        return false;
    }
    const auto* info = reinterpret_cast<const CERT_NAME_INFO*>(buf.data());
    for (DWORD i = 0; i < info->cRDN; ++i) {
        const CERT_RDN& rdn = info->rgRDN[i];
        if (rdn.cRDNAttr == 0) {
            continue;
        }
        const CERT_RDN_ATTR& attr = rdn.rgRDNAttr[0];
        const eOID oid = COids::getOID(attr.pszObjId);
        if (oid == OID_UNKNOWN) {
            continue;
        }
        out[oid] = valueText(attr);  // a repeated attribute replaces the earlier one
    }
    return true;
}

bool CCertObject::parseSubject() {
    if (!readName(m_cert->pCertInfo->Subject, m_subject)) {
        return false;
    }
    auto inn = m_subject.find(OID_INN);
    if (inn == m_subject.end() || inn->second.size() != 12) {
        return true;  // owner kind stays unknown
    }
    if (inn->second.compare(0, 2, "00") == 0) {
        m_typeSubject = TS_LEGAL_ENTITY;
        inn->second = inn->second.substr(2);
    } else {
        m_typeSubject = getSubjectAttr(OID_OGRNIP).empty() ? TS_NATURAL_PERSON : TS_ENTREPRENEUR;
    }
    return true;
}

void CCertObject::parsePeriod() {
    if (!FileTimeToSystemTime(&m_cert->pCertInfo->NotBefore, &m_validFrom)) {
        m_validFrom = SYSTEMTIME{};
    }
    if (!FileTimeToSystemTime(&m_cert->pCertInfo->NotAfter, &m_validTo)) {
        m_validTo = SYSTEMTIME{};
    }
}

void CCertObject::parseSerialNumber() {
    const CRYPT_INTEGER_BLOB& sn = m_cert->pCertInfo->SerialNumber;
    if (sn.pbData && sn.cbData) {
        m_serial.init(sn.pbData, sn.cbData);
    }
}

bool CCertObject::parseIssuer() { return readName(m_cert->pCertInfo->Issuer, m_issuer); }

bool CCertObject::parseExtensions() {
    const CERT_INFO& info = *m_cert->pCertInfo;
    if (!info.rgExtension) {
        return true;
    }
    for (DWORD i = 0; i < info.cExtension; ++i) {
        const CERT_EXTENSION& ext = info.rgExtension[i];
        if (!ext.pszObjId || std::strcmp(ext.pszObjId, szOID_ENHANCED_KEY_USAGE) != 0) {
            continue;
        }
        std::vector<BYTE> buf;
        if (!decodeCryptoObject(X509_ENHANCED_KEY_USAGE, ext.Value.pbData, ext.Value.cbData, buf)) {
            return false;
        }
        const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(buf.data());
        for (DWORD j = 0; j < usage->cUsageIdentifier; ++j) {
            const char* text = usage->rgpszUsageIdentifier[j];
            if (!text) {
                continue;
            }
            m_allEnhKeys.insert(text);
            const eEnhKeyOID known = COids::getEnhKeyOID(text);
            if (known != ENH_UNKNOWN) {
                m_enhKeys.push_back(known);
            } else {
                m_unknownEnhKeys.insert(text);
            }
        }
    }
    return true;
}

void CCertObject::parseSignatureAlgorithm() {
    const char* oid = m_cert->pCertInfo->SignatureAlgorithm.pszObjId;
    m_signatureAlgorithm = oid ? oid : "";
}

std::string CCertObject::getSubjectAttr(eOID oid) const {
    auto it = m_subject.find(oid);
    return it == m_subject.end() ? std::string() : it->second;
}

std::string CCertObject::getIssuerAttr(eOID oid) const {
    auto it = m_issuer.find(oid);
    return it == m_issuer.end() ? std::string() : it->second;
}

eCertTemplate CCertObject::getCertTempalate() const { return CCertTemplate::getCertTemplate(m_enhKeys); }
