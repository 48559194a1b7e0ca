// Requests made by the software provider for every size class, subject type
// and a spread of templates, checked by an independent implementation:
// the openssl command with the GOST engine verifies each self-signature and
// prints the extensions, and OpenSSL's decoder reads back the subject string
// types, the extensions and the purposes in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "OpenSslRequestReader.h"
#include "RequestTestSupport.h"
#include "crypto/Crypto1By1Connect.h"
#include "crypto/CspAlgorithms.h"
#include "pki/RequestPKCS10.h"

using reqtest::Bytes;
using reqtest::hex;
using tesel::CBlob;
using tesel::RequestPKCS10;
namespace qc = qn::crypto;

namespace {

const qc::eSupportCP kKinds[] = {qc::CP_CRYPTOPRO, qc::CP_CRYPTOPRO_GOST2012_256,
                                 qc::CP_CRYPTOPRO_GOST2012_512};

// Key containers (one per size class) and an OpenSSL configuration that
// loads the GOST engine, made once for the whole suite.
class RequestOpenSsl : public ::testing::TestWithParam<qc::eSupportCP> {
protected:
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/pellamo-pkcs10-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        s_dir = tmpl;
        setenv("PELLAMO_CSP_DIR", s_dir.c_str(), 1);
        std::ofstream(s_dir + "/openssl.cnf") << "openssl_conf = openssl_init\n"
                                                 "[openssl_init]\nengines = engine_section\n"
                                                 "[engine_section]\ngost = gost_section\n"
                                                 "[gost_section]\nengine_id = gost\n"
                                                 "default_algorithms = ALL\n";
        for (int i = 0; i < 3; ++i) {
            qc::Crypto1By1Connect* raw = nullptr;
            const unsigned r = qc::Crypto1By1Connect::create("pkcs10-" + std::to_string(i), kKinds[i], &raw);
            s_providers[i].reset(raw);
            ASSERT_EQ(r, 0u) << kKinds[i];
        }
    }
    static void TearDownTestSuite() {
        for (auto& p : s_providers) p.reset();
        std::error_code ec;
        std::filesystem::remove_all(s_dir, ec);
        unsetenv("PELLAMO_CSP_DIR");
    }

    static qc::Crypto1By1Connect& provider(qc::eSupportCP kind) {
        for (int i = 0; i < 3; ++i) {
            if (kKinds[i] == kind) return *s_providers[i];
        }
        throw std::logic_error("no provider");
    }

    // `openssl req -verify -text` of a DER request; stdout and stderr.
    static std::string opensslReq(const CBlob& der) {
        const std::string file = s_dir + "/req.der";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(der.getData()), der.getSize());
        const std::string cmd = "OPENSSL_CONF='" + s_dir + "/openssl.cnf' openssl req -inform DER -in '" + file +
                                "' -verify -noout -text 2>&1";
        std::string out;
        if (FILE* f = popen(cmd.c_str(), "r")) {
            char buf[4096];
            std::size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
            pclose(f);
        }
        return out;
    }

    static std::string s_dir;
    static std::unique_ptr<qc::Crypto1By1Connect> s_providers[3];
};

std::string RequestOpenSsl::s_dir;
std::unique_ptr<qc::Crypto1By1Connect> RequestOpenSsl::s_providers[3];

const char* expectedStringType(const std::string& oid) {
    if (oid == "1.2.643.3.131.1.1" || oid == "1.2.643.100.1" || oid == "1.2.643.100.3") return "NUMERICSTRING";
    if (oid == "2.5.4.6") return "PRINTABLESTRING";
    if (oid == "1.2.840.113549.1.9.1") return "IA5STRING";
    return "UTF8STRING";
}

