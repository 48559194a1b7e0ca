#include "update/UpdatePackage.h"

#include <algorithm>

#include "errors/eErrCodes.h"

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
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '0' && base[3] <= '9';
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
    info.moveOffset(0);
    unsigned count = 0;
    info >> count;
    if (info.isMalformed()) return ERR_UNKNOWN_HEADER;
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
        if (!isBareFileName(name)) return ERR_UPDATE_FAILED;
        seen.push_back(upper(name));
    }
    std::sort(seen.begin(), seen.end());
    if (std::adjacent_find(seen.begin(), seen.end()) != seen.end()) return ERR_UPDATE_FAILED;
    if (listSize != nullptr) *listSize = info.getOffset();
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
