// Values that belong to a deployment rather than to the code: the CA's
// transport server, the web address of its personal cabinet and who may
// connect to the local service. They are set when the program is built (CMake
// cache variables PELLAMO_DEFAULT_TRANSPORT_HOST, PELLAMO_CABINET_URL,
// PELLAMO_ALLOWED_ORIGINS, PELLAMO_LISTEN_ADDRESS and PELLAMO_CA_CERT_SHA256).
#pragma once

#include <string>
#include <vector>

#include "core/Sha256.h"

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

// The SHA-256 fingerprints of the CA certificates the transport server may
// serve: PELLAMO_CA_CERT_SHA256 when set (even empty), else the build's
// value.
std::string caCertFingerprintsText();

// Reads fingerprints written as 64 hex digits each (either case), separated
// by blanks, tabs, newlines or commas. False, with message naming the first
// bad item, for anything else; an empty text gives an empty list.
bool parseFingerprints(const std::string& text, std::vector<tesel::Sha256Digest>& out, std::string& message);

// The trusted CA fingerprints of this run (caCertFingerprintsText parsed).
// False with an error message when the value is malformed: the program must
// not start. True with a warning message when it is empty (every CA
// certificate the server sends is accepted), true with an empty message
// otherwise.
bool trustedCAFingerprints(std::vector<tesel::Sha256Digest>& out, std::string& message);

}  // namespace deployment
