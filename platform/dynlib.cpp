#include "platform/dynlib.h"

namespace platform {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

ModuleName classifyModuleName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return ModuleName::OtherPath;
    }
    // "\\server\share\..." (or with slashes): a network path.
    if (name.size() > 2 && isSeparator(name[0]) && isSeparator(name[1]) && !isSeparator(name[2])) {
        return ModuleName::FullPath;
    }
    if (name.size() > 2 && isLetter(name[0]) && name[1] == ':' && isSeparator(name[2])) {
        return ModuleName::FullPath;
    }
    // Any separator, or a colon ("C:m.dll" is relative to drive C's current
    // folder), makes a path.
    for (char c : name) {
        if (isSeparator(c) || c == ':') {
            return ModuleName::OtherPath;
        }
    }
    return ModuleName::Bare;
}

}  // namespace platform
