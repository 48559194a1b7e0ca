// Who may use the service without naming a web origin, and how refusals are
// reported: one line on the standard error stream per refused connection.
#pragma once

#include <string>
#include <string_view>

#include "platform/peerowner.h"

namespace peer_admission {

// Empty when a client without an Origin header at `remote` may be served by
// the service at `local`; otherwise why not, as the rest of a line.
std::string refusalWithoutOrigin(const platform::TcpEndpoint& local, const platform::TcpEndpoint& remote);

// "origin refused: <origin>", with bytes that could break the line or the
// terminal shown as \xNN and an overlong origin cut.
std::string refusedOriginLine(std::string_view origin);

// Writes one line (a newline is added) to the standard error stream at once.
void report(const std::string& line);

}  // namespace peer_admission
