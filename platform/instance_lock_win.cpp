#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/instance_lock.h"
#include "platform/win32.h"

namespace platform {

namespace {

// "Local\Pellamo-<16 hex digits>": the session's namespace, one name per
// data folder. Windows paths ignore case, so the name does too (ASCII).
std::wstring mutexName(const std::string& dataFolder) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (char c : dataFolder) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 'a' + 'A');
        if (b == '/') b = '\\';
        hash = (hash ^ b) * 1099511628211ull;
    }
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\Pellamo-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

}  // namespace

InstanceLock::~InstanceLock() { release(); }

InstanceLock::Result InstanceLock::tryAcquire(const std::string& dataFolder) {
    if (held()) return Result::Acquired;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName(dataFolder).c_str());
    if (mutex == nullptr) {
        // Access denied: a mutex of that name exists in a context we may not open.
        return GetLastError() == ERROR_ACCESS_DENIED ? Result::HeldElsewhere : Result::Unavailable;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return Result::HeldElsewhere;
    }
    m_handle = static_cast<long long>(reinterpret_cast<std::intptr_t>(mutex));
    return Result::Acquired;
}

void InstanceLock::release() {
    if (!held()) return;
    CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(m_handle)));
    m_handle = -1;
}

bool InstanceLock::held() const { return m_handle != -1; }

}  // namespace platform
