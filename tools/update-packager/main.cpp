// Makes update packages for the transport server to publish, and signing key
// pairs.
//
//   update-packager keygen <private-key-out> <public-key-out>
//   update-packager build <private-key> <version> <source-folder> <target-folder> [<variant>]
//
// Keys are raw files: the private key 32 bytes LE(d), the public key 64 bytes
// LE(x) || LE(y) (what the build's PELLAMO_UPDATE_PUBLIC_KEY names). keygen
// creates the private key file readable by its owner only and never replaces
// an existing file. The package holds every file (not folder) of the source
// folder, signed for the given version and program variant (4, the program,
// when none is given).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "core/eQuorinType.h"
#include "update/CUpdateQn.h"
#include "update/UpdateSignature.h"

namespace {

bool readKey(const std::string& path, qn::update::Bytes& key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    key.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return key.size() == qn::update::kPrivateKeySize;
}

// Writes a new file of the given mode: created with it (never wider for a
// moment), refused when the path exists (also as a link), synced and closed
// with every error seen. A file left half written is removed.
bool writeNewFile(const std::string& path, const qn::update::Bytes& bytes, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        std::cerr << "update-packager: cannot create " << path << ": " << std::strerror(errno)
                  << (errno == EEXIST ? " (an existing key is never replaced)" : "") << "\n";
        return false;
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        std::cerr << "update-packager: cannot write " << path << ": " << std::strerror(errno) << "\n";
        ::unlink(path.c_str());
    }
    return ok;
}

bool parseNumber(const char* text, unsigned long limit, unsigned long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && text[0] != '-' && value <= limit;
}

int usage() {
    std::cerr << "usage: update-packager keygen <private-key-out> <public-key-out>\n"
                 "       update-packager build <private-key> <version> <source-folder> <target-folder> [<variant>]\n";
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
        if (!writeNewFile(argv[2], privateKey, 0600)) return 1;
        if (!writeNewFile(argv[3], publicKey, 0644)) {
            // A private key without its public half is of no use to anyone.
            ::unlink(argv[2]);
            return 1;
        }
        return 0;
    }
    if (command == "build" && (argc == 6 || argc == 7)) {
        qn::update::Bytes privateKey, publicKey;
        if (!readKey(argv[2], privateKey) || !qn::update::publicKeyOf(privateKey, publicKey)) {
            std::cerr << "update-packager: " << argv[2] << " is not a private key\n";
            return 1;
        }
        unsigned long version = 0, variant = tesel::QN_PLUGIN;
        if (!parseNumber(argv[3], 0xFFFFFFFFul, version)) return usage();
        if (argc == 7 && (!parseNumber(argv[6], tesel::QN_PLUGIN, variant) || variant == tesel::QN_UNSPECIFIED))
            return usage();
        CUpdateQn builder;
        builder.setType(static_cast<tesel::eQuorinType>(variant));
        builder.setSigningKey(privateKey);
        if (builder.createUpdatePackage(argv[4], argv[5], static_cast<unsigned>(version)) != 0) {
            std::cerr << "update-packager: cannot build the package from " << argv[4] << "\n";
            return 1;
        }
        return 0;
    }
    return usage();
}
