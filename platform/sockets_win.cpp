#include "platform/sockets.h"

namespace platform {

// Binding is never blocked by closed connections here, and the option would
// let another program share a port that is in use.
bool rebindNeedsAddressReuse() {
    return false;
}

}  // namespace platform
