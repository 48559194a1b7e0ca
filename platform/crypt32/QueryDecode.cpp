#include "platform/crypt32/QueryDecode.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cctype>
#include <ctime>
#include <memory>

namespace plcsp {

namespace {

constexpr std::size_t kMaxObject = 1u << 24;

struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct CrlFree {
    void operator()(X509_CRL* p) const { X509_CRL_free(p); }
};
struct Pkcs7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};

bool isCertificate(const unsigned char* p, std::size_t n) {
    const unsigned char* q = p;
    std::unique_ptr<X509, X509Free> x(d2i_X509(nullptr, &q, static_cast<long>(n)));
    return x && q == p + n;
}

bool isCrl(const unsigned char* p, std::size_t n) {
    const unsigned char* q = p;
    std::unique_ptr<X509_CRL, CrlFree> c(d2i_X509_CRL(nullptr, &q, static_cast<long>(n)));
    return c && q == p + n;
}

// The certificates of a SignedData message, in order; false when the bytes
// are no such message. A message without certificates is still one.
bool pkcs7Certificates(const unsigned char* p, std::size_t n, std::vector<Bytes>& certs) {
    const unsigned char* q = p;
    std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &q, static_cast<long>(n)));
    if (!p7 || q != p + n || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign) {
        return false;
    }
    certs.clear();
    STACK_OF(X509)* list = p7->d.sign->cert;
    for (int i = 0; list && i < sk_X509_num(list); ++i) {
        unsigned char* der = nullptr;
        const int len = i2d_X509(sk_X509_value(list, i), &der);
        if (len <= 0) {
            return false;
        }
        certs.emplace_back(der, der + len);
        OPENSSL_free(der);
    }
    return true;
}

// Base64 text (PEM armour lines skipped, whitespace ignored) to bytes.
bool decodeBase64(const unsigned char* p, std::size_t n, Bytes& out) {
    std::string text;
    std::size_t i = 0;
    while (i < n) {
        std::size_t end = i;
        while (end < n && p[end] != '\n') {
            ++end;
        }
        const std::string line(reinterpret_cast<const char*>(p + i), end - i);
        if (line.rfind("-----", 0) != 0) {
            for (char c : line) {
                if (c == ' ' || c == '\t' || c == '\r') {
                    continue;
                }
                if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=')) {
                    return false;
                }
                text.push_back(c);
            }
        }
        i = end + 1;
    }
    if (text.empty() || text.size() % 4 != 0) {
        return false;
    }
    out.resize(text.size() / 4 * 3);
    const int len = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                    static_cast<int>(text.size()));
    if (len < 0) {
        return false;
    }
    std::size_t pad = 0;
    if (text[text.size() - 1] == '=') ++pad;
    if (text[text.size() - 2] == '=') ++pad;
    if (static_cast<std::size_t>(len) < pad) {
        return false;
    }
    out.resize(static_cast<std::size_t>(len) - pad);
    return true;
}

bool readAs(const unsigned char* p, std::size_t n, const QueryWanted& wanted, QueryFound& out) {
    if (wanted.cert && isCertificate(p, n)) {
        out.content = QueryContent::Certificate;
        out.certs.assign(1, Bytes(p, p + n));
    } else if (wanted.crl && isCrl(p, n)) {
        out.content = QueryContent::Crl;
        out.certs.clear();
    } else if (wanted.pkcs7 && pkcs7Certificates(p, n, out.certs)) {
        out.content = QueryContent::Pkcs7Signed;
    } else {
        return false;
    }
    out.der.assign(p, p + n);
    return true;
}

std::int64_t secondsOf(const ASN1_TIME* t) {
    struct tm tm {};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) {
        return 0;
    }
    return static_cast<std::int64_t>(timegm(&tm));
}

Bytes serialLE(const ASN1_INTEGER* serial) {
    unsigned char* der = nullptr;
    const int len = i2d_ASN1_INTEGER(serial, &der);
    Bytes out;
    if (len > 2) {
        // Content bytes after the tag and length, last first.
        std::size_t header = 2;
        if (der[1] & 0x80) header += der[1] & 0x7F;
        if (header < static_cast<std::size_t>(len)) {
            out.assign(der + header, der + len);
        }
    }
    OPENSSL_free(der);
    return Bytes(out.rbegin(), out.rend());
}

}  // namespace

bool identifyObject(const unsigned char* p, std::size_t n, const QueryWanted& wanted, QueryFound& out) {
    out = QueryFound{};
    if (!p || n == 0 || n > kMaxObject) {
        return false;
    }
    bool found = wanted.binary && readAs(p, n, wanted, out);
    Bytes decoded;
    if (!found && wanted.base64 && decodeBase64(p, n, decoded) && !decoded.empty() &&
        readAs(decoded.data(), decoded.size(), wanted, out)) {
        out.base64 = true;
        found = true;
    }
    ERR_clear_error();
    return found;
}

bool parseCrl(const unsigned char* p, std::size_t n, ParsedCrl& out) {
    out = ParsedCrl{};
    const unsigned char* q = p;
    std::unique_ptr<X509_CRL, CrlFree> crl(d2i_X509_CRL(nullptr, &q, static_cast<long>(n)));
    if (!crl || q != p + n) {
        ERR_clear_error();
        return false;
    }
    out.version = static_cast<unsigned>(X509_CRL_get_version(crl.get()));
    const X509_ALGOR* alg = nullptr;
    X509_CRL_get0_signature(crl.get(), nullptr, &alg);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, alg);
    char text[128] = {};
    if (oid && OBJ_obj2txt(text, sizeof text, oid, 1) > 0) {
        out.sigAlgOid = text;
    }
    unsigned char* issuer = nullptr;
    const int issuerLen = i2d_X509_NAME(X509_CRL_get_issuer(crl.get()), &issuer);
    if (issuerLen > 0) {
        out.issuer.assign(issuer, issuer + issuerLen);
    }
    OPENSSL_free(issuer);
    out.thisUpdate = secondsOf(X509_CRL_get0_lastUpdate(crl.get()));
    out.nextUpdate = secondsOf(X509_CRL_get0_nextUpdate(crl.get()));
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl.get());
    for (int i = 0; revoked && i < sk_X509_REVOKED_num(revoked); ++i) {
        const X509_REVOKED* r = sk_X509_REVOKED_value(revoked, i);
        out.entries.push_back({serialLE(X509_REVOKED_get0_serialNumber(r)),
                               secondsOf(X509_REVOKED_get0_revocationDate(r))});
    }
    ERR_clear_error();
    return true;
}

}  // namespace plcsp
