// The address classifier lookup: a GET of "/api.php?query=...&contentType=..."
// on the classifier connection. The answer is JSON; its items (name, short
// type, id) are read in one forward pass over at most 1 MiB of it.
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

// Where the values of one item lie in the answer text: [start, end) of the
// name, the short type and the id, each between its quotes (still escaped).
struct KladrItemSpan {
    std::size_t nameStart = 0, nameEnd = 0;
    std::size_t typeStart = 0, typeEnd = 0;
    std::size_t idStart = 0, idEnd = 0;
};

// Reads the items of a classifier answer front to back, each byte once: an
// item is a JSON object holding the string members "name", "typeShort" and
// "id" (the first of each counts; members are found at any nesting depth,
// outside strings only). The reading ends at the first zero byte, at an
// unterminated string, at objects nested deeper than 64, after maxItems
// items, or at the first object that has a "name" but not all three string
// members. steps, when given, receives the bytes the reader looked at.
std::vector<KladrItemSpan> readKladrItems(const char* text, std::size_t size, std::size_t maxItems,
                                          std::size_t* steps = nullptr);

struct kladrItem {
    std::string name;  // "<short type>. <name>", for a region preceded by the id's first two characters and a blank
    std::string id;
};

class CKladrRequest : public CHTTPGetRequest {
public:
    static constexpr const char* kPath = "/api.php?";
    // The service puts an item of its own first whose name holds this text.
    static constexpr const char* kServiceNotice = "kladr-api";
    // The items asked for, and the most of the answer that is read.
    static constexpr unsigned kItemLimit = 8;
    static constexpr unsigned kMaxAnswerSize = 1u << 20;

    // query in the program's 8-bit text (sent in UTF-8); parentId narrows a
    // city to its region and a street to its city; token is the service's
    // access token.
    CKladrRequest(const std::string& query, KLADR_CONT_TYPE type, const std::string& parentId,
                  const std::string& token);

    KLADR_CONT_TYPE getContentType() const { return m_type; }

    // Appends the items of the received answer (scanItems). Returns 0.
    int decode(std::vector<kladrItem>& items) const;

    // The items of an answer text (its first kMaxAnswerSize bytes, up to its
    // first zero byte), the notice item dropped when it comes first, at most
    // kItemLimit of them.
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
