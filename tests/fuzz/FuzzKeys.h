// Real keys for the packet and key blob fuzz targets: the software
// provider's containers in a folder of this process, a "user" key and a "CA"
// key of GOST R 34.10-2012/256, each paired with the other.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "crypto/Crypto1By1Connect.h"

namespace fuzz_keys {

using qn::crypto::Crypto1By1Connect;

struct Keys {
    std::unique_ptr<Crypto1By1Connect> user;
    std::unique_ptr<Crypto1By1Connect> ca;
    tesel::CBlob userPublic;
    tesel::CBlob caPublic;
};

inline std::unique_ptr<Crypto1By1Connect> newKey(const std::string& name) {
    Crypto1By1Connect* raw = nullptr;
    if (Crypto1By1Connect::create(name, qn::crypto::CP_CRYPTOPRO_GOST2012_256, &raw) != 0) __builtin_trap();
    return std::unique_ptr<Crypto1By1Connect>(raw);
}

inline Keys& keys() {
    static Keys* k = [] {
        const auto dir = std::filesystem::temp_directory_path() / ("pellamo-fuzz-csp-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        setenv("PELLAMO_CSP_DIR", dir.c_str(), 1);
        auto* made = new Keys{newKey("fuzz-user"), newKey("fuzz-ca"), {}, {}};
        if (made->user->getPublicKey(made->userPublic) != 0 || made->ca->getPublicKey(made->caPublic) != 0 ||
            made->user->importPublicKey2Side(made->caPublic) != 0 ||
            made->ca->importPublicKey2Side(made->userPublic) != 0)
            __builtin_trap();
        return made;
    }();
    return *k;
}

}  // namespace fuzz_keys
