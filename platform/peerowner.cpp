#include "platform/peerowner.h"

namespace platform {

bool isLoopback(const TcpEndpoint& endpoint) {
    const unsigned char* a = endpoint.address;
    if (!endpoint.v6) return a[0] == 127;
    // ::ffff:127.x.y.z
    bool mappedPrefix = a[10] == 0xff && a[11] == 0xff;
    for (int i = 0; i < 10 && mappedPrefix; ++i) mappedPrefix = a[i] == 0;
    if (mappedPrefix) return a[12] == 127;
    // ::1
    for (int i = 0; i < 15; ++i)
        if (a[i] != 0) return false;
    return a[15] == 1;
}

}  // namespace platform
