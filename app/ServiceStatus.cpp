#include "app/ServiceStatus.h"

#include <cstdio>

#include "app/Deployment.h"
#include "app/Settings.h"
#include "core/AppInfo.h"
#include "server/CWebSocketServer.h"

namespace service_status {

namespace {

// A JSON string: quotes, backslashes and control bytes escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

}  // namespace

std::string statusJson(const std::string& listenAddress, unsigned port, bool transportServer) {
    // An IPv6 address is written in brackets in a URL.
    const bool v6 = listenAddress.find(':') != std::string::npos;
    const std::string listen = "ws://" + (v6 ? "[" + listenAddress + "]" : listenAddress) + ":" + std::to_string(port);
    return "{\"product\":\"Pellamo\",\"version\":" + quoted(tesel::getAppVersion()) +
           ",\"variant\":\"plugin\",\"listen\":" + quoted(listen) +
           ",\"transportServer\":" + (transportServer ? "true" : "false") + "}";
}

std::string currentStatusJson() {
    return statusJson(deployment::listenAddress(), getPluginPort(), !getTransportServerAddress().host.empty());
}

}  // namespace service_status
