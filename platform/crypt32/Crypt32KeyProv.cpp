// The key container of a certificate: CertSetCertificateContextProperty and
// CertGetCertificateContextProperty for CERT_KEY_PROV_INFO_PROP_ID, the text
// form in which a store keeps it beside the certificate, and
// CryptAcquireCertificatePrivateKey.
//
// On Windows CryptAcquireCertificatePrivateKey finds the key only through
// that property; the stand-in does the same, and keeps its old search (the
// container whose public key equals the certificate's) only for
// certificates that carry no property, such as those written into a store
// folder directly. Unlike Windows, setting the property on a context that
// came out of a system store does not write it to the store: it is stored
// when the context is added (CertAddCertificateContextToStore).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/crypt32/CertContexts.h"
#include "softgost/provider/CspObjects.h"
#include "softgost/provider/KeyContainerStore.h"

using namespace plcsp;

namespace {

constexpr DWORD kNotSupported = 50;  // ERROR_NOT_SUPPORTED
constexpr std::size_t kMaxName = 1024;
constexpr DWORD kAcquireSilent = 0x40;  // CRYPT_ACQUIRE_SILENT_FLAG

std::size_t wideLength(const WCHAR* w) {
    std::size_t n = 0;
    while (w[n] && n <= kMaxName) ++n;
    return n;
}

bool toUtf8(const std::u16string& w, std::string& out) {
    out.clear();
    if (w.empty()) return true;
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    return WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr) ==
           n;
}

bool fromUtf8(const std::string& s, std::u16string& out) {
    out.clear();
    if (s.empty()) return true;
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()), out.data(), n) ==
           n;
}

// Names may hold any character: control characters and '%' are written as
// %XX so that every value stays on its line.
std::string escaped(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == '%' || c == 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

bool unescaped(const std::string& s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out.push_back(s[i]);
            continue;
        }
        if (i + 2 >= s.size() || !std::isxdigit(static_cast<unsigned char>(s[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            return false;
        }
        out.push_back(static_cast<char>(std::strtoul(s.substr(i + 1, 2).c_str(), nullptr, 16)));
        i += 2;
    }
    return true;
}

bool number(const std::string& s, DWORD& out) {
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long long v = std::strtoull(s.c_str(), nullptr, 10);
    if (v > 0xFFFFFFFFull) return false;
    out = static_cast<DWORD>(v);
    return true;
}

// The wide name in the ANSI code page, as CryptAcquireContextA takes it;
// false when a character has no ANSI form (it would name another container).
bool toAnsi(const std::u16string& w, std::string& out) {
    out.clear();
    if (w.empty()) return true;
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    out.resize(static_cast<std::size_t>(n));
    return WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, &lossy) == n &&
           !lossy;
}

BOOL acquireByLink(const KeyProvLink& link, DWORD dwFlags, HCRYPTPROV& prov) {
    std::string container, provider;
    if (!toAnsi(link.container, container) || (link.hasProvider && !toAnsi(link.provider, provider))) {
        return fail(NTE_BAD_KEYSET);
    }
    // The link's own flags choose the user's or the machine's containers;
    // the caller's silent flag keeps the provider from asking anything.
    const DWORD flags = (link.flags & CRYPT_MACHINE_KEYSET) | ((dwFlags & kAcquireSilent) ? CRYPT_SILENT : 0);
    return CryptAcquireContextA(&prov, container.c_str(), link.hasProvider ? provider.c_str() : nullptr,
                                link.provType, flags);
}

BOOL acquireByPublicKey(PCCERT_CONTEXT pCert, HCRYPTPROV& prov) {
    const CERT_PUBLIC_KEY_INFO& spki = pCert->pCertInfo->SubjectPublicKeyInfo;
    Bytes value;
    if (!gostKeyValue(Bytes(spki.PublicKey.pbData, spki.PublicKey.pbData + spki.PublicKey.cbData), value)) {
        return fail(CRYPT_E_NO_KEY_PROPERTY);
    }
    for (const std::string& name : containers::list()) {
        StoredKey stored;
        if (containers::readKey(name, false, stored) != 0 || stored.pub != value) {
            continue;
        }
        return CryptAcquireContextA(&prov, name.c_str(), nullptr, stored.provType, 0);
    }
    return fail(CRYPT_E_NO_KEY_PROPERTY);
}

}  // namespace

std::string plcsp::keyProvText(const KeyProvLink& link) {
    std::string container, provider;
    toUtf8(link.container, container);
    std::string text = "container=" + escaped(container) + "\n";
    if (link.hasProvider) {
        toUtf8(link.provider, provider);
        text += "provider=" + escaped(provider) + "\n";
    }
    text += "type=" + std::to_string(link.provType) + "\nflags=" + std::to_string(link.flags) +
            "\nkeyspec=" + std::to_string(link.keySpec) + "\n";
    return text;
}

