// Checks the registered development GOST provider (pellamo-gostcsp.dll)
// through advapi32 and crypt32 only, as the program uses a provider: for the
// provider types 75, 80 and 81 in full and 2, 77, 78 in short, then
// certificates given on the command line. One line per check; the exit code
// is the number of failed checks (capped at 100).
//
// Usage: pellamo_gostcsp_check.exe [--chain ISSUER.cer SUBJECT.cer]... [--token MODULE LABEL]...
//   --chain: import the subject's public key (CryptImportPublicKeyInfoEx) and
//   verify its signature under the issuer's key (CryptVerifyCertificateSignature),
//   and see a damaged signature refused.
// --token MODULE LABEL: the PKCS#11 module loaded by its bare name shows
//   exactly one token, of that label (the soft token's slots per module).
#include "platform/wincrypt.h"

#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

int g_failed = 0;
int g_passed = 0;

// Records a check; prints the thread's last error on failure.
bool check(const std::string& what, bool ok) {
    if (ok) {
        ++g_passed;
        std::printf("  ok   %s\n", what.c_str());
    } else {
        ++g_failed;
        std::printf("  FAIL %s (error 0x%08lx)\n", what.c_str(), static_cast<unsigned long>(GetLastError()));
    }
    std::fflush(stdout);
    return ok;
}

struct TypeInfo {
    DWORD type;
    DWORD bits;
    ALG_ID hashAlg;
    ALG_ID exportAlg;
    const char* keyOid;
    const char* sigOid;
    bool full;
};

const TypeInfo kTypes[] = {
    {75, 512, CALG_GR3411, CALG_PRO_EXPORT, "1.2.643.2.2.19", "1.2.643.2.2.3", true},
    {80, 512, CALG_GR3411_2012_256, CALG_PRO12_EXPORT, "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.3.2", true},
    {81, 1024, CALG_GR3411_2012_512, CALG_PRO12_EXPORT, "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.3.3", true},
    {2, 512, CALG_GR3411, CALG_PRO_EXPORT, "1.2.643.2.2.19", "1.2.643.2.2.3", false},
    {77, 512, CALG_GR3411_2012_256, CALG_PRO12_EXPORT, "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.3.2", false},
    {78, 1024, CALG_GR3411_2012_512, CALG_PRO12_EXPORT, "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.3.3", false},
};

std::string label(const TypeInfo& t, const char* what) { return "type " + std::to_string(t.type) + ": " + what; }

bool getProvBytes(HCRYPTPROV h, DWORD param, DWORD flags, Bytes& out) {
    DWORD n = 0;
    if (!CryptGetProvParam(h, param, nullptr, &n, flags)) return false;
    out.resize(n);
    if (!CryptGetProvParam(h, param, out.data(), &n, flags)) return false;
    out.resize(n);
    return true;
}

std::string provText(HCRYPTPROV h, DWORD param, DWORD flags = 0) {
    Bytes b;
    if (!getProvBytes(h, param, flags, b) || b.empty()) return {};
    return std::string(reinterpret_cast<const char*>(b.data()), strnlen(reinterpret_cast<const char*>(b.data()), b.size()));
}

DWORD provDword(HCRYPTPROV h, DWORD param) {
    DWORD v = 0, n = sizeof v;
    return CryptGetProvParam(h, param, reinterpret_cast<BYTE*>(&v), &n, 0) ? v : 0xFFFFFFFFu;
}

bool exportKey(HCRYPTKEY key, HCRYPTKEY exp, DWORD type, Bytes& out) {
    DWORD n = 0;
    if (!CryptExportKey(key, exp, type, 0, nullptr, &n)) return false;
    out.resize(n);
    if (!CryptExportKey(key, exp, type, 0, out.data(), &n)) return false;
    out.resize(n);
    return true;
}

bool keyBytes(HCRYPTKEY key, DWORD param, Bytes& out) {
    DWORD n = 0;
    if (!CryptGetKeyParam(key, param, nullptr, &n, 0)) return false;
    out.resize(n);
    if (!CryptGetKeyParam(key, param, out.data(), &n, 0)) return false;
    out.resize(n);
    return true;
}

