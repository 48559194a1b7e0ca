// The parts of certificate decoding that need no decoder library, for both
// systems.
#include "softgost/provider/CertParse.h"

#include "softgost/gost/GostParams.h"

namespace plcsp {

bool gostKeyValue(const Bytes& spkiKey, Bytes& value) {
    DerTlv octets;
    if (!readTlv(spkiKey.data(), spkiKey.size(), octets) || octets.tag != 0x04 ||
        octets.headerLength + octets.length != spkiKey.size()) {
        return false;
    }
    value.assign(octets.content, octets.content + octets.length);
    return true;
}

std::size_t derLengthFromHeader(const unsigned char* p) {
    if (!p || p[0] != 0x30) {
        return 0;
    }
    std::size_t len = p[1];
    std::size_t hdr = 2;
    if (len & 0x80) {
        const std::size_t nbytes = len & 0x7F;
        if (nbytes == 0 || nbytes > 3) {
            return 0;
        }
        len = 0;
        for (std::size_t i = 0; i < nbytes; ++i) {
            len = (len << 8) | p[2 + i];
        }
        hdr += nbytes;
    }
    return hdr + len;
}

}  // namespace plcsp
