// Shared pieces of the certificate tests: owned certificate contexts, the
// CRL folder of the test's key folder, and text helpers.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CspTestSupport.h"
#include "TestCA.h"
#include "core/CBlob.h"
#include "core/TextConvert.h"
#include "platform/wincrypt.h"

namespace certtest {

using Bytes = std::vector<unsigned char>;

struct CtxFree {
    void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using Ctx = std::unique_ptr<const CERT_CONTEXT, CtxFree>;

inline Ctx ctxOf(const Bytes& der) {
    return Ctx(CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

// CP1251 text of UTF-8 source text.
inline std::string ansi(const char* utf8) { return tesel::convertFromUTF8(utf8); }

inline tesel::CBlob blobOf(const Bytes& b) { return tesel::CBlob(b.data(), static_cast<unsigned>(b.size())); }

inline Bytes reversed(Bytes b) { return testutil::reversed(std::move(b)); }

// Writes a file into <key folder>/crls/.
inline void putCrl(const std::string& keyDir, const std::string& name, const Bytes& content) {
    const std::string dir = keyDir + "/crls";
    std::filesystem::create_directories(dir);
    FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

// Trusted roots blob: a count and length-prefixed key identifiers.
inline tesel::CBlob rootsOf(const std::vector<Bytes>& ids) {
    unsigned size = 4;
    for (const Bytes& id : ids) size += 4 + static_cast<unsigned>(id.size());
    tesel::CBlob roots(size);
    roots.serialize(static_cast<unsigned>(ids.size()));
    for (const Bytes& id : ids) {
        roots.serialize(static_cast<unsigned>(id.size()));
        roots.serialize(id.data(), static_cast<unsigned>(id.size()));
    }
    roots.moveOffset(0);
    return roots;
}

// A test CA per test binary (key generation is cheap, but one is enough).
inline const testca::TestCA& ca2012() {
    static testca::TestCA ca(oracle::Kind::G2012_256, "Test CA 2012");
    return ca;
}
inline const testca::TestCA& ca2001() {
    static testca::TestCA ca(oracle::Kind::G2001, "Test CA 2001");
    return ca;
}

}  // namespace certtest
