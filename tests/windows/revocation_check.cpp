// Checks the Windows program's revocation check (CertVerifyRevocation as
// platform/wincrypt.h gives it to the program) under wine, whose own check
// decides nothing for GOST-signed CRLs: a CRL revokes or clears a
// certificate only when it is its issuer's, verifies under the key that
// signed the certificate, and is current. One line per check; the exit code
// is the number of failed checks.
//
// Usage: pellamo_revocation_check.exe FOLDER
//   FOLDER holds, in DER: ca.cer (the issuer), user.cer (serial 7, issued by
//   ca.cer), impostor.cer (a CA of the same name with another key),
//   revoked.crl (ca's CRL naming serial 7 for key compromise), good.crl (ca's
//   CRL naming another serial), expired.crl (ca's CRL naming 7, out of date),
//   impostor.crl (the impostor's CRL naming 7) and other.crl (a CRL naming 7
//   from a CA of another name). tests/windows/gostcsp_check.sh makes them.
// The last check adds ca.cer and revoked.crl to the current user's "CA"
// store: run it in a prefix of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/wincrypt.h"

namespace {

using Bytes = std::vector<BYTE>;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

int g_failed = 0;

void check(const std::string& what, bool ok, const std::string& detail = "") {
    if (!ok) ++g_failed;
    std::printf("  %s %s%s\n", ok ? "ok  " : "FAIL", what.c_str(), ok || detail.empty() ? "" : (" (" + detail + ")").c_str());
    std::fflush(stdout);
}

Bytes readFile(const std::wstring& path) {
    Bytes out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return out;
    BYTE buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (1u << 20)) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

struct Answer {
    BOOL ok;
    DWORD error;
    DWORD reason;
};

std::string describe(const Answer& a) {
    char text[80];
    std::snprintf(text, sizeof text, "answer %s, error 0x%08lx, reason %lu", a.ok ? "TRUE" : "FALSE",
                  static_cast<unsigned long>(a.error), static_cast<unsigned long>(a.reason));
    return text;
}

// CertVerifyRevocation on cert; with para when issuer or CRLs are given.
Answer ask(PCCERT_CONTEXT cert, PCCERT_CONTEXT issuer, const std::vector<Bytes*>& crls, HCERTSTORE certStore = nullptr) {
    HCERTSTORE crlStore = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    for (Bytes* crl : crls) {
        CertAddEncodedCRLToStore(crlStore, X509_ASN_ENCODING, crl->data(), static_cast<DWORD>(crl->size()),
                                 CERT_STORE_ADD_ALWAYS, nullptr);
    }
    CERT_REVOCATION_PARA para{};
    para.cbSize = sizeof para;
    para.pIssuerCert = issuer;
    para.hCrlStore = crlStore;
    if (certStore) {
        para.cCertStore = 1;
        para.rgCertStore = &certStore;
    }
    CERT_REVOCATION_STATUS status{};
    status.cbSize = sizeof status;
    void* contexts[1] = {const_cast<CERT_CONTEXT*>(cert)};
    const BOOL ok = CertVerifyRevocation(kEncoding, CERT_CONTEXT_REVOCATION_TYPE, 1, contexts, CERT_VERIFY_REV_CHAIN_FLAG,
                                         crls.empty() && !issuer ? nullptr : &para, &status);
    CertCloseStore(crlStore, 0);
    return {ok, ok ? 0 : status.dwError, status.dwReason};
}

bool isRevoked(const Answer& a) { return !a.ok && a.error == static_cast<DWORD>(CRYPT_E_REVOKED); }
bool isUndecided(const Answer& a) { return !a.ok && a.error != static_cast<DWORD>(CRYPT_E_REVOKED); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pellamo_revocation_check.exe FOLDER\n");
        return 100;
    }
    const std::wstring dir = std::wstring(argv[1]) + L"\\";
    Bytes caDer = readFile(dir + L"ca.cer"), userDer = readFile(dir + L"user.cer"),
          impostorDer = readFile(dir + L"impostor.cer");
    Bytes revoked = readFile(dir + L"revoked.crl"), good = readFile(dir + L"good.crl"),
          expired = readFile(dir + L"expired.crl"), impostorCrl = readFile(dir + L"impostor.crl"),
          other = readFile(dir + L"other.crl");
    PCCERT_CONTEXT ca = CertCreateCertificateContext(X509_ASN_ENCODING, caDer.data(), static_cast<DWORD>(caDer.size()));
    PCCERT_CONTEXT user = CertCreateCertificateContext(X509_ASN_ENCODING, userDer.data(), static_cast<DWORD>(userDer.size()));
    PCCERT_CONTEXT impostor =
        CertCreateCertificateContext(X509_ASN_ENCODING, impostorDer.data(), static_cast<DWORD>(impostorDer.size()));
    const bool read = ca && user && impostor && !revoked.empty() && !good.empty() && !expired.empty() &&
                      !impostorCrl.empty() && !other.empty();
    check("revocation test files read", read);
    if (!read) return g_failed;

