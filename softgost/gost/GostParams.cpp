#include "softgost/gost/GostParams.h"

#include <gcrypt.h>

#include <cstring>

#include "platform/wincrypt.h"

namespace plcsp {

namespace {

const KeyClassInfo kClasses[] = {
    {KeyClass::G2001, CALG_GR3410EL, CALG_DH_EL_SF, CALG_GR3411, 512, "1.2.643.2.2.35.1",
     "1.2.643.2.2.30.1", "1.2.643.2.2.31.1"},
    {KeyClass::G2012_256, CALG_GR3410_12_256, CALG_DH_GR3410_12_256_SF, CALG_GR3411_2012_256, 512,
     "1.2.643.2.2.36.0", "1.2.643.7.1.1.2.2", "1.2.643.7.1.2.5.1.1"},
    {KeyClass::G2012_512, CALG_GR3410_12_512, CALG_DH_GR3410_12_512_SF, CALG_GR3411_2012_512, 1024,
     "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.2.3", "1.2.643.7.1.2.5.1.1"},
};

struct CurveRow {
    const char* oid;
    CurveInfo info;
};

const CurveRow kCurves[] = {
    {"1.2.643.2.2.35.1", {"GOST2001-CryptoPro-A", 32, 1}},
    {"1.2.643.2.2.36.0", {"GOST2001-CryptoPro-A", 32, 1}},
    {"1.2.643.7.1.2.1.1.2", {"GOST2001-CryptoPro-A", 32, 1}},
    {"1.2.643.2.2.35.2", {"GOST2001-CryptoPro-B", 32, 1}},
    {"1.2.643.7.1.2.1.1.3", {"GOST2001-CryptoPro-B", 32, 1}},
    {"1.2.643.2.2.35.3", {"GOST2001-CryptoPro-C", 32, 1}},
    {"1.2.643.2.2.36.1", {"GOST2001-CryptoPro-C", 32, 1}},
    {"1.2.643.7.1.2.1.1.4", {"GOST2001-CryptoPro-C", 32, 1}},
    // libgcrypt knows this twisted Edwards curve only by its name.
    {"1.2.643.7.1.2.1.1.1", {"GOST2012-256-A", 32, 4}},
    {"1.2.643.7.1.2.1.2.1", {"GOST2012-512-tc26-A", 64, 1}},
    {"1.2.643.7.1.2.1.2.2", {"GOST2012-512-tc26-B", 64, 1}},
    {"1.2.643.7.1.2.1.2.3", {"GOST2012-512-tc26-C", 64, 4}},
};

const HashInfo kHashes[] = {
    {CALG_GR3411, GCRY_MD_GOSTR3411_CP, 32},
    {CALG_GR3411_2012_256, GCRY_MD_STRIBOG256, 32},
    {CALG_GR3411_2012_512, GCRY_MD_STRIBOG512, 64},
};

const char* const kSboxes[] = {
    "1.2.643.2.2.31.1", "1.2.643.2.2.31.2", "1.2.643.2.2.31.3",
    "1.2.643.2.2.31.4", "1.2.643.7.1.2.5.1.1",
};

void appendBase128(std::vector<unsigned char>& out, unsigned long long v) {
    unsigned char tmp[10];
    int n = 0;
    do {
        tmp[n++] = static_cast<unsigned char>(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    while (n > 0) {
        --n;
        out.push_back(static_cast<unsigned char>(tmp[n] | (n > 0 ? 0x80 : 0)));
    }
}

void appendLength(std::vector<unsigned char>& out, std::size_t len) {
    if (len < 0x80) {
        out.push_back(static_cast<unsigned char>(len));
        return;
    }
    unsigned char tmp[sizeof(std::size_t)];
    int n = 0;
    while (len != 0) {
        tmp[n++] = static_cast<unsigned char>(len & 0xFF);
        len >>= 8;
    }
    out.push_back(static_cast<unsigned char>(0x80 | n));
    while (n > 0) {
        out.push_back(tmp[--n]);
    }
}

}  // namespace

const KeyClassInfo* classOfProvType(unsigned provType) {
    switch (provType) {
        case 2:
        case 75:
            return &kClasses[0];
        case 77:
        case 80:
            return &kClasses[1];
        case 78:
        case 81:
            return &kClasses[2];
        default:
            return nullptr;
    }
}

const KeyClassInfo* classInfo(KeyClass cls) {
    for (const auto& c : kClasses) {
        if (c.cls == cls) {
            return &c;
        }
    }
    return nullptr;
}

const KeyClassInfo* classOfPubKeyAlg(unsigned alg) {
    for (const auto& c : kClasses) {
        if (c.pubKeyAlg == alg) {
            return &c;
        }
    }
    return nullptr;
}

const CurveInfo* curveOfOid(const std::string& oid) {
    for (const auto& c : kCurves) {
        if (oid == c.oid) {
            return &c.info;
        }
    }
    return nullptr;
}

const HashInfo* hashOfAlgId(unsigned algId) {
    for (const auto& h : kHashes) {
        if (h.algId == algId) {
            return &h;
        }
    }
    return nullptr;
}

bool isKnownSboxOid(const std::string& oid) {
    for (const char* s : kSboxes) {
        if (oid == s) {
            return true;
        }
    }
    return false;
}

std::vector<unsigned char> derOid(const std::string& dotted) {
    std::vector<unsigned long long> arcs;
    unsigned long long cur = 0;
    bool haveDigit = false;
    for (char ch : dotted) {
        if (ch >= '0' && ch <= '9') {
            if (cur > (~0ULL - 9) / 10) {
                return {};
            }
            cur = cur * 10 + static_cast<unsigned>(ch - '0');
            haveDigit = true;
        } else if (ch == '.' && haveDigit) {
            arcs.push_back(cur);
            cur = 0;
            haveDigit = false;
        } else {
            return {};
        }
    }
    if (!haveDigit) {
        return {};
    }
    arcs.push_back(cur);
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) {
        return {};
    }
    std::vector<unsigned char> content;
    appendBase128(content, arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i) {
        appendBase128(content, arcs[i]);
    }
    std::vector<unsigned char> out{0x06};
    appendLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::string oidText(const unsigned char* content, std::size_t n) {
    if (n == 0 || (content[n - 1] & 0x80)) {
        return {};
    }
    std::string out;
    unsigned long long v = 0;
    bool first = true;
    for (std::size_t i = 0; i < n; ++i) {
        if (v == 0 && content[i] == 0x80) {
            return {};  // non-minimal encoding
        }
        if (v > (~0ULL >> 7)) {
            return {};
        }
        v = (v << 7) | (content[i] & 0x7F);
        if (content[i] & 0x80) {
            continue;
        }
        if (first) {
            unsigned long long a = v < 80 ? v / 40 : 2;
            out = std::to_string(a) + "." + std::to_string(v - a * 40);
            first = false;
        } else {
            // Appended in two steps: "." + a temporary trips GCC 12's -Wrestrict at -O3.
            out += '.';
            out += std::to_string(v);
        }
        v = 0;
    }
    return out;
}

bool readTlv(const unsigned char* p, std::size_t avail, DerTlv& out) {
    if (avail < 2) {
        return false;
    }
    out.tag = p[0];
    std::size_t len = p[1];
    std::size_t hdr = 2;
    if (len & 0x80) {
        std::size_t nbytes = len & 0x7F;
        if (nbytes == 0 || nbytes > 4 || avail < 2 + nbytes) {
            return false;
        }
        len = 0;
        for (std::size_t i = 0; i < nbytes; ++i) {
            len = (len << 8) | p[2 + i];
        }
        hdr += nbytes;
    }
    if (len > avail - hdr) {
        return false;
    }
    out.content = p + hdr;
    out.length = len;
    out.headerLength = hdr;
    return true;
}

std::vector<unsigned char> derOidSequence(const std::vector<std::string>& oids) {
    std::vector<unsigned char> body;
    for (const auto& o : oids) {
        auto d = derOid(o);
        body.insert(body.end(), d.begin(), d.end());
    }
    std::vector<unsigned char> out{0x30};
    appendLength(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bool parseOidSequence(const unsigned char* p, std::size_t n, std::vector<std::string>& oids) {
    DerTlv seq;
    if (!readTlv(p, n, seq) || seq.tag != 0x30 || seq.headerLength + seq.length != n) {
        return false;
    }
    oids.clear();
    std::size_t off = 0;
    while (off < seq.length) {
        DerTlv item;
        if (!readTlv(seq.content + off, seq.length - off, item) || item.tag != 0x06) {
            return false;
        }
        std::string text = oidText(item.content, item.length);
        if (text.empty()) {
            return false;
        }
        oids.push_back(text);
        off += item.headerLength + item.length;
    }
    return !oids.empty();
}

}  // namespace plcsp
