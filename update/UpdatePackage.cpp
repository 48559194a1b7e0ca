#include "update/UpdatePackage.h"

#include <algorithm>

#include "errors/eErrCodes.h"
#include "update/UpdateSignature.h"

using tesel::CBlob;

namespace qn::update {

std::string partFileName(unsigned k) { return kPartPrefix + std::to_string(k); }

namespace {

std::string upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Windows opens these as devices whatever the folder and extension.
bool isDeviceName(const std::string& name) {
    std::string base = upper(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
        base == "CONOUT$")
        return true;
    if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0) return false;
    const std::string number = base.substr(3);
    if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
    // Superscript one, two and three count as the digits: in UTF-8
    // (C2 B9, C2 B2, C2 B3) and in the Western code page (B9, B2, B3).
    if (number.empty() || number.size() > 2) return false;
    const unsigned char last = static_cast<unsigned char>(number.back());
    const bool superscript = last == 0xB9 || last == 0xB2 || last == 0xB3;
    return superscript && (number.size() == 1 || static_cast<unsigned char>(number[0]) == 0xC2);
}

}  // namespace

bool isBareFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    }
    if (name.find_first_of("/\\:<>\"|?*") != std::string::npos) return false;
    if (name.back() == '.' || name.back() == ' ') return false;
    if (isDeviceName(name)) return false;
    return !endsWith(upper(name), upper(kStagedSuffix));
}

int readPackageInfo(CBlob info, std::vector<std::string>& names, unsigned* listSize) {
    if (info.getSize() > kMaxInfoSize) return ERR_UNKNOWN_HEADER;
    info.moveOffset(0);
    unsigned count = 0;
    info >> count;
    if (info.isMalformed() || count > kMaxPackageFiles + 1) return ERR_UNKNOWN_HEADER;
    std::vector<std::string> read;
    // A count of 0 lists no files, like a count of 1.
    for (unsigned k = 1; k < count; ++k) {
        std::string name;
        info >> &name;
        if (info.isMalformed()) return ERR_UNKNOWN_HEADER;
        read.push_back(std::move(name));
    }
    std::vector<std::string> seen;
    for (const std::string& name : read) {
        if (name.size() > kMaxNameSize || !isBareFileName(name)) return ERR_UPDATE_FAILED;
        seen.push_back(upper(name));
    }
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) return ERR_UPDATE_FAILED;
    if (listSize != nullptr) *listSize = info.getOffset();
    names = std::move(read);
    return ERR_OK;
}

int readSignedPackageInfo(const CBlob& info, tesel::eQuorinType type, unsigned version,
                          const std::vector<unsigned char>& key, bool acceptUnsigned,
                          std::vector<std::string>& names) {
    const unsigned size = info.getSize();
    if (size > kMaxInfoSize) return ERR_UNKNOWN_HEADER;
    const unsigned char* data = info.getData();
    if (size >= kSignatureSize + CBlob::sizeOfInt()) {
        const unsigned signedSize = size - kSignatureSize;
        unsigned char digest[kDigestSize];
        listDigest(type, version, data, signedSize, digest);
        if (verifyDigest(key, digest, data + signedSize)) {
            std::vector<std::string> read;
            unsigned used = 0;
            const int result = readPackageInfo(CBlob(data, signedSize), read, &used);
            if (result != ERR_OK) return result;
            // Signed bytes that are more than the list are not a list the builder made.
            if (used != signedSize) return ERR_UNKNOWN_HEADER;
            names = std::move(read);
            return ERR_OK;
        }
    }
    if (!acceptUnsigned) return ERR_UPDATE_FAILED;
    std::vector<std::string> read;
    unsigned used = 0;
    const int result = readPackageInfo(info, read, &used);
    if (result != ERR_OK) return result;
    // A signature that is there must verify, even where unsigned lists pass;
    // other bytes behind the list are left alone, as older agents did.
    const unsigned char* trailer = data + used;
    if (size - used == kSignatureSize &&
        std::any_of(trailer, trailer + kSignatureSize, [](unsigned char c) { return c != 0; }))
        return ERR_UPDATE_FAILED;
    names = std::move(read);
    return ERR_OK;
}

CBlob writePackageInfo(const std::vector<std::string>& names) {
    unsigned size = CBlob::sizeOfInt();
    for (const std::string& name : names) size += CBlob::sizeOf(name);
    CBlob info(size);
    info << static_cast<unsigned>(names.size() + 1);
    for (const std::string& name : names) info << name;
    info.moveOffset(0);
    return info;
}

}  // namespace qn::update
