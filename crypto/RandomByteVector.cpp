#include "crypto/RandomByteVector.h"

#include <random>

namespace qn::crypto {

RandomByteVector::RandomByteVector(unsigned count, tesel::CBlob& out) {
    std::random_device device;
    std::mt19937 engine(static_cast<std::mt19937::result_type>(device()));
    if (count == 0) {
        out.clear();
        return;
    }
    out.allocate(count);
    for (unsigned i = 0; i < count; ++i) {
        std::uint32_t r = 0;
        do {
            r = static_cast<std::uint32_t>(engine());
        } while (r >= 0xFFFFFF00u);
        out[i] = static_cast<unsigned char>(r / 0xFFFFFFu);
    }
}

}  // namespace qn::crypto
