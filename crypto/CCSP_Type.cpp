#include "crypto/CCSP_Type.h"

#include "core/TextConvert.h"

namespace qn::crypto {

namespace {

struct KindName {
    eSupportCP kind;
    const char* utf8;  // kept in the ANSI code page once converted
};

constexpr KindName kNames[] = {
    {CP_NONE, "Не определён"},
    {CP_JACARTA_GOST, "JaCarta GOST"},
    {CP_JACARTA_GOST2012_256, "JaCarta GOST2012/256"},
    {CP_JACARTA_GOST2012_512, "JaCarta GOST2012/512"},
    {CP_RUTOKEN_GOST, "RuToken GOST"},
    {CP_RUTOKEN_GOST2012_256, "RuToken GOST2012/256"},
    {CP_RUTOKEN_GOST2012_512, "RuToken GOST2012/512"},
    {CP_VIPNET, "ViPNet CSP"},
    {CP_VIPNET_GOST2012_256, "ViPNet CSP GOST2012/256"},
    {CP_VIPNET_GOST2012_512, "ViPNet CSP GOST2012/512"},
    {CP_CRYPTOPRO, "\"Крипто ПРО\" CSP"},
    {CP_CRYPTOPRO_GOST2012_256, "\"Крипто ПРО\" CSP GOST2012/256"},
    {CP_CRYPTOPRO_GOST2012_512, "\"Крипто ПРО\" CSP GOST2012/512"},
};

}  // namespace

CCSP_Type& CCSP_Type::instance() {
    // Built once, thread-safely, and then only read.
    static CCSP_Type* registry = [] {
        auto* r = new CCSP_Type();
        r->init();
        return r;
    }();
    return *registry;
}

void CCSP_Type::init() {
    if (!m_names.empty()) {
        return;
    }
    for (const KindName& k : kNames) {
        m_names.emplace(tesel::convertFromUTF8(k.utf8), k.kind);
    }
}

std::string CCSP_Type::getCSPString(eSupportCP kind) const {
    for (const auto& [name, value] : m_names) {
        if (value == kind) {
            return name;
        }
    }
    return m_names.empty() ? std::string() : m_names.begin()->first;
}

eSupportCP CCSP_Type::getCSPType(const std::string& name) const {
    auto it = m_names.find(name);
    return it == m_names.end() ? CP_NONE : it->second;
}

}  // namespace qn::crypto
