#include "platform/sockets.h"

namespace platform {

// Here the option only lifts the TIME_WAIT block; a port that another
// socket listens on is still refused.
bool rebindNeedsAddressReuse() {
    return true;
}

}  // namespace platform
