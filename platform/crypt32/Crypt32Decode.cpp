// CryptDecodeObject for the structures the certificate code reads
// (X509_NAME, X509_ENHANCED_KEY_USAGE, X509_AUTHORITY_KEY_ID2) and
// CertFindExtension.
//
// The bytes are decoded by OpenSSL (Asn1Decode.cpp); this file lays the
// result out the way crypt32 does: the structure first, then everything it
// points to, all inside the caller's buffer. The layout is computed by the
// same code that writes it (an arena that only measures in the sizing pass),
// so the size reported and the bytes written cannot disagree, and nothing is
// written before the whole layout is known to fit.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/crypt32/Asn1Decode.h"
#include "softgost/provider/CspObjects.h"

using namespace plcsp;

namespace {

// Places the pieces of a decoded structure. Without a base (or with
// writing off) it only measures; alignment is taken from the real
// addresses, so a caller's buffer of any alignment is filled safely.
class Arena {
public:
    Arena(BYTE* base, bool write) : m_base(reinterpret_cast<std::uintptr_t>(base)), m_write(write && base) {}

    void* raw(std::size_t n, std::size_t align) {
        std::uintptr_t at = m_base + m_used;
        at = (at + align - 1) & ~static_cast<std::uintptr_t>(align - 1);
        m_used = at - m_base + n;
        return m_write ? reinterpret_cast<void*>(at) : nullptr;
    }
    template <class T>
    T* take(std::size_t count = 1) {
        return static_cast<T*>(raw(sizeof(T) * count, alignof(T)));
    }
    // The bytes followed by `zeros` zero bytes that are not counted.
    BYTE* bytes(const Bytes& b, std::size_t zeros) {
        if (b.empty() && zeros == 0) {
            return nullptr;
        }
        auto* p = static_cast<BYTE*>(raw(b.size() + zeros, 4));
        if (p) {
            if (!b.empty()) {
                std::memcpy(p, b.data(), b.size());
            }
            std::memset(p + b.size(), 0, zeros);
        }
        return p;
    }
    LPSTR text(const std::string& s) {
        auto* p = static_cast<char*>(raw(s.size() + 1, 1));
        if (p) {
            std::memcpy(p, s.c_str(), s.size() + 1);
        }
        return p;
    }
    // IA5 text as a zero-terminated WCHAR string.
    LPWSTR wide(const std::string& s) {
        auto* p = take<WCHAR>(s.size() + 1);
        if (p) {
            for (std::size_t i = 0; i < s.size(); ++i) {
                p[i] = static_cast<WCHAR>(static_cast<unsigned char>(s[i]));
            }
            p[s.size()] = 0;
        }
        return p;
    }
    std::size_t used() const { return m_used; }

private:
    std::uintptr_t m_base;
    bool m_write;
    std::size_t m_used = 0;
};

CRYPT_INTEGER_BLOB blobOf(BYTE* p, std::size_t n) { return CRYPT_INTEGER_BLOB{static_cast<DWORD>(n), p}; }

// ---- X509_NAME

// An attribute value in the form crypt32 gives it.
struct RdnValue {
    std::string oid;
    DWORD type = CERT_RDN_ANY_TYPE;
    Bytes value;             // final bytes
    std::size_t zeros = 0;   // width of the uncounted terminator
};

DWORD rdnTypeOfTag(int tag) {
    switch (tag) {
        case 18: return CERT_RDN_NUMERIC_STRING;
        case 19: return CERT_RDN_PRINTABLE_STRING;
        case 20: return CERT_RDN_TELETEX_STRING;
        case 21: return CERT_RDN_VIDEOTEX_STRING;
        case 22: return CERT_RDN_IA5_STRING;
        case 25: return CERT_RDN_GRAPHIC_STRING;
        case 26: return CERT_RDN_VISIBLE_STRING;
        case 27: return CERT_RDN_GENERAL_STRING;
        case 28: return CERT_RDN_UNIVERSAL_STRING;
        case 30: return CERT_RDN_BMP_STRING;
        case 12: return CERT_RDN_UTF8_STRING;
        default: return CERT_RDN_ENCODED_BLOB;
    }
}

template <class Unit>
Bytes unitsAsBytes(const std::vector<Unit>& units) {
    Bytes out(units.size() * sizeof(Unit));
    if (!units.empty()) {
        std::memcpy(out.data(), units.data(), out.size());
    }
    return out;
}

bool toRdnValue(const NameAttr& a, RdnValue& out) {
    out.oid = a.oid;
    out.type = a.tag == kEncodedValue ? CERT_RDN_ENCODED_BLOB : rdnTypeOfTag(a.tag);
    const Bytes& v = a.value;
    switch (out.type) {
        case CERT_RDN_BMP_STRING: {  // big-endian UCS-2 on the wire
            if (v.size() % 2 != 0) {
                return false;
            }
            std::vector<WCHAR> units;
            for (std::size_t i = 0; i < v.size(); i += 2) {
                units.push_back(static_cast<WCHAR>((v[i] << 8) | v[i + 1]));
            }
            out.value = unitsAsBytes(units);
            out.zeros = sizeof(WCHAR);
            return true;
        }
        case CERT_RDN_UTF8_STRING: {
            std::vector<WCHAR> units;
            if (!v.empty()) {
                const auto* src = reinterpret_cast<LPCSTR>(v.data());
                const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, src, static_cast<int>(v.size()),
                                                  nullptr, 0);
                if (n <= 0) {
                    return false;
                }
                units.resize(static_cast<std::size_t>(n));
                if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, src, static_cast<int>(v.size()), units.data(),
                                        n) != n) {
                    return false;
                }
            }
            out.value = unitsAsBytes(units);
            out.zeros = sizeof(WCHAR);
            return true;
        }
        case CERT_RDN_UNIVERSAL_STRING: {  // big-endian UCS-4 on the wire
            if (v.size() % 4 != 0) {
                return false;
            }
            std::vector<std::uint32_t> units;
            for (std::size_t i = 0; i < v.size(); i += 4) {
                units.push_back((std::uint32_t{v[i]} << 24) | (std::uint32_t{v[i + 1]} << 16) |
                                (std::uint32_t{v[i + 2]} << 8) | v[i + 3]);
            }
            out.value = unitsAsBytes(units);
            out.zeros = 4;
            return true;
        }
        case CERT_RDN_ENCODED_BLOB:
            out.value = v;
            out.zeros = 0;
            return true;
        default:
            out.value = v;
            out.zeros = 1;
            return true;
    }
}

