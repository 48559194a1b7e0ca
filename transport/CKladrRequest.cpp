#include "transport/CKladrRequest.h"

#include <cstring>

#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "transport/RegistryServices.h"
#include "transport/decodeSymbolTag.h"

namespace {

using qn::http_transport::urlQueryText;

// One cursor over the answer: every read moves forward or fails, and every
// byte it passes is counted.
class Cursor {
public:
    Cursor(const char* text, std::size_t size) : m_text(text), m_size(size) {}

    bool atEnd() const { return m_pos >= m_size; }
    std::size_t position() const { return m_pos; }
    std::size_t steps() const { return m_steps; }
    // The next byte, or false at the end.
    bool next(char& c) {
        if (atEnd()) return false;
        c = m_text[m_pos++];
        ++m_steps;
        return true;
    }
    // Passes JSON white space; the byte behind it is peeked, false at the end.
    bool peekPastBlanks(char& c) {
        while (!atEnd()) {
            c = m_text[m_pos];
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return true;
            ++m_pos;
            ++m_steps;
        }
        return false;
    }
    // Behind an opening quote: the string's content [start, end), the cursor
    // then behind its closing quote. A backslash takes the next byte with it.
    // False for a string that does not end.
    bool string(std::size_t& start, std::size_t& end) {
        start = m_pos;
        char c = 0;
        while (next(c)) {
            if (c == '"') {
                end = m_pos - 1;
                return true;
            }
            if (c == '\\' && !next(c)) return false;
        }
        return false;
    }

private:
    const char* m_text;
    std::size_t m_size;
    std::size_t m_pos = 0;
    std::size_t m_steps = 0;
};

struct Member {
    bool seen = false;  // the key was there, whatever its value
    bool set = false;   // with a string value
    std::size_t start = 0, end = 0;
};

// The members of one open object that make an item.
struct OpenObject {
    Member name, type, id;
    bool emitted = false;
    bool complete() const { return name.set && type.set && id.set; }
};

constexpr std::size_t kMaxDepth = 64;

bool keyIs(const char* text, std::size_t start, std::size_t end, const char* key) {
    const std::size_t length = std::strlen(key);
    return end - start == length && std::memcmp(text + start, key, length) == 0;
}

}  // namespace

std::vector<KladrItemSpan> readKladrItems(const char* text, std::size_t size, std::size_t maxItems,
                                          std::size_t* steps) {
    std::vector<KladrItemSpan> items;
    if (text == nullptr) size = 0;
    // The text ends at its first zero byte, as the service's C strings do.
    if (const void* zero = size != 0 ? std::memchr(text, 0, size) : nullptr)
        size = static_cast<std::size_t>(static_cast<const char*>(zero) - text);
    Cursor in(text, size);
    // The outermost level counts as an object too, so bare members still read.
    std::vector<OpenObject> open(1);
    char c = 0;
    while (items.size() < maxItems && in.next(c)) {
        if (c == '{') {
            if (open.size() > kMaxDepth) break;
            open.emplace_back();
        } else if (c == '}') {
            if (open.size() == 1) continue;
            // An item with a name but without the rest ends the reading.
            if (open.back().name.seen && !open.back().complete()) break;
            open.pop_back();
        } else if (c == '"') {
            std::size_t keyStart = 0, keyEnd = 0;
            if (!in.string(keyStart, keyEnd)) break;
            char after = 0;
            if (!in.peekPastBlanks(after) || after != ':') continue;  // a value, not a key
            in.next(after);
            OpenObject& object = open.back();
            Member* member = keyIs(text, keyStart, keyEnd, "name")        ? &object.name
                             : keyIs(text, keyStart, keyEnd, "typeShort") ? &object.type
                             : keyIs(text, keyStart, keyEnd, "id")        ? &object.id
                                                                           : nullptr;
            if (member == nullptr || member->seen) continue;
            member->seen = true;
            if (!in.peekPastBlanks(after) || after != '"') continue;  // not a string: left to the loop
            in.next(after);
            if (!in.string(member->start, member->end)) break;
            member->set = true;
            if (object.complete() && !object.emitted) {
                object.emitted = true;
                items.push_back({object.name.start, object.name.end, object.type.start, object.type.end,
                                 object.id.start, object.id.end});
            }
        }
    }
    if (steps != nullptr) *steps = in.steps();
    return items;
}

CKladrRequest::CKladrRequest(const std::string& query, KLADR_CONT_TYPE type, const std::string& parentId,
                             const std::string& token)
    : m_type(type) {
    std::string url = std::string(kPath) + "query=" + urlQueryText(tesel::convertToUTF8(query)) +
                      "&contentType=" + contentTypeWord(type);
    if (type == KLADR_CITY && !parentId.empty()) url += "&regionId=" + urlQueryText(parentId);
    if (type == KLADR_STREET && !parentId.empty()) url += "&cityId=" + urlQueryText(parentId);
    url += "&withParent=0&limit=" + std::to_string(kItemLimit) + "&token=" + urlQueryText(token);
    setUrl(std::move(url));
    // Capped while it arrives: a longer answer ends the transfer (21).
    setMaxResponseSize(kMaxAnswerSize);
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
    const std::size_t size = answer.size() < kMaxAnswerSize ? answer.size() : kMaxAnswerSize;
    // One more than asked for: the service's notice may come first.
    const std::vector<KladrItemSpan> spans = readKladrItems(answer.data(), size, kItemLimit + 1);
    std::vector<kladrItem> items;
    for (const KladrItemSpan& span : spans) {
        const std::string name = qn::http_transport::decodeSymbolTag(&answer, static_cast<unsigned>(span.nameStart),
                                                                     static_cast<unsigned>(span.nameEnd));
        const std::string typeShort = qn::http_transport::decodeSymbolTag(
            &answer, static_cast<unsigned>(span.typeStart), static_cast<unsigned>(span.typeEnd));
        kladrItem item;
        item.id = answer.substr(span.idStart, span.idEnd - span.idStart);
        item.name = typeShort + ". " + name;
        if (type == KLADR_REGION) item.name = item.id.substr(0, 2) + " " + item.name;
        const bool notice = &span == &spans.front() && item.name.find(kServiceNotice) != std::string::npos;
        if (!notice) items.push_back(std::move(item));
    }
    if (items.size() > kItemLimit) items.resize(kItemLimit);
    return items;
}

int getKladrInfo(std::string& query, KLADR_CONT_TYPE type, std::string& parentId, std::vector<kladrItem>& items) {
    if (type != KLADR_REGION && type != KLADR_CITY && type != KLADR_STREET) return ERR_INTERNAL;
    CKladrRequest request(query, type, parentId, qn::http_transport::getClassifierToken());
    if (const int sent = qn::http_transport::getClassifierServer().send(request)) return sent;
    return request.decode(items);
}
