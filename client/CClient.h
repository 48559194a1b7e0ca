// The client card: the applicant's registration record (who the applicant
// is, registration numbers, contact person, passport, address, certificate
// product, CSP, extra key purposes and attached documents), its validation
// rules and its byte form. Texts are CP1251.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "client/CAddress.h"
#include "client/CertValidityPeriod.h"
#include "client/NaturalPerson.h"
#include "client/sAttachment.h"
#include "core/CBlob.h"
#include "crypto/eSupportCP.h"
#include "pki/eCertTemplate.h"
#include "pki/eEnhKeyOID.h"
#include "pki/eTypeSubject.h"

namespace tesel {

class CClient : public NaturalPerson {
public:
    // Result of one successful conversion step of an older card; internal
    // to decoding, never returned by BinaryToPartnerInfo.
    static constexpr int kCardConverted = 19;
    static constexpr unsigned kCardMarker = 0x34DEF11D;
    static constexpr unsigned kPassportMarker = 0xE3D3F52D;

    CClient();

    static constexpr unsigned getCardVersion() { return 106; }

    // --- attachments
    // A type other than 5 that is already attached gets the new data and
    // keeps its name; otherwise a new entry is appended. Returns 0.
    int addAttachment(const CBlob& data, const std::string& name, eAttacmentDocType type);
    // The same, taking the contents over (large scans are not copied).
    int addAttachment(CBlob&& data, const std::string& name, eAttacmentDocType type);
    const std::vector<sAttachment>& getAttachments() const { return m_attachments; }
    void clearAttachments() { m_attachments.clear(); }

    // --- card fields
    eTypeSubject getClientType() const { return m_clientType; }
    void setClientType(eTypeSubject v) { m_clientType = v; }
    bool getAP_WithoutStamp() const { return AP_WithoutStamp; }
    void setAP_WithoutStamp(bool v) { AP_WithoutStamp = v; }

    const std::set<eEnhKeyOID>& getAddOids() const { return m_addOids; }
    unsigned getAddOidSize() const { return static_cast<unsigned>(m_addOids.size()); }
    // Inserts oid when add is true, erases it otherwise. Values outside the
    // enumeration are ignored: they have no OID text to write.
    void setAddOid(eEnhKeyOID oid, bool add);
    void clearAddOids() { m_addOids.clear(); }

    const std::string& getCompanyName() const { return m_companyName; }
    void setCompanyName(const std::string& v) { m_companyName = v; }
    const std::string& getOGRN() const { return m_ogrn; }
    void setOGRN(const std::string& v) { m_ogrn = v; }
    const std::string& getKPP() const { return m_kpp; }
    void setKPP(const std::string& v) { m_kpp = v; }
    const std::string& getPhone() const { return m_phone; }
    void setPhone(const std::string& v) { m_phone = v; }
    const std::string& getComment() const { return m_comment; }
    void setComment(const std::string& v) { m_comment = v; }
    const std::string& getConvertId() const { return m_convertId; }
    void setConvertId(const std::string& v) { m_convertId = v; }

    eCertTemplate getTemplateCertId() const { return m_template; }
    void setTemplateCertId(eCertTemplate v) { m_template = v; }
    qn::crypto::eSupportCP getCSP() const { return m_csp; }
    void setCSP(qn::crypto::eSupportCP v) { m_csp = v; }

    CAddress& getAddress() { return m_address; }
    const CAddress& getAddress() const { return m_address; }
    void setAddress(const CAddress& v) { m_address = v; }

    CertValidityPeriod& getCertValidityPeriod() { return m_period; }
    const CertValidityPeriod& getCertValidityPeriod() const { return m_period; }

    // OID texts of the purposes, written only in the web form of the card.
    const std::set<std::string>& getEnhOids() const { return m_enhOids; }
    void setEnhOids(const std::set<std::string>& v) { m_enhOids = v; }
    void addEnhOid(const std::string& oid) { m_enhOids.insert(oid); }
    void clearEnhOids() { m_enhOids.clear(); }

    // --- validation (nothing is changed)
    static bool checkINN(const std::string& inn, eTypeSubject kind);
    bool checkINN() const { return checkINN(getINN(), m_clientType); }
    bool checkOGRN() const;
    bool checkKPP() const;
    bool checkSNILS() const;
    bool checkCompanyName() const;
    bool checkFullName() const;
    bool checkPosition() const;
    bool checkContactInfo() const;
    // 0, or 63 when no CSP is chosen.
    int checkCSP() const;
    // 0, or 61 for an invalid envelope identifier.
    int checkConvert() const;

    // Cuts every text of the card, passport and address at its first zero.
    void trimNULLInStrings();

    // --- byte form
    // The card with its added purposes as u32 values (the form for the CA).
    CBlob PartnerInfoToBinary() const;
    // The card with its purpose texts as strings (the form for the web page).
    CBlob PartnerInfoToBinary2() const;
    // Fills the card from its byte form, converting an older version (104,
    // 105) first; converted tells whether that happened, and then card holds
    // the converted bytes. Returns 0, 46 (damaged: wrong marker, bytes that
    // end before the fields do, a bad period record), 76 (newer version) or
    // 48 (unsupported version). On failure the card object is unchanged.
    int BinaryToPartnerInfo(CBlob* card, bool& converted);

    // Header check: 46 wrong marker or short header, 76 newer, 49 older, 0.
    static int checkVersion(const CBlob* card, unsigned& version);
    // One conversion step: 19 with the next version's bytes in converted,
    // the result of checkVersion when it is not 49, 48 for a version that
    // cannot be converted, 46 for a damaged old card.
    static int updateClientCardVersion(CBlob* card, CBlob* converted, unsigned& version);

    // Purposes in the CA form: one u32 per purpose, ascending.
    CBlob getAddOidIndexBLOB() const;
    // Replaces the purposes with the whole u32 values of the blob (from its
    // start; trailing bytes are ignored, unknown values dropped).
    void setAddOidIndexBLOB(CBlob* purposes);
    // Purposes in the web form: the texts as strings, ascending.
    CBlob serializeEnhOids() const;
    // Replaces the attachments with the records from card's cursor to its
    // end, dropping records without data. 0, or 46 (attachments unchanged)
    // when a record ends early.
    int loadClientAttachments(CBlob* card);

    // The passport record: its marker, then the fields as a nested blob.
    CBlob serializePassportInfo() const;
    // Reads a passport record from card's cursor, or the older layout
    // without marker (document type 21). 0, or 46 when the bytes end early.
    int deserializePassportInfo(CBlob* card);

    // The organisation works without a seal.
    bool AP_WithoutStamp = false;

    bool operator==(const CClient& other) const;

private:
    std::vector<sAttachment> m_attachments;
    eTypeSubject m_clientType = TS_LEGAL_ENTITY;
    std::set<eEnhKeyOID> m_addOids;
    std::string m_companyName;
    std::string m_ogrn;
    std::string m_kpp;
    std::string m_phone;
    std::string m_comment;
    std::string m_convertId;
    eCertTemplate m_template = CT_STANDARD;
    qn::crypto::eSupportCP m_csp = qn::crypto::CP_NONE;
    CAddress m_address;
    CertValidityPeriod m_period;
    std::set<std::string> m_enhOids;

    friend class CClientCodec;
};

// 0, or 61 unless id is 6 characters whose last is the check character.
int checkConvert(const std::string& id);
// 8 characters whose last is the check character.
bool checkPIN(const std::string* pin);
// Holds "@" and a "." at or after the first "@".
bool checkEmail(const std::string* email);

}  // namespace tesel
