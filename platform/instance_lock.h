// One running program per data folder: the first instance takes a lock that
// lives as long as it does, and a second instance on the same folder finds it
// taken. The lock goes with the process, however it ends (a crash too).
//   Linux:   flock on "<data folder>/pellamo.lock" (closed on exec);
//   Windows: a named mutex in the user's session namespace, named after the
//            data folder (compared without regard to case).
#pragma once

#include <string>

#include "core/export.h"

namespace platform {

class UPD_QN_API InstanceLock {
public:
    enum class Result {
        Acquired,       // this object holds the lock now
        HeldElsewhere,  // another instance (or another lock object) holds it
        Unavailable,    // the lock could not be made (an unwritable folder): nobody can be told apart
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once, without waiting. Taking a lock already held by this object
    // answers Acquired again.
    Result tryAcquire(const std::string& dataFolder);
    // Lets the lock go (nothing happens when none is held).
    void release();
    bool held() const;

private:
    // Linux: the descriptor of the lock file; Windows: the mutex handle.
    long long m_handle = -1;
};

}  // namespace platform
