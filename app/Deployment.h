// Values that belong to a deployment rather than to the code: the CA's
// transport server and the web address of its personal cabinet. They are set
// when the program is built (CMake cache variables PELLAMO_DEFAULT_TRANSPORT_HOST
// and PELLAMO_CABINET_URL).
#pragma once

namespace deployment {

// Host of the CA's transport server used until the settings name another.
const char* defaultTransportHost();
inline constexpr unsigned kDefaultTransportPort = 9200;

// Shown in the settings dialog.
const char* cabinetWebAddress();

}  // namespace deployment
