// Makes update packages for the transport server to publish, and signing key
// pairs.
//
//   update-packager keygen <private-key-out> <public-key-out>
//   update-packager build <private-key> <version> <source-folder> <target-folder>
//
// Keys are raw files: the private key 32 bytes LE(d), the public key 64 bytes
// LE(x) || LE(y) (what the build's PELLAMO_UPDATE_PUBLIC_KEY names). The
// package holds every file (not folder) of the source folder, signed for the
// given version.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "update/CUpdateQn.h"
#include "update/UpdateSignature.h"

namespace {

bool readKey(const std::string& path, qn::update::Bytes& key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    key.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return key.size() == qn::update::kPrivateKeySize;
}

bool writeFile(const std::string& path, const qn::update::Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int usage() {
    std::cerr << "usage: update-packager keygen <private-key-out> <public-key-out>\n"
                 "       update-packager build <private-key> <version> <source-folder> <target-folder>\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "keygen" && argc == 4) {
        qn::update::Bytes privateKey, publicKey;
        if (!qn::update::generateSigningKey(privateKey, publicKey)) {
            std::cerr << "update-packager: key generation failed\n";
            return 1;
        }
        if (!writeFile(argv[2], privateKey) || !writeFile(argv[3], publicKey)) {
            std::cerr << "update-packager: cannot write the key files\n";
            return 1;
        }
        return 0;
    }
    if (command == "build" && argc == 6) {
        qn::update::Bytes privateKey, publicKey;
        if (!readKey(argv[2], privateKey) || !qn::update::publicKeyOf(privateKey, publicKey)) {
            std::cerr << "update-packager: " << argv[2] << " is not a private key\n";
            return 1;
        }
        char* end = nullptr;
        const unsigned long version = std::strtoul(argv[3], &end, 10);
        if (end == argv[3] || *end != '\0' || version > 0xFFFFFFFFul) return usage();
        CUpdateQn builder;
        builder.setSigningKey(privateKey);
        if (builder.createUpdatePackage(argv[4], argv[5], static_cast<unsigned>(version)) != 0) {
            std::cerr << "update-packager: cannot build the package from " << argv[4] << "\n";
            return 1;
        }
        return 0;
    }
    return usage();
}
