#include "OpenSslRequestReader.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace ossl {

namespace {

std::string oidText(const ASN1_OBJECT* obj) {
    char buf[160];
    OBJ_obj2txt(buf, sizeof buf, obj, 1);
    return buf;
}

std::string bytesOf(const ASN1_STRING* s) {
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                       static_cast<std::size_t>(ASN1_STRING_length(s)));
}

void readExtensionValues(Request& out) {
    for (const Extension& e : out.extensions) {
        const unsigned char* q = e.value.data();
        const long len = static_cast<long>(e.value.size());
        if (e.oid == "2.5.29.32") {
            if (CERTIFICATEPOLICIES* cp = d2i_CERTIFICATEPOLICIES(nullptr, &q, len)) {
                for (int k = 0; k < sk_POLICYINFO_num(cp); ++k) {
                    out.policies.push_back(oidText(sk_POLICYINFO_value(cp, k)->policyid));
                }
                CERTIFICATEPOLICIES_free(cp);
            }
        } else if (e.oid == "1.2.643.100.111") {
            if (ASN1_UTF8STRING* tool = d2i_ASN1_UTF8STRING(nullptr, &q, len)) {
                out.signTool = bytesOf(tool);
                ASN1_UTF8STRING_free(tool);
            }
        } else if (e.oid == "2.5.29.37") {
            if (EXTENDED_KEY_USAGE* eku = d2i_EXTENDED_KEY_USAGE(nullptr, &q, len)) {
                for (int k = 0; k < sk_ASN1_OBJECT_num(eku); ++k) {
                    out.purposes.push_back(oidText(sk_ASN1_OBJECT_value(eku, k)));
                }
                EXTENDED_KEY_USAGE_free(eku);
            }
        } else if (e.oid == "2.5.29.15") {
            if (ASN1_BIT_STRING* bits = d2i_ASN1_BIT_STRING(nullptr, &q, len)) {
                for (int b = 0; b < 9; ++b) out.keyUsageBits.push_back(ASN1_BIT_STRING_get_bit(bits, b));
                ASN1_BIT_STRING_free(bits);
            }
        }
    }
}

}  // namespace

Request readRequest(const Bytes& der) {
    Request out;
    const unsigned char* p = der.data();
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size()));
    if (!req) {
        return out;
    }
    out.decoded = true;
    out.consumedAll = p == der.data() + der.size();

    const X509_NAME* name = X509_REQ_get_subject_name(req);
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
        const ASN1_STRING* v = X509_NAME_ENTRY_get_data(e);
        out.subject.push_back({oidText(X509_NAME_ENTRY_get_object(e)), ASN1_tag2str(ASN1_STRING_type(v)),
                               bytesOf(v), X509_NAME_ENTRY_set(e)});
    }

    ASN1_OBJECT* alg = nullptr;
    const unsigned char* key = nullptr;
    int keyLen = 0;
    if (X509_PUBKEY_get0_param(&alg, &key, &keyLen, nullptr, X509_REQ_get_X509_PUBKEY(req)) == 1) {
        out.publicKeyAlgorithm = oidText(alg);
        out.publicKey.assign(key, key + keyLen);
    }

    if (STACK_OF(X509_EXTENSION)* exts = X509_REQ_get_extensions(req)) {
        for (int i = 0; i < sk_X509_EXTENSION_num(exts); ++i) {
            X509_EXTENSION* ext = sk_X509_EXTENSION_value(exts, i);
            const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(ext);
            const unsigned char* d = ASN1_STRING_get0_data(data);
            out.extensions.push_back({oidText(X509_EXTENSION_get_object(ext)), X509_EXTENSION_get_critical(ext) == 1,
                                      Bytes(d, d + ASN1_STRING_length(data))});
        }
        sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    }
    readExtensionValues(out);
    X509_REQ_free(req);
    return out;
}

}  // namespace ossl
