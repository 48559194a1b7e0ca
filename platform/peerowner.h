// Who is at the other end of a TCP connection this process accepted, for
// clients that name no web origin (local programs, not pages): the service
// serves them only when they run as the same operating-system user.
#pragma once

#include <cstdint>

#include "core/export.h"

namespace platform {

// One end of a TCP connection: 4 (IPv4) or 16 (IPv6) address bytes in
// network order and the port in host order.
struct TcpEndpoint {
    unsigned char address[16] = {};
    bool v6 = false;
    unsigned short port = 0;
};

enum class PeerOwner {
    SameUser,   // the peer's socket belongs to a process of this user
    OtherUser,  // it belongs to another user
    Unknown,    // no socket with these ends was found, or its owner cannot be read
};

// True for 127.0.0.0/8, ::1 and IPv4-mapped 127.0.0.0/8.
UPD_QN_API bool isLoopback(const TcpEndpoint& endpoint);

// The owner of the peer's socket of an accepted connection: the socket whose
// own end is `remote` and whose far end is `local`. Linux reads the kernel's
// TCP tables (/proc/net/tcp, tcp6); Windows reads the owning process of the
// connection and that process's user.
UPD_QN_API PeerOwner loopbackPeerOwner(const TcpEndpoint& local, const TcpEndpoint& remote);

// Applied to a listening socket before it is bound. On Windows it binds the
// port exclusively, so that no program of another user can bind the same
// port over it; elsewhere a port in use is never shared and nothing is done.
UPD_QN_API void makeListenerExclusive(std::uintptr_t nativeSocket);

}  // namespace platform
