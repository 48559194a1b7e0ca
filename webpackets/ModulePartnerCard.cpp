#include "webpackets/ModulePartnerCard.h"

#include "errors/eErrCodes.h"

ModulePartnerCard& ModulePartnerCard::instance() {
    // Never destroyed: service threads may still be using a card at exit.
    static ModulePartnerCard* const module = new ModulePartnerCard();
    return *module;
}

int ModulePartnerCard::createPartnerCard(const std::string& key) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_cards.find(key) == m_cards.end()) m_cards.emplace(key, std::make_shared<CPacketClientCard>());
    return ERR_OK;
}

std::shared_ptr<CPacketClientCard> ModulePartnerCard::getPartnerCard(const std::string& key) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_cards.find(key);
    return it == m_cards.end() ? nullptr : it->second;
}

bool ModulePartnerCard::withPartnerCard(const std::string& key, const std::function<void(CPacketClientCard&)>& use) {
    const std::shared_ptr<CPacketClientCard> card = getPartnerCard(key);
    if (!card) return false;
    std::lock_guard<std::mutex> lock(m_cardMutex);
    use(*card);
    return true;
}
