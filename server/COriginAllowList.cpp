#include "server/COriginAllowList.h"

#include <algorithm>

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

}  // namespace

COriginAllowList::COriginAllowList(const std::vector<std::string>& origins) {
    for (const std::string& o : origins) {
        if (!o.empty()) m_origins.push_back(normalise(o));
    }
}

COriginAllowList COriginAllowList::parse(std::string_view text) {
    std::vector<std::string> origins;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !isBlank(text[i])) ++i;
        if (i > start) origins.emplace_back(text.substr(start, i - start));
    }
    return COriginAllowList(origins);
}

std::string COriginAllowList::normalise(std::string_view origin) {
    std::string out(origin);
    const std::size_t schemeEnd = out.find("://");
    if (schemeEnd == std::string::npos) return out;
    // The host ends at the port's colon or at the end; an IPv6 literal's
    // colons stay inside its brackets.
    std::size_t hostEnd = out.size();
    const std::size_t hostStart = schemeEnd + 3;
    if (hostStart < out.size() && out[hostStart] == '[') {
        const std::size_t close = out.find(']', hostStart);
        if (close != std::string::npos) hostEnd = close + 1;
    } else {
        const std::size_t colon = out.find(':', hostStart);
        if (colon != std::string::npos) hostEnd = colon;
    }
    std::transform(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(hostEnd), out.begin(), lower);
    return out;
}

bool COriginAllowList::isAllowed(std::string_view origin) const {
    const std::string wanted = normalise(origin);
    return std::find(m_origins.begin(), m_origins.end(), wanted) != m_origins.end();
}
