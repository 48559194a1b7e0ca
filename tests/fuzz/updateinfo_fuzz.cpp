// libFuzzer target for the update package list (updateinfo.dat) and its
// signature: any bytes are refused with 6 or 78, or give only bare, distinct
// names that the writer puts back as the very bytes they were read from; a
// trailer is a signature that must not verify unless the key made it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "errors/eErrCodes.h"
#include "FuzzSeeds.h"
#include "update/UpdatePackage.h"
#include "update/UpdateSignature.h"

namespace {

qn::update::Bytes g_private, g_public;
constexpr unsigned kVersion = 101277;

tesel::CBlob signedList(const std::vector<std::string>& names) {
    const tesel::CBlob list = qn::update::writePackageInfo(names);
    unsigned char digest[qn::update::kDigestSize], signature[qn::update::kSignatureSize];
    qn::update::listDigest(kVersion, list.getData(), list.getSize(), digest);
    qn::update::signDigest(g_private, digest, signature);
    tesel::CBlob out(list.getSize() + qn::update::kSignatureSize);
    out.serialize(list.getData(), list.getSize());
    out.serialize(signature, qn::update::kSignatureSize);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!qn::update::generateSigningKey(g_private, g_public)) __builtin_trap();
    fuzz_seeds::write("list-signed", signedList({"pellamo.exe", "upd_qn.dll", "readme.txt"}));
    fuzz_seeds::write("list-empty", signedList({}));
    fuzz_seeds::write("list-unsigned", qn::update::writePackageInfo({"a", "b"}));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    const tesel::CBlob info(data, static_cast<unsigned>(size));
    std::vector<std::string> names{"untouched"};
    unsigned listSize = 0xFFFFFFFFu;
    const int r = qn::update::readPackageInfo(info, names, &listSize);
    if (r != ERR_OK) {
        if ((r != ERR_UNKNOWN_HEADER && r != ERR_UPDATE_FAILED) || names != std::vector<std::string>{"untouched"})
            __builtin_trap();
        return 0;
    }
    if (listSize > size) __builtin_trap();
    std::set<std::string> seen;
    for (const std::string& n : names) {
        if (!qn::update::isBareFileName(n) || n.find('/') != std::string::npos || !seen.insert(n).second)
            __builtin_trap();
    }
    const tesel::CBlob written = qn::update::writePackageInfo(names);
    // A count of 0 reads like 1: it is the one list that writes back otherwise.
    const bool countZero = size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 0;
    if (!countZero && (written.getSize() != listSize || std::memcmp(written.getData(), data, listSize) != 0))
        __builtin_trap();

    if (size - listSize == qn::update::kSignatureSize) {
        unsigned char digest[qn::update::kDigestSize];
        qn::update::listDigest(kVersion, data, listSize, digest);
        const bool verifies = qn::update::verifyDigest(g_public, digest, data + listSize);
        if (verifies) {
            // The signature binds the version too.
            unsigned char d2[qn::update::kDigestSize];
            qn::update::listDigest(kVersion + 1, data, listSize, d2);
            if (qn::update::verifyDigest(g_public, d2, data + listSize)) __builtin_trap();
        }
    }
    return 0;
}
