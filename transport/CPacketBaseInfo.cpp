#include "transport/CPacketBaseInfo.h"

CPacketBaseInfo::CPacketBaseInfo() = default;

CPacketBaseInfo::CPacketBaseInfo(const CPacketBaseInfo& other)
    : CModelORM<unsigned int>(other),
      m_processed(other.m_processed.load()),
      m_creationTime(other.m_creationTime),
      m_name(other.m_name),
      m_serverUUID(other.m_serverUUID) {}

CPacketBaseInfo& CPacketBaseInfo::operator=(const CPacketBaseInfo& other) {
    if (this != &other) {
        CModelORM<unsigned int>::operator=(other);
        m_processed.store(other.m_processed.load());
        m_creationTime = other.m_creationTime;
        m_name = other.m_name;
        m_serverUUID = other.m_serverUUID;
    }
    return *this;
}

bool CPacketBaseInfo::captureProcessed() {
    bool expected = false;
    return m_processed.compare_exchange_strong(expected, true);
}

void CPacketBaseInfo::freeProcessed() { m_processed.store(false); }
