// The answer of the service's `GET /status`: what a page needs to know about
// the program before it sends commands.
#pragma once

#include <string>

namespace service_status {

// {"product":"Pellamo","version":"1.01.276","variant":"plugin",
//  "listen":"ws://127.0.0.1:3000","transportServer":true} for the given
// listen address and port; transportServer tells whether the settings name a
// transport server.
std::string statusJson(const std::string& listenAddress, unsigned port, bool transportServer);

// The same for this run: the deployment's listen address, the plugin port
// and the current settings.
std::string currentStatusJson();

}  // namespace service_status