using RdnValues = std::vector<std::vector<RdnValue>>;

void layName(const RdnValues& rdns, Arena& a) {
    auto* info = a.take<CERT_NAME_INFO>();
    CERT_RDN* rgRdn = rdns.empty() ? nullptr : a.take<CERT_RDN>(rdns.size());
    if (info) {
        info->cRDN = static_cast<DWORD>(rdns.size());
        info->rgRDN = rgRdn;
    }
    for (std::size_t i = 0; i < rdns.size(); ++i) {
        const auto& attrs = rdns[i];
        CERT_RDN_ATTR* rgAttr = attrs.empty() ? nullptr : a.take<CERT_RDN_ATTR>(attrs.size());
        if (rgRdn) {
            rgRdn[i].cRDNAttr = static_cast<DWORD>(attrs.size());
            rgRdn[i].rgRDNAttr = rgAttr;
        }
        for (std::size_t j = 0; j < attrs.size(); ++j) {
            const RdnValue& v = attrs[j];
            LPSTR oid = a.text(v.oid);
            BYTE* data = a.bytes(v.value, v.zeros);
            if (rgAttr) {
                rgAttr[j].pszObjId = oid;
                rgAttr[j].dwValueType = v.type;
                rgAttr[j].Value = blobOf(data, v.value.size());
            }
        }
    }
}

// ---- X509_ENHANCED_KEY_USAGE

void layUsage(const std::vector<std::string>& oids, Arena& a) {
    auto* usage = a.take<CTL_USAGE>();
    LPSTR* list = oids.empty() ? nullptr : a.take<LPSTR>(oids.size());
    if (usage) {
        usage->cUsageIdentifier = static_cast<DWORD>(oids.size());
        usage->rgpszUsageIdentifier = list;
    }
    for (std::size_t i = 0; i < oids.size(); ++i) {
        LPSTR s = a.text(oids[i]);
        if (list) {
            list[i] = s;
        }
    }
}

// ---- X509_AUTHORITY_KEY_ID2

void layAuthorityKeyId(const AuthorityKeyId& aki, Arena& a) {
    auto* info = a.take<CERT_AUTHORITY_KEY_ID2_INFO>();
    BYTE* keyId = a.bytes(aki.keyId, 0);
    CERT_ALT_NAME_ENTRY* entries = aki.issuer.empty() ? nullptr : a.take<CERT_ALT_NAME_ENTRY>(aki.issuer.size());
    for (std::size_t i = 0; i < aki.issuer.size(); ++i) {
        const GeneralNameItem& g = aki.issuer[i];
        CERT_ALT_NAME_ENTRY e{};
        e.dwAltNameChoice = static_cast<DWORD>(g.choice);
        switch (g.choice) {
            case CERT_ALT_NAME_OTHER_NAME: {
                auto* other = a.take<CERT_OTHER_NAME>();
                LPSTR oid = a.text(g.text);
                BYTE* value = a.bytes(g.data, 0);
                if (other) {
                    other->pszObjId = oid;
                    other->Value = blobOf(value, g.data.size());
                }
                e.pOtherName = other;
                break;
            }
            case CERT_ALT_NAME_RFC822_NAME:
            case CERT_ALT_NAME_DNS_NAME:
            case CERT_ALT_NAME_URL:
                e.pwszURL = a.wide(g.text);  // the three share one member slot
                break;
            case CERT_ALT_NAME_DIRECTORY_NAME:
                e.DirectoryName = blobOf(a.bytes(g.data, 0), g.data.size());
                break;
            case CERT_ALT_NAME_IP_ADDRESS:
                e.IPAddress = blobOf(a.bytes(g.data, 0), g.data.size());
                break;
            default:
                e.pszRegisteredID = a.text(g.text);
                break;
        }
        if (entries) {
            entries[i] = e;
        }
    }
    BYTE* serial = a.bytes(aki.serialLE, 0);
    if (info) {
        info->KeyId = blobOf(keyId, aki.keyId.size());
        info->AuthorityCertIssuer.cAltEntry = static_cast<DWORD>(aki.issuer.size());
        info->AuthorityCertIssuer.rgAltEntry = entries;
        info->AuthorityCertSerialNumber = blobOf(serial, aki.serialLE.size());
    }
}

