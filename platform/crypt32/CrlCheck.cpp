#include "platform/crypt32/CrlCheck.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>

namespace plcsp {

namespace {

struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct CrlFree {
    void operator()(X509_CRL* p) const { X509_CRL_free(p); }
};
struct AkiFree {
    void operator()(AUTHORITY_KEYID* p) const { AUTHORITY_KEYID_free(p); }
};
struct BioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
using CrlPtr = std::unique_ptr<X509_CRL, CrlFree>;

// The lists of one file: a DER list, or the PEM lists it holds.
void readLists(const Bytes& file, std::vector<CrlPtr>& out) {
    if (file.empty() || file.size() > (1u << 24)) {
        return;
    }
    const unsigned char* q = file.data();
    CrlPtr der(d2i_X509_CRL(nullptr, &q, static_cast<long>(file.size())));
    if (der && q == file.data() + file.size()) {
        out.push_back(std::move(der));
        return;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(file.data(), static_cast<int>(file.size())));
    while (bio) {
        CrlPtr crl(PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr));
        if (!crl) {
            break;
        }
        out.push_back(std::move(crl));
    }
    ERR_clear_error();
}

bool sameKeyId(const ASN1_OCTET_STRING* certKeyId, X509_CRL* crl) {
    if (!certKeyId) {
        return true;
    }
    std::unique_ptr<AUTHORITY_KEYID, AkiFree> aki(static_cast<AUTHORITY_KEYID*>(
        X509_CRL_get_ext_d2i(crl, NID_authority_key_identifier, nullptr, nullptr)));
    if (!aki || !aki->keyid) {
        return true;
    }
    return ASN1_OCTET_STRING_cmp(certKeyId, aki->keyid) == 0;
}

bool isCurrent(X509_CRL* crl, std::int64_t now) {
    const time_t t = static_cast<time_t>(now);
    const ASN1_TIME* thisUpdate = X509_CRL_get0_lastUpdate(crl);
    const ASN1_TIME* nextUpdate = X509_CRL_get0_nextUpdate(crl);
    if (!thisUpdate || ASN1_TIME_cmp_time_t(thisUpdate, t) > 0) {
        return false;
    }
    return !nextUpdate || ASN1_TIME_cmp_time_t(nextUpdate, t) >= 0;
}

unsigned reasonOf(X509_REVOKED* entry) {
    ASN1_ENUMERATED* r =
        static_cast<ASN1_ENUMERATED*>(X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr));
    if (!r) {
        return 0;
    }
    const long v = ASN1_ENUMERATED_get(r);
    ASN1_ENUMERATED_free(r);
    return v > 0 && v <= 10 ? static_cast<unsigned>(v) : 0;
}

}  // namespace

CrlVerdict checkAgainstCrls(const Bytes& certDer, const std::vector<Bytes>& crlFiles, std::int64_t now,
                            unsigned& reason) {
    reason = 0;
    if (crlFiles.empty()) {
        return CrlVerdict::NoCrl;  // nothing to look in: the certificate need not be read
    }
    const unsigned char* q = certDer.data();
    std::unique_ptr<X509, X509Free> cert(d2i_X509(nullptr, &q, static_cast<long>(certDer.size())));
    if (!cert) {
        return CrlVerdict::NoCrl;
    }
    const X509_NAME* issuer = X509_get_issuer_name(cert.get());
    const ASN1_OCTET_STRING* keyId = X509_get0_authority_key_id(cert.get());
    bool anyList = false;
    bool anyCurrent = false;
    for (const Bytes& file : crlFiles) {
        std::vector<CrlPtr> lists;
        readLists(file, lists);
        for (CrlPtr& crl : lists) {
            if (X509_NAME_cmp(X509_CRL_get_issuer(crl.get()), issuer) != 0 || !sameKeyId(keyId, crl.get())) {
                continue;
            }
            anyList = true;
            anyCurrent = anyCurrent || isCurrent(crl.get(), now);
            X509_REVOKED* entry = nullptr;
            // 1: listed; 2: listed as removeFromCRL, i.e. no longer revoked.
            if (X509_CRL_get0_by_serial(crl.get(), &entry, X509_get0_serialNumber(cert.get())) == 1) {
                reason = reasonOf(entry);
                return CrlVerdict::Revoked;
            }
        }
    }
    ERR_clear_error();
    if (anyCurrent) {
        return CrlVerdict::Good;
    }
    return anyList ? CrlVerdict::Stale : CrlVerdict::NoCrl;
}

}  // namespace plcsp