bool signData(HCRYPTPROV h, ALG_ID alg, const Bytes& data, Bytes& sig) {
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(h, alg, 0, 0, &hash)) return false;
    DWORD n = 0;
    bool ok = CryptHashData(hash, data.data(), static_cast<DWORD>(data.size()), 0) &&
              CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &n);
    if (ok) {
        sig.resize(n);
        ok = CryptSignHashA(hash, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &n);
        sig.resize(n);
    }
    CryptDestroyHash(hash);
    return ok;
}

bool verifyData(HCRYPTPROV h, ALG_ID alg, const Bytes& data, const Bytes& sig, HCRYPTKEY pub) {
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(h, alg, 0, 0, &hash)) return false;
    const bool ok = CryptHashData(hash, data.data(), static_cast<DWORD>(data.size()), 0) &&
                    CryptVerifySignatureA(hash, sig.data(), static_cast<DWORD>(sig.size()), pub, nullptr, 0);
    const DWORD e = GetLastError();
    CryptDestroyHash(hash);
    SetLastError(e);
    return ok;
}

// A container name in the ANSI code page 1251 ("Тест-контейнер-NN"), so
// that the provider sees non-ASCII narrow names as the program's are.
std::string cyrillicName(DWORD type, const char* suffix) {
    return "\xD2\xE5\xF1\xF2-\xEA\xEE\xED\xF2\xE5\xE9\xED\xE5\xF0-" + std::to_string(type) + suffix;
}

void appendLength(Bytes& out, std::size_t n) {
    if (n < 0x80) {
        out.push_back(static_cast<BYTE>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<BYTE>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<BYTE>(n >> 8), static_cast<BYTE>(n)});
    }
}

