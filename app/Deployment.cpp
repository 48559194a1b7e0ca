#include "app/Deployment.h"

#if !defined(PELLAMO_DEFAULT_TRANSPORT_HOST) || !defined(PELLAMO_CABINET_URL)
#error "the build defines PELLAMO_DEFAULT_TRANSPORT_HOST and PELLAMO_CABINET_URL"
#endif

namespace deployment {

const char* defaultTransportHost() { return PELLAMO_DEFAULT_TRANSPORT_HOST; }

const char* cabinetWebAddress() { return PELLAMO_CABINET_URL; }

}  // namespace deployment
