// Values that belong to a deployment rather than to the code: the CA's
// transport server, the web address of its personal cabinet and who may
// connect to the local service. They are set when the program is built (CMake
// cache variables PELLAMO_DEFAULT_TRANSPORT_HOST, PELLAMO_CABINET_URL,
// PELLAMO_ALLOWED_ORIGINS and PELLAMO_LISTEN_ADDRESS).
#pragma once

#include <string>

namespace deployment {

// Host of the CA's transport server used until the settings name another.
const char* defaultTransportHost();
inline constexpr unsigned kDefaultTransportPort = 9200;

// Shown in the settings dialog.
const char* cabinetWebAddress();

// The web origins allowed to open the local service, separated by blanks:
// the environment variable PELLAMO_ALLOWED_ORIGINS when it is set (even
// empty: then no page may connect), else the build's value.
std::string allowedOrigins();

// The address the local service listens on: PELLAMO_LISTEN_ADDRESS when set
// and not empty, else the build's value (127.0.0.1 unless configured).
std::string listenAddress();

}  // namespace deployment
