// The demo cabinet's static files, served by the peer under /demo/ so that
// the page posts its packets to the CA on its own origin.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Endpoints.h"

namespace capeer {

// The answer for a GET or HEAD of /demo or /demo/...: the file from the
// first of folders that has it (index.html for a folder), a redirect from /demo to /demo/, 404 otherwise.
// Empty when the target is not under /demo. Targets with "..", a backslash,
// a zero byte or a percent escape in their path are refused with 404.
std::optional<HttpAnswer> serveDemo(const std::vector<std::string>& folders, const std::string& method,
                                    const std::string& target);

}  // namespace capeer
