#include "core/CEventNotify.h"

#include <utility>

namespace tesel {

CEventNotify& CEventNotify::instance() {
    static CEventNotify* const hook = new CEventNotify();
    return *hook;
}

void CEventNotify::registerMessageHandler(Handler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

void CEventNotify::notify(eEventNotify event, unsigned value, long param) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    if (handler) handler(event, value, param);
}

}  // namespace tesel
