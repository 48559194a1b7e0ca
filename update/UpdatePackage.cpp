#include "update/UpdatePackage.h"

#include "errors/eErrCodes.h"

using tesel::CBlob;

namespace qn::update {

std::string partFileName(unsigned k) { return kPartPrefix + std::to_string(k); }

bool isBareFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

int readPackageInfo(CBlob info, std::vector<std::string>& names) {
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
    for (const std::string& name : read) {
        if (!isBareFileName(name)) return ERR_UPDATE_FAILED;
    }
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
