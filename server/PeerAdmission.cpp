#include "server/PeerAdmission.h"

#include <cstdio>

namespace peer_admission {

namespace {

// How much of a refused origin the error stream shows.
constexpr std::size_t kShownOriginLimit = 256;

std::string endpointText(const platform::TcpEndpoint& e) {
    char text[64];
    if (!e.v6) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", e.address[0], e.address[1], e.address[2], e.address[3],
                      static_cast<unsigned>(e.port));
        return text;
    }
    std::string out = "[";
    for (int i = 0; i < 16; i += 2) {
        std::snprintf(text, sizeof text, "%s%x", i == 0 ? "" : ":", (e.address[i] << 8) | e.address[i + 1]);
        out += text;
    }
    return out + "]:" + std::to_string(e.port);
}

}  // namespace

std::string refusalWithoutOrigin(const platform::TcpEndpoint& local, const platform::TcpEndpoint& remote) {
    const std::string prefix = "connection without origin refused: " + endpointText(remote);
    if (!platform::isLoopback(remote)) return prefix + " is not on this machine";
    switch (platform::loopbackPeerOwner(local, remote)) {
    case platform::PeerOwner::SameUser:
        return {};
    case platform::PeerOwner::OtherUser:
        return prefix + " belongs to another user";
    case platform::PeerOwner::Unknown:
        break;
    }
    return prefix + " has no owner that can be found";
}

std::string refusedOriginLine(std::string_view origin) {
    std::string line = "origin refused: ";
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::size_t i = 0; i < origin.size() && i < kShownOriginLimit; ++i) {
        const auto c = static_cast<unsigned char>(origin[i]);
        if (c < 0x20 || c >= 0x7f || c == '\\') {
            line += "\\x";
            line += kHex[c >> 4];
            line += kHex[c & 0xf];
        } else {
            line += static_cast<char>(c);
        }
    }
    if (origin.size() > kShownOriginLimit) line += "...";
    return line;
}

void report(const std::string& line) {
    const std::string whole = line + "\n";
    // One write per line, so that lines of different threads never interleave.
    std::fwrite(whole.data(), 1, whole.size(), stderr);
    // The Windows C runtime buffers stderr when it is a pipe or a file.
    std::fflush(stderr);
}

}  // namespace peer_admission
