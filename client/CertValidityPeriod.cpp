#include "client/CertValidityPeriod.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "errors/eErrCodes.h"

namespace tesel {

int CertValidityPeriod::setCertPeriod(const std::string& months) {
    // The text's integer value as the C library reads it (leading blanks and
    // sign allowed, stops at the first non-digit); a value too large for a
    // long is certainly more than the maximum.
    errno = 0;
    const long value = std::strtol(months.c_str(), nullptr, 10);
    if (errno == ERANGE || value > kMaxMonths) return 1;
    m_type = PERIOD_MONTHS;
    m_months = months;
    return 0;
}

void CertValidityPeriod::setDefaultCertPeriod() {
    m_type = PERIOD_MONTHS;
    m_months = "12";
}

void CertValidityPeriod::setCertEndDate(const SYSTEMTIME& end) {
    m_type = PERIOD_END_DATE;
    m_endDate = end;
}

int CertValidityPeriod::getPeriod(std::string& months) const {
    if (m_type != PERIOD_MONTHS) return 1;
    months = m_months;
    return 0;
}

int CertValidityPeriod::getPeriod(SYSTEMTIME& end) const {
    if (m_type != PERIOD_END_DATE) return 1;
    end = m_endDate;
    return 0;
}

unsigned CertValidityPeriod::recordSize() const {
    switch (m_type) {
        case PERIOD_MONTHS: return CBlob::sizeOfInt() + CBlob::sizeOf(m_months);
        case PERIOD_END_DATE: return CBlob::sizeOfInt() + CBlob::sizeOfSystemTime();
        default: return 0;  // no record for an unknown kind
    }
}

void CertValidityPeriod::serializeTo(CBlob& out) const {
    if (m_type == PERIOD_MONTHS) {
        out.serialize(static_cast<unsigned>(m_type));
        out.serialize(m_months);
    } else if (m_type == PERIOD_END_DATE) {
        out.serialize(static_cast<unsigned>(m_type));
        out.serialize(&m_endDate);
    }
}

CBlob CertValidityPeriod::serialize() const {
    CBlob record(recordSize());
    serializeTo(record);
    return record;
}

int CertValidityPeriod::deserialize(CBlob* record) {
    if (record == nullptr) return ERR_CARD_DAMAGED;
    unsigned type = 0;
    record->deserialize(type);
    CertValidityPeriod read;
    read.m_type = static_cast<int>(type);
    if (type == PERIOD_MONTHS) record->deserialize(&read.m_months);
    else if (type == PERIOD_END_DATE) record->deserialize(&read.m_endDate);
    if (record->isMalformed()) return ERR_CARD_DAMAGED;
    if (type != PERIOD_MONTHS && type != PERIOD_END_DATE) return 1;
    *this = read;
    return 0;
}

bool CertValidityPeriod::operator==(const CertValidityPeriod& other) const {
    if (m_type != other.m_type) return false;
    if (m_type == PERIOD_MONTHS) return m_months == other.m_months;
    if (m_type == PERIOD_END_DATE)
        return std::memcmp(&m_endDate, &other.m_endDate, sizeof(SYSTEMTIME)) == 0;
    return true;
}

}  // namespace tesel
