// Requested lifetime of a certificate, carried by the client card: a number
// of months (what the web page sets) or an end date (only in cards that come
// from the CA).
#pragma once

#include <string>

#include "core/CBlob.h"
#include "platform/win32.h"

namespace tesel {

class CertValidityPeriod {
public:
    enum ePeriodType : int {
        PERIOD_MONTHS = 1,
        PERIOD_END_DATE = 2,
    };

    static constexpr int kMaxMonths = 35;

    // A new period is the default of every new card: 12 months.
    CertValidityPeriod() { setDefaultCertPeriod(); }

    // Months as decimal text. Returns 1 and changes nothing when the value
    // is greater than 35, otherwise stores it and returns 0.
    int setCertPeriod(const std::string& months);
    void setDefaultCertPeriod();
    void setCertEndDate(const SYSTEMTIME& end);

    int getType() const { return m_type; }
    // The months for a period in months, else 1.
    int getPeriod(std::string& months) const;
    // The end date for a period with an end date, else 1.
    int getPeriod(SYSTEMTIME& end) const;

    // The record: u32 kind, then the months as a string (kind 1) or the end
    // date as a time (kind 2).
    CBlob serialize() const;
    // Size of that record, and writing it at out's cursor (for callers that
    // embed it in a larger, pre-sized record).
    unsigned recordSize() const;
    void serializeTo(CBlob& out) const;

    // Reads a record from record's cursor. 1 for a kind other than 1 and 2,
    // 46 for a record whose bytes end early; the period is changed only on
    // success (0).
    int deserialize(CBlob* record);

    bool operator==(const CertValidityPeriod& other) const;

private:
    int m_type = PERIOD_MONTHS;
    std::string m_months;
    SYSTEMTIME m_endDate{};
};

}  // namespace tesel
