// A one-handler event hook: notify() calls the registered handler, if any.
#pragma once

#include <functional>
#include <mutex>

#include "core/export.h"

namespace tesel {

enum eEventNotify : int {
    EVENT_NONE = 0,
};

class UPD_QN_API CEventNotify {
public:
    using Handler = std::function<void(eEventNotify, unsigned, long)>;

    // The process-wide hook.
    static CEventNotify& instance();

    CEventNotify() = default;
    CEventNotify(const CEventNotify&) = delete;
    CEventNotify& operator=(const CEventNotify&) = delete;

    // Stores the handler, replacing an earlier one (an empty one removes it).
    void registerMessageHandler(Handler handler);

    // Calls the handler with the three values if one is stored. The handler
    // runs outside the lock, so it may itself register or notify.
    void notify(eEventNotify event, unsigned value, long param);

private:
    std::mutex m_mutex;
    Handler m_handler;
};

}  // namespace tesel
