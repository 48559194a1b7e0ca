#include "platform/peerowner.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace platform {

namespace {

// An endpoint as the kernel's TCP tables print it: each 32-bit word of the
// address as the native-order integer in hex, then ':' and the port in hex.
std::string procForm(const unsigned char* address, std::size_t size, unsigned short port) {
    std::string out;
    char word[9];
    for (std::size_t i = 0; i < size; i += 4) {
        std::uint32_t value;
        std::memcpy(&value, address + i, 4);
        std::snprintf(word, sizeof word, "%08X", static_cast<unsigned>(value));
        out += word;
    }
    char portText[6];
    std::snprintf(portText, sizeof portText, "%04X", static_cast<unsigned>(port));
    return out + ":" + portText;
}

struct Candidate {
    const char* table;
    std::string peerEnd;  // the peer socket's own end
    std::string ourEnd;   // its far end: our socket
};

bool mappedV4(const TcpEndpoint& e) {
    if (!e.v6) return false;
    for (int i = 0; i < 10; ++i)
        if (e.address[i] != 0) return false;
    return e.address[10] == 0xff && e.address[11] == 0xff;
}

// Compares the hex columns without regard to case.
bool sameColumn(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Looks for the peer's row in one table; true with its uid when found.
bool findOwner(const Candidate& c, unsigned long& uid) {
    std::ifstream in(c.table);
    std::string line;
    if (!in || !std::getline(in, line)) return false;  // the heading
    while (std::getline(in, line)) {
        std::istringstream columns(line);
        std::string slot, localEnd, remoteEnd, state, queues, timer, retransmits, owner;
        if (!(columns >> slot >> localEnd >> remoteEnd >> state >> queues >> timer >> retransmits >> owner))
            continue;
        if (!sameColumn(localEnd, c.peerEnd) || !sameColumn(remoteEnd, c.ourEnd)) continue;
        char* end = nullptr;
        const unsigned long value = std::strtoul(owner.c_str(), &end, 10);
        if (end == owner.c_str() || *end != '\0') return false;
        uid = value;
        return true;
    }
    return false;
}

}  // namespace

PeerOwner loopbackPeerOwner(const TcpEndpoint& local, const TcpEndpoint& remote) {
    std::vector<Candidate> candidates;
    if (!local.v6 && !remote.v6) {
        candidates.push_back({"/proc/net/tcp", procForm(remote.address, 4, remote.port),
                              procForm(local.address, 4, local.port)});
    } else {
        candidates.push_back({"/proc/net/tcp6", procForm(remote.address, 16, remote.port),
                              procForm(local.address, 16, local.port)});
        // A client's IPv4 socket reaches a dual-stack listener as a mapped
        // address; the client's own row is then in the IPv4 table.
        if (mappedV4(local) && mappedV4(remote))
            candidates.push_back({"/proc/net/tcp", procForm(remote.address + 12, 4, remote.port),
                                  procForm(local.address + 12, 4, local.port)});
    }
    for (const auto& candidate : candidates) {
        unsigned long uid = 0;
        if (findOwner(candidate, uid))
            return uid == static_cast<unsigned long>(::geteuid()) ? PeerOwner::SameUser : PeerOwner::OtherUser;
    }
    return PeerOwner::Unknown;
}

void makeListenerExclusive(std::uintptr_t) {}

}  // namespace platform
