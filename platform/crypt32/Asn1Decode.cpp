#include "platform/crypt32/Asn1Decode.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "softgost/gost/GostParams.h"

namespace plcsp {

namespace {

struct NameFree {
    void operator()(X509_NAME* p) const { X509_NAME_free(p); }
};
struct EkuFree {
    void operator()(EXTENDED_KEY_USAGE* p) const { EXTENDED_KEY_USAGE_free(p); }
};
struct AkiFree {
    void operator()(AUTHORITY_KEYID* p) const { AUTHORITY_KEYID_free(p); }
};
struct TypeFree {
    void operator()(ASN1_TYPE* p) const { ASN1_TYPE_free(p); }
};

// Dotted text straight from the content octets, for arcs that fit 64 bits
// (false otherwise). OBJ_obj2txt formats through BIO_snprintf, which was
// most of the time spent reading a certificate's names.
bool arcsText(const unsigned char* p, std::size_t n, std::string& out) {
    if (!p || n == 0 || (p[n - 1] & 0x80) != 0) {
        return false;
    }
    out.clear();
    std::uint64_t v = 0;
    bool first = true;
    for (std::size_t i = 0; i < n; ++i) {
        if (v > (UINT64_MAX >> 7)) {
            return false;
        }
        v = (v << 7) | (p[i] & 0x7F);
        if (p[i] & 0x80) {
            continue;
        }
        if (first) {
            const std::uint64_t top = v < 40 ? 0 : v < 80 ? 1 : 2;
            out = std::to_string(top) + "." + std::to_string(v - 40 * top);
            first = false;
        } else {
            // Appended in two steps: "." + a temporary trips GCC 12's -Wrestrict at -O3.
            out += '.';
            out += std::to_string(v);
        }
        v = 0;
    }
    return true;
}

// Dotted text of an OBJECT IDENTIFIER of any length; empty on failure.
std::string objText(const ASN1_OBJECT* obj) {
    if (!obj) {
        return {};
    }
    std::string fast;
    if (arcsText(OBJ_get0_data(obj), OBJ_length(obj), fast)) {
        return fast;
    }
    const int need = OBJ_obj2txt(nullptr, 0, obj, 1);
    if (need <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(need) + 1, '\0');
    const int got = OBJ_obj2txt(text.data(), need + 1, obj, 1);
    if (got != need) {
        return {};
    }
    text.resize(static_cast<std::size_t>(got));
    return text;
}

Bytes bytesOf(const ASN1_STRING* s) {
    if (!s || ASN1_STRING_length(s) <= 0) {
        return {};
    }
    const unsigned char* d = ASN1_STRING_get0_data(s);
    return Bytes(d, d + ASN1_STRING_length(s));
}

// Takes ownership of the buffer that an i2d call allocated.
bool takeDer(int len, unsigned char* buf, Bytes& out) {
    if (len <= 0 || !buf) {
        OPENSSL_free(buf);
        return false;
    }
    out.assign(buf, buf + len);
    OPENSSL_free(buf);
    return true;
}

bool isStringTag(int type) {
    switch (type) {
        case V_ASN1_UTF8STRING:
        case V_ASN1_NUMERICSTRING:
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_T61STRING:
        case V_ASN1_VIDEOTEXSTRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_GRAPHICSTRING:
        case V_ASN1_VISIBLESTRING:
        case V_ASN1_GENERALSTRING:
        case V_ASN1_UNIVERSALSTRING:
        case V_ASN1_BMPSTRING:
            return true;
        default:
            return false;
    }
}

// The whole DER of a value that is not one of the string types.
bool encodedValue(const ASN1_STRING* v, Bytes& out) {
    std::unique_ptr<ASN1_TYPE, TypeFree> t(ASN1_TYPE_new());
    if (!t || !ASN1_TYPE_set1(t.get(), ASN1_STRING_type(v), v)) {
        return false;
    }
    unsigned char* buf = nullptr;
    const int len = i2d_ASN1_TYPE(t.get(), &buf);
    return takeDer(len, buf, out);
}

bool generalName(const GENERAL_NAME* g, GeneralNameItem& out) {
    out = GeneralNameItem{};
    switch (g->type) {
        case GEN_OTHERNAME: {
            out.choice = 1;
            out.text = objText(g->d.otherName->type_id);
            unsigned char* buf = nullptr;
            const int len = i2d_ASN1_TYPE(g->d.otherName->value, &buf);
            return !out.text.empty() && takeDer(len, buf, out.data);
        }
        case GEN_EMAIL:
        case GEN_DNS:
        case GEN_URI: {
            out.choice = g->type == GEN_EMAIL ? 2 : g->type == GEN_DNS ? 3 : 7;
            const Bytes b = bytesOf(g->d.ia5);
            out.text.assign(b.begin(), b.end());
            return true;
        }
        case GEN_DIRNAME: {
            out.choice = 5;
            unsigned char* buf = nullptr;
            const int len = i2d_X509_NAME(g->d.directoryName, &buf);
            return takeDer(len, buf, out.data);
        }
        case GEN_IPADD:
            out.choice = 8;
            out.data = bytesOf(g->d.iPAddress);
            return true;
        case GEN_RID:
            out.choice = 9;
            out.text = objText(g->d.registeredID);
            return !out.text.empty();
        default:
            return false;  // x400Address, ediPartyName
    }
}

}  // namespace

bool decodeName(const unsigned char* p, std::size_t n, std::vector<NameRdn>& out) {
    out.clear();
    if (!p || n == 0) {
        return false;
    }
    const unsigned char* q = p;
    std::unique_ptr<X509_NAME, NameFree> name(d2i_X509_NAME(nullptr, &q, static_cast<long>(n)));
    if (!name || q != p + n) {
        return false;
    }
    int lastSet = -1;
    const int count = X509_NAME_entry_count(name.get());
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name.get(), i);
        if (!e) {
            return false;
        }
        const int set = X509_NAME_ENTRY_set(e);
        if (out.empty() || set != lastSet) {
            out.emplace_back();
            lastSet = set;
        }
        NameAttr a;
        a.oid = objText(X509_NAME_ENTRY_get_object(e));
        const ASN1_STRING* v = X509_NAME_ENTRY_get_data(e);
        if (a.oid.empty() || !v) {
            return false;
        }
        if (isStringTag(ASN1_STRING_type(v))) {
            a.tag = ASN1_STRING_type(v);
            a.value = bytesOf(v);
        } else {
            a.tag = kEncodedValue;
            if (!encodedValue(v, a.value)) {
                return false;
            }
        }
        out.back().push_back(std::move(a));
    }
    return true;
}

