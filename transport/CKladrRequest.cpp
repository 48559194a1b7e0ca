#include "transport/CKladrRequest.h"

#include <cstring>

#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "transport/RegistryServices.h"
#include "transport/decodeSymbolTag.h"

namespace {

using qn::http_transport::urlQueryText;

// The first quote at or behind from that no backslash escapes.
std::size_t closingQuote(const std::string& text, std::size_t from) {
    for (std::size_t at = text.find('"', from); at != std::string::npos; at = text.find('"', at + 1)) {
        std::size_t backslashes = 0;
        while (at > from + backslashes && text[at - 1 - backslashes] == '\\') ++backslashes;
        if (backslashes % 2 == 0) return at;
    }
    return std::string::npos;
}

// A quoted value behind the key found at or after from: it starts skip
// characters behind the match and ends at its closing quote. False when the
// key or the quote is missing.
bool findValue(const std::string& text, const char* key, std::size_t skip, std::size_t from, std::size_t& start,
               std::size_t& end) {
    const std::size_t match = text.find(key, from);
    if (match == std::string::npos || match + skip > text.size()) return false;
    start = match + skip;
    end = closingQuote(text, start);
    return end != std::string::npos;
}

}  // namespace

CKladrRequest::CKladrRequest(const std::string& query, KLADR_CONT_TYPE type, const std::string& parentId,
                             const std::string& token)
    : m_type(type) {
    std::string url = std::string(kPath) + "query=" + urlQueryText(tesel::convertToUTF8(query)) +
                      "&contentType=" + contentTypeWord(type);
    if (type == KLADR_CITY && !parentId.empty()) url += "&regionId=" + urlQueryText(parentId);
    if (type == KLADR_STREET && !parentId.empty()) url += "&cityId=" + urlQueryText(parentId);
    url += "&withParent=0&limit=8&token=" + urlQueryText(token);
    setUrl(std::move(url));
}

const char* CKladrRequest::contentTypeWord(KLADR_CONT_TYPE type) {
    switch (type) {
        case KLADR_REGION: return "region";
        case KLADR_CITY: return "city";
        case KLADR_STREET: return "street";
    }
    return "";
}

int CKladrRequest::decode(std::vector<kladrItem>& items) const {
    const auto* data = reinterpret_cast<const char*>(m_response.getData());
    const std::string answer = data == nullptr ? std::string() : std::string(data, m_response.getSize());
    for (kladrItem& item : scanItems(answer, m_type)) items.push_back(std::move(item));
    return 0;
}

std::vector<kladrItem> CKladrRequest::scanItems(const std::string& answer, KLADR_CONT_TYPE type) {
    const std::string text = answer.substr(0, std::strlen(answer.c_str()));
    std::vector<kladrItem> items;
    std::size_t namePosition = 0;
    std::size_t idPosition = 0;
    for (;;) {
        std::size_t nameStart = 0, nameEnd = 0, typeStart = 0, typeEnd = 0, idStart = 0, idEnd = 0;
        if (!findValue(text, "\"name\":", 8, namePosition, nameStart, nameEnd)) break;
        namePosition = nameEnd;
        if (!findValue(text, "\"typeShort\":", 13, namePosition, typeStart, typeEnd)) break;
        if (!findValue(text, "\"id\":", 6, idPosition, idStart, idEnd)) break;
        idPosition = idStart;

        const std::string name = qn::http_transport::decodeSymbolTag(&text, static_cast<unsigned>(nameStart),
                                                                     static_cast<unsigned>(nameEnd));
        const std::string typeShort = qn::http_transport::decodeSymbolTag(&text, static_cast<unsigned>(typeStart),
                                                                          static_cast<unsigned>(typeEnd));
        kladrItem item;
        item.id = text.substr(idStart, idEnd - idStart);
        item.name = typeShort + ". " + name;
        if (type == KLADR_REGION) item.name = item.id.substr(0, 2) + " " + item.name;
        items.push_back(std::move(item));
    }
    if (!items.empty() && items.front().name.find(kServiceNotice) != std::string::npos) items.erase(items.begin());
    return items;
}

int getKladrInfo(std::string& query, KLADR_CONT_TYPE type, std::string& parentId, std::vector<kladrItem>& items) {
    if (type != KLADR_REGION && type != KLADR_CITY && type != KLADR_STREET) return ERR_INTERNAL;
    CKladrRequest request(query, type, parentId, qn::http_transport::getClassifierToken());
    if (const int sent = qn::http_transport::getClassifierServer().send(request)) return sent;
    return request.decode(items);
}
