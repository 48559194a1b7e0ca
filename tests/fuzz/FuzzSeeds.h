// Seeds made by the real code at start-up: a fuzz target writes them into
// the folder named by PELLAMO_FUZZ_SEEDS (its writable corpus, which
// libFuzzer reads after the target's initialisation).
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

#include "core/CBlob.h"

namespace fuzz_seeds {

inline void write(const std::string& name, const unsigned char* data, std::size_t size) {
    const char* dir = std::getenv("PELLAMO_FUZZ_SEEDS");
    if (dir == nullptr || *dir == '\0') return;
    std::ofstream out(std::string(dir) + "/seed-" + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline void write(const std::string& name, const tesel::CBlob& blob) {
    write(name, blob.getData(), blob.getSize());
}

// A seed with a leading mode byte.
inline void write(const std::string& name, unsigned char mode, const tesel::CBlob& blob) {
    std::string bytes(1, static_cast<char>(mode));
    bytes.append(reinterpret_cast<const char*>(blob.getData()), blob.getSize());
    write(name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

}  // namespace fuzz_seeds
