#include "app/Deployment.h"

#include <cstdlib>

#if !defined(PELLAMO_DEFAULT_TRANSPORT_HOST) || !defined(PELLAMO_CABINET_URL) || \
    !defined(PELLAMO_ALLOWED_ORIGINS) || !defined(PELLAMO_LISTEN_ADDRESS)
#error "the build defines PELLAMO_DEFAULT_TRANSPORT_HOST, PELLAMO_CABINET_URL, PELLAMO_ALLOWED_ORIGINS and PELLAMO_LISTEN_ADDRESS"
#endif

namespace deployment {

const char* defaultTransportHost() { return PELLAMO_DEFAULT_TRANSPORT_HOST; }

const char* cabinetWebAddress() { return PELLAMO_CABINET_URL; }

std::string allowedOrigins() {
    const char* fromEnvironment = std::getenv("PELLAMO_ALLOWED_ORIGINS");
    return fromEnvironment != nullptr ? fromEnvironment : PELLAMO_ALLOWED_ORIGINS;
}

std::string listenAddress() {
    const char* fromEnvironment = std::getenv("PELLAMO_LISTEN_ADDRESS");
    return fromEnvironment != nullptr && *fromEnvironment != '\0' ? fromEnvironment : PELLAMO_LISTEN_ADDRESS;
}

}  // namespace deployment
