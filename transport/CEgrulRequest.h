// The legal-entity register lookup by INN: a GET of
// "/api/abonents?where={"inn":"<INN>"}" on the register connection. The
// answer is JSON; fifteen values are picked out of it by a plain text search
// for their keys (see getAttribute), in the order of kEgrulKeys.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "pki/eTypeSubject.h"
#include "transport/common/CHTTPGetRequest.h"

class CEgrulRequest : public CHTTPGetRequest {
public:
    static constexpr const char* kPath = "/api/abonents?where=";
    static constexpr unsigned kValueCount = 15;
    // The keys searched for, each with the blank behind its colon: KPP,
    // house, region, flat, city, settlement, street, building, the head's
    // surname, patronymic, position and first name, OGRN, full name, short
    // name.
    static const char* const kEgrulKeys[kValueCount];
    // Index of the region among the values.
    static constexpr unsigned kRegionValue = 2;

    CEgrulRequest(const std::string& inn, tesel::eTypeSubject type);

    tesel::eTypeSubject getTypeSubject() const { return m_type; }

    // Appends the values of the received answer to values: the fifteen
    // values for a legal entity, nothing for any other kind. Returns 0.
    int decode(std::vector<std::string>& values) const;

    // The fifteen values of an answer text, in key order (the text is taken
    // up to its first zero byte).
    static std::vector<std::string> scanValues(const std::string& answer);

    // One value: the key is looked for from position, then from the start.
    // Not found, or followed by null: "" and position unchanged. Otherwise
    // the value starts behind the opening quote (position moves there) and
    // ends at the first unescaped quote followed by ',' or '}'; no such
    // quote: "". The value is decoded with decodeSymbolTag.
    static std::string getAttribute(const std::string& text, const std::string& key, std::size_t& position);

    // A region name as the classifier knows it: everything after the second
    // blank, else after the first, else the whole name. Returns 0.
    static int shortRegionNameFromEGRUL(std::string& name);

private:
    tesel::eTypeSubject m_type;
};

// Sends the lookup for inn on the register connection and appends the
// values of the answer (decode). Transport errors (18, 21) are returned as
// they are.
int getEgrulInfo(std::string inn, tesel::eTypeSubject type, std::vector<std::string>& values);
