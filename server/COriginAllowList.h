// Which web pages may open the local service: the origins (scheme://host[:port])
// a browser names in the Origin header of its WebSocket handshake. Scheme and
// host compare case-insensitively, the rest exactly; "null" (a sandboxed or
// local-file page) is allowed only when it is listed itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class COriginAllowList {
public:
    COriginAllowList() = default;
    explicit COriginAllowList(const std::vector<std::string>& origins);

    // Origins separated by blanks (spaces, tabs, line breaks).
    static COriginAllowList parse(std::string_view text);

    bool isAllowed(std::string_view origin) const;
    const std::vector<std::string>& origins() const { return m_origins; }

    // Scheme and host lower-cased; anything without "://" is kept as it is.
    static std::string normalise(std::string_view origin);

private:
    std::vector<std::string> m_origins;  // normalised
};
