#include "platform/peerowner.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>
#include <memory>
#include <vector>

namespace platform {

namespace {

// The whole table of one address family with the owning process of each
// connection; empty when it cannot be read.
std::vector<unsigned char> connectionTable(ULONG family) {
    std::vector<unsigned char> table;
    DWORD size = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD status = GetExtendedTcpTable(table.empty() ? nullptr : table.data(), &size, FALSE, family,
                                                 TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        if (status == NO_ERROR) return table;
        if (status != ERROR_INSUFFICIENT_BUFFER) break;
        table.assign(size + 1024, 0);  // connections may appear between the calls
        size = static_cast<DWORD>(table.size());
    }
    return {};
}

// Table ports keep the network-order value in the low 16 bits.
unsigned short tablePort(DWORD value) {
    return ntohs(static_cast<u_short>(value & 0xffffu));
}

bool findOwnerPid(const TcpEndpoint& local, const TcpEndpoint& remote, DWORD& pid) {
    if (!local.v6) {
        const auto table = connectionTable(AF_INET);
        if (table.size() < sizeof(DWORD)) return false;
        const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
        const std::size_t room = (table.size() - offsetof(MIB_TCPTABLE_OWNER_PID, table)) / sizeof(MIB_TCPROW_OWNER_PID);
        for (DWORD i = 0; i < rows->dwNumEntries && i < room; ++i) {
            const MIB_TCPROW_OWNER_PID& row = rows->table[i];
            if (std::memcmp(&row.dwLocalAddr, remote.address, 4) == 0 && tablePort(row.dwLocalPort) == remote.port &&
                std::memcmp(&row.dwRemoteAddr, local.address, 4) == 0 && tablePort(row.dwRemotePort) == local.port) {
                pid = row.dwOwningPid;
                return true;
            }
        }
        return false;
    }
    const auto table = connectionTable(AF_INET6);
    if (table.size() < sizeof(DWORD)) return false;
    const auto* rows = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(table.data());
    const std::size_t room = (table.size() - offsetof(MIB_TCP6TABLE_OWNER_PID, table)) / sizeof(MIB_TCP6ROW_OWNER_PID);
    for (DWORD i = 0; i < rows->dwNumEntries && i < room; ++i) {
        const MIB_TCP6ROW_OWNER_PID& row = rows->table[i];
        if (std::memcmp(row.ucLocalAddr, remote.address, 16) == 0 && tablePort(row.dwLocalPort) == remote.port &&
            std::memcmp(row.ucRemoteAddr, local.address, 16) == 0 && tablePort(row.dwRemotePort) == local.port) {
            pid = row.dwOwningPid;
            return true;
        }
    }
    if (local.address[10] == 0xff && local.address[11] == 0xff) {
        // An IPv4 client of a dual-stack listener.
        TcpEndpoint l4, r4;
        std::memcpy(l4.address, local.address + 12, 4);
        std::memcpy(r4.address, remote.address + 12, 4);
        l4.port = local.port;
        r4.port = remote.port;
        return findOwnerPid(l4, r4, pid);
    }
    return false;
}

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The user SID of a process's token, as bytes.
bool processUser(HANDLE process, std::vector<unsigned char>& sid) {
    HANDLE tokenHandle = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &tokenHandle)) return false;
    const Handle token(tokenHandle);
    DWORD size = 0;
    GetTokenInformation(tokenHandle, TokenUser, nullptr, 0, &size);
    if (size == 0 || size > 64 * 1024) return false;
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(tokenHandle, TokenUser, buffer.data(), size, &size)) return false;
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    if (!IsValidSid(user->User.Sid)) return false;
    const DWORD length = GetLengthSid(user->User.Sid);
    const auto* bytes = static_cast<const unsigned char*>(user->User.Sid);
    sid.assign(bytes, bytes + length);
    return true;
}

}  // namespace

PeerOwner loopbackPeerOwner(const TcpEndpoint& local, const TcpEndpoint& remote) {
    DWORD pid = 0;
    if (!findOwnerPid(local, remote, pid) || pid == 0) return PeerOwner::Unknown;
    std::vector<unsigned char> ours, theirs;
    if (!processUser(GetCurrentProcess(), ours)) return PeerOwner::Unknown;
    if (pid == GetCurrentProcessId()) return PeerOwner::SameUser;
    const Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    // A process of another user is usually not even opened.
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED ? PeerOwner::OtherUser : PeerOwner::Unknown;
    if (!processUser(process.get(), theirs)) return PeerOwner::Unknown;
    return ours == theirs ? PeerOwner::SameUser : PeerOwner::OtherUser;
}

void makeListenerExclusive(std::uintptr_t nativeSocket) {
    BOOL on = TRUE;
    setsockopt(static_cast<SOCKET>(nativeSocket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
}

}  // namespace platform
