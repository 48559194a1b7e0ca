// The client-side record of one exchange with the CA: when it was made,
// its name, the UUID under which the CA keeps it and its answer, and a flag
// that one worker at a time can take while it processes the record.
#pragma once

#include <atomic>
#include <string>

#include "platform/win32.h"
#include "transport/CModelORM.h"

class CPacketBaseInfo : public CModelORM<unsigned int> {
public:
    CPacketBaseInfo();
    CPacketBaseInfo(const CPacketBaseInfo& other);
    CPacketBaseInfo& operator=(const CPacketBaseInfo& other);

    // True (and the flag set) when the flag was clear; false when another
    // worker holds it. Atomic, so two threads never both get true.
    bool captureProcessed();
    void freeProcessed();
    bool isProcessed() const { return m_processed.load(); }

    const SYSTEMTIME& getCreationTime() const { return m_creationTime; }
    void setCreationTime(const SYSTEMTIME& time) { m_creationTime = time; }
    const std::string& getName() const { return m_name; }
    void setName(const std::string& name) { m_name = name; }
    const std::string& getServerUUID() const { return m_serverUUID; }
    void setServerUUID(const std::string& uuid) { m_serverUUID = uuid; }

private:
    std::atomic<bool> m_processed{false};
    SYSTEMTIME m_creationTime{};
    std::string m_name;
    std::string m_serverUUID;
};
