#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/instance_lock.h"

namespace platform {

InstanceLock::~InstanceLock() { release(); }

InstanceLock::Result InstanceLock::tryAcquire(const std::string& dataFolder) {
    if (held()) return Result::Acquired;
    const std::string path = dataFolder + "/pellamo.lock";
    // O_NOFOLLOW: a link planted in the folder never makes us open another file.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return Result::Unavailable;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        return error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unavailable;
    }
    // The holder's process id, for a person who wonders who holds it.
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = pwrite(fd, pid.data(), pid.size(), 0);
    }
    m_handle = fd;
    return Result::Acquired;
}

void InstanceLock::release() {
    if (!held()) return;
    close(static_cast<int>(m_handle));
    m_handle = -1;
}

bool InstanceLock::held() const { return m_handle >= 0; }

}  // namespace platform