enum class StructKind { None, Name, Usage, AuthorityKeyId2 };

StructKind kindOf(LPCSTR type) {
    const auto id = reinterpret_cast<std::uintptr_t>(type);
    if (id <= 0xFFFF) {  // a numbered structure
        switch (id) {
            case 7: return StructKind::Name;
            case 31: return StructKind::AuthorityKeyId2;
            case 36: return StructKind::Usage;
            default: return StructKind::None;
        }
    }
    if (std::strcmp(type, szOID_ENHANCED_KEY_USAGE) == 0) {
        return StructKind::Usage;
    }
    if (std::strcmp(type, szOID_AUTHORITY_KEY_IDENTIFIER2) == 0) {
        return StructKind::AuthorityKeyId2;
    }
    return StructKind::None;
}

}  // namespace

BOOL CryptDecodeObject(DWORD dwCertEncodingType, LPCSTR lpszStructType, const BYTE* pbEncoded,
                       DWORD cbEncoded, DWORD /*dwFlags*/, void* pvStructInfo, DWORD* pcbStructInfo) {
    if (!pcbStructInfo || !(dwCertEncodingType & X509_ASN_ENCODING)) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const StructKind kind = kindOf(lpszStructType);
    if (kind == StructKind::None) {
        return fail(ERROR_FILE_NOT_FOUND);  // no decoder for that structure
    }
    if (!pbEncoded || cbEncoded == 0) {
        return fail(CRYPT_E_ASN1_EOD);
    }

    RdnValues rdns;
    std::vector<std::string> usage;
    AuthorityKeyId aki;
    bool ok = false;
    switch (kind) {
        case StructKind::Name: {
            std::vector<NameRdn> decoded;
            ok = decodeName(pbEncoded, cbEncoded, decoded);
            for (std::size_t i = 0; ok && i < decoded.size(); ++i) {
                rdns.emplace_back();
                for (const NameAttr& attr : decoded[i]) {
                    RdnValue v;
                    ok = ok && toRdnValue(attr, v);
                    rdns.back().push_back(std::move(v));
                }
            }
            break;
        }
        case StructKind::Usage:
            ok = decodeEnhancedKeyUsage(pbEncoded, cbEncoded, usage);
            break;
        case StructKind::AuthorityKeyId2:
            ok = decodeAuthorityKeyId(pbEncoded, cbEncoded, aki);
            break;
        case StructKind::None:
            break;
    }
    if (!ok) {
        return fail(CRYPT_E_ASN1_CORRUPT);
    }

    auto lay = [&](Arena& a) {
        switch (kind) {
            case StructKind::Name: layName(rdns, a); break;
            case StructKind::Usage: layUsage(usage, a); break;
            default: layAuthorityKeyId(aki, a); break;
        }
        return a.used();
    };
    // Sized for the worst alignment of the caller's buffer.
    Arena sizing(nullptr, false);
    const std::size_t need = lay(sizing) + alignof(std::max_align_t) - 1;
    if (need > 0xFFFFFFFFu) {
        return fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    if (!pvStructInfo) {
        *pcbStructInfo = static_cast<DWORD>(need);
        return TRUE;
    }
    auto* base = static_cast<BYTE*>(pvStructInfo);
    Arena measure(base, false);
    const std::size_t fits = lay(measure);
    if (fits > *pcbStructInfo) {
        *pcbStructInfo = static_cast<DWORD>(need);
        return fail(ERROR_MORE_DATA);
    }
    Arena write(base, true);
    lay(write);
    *pcbStructInfo = static_cast<DWORD>(fits);
    return TRUE;
}

PCERT_EXTENSION CertFindExtension(LPCSTR pszObjId, DWORD cExtensions, CERT_EXTENSION rgExtensions[]) {
    if (!pszObjId || !rgExtensions) {
        return nullptr;
    }
    for (DWORD i = 0; i < cExtensions; ++i) {
        if (rgExtensions[i].pszObjId && std::strcmp(rgExtensions[i].pszObjId, pszObjId) == 0) {
            return &rgExtensions[i];
        }
    }
    return nullptr;
}
