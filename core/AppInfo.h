// The program's version number and product variant, process-wide. Both are 0
// until the start sequence sets them.
//
// The update agent must learn both values. It registers itself with
// setAppInfoListener(); from then on every setVersion/setAppType is passed on
// to it. Values set before the listener is registered are replayed to it at
// registration, so the order of start-up calls does not matter. All functions
// are safe to call from any thread.
#pragma once

#include <functional>
#include <string>

#include "core/eQuorinType.h"
#include "core/export.h"

namespace tesel {

UPD_QN_API void setVersion(unsigned version);
UPD_QN_API unsigned getVersion();

// "%d.%02d.%03d" of version / 100000, (version % 100000) / 1000 and
// version % 1000: 101276 reads "1.01.276".
UPD_QN_API std::string getAppVersion();

UPD_QN_API void setAppType(eQuorinType type);
UPD_QN_API eQuorinType getAppType();

// Installs the receiver of version and variant changes (replacing an earlier
// one; empty functions unregister). Each value that has been set already is
// passed to the new receiver at once. The receivers are called in the thread
// of the setter, one call at a time.
UPD_QN_API void setAppInfoListener(std::function<void(unsigned)> onVersion,
                                   std::function<void(eQuorinType)> onType);

}  // namespace tesel