    // The CRL's last byte is the last byte of its signature.
    Bytes damaged = revoked;
    damaged.back() ^= 0x01;

    Answer a = ask(user, ca, {&revoked});
    check("the issuer's current CRL naming the certificate: revoked, reason key compromise",
          isRevoked(a) && a.reason == CRL_REASON_KEY_COMPROMISE, describe(a));
    a = ask(user, ca, {&good});
    check("the issuer's current CRL naming another certificate: not revoked", a.ok, describe(a));
    a = ask(user, ca, {&impostorCrl});
    check("a CRL under the issuer's name signed by another key: decides nothing", isUndecided(a), describe(a));
    a = ask(user, ca, {&impostorCrl, &good});
    check("... beside the issuer's own CRL, which decides: not revoked", a.ok, describe(a));
    a = ask(user, ca, {&damaged});
    check("the issuer's CRL naming the certificate, its signature damaged: decides nothing", isUndecided(a), describe(a));
    a = ask(user, ca, {&expired});
    check("the issuer's expired CRL naming the certificate: decides nothing (offline)",
          isUndecided(a) && a.error == static_cast<DWORD>(CRYPT_E_REVOCATION_OFFLINE), describe(a));
    a = ask(user, ca, {&other});
    check("another CA's CRL naming the same serial number: decides nothing", isUndecided(a), describe(a));
    a = ask(user, impostor, {&impostorCrl});
    check("a CA of the issuer's name that did not sign the certificate, with its CRL: decides nothing",
          isUndecided(a), describe(a));

    HCERTSTORE cas = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    CertAddCertificateContextToStore(cas, ca, CERT_STORE_ADD_ALWAYS, nullptr);
    a = ask(user, nullptr, {&revoked}, cas);
    check("the issuer found in a certificate store: revoked", isRevoked(a), describe(a));
    CertCloseStore(cas, 0);

    // As the program asks: no parameters, the issuer and CRL in the user's "CA" store.
    a = ask(user, nullptr, {});
    check("nothing in the user's stores: decides nothing", isUndecided(a), describe(a));
    HCERTSTORE userCa = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, kEncoding, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"CA");
    const bool added = userCa && CertAddCertificateContextToStore(userCa, ca, CERT_STORE_ADD_REPLACE_EXISTING, nullptr) &&
                       CertAddEncodedCRLToStore(userCa, X509_ASN_ENCODING, revoked.data(),
                                                static_cast<DWORD>(revoked.size()), CERT_STORE_ADD_ALWAYS, nullptr);
    if (userCa) CertCloseStore(userCa, 0);
    a = ask(user, nullptr, {});
    check("the issuer and its CRL in the user's \"CA\" store, no parameters: revoked", added && isRevoked(a),
          describe(a));

    CertFreeCertificateContext(ca);
    CertFreeCertificateContext(user);
    CertFreeCertificateContext(impostor);
    return g_failed;
}