bool decodeEnhancedKeyUsage(const unsigned char* p, std::size_t n, std::vector<std::string>& oids) {
    oids.clear();
    if (!p || n == 0) {
        return false;
    }
    const unsigned char* q = p;
    std::unique_ptr<EXTENDED_KEY_USAGE, EkuFree> eku(d2i_EXTENDED_KEY_USAGE(nullptr, &q, static_cast<long>(n)));
    if (!eku || q != p + n) {
        return false;
    }
    const int count = sk_ASN1_OBJECT_num(eku.get());
    for (int i = 0; i < count; ++i) {
        std::string text = objText(sk_ASN1_OBJECT_value(eku.get(), i));
        if (text.empty()) {
            oids.clear();
            return false;
        }
        oids.push_back(std::move(text));
    }
    return true;
}

bool decodeAuthorityKeyId(const unsigned char* p, std::size_t n, AuthorityKeyId& out) {
    out = AuthorityKeyId{};
    if (!p || n == 0) {
        return false;
    }
    const unsigned char* q = p;
    std::unique_ptr<AUTHORITY_KEYID, AkiFree> aki(d2i_AUTHORITY_KEYID(nullptr, &q, static_cast<long>(n)));
    if (!aki || q != p + n) {
        return false;
    }
    out.keyId = bytesOf(aki->keyid);
    if (aki->issuer) {
        for (int i = 0; i < sk_GENERAL_NAME_num(aki->issuer); ++i) {
            GeneralNameItem item;
            if (!generalName(sk_GENERAL_NAME_value(aki->issuer, i), item)) {
                out = AuthorityKeyId{};
                return false;
            }
            out.issuer.push_back(std::move(item));
        }
    }
    if (aki->serial) {
        unsigned char* buf = nullptr;
        const int len = i2d_ASN1_INTEGER(aki->serial, &buf);
        Bytes der;
        DerTlv tlv;
        if (!takeDer(len, buf, der) ||
            !readTlv(der.data(), der.size(), tlv)) {
            out = AuthorityKeyId{};
            return false;
        }
        out.serialLE.assign(tlv.content, tlv.content + tlv.length);
        std::reverse(out.serialLE.begin(), out.serialLE.end());
    }
    return true;
}

}  // namespace plcsp