// Reads the request back with OpenSSL's decoder and compares it with what
// the builder was asked to write.
void checkDecoded(const CBlob& der, const RequestPKCS10& r, qc::eSupportCP kind, const CBlob& publicKeyBlob) {
    const ossl::Request req = ossl::readRequest(Bytes(der.getData(), der.getData() + der.getSize()));
    ASSERT_TRUE(req.decoded);
    EXPECT_TRUE(req.consumedAll);

    // Subject: one attribute per RDN, in order, with its string type.
    const auto& attrs = r.getCertAttribs();
    ASSERT_EQ(req.subject.size(), attrs.size());
    for (std::size_t i = 0; i < attrs.size(); ++i) {
        const std::string& oid = attrs[i].oid;
        const bool utf8 = std::string(expectedStringType(oid)) == "UTF8STRING";
        EXPECT_EQ(req.subject[i].rdn, static_cast<int>(i));
        EXPECT_EQ(req.subject[i].oid, oid);
        EXPECT_EQ(req.subject[i].type, expectedStringType(oid)) << oid;
        EXPECT_EQ(req.subject[i].value, utf8 ? tesel::convertToUTF8(attrs[i].value) : attrs[i].value) << oid;
    }

    // The public key: algorithm of the class; OCTET STRING of the blob's key.
    EXPECT_EQ(req.publicKeyAlgorithm, qc::get_PUBKEY_ALG_OID(kind));
    const unsigned rawLen = qc::getPubKeySize(kind) / 8;
    ASSERT_EQ(req.publicKey.size(), rawLen + (rawLen < 128 ? 2 : 3));
    EXPECT_EQ(hex(req.publicKey.data() + req.publicKey.size() - rawLen, rawLen),
              hex(publicKeyBlob.getData() + publicKeyBlob.getSize() - rawLen, rawLen));

    // The five extensions in order, only key usage critical, and what each
    // holds.
    const std::vector<std::string> order = {"2.5.29.32", "1.2.643.100.111", "2.5.29.37", "2.5.29.15",
                                            "1.2.840.113549.1.9.15"};
    ASSERT_EQ(req.extensions.size(), order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(req.extensions[i].oid, order[i]);
        EXPECT_EQ(req.extensions[i].critical, i == 3) << order[i];
    }
    EXPECT_EQ(req.policies, r.getPolicies());
    EXPECT_EQ(req.signTool, tesel::convertToUTF8(r.getSignTool()));
    EXPECT_EQ(req.purposes, r.getPurposes());
    EXPECT_EQ(req.keyUsageBits, (std::vector<int>{1, 1, 1, 1, 0, 0, 0, 0, 0}));
    // SEQUENCE { SEQUENCE { GOST 28147-89 of the class } }
    const auto& smime = req.extensions[4].value;
    EXPECT_EQ(hex(smime.data(), smime.size()),
              kind == qc::CP_CRYPTOPRO ? "300a300806062a8503020215" : "300c300a06082a85030701010502");
}

}  // namespace

TEST_P(RequestOpenSsl, EveryCardVerifiesAndReadsBack) {
    const qc::eSupportCP kind = GetParam();
    qc::Crypto1By1Connect& crypto = provider(kind);
    CBlob publicKey;
    ASSERT_EQ(crypto.getPublicKey(publicKey), 0u);
    const char* keyText = kind == qc::CP_CRYPTOPRO                 ? "GOST R 34.10-2001"
                          : kind == qc::CP_CRYPTOPRO_GOST2012_256 ? "GOST R 34.10-2012 with 256 bit modulus"
                                                                   : "GOST R 34.10-2012 with 512 bit modulus";
    for (int type = 0; type <= 2; ++type) {
        for (int certTemplate : {0, 1, 3, 7, 10}) {
            SCOPED_TRACE("type " + std::to_string(type) + ", template " + std::to_string(certTemplate));
            tesel::CClient card = reqtest::makeCard(type, certTemplate);
            card.setCSP(kind);
            card.setAddOid(tesel::ENH_SERVER_AUTH, true);
            RequestPKCS10 r;
            ASSERT_EQ(r.fillFromClient(card, card.getCSP()), 0);
            CBlob der;
            ASSERT_EQ(crypto.signAndEncodePkcs10(r, der), 0u);

            const std::string text = opensslReq(der);
            EXPECT_NE(text.find("self-signature verify OK"), std::string::npos) << text;
            EXPECT_EQ(text.find("verify failure"), std::string::npos) << text;
            EXPECT_NE(text.find(keyText), std::string::npos) << text;
            EXPECT_NE(text.find("X509v3 Key Usage: critical"), std::string::npos) << text;
            EXPECT_NE(text.find("Digital Signature, Non Repudiation, Key Encipherment, Data Encipherment"),
                      std::string::npos)
                << text;
            EXPECT_NE(text.find("X509v3 Extended Key Usage:"), std::string::npos) << text;
            EXPECT_NE(text.find("X509v3 Certificate Policies:"), std::string::npos) << text;
            checkDecoded(der, r, kind, publicKey);
        }
    }
}

TEST_P(RequestOpenSsl, AlteredRequestFailsVerification) {
    const qc::eSupportCP kind = GetParam();
    RequestPKCS10 r;
    ASSERT_EQ(r.fillFromClient(reqtest::makeCard(1, 3), kind), 0);
    CBlob der;
    ASSERT_EQ(provider(kind).signAndEncodePkcs10(r, der), 0u);
    // The e-mail address lies inside the signed part.
    const std::string email = "ivanov@example.ru";
    const std::string bytes(reinterpret_cast<const char*>(der.getData()), der.getSize());
    const std::size_t at = bytes.find(email);
    ASSERT_NE(at, std::string::npos);
    der[static_cast<unsigned>(at)] ^= 0x01;
    const std::string text = opensslReq(der);
    EXPECT_EQ(text.find("self-signature verify OK"), std::string::npos) << text;
    EXPECT_NE(text.find("verify failure"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(SizeClasses, RequestOpenSsl, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<qc::eSupportCP>& info) {
                             return info.param == qc::CP_CRYPTOPRO                 ? std::string("G2001")
                                    : info.param == qc::CP_CRYPTOPRO_GOST2012_256 ? std::string("G2012_256")
                                                                                   : std::string("G2012_512");
                         });
