// The two outside services of the card lookups: the legal-entity register
// and the address classifier, each a process-wide HTTP connection, and the
// classifier's access token.
//
// Their addresses and the token are deployment values (set when the program
// is built), which the environment may replace for one run:
//   PELLAMO_REGISTRY_ADDRESS, PELLAMO_CLASSIFIER_ADDRESS  http://host:port or https://host:port
//   PELLAMO_CLASSIFIER_TOKEN                             24 lower-case hexadecimal digits
// The environment is read once, during static initialisation; a value that
// does not have that form is reported on the standard error stream and the
// built-in value is kept.
#pragma once

#include <string>

#include "transport/common/CHttpConnection.h"

namespace qn::http_transport {

inline constexpr unsigned kClassifierTokenLength = 24;

CHttpConnection& getRegistryServer();
CHttpConnection& getClassifierServer();
const std::string& getClassifierToken();

// Splits "http://host:port" / "https://host:port" into the connection's base
// URL (scheme and host) and port. False, with both left alone, for anything
// else: another scheme, no host, a path, or a port outside 1 to 65535.
bool parseServiceAddress(const std::string& address, std::string& host, unsigned& port);

// 24 characters 0-9 a-f.
bool isClassifierToken(const std::string& token);

// Text as it goes into a URL's query. Bytes pass unchanged (UTF-8 included)
// except those libcurl refuses in a URL (blank and control bytes) and those
// that would change the URL's meaning ('#', '%', '&', '+'), which are
// percent-encoded.
std::string urlQueryText(const std::string& text);

}  // namespace qn::http_transport
