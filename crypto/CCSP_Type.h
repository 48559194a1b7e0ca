// Registry of the provider kinds' display names (ANSI code page), ordered
// byte-wise by name.
#pragma once

#include <map>
#include <string>

#include "crypto/eSupportCP.h"

namespace qn::crypto {

class CCSP_Type {
public:
    // The process-wide registry, filled on first use; never destroyed.
    static CCSP_Type& instance();

    // Fills the registry with the thirteen kinds; does nothing when filled.
    void init();
    // The kind's display name; for a kind without a name, the first name in
    // byte order ("\"Крипто ПРО\" CSP").
    std::string getCSPString(eSupportCP kind) const;
    // The kind whose display name equals name exactly, CP_NONE otherwise.
    eSupportCP getCSPType(const std::string& name) const;

private:
    CCSP_Type() = default;
    std::map<std::string, eSupportCP> m_names;
};

}  // namespace qn::crypto
