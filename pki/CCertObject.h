// A parsed certificate: what the rest of the system asks about one, kept as
// plain values (subject attributes in the ANSI code page, the owner kind,
// validity, serial number, purposes and the product they amount to).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/CBlob.h"
#include "pki/COids.h"
#include "pki/eCertTemplate.h"
#include "pki/eEnhKeyOID.h"
#include "pki/eOID.h"
#include "pki/eTypeSubject.h"
#include "platform/wincrypt.h"

class CCertObject {
public:
    CCertObject();

    // Takes the OID registry. Returns 0.
    int init();

    // Reads the certificate: subject, period, serial number, issuer,
    // extensions, signature algorithm, in that order. A part that does not
    // decode stops the parts after it; the result is still 0. 1 for a null
    // context. The context is not owned: the caller keeps it alive while
    // this object is used. Parsing again starts from scratch.
    unsigned parseCertificate(const CERT_CONTEXT* cert);

    // The subject attribute's text (ANSI code page), empty when absent.
    std::string getSubjectAttr(tesel::eOID oid) const;
    const std::map<tesel::eOID, std::string>& getSubjectAttrs() const { return m_subject; }
    // The issuer's attributes, read the same way.
    std::string getIssuerAttr(tesel::eOID oid) const;

    // 0 legal entity, 1 natural person, 2 individual entrepreneur; -1 when
    // the subject's INN is not 12 characters long.
    tesel::eTypeSubject getTypeSubject() const { return m_typeSubject; }

    SYSTEMTIME getValidFrom() const { return m_validFrom; }
    SYSTEMTIME getValidTo() const { return m_validTo; }

    // Serial number bytes as CryptoAPI keeps them, least significant first.
    tesel::CBlob getSubjectSerialNumber() const { return m_serial; }

    // Purposes of the extended key usage: the known ones in certificate
    // order, the texts of those that are not known, and all texts.
    const std::vector<tesel::eEnhKeyOID>& getEnhKeys() const { return m_enhKeys; }
    const std::set<std::string>& getUnknownEnhKeys() const { return m_unknownEnhKeys; }
    const std::set<std::string>& getEnhKeysStr() const { return m_allEnhKeys; }

    // The product that the known purposes amount to; -1 when none matches.
    tesel::eCertTemplate getCertTempalate() const;

    // The signature algorithm's OID text.
    const std::string& getSignatureAlgorithm() const { return m_signatureAlgorithm; }

    const CERT_CONTEXT* getCertContext() const { return m_cert; }

    // CryptDecodeObject of the encoded bytes as the structure (X509_NAME,
    // X509_ENHANCED_KEY_USAGE, X509_AUTHORITY_KEY_ID2 ...) into out, whose
    // start holds the structure. False when the bytes do not decode.
    static bool decodeCryptoObject(LPCSTR structType, const BYTE* encoded, DWORD size, std::vector<BYTE>& out);

private:
    void reset();
    bool parseSubject();
    void parsePeriod();
    void parseSerialNumber();
    bool parseIssuer();
    bool parseExtensions();
    void parseSignatureAlgorithm();
    // Attributes of a DER name by eOID; false when the name does not decode.
    bool readName(const CERT_NAME_BLOB& name, std::map<tesel::eOID, std::string>& out);

    const CERT_CONTEXT* m_cert = nullptr;
    tesel::COids* m_oids = nullptr;
    tesel::eTypeSubject m_typeSubject;
    std::map<tesel::eOID, std::string> m_subject;
    std::map<tesel::eOID, std::string> m_issuer;
    SYSTEMTIME m_validFrom{};
    SYSTEMTIME m_validTo{};
    tesel::CBlob m_serial;
    std::set<std::string> m_allEnhKeys;
    std::set<std::string> m_unknownEnhKeys;
    std::vector<tesel::eEnhKeyOID> m_enhKeys;
    std::string m_signatureAlgorithm;
};
