#include "TlsCertificate.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "OpenSslPtr.h"

namespace capeer {

namespace {


constexpr std::size_t kPemLimit = 1u << 20;

std::string openSslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    char text[256] = "unknown error";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    return what + ": " + text;
}

bool readSmallFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return out.size() <= kPemLimit;
}

// Writes atomically; mode 0600 for the key.
bool writeFile(const std::string& path, const std::string& data, mode_t mode) {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced || std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

X509Ptr parsePem(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

bool keyMatches(const std::string& certPem, const std::string& keyPem) {
    X509Ptr cert = parsePem(certPem);
    BioPtr bio(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
    if (!cert || !bio) return false;
    PkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    const bool ok = key && X509_check_private_key(cert.get(), key.get()) == 1;
    ERR_clear_error();
    return ok;
}

// Valid now and for at least another day.
bool stillValid(const std::string& certPem) {
    X509Ptr cert = parsePem(certPem);
    if (!cert) return false;
    const time_t tomorrow = time(nullptr) + 86400;
    return X509_cmp_current_time(X509_get0_notBefore(cert.get())) < 0 &&
           X509_cmp_time(X509_get0_notAfter(cert.get()), const_cast<time_t*>(&tomorrow)) > 0;
}

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    ExtPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

std::string toPem(int (*write)(BIO*, void*), void* object) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get(), object) != 1) return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

bool makeIdentity(TlsIdentity& out, std::string& error) {
    // The curve by its provider name: the GOST engine, the default for its
    // own algorithms, has nothing to do with this key.
    PkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key) return error = openSslError("key generation"), false;
    X509Ptr cert(X509_new());
    unsigned char serial[16];
    if (!cert || RAND_bytes(serial, sizeof serial) != 1) return error = openSslError("certificate"), false;
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr;
    BN_free(bn);
    X509_NAME* name = X509_get_subject_name(cert.get());
    const bool ok = serialSet && X509_set_version(cert.get(), 2) == 1 &&
                    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
                    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 86400) &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0) == 1 &&
                    X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key.get()) == 1 &&
                    addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
                    addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
                    addExtension(cert.get(), NID_key_usage, "critical,digitalSignature") &&
                    addExtension(cert.get(), NID_ext_key_usage, "serverAuth") &&
                    X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    if (!ok) return error = openSslError("certificate"), false;
    out.certificatePem = toPem([](BIO* b, void* x) { return PEM_write_bio_X509(b, static_cast<X509*>(x)); },
                               cert.get());
    out.privateKeyPem = toPem(
        [](BIO* b, void* k) {
            return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(k), nullptr, nullptr, 0, nullptr, nullptr);
        },
        key.get());
    if (out.certificatePem.empty() || out.privateKeyPem.empty()) return error = openSslError("PEM"), false;
    return true;
}

}  // namespace

bool loadTlsIdentity(const std::string& certFile, const std::string& keyFile, TlsIdentity& out, std::string& error) {
    if (!readSmallFile(certFile, out.certificatePem) || !readSmallFile(keyFile, out.privateKeyPem)) {
        error = "cannot read " + certFile + " and " + keyFile;
        return false;
    }
    if (!keyMatches(out.certificatePem, out.privateKeyPem)) {
        error = certFile + " and " + keyFile + " are not a certificate and its private key";
        return false;
    }
    out.certificateFile = certFile;
    return true;
}

bool loadOrMakeTlsIdentity(const std::string& folder, TlsIdentity& out, std::string& error) {
    const std::string certFile = folder + "/tls-cert.pem";
    const std::string keyFile = folder + "/tls-key.pem";
    TlsIdentity kept;
    std::string ignored;
    if (loadTlsIdentity(certFile, keyFile, kept, ignored) && stillValid(kept.certificatePem)) {
        out = std::move(kept);
        return true;
    }
    if (!makeIdentity(out, error)) return false;
    // The key first: a certificate without its key is never left behind.
    if (!writeFile(keyFile, out.privateKeyPem, 0600) || !writeFile(certFile, out.certificatePem, 0644)) {
        error = "cannot write " + certFile;
        return false;
    }
    out.certificateFile = certFile;
    return true;
}

}  // namespace capeer
