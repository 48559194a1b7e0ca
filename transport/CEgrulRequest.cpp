#include "transport/CEgrulRequest.h"

#include <cstring>

#include "transport/RegistryServices.h"
#include "transport/decodeSymbolTag.h"

const char* const CEgrulRequest::kEgrulKeys[kValueCount] = {
    "[{\"kpp\": ",
    "\"dom\": ",
    "\"region\": {\"name\": ",
    "\"kvart\": ",
    "\"gorod\": {\"name\": ",
    "\"punkt\": {\"name\": ",
    "\"street\": {\"name\": ",
    "\"korp\": ",
    "\"dolgnfl\": [{\"fl\": {\"fam_fl\": ",
    "\"otch_fl\": ",
    "\"dolgn\": ",
    "\"nam_fl\": ",
    "\"ogrn\": ",
    "\"ul_name\": {\"names\": ",
    "\"namep\": ",
};

namespace {

// The INN inside the JSON of the URL: quote, backslash and control bytes are
// escaped so that no INN can end the string early, then the text is made
// safe for the query. An INN of digits goes in unchanged.
std::string innInJson(const std::string& inn) {
    static const char digits[] = "0123456789abcdef";
    std::string json;
    for (char c : inn) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json.push_back('\\');
            json.push_back(c);
        } else if (u < 0x20) {
            json += "\\u00";
            json.push_back(digits[u >> 4]);
            json.push_back(digits[u & 15]);
        } else {
            json.push_back(c);
        }
    }
    return qn::http_transport::urlQueryText(json);
}

// Whether the quote at text[at] is escaped: an odd run of backslashes
// before it.
bool isEscaped(const std::string& text, std::size_t at) {
    std::size_t backslashes = 0;
    while (at > backslashes && text[at - 1 - backslashes] == '\\') ++backslashes;
    return backslashes % 2 == 1;
}

}  // namespace

CEgrulRequest::CEgrulRequest(const std::string& inn, tesel::eTypeSubject type)
    : CHTTPGetRequest(std::string(kPath) + "{\"inn\":\"" + innInJson(inn) + "\"}"), m_type(type) {}

int CEgrulRequest::decode(std::vector<std::string>& values) const {
    if (m_type != tesel::TS_LEGAL_ENTITY) return 0;
    const auto* data = reinterpret_cast<const char*>(m_response.getData());
    const std::string answer = data == nullptr ? std::string() : std::string(data, m_response.getSize());
    for (std::string& value : scanValues(answer)) values.push_back(std::move(value));
    return 0;
}

std::vector<std::string> CEgrulRequest::scanValues(const std::string& answer) {
    const std::string text = answer.substr(0, std::strlen(answer.c_str()));
    std::vector<std::string> values;
    values.reserve(kValueCount);
    std::size_t position = 0;
    for (const char* key : kEgrulKeys) values.push_back(getAttribute(text, key, position));
    return values;
}

std::string CEgrulRequest::getAttribute(const std::string& text, const std::string& key, std::size_t& position) {
    std::size_t found = text.find(key, position);
    if (found == std::string::npos) found = text.find(key);
    if (found == std::string::npos) return {};
    const std::size_t behindKey = found + key.size();
    if (text.compare(behindKey, 4, "null") == 0) return {};

    const std::size_t start = behindKey + 1;  // behind the opening quote
    if (start > text.size()) return {};
    position = start;
    for (std::size_t quote = text.find('"', start); quote != std::string::npos; quote = text.find('"', quote + 1)) {
        if (quote + 1 >= text.size()) break;
        const char next = text[quote + 1];
        if ((next == ',' || next == '}') && !isEscaped(text, quote))
            return qn::http_transport::decodeSymbolTag(&text, static_cast<unsigned>(start),
                                                       static_cast<unsigned>(quote));
    }
    return {};
}

int CEgrulRequest::shortRegionNameFromEGRUL(std::string& name) {
    const std::size_t first = name.find(' ');
    if (first == std::string::npos) return 0;
    const std::size_t second = name.find(' ', first + 1);
    name = name.substr((second == std::string::npos ? first : second) + 1);
    return 0;
}

int getEgrulInfo(std::string inn, tesel::eTypeSubject type, std::vector<std::string>& values) {
    CEgrulRequest request(inn, type);
    if (const int sent = qn::http_transport::getRegistryServer().send(request)) return sent;
    return request.decode(values);
}
