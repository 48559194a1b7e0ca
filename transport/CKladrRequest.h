// The address classifier lookup: a GET of "/api.php?query=...&contentType=..."
// on the classifier connection. The answer is JSON; its items (name, short
// type, id) are picked out by a plain text search.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "transport/common/CHTTPGetRequest.h"

enum KLADR_CONT_TYPE : unsigned {
    KLADR_REGION = 0,
    KLADR_CITY = 1,
    KLADR_STREET = 2,
};

struct kladrItem {
    std::string name;  // "<short type>. <name>", for a region preceded by the id's first two characters and a blank
    std::string id;
};

class CKladrRequest : public CHTTPGetRequest {
public:
    static constexpr const char* kPath = "/api.php?";
    // The service puts an item of its own first whose name holds this text.
    static constexpr const char* kServiceNotice = "kladr-api";

    // query in the program's 8-bit text (sent in UTF-8); parentId narrows a
    // city to its region and a street to its city; token is the service's
    // access token.
    CKladrRequest(const std::string& query, KLADR_CONT_TYPE type, const std::string& parentId,
                  const std::string& token);

    KLADR_CONT_TYPE getContentType() const { return m_type; }

    // Appends the items of the received answer, without the service's own
    // notice item. Returns 0.
    int decode(std::vector<kladrItem>& items) const;

    // The items of an answer text (taken up to its first zero byte), the
    // notice item dropped.
    static std::vector<kladrItem> scanItems(const std::string& answer, KLADR_CONT_TYPE type);

    // "region", "city", "street"; "" for another value.
    static const char* contentTypeWord(KLADR_CONT_TYPE type);

private:
    KLADR_CONT_TYPE m_type;
};

// Sends the lookup on the classifier connection with the configured token and
// appends the items found (decode). Transport errors (18, 21) are returned;
// 1 for a type outside the three.
int getKladrInfo(std::string& query, KLADR_CONT_TYPE type, std::string& parentId, std::vector<kladrItem>& items);
