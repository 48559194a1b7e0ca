// libFuzzer target for the update package list (updateinfo.dat) as the agent
// takes it: the reader alone, and the reader behind the signature check.
// The first input byte picks how the rest is used:
//   even: the bytes as the server sent them;
//   odd:  list bytes that the harness signs (for the program, variant 4),
//         so that lists behind a valid signature are explored too.
// Any bytes are refused with 6 or 78 and hand out nothing, or give at most
// 1,024 bare, distinct names of at most 255 bytes that the writer puts back
// as the very bytes they were read from; a list is only taken when its
// signature verifies for this variant and version (or, where unsigned lists
// are allowed, when it carries no signature at all).
#include <algorithm>
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
constexpr tesel::eQuorinType kType = tesel::QN_PLUGIN;

tesel::CBlob signedBytes(const unsigned char* list, unsigned size) {
    unsigned char digest[qn::update::kDigestSize], signature[qn::update::kSignatureSize];
    qn::update::listDigest(kType, kVersion, list, size, digest);
    qn::update::signDigest(g_private, digest, signature);
    tesel::CBlob out(size + qn::update::kSignatureSize);
    out.serialize(list, size);
    out.serialize(signature, qn::update::kSignatureSize);
    return out;
}

tesel::CBlob withMode(unsigned char mode, const tesel::CBlob& body) {
    tesel::CBlob out(1 + body.getSize());
    out.serialize(&mode, 1);
    out.serialize(body.getData(), body.getSize());
    return out;
}

void trap(bool fault) {
    if (fault) __builtin_trap();
}

// The reader's promises for any bytes.
void checkReader(const std::uint8_t* data, std::size_t size) {
    const tesel::CBlob info(data, static_cast<unsigned>(size));
    std::vector<std::string> names{"untouched"};
    unsigned listSize = 0xFFFFFFFFu;
    const int r = qn::update::readPackageInfo(info, names, &listSize);
    if (r != ERR_OK) {
        trap((r != ERR_UNKNOWN_HEADER && r != ERR_UPDATE_FAILED) || names != std::vector<std::string>{"untouched"});
        return;
    }
    trap(listSize > size || size > qn::update::kMaxInfoSize || names.size() > qn::update::kMaxPackageFiles);
    std::set<std::string> seen;
    for (const std::string& n : names) {
        trap(!qn::update::isBareFileName(n) || n.size() > qn::update::kMaxNameSize || !seen.insert(n).second);
    }
    const tesel::CBlob written = qn::update::writePackageInfo(names);
    // A count of 0 reads like 1: it is the one list that writes back otherwise.
    const bool countZero = size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 0;
    trap(!countZero && (written.getSize() != listSize || std::memcmp(written.getData(), data, listSize) != 0));
}

bool verifies(const unsigned char* data, std::size_t size, tesel::eQuorinType type, unsigned version) {
    if (size < qn::update::kSignatureSize) return false;
    const std::size_t listSize = size - qn::update::kSignatureSize;
    unsigned char digest[qn::update::kDigestSize];
    qn::update::listDigest(type, version, data, listSize, digest);
    return qn::update::verifyDigest(g_public, digest, data + listSize);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!qn::update::generateSigningKey(g_private, g_public)) __builtin_trap();
    const tesel::CBlob list = qn::update::writePackageInfo({"pellamo.exe", "upd_qn.dll", "readme.txt"});
    fuzz_seeds::write("list-signed", withMode(0, signedBytes(list.getData(), list.getSize())));
    fuzz_seeds::write("list-to-sign", withMode(1, list));
    const tesel::CBlob empty = qn::update::writePackageInfo({});
    fuzz_seeds::write("list-empty", withMode(0, signedBytes(empty.getData(), empty.getSize())));
    fuzz_seeds::write("list-unsigned", withMode(2, qn::update::writePackageInfo({"a", "b"})));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 17)) return 0;
    const bool harnessSigns = (data[0] & 1) != 0;
    const tesel::CBlob info = harnessSigns ? signedBytes(data + 1, static_cast<unsigned>(size - 1))
                                           : tesel::CBlob(data + 1, static_cast<unsigned>(size - 1));
    const unsigned char* bytes = info.getData();
    const std::size_t length = info.getSize();
    checkReader(bytes, length);

    // Whether the trailer is this variant's and version's signature, once.
    const bool signedList = verifies(bytes, length, kType, kVersion);
    if (signedList)
        trap(verifies(bytes, length, tesel::QN_CLIENT, kVersion) || verifies(bytes, length, kType, kVersion + 1));
    for (const bool acceptUnsigned : {false, true}) {
        std::vector<std::string> names{"untouched"};
        const int r = qn::update::readSignedPackageInfo(info, kType, kVersion, g_public, acceptUnsigned, names);
        if (r != ERR_OK) {
            trap((r != ERR_UNKNOWN_HEADER && r != ERR_UPDATE_FAILED) || names != std::vector<std::string>{"untouched"});
            continue;
        }
        trap(length > qn::update::kMaxInfoSize);
        // Taken without the unsigned switch: only behind a valid signature,
        // which holds for this variant and version alone.
        trap(!acceptUnsigned && !signedList);
        if (signedList) {
            std::vector<std::string> read;
            unsigned used = 0;
            const tesel::CBlob list(bytes, static_cast<unsigned>(length - qn::update::kSignatureSize));
            trap(qn::update::readPackageInfo(list, read, &used) != ERR_OK || read != names ||
                 used != length - qn::update::kSignatureSize);
        } else {
            // Unsigned: a 64-byte trailer behind the list is all zeros.
            std::vector<std::string> read;
            unsigned used = 0;
            trap(qn::update::readPackageInfo(info, read, &used) != ERR_OK || read != names);
            trap(length - used == qn::update::kSignatureSize &&
                 std::any_of(bytes + used, bytes + length, [](unsigned char c) { return c != 0; }));
        }
    }
    return 0;
}
