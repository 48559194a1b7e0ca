// The repository's TEST-ONLY update signing key pair, and signed pieces of
// hand-made update packages (for the program, variant 4, unless told).
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "update/UpdateSignature.h"

#ifndef PELLAMO_TEST_KEYS_DIR
#error "tests/CMakeLists.txt defines PELLAMO_TEST_KEYS_DIR"
#endif

namespace update_keys {

inline qn::update::Bytes readKeyFile(const char* name) {
    std::ifstream in(std::string(PELLAMO_TEST_KEYS_DIR) + "/" + name, std::ios::binary);
    return qn::update::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline const qn::update::Bytes& signingKey() {
    static const qn::update::Bytes key = readKeyFile("TEST-ONLY-update-signing.key");
    return key;
}

inline const qn::update::Bytes& verificationKey() {
    static const qn::update::Bytes key = readKeyFile("TEST-ONLY-update-signing.pub");
    return key;
}

inline std::string sign(const unsigned char digest[qn::update::kDigestSize],
                        const qn::update::Bytes& key = signingKey()) {
    unsigned char signature[qn::update::kSignatureSize] = {};
    qn::update::signDigest(key, digest, signature);
    return std::string(reinterpret_cast<const char*>(signature), sizeof signature);
}

inline std::string le32(unsigned v) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xff);
    return out;
}

// The bytes of a list followed by their signature for the version.
inline std::string signedListBytes(unsigned version, const std::string& list,
                                   const qn::update::Bytes& key = signingKey(),
                                   tesel::eQuorinType type = tesel::QN_PLUGIN) {
    unsigned char digest[qn::update::kDigestSize];
    qn::update::listDigest(type, version, reinterpret_cast<const unsigned char*>(list.data()), list.size(), digest);
    return list + sign(digest, key);
}

// updateinfo.dat for these names, signed for the version.
inline std::string signedList(unsigned version, const std::vector<std::string>& names,
                              const qn::update::Bytes& key = signingKey(),
                              tesel::eQuorinType type = tesel::QN_PLUGIN) {
    std::string list = le32(static_cast<unsigned>(names.size() + 1));
    for (const auto& n : names) list += le32(static_cast<unsigned>(n.size())) + n;
    unsigned char digest[qn::update::kDigestSize];
    qn::update::listDigest(type, version, reinterpret_cast<const unsigned char*>(list.data()), list.size(), digest);
    return list + sign(digest, key);
}

// Part k of the version: the content and its signature.
inline std::string signedPart(unsigned version, unsigned k, const std::string& name, const std::string& content,
                              const qn::update::Bytes& key = signingKey(),
                              tesel::eQuorinType type = tesel::QN_PLUGIN) {
    unsigned char digest[qn::update::kDigestSize];
    qn::update::partDigest(type, version, k, name, reinterpret_cast<const unsigned char*>(content.data()),
                           content.size(), digest);
    return content + sign(digest, key);
}

}  // namespace update_keys