Bytes tlv(BYTE tag, const Bytes& body) {
    Bytes out{tag};
    appendLength(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A self-signed certificate of the container's key, signed by the provider
// through crypt32 (CryptSignAndEncodeCertificate): its SubjectPublicKeyInfo
// is built from the PUBLICKEYBLOB (16-byte header, parameter SEQUENCE, key).
bool selfSignedCertificate(HCRYPTPROV h, const TypeInfo& t, const Bytes& pubBlob, Bytes& der) {
    const std::size_t keyLen = t.bits / 8;
    if (pubBlob.size() < 16 + keyLen) return false;
    Bytes params(pubBlob.begin() + 16, pubBlob.end() - static_cast<std::ptrdiff_t>(keyLen));
    Bytes keyOctets = tlv(0x04, Bytes(pubBlob.end() - static_cast<std::ptrdiff_t>(keyLen), pubBlob.end()));
    // CN=Тест in UTF-8.
    const char* cn = "CN=\xD0\xA2\xD0\xB5\xD1\x81\xD1\x82";
    Bytes name(256);
    DWORD nameLen = static_cast<DWORD>(name.size());
    if (!CertStrToNameA(X509_ASN_ENCODING, cn, CERT_X500_NAME_STR, nullptr, name.data(), &nameLen, nullptr)) {
        return false;
    }
    name.resize(nameLen);
    BYTE serial[] = {0x01, 0x02, 0x03, 0x04};
    CERT_INFO info{};
    info.dwVersion = CERT_V3;
    info.SerialNumber = {sizeof serial, serial};
    info.SignatureAlgorithm.pszObjId = const_cast<char*>(t.sigOid);
    info.Issuer = {nameLen, name.data()};
    info.Subject = {nameLen, name.data()};
    SYSTEMTIME now{};
    GetSystemTime(&now);
    SystemTimeToFileTime(&now, &info.NotBefore);
    now.wYear = static_cast<WORD>(now.wYear + 1);
    if (now.wMonth == 2 && now.wDay == 29) now.wDay = 28;
    SystemTimeToFileTime(&now, &info.NotAfter);
    info.SubjectPublicKeyInfo.Algorithm.pszObjId = const_cast<char*>(t.keyOid);
    info.SubjectPublicKeyInfo.Algorithm.Parameters = {static_cast<DWORD>(params.size()), params.data()};
    info.SubjectPublicKeyInfo.PublicKey = {static_cast<DWORD>(keyOctets.size()), keyOctets.data(), 0};
    CRYPT_ALGORITHM_IDENTIFIER sigAlg{};
    sigAlg.pszObjId = const_cast<char*>(t.sigOid);
    DWORD n = 0;
    if (!CryptSignAndEncodeCertificate(h, AT_KEYEXCHANGE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                       &sigAlg, nullptr, nullptr, &n)) {
        return false;
    }
    der.resize(n);
    if (!CryptSignAndEncodeCertificate(h, AT_KEYEXCHANGE, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info,
                                       &sigAlg, nullptr, der.data(), &n)) {
        return false;
    }
    der.resize(n);
    return true;
}

// The subject's signature under the issuer's key, through crypt32 and a
// verify context of the given type.
bool verifyCertSignature(DWORD type, const Bytes& subject, const CERT_PUBLIC_KEY_INFO* issuerKey) {
    HCRYPTPROV v = 0;
    if (!CryptAcquireContextA(&v, nullptr, nullptr, type, CRYPT_VERIFYCONTEXT)) return false;
    const BOOL ok = CryptVerifyCertificateSignature(v, X509_ASN_ENCODING, subject.data(),
                                                    static_cast<DWORD>(subject.size()),
                                                    const_cast<CERT_PUBLIC_KEY_INFO*>(issuerKey));
    const DWORD e = GetLastError();
    CryptReleaseContext(v, 0);
    SetLastError(e);
    return ok != FALSE;
}

// The last byte of the signature BIT STRING (the certificate's last byte).
Bytes damagedSignature(Bytes der) {
    der.back() ^= 0x01;
    return der;
}

void agreementAndSessionKey(const TypeInfo& t, HCRYPTPROV a, HCRYPTKEY aUser, const Bytes& aPub) {
    // The peer: a second container of the same type.
    const std::string peerName = cyrillicName(t.type, "-peer");
    HCRYPTPROV b = 0;
    CryptAcquireContextA(&b, peerName.c_str(), nullptr, t.type, CRYPT_DELETEKEYSET);
    HCRYPTKEY bUser = 0;
    Bytes bPub;
    if (!check(label(t, "peer container and key"),
               CryptAcquireContextA(&b, peerName.c_str(), nullptr, t.type, CRYPT_NEWKEYSET) &&
                   CryptGenKey(b, AT_KEYEXCHANGE, (t.bits << 16) | CRYPT_EXPORTABLE, &bUser) &&
                   exportKey(bUser, 0, PUBLICKEYBLOB, bPub))) {
        return;
    }
    HCRYPTKEY agreeA = 0, agreeB = 0, sessA = 0, sessB = 0;
    Bytes ukm, simple, iv;
    const ALG_ID exportAlg = t.exportAlg;
    bool ok = check(label(t, "import peer key with the user key (agreement)"),
                    CryptImportKey(a, bPub.data(), static_cast<DWORD>(bPub.size()), aUser, 0, &agreeA) &&
                        CryptSetKeyParam(agreeA, KP_ALGID, reinterpret_cast<const BYTE*>(&exportAlg), 0) &&
                        keyBytes(agreeA, KP_IV, ukm) && ukm.size() == 8);
    ok = ok && check(label(t, "peer side of the agreement with the same UKM"),
                     CryptImportKey(b, aPub.data(), static_cast<DWORD>(aPub.size()), bUser, 0, &agreeB) &&
                         CryptSetKeyParam(agreeB, KP_ALGID, reinterpret_cast<const BYTE*>(&exportAlg), 0) &&
                         CryptSetKeyParam(agreeB, KP_IV, ukm.data(), 0));
    ok = ok && check(label(t, "session key, SIMPLEBLOB export and import"),
                     CryptGenKey(a, CALG_G28147, CRYPT_EXPORTABLE | CRYPT_USER_PROTECTED, &sessA) &&
                         exportKey(sessA, agreeA, SIMPLEBLOB, simple) &&
                         CryptImportKey(b, simple.data(), static_cast<DWORD>(simple.size()), agreeB, 0, &sessB) &&
                         keyBytes(sessA, KP_IV, iv) && CryptSetKeyParam(sessB, KP_IV, iv.data(), 0));
    if (ok) {
        // 3000 bytes in pieces of 1024: whole pieces, then the final short one.
        Bytes plain(3000);
        for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<BYTE>(i * 7 + 3);
        Bytes data = plain;
        bool good = true;
        for (std::size_t off = 0; good && off < data.size(); off += 1024) {
            DWORD n = static_cast<DWORD>(std::min<std::size_t>(1024, data.size() - off));
            const BOOL last = off + n == data.size();
            good = CryptEncrypt(sessA, 0, last, 0, data.data() + off, &n, n);
        }
        const bool changed = good && data != plain;
        for (std::size_t off = 0; good && off < data.size(); off += 1024) {
            DWORD n = static_cast<DWORD>(std::min<std::size_t>(1024, data.size() - off));
            good = CryptDecrypt(sessB, 0, off + n == data.size(), 0, data.data() + off, &n);
        }
        check(label(t, "CFB in 1024-byte pieces, decrypted by the peer"), good && changed && data == plain);
    }
    for (HCRYPTKEY k : {sessA, sessB, agreeA, agreeB, bUser}) {
        if (k) CryptDestroyKey(k);
    }
    CryptReleaseContext(b, 0);
    check(label(t, "peer container deleted"),
          CryptAcquireContextA(&b, peerName.c_str(), nullptr, t.type, CRYPT_DELETEKEYSET));
}

void certificateOfKey(const TypeInfo& t, HCRYPTPROV h, HCRYPTKEY user, const Bytes& pubBlob) {
    Bytes der, back;
    if (!check(label(t, "self-signed certificate signed through crypt32"), selfSignedCertificate(h, t, pubBlob, der))) {
        return;
    }
    check(label(t, "KP_CERTIFICATE set and read back"),
          CryptSetKeyParam(user, KP_CERTIFICATE, der.data(), 0) && keyBytes(user, KP_CERTIFICATE, back) && back == der);
    const CERT_CONTEXT* cert = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (!check(label(t, "certificate decoded by crypt32"), cert != nullptr)) return;
    HCRYPTPROV v = 0;
    HCRYPTKEY imported = 0;
    Bytes importedBlob;
    check(label(t, "CryptImportPublicKeyInfoEx gives the container's key"),
          CryptAcquireContextA(&v, nullptr, nullptr, t.type, CRYPT_VERIFYCONTEXT) &&
              CryptImportPublicKeyInfoEx(v, X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo, 0, 0,
                                         nullptr, &imported) &&
              exportKey(imported, 0, PUBLICKEYBLOB, importedBlob) && importedBlob == pubBlob);
    if (imported) CryptDestroyKey(imported);
    if (v) CryptReleaseContext(v, 0);
    check(label(t, "CryptVerifyCertificateSignature of the self-signed certificate"),
          verifyCertSignature(t.type, der, &cert->pCertInfo->SubjectPublicKeyInfo));
    check(label(t, "a damaged certificate signature is refused"),
          !verifyCertSignature(t.type, damagedSignature(der), &cert->pCertInfo->SubjectPublicKeyInfo));
    CertFreeCertificateContext(cert);
}

void containerNames(const TypeInfo& t, HCRYPTPROV h, const std::string& name) {
    const std::string fqcn = "\\\\.\\FILES\\" + name;
    check(label(t, "PP_CONTAINER and PP_UNIQUE_CONTAINER"),
          provText(h, PP_CONTAINER) == name && provText(h, PP_UNIQUE_CONTAINER) == fqcn);
    bool found = false;
    Bytes buf;
    DWORD flags = CRYPT_FIRST | CRYPT_FQCN;
    for (int i = 0; i < 1000 && getProvBytes(h, PP_ENUMCONTAINERS, flags, buf); ++i, flags = CRYPT_FQCN) {
        found = found || std::string(reinterpret_cast<const char*>(buf.data())) == fqcn;
    }
    const DWORD end = GetLastError();
    SetLastError(end);
    check(label(t, "PP_ENUMCONTAINERS with CRYPT_FQCN lists the container"), found && end == ERROR_NO_MORE_ITEMS);
}

void checkType(const TypeInfo& t) {
    HCRYPTPROV v = 0;
    if (!check(label(t, "verify context"), CryptAcquireContextA(&v, nullptr, nullptr, t.type, CRYPT_VERIFYCONTEXT))) {
        return;
    }
    const std::string provName = provText(v, PP_NAME);
    check(label(t, ("PP_NAME \"" + provName + "\"").c_str()), provName.find("Development") != std::string::npos);
    check(label(t, "PP_PROVTYPE and PP_VERSION"), provDword(v, PP_PROVTYPE) == t.type && provDword(v, PP_VERSION) != 0xFFFFFFFFu);
    BYTE random[32] = {};
    check(label(t, "CryptGenRandom"), CryptGenRandom(v, sizeof random, random) &&
                                           std::count(random, random + sizeof random, 0) < 8);
    CryptReleaseContext(v, 0);

    const std::string name = cyrillicName(t.type, "");
    HCRYPTPROV h = 0;
    CryptAcquireContextA(&h, name.c_str(), nullptr, t.type, CRYPT_DELETEKEYSET);  // left over from a failed run
    if (!check(label(t, "new container with a Cyrillic name"),
               CryptAcquireContextA(&h, name.c_str(), nullptr, t.type, CRYPT_NEWKEYSET))) {
        return;
    }
    HCRYPTKEY user = 0;
    Bytes pubBlob;
    const bool haveKey = check(label(t, "CryptGenKey AT_KEYEXCHANGE and PUBLICKEYBLOB"),
                               CryptGenKey(h, AT_KEYEXCHANGE, (t.bits << 16) | CRYPT_EXPORTABLE, &user) &&
                                   exportKey(user, 0, PUBLICKEYBLOB, pubBlob) && pubBlob.size() > 16 + t.bits / 8 &&
                                   pubBlob[0] == PUBLICKEYBLOB);
    if (haveKey) {
        const Bytes message{'p', 'e', 'l', 'l', 'a', 'm', 'o'};
        Bytes sig;
        check(label(t, "hash, sign and verify"), signData(h, t.hashAlg, message, sig) && sig.size() == t.bits / 8 &&
                                                      verifyData(h, t.hashAlg, message, sig, user));
        Bytes other = message;
        other.back() ^= 1;
        check(label(t, "signature of other data refused"),
              !verifyData(h, t.hashAlg, other, sig, user) && GetLastError() == static_cast<DWORD>(NTE_BAD_SIGNATURE));
        if (t.full) {
            agreementAndSessionKey(t, h, user, pubBlob);
            certificateOfKey(t, h, user, pubBlob);
            containerNames(t, h, name);
        }
    }
    if (user) CryptDestroyKey(user);
    CryptReleaseContext(h, 0);

    if (t.full && haveKey) {
        HCRYPTPROV again = 0;
        HCRYPTKEY again_user = 0;
        Bytes againBlob;
        const std::string fqcn = "\\\\.\\FILES\\" + name;
        check(label(t, "container reopened by its full name in a new context"),
              CryptAcquireContextA(&again, fqcn.c_str(), nullptr, t.type, 0) &&
                  CryptGetUserKey(again, AT_KEYEXCHANGE, &again_user) &&
                  exportKey(again_user, 0, PUBLICKEYBLOB, againBlob) && againBlob == pubBlob);
        if (again_user) CryptDestroyKey(again_user);
        if (again) CryptReleaseContext(again, 0);
    }
    HCRYPTPROV gone = 0;
    check(label(t, "CRYPT_DELETEKEYSET"), CryptAcquireContextA(&gone, name.c_str(), nullptr, t.type, CRYPT_DELETEKEYSET));
    check(label(t, "deleted container no longer opens"),
          !CryptAcquireContextA(&gone, name.c_str(), nullptr, t.type, 0) &&
              GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET));
}

bool readFile(const wchar_t* path, Bytes& out) {
    FILE* f = _wfopen(path, L"rb");
    if (!f) return false;
    BYTE buf[4096];
    std::size_t n;
    out.clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return !out.empty();
}

DWORD typeOfKeyOid(const char* oid) {
    for (const auto& t : kTypes) {
        if (std::strcmp(oid, t.keyOid) == 0) return t.type;
    }
    return 0;
}

void checkChain(const wchar_t* issuerPath, const wchar_t* subjectPath) {
    char label[600];
    std::snprintf(label, sizeof label, "certificate %ls under %ls", subjectPath, issuerPath);
    Bytes issuerDer, subjectDer;
    if (!check(std::string(label) + ": files read", readFile(issuerPath, issuerDer) && readFile(subjectPath, subjectDer))) {
        return;
    }
    const CERT_CONTEXT* issuer = CertCreateCertificateContext(X509_ASN_ENCODING, issuerDer.data(), static_cast<DWORD>(issuerDer.size()));
    const CERT_CONTEXT* subject = CertCreateCertificateContext(X509_ASN_ENCODING, subjectDer.data(), static_cast<DWORD>(subjectDer.size()));
    if (check(std::string(label) + ": decoded", issuer && subject)) {
        const DWORD type = typeOfKeyOid(issuer->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId);
        HCRYPTPROV v = 0;
        HCRYPTKEY key = 0;
        check(std::string(label) + ": CryptImportPublicKeyInfoEx of the subject's key",
              type != 0 && CryptAcquireContextA(&v, nullptr, nullptr, type, CRYPT_VERIFYCONTEXT) &&
                  CryptImportPublicKeyInfoEx(v, X509_ASN_ENCODING, &subject->pCertInfo->SubjectPublicKeyInfo, 0, 0,
                                             nullptr, &key));
        if (key) CryptDestroyKey(key);
        if (v) CryptReleaseContext(v, 0);
        check(std::string(label) + ": CryptVerifyCertificateSignature",
              type != 0 && verifyCertSignature(type, subjectDer, &issuer->pCertInfo->SubjectPublicKeyInfo));
        check(std::string(label) + ": damaged signature refused",
              type != 0 && !verifyCertSignature(type, damagedSignature(subjectDer), &issuer->pCertInfo->SubjectPublicKeyInfo));
    }
    if (issuer) CertFreeCertificateContext(issuer);
    if (subject) CertFreeCertificateContext(subject);
}

std::string narrow(const wchar_t* w) {
    std::string out;
    for (; *w; ++w) out.push_back(*w < 0x80 ? static_cast<char>(*w) : '?');
    return out;
}

void checkToken(const wchar_t* module, const wchar_t* wantLabel) {
    const std::string what = "token module " + narrow(module);
    HMODULE lib = LoadLibraryW(module);
    if (!check(what + ": loaded by its bare name", lib != nullptr)) return;
    // Through void (*)(): a cast between function types that says so.
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(
        reinterpret_cast<void (*)()>(GetProcAddress(lib, "C_GetFunctionList")));
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_ULONG count = 0;
    std::vector<CK_SLOT_ID> slots;
    CK_TOKEN_INFO info{};
    bool ok = getList && getList(&f) == CKR_OK && f->C_Initialize(nullptr) == CKR_OK;
    if (check(what + ": C_Initialize", ok)) {
        ok = f->C_GetSlotList(CK_TRUE, nullptr, &count) == CKR_OK && count == 1;
        if (ok) {
            slots.resize(count);
            ok = f->C_GetSlotList(CK_TRUE, slots.data(), &count) == CKR_OK &&
                 f->C_GetTokenInfo(slots[0], &info) == CKR_OK;
        }
        std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
        label.erase(label.find_last_not_of(' ') + 1);
        check(what + ": one token, labelled \"" + label + "\"", ok && label == narrow(wantLabel));
        f->C_Finalize(nullptr);
    }
    FreeLibrary(lib);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (const auto& t : kTypes) {
        checkType(t);
    }
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--chain") == 0 && i + 2 < argc) {
            checkChain(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (std::wcscmp(argv[i], L"--token") == 0 && i + 2 < argc) {
            checkToken(argv[i + 1], argv[i + 2]);
            i += 2;
        } else {
            std::fprintf(stderr,
                         "usage: pellamo_gostcsp_check.exe [--chain ISSUER.cer SUBJECT.cer]... "
                         "[--token MODULE LABEL]...\n");
            return 100;
        }
    }
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed > 100 ? 100 : g_failed;
}