bool plcsp::keyProvFromText(const std::string& text, KeyProvLink& out) {
    out = KeyProvLink{};
    bool container = false, type = false, flags = false, keySpec = false;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return false;  // a cut file
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        std::string raw;
        if (key == "container" && !container) {
            container = unescaped(value, raw) && fromUtf8(raw, out.container);
            if (!container) return false;
        } else if (key == "provider" && !out.hasProvider) {
            out.hasProvider = unescaped(value, raw) && fromUtf8(raw, out.provider);
            if (!out.hasProvider) return false;
        } else if (key == "type" && !type) {
            if (!(type = number(value, out.provType))) return false;
        } else if (key == "flags" && !flags) {
            if (!(flags = number(value, out.flags))) return false;
        } else if (key == "keyspec" && !keySpec) {
            if (!(keySpec = number(value, out.keySpec))) return false;
        } else {
            return false;
        }
    }
    return container && type && flags && keySpec;
}

BOOL CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD /*dwFlags*/,
                                       const void* pvData) {
    if (!pCertContext || !isCertContext(pCertContext)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (dwPropId != CERT_KEY_PROV_INFO_PROP_ID) {
        return fail(kNotSupported);
    }
    if (!pvData) {
        setKeyProv(pCertContext, nullptr);
        return TRUE;
    }
    const auto* info = static_cast<const CRYPT_KEY_PROV_INFO*>(pvData);
    if (!info->pwszContainerName || wideLength(info->pwszContainerName) > kMaxName ||
        (info->pwszProvName && wideLength(info->pwszProvName) > kMaxName)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (info->cProvParam != 0) {
        return fail(kNotSupported);
    }
    KeyProvLink link;
    link.container.assign(info->pwszContainerName, wideLength(info->pwszContainerName));
    if (info->pwszProvName) {
        link.hasProvider = true;
        link.provider.assign(info->pwszProvName, wideLength(info->pwszProvName));
    }
    link.provType = info->dwProvType;
    link.flags = info->dwFlags;
    link.keySpec = info->dwKeySpec;
    setKeyProv(pCertContext, &link);
    return TRUE;
}

BOOL CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void* pvData,
                                       DWORD* pcbData) {
    if (!pCertContext || !pcbData || !isCertContext(pCertContext)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    KeyProvLink link;
    if (dwPropId != CERT_KEY_PROV_INFO_PROP_ID || !keyProvOf(pCertContext, link)) {
        return fail(CRYPT_E_NOT_FOUND);
    }
    // The structure, then the names it points to, in the caller's buffer.
    const std::size_t names = (link.container.size() + 1) * sizeof(WCHAR) +
                              (link.hasProvider ? (link.provider.size() + 1) * sizeof(WCHAR) : 0);
    const DWORD size = static_cast<DWORD>(sizeof(CRYPT_KEY_PROV_INFO) + names);
    if (!pvData) {
        *pcbData = size;
        return TRUE;
    }
    if (*pcbData < size) {
        *pcbData = size;
        return fail(ERROR_MORE_DATA);
    }
    auto* info = static_cast<CRYPT_KEY_PROV_INFO*>(pvData);
    auto* text = reinterpret_cast<WCHAR*>(info + 1);
    *info = CRYPT_KEY_PROV_INFO{};
    info->pwszContainerName = text;
    std::memcpy(text, link.container.c_str(), (link.container.size() + 1) * sizeof(WCHAR));
    text += link.container.size() + 1;
    if (link.hasProvider) {
        info->pwszProvName = text;
        std::memcpy(text, link.provider.c_str(), (link.provider.size() + 1) * sizeof(WCHAR));
    }
    info->dwProvType = link.provType;
    info->dwFlags = link.flags;
    info->dwKeySpec = link.keySpec;
    *pcbData = size;
    return TRUE;
}

BOOL CryptAcquireCertificatePrivateKey(PCCERT_CONTEXT pCert, DWORD dwFlags, void* /*pvParameters*/,
                                       HCRYPTPROV_OR_NCRYPT_KEY_HANDLE* phCryptProvOrNCryptKey,
                                       DWORD* pdwKeySpec, BOOL* pfCallerFreeProvOrNCryptKey) {
    if (!pCert || !phCryptProvOrNCryptKey || !isCertContext(pCert)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    KeyProvLink link;
    const bool linked = keyProvOf(pCert, link);
    HCRYPTPROV prov = 0;
    if (!(linked ? acquireByLink(link, dwFlags, prov) : acquireByPublicKey(pCert, prov))) {
        return FALSE;
    }
    *phCryptProvOrNCryptKey = prov;
    if (pdwKeySpec) {
        *pdwKeySpec = linked ? link.keySpec : static_cast<DWORD>(AT_KEYEXCHANGE);
    }
    if (pfCallerFreeProvOrNCryptKey) {
        *pfCallerFreeProvOrNCryptKey = TRUE;
    }
    return TRUE;
}
